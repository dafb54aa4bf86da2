// Move-only owners of the platform's handles, one alias per kind.
#pragma once

#include "platform/wintypes.h"

#include <utility>

namespace quorvel {

// Close is the handle's close function. reset() and the destructor keep the
// thread's last-error code as it was, so code that reads GetLastError after a
// cleanup still sees the real cause.
template <typename H, auto Close, H Invalid = H{}>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(H h) : h_(h) {}
  UniqueHandle(UniqueHandle&& other) noexcept : h_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  H get() const { return h_; }
  explicit operator bool() const { return h_ != Invalid; }
  [[nodiscard]] H release() { return std::exchange(h_, Invalid); }
  void reset(H h = Invalid) {
    H old = std::exchange(h_, h);
    if (old != Invalid) {
      const DWORD saved = ::GetLastError();
      Close(old);
      ::SetLastError(saved);
    }
  }
  // Frees what is held, then hands out the address for an out parameter.
  H* put() {
    reset();
    return &h_;
  }

 private:
  H h_ = Invalid;
};

namespace detail {
inline void CloseGlobal(HGLOBAL h) { ::GlobalFree(h); }
inline void CloseLocal(HLOCAL h) { ::LocalFree(h); }
inline void CloseWindow(HWND h) { ::DestroyWindow(h); }
inline void CloseKernelHandle(HANDLE h) { ::CloseHandle(h); }
}  // namespace detail

using UniqueHGlobal = UniqueHandle<HGLOBAL, detail::CloseGlobal>;
using UniqueHLocal = UniqueHandle<HLOCAL, detail::CloseLocal>;
using UniqueHwnd = UniqueHandle<HWND, detail::CloseWindow>;
// Threads, processes and whatever else CloseHandle closes.
using UniqueKernelHandle = UniqueHandle<HANDLE, detail::CloseKernelHandle>;

// A GlobalLock scope only unlocks; the block's owner frees it.
class GlobalLockScope {
 public:
  explicit GlobalLockScope(HGLOBAL h) : h_(h), p_(h ? ::GlobalLock(h) : nullptr) {}
  GlobalLockScope(const GlobalLockScope&) = delete;
  GlobalLockScope& operator=(const GlobalLockScope&) = delete;
  ~GlobalLockScope() {
    if (p_) ::GlobalUnlock(h_);
  }
  void* get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  HGLOBAL h_;
  void* p_;
};

}  // namespace quorvel
