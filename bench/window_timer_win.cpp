// bench_window_timer PROGRAM [TAIL]: starts PROGRAM with TAIL passed on verbatim, and
// times how long its first visible top-level window takes to appear; then cancels
// that window (WM_CLOSE, which a property sheet and a dialog both take as Cancel)
// and times the end of the process. Prints one line:
//   window_us=N end_us=N close_us=N cpu_window_us=N cpu_end_us=N status=0xXXXXXXXX
// window and end counted from just before CreateProcessW, close from the cancel; the
// cpu figures are the program's own processor time (user and kernel) at those points,
// which other load on the machine disturbs less than the wall time.
// Exit status 0 when a window appeared and the program ended, 2 otherwise.
//
// bench_window_timer --client QUORVEL SWITCH: the same job started through the client
// library (StartPropertySheet or StartCreateWizard, the outcome posted to a window of
// this thread), so that the two ways can be set side by side. The window is that of
// the quorvel.exe the client started, a child of this process; the end is when the
// outcome has come, which is later than quorvel.exe's exit.
#include "app/dispatch.h"
#include "platform/win/unique_handle.h"
#include "quorvel_client.h"

#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>

namespace {

struct Search {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK FindVisible(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<Search*>(parameter);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if (owner != search->processId || !::IsWindowVisible(window)) return TRUE;
  search->found = window;
  return FALSE;
}

// User and kernel time the process has taken so far.
long long CpuMicroseconds(HANDLE process) {
  FILETIME created, exited, kernel, user;
  if (!::GetProcessTimes(process, &created, &exited, &kernel, &user)) return -1;
  const auto ticks = [](const FILETIME& t) {
    return static_cast<long long>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
  };
  return (ticks(kernel) + ticks(user)) / 10;
}

long long Microseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to, const LARGE_INTEGER& frequency) {
  return (to.QuadPart - from.QuadPart) * 1000000 / frequency.QuadPart;
}

// A process named `name` that this one started, or 0 while there is none. By name:
// Wine starts a conhost.exe as a child of this console program as well.
DWORD ChildProcessId(const wchar_t* name) {
  const HANDLE raw = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (raw == INVALID_HANDLE_VALUE) return 0;
  const quorvel::UniqueThreadHandle snapshot(raw);
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ParentProcessID == ::GetCurrentProcessId() && ::lstrcmpiW(entry.szExeFile, name) == 0)
      return entry.th32ProcessID;
  }
  return 0;
}

constexpr UINT kOutcome = WM_APP + 1;

// Waits up to 1 ms for the process (when there is one) or a message, and takes the
// messages that came: the client's run posts its outcome here.
bool WaitAndPump(HANDLE process, std::unique_ptr<quorvel::client::Outcome>& outcome) {
  const DWORD woke = ::MsgWaitForMultipleObjects(process ? 1 : 0, &process, FALSE, 1, QS_ALLINPUT);
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == kOutcome) outcome = quorvel::client::TakeOutcome(message.lParam);
    else ::DispatchMessageW(&message);
  }
  return process && woke == WAIT_OBJECT_0;
}

}  // namespace

int wmain() {
  const wchar_t* line = ::GetCommandLineW();
  const std::u16string_view whole(reinterpret_cast<const char16_t*>(line), std::wcslen(line));
  const std::u16string_view rest = quorvel::CommandTailFrom(whole);
  if (rest.empty()) {
    std::fputs("usage: bench_window_timer PROGRAM [ARGUMENTS]\n", stderr);
    return 2;
  }
  std::wstring child(reinterpret_cast<const wchar_t*>(rest.data()), rest.size());
  const std::wstring clientSwitch = L"--client ";
  const bool client = child.compare(0, clientSwitch.size(), clientSwitch) == 0;
  std::wstring helper, argument;
  if (client) {
    child.erase(0, clientSwitch.size());
    const size_t blank = child.find(L' ');
    helper = child.substr(0, blank);
    argument = blank == std::wstring::npos ? L"" : child.substr(blank + 1);
  }
  const std::wstring sheetSwitch = L"/adproppage:", wizardSwitch = L"/adcreateobjwiz:";
  const bool sheet = argument.compare(0, sheetSwitch.size(), sheetSwitch) == 0;
  if (client && !sheet && argument.compare(0, wizardSwitch.size(), wizardSwitch) != 0) {
    std::fputs("usage: bench_window_timer --client QUORVEL /adproppage:PATH | /adcreateobjwiz:DN|TYPE\n", stderr);
    return 2;
  }
  // Made before the clock starts: the first window of a thread is dear under Wine.
  const HWND receiver = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  std::unique_ptr<quorvel::client::Outcome> outcome;
  quorvel::client::Run run;
  LARGE_INTEGER frequency, start, shown, cancelled, ended;
  ::QueryPerformanceFrequency(&frequency);
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  ::QueryPerformanceCounter(&start);
  if (client) {
    const size_t bar = argument.rfind(L'|');
    const HRESULT started =
        sheet ? quorvel::client::StartPropertySheet(receiver, kOutcome, helper, argument.substr(sheetSwitch.size()), run)
              : quorvel::client::StartCreateWizard(
                    receiver, kOutcome, helper, argument.substr(wizardSwitch.size(), bar - wizardSwitch.size()),
                    static_cast<quorvel::client::ObjectType>(std::wcstol(argument.c_str() + bar + 1, nullptr, 10)), run);
    while (SUCCEEDED(started) && !outcome && !(pi.dwProcessId = ChildProcessId(helper.c_str() + helper.find_last_of(L"\\/") + 1))) {
      WaitAndPump(nullptr, outcome);
      ::QueryPerformanceCounter(&shown);
      if (Microseconds(start, shown, frequency) > 60 * 1000000LL) break;
    }
    pi.hProcess = pi.dwProcessId ? ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pi.dwProcessId)
                                 : nullptr;
    if (!pi.hProcess) {
      std::fwprintf(stderr, L"bench_window_timer: the client started no quorvel.exe: 0x%08lX %ls\n",
                    static_cast<unsigned long>(outcome ? outcome->code : started), outcome ? outcome->reason.c_str() : L"");
      return 2;
    }
  } else if (!::CreateProcessW(nullptr, child.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    std::fprintf(stderr, "bench_window_timer: CreateProcessW failed, error %lu\n", ::GetLastError());
    return 2;
  }
  const quorvel::UniqueThreadHandle process(pi.hProcess);
  const quorvel::UniqueThreadHandle thread(pi.hThread);

  // Polled at 1 ms. Wine 8 delivered no out-of-context WinEvent (EVENT_OBJECT_SHOW,
  // hooked for the child's process id) in eight tries, so there is no hook. Each poll
  // is a few round trips to the wineserver, which the program timed needs as well:
  // the polling slows both programs alike, and a busy machine makes it dearer.
  Search search{pi.dwProcessId, nullptr};
  for (;;) {
    ::EnumWindows(FindVisible, reinterpret_cast<LPARAM>(&search));
    if (search.found) break;
    if (WaitAndPump(process.get(), outcome)) {
      DWORD code = 0;
      ::GetExitCodeProcess(process.get(), &code);
      std::fprintf(stderr, "bench_window_timer: the program ended without a visible window, status 0x%08lX\n",
                   static_cast<unsigned long>(code));
      return 2;
    }
    ::QueryPerformanceCounter(&shown);
    if (Microseconds(start, shown, frequency) > 60 * 1000000LL) {
      std::fputs("bench_window_timer: no window in 60 s\n", stderr);
      ::TerminateProcess(process.get(), 2);
      return 2;
    }
  }
  ::QueryPerformanceCounter(&shown);
  const long long cpuShown = CpuMicroseconds(process.get());

  ::QueryPerformanceCounter(&cancelled);
  ::PostMessageW(search.found, WM_CLOSE, 0, 0);
  bool gone = false;
  while (!gone || (client && !outcome)) {
    gone = WaitAndPump(process.get(), outcome) || gone;  // keeps pumping for the outcome
    ::QueryPerformanceCounter(&ended);
    if (Microseconds(cancelled, ended, frequency) > 60 * 1000000LL) {
      std::fprintf(stderr, "bench_window_timer: %s did not come in 60 s after the cancel\n",
                   gone ? "the client's outcome" : "the program's end");
      ::TerminateProcess(process.get(), 2);
      return 2;
    }
  }
  DWORD code = 0;
  if (!::GetExitCodeProcess(process.get(), &code)) return 2;
  using quorvel::client::Result;
  if (client && outcome->result != (sheet ? Result::Unchanged : Result::Cancelled)) {
    std::fwprintf(stderr, L"bench_window_timer: the client read the cancel as result %d: %ls\n",
                  static_cast<int>(outcome->result), outcome->reason.c_str());
    return 2;
  }
  std::printf("window_us=%lld end_us=%lld close_us=%lld cpu_window_us=%lld cpu_end_us=%lld status=0x%08lX\n",
              Microseconds(start, shown, frequency), Microseconds(start, ended, frequency),
              Microseconds(cancelled, ended, frequency), cpuShown, CpuMicroseconds(process.get()),
              static_cast<unsigned long>(code));
  std::fflush(stdout);
  return 0;
}
