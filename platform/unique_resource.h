// One move-only owner shape for every kind of resource that a single call frees,
// for both builds: the Windows handles and the BSTR alike.
#pragma once

#include <utility>

namespace quorvel {

// Free releases one value; Invalid is the value that holds nothing and is never
// freed.
template <typename T, auto Free, T Invalid = T{}>
class UniqueResource {
 public:
  UniqueResource() = default;
  explicit UniqueResource(T value) : v_(value) {}
  UniqueResource(UniqueResource&& other) noexcept : v_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  ~UniqueResource() { reset(); }

  T get() const { return v_; }
  explicit operator bool() const { return v_ != Invalid; }
  [[nodiscard]] T release() { return std::exchange(v_, Invalid); }
  // Adopts `value`; handing back the value already held keeps it.
  void reset(T value = Invalid) {
    if (T old = std::exchange(v_, value); old != Invalid && old != value) Free(old);
  }
  // Frees what is held, then hands out the address for an out parameter.
  T* put() {
    reset();
    return &v_;
  }

 private:
  T v_ = Invalid;
};

}  // namespace quorvel
