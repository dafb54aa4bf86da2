// quorvel_client: starting quorvel.exe from a console, for either of its two jobs,
// and reading back what happened. C++17, Win32 only, no other dependency; builds
// for x86 and x86-64. Copy client/ into the console's tree, or link the static
// library `quorvel_client` of this tree.
//
//   quorvel::client::Outcome o = quorvel::client::RunPropertySheet(helper, L"LDAP://CN=x,DC=example,DC=com");
//   if (o.result == quorvel::client::Result::Changed) Refresh();
//
// What the library takes care of, so the console need not:
// - the command line: the helper's path quoted, the argument exactly as given
//   (quorvel.exe trims nothing), and every argument it cannot carry refused before
//   any process starts;
// - the wait: the calling thread keeps answering its messages (Run*), or the call
//   returns at once and the outcome is posted to a window (Start*);
// - the record of the creation job: only a record this run published is read;
//   another client's, or an earlier run's, is never taken for this run's object.
#pragma once

#include <cstdint>

namespace quorvel::client {

// The object the creation wizard makes; the values are quorvel.exe's.
enum class ObjectType : int { User = 0, Group = 1, Computer = 2 };

enum class Result : int {
  // The property sheet.
  Unchanged,   // closed without a change (exit 0)
  Changed,     // a page applied a change (exit 1)
  BindFailed,  // the object could not be bound; code is the bind's HRESULT
  // The creation wizard.
  Created,              // created; created holds the names this run published. code is 0, or
                        // the failure of reading a name (that name is then empty)
  CreatedNamesUnknown,  // created (exit 0), but no record of this run could be read
  Cancelled,            // the person cancelled (exit 1)
  Failed,               // the wizard, or the directory, failed; code is its HRESULT
  // Either job.
  Refused,  // an argument was refused: by the library before any start (code E_INVALIDARG),
            // or by quorvel.exe itself (code 0x00000057)
  Error,    // the library's own failure (helper missing, CreateProcessW, the clipboard before
            // the start, the mutex, a thread), or quorvel.exe ended abnormally; code says why
};

}  // namespace quorvel::client

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

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
  // quorvel.exe's 32-bit exit code read as an HRESULT (0, 1, a bind's or the wizard's
  // HRESULT, 0x57), or, for a refusal by the library and for Error, the library's own
  // HRESULT.
  HRESULT code = E_UNEXPECTED;
  // One sentence a person can read, for every result: for a status line or a log.
  std::wstring reason;
  // Result::Created only.
  CreatedObject created;
};

// Blocking calls. Each returns when quorvel.exe has ended (its sheet or wizard is
// modal); meanwhile the calling thread keeps dispatching its messages, so the
// console repaints and answers. The caller's windows stay enabled: disable what
// must not be pressed twice. A WM_QUIT seen while waiting is posted again, and the
// call returns at once with Error/E_ABORT, leaving quorvel.exe's window up.
Outcome RunPropertySheet(std::wstring_view helperPath, std::wstring_view adsPath);
Outcome RunCreateWizard(std::wstring_view helperPath, std::wstring_view containerDN, ObjectType type);

// An asynchronous run. Destroying it, or Abandon(), lets the run go: the client's
// handles are closed and no message is posted after Abandon returns (one posted
// just before stays in the queue; take it as any other). quorvel.exe is never
// ended: a sheet the person is editing stays up. An abandoned wizard run keeps
// the library's lock until its wizard closes, so that a later run cannot take
// its record for its own.
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
  friend HRESULT StartPropertySheet(HWND, UINT, std::wstring_view, std::wstring_view, Run&);
  friend HRESULT StartCreateWizard(HWND, UINT, std::wstring_view, std::wstring_view, ObjectType, Run&);
  std::shared_ptr<State> state_;
};

// Asynchronous calls: return at once. When the run ends, `message` is posted to
// `window` with wParam the run's Id() and lParam its Outcome, which the receiver
// adopts with TakeOutcome (each such message exactly once, also for a run it no
// longer tracks; a message lost because the window was destroyed leaks one small
// Outcome). A refused argument and a failure to start are posted too, at once, so
// every outcome reaches the same handler.
// Returns S_OK when a message will come (the previous run in `run` is abandoned
// first), E_HANDLE when `window` is not a window, E_OUTOFMEMORY, or the failure of
// PostMessageW: then nothing is posted and `run` is left empty.
HRESULT StartPropertySheet(HWND window, UINT message, std::wstring_view helperPath,
                           std::wstring_view adsPath, Run& run);
HRESULT StartCreateWizard(HWND window, UINT message, std::wstring_view helperPath,
                          std::wstring_view containerDN, ObjectType type, Run& run);

// The Outcome of a run's message; lParam must come from such a message.
std::unique_ptr<Outcome> TakeOutcome(LPARAM lParam);

// The named mutex held for a whole wizard run, in the logon session: a console
// that runs quorvel.exe by hand can join the same discipline.
inline constexpr wchar_t kWizardMutexName[] = L"Local\\tarnwick.adcreateobjwiz.clip";

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
