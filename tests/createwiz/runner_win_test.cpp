// The runner's main-thread half under Wine: the worker is replaced through the
// thread-start seam by one that plays the wizard's outcome into the shared record.
#include "createwiz/create_result.h"
#include "createwiz/runner_win.h"

#include "support/text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace quorvel {
namespace {

// A new object whose attributes are single values, or read failures.
class FakeObject final : public IADs {
 public:
  std::map<std::wstring, std::wstring> values;
  std::map<std::wstring, HRESULT> failures;
  std::vector<std::wstring> reads;
  LONG refs = 1;

  HRESULT WINAPI QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IADs) {
      *out = this;
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG WINAPI AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG WINAPI Release() override { return static_cast<ULONG>(--refs); }
  HRESULT WINAPI GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT WINAPI GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT WINAPI GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT WINAPI Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT WINAPI get_Name(BSTR*) override { return E_NOTIMPL; }
  HRESULT WINAPI get_Class(BSTR*) override { return E_NOTIMPL; }
  HRESULT WINAPI get_GUID(BSTR*) override { return E_NOTIMPL; }
  HRESULT WINAPI get_ADsPath(BSTR*) override { return E_NOTIMPL; }
  HRESULT WINAPI get_Parent(BSTR*) override { return E_NOTIMPL; }
  HRESULT WINAPI get_Schema(BSTR*) override { return E_NOTIMPL; }
  HRESULT WINAPI GetInfo() override { return E_NOTIMPL; }
  HRESULT WINAPI SetInfo() override { return E_NOTIMPL; }
  HRESULT WINAPI Get(BSTR, VARIANT*) override { return E_NOTIMPL; }
  HRESULT WINAPI Put(BSTR, VARIANT) override { return E_NOTIMPL; }
  HRESULT WINAPI PutEx(LONG, BSTR, VARIANT) override { return E_NOTIMPL; }
  HRESULT WINAPI GetInfoEx(VARIANT, LONG) override { return E_NOTIMPL; }
  HRESULT WINAPI GetEx(BSTR name, VARIANT* out) override {
    reads.emplace_back(name);
    if (const auto f = failures.find(name); f != failures.end()) return f->second;
    const auto v = values.find(name);
    if (v == values.end()) return E_FAIL;
    // GetEx gives every value as an array, one element for a single value.
    SAFEARRAY* array = ::SafeArrayCreateVector(VT_VARIANT, 0, 1);
    VARIANT element;
    ::VariantInit(&element);
    V_VT(&element) = VT_BSTR;
    V_BSTR(&element) = ::SysAllocString(v->second.c_str());
    LONG index = 0;
    ::SafeArrayPutElement(array, &index, &element);
    ::VariantClear(&element);
    V_VT(out) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(out) = array;
    return S_OK;
  }
};

// What the played worker stores.
struct Outcome {
  HRESULT result = S_OK;
  FakeObject* object = nullptr;
};
Outcome g_outcome;
CreateObjWizardParams g_seen;

DWORD WINAPI PlayedWorker(void* parameter) {
  auto& params = *static_cast<CreateObjWizardParams*>(parameter);
  if (g_outcome.object) {
    g_outcome.object->AddRef();
    *params.newObjectOut = g_outcome.object;
  }
  params.result = g_outcome.result;
  g_seen.objectType = params.objectType;
  g_seen.containerPath = params.containerPath;
  g_seen.thirdArgument = params.thirdArgument;
  return 0;
}

HANDLE StartPlayedWorker(LPTHREAD_START_ROUTINE, void* parameter) {
  return ::CreateThread(nullptr, 0, PlayedWorker, parameter, 0, nullptr);
}

DWORD g_startError = 0;
HANDLE FailToStart(LPTHREAD_START_ROUTINE, void*) {
  ::SetLastError(g_startError);
  return nullptr;
}

UINT Format() {
  return ::RegisterClipboardFormatW(reinterpret_cast<const wchar_t*>(kCreateObjClipFormat.data()));
}

// Puts a marker text on the clipboard under the record's format and under text.
void SeedClipboard() {
  ASSERT_TRUE(::OpenClipboard(nullptr));
  ::EmptyClipboard();
  for (const UINT format : {Format(), static_cast<UINT>(CF_UNICODETEXT)}) {
    HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, sizeof(L"seed"));
    std::memcpy(::GlobalLock(block), L"seed", sizeof(L"seed"));
    ::GlobalUnlock(block);
    ::SetClipboardData(format, block);
  }
  ::CloseClipboard();
}

std::vector<std::uint8_t> ClipboardBlock(UINT format) {
  std::vector<std::uint8_t> bytes;
  if (!::OpenClipboard(nullptr)) return bytes;
  if (HANDLE data = ::GetClipboardData(format)) {
    const auto* p = static_cast<const std::uint8_t*>(::GlobalLock(data));
    bytes.assign(p, p + ::GlobalSize(data));
    ::GlobalUnlock(data);
  }
  ::CloseClipboard();
  return bytes;
}

std::u16string Field(const std::vector<std::uint8_t>& bytes, std::size_t offset, std::size_t units) {
  std::u16string text;
  for (std::size_t i = 0; i < units && offset + 2 * i + 1 < bytes.size(); ++i) {
    const auto unit = static_cast<char16_t>(bytes[offset + 2 * i] | (bytes[offset + 2 * i + 1] << 8));
    if (unit == 0) break;
    text += unit;
  }
  return text;
}

class RunnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    object_.values = {{L"distinguishedName", L"CN=Ann Lee,OU=Staff,DC=example,DC=com"},
                      {L"name", L"Ann Lee"},
                      {L"sAMAccountName", L"alee"}};
    g_outcome = Outcome{S_OK, &object_};
    SeedClipboard();
  }
  HRESULT Run() { return RunCreateObjectWizardWith(StartPlayedWorker, L"OU=Staff,DC=example,DC=com", 0, L"x"); }
  FakeObject object_;
};

TEST_F(RunnerTest, SuccessPublishesTheThreeNamesAndKeepsOtherFormats) {
  EXPECT_EQ(Run(), S_OK);
  const auto bytes = ClipboardBlock(Format());
  ASSERT_GE(bytes.size(), 680u);
  EXPECT_EQ(Field(bytes, 0, 260), u"CN=Ann Lee,OU=Staff,DC=example,DC=com");
  EXPECT_EQ(Field(bytes, 520, 64), u"Ann Lee");
  EXPECT_EQ(Field(bytes, 648, 16), u"alee");
  EXPECT_EQ(Field(ClipboardBlock(CF_UNICODETEXT), 0, 4), u"seed");
  EXPECT_EQ((std::vector<std::wstring>{L"distinguishedName", L"name", L"sAMAccountName"}), object_.reads);
  EXPECT_EQ(object_.refs, 1);
  EXPECT_EQ(g_seen.containerPath, L"LDAP://OU=Staff,DC=example,DC=com");
  EXPECT_EQ(g_seen.thirdArgument, L"x");
}

TEST_F(RunnerTest, PrefixIsAddedEvenWhenPresent) {
  EXPECT_EQ(RunCreateObjectWizardWith(StartPlayedWorker, L"LDAP://CN=a", 2, L""), S_OK);
  EXPECT_EQ(g_seen.containerPath, L"LDAP://LDAP://CN=a");
  EXPECT_EQ(g_seen.objectType, 2);
}

TEST_F(RunnerTest, NonSOkOutcomesReadNothingAndLeaveTheClipboard) {
  for (const HRESULT outcome : {S_FALSE, static_cast<HRESULT>(0x80004002), E_FAIL}) {
    SCOPED_TRACE(outcome);
    g_outcome.result = outcome;
    EXPECT_EQ(Run(), outcome);
    EXPECT_TRUE(object_.reads.empty());
    EXPECT_EQ(object_.refs, 1);  // released all the same
    EXPECT_EQ(Field(ClipboardBlock(Format()), 0, 4), u"seed");
  }
}

TEST_F(RunnerTest, SOkWithoutAnObjectPublishesNothing) {
  g_outcome.object = nullptr;
  EXPECT_EQ(Run(), S_OK);
  EXPECT_EQ(Field(ClipboardBlock(Format()), 0, 4), u"seed");
}

TEST_F(RunnerTest, OnlyTheThirdReadDecidesTheResultAndTheRecordIsPublished) {
  const HRESULT noAttribute = static_cast<HRESULT>(0x8000500D);
  object_.failures[L"sAMAccountName"] = noAttribute;
  EXPECT_EQ(Run(), noAttribute);
  auto bytes = ClipboardBlock(Format());
  ASSERT_GE(bytes.size(), 680u);
  EXPECT_EQ(Field(bytes, 520, 64), u"Ann Lee");
  EXPECT_EQ(Field(bytes, 648, 16), u"");

  object_.failures = {{L"distinguishedName", E_FAIL}};
  object_.reads.clear();
  EXPECT_EQ(Run(), S_OK);
  bytes = ClipboardBlock(Format());
  ASSERT_GE(bytes.size(), 680u);
  EXPECT_EQ(Field(bytes, 0, 260), u"");
  EXPECT_EQ(Field(bytes, 648, 16), u"alee");
  EXPECT_EQ(object_.reads.size(), 3u);
}

TEST(RunnerStart, ThreadCreationFailureGivesTheLastErrorAsHresult) {
  g_startError = 5;
  EXPECT_EQ(RunCreateObjectWizardWith(FailToStart, L"CN=a", 0, L""), static_cast<HRESULT>(0x80070005));
  g_startError = 0;
  EXPECT_EQ(RunCreateObjectWizardWith(FailToStart, L"CN=a", 0, L""), S_OK);
}

}  // namespace
}  // namespace quorvel
