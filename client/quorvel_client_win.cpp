// The Win32 side of the client: one thread per run starts quorvel.exe, waits for
// it and, for the wizard, holds the lock and reads the record. The blocking calls
// are that same run with the caller's thread answering its messages until the
// thread ends, so both roads share every step.
#include "client_rules.h"

#include <atomic>
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
  ~Handle() {
    if (!h_) return;
    const DWORD error = ::GetLastError();
    ::CloseHandle(h_);
    ::SetLastError(error);
  }
  HANDLE get() const noexcept { return h_; }
  explicit operator bool() const noexcept { return h_ != nullptr; }

 private:
  HANDLE h_;
};

// The mutex is owned by the thread that waited for it: it must be released there.
class MutexOwnership {
 public:
  explicit MutexOwnership(HANDLE mutex) noexcept : mutex_(mutex) {}
  MutexOwnership(const MutexOwnership&) = delete;
  MutexOwnership& operator=(const MutexOwnership&) = delete;
  ~MutexOwnership() { ::ReleaseMutex(mutex_); }

 private:
  HANDLE mutex_;
};

HRESULT LastError() {
  const DWORD error = ::GetLastError();
  return error == 0 ? E_FAIL : HRESULT_FROM_WIN32(error);
}

Outcome Make(Result result, HRESULT code, std::u16string_view reason) { return {result, code, Wide(reason), {}}; }
Outcome Failure(HRESULT code, std::u16string_view what) {
  return Make(Result::Error, code, std::u16string(what) + u" (" + rules::Hex(static_cast<std::uint32_t>(code)) + u").");
}

UINT RecordFormat() {
  static const UINT format = ::RegisterClipboardFormatW(L"tarnwick.adcreateobjwiz.clip");
  return format;
}

// The clipboard's sequence number and the record's bytes, taken while it is open so
// that they belong together. Another program may hold it for a moment: try for a second.
HRESULT ReadClipboard(rules::ClipboardState& state) {
  bool open = false;
  for (int attempt = 0; attempt < 20 && !open; ++attempt) {
    open = ::OpenClipboard(nullptr) != FALSE;
    if (!open) ::Sleep(50);
  }
  if (!open) return LastError();
  state.sequence = ::GetClipboardSequenceNumber();
  state.record.reset();
  if (HANDLE data = ::GetClipboardData(RecordFormat())) {
    std::vector<std::uint8_t> bytes;
    if (const auto* p = static_cast<const std::uint8_t*>(::GlobalLock(data))) {
      // GlobalSize may round up: only the record's own bytes count.
      const SIZE_T size = ::GlobalSize(data);
      bytes.assign(p, p + (size < rules::kRecordBytes ? size : rules::kRecordBytes));
      ::GlobalUnlock(data);
    }
    state.record = std::move(bytes);
  }
  ::CloseClipboard();
  return S_OK;
}

enum class Job { Sheet, Wizard };

std::atomic<UINT_PTR> lastId{0};

}  // namespace

struct Run::State {
  Job job = Job::Sheet;
  std::wstring helper;
  std::wstring line;
  HWND window = nullptr;  // null for a blocking call: the outcome stays here
  UINT message = 0;
  UINT_PTR id = ++lastId;
  Handle abandonEvent{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  SRWLOCK lock = SRWLOCK_INIT;
  bool abandoned = false;
  Outcome outcome;
};

namespace {

using StatePtr = std::shared_ptr<Run::State>;

// Waits for `object` or for the run to be abandoned; true when `object` came first.
// Gives the wait's failure in `failure`.
bool WaitUnlessAbandoned(Run::State& state, HANDLE object, HRESULT& failure, bool& abandonedMutex) {
  const HANDLE handles[] = {state.abandonEvent.get(), object};
  const DWORD r = ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
  abandonedMutex = r == WAIT_ABANDONED_0 + 1;
  if (r == WAIT_OBJECT_0 + 1 || abandonedMutex) return true;
  failure = r == WAIT_OBJECT_0 ? E_ABORT : LastError();
  return false;
}

// Starts quorvel.exe; on failure the outcome says why.
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

// The sheet: nothing to hold. Abandoned, the thread lets the process go at once.
// Returns false when the run was abandoned and nothing is to be reported.
bool SheetRun(Run::State& state, Outcome& outcome) {
  const Handle process = StartHelper(state, outcome);
  if (!process) return true;
  HRESULT failure = S_OK;
  bool unused = false;
  if (!WaitUnlessAbandoned(state, process.get(), failure, unused)) {
    if (failure == E_ABORT) return false;
    outcome = Failure(failure, u"Waiting for quorvel.exe failed");
    return true;
  }
  std::uint32_t code = 0;
  if (ExitCodeOf(process.get(), code, outcome)) outcome = FromReading(rules::ReadSheetExit(code));
  return true;
}

// The wizard: the lock is held from before the clipboard is looked at until the
// record is read, also when the run is abandoned while the wizard is up, so that no
// other client's run overlaps this one's publication.
bool WizardRun(Run::State& state, Outcome& outcome) {
  if (!RecordFormat()) {
    outcome = Failure(LastError(), u"The record's clipboard format could not be registered");
    return true;
  }
  const Handle mutex(::CreateMutexW(nullptr, FALSE, kWizardMutexName));
  if (!mutex) {
    outcome = Failure(LastError(), u"The lock for the creation wizard could not be made");
    return true;
  }
  HRESULT failure = S_OK;
  bool abandonedByOwner = false;
  if (!WaitUnlessAbandoned(state, mutex.get(), failure, abandonedByOwner)) {
    if (failure == E_ABORT) return false;
    outcome = Failure(failure, u"Waiting for the lock of the creation wizard failed");
    return true;
  }
  const MutexOwnership owned(mutex.get());
  rules::ClipboardState before;
  if (const HRESULT hr = ReadClipboard(before); FAILED(hr)) {
    outcome = Failure(hr, u"The clipboard could not be read before the start");
    return true;
  }
  const Handle process = StartHelper(state, outcome);
  if (!process) return true;
  bool unused = false;
  if (!WaitUnlessAbandoned(state, process.get(), failure, unused)) {
    // Whether abandoned or not, the wizard may still publish: keep the lock until it ends.
    ::WaitForSingleObject(process.get(), INFINITE);
    if (failure == E_ABORT) return false;
    outcome = Failure(failure, u"Waiting for quorvel.exe failed");
    return true;
  }
  std::uint32_t code = 0;
  if (!ExitCodeOf(process.get(), code, outcome)) return true;
  outcome = FromReading(rules::ReadWizardExit(code));
  // A failure after the object was made (its account name unread) still publishes
  // the record: this run's record then says the object exists.
  const bool created = outcome.result == Result::Created;
  if (!created && !(outcome.result == Result::Failed && outcome.code < 0)) return true;
  rules::ClipboardState after;
  const HRESULT read = ReadClipboard(after);
  rules::Judgement judgement = SUCCEEDED(read) ? rules::JudgeRecord(before, after) : rules::Judgement{false, {}, {}};
  if (!judgement.accepted) {
    if (created)
      outcome = Make(Result::CreatedNamesUnknown, S_OK,
                     u"The object was created; its names are unknown: " +
                         (SUCCEEDED(read) ? judgement.reason
                                          : u"the clipboard could not be read (" +
                                                rules::Hex(static_cast<std::uint32_t>(read)) + u")") +
                         u".");
    return true;
  }
  outcome.result = Result::Created;
  outcome.created = {Wide(judgement.names.distinguishedName), Wide(judgement.names.name),
                     Wide(judgement.names.samAccountName)};
  outcome.reason = L"Created " + (outcome.created.distinguishedName.empty() ? outcome.created.name
                                                                            : outcome.created.distinguishedName) +
                   L".";
  if (!created) outcome.reason += L" Not every name could be read (" + Wide(rules::Hex(code)) + L").";
  if (abandonedByOwner) outcome.reason += L" An earlier client ended during its own wizard run.";
  return true;
}

// Hands the outcome to the caller: into the state for a blocking call, as a message
// otherwise, unless the run was abandoned. The lock makes Abandon's promise hold:
// once it returns, nothing more is posted.
void Deliver(Run::State& state, Outcome outcome, bool report) {
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

DWORD WINAPI Work(void* parameter) {
  const StatePtr state = std::move(*static_cast<StatePtr*>(parameter));
  delete static_cast<StatePtr*>(parameter);
  Outcome outcome;
  const bool report = state->job == Job::Sheet ? SheetRun(*state, outcome) : WizardRun(*state, outcome);
  Deliver(*state, std::move(outcome), report);
  return 0;
}

// The state of a run whose line was formed; the outcome when it was refused.
StatePtr Prepare(Job job, std::wstring_view helperPath, const rules::CommandLine& line, Outcome& refusal) {
  if (line.text.empty()) {
    refusal = Make(Result::Refused, E_INVALIDARG, line.refusal);
    return nullptr;
  }
  auto state = std::make_shared<Run::State>();
  state->job = job;
  state->helper.assign(helperPath);
  state->line = Wide(line.text);
  return state;
}

// Starts the run's thread, which keeps its own share of the state.
Handle Launch(const StatePtr& state, Outcome& failure) {
  if (!state->abandonEvent) {
    failure = Failure(LastError(), u"The run's event could not be made");
    return Handle();
  }
  auto* share = new StatePtr(state);
  Handle thread(::CreateThread(nullptr, 0, Work, share, 0, nullptr));
  if (!thread) {
    failure = Failure(LastError(), u"The run's thread could not be started");
    delete share;
  }
  return thread;
}

void AbandonState(Run::State& state) {
  ::AcquireSRWLockExclusive(&state.lock);
  state.abandoned = true;
  ::ReleaseSRWLockExclusive(&state.lock);
  ::SetEvent(state.abandonEvent.get());
}

Outcome Wait(Job job, std::wstring_view helperPath, const rules::CommandLine& line) {
  Outcome outcome;
  const StatePtr state = Prepare(job, helperPath, line, outcome);
  if (!state) return outcome;
  const Handle thread = Launch(state, outcome);
  if (!thread) return outcome;
  for (;;) {
    const HANDLE handle = thread.get();
    const DWORD r = ::MsgWaitForMultipleObjectsEx(1, &handle, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (r == WAIT_OBJECT_0) return std::move(state->outcome);
    if (r != WAIT_OBJECT_0 + 1) {
      const HRESULT hr = LastError();
      AbandonState(*state);
      return Failure(hr, u"Waiting for quorvel.exe failed; it was left running");
    }
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        // The thread's own loop must still see it, to end.
        AbandonState(*state);
        ::PostQuitMessage(static_cast<int>(msg.wParam));
        return Make(Result::Error, E_ABORT, u"The wait was given up because the thread is quitting; quorvel.exe was left running.");
      }
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
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

namespace {

HRESULT Start(Job job, HWND window, UINT message, std::wstring_view helperPath, const rules::CommandLine& line,
              Run& run, std::shared_ptr<Run::State>& slot) {
  if (!::IsWindow(window)) return E_HANDLE;
  run.Abandon();
  Outcome outcome;
  StatePtr state = Prepare(job, helperPath, line, outcome);
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
}

}  // namespace

Outcome RunPropertySheet(std::wstring_view helperPath, std::wstring_view adsPath) {
  return Wait(Job::Sheet, helperPath, rules::PropertySheetLine(U16(helperPath), U16(adsPath)));
}

Outcome RunCreateWizard(std::wstring_view helperPath, std::wstring_view containerDN, ObjectType type) {
  return Wait(Job::Wizard, helperPath,
              rules::CreateWizardLine(U16(helperPath), U16(containerDN), static_cast<int>(type)));
}

HRESULT StartPropertySheet(HWND window, UINT message, std::wstring_view helperPath, std::wstring_view adsPath,
                           Run& run) {
  return Start(Job::Sheet, window, message, helperPath, rules::PropertySheetLine(U16(helperPath), U16(adsPath)), run,
               run.state_);
}

HRESULT StartCreateWizard(HWND window, UINT message, std::wstring_view helperPath, std::wstring_view containerDN,
                          ObjectType type, Run& run) {
  return Start(Job::Wizard, window, message, helperPath,
               rules::CreateWizardLine(U16(helperPath), U16(containerDN), static_cast<int>(type)), run, run.state_);
}

std::unique_ptr<Outcome> TakeOutcome(LPARAM lParam) { return std::unique_ptr<Outcome>(reinterpret_cast<Outcome*>(lParam)); }

}  // namespace quorvel::client
