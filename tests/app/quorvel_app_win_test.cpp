// The application object's two steps on a thread of their own, as the entry point
// runs them: the status each tail ends with, and the thread's COM state afterwards.
#include "app/quorvel_app.h"

#include "support/win/import_hook.h"

#include <objbase.h>
#include <gtest/gtest.h>

#include <initializer_list>
#include <thread>
#include <utility>
#include <vector>

namespace quorvel {
namespace {

struct Steps {
  BOOL init = TRUE;
  int exit = -1;
  HRESULT comAfterwards = E_FAIL;  // CoInitializeEx for a multithreaded apartment
};

// Runs InitInstance and ExitInstance on a fresh thread, then asks whether that
// thread can still enter a multithreaded apartment: it can only if the single-
// threaded one of the job was left again.
Steps RunSteps(CQuorvelApp& app, const wchar_t* tail) {
  Steps steps;
  std::thread thread([&] {
    app.m_lpCmdLine = tail;
    steps.init = app.InitInstance();
    steps.exit = app.ExitInstance();
    steps.comAfterwards = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(steps.comAfterwards)) ::CoUninitialize();
  });
  thread.join();
  return steps;
}

TEST(QuorvelApp, EndsWithTheDispatchStatusAndLeavesComAsItFoundIt) {
  struct Row {
    int line;
    const wchar_t* tail;
    int status;
  };
  const std::vector<Row> rows = {
      {__LINE__, L"", 0},
      {__LINE__, L"/help", 0},
      {__LINE__, L"/adproppage:", 0},
      {__LINE__, L"/adcreateobjwiz:", 87},
      {__LINE__, L"/adcreateobjwiz:CN=x||", 87},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    CQuorvelApp app;
    const Steps steps = RunSteps(app, row.tail);
    EXPECT_EQ(steps.init, FALSE);
    EXPECT_EQ(steps.exit, row.status);
    EXPECT_EQ(steps.comAfterwards, S_OK);
  }
}

// The first platform call of each job, replaced: it notes the calling thread's
// apartment and fails with a code of its own, which the job ends with.
HRESULT g_query = E_PENDING;
APTTYPE g_apartment = APTTYPE_CURRENT;
void NoteApartment() {
  APTTYPEQUALIFIER qualifier{};
  g_query = ::CoGetApartmentType(&g_apartment, &qualifier);
}
constexpr HRESULT kBindRefused = static_cast<HRESULT>(0x8004D00D);
HRESULT WINAPI NotingBind(LPCWSTR, REFIID, void**) {
  NoteApartment();
  return kBindRefused;
}
HANDLE WINAPI NotingCreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD) {
  NoteApartment();
  ::SetLastError(ERROR_NOT_ENOUGH_QUOTA);
  return nullptr;
}

TEST(QuorvelApp, TheJobRunsInASingleThreadedApartment) {
  for (const auto& [tail, status] : {std::pair{L"/adproppage:QVNOSUCH://CN=a", kBindRefused},
                                     std::pair{L"/adcreateobjwiz:CN=a|0", HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_QUOTA)}}) {
    SCOPED_TRACE(testing::Message() << tail);
    g_query = E_PENDING;
    int exit = -1;
    std::thread thread([&, tail = tail] {
      // Installed on the job's thread: std::thread itself may start threads the same way.
      const test::ScopedImportHook bind(test::ImportedAddress(L"activeds.dll", "ADsGetObject"),
                                        reinterpret_cast<const void*>(NotingBind));
      const test::ScopedImportHook start(test::ImportedAddress(L"kernel32.dll", "CreateThread"),
                                         reinterpret_cast<const void*>(NotingCreateThread));
      ASSERT_TRUE(bind.patched() && start.patched()) << "a job's first call is not imported";
      CQuorvelApp app;
      app.m_lpCmdLine = tail;
      app.InitInstance();
      exit = app.ExitInstance();
    });
    thread.join();
    EXPECT_EQ(exit, status);
    ASSERT_EQ(g_query, S_OK) << "no apartment on the job's thread";
    EXPECT_TRUE(g_apartment == APTTYPE_STA || g_apartment == APTTYPE_MAINSTA) << g_apartment;
  }
}

TEST(QuorvelApp, AThreadAlreadyInAnotherApartmentKeepsIt) {
  // CoInitialize fails there, so there is nothing of ours to uninitialise; an
  // unbalanced CoUninitialize would end the caller's apartment.
  APTTYPE after = APTTYPE_CURRENT;
  HRESULT query = E_FAIL;
  int status = -1;
  std::thread thread([&] {
    ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    CQuorvelApp app;
    app.m_lpCmdLine = L"/adcreateobjwiz:";
    app.InitInstance();
    status = app.ExitInstance();
    APTTYPEQUALIFIER qualifier{};
    query = ::CoGetApartmentType(&after, &qualifier);
    ::CoUninitialize();
  });
  thread.join();
  EXPECT_EQ(status, 87);
  ASSERT_EQ(query, S_OK);
  EXPECT_EQ(after, APTTYPE_MTA);
}

}  // namespace
}  // namespace quorvel
