// The Win32 side of the client: the caller's thread starts quorvel.exe, and one
// thread per run waits for it and, for the wizard, watches the clipboard for the
// record published under the run's identity. The blocking calls are that same run
// with the caller's thread answering its messages until the thread ends, so both
// roads share every step.
#include "client_rules.h"

#include <bcrypt.h>
#ifdef _MSC_VER
#pragma comment(lib, "bcrypt.lib")  // copied into a console's tree, the file brings its library along
#endif

#include <atomic>
#include <new>
#include <optional>
#include <utility>

namespace quorvel::client {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows text is UTF-16");

std::u16string U16(std::wstring_view text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text.data()), text.size());
}
std::wstring Wide(std::u16string_view text) {
  return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

// A kernel handle, closed once; closing keeps the thread's last error.
class Handle {
 public:
  explicit Handle(HANDLE h = nullptr) noexcept : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  Handle(Handle&& other) noexcept : h_(std::exchange(other.h_, nullptr)) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      Close();
      h_ = std::exchange(other.h_, nullptr);
    }
    return *this;
  }
  ~Handle() { Close(); }
  HANDLE get() const noexcept { return h_; }
  explicit operator bool() const noexcept { return h_ != nullptr; }

 private:
  void Close() noexcept {
    if (!h_) return;
    const DWORD error = ::GetLastError();
    ::CloseHandle(std::exchange(h_, nullptr));
    ::SetLastError(error);
  }
  HANDLE h_;
};

HRESULT LastError() {
  const DWORD error = ::GetLastError();
  return error == 0 ? E_FAIL : HRESULT_FROM_WIN32(error);
}

Outcome Make(Result result, HRESULT code, std::u16string_view reason) { return {result, code, Wide(reason), {}}; }
Outcome Failure(HRESULT code, std::u16string_view what) {
  return Make(Result::Error, code, std::u16string(what) + u" (" + rules::Hex(static_cast<std::uint32_t>(code)) + u").");
}
// The outcome of an exception, the reason too if memory for it can be had.
Outcome Thrown(HRESULT code = E_OUTOFMEMORY, const wchar_t* reason = L"The client ran out of memory.") noexcept {
  Outcome outcome;
  outcome.code = code;
  try {
    outcome.reason = reason;
  } catch (...) {
  }
  return outcome;
}

UINT RunFormat() {
  static const UINT format = ::RegisterClipboardFormatW(L"tarnwick.adcreateobjwiz.run");
  return format;
}

// The bytes under the run's format (nullopt when there are none), read while the
// clipboard is open. Another program may hold it for a moment: try for a second.
HRESULT ReadRunRecord(std::optional<std::vector<std::uint8_t>>& bytes) {
  bool open = false;
  for (int attempt = 0; attempt < 20 && !open; ++attempt) {
    open = ::OpenClipboard(nullptr) != FALSE;
    if (!open) ::Sleep(50);
  }
  if (!open) return LastError();
  bytes.reset();
  HRESULT hr = S_OK;
  try {
    if (HANDLE data = ::GetClipboardData(RunFormat())) {
      bytes.emplace();
      if (const auto* p = static_cast<const std::uint8_t*>(::GlobalLock(data))) {
        // GlobalSize may round up: the rules stop at the identity's zero unit.
        bytes->assign(p, p + ::GlobalSize(data));
        ::GlobalUnlock(data);
      }
    }
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  ::CloseClipboard();
  return hr;
}

enum class Job { Sheet, Wizard };

std::atomic<UINT_PTR> lastId{0};

}  // namespace

struct Run::State {
  Job job = Job::Sheet;
  std::wstring helper;
  std::wstring line;
  std::u16string identity;  // the wizard's
  HWND window = nullptr;    // null for a blocking call: the outcome stays here
  UINT message = 0;
  UINT_PTR id = ++lastId;
  Handle abandonEvent{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  SRWLOCK lock = SRWLOCK_INIT;
  bool abandoned = false;
  Handle process;      // null when the start failed
  DWORD sequence = 0;  // the clipboard's, just before the wizard's start
  Outcome outcome;
};

namespace {

using StatePtr = std::shared_ptr<Run::State>;

// Starts quorvel.exe; on failure a null handle, and the outcome says why. It runs
// before the caller holds the run, so no Abandon can come first.
Handle StartHelper(Run::State& state, Outcome& outcome) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  // The application name keeps the path from being searched for; the line is written to.
  if (!::CreateProcessW(state.helper.c_str(), state.line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi)) {
    const DWORD error = ::GetLastError();
    outcome = Make(Result::Error, error ? HRESULT_FROM_WIN32(error) : E_FAIL,
                   rules::StartFailureReason(U16(state.helper), error));
    return Handle();
  }
  ::CloseHandle(pi.hThread);
  return Handle(pi.hProcess);
}

bool ExitCodeOf(HANDLE process, std::uint32_t& code, Outcome& outcome) {
  DWORD exitCode = 0;
  if (!::GetExitCodeProcess(process, &exitCode)) {
    outcome = Failure(LastError(), u"quorvel.exe's exit code could not be read");
    return false;
  }
  code = exitCode;
  return true;
}

Outcome FromReading(const rules::Reading& reading) { return Make(reading.result, reading.code, reading.reason); }

// The sheet: nothing to watch. Abandoned, the thread lets the process go at once.
// Returns false when the run was abandoned and nothing is to be reported.
bool SheetRun(Run::State& state, Outcome& outcome) {
  const Handle& process = state.process;
  const HANDLE handles[] = {state.abandonEvent.get(), process.get()};
  const DWORD r = ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
  if (r == WAIT_OBJECT_0) return false;
  if (r != WAIT_OBJECT_0 + 1) {
    outcome = Failure(LastError(), u"Waiting for quorvel.exe failed");
    return true;
  }
  std::uint32_t code = 0;
  if (ExitCodeOf(process.get(), code, outcome)) outcome = FromReading(rules::ReadSheetExit(code));
  return true;
}

// A message-only window of the run's thread that the system tells of every change
// of the clipboard, which wakes the run's loop; the sequence number then says
// whether the clipboard changed. Without the window (it could not be made) the run
// still looks once after the exit: the identity keeps that look from taking another
// run's record, the watch only keeps a later publication from hiding this run's.
class ClipboardWatch {
 public:
  // `since`: the sequence number from which on a change counts.
  explicit ClipboardWatch(DWORD since) noexcept
      : window_(::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr)),
        sequence_(since) {
    if (window_ && !::AddClipboardFormatListener(window_)) Stop();
  }
  ClipboardWatch(const ClipboardWatch&) = delete;
  ClipboardWatch& operator=(const ClipboardWatch&) = delete;
  ~ClipboardWatch() { Stop(); }

  // Whether the clipboard changed since the last call.
  bool Changed() noexcept {
    const DWORD now = ::GetClipboardSequenceNumber();
    return std::exchange(sequence_, now) != now;
  }
  void Stop() noexcept {
    if (!window_) return;
    ::RemoveClipboardFormatListener(window_);
    ::DestroyWindow(std::exchange(window_, nullptr));
  }

 private:
  HWND window_;
  DWORD sequence_;
};

// This run's names, when the run's format now holds a record under its identity.
std::optional<rules::Names> TakeIfMine(const Run::State& state, HRESULT& failure, std::u16string& reason) {
  std::optional<std::vector<std::uint8_t>> bytes;
  failure = ReadRunRecord(bytes);
  if (FAILED(failure)) return std::nullopt;
  rules::Judgement judgement = rules::JudgeRunRecord(bytes, state.identity);
  if (!judgement.accepted) {
    reason = std::move(judgement.reason);
    return std::nullopt;
  }
  return std::move(judgement.names);
}

// The wizard: while quorvel.exe runs, every change of the clipboard since just
// before its start is looked at, and this run's record is taken the moment it is
// there, so that a publication after it cannot hide it; after the exit it is looked
// for once more. Once taken, it is kept: a later change is another run's.
bool WizardRun(Run::State& state, Outcome& outcome) {
  ClipboardWatch watch(state.sequence);
  const Handle& process = state.process;
  std::optional<rules::Names> mine;
  HRESULT failure = S_OK;
  std::u16string notMine;
  for (;;) {
    if (!mine && watch.Changed() && (mine = TakeIfMine(state, failure, notMine))) watch.Stop();
    const HANDLE handles[] = {state.abandonEvent.get(), process.get()};
    const DWORD r = ::MsgWaitForMultipleObjects(2, handles, FALSE, INFINITE, QS_ALLINPUT);
    // Abandoned, the run lets the wizard go: the record it publishes names this run only.
    if (r == WAIT_OBJECT_0) return false;
    if (r == WAIT_OBJECT_0 + 1) break;
    if (r != WAIT_OBJECT_0 + 2) {
      outcome = Failure(LastError(), u"Waiting for quorvel.exe failed");
      return true;
    }
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
  }
  watch.Stop();
  std::uint32_t code = 0;
  if (!ExitCodeOf(process.get(), code, outcome)) return true;
  outcome = FromReading(rules::ReadWizardExit(code));
  // A failure after the object was made (its account name unread) still publishes
  // the record: this run's record then says the object exists.
  const bool created = outcome.result == Result::Created;
  if (!created && !(outcome.result == Result::Failed && static_cast<std::int32_t>(code) < 0)) return true;
  if (!mine) mine = TakeIfMine(state, failure, notMine);
  if (!mine) {
    if (created)
      outcome = Make(Result::CreatedNamesUnknown, S_OK,
                     u"The object was created; its names are unknown: " +
                         (SUCCEEDED(failure) ? notMine
                                             : u"the clipboard could not be read (" +
                                                   rules::Hex(static_cast<std::uint32_t>(failure)) + u")") +
                         u".");
    return true;
  }
  outcome.result = Result::Created;
  outcome.created = {Wide(mine->distinguishedName), Wide(mine->name), Wide(mine->samAccountName)};
  outcome.reason = L"Created " + (outcome.created.distinguishedName.empty() ? outcome.created.name
                                                                            : outcome.created.distinguishedName) +
                   L".";
  if (!created) outcome.reason += L" Not every name could be read (" + Wide(rules::Hex(code)) + L").";
  return true;
}

// Hands the outcome to the caller: into the state for a blocking call, as a message
// otherwise, unless the run was abandoned. The lock makes Abandon's promise hold:
// once it returns, nothing more is posted.
void Deliver(Run::State& state, Outcome outcome, bool report) noexcept {
  if (!state.window) {
    state.outcome = std::move(outcome);
    return;
  }
  ::AcquireSRWLockExclusive(&state.lock);
  if (report && !state.abandoned) {
    auto* posted = new (std::nothrow) Outcome(std::move(outcome));
    if (posted && !::PostMessageW(state.window, state.message, state.id, reinterpret_cast<LPARAM>(posted)))
      delete posted;
  }
  ::ReleaseSRWLockExclusive(&state.lock);
}

// Nothing thrown here may end the console: an exception becomes the run's outcome.
DWORD WINAPI Work(void* parameter) {
  const StatePtr state = std::move(*static_cast<StatePtr*>(parameter));
  delete static_cast<StatePtr*>(parameter);
  Outcome outcome;
  bool report = true;
  try {
    if (!state->process) {
      outcome = std::move(state->outcome);
    } else {
      report = state->job == Job::Sheet ? SheetRun(*state, outcome) : WizardRun(*state, outcome);
      state->process = Handle();  // the run may outlive its thread by far
    }
  } catch (const std::bad_alloc&) {
    outcome = Thrown();
  } catch (...) {
    outcome = Thrown(E_UNEXPECTED, L"The client's run failed unexpectedly.");
  }
  Deliver(*state, std::move(outcome), report);
  return 0;
}

// A wizard run's identity: 128 bits from the system's random number generator.
HRESULT NewIdentity(std::u16string& identity) {
  std::uint8_t random[rules::kIdentityBytes];
  const NTSTATUS status = ::BCryptGenRandom(nullptr, random, sizeof random, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
  if (status < 0) return HRESULT_FROM_NT(status);
  identity = rules::IdentityText(random);
  return S_OK;
}

// Under WoW64, a helper named in System32 is the 64-bit System32's (see SysnativePath).
std::wstring NativeHelperPath(std::wstring_view path) {
  BOOL wow64 = FALSE;
  if (!::IsWow64Process(::GetCurrentProcess(), &wow64) || !wow64) return std::wstring(path);
  wchar_t system[MAX_PATH], windows[MAX_PATH];
  const UINT s = ::GetSystemDirectoryW(system, MAX_PATH), w = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
  if (s == 0 || s >= MAX_PATH || w == 0 || w >= MAX_PATH) return std::wstring(path);
  return Wide(rules::SysnativePath(U16(path), U16({system, s}), U16({windows, w})));
}

// The state of a run whose line was formed; otherwise null and the outcome says why.
StatePtr Prepare(Job job, std::wstring_view givenPath, std::wstring_view argument, ObjectType type,
                 Outcome& refusal) {
  const std::wstring helper = NativeHelperPath(givenPath);
  const std::wstring_view helperPath = helper;
  std::u16string identity;
  if (job == Job::Wizard) {
    if (const HRESULT hr = NewIdentity(identity); FAILED(hr)) {
      refusal = Failure(hr, u"No identity could be drawn for the wizard's run");
      return nullptr;
    }
    if (!RunFormat()) {
      refusal = Failure(LastError(), u"The record's clipboard format could not be registered");
      return nullptr;
    }
  }
  const rules::CommandLine line =
      job == Job::Sheet ? rules::PropertySheetLine(U16(helperPath), U16(argument))
                        : rules::CreateWizardLine(U16(helperPath), U16(argument), static_cast<int>(type), identity);
  if (line.text.empty()) {
    refusal = Make(Result::Refused, E_INVALIDARG, line.refusal);
    return nullptr;
  }
  auto state = std::make_shared<Run::State>();
  state->job = job;
  state->helper.assign(helperPath);
  state->line = Wide(line.text);
  state->identity = std::move(identity);
  return state;
}

// Makes the run's thread, which keeps its own share of the state, then starts
// quorvel.exe from the caller's thread, then lets the thread go. quorvel.exe never
// starts without a thread to wait for it, and a new thread's first steps (a few
// milliseconds under Wine) are not on the way to quorvel's window. A failed start
// is the thread's to report, like any other outcome.
Handle Launch(const StatePtr& state, Outcome& failure) {
  if (!state->abandonEvent) {
    failure = Failure(LastError(), u"The run's event could not be made");
    return Handle();
  }
  auto* share = new StatePtr(state);
  Handle thread(::CreateThread(nullptr, 0, Work, share, CREATE_SUSPENDED, nullptr));
  if (!thread) {
    failure = Failure(LastError(), u"The run's thread could not be started");
    delete share;
    return thread;
  }
  // Taken before the start, so that the watch misses no publication of this run's.
  if (state->job == Job::Wizard) state->sequence = ::GetClipboardSequenceNumber();
  state->process = StartHelper(*state, state->outcome);
  ::ResumeThread(thread.get());
  return thread;
}

void AbandonState(Run::State& state) noexcept {
  ::AcquireSRWLockExclusive(&state.lock);
  state.abandoned = true;
  ::ReleaseSRWLockExclusive(&state.lock);
  ::SetEvent(state.abandonEvent.get());
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
        return Failure(LastError(), u"Waiting for quorvel.exe failed; it was left running");
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

HRESULT Post(HWND window, UINT message, UINT_PTR id, Outcome outcome) {
  auto* posted = new (std::nothrow) Outcome(std::move(outcome));
  if (!posted) return E_OUTOFMEMORY;
  if (!::PostMessageW(window, message, id, reinterpret_cast<LPARAM>(posted))) {
    const HRESULT hr = LastError();
    delete posted;
    return hr;
  }
  return S_OK;
}

HRESULT Start(Job job, HWND window, UINT message, std::wstring_view helperPath, std::wstring_view argument,
              ObjectType type, Run& run, std::shared_ptr<Run::State>& slot) noexcept {
  run.Abandon();
  if (!::IsWindow(window)) return E_HANDLE;
  try {
    Outcome outcome;
    StatePtr state = Prepare(job, helperPath, argument, type, outcome);
    if (!state) {
      // A refusal still gets an id of its own, so that its message can be told apart.
      state = std::make_shared<Run::State>();
      state->abandoned = true;
    } else {
      state->window = window;
      state->message = message;
      if (Launch(state, outcome)) {
        slot = std::move(state);
        return S_OK;
      }
    }
    const HRESULT hr = Post(window, message, state->id, std::move(outcome));
    if (SUCCEEDED(hr)) slot = std::move(state);
    return hr;
  } catch (const std::bad_alloc&) {
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
  return Start(Job::Sheet, window, message, helperPath, adsPath, ObjectType::User, run, run.state_);
}

HRESULT StartCreateWizard(HWND window, UINT message, std::wstring_view helperPath, std::wstring_view containerDN,
                          ObjectType type, Run& run) noexcept {
  return Start(Job::Wizard, window, message, helperPath, containerDN, type, run, run.state_);
}

std::unique_ptr<Outcome> TakeOutcome(LPARAM lParam) noexcept {
  return std::unique_ptr<Outcome>(reinterpret_cast<Outcome*>(lParam));
}

}  // namespace quorvel::client
