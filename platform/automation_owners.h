// Owners of automation values, for both builds: a BSTR and a VARIANT.
#pragma once

#include "platform/automation.h"
#include "platform/unique_resource.h"

#include <string_view>

namespace quorvel {

namespace detail {
inline void FreeBstr(BSTR b) { ::SysFreeString(b); }
}  // namespace detail

// Owns one BSTR. Made from text it allocates a copy of its own (null when memory
// runs out: callers check). An existing BSTR is adopted only explicitly, through
// Attach or reset: a constructor never takes over a string it did not make.
class UniqueBstr : public UniqueResource<BSTR, detail::FreeBstr> {
 public:
  UniqueBstr() = default;
  explicit UniqueBstr(std::u16string_view text)
      : UniqueResource(::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                                           static_cast<UINT>(text.size()))) {}

  static UniqueBstr Attach(BSTR b) {
    UniqueBstr owner;
    owner.reset(b);
    return owner;
  }

  // Every code unit the string holds, zeros inside it included.
  std::u16string_view view() const {
    return get() ? std::u16string_view(reinterpret_cast<const char16_t*>(get()), ::SysStringLen(get()))
                 : std::u16string_view();
  }
};

// Owns one VARIANT by containment. reset() and the destructor clear it; release()
// hands the value out and leaves VT_EMPTY behind.
class UniqueVariant {
 public:
  UniqueVariant() { ::VariantInit(&v_); }
  UniqueVariant(UniqueVariant&& other) noexcept : v_(other.release()) {}
  UniqueVariant& operator=(UniqueVariant&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueVariant(const UniqueVariant&) = delete;
  UniqueVariant& operator=(const UniqueVariant&) = delete;
  ~UniqueVariant() { ::VariantClear(&v_); }

  VARIANT* get() { return &v_; }
  const VARIANT* get() const { return &v_; }
  [[nodiscard]] VARIANT release() {
    const VARIANT out = v_;
    ::VariantInit(&v_);
    return out;
  }
  // Clears what is held, then adopts `value`. Handing back the very variant held
  // would clear the value being adopted: that is refused, the value kept.
  void reset() {
    ::VariantClear(&v_);
    ::VariantInit(&v_);
  }
  void reset(const VARIANT& value) {
    if (&value == &v_) return;
    ::VariantClear(&v_);
    v_ = value;
  }
  // Clears what is held, then hands out the address for an out parameter.
  VARIANT* put() {
    reset();
    return &v_;
  }

 private:
  VARIANT v_;
};

static_assert(sizeof(UniqueBstr) == sizeof(BSTR));
static_assert(sizeof(UniqueVariant) == sizeof(VARIANT));

}  // namespace quorvel
