// The client's owners. client/ is copied alone into consoles' trees, so it keeps
// these few of its own rather than the project's platform layer. Each is move-only
// where moving means something, and every release keeps the thread's last error, so
// that code reading GetLastError after a cleanup still sees the real cause.
#pragma once

#include <windows.h>

#include <objbase.h>

#include "client_rules.h"

#include <cstddef>
#include <utility>

namespace quorvel::client {

// The last error of a call that failed, as an HRESULT (rules::HResultOfFailedCall).
inline HRESULT LastErrorOfFailedCall() noexcept {
  return static_cast<HRESULT>(rules::HResultOfFailedCall(::GetLastError()));
}

// Runs `release` with the thread's last error kept as it was.
template <typename F>
void KeepingLastError(F&& release) noexcept {
  const DWORD error = ::GetLastError();
  release();
  ::SetLastError(error);
}

// One owner for each kind of value that one call frees; Traits gives the call, and
// how a value is adopted (INVALID_HANDLE_VALUE is no handle).
template <typename Traits>
class Unique {
 public:
  using Type = typename Traits::Type;
  explicit Unique(Type value = nullptr) noexcept : value_(Traits::Adopt(value)) {}
  Unique(Unique&& other) noexcept : value_(other.release()) {}
  Unique& operator=(Unique&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Unique(const Unique&) = delete;
  Unique& operator=(const Unique&) = delete;
  ~Unique() { reset(); }

  Type get() const noexcept { return value_; }
  [[nodiscard]] Type release() noexcept { return std::exchange(value_, nullptr); }
  // Adopts `value`; handing back the value already held keeps it.
  void reset(Type value = nullptr) noexcept {
    const Type old = std::exchange(value_, Traits::Adopt(value));
    if (old && old != value_) KeepingLastError([old] { Traits::Free(old); });
  }
  explicit operator bool() const noexcept { return value_ != nullptr; }

 private:
  Type value_;
};

struct KernelHandleTraits {
  using Type = HANDLE;
  static HANDLE Adopt(HANDLE h) noexcept { return h == INVALID_HANDLE_VALUE ? nullptr : h; }
  static void Free(HANDLE h) noexcept { ::CloseHandle(h); }
};
// A string from CoTaskMemAlloc, the allocator the C interface hands out.
struct CoTaskMemTraits {
  using Type = LPWSTR;
  static LPWSTR Adopt(LPWSTR text) noexcept { return text; }
  static void Free(LPWSTR text) noexcept { ::CoTaskMemFree(text); }
};
using Handle = Unique<KernelHandleTraits>;
using CoTaskMemString = Unique<CoTaskMemTraits>;

// A copy of `size` units and a terminating zero; empty when memory ran out.
inline CoTaskMemString CoTaskMemCopy(const wchar_t* text, std::size_t size) noexcept {
  CoTaskMemString copy(static_cast<LPWSTR>(::CoTaskMemAlloc((size + 1) * sizeof(wchar_t))));
  if (copy) {
    for (std::size_t i = 0; i < size; ++i) copy.get()[i] = text[i];
    copy.get()[size] = L'\0';
  }
  return copy;
}

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

}  // namespace quorvel::client
