// The client's promises that hold whatever the helper does: a failed start leaves
// the run empty, the blocking calls offer each message to the caller's filter, the
// C interface's take leaves everything with the caller when it fails, and every
// outcome (a refusal, a start without a thread, a report or a run short of memory,
// a full queue) arrives once its run holds its id, leaving no lock, open clipboard
// or process handle behind.
#include "quorvel_client.h"
#include "quorvel_client_c.h"

// The header leaves <windows.h> as the console configures it (mingw's C++ library
// defines NOMINMAX itself, so only the other can be checked here).
#ifdef WIN32_LEAN_AND_MEAN
#error "quorvel_client.h defined one of the console's macros"
#endif
static_assert(sizeof(&::CommandLineToArgvW) > 0, "<windows.h> without WIN32_LEAN_AND_MEAN declares it");

#include "support/win/import_hook.h"
#include "support/win/message_window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>
#include <utility>
#include <vector>

// The next allocation of this thread's can be made to fail.
thread_local bool g_failNextNew = false;
void* operator new(std::size_t bytes) {
  void* block = std::exchange(g_failNextNew, false) ? nullptr : std::malloc(bytes ? bytes : 1);
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

HWND MessageWindow() { return quorvel::test::MessageOnlyWindow(L"client_win_test", Record); }

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

template <typename F>
F Real(const wchar_t* dll, const char* function) {
  return reinterpret_cast<F>(quorvel::test::ImportedAddress(dll, function));
}
template <typename F>
const void* Address(F* function) {
  return reinterpret_cast<const void*>(function);
}

// The run under test, read by the hooks below from whichever thread posts.
const qc::Run* g_run = nullptr;
HANDLE g_posted = nullptr;  // set at every try of a post
std::atomic<int> g_postsToFail{0}, g_postsAhead{0};
BOOL WINAPI WatchedPost(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  static const auto real = Real<decltype(&::PostMessageW)>(L"user32.dll", "PostMessageW");
  if (g_run->Id() != wParam) ++g_postsAhead;
  ::SetEvent(g_posted);
  if (g_postsToFail.fetch_sub(1) > 0) {
    ::SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    return FALSE;
  }
  return real(window, message, wParam, lParam);
}

// The run's thread goes on, and the start returns only once it has tried to post.
DWORD WINAPI ResumeUntilPosted(HANDLE thread) {
  static const auto real = Real<decltype(&::ResumeThread)>(L"kernel32.dll", "ResumeThread");
  const DWORD count = real(thread);
  ::WaitForSingleObject(g_posted, 20000);
  return count;
}

// Where the run's thread runs out of memory: copying the record, which follows each
// lock, or reading the exit status, which follows the exit code.
enum class OutOfMemory { Never, InTheCopy, AfterTheExit };
std::atomic<OutOfMemory> g_outOfMemory{OutOfMemory::Never};

// Locks of a block and opens of the clipboard not yet undone.
std::atomic<int> g_held{0};
LPVOID WINAPI CountedLock(HGLOBAL block) {
  static const auto real = Real<decltype(&::GlobalLock)>(L"kernel32.dll", "GlobalLock");
  void* bytes = real(block);
  if (bytes) ++g_held, g_failNextNew = g_outOfMemory == OutOfMemory::InTheCopy;
  return bytes;
}
BOOL WINAPI CountedUnlock(HGLOBAL block) {
  static const auto real = Real<decltype(&::GlobalUnlock)>(L"kernel32.dll", "GlobalUnlock");
  --g_held;
  return real(block);
}
BOOL WINAPI CountedOpen(HWND owner) {
  static const auto real = Real<decltype(&::OpenClipboard)>(L"user32.dll", "OpenClipboard");
  const BOOL open = real(owner);
  if (open) ++g_held;
  return open;
}
BOOL WINAPI CountedClose() {
  static const auto real = Real<decltype(&::CloseClipboard)>(L"user32.dll", "CloseClipboard");
  --g_held;
  return real();
}

// quorvel.exe's handle, as the run's thread asks for its exit code, and its closes.
std::atomic<HANDLE> g_process{nullptr};
std::atomic<int> g_processCloses{0};
BOOL WINAPI ExitCodeOf(HANDLE process, LPDWORD code) {
  static const auto real = Real<decltype(&::GetExitCodeProcess)>(L"kernel32.dll", "GetExitCodeProcess");
  g_process = process;
  g_failNextNew = g_outOfMemory == OutOfMemory::AfterTheExit;
  return real(process, code);
}
BOOL WINAPI CountedCloseHandle(HANDLE handle) {
  static const auto real = Real<decltype(&::CloseHandle)>(L"kernel32.dll", "CloseHandle");
  if (handle && handle == g_process) ++g_processCloses;
  return real(handle);
}

BOOL WINAPI FailingStart(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCWSTR,
                         LPSTARTUPINFOW, LPPROCESS_INFORMATION) {
  g_failNextNew = true;  // the failure's reason
  ::SetLastError(ERROR_FILE_NOT_FOUND);
  return FALSE;
}

HANDLE WINAPI NoThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD) {
  ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return nullptr;
}

// However a run ends, its outcome arrives, and no post of it is tried before the
// caller's Run holds its id: a handler comparing wParam with Id() would drop it.
// A refusal and a run without a thread post from the caller's thread, the others
// from the run's thread, which ResumeUntilPosted lets post before the start returns.
// No look at the record, even one whose copy runs out of memory, leaves its block
// locked or the clipboard open, and quorvel.exe's handle is closed once, even when
// the run's thread runs out of memory.
TEST(ClientStart, EveryOutcomeArrivesOnceItsRunHoldsItsId) {
  const char* driver = std::getenv("QVCLIENT_DRIVER");
  ASSERT_NE(driver, nullptr);
  const std::wstring helper(driver, driver + std::char_traits<char>::length(driver));
  ::SetEnvironmentVariableW(L"QVCLIENT_HELPER_SLEEP", nullptr);
  using quorvel::test::ImportedAddress;
  const quorvel::test::ScopedImportHook hooks[] = {
      {ImportedAddress(L"user32.dll", "PostMessageW"), Address(&WatchedPost)},
      {ImportedAddress(L"kernel32.dll", "ResumeThread"), Address(&ResumeUntilPosted)},
      {ImportedAddress(L"kernel32.dll", "GlobalLock"), Address(&CountedLock)},
      {ImportedAddress(L"kernel32.dll", "GlobalUnlock"), Address(&CountedUnlock)},
      {ImportedAddress(L"user32.dll", "OpenClipboard"), Address(&CountedOpen)},
      {ImportedAddress(L"user32.dll", "CloseClipboard"), Address(&CountedClose)},
      {ImportedAddress(L"kernel32.dll", "GetExitCodeProcess"), Address(&ExitCodeOf)},
      {ImportedAddress(L"kernel32.dll", "CloseHandle"), Address(&CountedCloseHandle)}};
  for (const auto& hook : hooks) ASSERT_GT(hook.patched(), 0);
  g_posted = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  const HWND window = MessageWindow();
  const struct {
    int line;
    const char* replaced;  // kernel32's, for the row
    const void* replacement;
    const wchar_t* helper;   // null: the driver, as another helper
    const wchar_t* publish;  // what that helper publishes
    int postsToFail;         // a full queue
    OutOfMemory outOfMemory;
    qc::Result result;
    HRESULT code;
    const wchar_t* reason;
  } rows[] = {
      {__LINE__, nullptr, nullptr, L"quorvel.exe", nullptr, 0, OutOfMemory::Never, qc::Result::Refused,
       E_INVALIDARG, L"not absolute"},
      {__LINE__, "CreateThread", Address(&NoThread), L"C:\\q.exe", nullptr, 0, OutOfMemory::Never,
       qc::Result::Error, HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY), L"thread"},
      // The suspended thread still goes on when the start's report runs out of memory.
      {__LINE__, "CreateProcessW", Address(&FailingStart), L"C:\\q.exe", nullptr, 0, OutOfMemory::Never,
       qc::Result::Error, E_OUTOFMEMORY, L"memory"},
      {__LINE__, nullptr, nullptr, nullptr, nullptr, 5, OutOfMemory::Never, qc::Result::CreatedNamesUnknown, S_OK,
       L"unknown"},
      {__LINE__, nullptr, nullptr, nullptr, L"foreign", 0, OutOfMemory::InTheCopy, qc::Result::CreatedNamesUnknown,
       S_OK, L"0x8007000E"},
      {__LINE__, nullptr, nullptr, nullptr, nullptr, 0, OutOfMemory::AfterTheExit, qc::Result::Error, E_OUTOFMEMORY,
       L"memory"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    const quorvel::test::ScopedImportHook hook(row.replaced ? ImportedAddress(L"kernel32.dll", row.replaced) : nullptr,
                                               row.replacement);
    ASSERT_TRUE(!row.replaced || hook.patched() > 0);
    ::SetEnvironmentVariableW(L"QVCLIENT_HELPER_PUBLISH", row.publish);
    g_postsToFail = row.postsToFail;
    g_outOfMemory = row.outOfMemory;
    g_postsAhead = g_held = g_processCloses = 0;
    g_process = nullptr;
    ::ResetEvent(g_posted);
    qc::Run run;
    g_run = &run;
    ASSERT_EQ(qc::StartCreateWizard(window, WM_APP + 3, row.helper ? row.helper : helper, L"OU=a",
                                    qc::ObjectType::User, run),
              S_OK);
    MSG msg{};
    for (int wait = 0; wait < 200 && !::PeekMessageW(&msg, window, WM_APP + 3, WM_APP + 3, PM_REMOVE); ++wait) {
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_POSTMESSAGE);
    }
    EXPECT_LT(g_postsToFail.load(), 0);  // every failure was met, then a post went through
    EXPECT_EQ(g_postsAhead.load(), 0) << "posts tried before the run held its id";
    EXPECT_EQ(g_held.load(), 0) << "locks and opens left";
    EXPECT_EQ(g_processCloses.load(), g_process ? 1 : 0);
    ASSERT_EQ(msg.message, static_cast<UINT>(WM_APP + 3));
    EXPECT_EQ(msg.wParam, run.Id());
    const auto outcome = qc::TakeOutcome(msg.lParam);
    ASSERT_NE(outcome, nullptr);
    EXPECT_EQ(outcome->result, row.result);
    EXPECT_EQ(outcome->code, row.code);
    EXPECT_NE(outcome->reason.find(row.reason), std::wstring::npos) << outcome->reason;
  }
  g_run = nullptr;
  ::CloseHandle(g_posted);
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
