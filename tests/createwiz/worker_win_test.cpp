// The whole runner under Wine, its real worker included: only the container and the
// wizard component are fakes, handed to the worker through its platform seam.
#include "createwiz/create_result.h"
#include "createwiz/runner_win.h"

#include "createwiz/runner_fakes_win.h"
#include "platform/win/com_ptr.h"

#include <prsht.h>
#include <dsadmin.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvel {
namespace {

using test::ClipboardBlock;
using test::FakeObject;
using test::Field;

// Everything the fakes saw, in call order.
std::vector<std::wstring> g_log;

template <typename Interface>
class Counted : public Interface {
 public:
  LONG refs = 1;
  const wchar_t* label = L"";
  ULONG WINAPI AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG WINAPI Release() override {
    if (--refs == 1) g_log.push_back(std::wstring(L"released ") + label);
    return static_cast<ULONG>(refs);
  }
};

class FakeContainer final : public Counted<IADsContainer> {
 public:
  FakeContainer() { label = L"container"; }
  HRESULT WINAPI QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IADsContainer) {
      *out = this;
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT WINAPI GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT WINAPI GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT WINAPI GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT WINAPI Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT WINAPI get_Count(LONG*) override { return E_NOTIMPL; }
  HRESULT WINAPI get__NewEnum(IUnknown**) override { return E_NOTIMPL; }
  HRESULT WINAPI get_Filter(VARIANT*) override { return E_NOTIMPL; }
  HRESULT WINAPI put_Filter(VARIANT) override { return E_NOTIMPL; }
  HRESULT WINAPI get_Hints(VARIANT*) override { return E_NOTIMPL; }
  HRESULT WINAPI put_Hints(VARIANT) override { return E_NOTIMPL; }
  HRESULT WINAPI GetObject(BSTR, BSTR, IDispatch**) override { return E_NOTIMPL; }
  HRESULT WINAPI Create(BSTR, BSTR, IDispatch**) override { return E_NOTIMPL; }
  HRESULT WINAPI Delete(BSTR, BSTR) override { return E_NOTIMPL; }
  HRESULT WINAPI CopyHere(BSTR, BSTR, IDispatch**) override { return E_NOTIMPL; }
  HRESULT WINAPI MoveHere(BSTR, BSTR, IDispatch**) override { return E_NOTIMPL; }
};

// What each step answers, and what the wizard saw.
struct Script {
  HRESULT bind = S_OK, create = S_OK, initialize = S_OK, createModal = S_OK;
  bool storeObject = true;
};
Script g_script;
FakeContainer* g_container = nullptr;
FakeObject* g_object = nullptr;

struct Seen {
  std::wstring path;
  bool classNameNull = false;
  std::wstring className;
  IADsContainer* initializedWith = nullptr;
  IADs* copyFrom = reinterpret_cast<IADs*>(1);
  HWND parent = nullptr;
  DWORD wizardThread = 0;
  HRESULT apartmentQuery = E_FAIL;
  APTTYPE apartment = APTTYPE_CURRENT;
} g_seen;

class FakeWizard final : public Counted<IDsAdminCreateObj> {
 public:
  FakeWizard() { label = L"wizard"; }
  HRESULT WINAPI QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown) {
      *out = this;
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT WINAPI Initialize(IADsContainer* container, IADs* copyFrom, LPCWSTR className) override {
    g_log.emplace_back(L"initialize");
    g_seen.initializedWith = container;
    g_seen.copyFrom = copyFrom;
    g_seen.classNameNull = className == nullptr;
    if (className) g_seen.className = className;
    return g_script.initialize;
  }
  HRESULT WINAPI CreateModal(HWND parent, IADs** out) override {
    g_log.emplace_back(L"create modal");
    g_seen.parent = parent;
    g_seen.wizardThread = ::GetCurrentThreadId();
    APTTYPEQUALIFIER qualifier{};
    g_seen.apartmentQuery = ::CoGetApartmentType(&g_seen.apartment, &qualifier);
    if (g_script.storeObject) {
      g_object->AddRef();
      *out = g_object;
    }
    return g_script.createModal;
  }
};
FakeWizard* g_wizard = nullptr;

HRESULT FakeBind(const wchar_t* path, IADsContainer** out) {
  g_log.emplace_back(L"bind");
  g_seen.path = path;
  if (FAILED(g_script.bind)) return g_script.bind;
  g_container->AddRef();
  *out = g_container;
  return S_OK;
}

HRESULT FakeCreate(IDsAdminCreateObj** out) {
  g_log.emplace_back(L"create");
  if (FAILED(g_script.create)) return g_script.create;
  g_wizard->AddRef();
  *out = g_wizard;
  return S_OK;
}

const CreateWizardPlatform kFakes{FakeBind, FakeCreate};

DWORD WINAPI FakedWorker(void* parameter) {
  RunCreateObjWizardWorker(*static_cast<CreateObjWizardParams*>(parameter), kFakes);
  return 0;
}
HANDLE StartFakedWorker(LPTHREAD_START_ROUTINE, void* parameter) {
  return ::CreateThread(nullptr, 0, FakedWorker, parameter, 0, nullptr);
}

// A worker thread that is already in a multithreaded apartment, so that the
// worker's own CoInitialize fails; records the apartment left after the worker.
struct PreinitializedRun {
  HRESULT afterQuery = E_FAIL;
  APTTYPE after = APTTYPE_CURRENT;
} g_preinit;

DWORD WINAPI PreinitializedWorker(void* parameter) {
  if (::CoInitializeEx(nullptr, COINIT_MULTITHREADED) != S_OK) return 1;
  RunCreateObjWizardWorker(*static_cast<CreateObjWizardParams*>(parameter), kFakes);
  APTTYPEQUALIFIER qualifier{};
  g_preinit.afterQuery = ::CoGetApartmentType(&g_preinit.after, &qualifier);
  ::CoUninitialize();
  return 0;
}
HANDLE StartPreinitializedWorker(LPTHREAD_START_ROUTINE, void* parameter) {
  return ::CreateThread(nullptr, 0, PreinitializedWorker, parameter, 0, nullptr);
}

class Worker : public ::testing::Test {
 protected:
  void SetUp() override {
    object_.values = {{L"distinguishedName", L"CN=Ann Lee,OU=Staff,DC=example,DC=com"},
                      {L"name", L"Ann Lee"},
                      {L"sAMAccountName", L"alee"}};
    g_container = &container_;
    g_wizard = &wizard_;
    g_object = &object_;
    g_script = Script{};
    g_seen = Seen{};
    g_log.clear();
    ASSERT_TRUE(test::SeedClipboard());
  }
  void TearDown() override {
    // Every reference the run took is given back.
    EXPECT_EQ(container_.refs, 1);
    EXPECT_EQ(wizard_.refs, 1);
    EXPECT_EQ(object_.refs, 1);
  }
  HRESULT Run(std::int32_t type = 0) {
    return RunCreateObjectWizardWith(StartFakedWorker, L"OU=Staff,DC=example,DC=com", type, L"");
  }
  static bool ClipboardUntouched() { return Field(ClipboardBlock(test::RecordFormat()), 0, 8) == u"seed"; }

  ComApartment com_;
  FakeContainer container_;
  FakeWizard wizard_;
  FakeObject object_;
};

TEST_F(Worker, ACompleteRunPublishesTheNamesReadOnTheMainThreadAfterTheWizard) {
  EXPECT_EQ(Run(), S_OK);
  const auto bytes = ClipboardBlock(test::RecordFormat());
  ASSERT_GE(bytes.size(), 680u);
  EXPECT_EQ(Field(bytes, 0, 260), u"CN=Ann Lee,OU=Staff,DC=example,DC=com");
  EXPECT_EQ(Field(bytes, 520, 64), u"Ann Lee");
  EXPECT_EQ(Field(bytes, 648, 16), u"alee");
  EXPECT_EQ(g_seen.path, L"LDAP://OU=Staff,DC=example,DC=com");
  EXPECT_EQ(g_seen.initializedWith, &container_);
  EXPECT_EQ(g_seen.copyFrom, nullptr);
  EXPECT_EQ(g_seen.parent, ::GetDesktopWindow());
  // The wizard is let go of before the container, both before anything is read.
  EXPECT_EQ(g_log, (std::vector<std::wstring>{L"bind", L"create", L"initialize", L"create modal",
                                              L"released wizard", L"released container"}));
  EXPECT_EQ(object_.readThread, ::GetCurrentThreadId());
}

TEST_F(Worker, TheWizardRunsOnAnotherThreadInASingleThreadedApartmentOfItsOwn) {
  APTTYPE mine{};
  APTTYPEQUALIFIER qualifier{};
  ASSERT_EQ(::CoGetApartmentType(&mine, &qualifier), S_OK);
  ASSERT_EQ(mine, APTTYPE_MAINSTA);
  EXPECT_EQ(Run(), S_OK);
  EXPECT_NE(g_seen.wizardThread, 0u);
  EXPECT_NE(g_seen.wizardThread, ::GetCurrentThreadId());
  ASSERT_EQ(g_seen.apartmentQuery, S_OK);
  EXPECT_EQ(g_seen.apartment, APTTYPE_STA);
  // The worker's apartment came and went; the caller's is still the one it had.
  ASSERT_EQ(::CoGetApartmentType(&mine, &qualifier), S_OK);
  EXPECT_EQ(mine, APTTYPE_MAINSTA);
}

TEST_F(Worker, AFailedCoInitializeNeitherStopsTheWorkerNorIsUndone) {
  g_preinit = PreinitializedRun{};
  EXPECT_EQ(RunCreateObjectWizardWith(StartPreinitializedWorker, L"OU=Staff,DC=example,DC=com", 0, L""), S_OK);
  EXPECT_EQ(g_log, (std::vector<std::wstring>{L"bind", L"create", L"initialize", L"create modal",
                                              L"released wizard", L"released container"}));
  // The apartment the thread had before is still there: no CoUninitialize of ours.
  ASSERT_EQ(g_preinit.afterQuery, S_OK);
  EXPECT_EQ(g_preinit.after, APTTYPE_MTA);
  EXPECT_EQ(g_seen.apartment, APTTYPE_MTA);
  EXPECT_EQ(Field(ClipboardBlock(test::RecordFormat()), 648, 16), u"alee");
}

TEST_F(Worker, EveryStepsFailureIsMappedAndEndsTheWorkerThere) {
  enum Step { kBind, kCreate, kInitialize, kCreateModal };
  const wchar_t* names[] = {L"bind", L"create", L"initialize", L"create modal"};
  struct Code {
    std::uint32_t in, out;
  };
  const Code codes[] = {{0x80040154, 0x80004002},   // REGDB_E_CLASSNOTREG
                        {0x80040110, 0x80004002},   // CLASS_E_NOAGGREGATION
                        {0x80072030, 0x80072030},   // no such object
                        {0x80070057, 0x80070057},   // E_INVALIDARG
                        {0x80040111, 0x80040111}};  // CLASS_E_CLASSNOTAVAILABLE, a neighbour
  for (const Step step : {kBind, kCreate, kInitialize, kCreateModal}) {
    for (const Code& code : codes) {
      SCOPED_TRACE(testing::Message() << "step " << step << " code " << std::hex << code.in);
      g_script = Script{};
      g_log.clear();
      object_.reads.clear();
      const auto failure = static_cast<HRESULT>(code.in);
      if (step == kBind) g_script.bind = failure;
      if (step == kCreate) g_script.create = failure;
      if (step == kInitialize) g_script.initialize = failure;
      // A wizard that fails has created nothing.
      if (step == kCreateModal) {
        g_script.createModal = failure;
        g_script.storeObject = false;
      }
      EXPECT_EQ(static_cast<std::uint32_t>(Run()), code.out);
      // The steps up to the failing one ran, none after it.
      std::vector<std::wstring> calls;
      for (const std::wstring& entry : g_log)
        if (entry.rfind(L"released", 0) != 0) calls.push_back(entry);
      EXPECT_EQ(calls, std::vector<std::wstring>(names, names + step + 1));
      EXPECT_TRUE(object_.reads.empty());
      EXPECT_TRUE(ClipboardUntouched());
      EXPECT_EQ(container_.refs, 1);
      EXPECT_EQ(wizard_.refs, 1);
    }
  }
}

TEST_F(Worker, ObjectTypesReachTheWizardAsClassNamesEvenWhenUnknown) {
  struct Row {
    std::int32_t type;
    const wchar_t* className;
  };
  for (const Row& row : {Row{0, L"user"}, Row{1, L"group"}, Row{2, L"computer"}, Row{3, L""}, Row{-1, L""}}) {
    SCOPED_TRACE(row.type);
    g_seen = Seen{};
    // The platform's wizard refuses an unknown class at Initialize; so does this one.
    g_script.initialize = row.className[0] ? S_OK : E_INVALIDARG;
    EXPECT_EQ(Run(row.type), g_script.initialize);
    EXPECT_FALSE(g_seen.classNameNull);
    EXPECT_EQ(g_seen.className, row.className);
  }
}

TEST_F(Worker, OutcomesOtherThanSOkOrWithoutAnObjectPublishNothingAndReleaseTheObject) {
  struct Row {
    int line;
    HRESULT outcome;
    bool storeObject;
    HRESULT result;
  };
  const std::vector<Row> rows = {
      {__LINE__, S_FALSE, true, S_FALSE},  // cancelled after the object was handed out
      {__LINE__, S_FALSE, false, S_FALSE},  // cancelled
      {__LINE__, 2, true, 2},               // another success code
      {__LINE__, S_OK, false, S_OK},        // success without an object: nothing to read
      // A failing wizard that handed out an object all the same: released, and mapped.
      {__LINE__, E_FAIL, true, E_FAIL},
      {__LINE__, static_cast<HRESULT>(0x80040154), true, static_cast<HRESULT>(0x80004002)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    g_script.createModal = row.outcome;
    g_script.storeObject = row.storeObject;
    object_.reads.clear();
    EXPECT_EQ(Run(), row.result);
    EXPECT_TRUE(object_.reads.empty());
    EXPECT_TRUE(ClipboardUntouched());
    EXPECT_EQ(object_.refs, 1);
  }
}

// Another process that holds the clipboard open for as long as it lives.
class ClipboardHolder {
 public:
  ClipboardHolder() {
    held_ = ::CreateEventW(nullptr, TRUE, FALSE, L"quorvel-test-clipboard-held");
    release_ = ::CreateEventW(nullptr, TRUE, FALSE, L"quorvel-test-clipboard-release");
    wchar_t self[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring exe(self, n);
    exe = exe.substr(0, exe.find_last_of(L'\\') + 1) + L"createwiz_clipboard_holder.exe";
    std::wstring line = L"\"" + exe + L"\" quorvel-test-clipboard-held quorvel-test-clipboard-release";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    if (::CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_)) {
      const HANDLE both[] = {held_, pi_.hProcess};
      holding_ = ::WaitForMultipleObjects(2, both, FALSE, 20000) == WAIT_OBJECT_0;
    }
  }
  ClipboardHolder(const ClipboardHolder&) = delete;
  ClipboardHolder& operator=(const ClipboardHolder&) = delete;
  ~ClipboardHolder() {
    ::SetEvent(release_);
    if (pi_.hProcess) {
      ::WaitForSingleObject(pi_.hProcess, 20000);
      ::CloseHandle(pi_.hProcess);
      ::CloseHandle(pi_.hThread);
    }
    ::CloseHandle(held_);
    ::CloseHandle(release_);
  }
  bool holding() const { return holding_; }

 private:
  HANDLE held_, release_;
  PROCESS_INFORMATION pi_{};
  bool holding_ = false;
};

TEST_F(Worker, AClipboardHeldByAnotherProcessLeavesTheResultAsItWas) {
  const HRESULT noAttribute = static_cast<HRESULT>(0x8000500D);
  for (const HRESULT third : {S_OK, noAttribute}) {
    SCOPED_TRACE(third);
    object_.failures.clear();
    if (FAILED(third)) object_.failures[L"sAMAccountName"] = third;
    object_.reads.clear();
    {
      const ClipboardHolder holder;
      ASSERT_TRUE(holder.holding());
      ASSERT_FALSE(::OpenClipboard(nullptr));
      EXPECT_EQ(Run(), third);
    }
    EXPECT_EQ(object_.reads.size(), 3u);
    EXPECT_TRUE(ClipboardUntouched());
    EXPECT_EQ(Field(ClipboardBlock(CF_UNICODETEXT), 0, 8), u"seed");
  }
}

}  // namespace
}  // namespace quorvel
