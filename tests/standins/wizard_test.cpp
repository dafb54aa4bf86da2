// The creation wizard stand-in: what Initialize refuses, and the dialog answered
// from another thread the way a person would (type, press Finish or Cancel).
#include "platform/win/com_ptr.h"

#include <activeds.h>
#include <prsht.h>
#include <dsadmin.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace quorvel {
namespace {

const CLSID kCreateObj = {0xe301a009, 0xf901, 0x11d2, {0x82, 0xb9, 0x00, 0xc0, 0x4f, 0x68, 0x92, 0x8b}};
const IID kICreateObj = {0x53554a38, 0xf902, 0x11d2, {0x82, 0xb9, 0x00, 0xc0, 0x4f, 0x68, 0x92, 0x8b}};

long Outstanding(const wchar_t* dll) {
  HMODULE m = ::GetModuleHandleW(dll);
  if (!m) return 0;
  using Fn = void(__stdcall*)(long*, long*, long*);
  auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(m, "QuorvelStandinOutstanding")));
  long objects = -1, references = -1, locks = -1;
  if (fn) fn(&objects, &references, &locks);
  return objects + references + locks;
}

// Waits for the dialog with this caption, fills it in and presses a button.
void Answer(const wchar_t* caption, std::wstring name, std::wstring account, int button) {
  HWND dlg = nullptr;
  for (int i = 0; i < 200 && !dlg; ++i) {
    dlg = ::FindWindowW(nullptr, caption);
    if (!dlg) ::Sleep(50);
  }
  if (!dlg) return;
  ::SendMessageW(::GetDlgItem(dlg, 1001), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()));
  ::SendMessageW(::GetDlgItem(dlg, 1002), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(account.c_str()));
  ::SendMessageW(::GetDlgItem(dlg, button), BM_CLICK, 0, 0);
}

class Wizard : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::ADsGetObject(L"LDAP://OU=Staff,DC=example,DC=com", IID_IADsContainer, staff_.put_void()), S_OK);
    ASSERT_EQ(::CoCreateInstance(kCreateObj, nullptr, CLSCTX_INPROC_SERVER, kICreateObj, wizard_.put_void()),
              S_OK);
  }
  void TearDown() override {
    wizard_.reset();
    staff_.reset();
    EXPECT_EQ(Outstanding(L"quorvel_dsadmin.dll"), 0);
    EXPECT_EQ(Outstanding(L"quorvel_adsldp.dll"), 0);
  }
  ComApartment com_;
  ComPtr<IADsContainer> staff_;
  ComPtr<IDsAdminCreateObj> wizard_;
};

TEST_F(Wizard, InitializeRefusesWhatItCannotCreate) {
  struct Row {
    int line;
    bool container;
    const wchar_t* cls;
    HRESULT expected;
  };
  const std::vector<Row> rows = {
      {__LINE__, true, L"", E_INVALIDARG},
      {__LINE__, true, L"printer", E_INVALIDARG},
      {__LINE__, true, L"User", E_INVALIDARG},  // class names are exact
      {__LINE__, true, nullptr, E_INVALIDARG},
      {__LINE__, false, L"user", E_INVALIDARG},
      {__LINE__, true, L"group", S_OK},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "line " << row.line);
    EXPECT_EQ(wizard_->Initialize(row.container ? staff_.get() : nullptr, nullptr, row.cls), row.expected);
  }
  IADs* created = reinterpret_cast<IADs*>(0x1);
  ComPtr<IDsAdminCreateObj> fresh;
  ASSERT_EQ(::CoCreateInstance(kCreateObj, nullptr, CLSCTX_INPROC_SERVER, kICreateObj, fresh.put_void()), S_OK);
  EXPECT_EQ(fresh->CreateModal(nullptr, &created), E_UNEXPECTED);  // not initialised
  EXPECT_EQ(created, nullptr);
}

TEST_F(Wizard, FinishCreatesTheObjectInTheDirectory) {
  ASSERT_EQ(wizard_->Initialize(staff_.get(), nullptr, L"user"), S_OK);
  const std::wstring name = L"Wiz " + std::to_wstring(::GetTickCount64());
  std::thread person(Answer, L"New Object - user", name, L"wizacct", IDOK);
  IADs* created = nullptr;
  EXPECT_EQ(wizard_->CreateModal(::GetDesktopWindow(), &created), S_OK);
  person.join();
  ASSERT_NE(created, nullptr);
  ComPtr<IADs> bound;
  const std::wstring path = L"LDAP://CN=" + name + L",OU=Staff,DC=example,DC=com";
  ASSERT_EQ(::ADsGetObject(path.c_str(), IID_IADs, bound.put_void()), S_OK);
  VARIANT v;
  ::VariantInit(&v);
  BSTR attr = ::SysAllocString(L"sAMAccountName");
  EXPECT_EQ(bound->Get(attr, &v), S_OK);
  ASSERT_EQ(v.vt, VT_BSTR);
  EXPECT_STREQ(v.bstrVal, L"wizacct");
  ::VariantClear(&v);
  ::SysFreeString(attr);
  created->Release();
}

TEST_F(Wizard, CancelCreatesNothing) {
  ASSERT_EQ(wizard_->Initialize(staff_.get(), nullptr, L"group"), S_OK);
  const std::wstring name = L"Never " + std::to_wstring(::GetTickCount64());
  std::thread person(Answer, L"New Object - group", name, L"never", IDCANCEL);
  IADs* created = reinterpret_cast<IADs*>(0x1);
  EXPECT_EQ(wizard_->CreateModal(nullptr, &created), S_FALSE);
  person.join();
  EXPECT_EQ(created, nullptr);
  IADs* missing = nullptr;
  const std::wstring path = L"LDAP://CN=" + name + L",OU=Staff,DC=example,DC=com";
  EXPECT_EQ(::ADsGetObject(path.c_str(), IID_IADs, reinterpret_cast<void**>(&missing)),
            static_cast<HRESULT>(0x80072030));
}

}  // namespace
}  // namespace quorvel
