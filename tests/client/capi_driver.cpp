// qvcapi_driver: quorvel_client.dll as a C#, Delphi or VB console takes it, by
// LoadLibraryW and GetProcAddress, with no import library.
//   qvcapi_driver [--dll PATH] [--helper PATH] [--async] sheet ADSPATH | wizard DN TYPE | locate
// Prints "wow64: 0|1", "version: X.Y.Z", "helper: PATH" (when located), "outcome: RESULT
// 0xCODE", "names: DN|NAME|ACCOUNT" (Created only) and "reason: TEXT". Without --helper,
// quorvel.exe is found through the DLL's QuorvelLocate; without --dll, the DLL is
// the build tree's (..\..\client\ from this program). Exit: 0, 1 when not located,
// 2 usage, 3 the DLL or a function of it missing, 4 a call failed.
#include "quorvel_client_c.h"
#include "support/win/message_window.h"

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

struct Api {
  decltype(&QuorvelGetVersion) getVersion;
  decltype(&QuorvelLocate) locate;
  decltype(&QuorvelRunPropertySheet) runSheet;
  decltype(&QuorvelRunCreateWizard) runWizard;
  decltype(&QuorvelStartPropertySheet) startSheet;
  decltype(&QuorvelStartCreateWizard) startWizard;
  decltype(&QuorvelGetRunId) getRunId;
  decltype(&QuorvelCloseRun) closeRun;
  decltype(&QuorvelTakeOutcome) takeOutcome;
  decltype(&QuorvelFreeOutcome) freeOutcome;
  decltype(&QuorvelFree) free;
};

template <typename F>
bool Bind(HMODULE dll, const char* name, F& function) {
  // Through void(*)(): the one function type a cast to and from does not warn about.
  function = reinterpret_cast<F>(reinterpret_cast<void (*)()>(::GetProcAddress(dll, name)));
  if (!function) std::printf("reason: %s is not exported\n", name);
  return function != nullptr;
}

bool Load(const std::wstring& path, Api& api) {
  const HMODULE dll = ::LoadLibraryW(path.c_str());
  if (!dll) {
    std::printf("reason: %ls could not be loaded (%lu)\n", path.c_str(), ::GetLastError());
    return false;
  }
  return Bind(dll, "QuorvelGetVersion", api.getVersion) & Bind(dll, "QuorvelLocate", api.locate) &
         Bind(dll, "QuorvelRunPropertySheet", api.runSheet) & Bind(dll, "QuorvelRunCreateWizard", api.runWizard) &
         Bind(dll, "QuorvelStartPropertySheet", api.startSheet) &
         Bind(dll, "QuorvelStartCreateWizard", api.startWizard) & Bind(dll, "QuorvelGetRunId", api.getRunId) &
         Bind(dll, "QuorvelCloseRun", api.closeRun) & Bind(dll, "QuorvelTakeOutcome", api.takeOutcome) &
         Bind(dll, "QuorvelFreeOutcome", api.freeOutcome) & Bind(dll, "QuorvelFree", api.free);
}

constexpr UINT kDone = WM_APP + 1;
Api api;
UINT_PTR runId;
QUORVEL_OUTCOME posted{sizeof posted, QUORVEL_ERROR, E_UNEXPECTED, nullptr, nullptr, nullptr, nullptr};
HRESULT taken = E_PENDING;

LRESULT CALLBACK WindowProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != kDone) return ::DefWindowProcW(w, message, wParam, lParam);
  QUORVEL_OUTCOME outcome{sizeof outcome, 0, 0, nullptr, nullptr, nullptr, nullptr};
  const HRESULT hr = api.takeOutcome(lParam, &outcome);
  if (wParam != runId) {
    api.freeOutcome(&outcome);
    return 0;
  }
  posted = outcome;
  taken = hr;
  ::PostQuitMessage(0);
  return 0;
}

// Runs the job asynchronously, as a console's window does.
HRESULT RunAsync(bool sheet, const wchar_t* helper, const wchar_t* argument, INT type, QUORVEL_OUTCOME& outcome) {
  const HWND window = quorvel::test::MessageOnlyWindow(L"qvcapi_driver", WindowProc);
  QUORVEL_RUN run = nullptr;
  HRESULT hr = sheet ? api.startSheet(window, kDone, helper, argument, &run)
                     : api.startWizard(window, kDone, helper, argument, type, &run);
  if (FAILED(hr)) return hr;
  if (FAILED(hr = api.getRunId(run, &runId))) return hr;
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
  api.closeRun(run);
  outcome = posted;
  return taken;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring dll;
  const wchar_t* helper = nullptr;
  bool async = false;
  int i = 1;
  for (; i < argc && argv[i][0] == L'-'; ++i) {
    if (std::wcscmp(argv[i], L"--async") == 0) async = true;
    else if (std::wcscmp(argv[i], L"--dll") == 0 && i + 1 < argc) dll = argv[++i];
    else if (std::wcscmp(argv[i], L"--helper") == 0 && i + 1 < argc) helper = argv[++i];
    else return 2;
  }
  const std::wstring job = i < argc ? argv[i] : L"";
  const bool sheet = job == L"sheet" && argc - i == 2, wizard = job == L"wizard" && argc - i == 3;
  if (!sheet && !wizard && !(job == L"locate" && argc - i == 1)) return 2;

  BOOL wow64 = FALSE;
  ::IsWow64Process(::GetCurrentProcess(), &wow64);
  std::printf("wow64: %d\n", wow64 ? 1 : 0);
  if (dll.empty()) {
    wchar_t self[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    dll.assign(self, n);
    dll = dll.substr(0, dll.find_last_of(L'\\') + 1) + L"..\\..\\client\\quorvel_client.dll";
  }
  if (!Load(dll, api)) return 3;
  DWORD major = 0, minor = 0, patch = 0;
  if (FAILED(api.getVersion(&major, &minor, &patch))) return 4;
  std::printf("version: %lu.%lu.%lu\n", major, minor, patch);

  LPWSTR located = nullptr;
  if (!helper) {
    LPWSTR reason = nullptr;
    const HRESULT hr = api.locate(&located, &reason);
    if (FAILED(hr)) return 4;
    if (located) std::printf("helper: %ls\n", located);
    if (hr != S_OK || job == L"locate") std::printf("reason: %ls\n", reason);
    api.free(reason);
    if (hr != S_OK) return 1;
    if (job == L"locate") return api.free(located), 0;
    helper = located;
  }
  QUORVEL_OUTCOME outcome{sizeof outcome, 0, 0, nullptr, nullptr, nullptr, nullptr};
  const INT type = wizard ? static_cast<INT>(std::wcstol(argv[i + 2], nullptr, 10)) : 0;
  HRESULT hr;
  if (async)
    hr = RunAsync(sheet, helper, argv[i + 1], type, outcome);
  else
    hr = sheet ? api.runSheet(helper, argv[i + 1], &outcome) : api.runWizard(helper, argv[i + 1], type, &outcome);
  api.free(located);
  if (FAILED(hr)) {
    std::printf("reason: the call failed (0x%08lX)\n", static_cast<unsigned long>(hr));
    return 4;
  }
  const wchar_t* names[] = {L"Unchanged", L"Changed", L"BindFailed", L"Created", L"CreatedNamesUnknown",
                            L"Cancelled", L"Failed",  L"Refused",    L"Error"};
  std::printf("outcome: %ls 0x%08lX\n", outcome.result >= 0 && outcome.result <= 8 ? names[outcome.result] : L"?",
              static_cast<unsigned long>(outcome.code));
  if (outcome.result == QUORVEL_CREATED)
    std::printf("names: %ls|%ls|%ls\n", outcome.distinguishedName, outcome.name, outcome.samAccountName);
  std::printf("reason: %ls\n", outcome.reason);
  api.freeOutcome(&outcome);
  return 0;
}
