// What the client's Win32 files share: a run's state, its record on the clipboard,
// and its thread. Not part of the API.
#pragma once

#include "client_owners_win.h"
#include "client_rules.h"
#include "quorvel_client.h"

#include <optional>
#include <string>
#include <string_view>

namespace quorvel::client {

enum class Job { Sheet, Wizard };

std::u16string U16(std::wstring_view text);
std::wstring Wide(std::u16string_view text);

Outcome Make(Result result, HRESULT code, std::u16string_view reason);
Outcome Failure(HRESULT code, std::u16string_view what);
// The outcome of an exception, the reason too if memory for it can be had.
Outcome Thrown(HRESULT code = E_OUTOFMEMORY, const wchar_t* reason = L"The client ran out of memory.") noexcept;

struct Run::State {
  Job job = Job::Sheet;
  std::wstring helper;
  std::wstring line;
  std::u16string identity;  // the wizard's
  HWND window = nullptr;    // null for a blocking call: the outcome stays here
  UINT message = 0;
  UINT_PTR id = 0;
  Handle abandonEvent{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  SRWLOCK lock = SRWLOCK_INIT;
  bool abandoned = false;
  Handle process;      // null when the start failed
  DWORD sequence = 0;  // the clipboard's, just before the wizard's start
  Outcome outcome;

  State();
};

// The path CreateProcessW will start, in one spelling (GetFullPathNameW's). Under
// WoW64 a path into System32 names the 64-bit System32's file (rules::SysnativePath);
// the locator checks this very file.
std::wstring NativeHelperPath(std::wstring_view path);

// The record's format; 0 when it could not be registered.
UINT RunFormat();

// The names this run published, when the run's format holds a record under its
// identity; otherwise nullopt, with `failure` the clipboard's failure or `reason`
// why the record there is not this run's.
std::optional<rules::Names> TakeIfMine(const Run::State& state, HRESULT& failure, std::u16string& reason);

// A message-only window of the run's thread that the system tells of every change
// of the clipboard, which wakes the run's loop; the sequence number then says
// whether the clipboard changed. Without the window (it could not be made) the run
// still looks once after the exit: the identity keeps that look from taking another
// run's record, the watch only keeps a later publication from hiding this run's.
class ClipboardWatch {
 public:
  // `since`: the sequence number from which on a change counts.
  explicit ClipboardWatch(DWORD since) noexcept;
  ClipboardWatch(const ClipboardWatch&) = delete;
  ClipboardWatch& operator=(const ClipboardWatch&) = delete;
  ~ClipboardWatch() { Stop(); }

  // Whether the clipboard changed since the last call.
  bool Changed() noexcept;
  void Stop() noexcept;

 private:
  HWND window_;
  DWORD sequence_;
};

// Posts `outcome` to the window as the run's message; on failure nothing is posted
// and the outcome is freed.
HRESULT Post(HWND window, UINT message, UINT_PTR id, Outcome outcome) noexcept;

// Makes the run's thread, starts quorvel.exe from the caller's thread, then lets the
// thread go. A null handle when no thread could be made (`failure` says why); a
// failed start is the thread's to report, like any other outcome.
Handle Launch(const std::shared_ptr<Run::State>& state, Outcome& failure);

// From here on nothing is posted; the thread lets quorvel.exe go.
void AbandonState(Run::State& state) noexcept;

}  // namespace quorvel::client
