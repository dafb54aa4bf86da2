// qvclient_driver: the client library as the end-to-end scripts drive it.
//   qvclient_driver [--async [--abandon | --hold HOLDER]] HELPER sheet ADSPATH
//   qvclient_driver [--async [--hold HOLDER]] HELPER wizard DN TYPE
// Prints, UTF-8, one item a line:
//   outcome: RESULT 0xCODE
//   names: DN|NAME|ACCOUNT                      (Created only)
//   probes: N late: M   a second thread's SendMessageTimeout to the caller's window
//                       every 100 ms while the run lasted; late ones took over 1 s
//   reason: TEXT
// --abandon: once a " - Properties" window is up the run is let go; prints
//   "abandoned", and "message after abandon" should its outcome still arrive within 1 s.
// --hold HOLDER: once a "New Object - " window is up, HOLDER (clipboard_holder.exe)
//   keeps the clipboard open until the run ends; prints "held" when it does.
#include "quorvel_client.h"

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <string>

namespace qc = quorvel::client;

namespace {

constexpr UINT kDone = WM_APP + 1;
constexpr UINT_PTR kPoll = 1, kAfterAbandon = 2;

void Print(const std::wstring& text) {
  std::string utf8(static_cast<size_t>(text.size() * 3 + 1), '\0');
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(),
                                      static_cast<int>(utf8.size()), nullptr, nullptr);
  utf8.resize(static_cast<size_t>(n > 0 ? n : 0));
  std::printf("%s\n", utf8.c_str());
  std::fflush(stdout);
}

const wchar_t* Name(qc::Result r) {
  static const wchar_t* names[] = {L"Unchanged", L"Changed", L"BindFailed", L"Created", L"CreatedNamesUnknown",
                                   L"Cancelled", L"Failed", L"Refused", L"Error"};
  return names[static_cast<int>(r)];
}

struct Driver {
  HWND window = nullptr;
  qc::Run run;
  std::unique_ptr<qc::Outcome> outcome;
  bool abandon = false, abandoned = false, late = false;
  const wchar_t* holder = nullptr;
  HANDLE held = nullptr, release = nullptr, holderProcess = nullptr;
  std::atomic<bool> stop{false};
  std::atomic<int> probes{0}, lateProbes{0};
} driver;

// A top-level window whose title starts (or, with a leading '*', ends) with the text.
bool WindowTitled(const wchar_t* pattern) {
  struct Search {
    const wchar_t* pattern;
    bool found;
  } search{pattern, false};
  ::EnumWindows(
      [](HWND w, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        wchar_t title[256] = {};
        const size_t n = static_cast<size_t>(::GetWindowTextW(w, title, 256));
        const bool suffix = s->pattern[0] == L'*';
        const wchar_t* want = s->pattern + (suffix ? 1 : 0);
        const size_t m = std::wcslen(want);
        s->found = n >= m && std::wcsncmp(title + (suffix ? n - m : 0), want, m) == 0;
        return !s->found;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

void StartHolder() {
  const std::wstring tag = std::to_wstring(::GetCurrentProcessId());
  const std::wstring heldName = L"qvclient-held-" + tag, releaseName = L"qvclient-release-" + tag;
  driver.held = ::CreateEventW(nullptr, TRUE, FALSE, heldName.c_str());
  driver.release = ::CreateEventW(nullptr, TRUE, FALSE, releaseName.c_str());
  std::wstring line = L"\"" + std::wstring(driver.holder) + L"\" " + heldName + L" " + releaseName;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (::CreateProcessW(driver.holder, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    ::CloseHandle(pi.hThread);
    driver.holderProcess = pi.hProcess;
    if (::WaitForSingleObject(driver.held, 10000) == WAIT_OBJECT_0) Print(L"held");
  }
}

LRESULT CALLBACK WindowProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kDone) {
    auto outcome = qc::TakeOutcome(lParam);
    if (driver.abandoned) {
      Print(L"message after abandon");
    } else if (wParam == driver.run.Id()) {
      driver.outcome = std::move(outcome);
      ::PostQuitMessage(0);
    }
    return 0;
  }
  if (message == WM_TIMER && wParam == kPoll) {
    if (driver.abandon && WindowTitled(L"* - Properties")) {
      driver.run.Abandon();
      driver.abandoned = true;
      Print(L"abandoned");
      ::KillTimer(w, kPoll);
      ::SetTimer(w, kAfterAbandon, 1000, nullptr);
    } else if (driver.holder && !driver.held && WindowTitled(L"New Object - ")) {
      StartHolder();
      ::KillTimer(w, kPoll);
    }
    return 0;
  }
  if (message == WM_TIMER && wParam == kAfterAbandon) {
    ::PostQuitMessage(0);
    return 0;
  }
  return ::DefWindowProcW(w, message, wParam, lParam);
}

DWORD WINAPI Probe(void*) {
  while (!driver.stop) {
    const ULONGLONG t0 = ::GetTickCount64();
    DWORD_PTR result = 0;
    const bool answered = ::SendMessageTimeoutW(driver.window, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &result) != 0;
    ++driver.probes;
    if (!answered || ::GetTickCount64() - t0 > 1000) ++driver.lateProbes;
    ::Sleep(100);
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  bool async = false;
  int i = 1;
  for (; i < argc && argv[i][0] == L'-'; ++i) {
    if (std::wcscmp(argv[i], L"--async") == 0) async = true;
    if (std::wcscmp(argv[i], L"--abandon") == 0) driver.abandon = true;
    if (std::wcscmp(argv[i], L"--hold") == 0 && i + 1 < argc) driver.holder = argv[++i];
  }
  const bool sheet = argc - i == 3 && std::wcscmp(argv[i + 1], L"sheet") == 0;
  const bool wizard = argc - i == 4 && std::wcscmp(argv[i + 1], L"wizard") == 0;
  if (!sheet && !wizard) {
    std::fputs("usage: qvclient_driver [--async [--abandon | --hold HOLDER]] HELPER sheet PATH | wizard DN TYPE\n",
               stderr);
    return 2;
  }
  const std::wstring_view helper = argv[i], argument = argv[i + 2];
  const auto type = static_cast<qc::ObjectType>(wizard ? std::wcstol(argv[i + 3], nullptr, 10) : 0);

  WNDCLASSW wc{};
  wc.lpfnWndProc = WindowProc;
  wc.lpszClassName = L"qvclient_driver";
  ::RegisterClassW(&wc);
  driver.window = ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  HANDLE prober = ::CreateThread(nullptr, 0, Probe, nullptr, 0, nullptr);

  qc::Outcome outcome;
  if (!async) {
    outcome = sheet ? qc::RunPropertySheet(helper, argument) : qc::RunCreateWizard(helper, argument, type);
  } else {
    const HRESULT hr = sheet ? qc::StartPropertySheet(driver.window, kDone, helper, argument, driver.run)
                             : qc::StartCreateWizard(driver.window, kDone, helper, argument, type, driver.run);
    if (FAILED(hr)) {
      outcome = {qc::Result::Error, hr, L"the start failed", {}};
    } else {
      if (driver.abandon || driver.holder) ::SetTimer(driver.window, kPoll, 100, nullptr);
      MSG msg;
      while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
      if (driver.outcome) outcome = *driver.outcome;
    }
  }
  driver.stop = true;
  ::WaitForSingleObject(prober, INFINITE);
  if (driver.release) {
    ::SetEvent(driver.release);
    ::WaitForSingleObject(driver.holderProcess, 10000);
  }
  if (!driver.abandoned) {
    wchar_t code[16];
    std::swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(outcome.code));
    Print(L"outcome: " + std::wstring(Name(outcome.result)) + L" " + code);
    if (outcome.result == qc::Result::Created)
      Print(L"names: " + outcome.created.distinguishedName + L"|" + outcome.created.name + L"|" +
            outcome.created.samAccountName);
  }
  Print(L"probes: " + std::to_wstring(driver.probes.load()) + L" late: " + std::to_wstring(driver.lateProbes.load()));
  if (!driver.abandoned) Print(L"reason: " + outcome.reason);
  return 0;
}
