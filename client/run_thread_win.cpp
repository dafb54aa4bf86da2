// A run's thread: it waits for quorvel.exe, watches for the wizard's record, reads
// the exit status and hands the outcome over. It keeps the module that holds this
// code loaded until its last instruction, so that a console may unload a snap-in
// DLL that linked the client while a run it let go is still finishing.
#include "run_win.h"

#include <atomic>
#include <new>
#include <utility>

namespace quorvel::client {
namespace {

using StatePtr = std::shared_ptr<Run::State>;

std::atomic<UINT_PTR> lastId{0};

// A full queue or a moment without memory should not lose an outcome: the final
// post is tried again for about five seconds.
constexpr int kPostAttempts = 100;
constexpr DWORD kPostPauseMs = 50;

// Starts quorvel.exe; on failure a null handle, and the outcome says why.
Handle StartHelper(Run::State& state, Outcome& outcome) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  // The application name keeps the path from being searched for; the line is written to.
  if (!::CreateProcessW(state.helper.c_str(), state.line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi)) {
    const DWORD error = ::GetLastError();  // before the reason's allocations
    outcome = Make(Result::Error, static_cast<HRESULT>(rules::HResultOfFailedCall(error)),
                   rules::StartFailureReason(U16(state.helper), error));
    return Handle();
  }
  const Handle thread(pi.hThread);
  return Handle(pi.hProcess);
}

bool ExitCodeOf(HANDLE process, std::uint32_t& code, Outcome& outcome) {
  DWORD exitCode = 0;
  if (!::GetExitCodeProcess(process, &exitCode)) {
    outcome = Failure(LastErrorOfFailedCall(), u"quorvel.exe's exit code could not be read");
    return false;
  }
  code = exitCode;
  return true;
}

Outcome FromReading(const rules::Reading& reading) { return Make(reading.result, reading.code, reading.reason); }

// The sheet: nothing to watch. Abandoned, the thread lets the process go at once.
// Returns false when the run was abandoned and nothing is to be reported.
bool SheetRun(Run::State& state, HANDLE process, Outcome& outcome) {
  const HANDLE handles[] = {state.abandonEvent.get(), process};
  const DWORD r = ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
  if (r == WAIT_OBJECT_0) return false;
  if (r != WAIT_OBJECT_0 + 1) {
    outcome = Failure(LastErrorOfFailedCall(), u"Waiting for quorvel.exe failed");
    return true;
  }
  std::uint32_t code = 0;
  if (ExitCodeOf(process, code, outcome)) outcome = FromReading(rules::ReadSheetExit(code));
  return true;
}

// The wizard: while quorvel.exe runs, every change of the clipboard since just
// before its start is looked at, and this run's record is taken the moment it is
// there, so that a publication after it cannot hide it; after the exit it is looked
// for once more. Once taken, it is kept: a later change is another run's.
bool WizardRun(Run::State& state, HANDLE process, Outcome& outcome) {
  ClipboardWatch watch(state.sequence);
  std::optional<rules::Names> mine;
  HRESULT failure = S_OK;
  std::u16string notMine;
  for (;;) {
    if (!mine && watch.Changed() && (mine = TakeIfMine(state, failure, notMine))) watch.Stop();
    const HANDLE handles[] = {state.abandonEvent.get(), process};
    const DWORD r = ::MsgWaitForMultipleObjects(2, handles, FALSE, INFINITE, QS_ALLINPUT);
    // Abandoned, the run lets the wizard go: the record it publishes names this run only.
    if (r == WAIT_OBJECT_0) return false;
    if (r == WAIT_OBJECT_0 + 1) break;
    if (r != WAIT_OBJECT_0 + 2) {
      outcome = Failure(LastErrorOfFailedCall(), u"Waiting for quorvel.exe failed");
      return true;
    }
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
  }
  watch.Stop();
  std::uint32_t code = 0;
  if (!ExitCodeOf(process, code, outcome)) return true;
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

// Whether another post could succeed where this one failed.
bool Transient(HRESULT hr) {
  return hr == HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_QUOTA) || hr == HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY) ||
         hr == HRESULT_FROM_WIN32(ERROR_OUTOFMEMORY) || hr == E_OUTOFMEMORY;
}

// Hands the outcome to the caller: into the state for a blocking call, as a message
// otherwise, unless the run was abandoned. Each try holds the lock, which makes
// Abandon's promise hold: once it returns, nothing more is posted.
void Deliver(Run::State& state, Outcome outcome, bool report) noexcept {
  if (!state.window) {
    state.outcome = std::move(outcome);
    return;
  }
  for (int attempt = 1; report; ++attempt) {
    HRESULT hr = S_OK;
    {
      const ExclusiveLock lock(state.lock);
      if (state.abandoned) return;
      // A copy for each try: a failed post frees its own.
      try {
        hr = Post(state.window, state.message, state.id, attempt == kPostAttempts ? std::move(outcome) : outcome);
      } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
      }
    }
    if (SUCCEEDED(hr) || !Transient(hr) || attempt == kPostAttempts) return;
    ::Sleep(kPostPauseMs);
  }
}

void Work(const StatePtr& state) noexcept {
  Outcome outcome;
  bool report = true;
  // Nothing thrown here may end the console: an exception becomes the run's outcome.
  try {
    // The thread's own: the run may outlive it by far, and an exception must not keep it.
    const Handle process = std::move(state->process);
    if (!process) {
      outcome = std::move(state->outcome);
    } else {
      report = state->job == Job::Sheet ? SheetRun(*state, process.get(), outcome)
                                        : WizardRun(*state, process.get(), outcome);
    }
  } catch (const std::bad_alloc&) {
    outcome = Thrown();
  } catch (...) {
    outcome = Thrown(E_UNEXPECTED, L"The client's run failed unexpectedly.");
  }
  Deliver(*state, std::move(outcome), report);
}

struct ThreadStart {
  StatePtr state;
  HMODULE module;  // the reference the thread gives back as it ends
};

DWORD WINAPI ThreadMain(void* parameter) {
  HMODULE module = nullptr;
  {
    const std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
    module = start->module;
    Work(start->state);
  }
  // The state's last share may have gone above; from here on no code of the module runs.
  ::FreeLibraryAndExitThread(module, 0);
}

// A reference to the module that holds this code: the console's .exe, its snap-in
// DLL or quorvel_client.dll.
HMODULE ReferenceToThisModule() {
  HMODULE module = nullptr;  // left null on failure
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&ThreadMain), &module);
  return module;
}

}  // namespace

Run::State::State() : id(++lastId) {}

HRESULT Post(HWND window, UINT message, UINT_PTR id, Outcome outcome) noexcept {
  auto posted = std::unique_ptr<Outcome>(new (std::nothrow) Outcome(std::move(outcome)));
  if (!posted) return E_OUTOFMEMORY;
  if (!::PostMessageW(window, message, id, reinterpret_cast<LPARAM>(posted.get()))) return LastErrorOfFailedCall();
  static_cast<void>(posted.release());  // the receiver's now
  return S_OK;
}

// quorvel.exe never starts without a thread to wait for it, and a new thread's first
// steps (a few milliseconds under Wine) are not on the way to quorvel's window.
Handle Launch(const StatePtr& state, Outcome& failure) {
  if (!state->abandonEvent) {
    failure = Failure(LastErrorOfFailedCall(), u"The run's event could not be made");
    return Handle();
  }
  auto start = std::make_unique<ThreadStart>(ThreadStart{state, nullptr});
  start->module = ReferenceToThisModule();  // after the allocation, which may throw
  if (!start->module) {
    failure = Failure(LastErrorOfFailedCall(), u"The client's module could not be held for the run's thread");
    return Handle();
  }
  Handle thread(::CreateThread(nullptr, 0, ThreadMain, start.get(), CREATE_SUSPENDED, nullptr));
  if (!thread) {
    KeepingLastError([&] { ::FreeLibrary(start->module); });
    failure = Failure(LastErrorOfFailedCall(), u"The run's thread could not be started");
    return thread;
  }
  static_cast<void>(start.release());  // the thread's now
  // Taken before the start, so that the watch misses no publication of this run's.
  if (state->job == Job::Wizard) state->sequence = ::GetClipboardSequenceNumber();
  try {
    state->process = StartHelper(*state, state->outcome);
  } catch (const std::bad_alloc&) {
    state->outcome = Thrown();  // only the report of a failed start allocates
  }
  ::ResumeThread(thread.get());
  return thread;
}

void AbandonState(Run::State& state) noexcept {
  {
    const ExclusiveLock lock(state.lock);
    state.abandoned = true;
  }
  ::SetEvent(state.abandonEvent.get());
}

}  // namespace quorvel::client
