// A wizard run's record on the clipboard: its format, reading it, watching for it,
// and whether it is this run's.
#include "run_win.h"

#include <new>
#include <utility>

namespace quorvel::client {
namespace {

// Every watching client, clipboard history and remote-desktop redirection open
// the clipboard right after each change: a busy clipboard, or a block that cannot
// be had for a moment, is tried again for about a second.
constexpr int kReadAttempts = 20;
constexpr DWORD kReadPauseMs = 50;

enum class Attempt { Done, Again };

// One look at the bytes under the run's format (nullopt when there are none).
Attempt ReadOnce(std::optional<std::vector<std::uint8_t>>& bytes, HRESULT& hr) {
  const ClipboardScope clipboard;
  if (!clipboard) {
    hr = LastErrorOfFailedCall();
    return Attempt::Again;
  }
  bytes.reset();
  if (!::IsClipboardFormatAvailable(RunFormat())) {
    hr = S_OK;
    return Attempt::Done;
  }
  const HANDLE data = ::GetClipboardData(RunFormat());
  const GlobalLockScope lock(data);
  if (!lock) {
    hr = LastErrorOfFailedCall();
    return Attempt::Again;
  }
  const auto* p = static_cast<const std::uint8_t*>(lock.get());
  // GlobalSize may round up: the rules stop at the identity's zero unit.
  bytes.emplace(p, p + ::GlobalSize(data));
  hr = S_OK;
  return Attempt::Done;
}

HRESULT ReadRunRecord(std::optional<std::vector<std::uint8_t>>& bytes) {
  HRESULT hr = E_FAIL;
  try {
    for (int attempt = 1;; ++attempt) {
      if (ReadOnce(bytes, hr) == Attempt::Done || attempt == kReadAttempts) return hr;
      ::Sleep(kReadPauseMs);
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace

UINT RunFormat() {
  static const UINT format = ::RegisterClipboardFormatW(L"tarnwick.adcreateobjwiz.run");
  return format;
}

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

ClipboardWatch::ClipboardWatch(DWORD since) noexcept
    : window_(::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr)),
      sequence_(since) {
  if (window_ && !::AddClipboardFormatListener(window_)) Stop();
}

bool ClipboardWatch::Changed() noexcept {
  const DWORD now = ::GetClipboardSequenceNumber();
  return std::exchange(sequence_, now) != now;
}

void ClipboardWatch::Stop() noexcept {
  if (!window_) return;
  ::RemoveClipboardFormatListener(window_);
  ::DestroyWindow(std::exchange(window_, nullptr));
}

}  // namespace quorvel::client
