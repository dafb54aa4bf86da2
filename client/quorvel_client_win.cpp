// The client's public calls: the caller's thread forms the line and starts
// quorvel.exe, and one thread per run waits for it (run_thread_win.cpp). The
// blocking calls are that same run with the caller's thread answering its messages
// until the thread ends, so both roads share every step.
#include "run_win.h"

#include <bcrypt.h>
#ifdef _MSC_VER
#pragma comment(lib, "bcrypt.lib")  // copied into a console's tree, the file brings its library along
#endif

#include <new>
#include <utility>

namespace quorvel::client {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows text is UTF-16");

std::u16string U16(std::wstring_view text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text.data()), text.size());
}
std::wstring Wide(std::u16string_view text) {
  return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

Outcome Make(Result result, HRESULT code, std::u16string_view reason) { return {result, code, Wide(reason), {}}; }
Outcome Failure(HRESULT code, std::u16string_view what) {
  return Make(Result::Error, code, std::u16string(what) + u" (" + rules::Hex(static_cast<std::uint32_t>(code)) + u").");
}
Outcome Thrown(HRESULT code, const wchar_t* reason) noexcept {
  Outcome outcome;
  outcome.code = code;
  try {
    outcome.reason = reason;
  } catch (...) {
  }
  return outcome;
}

std::wstring NativeHelperPath(std::wstring_view path) {
  // One spelling of the path, for the WoW64 mapping below and for the file that starts:
  // forward slashes, "..", "." and a trailing blank are resolved as CreateProcessW would.
  std::wstring full(MAX_PATH, L'\0');
  const std::wstring given(path);
  for (;;) {
    const DWORD n = ::GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n == 0) return given;  // CreateProcessW then says why
    const bool fits = n < full.size();
    full.resize(fits ? n : n + 1);
    if (fits) break;
  }
  BOOL wow64 = FALSE;
  if (!::IsWow64Process(::GetCurrentProcess(), &wow64) || !wow64) return full;
  wchar_t system[MAX_PATH], windows[MAX_PATH];
  const UINT s = ::GetSystemDirectoryW(system, MAX_PATH), w = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
  if (s == 0 || s >= MAX_PATH || w == 0 || w >= MAX_PATH) return full;
  return Wide(rules::SysnativePath(U16(full), U16({system, s}), U16({windows, w})));
}

namespace {

using StatePtr = std::shared_ptr<Run::State>;

// A wizard run's identity: 128 bits from the system's random number generator.
HRESULT NewIdentity(std::u16string& identity) {
  std::uint8_t random[rules::kIdentityBytes];
  const NTSTATUS status = ::BCryptGenRandom(nullptr, random, sizeof random, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
  if (status < 0) return HRESULT_FROM_NT(status);
  identity = rules::IdentityText(random);
  return S_OK;
}

// The state of a run whose line was formed; otherwise null and the outcome says why.
StatePtr Prepare(Job job, std::wstring_view givenPath, std::wstring_view argument, ObjectType type,
                 Outcome& refusal) {
  std::u16string identity;
  if (job == Job::Wizard) {
    if (const HRESULT hr = NewIdentity(identity); FAILED(hr)) {
      refusal = Failure(hr, u"No identity could be drawn for the wizard's run");
      return nullptr;
    }
    if (!RunFormat()) {
      refusal = Failure(LastErrorOfFailedCall(), u"The record's clipboard format could not be registered");
      return nullptr;
    }
  }
  // The path as given: a relative one is refused before anything resolves it.
  if (const std::u16string why = rules::HelperPathRefusal(U16(givenPath)); !why.empty()) {
    refusal = Make(Result::Refused, E_INVALIDARG, why);
    return nullptr;
  }
  const std::u16string helper = U16(NativeHelperPath(givenPath));
  const rules::CommandLine line =
      job == Job::Sheet ? rules::PropertySheetLine(helper, U16(argument))
                        : rules::CreateWizardLine(helper, U16(argument), static_cast<int>(type), identity);
  if (line.text.empty()) {
    refusal = Make(Result::Refused, E_INVALIDARG, line.refusal);
    return nullptr;
  }
  auto state = std::make_shared<Run::State>();
  state->job = job;
  state->helper = Wide(helper);
  state->line = Wide(line.text);
  state->identity = std::move(identity);
  return state;
}

Outcome Wait(Job job, std::wstring_view helperPath, std::wstring_view argument, ObjectType type,
             const MessageFilter& filter) {
  StatePtr state;
  // Leaving by an exception of the filter lets the run go.
  struct LetGo {
    StatePtr& state;
    ~LetGo() {
      if (state) AbandonState(*state);
    }
  } letGo{state};
  try {
    Outcome outcome;
    state = Prepare(job, helperPath, argument, type, outcome);
    if (!state) return outcome;
    const Handle thread = Launch(state, outcome);
    if (!thread) return outcome;
    for (;;) {
      const HANDLE handle = thread.get();
      const DWORD r = ::MsgWaitForMultipleObjectsEx(1, &handle, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
      if (r == WAIT_OBJECT_0) return std::move(std::exchange(state, nullptr)->outcome);
      if (r != WAIT_OBJECT_0 + 1)
        return Failure(LastErrorOfFailedCall(), u"Waiting for quorvel.exe failed; it was left running");
      MSG msg;
      while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
          // The thread's own loop must still see it, to end.
          ::PostQuitMessage(static_cast<int>(msg.wParam));
          return Make(Result::Error, E_ABORT,
                      u"The wait was given up because the thread is quitting; quorvel.exe was left running.");
        }
        if (filter && filter(msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
      }
    }
  } catch (const std::bad_alloc&) {
    return Thrown();
  }
}

// Whether the window is one of this process's: its handler deletes what lParam points to.
bool OurWindow(HWND window) {
  DWORD process = 0;
  return ::IsWindow(window) && ::GetWindowThreadProcessId(window, &process) != 0 &&
         process == ::GetCurrentProcessId();
}

HRESULT Start(Job job, HWND window, UINT message, std::wstring_view helperPath, std::wstring_view argument,
              ObjectType type, std::shared_ptr<Run::State>& slot) noexcept {
  if (slot) {
    AbandonState(*slot);
    slot.reset();
  }
  if (!OurWindow(window)) return E_HANDLE;
  try {
    Outcome outcome;
    StatePtr state = Prepare(job, helperPath, argument, type, outcome);
    // A refusal still gets an id of its own, so that its message can be told apart.
    if (!state) state = std::make_shared<Run::State>();
    state->window = window;
    state->message = message;
    // The run holds its state before anything is posted: a handler comparing wParam
    // with the run's Id() sees this run's.
    slot = state;
    if (state->line.empty() || !Launch(state, outcome)) {
      const HRESULT hr = Post(window, message, state->id, std::move(outcome));
      if (FAILED(hr)) slot.reset();
      return hr;
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    slot.reset();
    return E_OUTOFMEMORY;
  }
}

}  // namespace

Run::~Run() { Abandon(); }
Run::Run(Run&& other) noexcept : state_(std::move(other.state_)) {}
Run& Run::operator=(Run&& other) noexcept {
  if (this != &other) {
    Abandon();
    state_ = std::move(other.state_);
  }
  return *this;
}
UINT_PTR Run::Id() const noexcept { return state_ ? state_->id : 0; }
void Run::Abandon() noexcept {
  if (!state_) return;
  AbandonState(*state_);
  state_.reset();
}

Outcome RunPropertySheet(std::wstring_view helperPath, std::wstring_view adsPath, const MessageFilter& filter) {
  return Wait(Job::Sheet, helperPath, adsPath, ObjectType::User, filter);
}

Outcome RunCreateWizard(std::wstring_view helperPath, std::wstring_view containerDN, ObjectType type,
                        const MessageFilter& filter) {
  return Wait(Job::Wizard, helperPath, containerDN, type, filter);
}

HRESULT StartPropertySheet(HWND window, UINT message, std::wstring_view helperPath, std::wstring_view adsPath,
                           Run& run) noexcept {
  return Start(Job::Sheet, window, message, helperPath, adsPath, ObjectType::User, run.state_);
}

HRESULT StartCreateWizard(HWND window, UINT message, std::wstring_view helperPath, std::wstring_view containerDN,
                          ObjectType type, Run& run) noexcept {
  return Start(Job::Wizard, window, message, helperPath, containerDN, type, run.state_);
}

std::unique_ptr<Outcome> TakeOutcome(LPARAM lParam) noexcept {
  return std::unique_ptr<Outcome>(reinterpret_cast<Outcome*>(lParam));
}

}  // namespace quorvel::client
