// A small COM interface pointer.
#pragma once

#include "platform/wintypes.h"

#include <objbase.h>

#include <utility>

namespace quorvel {

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  // Adds a reference: the caller keeps its own.
  explicit ComPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  // AddRef before Release, so assigning a pointer to itself is safe.
  ComPtr& operator=(const ComPtr& other) {
    if (other.p_) other.p_->AddRef();
    T* old = std::exchange(p_, other.p_);
    if (old) old->Release();
    return *this;
  }
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      T* old = std::exchange(p_, std::exchange(other.p_, nullptr));
      if (old) old->Release();
    }
    return *this;
  }
  ~ComPtr() { reset(); }

  // Takes over a reference without counting it.
  static ComPtr Attach(T* p) {
    ComPtr c;
    c.p_ = p;
    return c;
  }
  // Hands the reference out without counting it.
  [[nodiscard]] T* Detach() { return std::exchange(p_, nullptr); }

  void reset() {
    if (T* old = std::exchange(p_, nullptr)) old->Release();
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // Releases what is held, then hands out the address for an out parameter.
  T** put() {
    reset();
    return &p_;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }

  template <typename U>
  HRESULT As(REFIID iid, ComPtr<U>& out) const {
    return p_ ? p_->QueryInterface(iid, out.put_void()) : E_POINTER;
  }

 private:
  T* p_ = nullptr;
};

static_assert(sizeof(ComPtr<IUnknown>) == sizeof(IUnknown*));

// COM on the calling thread for the guard's lifetime. Uninitialises only after a
// successful CoInitialize (S_FALSE included), as the platform requires.
class ComApartment {
 public:
  ComApartment() : hr_(::CoInitialize(nullptr)) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (SUCCEEDED(hr_)) ::CoUninitialize();
  }
  HRESULT result() const { return hr_; }

 private:
  HRESULT hr_;
};

}  // namespace quorvel
