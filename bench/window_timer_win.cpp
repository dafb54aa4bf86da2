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
// this thread), so that the two ways can be set side by side. The end is when the
// outcome has come, which is later than quorvel.exe's exit.
// Both ways look for the window alike: the first visible top-level window of another
// process that was not there before the start. Looking for the client's child by a
// process snapshot instead made the wineserver list every process each millisecond
// while quorvel.exe started, and that cost showed as the client's.
#include "app/dispatch.h"
#include "platform/win/unique_handle.h"
#include "quorvel_client.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Search {
  std::vector<HWND> before;  // visible when the clock started
  HWND found;
};

BOOL CALLBACK FindVisible(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<Search*>(parameter);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if (owner == ::GetCurrentProcessId() || !::IsWindowVisible(window) ||
      std::find(search->before.begin(), search->before.end(), window) != search->before.end())
    return TRUE;
  search->found = window;
  return FALSE;
}

BOOL CALLBACK ListVisible(HWND window, LPARAM parameter) {
  if (::IsWindowVisible(window)) reinterpret_cast<std::vector<HWND>*>(parameter)->push_back(window);
  return TRUE;
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
  Search search{{}, nullptr};
  ::EnumWindows(ListVisible, reinterpret_cast<LPARAM>(&search.before));
  LARGE_INTEGER frequency, start, shown, cancelled, ended;
  ::QueryPerformanceFrequency(&frequency);
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  HRESULT started = S_OK;
  ::QueryPerformanceCounter(&start);
  if (client) {
    const size_t bar = argument.rfind(L'|');
    started =
        sheet ? quorvel::client::StartPropertySheet(receiver, kOutcome, helper, argument.substr(sheetSwitch.size()), run)
              : quorvel::client::StartCreateWizard(
                    receiver, kOutcome, helper, argument.substr(wizardSwitch.size(), bar - wizardSwitch.size()),
                    static_cast<quorvel::client::ObjectType>(std::wcstol(argument.c_str() + bar + 1, nullptr, 10)), run);
  } else if (!::CreateProcessW(nullptr, child.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    std::fprintf(stderr, "bench_window_timer: CreateProcessW failed, error %lu\n", ::GetLastError());
    return 2;
  }
  quorvel::UniqueKernelHandle process(pi.hProcess);
  const quorvel::UniqueKernelHandle thread(pi.hThread);

  // Polled at 1 ms. Wine 8 delivered no out-of-context WinEvent (EVENT_OBJECT_SHOW,
  // hooked for the child's process id) in eight tries, so there is no hook. Each poll
  // is a few round trips to the wineserver, which the program timed needs as well:
  // the polling slows both programs alike, and a busy machine makes it dearer.
  // Through the client the process is known by its window; an outcome before it
  // means the run ended without one.
  for (;;) {
    ::EnumWindows(FindVisible, reinterpret_cast<LPARAM>(&search));
    if (search.found) break;
    if (WaitAndPump(process.get(), outcome) || FAILED(started) || outcome) {
      DWORD code = 0;
      if (process) ::GetExitCodeProcess(process.get(), &code);
      std::fwprintf(stderr, L"bench_window_timer: the program ended without a visible window, status 0x%08lX %ls\n",
                    static_cast<unsigned long>(process ? code : static_cast<DWORD>(outcome ? outcome->code : started)),
                    outcome ? outcome->reason.c_str() : L"");
      return 2;
    }
    ::QueryPerformanceCounter(&shown);
    if (Microseconds(start, shown, frequency) > 60 * 1000000LL) {
      std::fputs("bench_window_timer: no window in 60 s\n", stderr);
      if (process) ::TerminateProcess(process.get(), 2);
      return 2;
    }
  }
  DWORD owner = 0;
  ::GetWindowThreadProcessId(search.found, &owner);
  if (client) {
    process = quorvel::UniqueKernelHandle(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, owner));
    if (!process) {
      std::fprintf(stderr, "bench_window_timer: the window's process could not be opened, error %lu\n", ::GetLastError());
      return 2;
    }
  } else if (owner != pi.dwProcessId) {
    std::fputs("bench_window_timer: a window of another program appeared first\n", stderr);
    ::TerminateProcess(process.get(), 2);
    return 2;
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
