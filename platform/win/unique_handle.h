// Move-only owners of the platform's handles, one alias per kind.
#pragma once

#include "platform/unique_resource.h"
#include "platform/wintypes.h"

namespace quorvel {

namespace detail {
// Code that reads GetLastError after a cleanup must still see the real cause, so
// closing a handle keeps the thread's last-error code as it was.
template <typename H, auto Close>
void CloseKeepingLastError(H h) {
  const DWORD saved = ::GetLastError();
  Close(h);
  ::SetLastError(saved);
}

inline void CloseGlobal(HGLOBAL h) { ::GlobalFree(h); }
inline void CloseLocal(HLOCAL h) { ::LocalFree(h); }
inline void CloseWindow(HWND h) { ::DestroyWindow(h); }
inline void CloseKernelHandle(HANDLE h) { ::CloseHandle(h); }
}  // namespace detail

template <typename H, auto Close, H Invalid = H{}>
using UniqueHandle = UniqueResource<H, detail::CloseKeepingLastError<H, Close>, Invalid>;

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
