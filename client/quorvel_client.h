// quorvel_client: starting quorvel.exe from a console, for either of its two jobs,
// and reading back what happened. C++17, Win32 only, no other dependency; builds
// for x86 and x86-64. Copy client/ into the console's tree, or link the static
// library `quorvel_client` of this tree (and bcrypt): the built library serves
// MinGW-w64 GCC consoles only, since this API carries libstdc++'s types; others
// compile the sources or take the C interface (quorvel_client_c.h).
//
//   quorvel::client::Outcome o = quorvel::client::RunPropertySheet(helper, L"LDAP://CN=x,DC=example,DC=com");
//   if (o.result == quorvel::client::Result::Changed) Refresh();
//
// What the library takes care of, so the console need not:
// - the command line: the helper's path quoted, the argument exactly as given
//   (quorvel.exe trims nothing), and every argument it cannot carry refused before
//   any process starts;
// - the wait: the calling thread keeps answering its messages (Run*), or the call
//   returns once quorvel.exe is started and the outcome is posted to a window (Start*);
// - the record of the creation job: each wizard run passes quorvel.exe an identity
//   of its own (128 random bits) and takes only a record published under it, so
//   that another client's record, or an earlier run's, is never taken for this
//   run's object. A quorvel.exe that publishes no identity (one older than this
//   library) gives CreatedNamesUnknown, never a guess. Wizards of several runs and
//   consoles may be open at once.
#pragma once

#include "quorvel_client_types.h"  // ObjectType, Result

#ifdef _WIN32
// Only <windows.h> as the console configures it: this header defines none of its
// macros (NOMINMAX, WIN32_LEAN_AND_MEAN, ...), so including it first changes nothing.
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace quorvel::client {

// The names of the new object, as the record gives them. A name the wizard could
// not read is empty.
struct CreatedObject {
  std::wstring distinguishedName;
  std::wstring name;
  std::wstring samAccountName;
};

struct Outcome {
  Result result = Result::Error;
  // FAILED(code) for every failure result (BindFailed, Failed, Refused, Error): the bind's
  // or the wizard's HRESULT, the library's own, or for an exit status that is no HRESULT
  // (87, a crash's exception code 0x4xxxxxxx, a success code of the wizard's own) one
  // that says what happened (E_INVALIDARG, E_FAIL, E_UNEXPECTED). The reason then gives
  // the exit status as it was. 0 or 1 otherwise; Created may carry a read's failure.
  HRESULT code = E_UNEXPECTED;
  // One sentence a person can read, for every result: for a status line or a log.
  // Empty only when the library ran out of memory even for it.
  std::wstring reason;
  // Result::Created only.
  CreatedObject created;
};

// Offered every message that the blocking calls take from the calling thread's
// queue, before they translate and dispatch it; returns true when it handled the
// message itself. A dialog-based console keeps its keyboard navigation with
//   [dialog](MSG& m) { return ::IsDialogMessageW(dialog, &m) != FALSE; }
// (and its accelerators with TranslateAcceleratorW). An exception it throws leaves
// the call (std::bad_alloc reads as out of memory); the run is then let go as by
// Abandon.
using MessageFilter = std::function<bool(MSG&)>;

// Blocking calls. Each returns when quorvel.exe has ended (its sheet or wizard is
// modal); the helper's path must be absolute (a relative one is Refused: CreateProcessW
// would resolve it against the current folder); meanwhile the calling thread keeps dispatching its messages, so the
// console repaints and answers. The caller's windows stay enabled: disable what
// must not be pressed twice. A WM_QUIT seen while waiting is posted again, and the
// call returns at once with Error/E_ABORT, leaving quorvel.exe's window up.
// Nothing is thrown; out of memory gives Error/E_OUTOFMEMORY.
Outcome RunPropertySheet(std::wstring_view helperPath, std::wstring_view adsPath,
                         const MessageFilter& filter = nullptr);
Outcome RunCreateWizard(std::wstring_view helperPath, std::wstring_view containerDN, ObjectType type,
                        const MessageFilter& filter = nullptr);

// An asynchronous run. Destroying it, or Abandon(), lets the run go. When Abandon
// returns, no message of this run will be posted any more (one posted just before
// stays in the queue; take it as any other), and quorvel.exe is left running: a sheet
// the person is editing stays up. The run's thread may still be finishing a step (a
// look at the clipboard takes up to about a second) and then closes the client's
// handles and ends by itself. Until it has ended it holds a reference to the module
// that contains the client (the console's .exe, its snap-in DLL, quorvel_client.dll),
// so a console may unload that DLL at once: it is unmapped when the thread ends.
// quorvel.exe has been started, or has failed to start, before the run is handed back.
// An abandoned wizard's record names that run only, so no later run takes it for its own.
class Run {
 public:
  Run() = default;
  ~Run();
  Run(Run&& other) noexcept;
  Run& operator=(Run&& other) noexcept;
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  // The wParam of this run's message; never 0. 0 for an empty run.
  UINT_PTR Id() const noexcept;
  void Abandon() noexcept;
  explicit operator bool() const noexcept { return state_ != nullptr; }

  struct State;

 private:
  friend HRESULT StartPropertySheet(HWND, UINT, std::wstring_view, std::wstring_view, Run&) noexcept;
  friend HRESULT StartCreateWizard(HWND, UINT, std::wstring_view, std::wstring_view, ObjectType, Run&) noexcept;
  std::shared_ptr<State> state_;
};

// Asynchronous calls: return once quorvel.exe has been started, from the calling
// thread (CreateProcessW, milliseconds), or could not be. When the run ends, `message` is posted to
// `window` with wParam the run's Id() and lParam its Outcome, which the receiver
// adopts with TakeOutcome (each such message exactly once, also for a run it no
// longer tracks; a message lost because the window was destroyed leaks one small
// Outcome). A refused argument and a failure to start are posted too, so every
// outcome reaches the same handler. `run` holds the new run before anything is
// posted, so a handler that compares wParam with run.Id() sees this run's.
// The previous run in `run` is abandoned first, whatever follows. Returns S_OK when
// the run started, or its refusal or failure was posted; otherwise nothing is posted,
// `run` is left empty and the result is E_HANDLE (`window` is not a window of this
// process: its handler would free what lParam points to), E_OUTOFMEMORY, or the
// failure of PostMessageW. The final message is tried again for about five seconds
// while the window's queue is full or memory short; should it still fail, the
// outcome is lost and no message comes: a console that must know keeps its own
// time limit. Nothing is thrown. The helper's path must be absolute.
HRESULT StartPropertySheet(HWND window, UINT message, std::wstring_view helperPath,
                           std::wstring_view adsPath, Run& run) noexcept;
HRESULT StartCreateWizard(HWND window, UINT message, std::wstring_view helperPath,
                          std::wstring_view containerDN, ObjectType type, Run& run) noexcept;

// The Outcome of a run's message; lParam must come from such a message.
std::unique_ptr<Outcome> TakeOutcome(LPARAM lParam) noexcept;

}  // namespace quorvel::client
#endif  // _WIN32

// Finding quorvel.exe (quorvel_locate_win.cpp). Looked for beside the process's
// program (a console ships it beside its .exe), then beside the module that holds
// this code when that lies elsewhere (a snap-in DLL, quorvel_client.dll), then in
// the folder the installer recorded: HKLM\SOFTWARE\Quorvel, InstallDir, read in the
// 64-bit view from x86 and x86-64 alike. A file that is not an x86-64 program is
// passed over. No path comes from %ProgramFiles% or the system folders, which a
// 32-bit process sees redirected.
#ifdef _WIN32
namespace quorvel::client {
struct Location {
  std::wstring path;    // empty when not found
  std::wstring reason;  // where it was found, or every place looked at and why each failed
};
Location LocateHelper();
}  // namespace quorvel::client
#endif  // _WIN32
