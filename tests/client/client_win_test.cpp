// The client's promises that hold whatever the helper does: a failed start leaves
// the run empty, the blocking calls offer each message to the caller's filter, and
// the C interface's take leaves everything with the caller when it fails, and an
// outcome whose post fails for a while (a full queue) or whose failed start cannot
// be described for want of memory still arrives.
#include "quorvel_client.h"
#include "quorvel_client_c.h"

// The header leaves <windows.h> as the console configures it (mingw's C++ library
// defines NOMINMAX itself, so only the other can be checked here).
#ifdef WIN32_LEAN_AND_MEAN
#error "quorvel_client.h defined one of the console's macros"
#endif
static_assert(sizeof(&::CommandLineToArgvW) > 0, "<windows.h> without WIN32_LEAN_AND_MEAN declares it");

#include "support/win/import_hook.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>
#include <vector>

// One allocation of this thread's can be made to fail.
thread_local bool g_failNextNew = false;
void* operator new(std::size_t bytes) {
  void* block = g_failNextNew ? nullptr : std::malloc(bytes ? bytes : 1);
  g_failNextNew = false;
  if (!block) throw std::bad_alloc();
  return block;
}
// GCC takes the replacement's free() for one of a block from the default operator new.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
#pragma GCC diagnostic pop

namespace {

namespace qc = quorvel::client;

std::vector<UINT> g_dispatched;
LRESULT CALLBACK Record(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message >= WM_APP) g_dispatched.push_back(message);
  return ::DefWindowProcW(window, message, wParam, lParam);
}

HWND MessageWindow() {
  WNDCLASSW cls{};
  cls.lpfnWndProc = Record;
  cls.lpszClassName = L"client_win_test";
  ::RegisterClassW(&cls);
  return ::CreateWindowExW(0, cls.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
}

TEST(ClientStart, AFailedStartLeavesTheRunEmpty) {
  const HWND window = MessageWindow();
  qc::Run run;
  // A refusal is posted, and its run holds an id until then.
  ASSERT_EQ(qc::StartCreateWizard(window, WM_APP, L"", L"OU=a", qc::ObjectType::User, run), S_OK);
  ASSERT_TRUE(run);
  ::DestroyWindow(window);
  EXPECT_EQ(qc::StartCreateWizard(window, WM_APP, L"C:\\q.exe", L"OU=a", qc::ObjectType::User, run), E_HANDLE);
  EXPECT_FALSE(run);
  // Another process's window (the desktop's is explorer's): its handler would free our pointer.
  EXPECT_EQ(qc::StartCreateWizard(::GetDesktopWindow(), WM_APP, L"C:\\q.exe", L"OU=a", qc::ObjectType::User, run),
            E_HANDLE);
  EXPECT_FALSE(run);
}

std::atomic<int> g_postsToFail{0};
decltype(&::PostMessageW) g_realPost = nullptr;
BOOL WINAPI FailingPost(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (g_postsToFail.fetch_sub(1) > 0) {
    ::SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    return FALSE;
  }
  return g_realPost(window, message, wParam, lParam);
}

TEST(ClientStart, AnOutcomeWhosePostFailsForAWhileStillArrives) {
  const char* driver = std::getenv("QVCLIENT_DRIVER");
  ASSERT_NE(driver, nullptr);
  const std::wstring helper(driver, driver + std::char_traits<char>::length(driver));
  ::SetEnvironmentVariableW(L"QVCLIENT_HELPER_SLEEP", nullptr);
  g_realPost = reinterpret_cast<decltype(g_realPost)>(quorvel::test::ImportedAddress(L"user32.dll", "PostMessageW"));
  const quorvel::test::ScopedImportHook hook(reinterpret_cast<const void*>(g_realPost),
                                             reinterpret_cast<const void*>(&FailingPost));
  ASSERT_GT(hook.patched(), 0);
  const HWND window = MessageWindow();
  g_postsToFail = 5;
  qc::Run run;
  ASSERT_EQ(qc::StartCreateWizard(window, WM_APP + 3, helper, L"OU=a", qc::ObjectType::User, run), S_OK);
  MSG msg{};
  for (int wait = 0; wait < 200 && !::PeekMessageW(&msg, window, WM_APP + 3, WM_APP + 3, PM_REMOVE); ++wait) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_POSTMESSAGE);
  }
  EXPECT_LT(g_postsToFail.load(), 0);  // every failure was met, then a post went through
  ASSERT_EQ(msg.message, static_cast<UINT>(WM_APP + 3));
  EXPECT_EQ(msg.wParam, run.Id());
  const auto outcome = qc::TakeOutcome(msg.lParam);
  ASSERT_NE(outcome, nullptr);
  EXPECT_EQ(outcome->result, qc::Result::CreatedNamesUnknown);
  ::DestroyWindow(window);
}

BOOL WINAPI FailingStart(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCWSTR,
                         LPSTARTUPINFOW, LPPROCESS_INFORMATION) {
  g_failNextNew = true;  // the failure's reason
  ::SetLastError(ERROR_FILE_NOT_FOUND);
  return FALSE;
}

// The run's thread waits suspended for the start: the start's report running out
// of memory must still let it go on to post.
TEST(ClientStart, AFailedStartWhoseReportRunsOutOfMemoryIsStillPosted) {
  const quorvel::test::ScopedImportHook hook(quorvel::test::ImportedAddress(L"kernel32.dll", "CreateProcessW"),
                                             reinterpret_cast<const void*>(&FailingStart));
  ASSERT_GT(hook.patched(), 0);
  const HWND window = MessageWindow();
  qc::Run run;
  ASSERT_EQ(qc::StartCreateWizard(window, WM_APP + 4, L"C:\\q.exe", L"OU=a", qc::ObjectType::User, run), S_OK);
  MSG msg{};
  for (int wait = 0; wait < 200 && !::PeekMessageW(&msg, window, WM_APP + 4, WM_APP + 4, PM_REMOVE); ++wait) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_POSTMESSAGE);
  }
  ASSERT_EQ(msg.message, static_cast<UINT>(WM_APP + 4));
  const auto outcome = qc::TakeOutcome(msg.lParam);
  ASSERT_NE(outcome, nullptr);
  EXPECT_EQ(outcome->code, E_OUTOFMEMORY);
  ::DestroyWindow(window);
}

TEST(ClientCInterface, AFailedTakeLeavesTheOutcomeAndItsOwnershipWithTheCaller) {
  const char* path = std::getenv("QVCLIENT_DLL");
  ASSERT_NE(path, nullptr);
  const HMODULE dll = ::LoadLibraryA(path);
  ASSERT_NE(dll, nullptr);
  const auto proc = [dll](const char* name) { return reinterpret_cast<void (*)()>(::GetProcAddress(dll, name)); };
  const auto start = reinterpret_cast<HRESULT(WINAPI*)(HWND, UINT, LPCWSTR, LPCWSTR, INT, QUORVEL_RUN*)>(
      proc("QuorvelStartCreateWizard"));
  const auto take = reinterpret_cast<HRESULT(WINAPI*)(LPARAM, QUORVEL_OUTCOME*)>(proc("QuorvelTakeOutcome"));
  const auto release = reinterpret_cast<HRESULT(WINAPI*)(QUORVEL_OUTCOME*)>(proc("QuorvelFreeOutcome"));
  const auto close = reinterpret_cast<HRESULT(WINAPI*)(QUORVEL_RUN)>(proc("QuorvelCloseRun"));
  const HWND window = MessageWindow();
  QUORVEL_RUN run = nullptr;
  // A relative helper is refused, and the refusal posted.
  ASSERT_EQ(start(window, WM_APP + 7, L"quorvel.exe", L"OU=a", 0, &run), S_OK);
  MSG msg{};
  ASSERT_TRUE(::PeekMessageW(&msg, window, WM_APP + 7, WM_APP + 7, PM_REMOVE));
  const QUORVEL_OUTCOME untouched{sizeof(QUORVEL_OUTCOME) - 1, -5, E_NOTIMPL, nullptr, nullptr, nullptr, nullptr};
  QUORVEL_OUTCOME outcome;  // byte for byte, padding too, for the comparisons below
  std::memcpy(&outcome, &untouched, sizeof outcome);
  // Each failure once more: a freed lParam would be freed twice by the next row.
  const struct {
    int line;
    LPARAM lParam;
    QUORVEL_OUTCOME* out;
    HRESULT want;
  } rows[] = {{__LINE__, msg.lParam, nullptr, E_POINTER},
              {__LINE__, msg.lParam, &outcome, E_INVALIDARG},  // cbSize too small
              {__LINE__, 0, &outcome, E_INVALIDARG},
              {__LINE__, msg.lParam, &outcome, E_INVALIDARG}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(take(row.lParam, row.out), row.want);
    EXPECT_EQ(std::memcmp(&outcome, &untouched, sizeof outcome), 0);
  }
  // Corrected, the same lParam is taken once, whole.
  outcome.cbSize = sizeof outcome;
  ASSERT_EQ(take(msg.lParam, &outcome), S_OK);
  EXPECT_EQ(outcome.result, QUORVEL_REFUSED);
  EXPECT_EQ(outcome.code, E_INVALIDARG);
  EXPECT_NE(std::wcsstr(outcome.reason, L"not absolute"), nullptr);
  EXPECT_EQ(release(&outcome), S_OK);
  EXPECT_EQ(close(run), S_OK);
  ::DestroyWindow(window);
}

TEST(ClientWait, AFilterSeesEveryMessageAndKeepsWhatItTakesFromDispatch) {
  const char* driver = std::getenv("QVCLIENT_DRIVER");
  ASSERT_NE(driver, nullptr);
  const std::wstring helper(driver, driver + std::char_traits<char>::length(driver));
  // Another helper that ends 0 a second later, having published nothing.
  ::SetEnvironmentVariableW(L"QVCLIENT_HELPER_SLEEP", L"1000");
  const HWND window = MessageWindow();
  ::PostMessageW(window, WM_APP, 0, 0);
  ::PostMessageW(window, WM_APP + 1, 0, 0);
  std::vector<UINT> offered;
  g_dispatched.clear();
  const qc::Outcome outcome = qc::RunCreateWizard(helper, L"OU=a", qc::ObjectType::User, [&](MSG& m) {
    if (m.hwnd == window) offered.push_back(m.message);
    return m.message == WM_APP;  // as IsDialogMessageW does with a dialog's own keys
  });
  EXPECT_EQ(outcome.result, qc::Result::CreatedNamesUnknown);
  EXPECT_EQ(offered, (std::vector<UINT>{WM_APP, WM_APP + 1}));
  EXPECT_EQ(g_dispatched, std::vector<UINT>{WM_APP + 1});
  ::DestroyWindow(window);
}

}  // namespace
