// Test helpers for automation values: owners, builders and a PrintTo for VARIANT.
#pragma once

#include "platform/automation.h"
#include "platform/automation_owners.h"
#include "support/text.h"

#include <cstdio>
#include <ostream>
#include <string>

inline void PrintTo(const VARIANT& v, std::ostream* os) {
  *os << "VARIANT{vt=0x" << std::hex << V_VT(&v) << std::dec;
  switch (V_VT(&v)) {
    case VT_I2: *os << " " << V_I2(&v); break;
    case VT_I4: *os << " " << V_I4(&v); break;
    case VT_I8: *os << " " << V_I8(&v); break;
    case VT_UI8: *os << " " << V_UI8(&v); break;
    case VT_R8: *os << " " << V_R8(&v); break;
    case VT_BOOL: *os << " " << V_BOOL(&v); break;
    case VT_ERROR: *os << " 0x" << std::hex << static_cast<unsigned>(V_ERROR(&v)) << std::dec; break;
    case VT_BSTR:
      if (!V_BSTR(&v)) {
        *os << " null";
      } else {
        *os << " \"" << quorvel::test::Printable(std::u16string(
                            reinterpret_cast<const char16_t*>(V_BSTR(&v)), SysStringLen(V_BSTR(&v))))
            << "\"";
      }
      break;
    default:
      if (V_VT(&v) & VT_ARRAY) *os << " array=" << static_cast<const void*>(V_ARRAY(&v));
      break;
  }
  *os << "}";
}

namespace quorvel::test {

inline BSTR Bstr(const std::u16string& text) {
  return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                           static_cast<UINT>(text.size()));
}

inline std::u16string TextOf(BSTR b) {
  return b ? std::u16string(reinterpret_cast<const char16_t*>(b), SysStringLen(b)) : std::u16string();
}

inline void SetI4(VARIANT& v, LONG x) { V_VT(&v) = VT_I4; V_I4(&v) = x; }
inline void SetBstr(VARIANT& v, const std::u16string& t) { V_VT(&v) = VT_BSTR; V_BSTR(&v) = Bstr(t); }

// A one-dimensional array of `type` with `count` elements from `lower`.
inline SAFEARRAY* NewArray(VARTYPE type, ULONG count, LONG lower = 0) {
  SAFEARRAYBOUND bound{count, lower};
  return SafeArrayCreate(type, 1, &bound);
}

// A counting IUnknown: AddRef and Release must balance.
class CountingUnknown final : public IUnknown {
 public:
  CountingUnknown() = default;
  CountingUnknown(const CountingUnknown&) = delete;
  CountingUnknown& operator=(const CountingUnknown&) = delete;
  virtual ~CountingUnknown() = default;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (IsEqualGUID(riid, IID_IUnknown)) {
      *object = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++count_; }
  ULONG STDMETHODCALLTYPE Release() override { return --count_; }
  ULONG count() const { return count_; }

 private:
  ULONG count_ = 1;
};

}  // namespace quorvel::test
