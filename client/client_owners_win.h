// The client's owners. client/ is copied alone into consoles' trees, so it keeps
// these few of its own rather than the project's platform layer. Each is move-only
// where moving means something, and every release keeps the thread's last error, so
// that code reading GetLastError after a cleanup still sees the real cause.
#pragma once

#include <windows.h>

#include <objbase.h>

#include <utility>

namespace quorvel::client {

// Win32's own spelling: codes above 0xFFFF are masked, 0 stays 0.
inline HRESULT FromWin32(DWORD error) noexcept { return HRESULT_FROM_WIN32(error); }
// A call that failed and left no last error did not succeed: E_FAIL then.
inline HRESULT LastErrorOfFailedCall() noexcept {
  const DWORD error = ::GetLastError();
  return error == 0 ? E_FAIL : FromWin32(error);
}

// Runs `release` with the thread's last error kept as it was.
template <typename F>
void KeepingLastError(F&& release) noexcept {
  const DWORD error = ::GetLastError();
  release();
  ::SetLastError(error);
}

// A kernel handle; INVALID_HANDLE_VALUE is taken for none.
class Handle {
 public:
  explicit Handle(HANDLE h = nullptr) noexcept : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  Handle(Handle&& other) noexcept : h_(other.release()) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { reset(); }

  HANDLE get() const noexcept { return h_; }
  [[nodiscard]] HANDLE release() noexcept { return std::exchange(h_, nullptr); }
  void reset(HANDLE h = nullptr) noexcept {
    if (HANDLE old = std::exchange(h_, h == INVALID_HANDLE_VALUE ? nullptr : h))
      KeepingLastError([old] { ::CloseHandle(old); });
  }
  explicit operator bool() const noexcept { return h_ != nullptr; }

 private:
  HANDLE h_;
};

// The clipboard, open for the scope's life when opening succeeded.
class ClipboardScope {
 public:
  explicit ClipboardScope(HWND owner = nullptr) noexcept : open_(::OpenClipboard(owner) != FALSE) {}
  ClipboardScope(const ClipboardScope&) = delete;
  ClipboardScope& operator=(const ClipboardScope&) = delete;
  ~ClipboardScope() {
    if (open_) KeepingLastError([] { ::CloseClipboard(); });
  }
  explicit operator bool() const noexcept { return open_; }

 private:
  bool open_;
};

// A movable block's bytes, locked for the scope's life. It only unlocks: the block
// belongs to whoever allocated it (here, the clipboard).
class GlobalLockScope {
 public:
  explicit GlobalLockScope(HGLOBAL block) noexcept : block_(block), bytes_(block ? ::GlobalLock(block) : nullptr) {}
  GlobalLockScope(const GlobalLockScope&) = delete;
  GlobalLockScope& operator=(const GlobalLockScope&) = delete;
  ~GlobalLockScope() {
    if (bytes_) KeepingLastError([this] { ::GlobalUnlock(block_); });
  }
  void* get() const noexcept { return bytes_; }
  explicit operator bool() const noexcept { return bytes_ != nullptr; }

 private:
  HGLOBAL block_;
  void* bytes_;
};

// An SRW lock held exclusively for the scope's life.
class ExclusiveLock {
 public:
  explicit ExclusiveLock(SRWLOCK& lock) noexcept : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
  ExclusiveLock(const ExclusiveLock&) = delete;
  ExclusiveLock& operator=(const ExclusiveLock&) = delete;
  ~ExclusiveLock() { ::ReleaseSRWLockExclusive(&lock_); }

 private:
  SRWLOCK& lock_;
};

// A string from CoTaskMemAlloc, the allocator the C interface hands out.
class CoTaskMemString {
 public:
  CoTaskMemString() noexcept = default;
  CoTaskMemString(CoTaskMemString&& other) noexcept : text_(other.release()) {}
  CoTaskMemString& operator=(CoTaskMemString&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  CoTaskMemString(const CoTaskMemString&) = delete;
  CoTaskMemString& operator=(const CoTaskMemString&) = delete;
  ~CoTaskMemString() { reset(); }

  // A copy of `size` units and a terminating zero; empty when memory ran out.
  static CoTaskMemString Copy(const wchar_t* text, std::size_t size) noexcept {
    CoTaskMemString copy;
    copy.text_ = static_cast<LPWSTR>(::CoTaskMemAlloc((size + 1) * sizeof(wchar_t)));
    if (copy.text_) {
      for (std::size_t i = 0; i < size; ++i) copy.text_[i] = text[i];
      copy.text_[size] = L'\0';
    }
    return copy;
  }

  LPWSTR get() const noexcept { return text_; }
  [[nodiscard]] LPWSTR release() noexcept { return std::exchange(text_, nullptr); }
  void reset(LPWSTR text = nullptr) noexcept {
    if (LPWSTR old = std::exchange(text_, text)) KeepingLastError([old] { ::CoTaskMemFree(old); });
  }
  explicit operator bool() const noexcept { return text_ != nullptr; }

 private:
  LPWSTR text_ = nullptr;
};

}  // namespace quorvel::client
