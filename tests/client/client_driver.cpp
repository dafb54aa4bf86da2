// qvclient_driver: the client library as the end-to-end scripts drive it.
//   qvclient_driver [--async] [--no-probe] [--abandon CAPTION | --hold HOLDER] HELPER sheet ADSPATH | wizard DN TYPE
// Prints "outcome: RESULT 0xCODE", "names: DN|NAME|ACCOUNT" (Created only),
// "probes: N late: M" (a second thread's SendMessageTimeout to the caller's window every
// 100 ms of the run; late: over 1 s; "probes: off" with --no-probe), "reason: TEXT" and
// "wow64: parent=P helper=H": whether this process and the quorvel.exe it started ran under
// WoW64 (1/0; "-": no quorvel.exe of this process was seen).
// --no-probe: no second thread. Under QEMU's emulator a 32-bit Wine process with three
// threads or more crashes now and then; the library's own thread makes two.
// --abandon CAPTION (async): once a window of that caption is up, the run is let go;
//   prints "abandoned", and "message after abandon" should an outcome still arrive within 1 s.
// --hold HOLDER (async): once quorvel.exe runs, HOLDER (clipboard_holder.exe) keeps the
//   clipboard open until quorvel.exe has ended, so that its publication fails and the
//   library reads what was there before; prints "held".
// Started by the library as its helper (/adcreateobjwiz:... on its line), the driver
// plays another quorvel.exe: it ends with QVCLIENT_HELPER_EXIT (0 when unset) and
// publishes per QVCLIENT_HELPER_PUBLISH none, bare (the record alone, as one older than
// the library), foreign (under another run's identity) or mine-then-foreign (its own run's
// record, Listened Object, then 500 ms later foreign's); QVCLIENT_HELPER_WAIT=1 first
// shows a message box "Another helper" until it is answered, QVCLIENT_HELPER_SLEEP a
// number of milliseconds first.
#include "quorvel_client.h"
#include "support/win/message_window.h"

#include <tlhelp32.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

namespace qc = quorvel::client;

namespace {

constexpr UINT kDone = WM_APP + 1;
HWND window;
qc::Run run;
std::unique_ptr<qc::Outcome> posted;
const wchar_t* abandon;
bool abandoned, announced, released;
const wchar_t* holder;
HANDLE held, release, holderProcess;
std::atomic<bool> stop{false};
std::atomic<int> probes{0}, late{0};
int helperWow64 = -1;

void Print(const std::wstring& text) {
  std::printf("%ls\n", text.c_str());
  std::fflush(stdout);
}

bool QuorvelRunning() {
  const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  bool found = false;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more && !found; more = ::Process32NextW(snapshot, &entry))
    found = _wcsicmp(entry.szExeFile, L"quorvel.exe") == 0;
  ::CloseHandle(snapshot);
  return found;
}

void StartHolder() {
  const std::wstring tag = std::to_wstring(::GetCurrentProcessId());
  held = ::CreateEventW(nullptr, TRUE, FALSE, (L"qvclient-held-" + tag).c_str());
  release = ::CreateEventW(nullptr, TRUE, FALSE, (L"qvclient-release-" + tag).c_str());
  std::wstring line = L"\"" + std::wstring(holder) + L"\" qvclient-held-" + tag + L" qvclient-release-" + tag;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(holder, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return;
  holderProcess = pi.hProcess;
}

// The quorvel.exe this process started, looked for on a 20 ms timer of the caller's window
// (the library's waits dispatch it, the blocking one too): whether it runs under WoW64 is
// asked of the process itself, not read from its file.
void Watch() {
  const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
    if (entry.th32ParentProcessID != ::GetCurrentProcessId() || _wcsicmp(entry.szExeFile, L"quorvel.exe") != 0)
      continue;
    const HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
    BOOL wow64 = FALSE;
    if (process && ::IsWow64Process(process, &wow64)) helperWow64 = wow64 ? 1 : 0;
    if (process) ::CloseHandle(process);
  }
  ::CloseHandle(snapshot);
  if (helperWow64 >= 0) ::KillTimer(window, 3);
}

LRESULT CALLBACK WindowProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_TIMER && wParam == 3) {
    Watch();
  } else if (message == kDone) {
    auto outcome = qc::TakeOutcome(lParam);
    if (abandoned) Print(L"message after abandon");
    if (!abandoned && wParam == run.Id()) posted = std::move(outcome), ::PostQuitMessage(0);
  } else if (message == WM_TIMER && abandoned && wParam == 1) {
    ::PostQuitMessage(0);
  } else if (message == WM_TIMER && abandon && !abandoned && ::FindWindowW(nullptr, abandon)) {
    run.Abandon();
    abandoned = true;
    Print(L"abandoned");
    ::SetTimer(w, 1, 1000, nullptr);
  } else if (message == WM_TIMER && holder && !held && QuorvelRunning()) {
    StartHolder();
  } else if (message == WM_TIMER && held && !announced && ::WaitForSingleObject(held, 0) == WAIT_OBJECT_0) {
    announced = true;
    Print(L"held");
  } else if (message == WM_TIMER && announced && !released && !QuorvelRunning()) {
    released = ::SetEvent(release);
  } else {
    return ::DefWindowProcW(w, message, wParam, lParam);
  }
  return 0;
}

DWORD WINAPI Probe(void*) {
  for (; !stop; ::Sleep(100), ++probes) {
    const ULONGLONG t0 = ::GetTickCount64();
    DWORD_PTR result = 0;
    const bool answered = ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &result) &&
                          ::GetTickCount64() - t0 <= 1000;
    // Once the run is over the main thread waits for this one and answers no more.
    if (!answered && !stop) ++late;
  }
  return 0;
}

// Puts `bytes` under the registered format `name`; the clipboard is not emptied. The
// watching run opens the clipboard right after each change, the previous publication
// included: a busy clipboard is tried again for about a second, as quorvel.exe does.
void Publish(const wchar_t* name, const std::string& bytes) {
  HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  std::memcpy(::GlobalLock(block), bytes.data(), bytes.size());
  ::GlobalUnlock(block);
  bool open = false;
  for (int attempt = 0; attempt < 20 && !(open = ::OpenClipboard(nullptr)); ++attempt) ::Sleep(50);
  if (!open || !::SetClipboardData(::RegisterClipboardFormatW(name), block)) ::GlobalFree(block);
  if (open) ::CloseClipboard();
}

// A record of 680 bytes: the DN, the name and the account at their offsets, in UTF-16.
std::string Record(const std::string& dn, const std::string& name, const std::string& account) {
  std::string record(680, '\0');
  for (std::size_t i = 0; i < dn.size(); ++i) record[2 * i] = dn[i];
  for (std::size_t i = 0; i < name.size(); ++i) record[520 + 2 * i] = name[i];
  for (std::size_t i = 0; i < account.size(); ++i) record[648 + 2 * i] = account[i];
  return record;
}

int AnotherHelper(const wchar_t* line) {
  const char* publish = std::getenv("QVCLIENT_HELPER_PUBLISH");
  const char* wait = std::getenv("QVCLIENT_HELPER_WAIT");
  if (const char* sleep = std::getenv("QVCLIENT_HELPER_SLEEP")) ::Sleep(std::strtoul(sleep, nullptr, 10));
  const char* exit = std::getenv("QVCLIENT_HELPER_EXIT");
  const auto status = static_cast<int>(exit ? std::strtoul(exit, nullptr, 0) : 0);
  if (wait && std::strcmp(wait, "1") == 0) ::MessageBoxW(nullptr, L"Ends.", L"Another helper", MB_OK);
  if (!publish || std::strcmp(publish, "none") == 0) return status;
  if (std::strcmp(publish, "mine-then-foreign") == 0) {
    // The run's identity is the line's third field, after the second "|".
    std::string mine = Record("CN=Listened Object,OU=Staff,DC=example,DC=com", "Listened Object", "listened");
    const wchar_t* identity = std::wcschr(line, L'|');
    identity = identity ? std::wcschr(identity + 1, L'|') : nullptr;
    for (const wchar_t* c = identity ? identity + 1 : L""; *c; ++c) mine += {static_cast<char>(*c), '\0'};
    Publish(L"tarnwick.adcreateobjwiz.clip", mine.substr(0, 680));
    Publish(L"tarnwick.adcreateobjwiz.run", mine + std::string(2, '\0'));
    ::Sleep(500);
  }
  const std::string record = Record("CN=Foreign Object,OU=Staff,DC=example,DC=com", "", "");
  Publish(L"tarnwick.adcreateobjwiz.clip", record);
  if (std::strcmp(publish, "bare") != 0) Publish(L"tarnwick.adcreateobjwiz.run", record + std::string("F\0\0\0", 4));
  return status;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc > 1 && std::wcsncmp(argv[1], L"/adcreateobjwiz:", 16) == 0) return AnotherHelper(argv[1]);
  bool async = false, probe = true;
  int i = 1;
  for (; i < argc && argv[i][0] == L'-'; ++i) {
    async = async || std::wcscmp(argv[i], L"--async") == 0;
    probe = probe && std::wcscmp(argv[i], L"--no-probe") != 0;
    if (std::wcscmp(argv[i], L"--abandon") == 0 && i + 1 < argc) abandon = argv[++i];
    if (std::wcscmp(argv[i], L"--hold") == 0 && i + 1 < argc) holder = argv[++i];
  }
  const bool sheet = argc - i == 3 && std::wcscmp(argv[i + 1], L"sheet") == 0;
  if (!sheet && !(argc - i == 4 && std::wcscmp(argv[i + 1], L"wizard") == 0)) return 2;
  const std::wstring_view helper = argv[i], argument = argv[i + 2];
  const auto type = static_cast<qc::ObjectType>(sheet ? 0 : std::wcstol(argv[i + 3], nullptr, 10));

  window = quorvel::test::MessageOnlyWindow(L"qvclient_driver", WindowProc);
  HANDLE prober = probe ? ::CreateThread(nullptr, 0, Probe, nullptr, 0, nullptr) : nullptr;
  ::SetTimer(window, 3, 20, nullptr);
  qc::Outcome outcome;
  if (!async) {
    outcome = sheet ? qc::RunPropertySheet(helper, argument) : qc::RunCreateWizard(helper, argument, type);
  } else if (const HRESULT hr = sheet ? qc::StartPropertySheet(window, kDone, helper, argument, run)
                                      : qc::StartCreateWizard(window, kDone, helper, argument, type, run);
             FAILED(hr)) {
    outcome.code = hr;
  } else {
    ::SetTimer(window, 2, 100, nullptr);
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
    if (posted) outcome = *posted;
  }
  stop = true;
  if (prober) ::WaitForSingleObject(prober, INFINITE);
  if (release) ::SetEvent(release), ::WaitForSingleObject(holderProcess, 10000);
  if (!abandoned) {
    wchar_t code[16];
    std::swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(outcome.code));
    const wchar_t* names[] = {L"Unchanged", L"Changed",  L"BindFailed", L"Created", L"CreatedNamesUnknown",
                              L"Cancelled", L"Failed", L"Refused",    L"Error"};
    Print(L"outcome: " + std::wstring(names[static_cast<int>(outcome.result)]) + L" " + code);
    if (outcome.result == qc::Result::Created)
      Print(L"names: " + outcome.created.distinguishedName + L"|" + outcome.created.name + L"|" +
            outcome.created.samAccountName);
    Print(L"reason: " + outcome.reason);
  }
  Print(probe ? L"probes: " + std::to_wstring(probes.load()) + L" late: " + std::to_wstring(late.load())
              : L"probes: off");
  BOOL self = FALSE;
  ::IsWow64Process(::GetCurrentProcess(), &self);
  Print(L"wow64: parent=" + std::to_wstring(self ? 1 : 0) +
        L" helper=" + (helperWow64 < 0 ? std::wstring(L"-") : std::to_wstring(helperWow64)));
  return 0;
}
