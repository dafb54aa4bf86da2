// bench_window_timer PROGRAM [TAIL]: starts PROGRAM with TAIL passed on verbatim, and
// times how long its first visible top-level window takes to appear; then cancels
// that window (WM_CLOSE, which a property sheet and a dialog both take as Cancel)
// and times the end of the process. Prints one line:
//   window_us=N end_us=N close_us=N cpu_window_us=N cpu_end_us=N status=0xXXXXXXXX
// window and end counted from just before CreateProcessW, close from the cancel; the
// cpu figures are the program's own processor time (user and kernel) at those points,
// which other load on the machine disturbs less than the wall time.
// Exit status 0 when a window appeared and the program ended, 2 otherwise.
#include "app/dispatch.h"
#include "platform/win/unique_handle.h"

#include <cstdio>
#include <cwchar>
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
  LARGE_INTEGER frequency, start, shown, cancelled, ended;
  ::QueryPerformanceFrequency(&frequency);
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  ::QueryPerformanceCounter(&start);
  if (!::CreateProcessW(nullptr, child.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
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
    if (::WaitForSingleObject(process.get(), 1) != WAIT_TIMEOUT) {
      std::fputs("bench_window_timer: the program ended without a visible window\n", stderr);
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
  if (::WaitForSingleObject(process.get(), 60 * 1000) != WAIT_OBJECT_0) {
    std::fputs("bench_window_timer: the program did not end in 60 s after the cancel\n", stderr);
    ::TerminateProcess(process.get(), 2);
    return 2;
  }
  ::QueryPerformanceCounter(&ended);
  DWORD code = 0;
  if (!::GetExitCodeProcess(process.get(), &code)) return 2;
  std::printf("window_us=%lld end_us=%lld close_us=%lld cpu_window_us=%lld cpu_end_us=%lld status=0x%08lX\n",
              Microseconds(start, shown, frequency), Microseconds(start, ended, frequency),
              Microseconds(cancelled, ended, frequency), cpuShown, CpuMicroseconds(process.get()),
              static_cast<unsigned long>(code));
  std::fflush(stdout);
  return 0;
}
