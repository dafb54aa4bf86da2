// Automation values built from fuzz bytes with our own automation services: every
// type code, arrays of every element type with odd lower bounds and a second
// dimension now and then, nested VT_VARIANT arrays, by-reference values and type
// codes the services refuse. What a value points at without owning it (by-reference
// targets, interfaces, the payload of a refused type) lives in a Pool until the run
// ends, so that a release of something the value did not own shows as a fault.
#pragma once

#include "fuzz_input.h"
#include "platform/automation.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <limits>

namespace quorvel::fuzz {

class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  void Bytes(void* out, std::size_t n) {
    auto* bytes = static_cast<std::uint8_t*>(out);
    for (std::size_t i = 0; i < n; ++i) bytes[i] = Byte();
  }
  std::uint16_t Word() { return static_cast<std::uint16_t>(Byte() | Byte() << 8); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// An IDispatch whose value (DISPID_VALUE) is a number, a text or a failure; its
// references must balance when every value is gone.
class CountingDispatch final : public IDispatch {
 public:
  explicit CountingDispatch(std::uint8_t mode) : mode_(mode) {}
  CountingDispatch(const CountingDispatch&) = delete;
  CountingDispatch& operator=(const CountingDispatch&) = delete;
  virtual ~CountingDispatch() = default;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IDispatch)) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++count_; }
  ULONG STDMETHODCALLTYPE Release() override {
    if (count_ == 0) Broken("an interface released more often than referenced");
    return --count_;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                   UINT*) override {
    if (member != DISPID_VALUE || !result) return DISP_E_MEMBERNOTFOUND;
    switch (mode_ % 3) {
      case 0:
        V_VT(result) = VT_I4;
        V_I4(result) = mode_;
        return S_OK;
      case 1:
        V_VT(result) = VT_BSTR;
        V_BSTR(result) = SysAllocString(reinterpret_cast<const OLECHAR*>(u"12.5"));
        return S_OK;
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
  }
  ULONG count() const { return count_; }

 private:
  std::uint8_t mode_;
  ULONG count_ = 1;  // the pool's own
};

class Pool {
 public:
  Pool() = default;
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;
  // Releases the by-reference targets, then checks every interface is back to the
  // pool's own reference.
  ~Pool() {
    for (VARIANT& v : targets_) VariantClear(&v);
    for (BSTR s : strings_) SysFreeString(s);
    for (const CountingDispatch& d : interfaces_) {
      if (d.count() != 1) Broken("interface references do not balance");
    }
  }
  IDispatch* Interface(std::uint8_t mode) { return &interfaces_.emplace_back(mode); }
  VARIANT& Target() {
    VARIANT& v = targets_.emplace_back();
    VariantInit(&v);
    return v;
  }
  BSTR String(BSTR s) { return strings_.emplace_back(s); }

 private:
  std::deque<CountingDispatch> interfaces_;
  std::deque<VARIANT> targets_;
  std::deque<BSTR> strings_;
};

constexpr VARTYPE kElementTypes[] = {VT_I2,  VT_I4,    VT_R4,      VT_R8,  VT_CY,   VT_DATE, VT_BSTR,
                                     VT_DISPATCH, VT_ERROR, VT_BOOL, VT_VARIANT, VT_UNKNOWN, VT_DECIMAL,
                                     VT_I1,  VT_UI1,   VT_UI2,     VT_UI4, VT_I8,   VT_UI8,  VT_INT,
                                     VT_UINT};
// Codes the services refuse that own nothing, so any payload bits are harmless.
constexpr VARTYPE kRefusedTypes[] = {15, 24, 25, 26, 27, 28, 29, 30, 31, 64, 65, 71, 72, 0x0FFF};

class Builder {
 public:
  Builder(Reader& reader, Pool& pool) : r_(reader), pool_(pool) {}

  BSTR Text() {
    std::u16string text(r_.Byte() % 12, u'\0');
    for (char16_t& c : text) {
      const std::uint8_t b = r_.Byte();
      // Mostly characters that numbers, dates and booleans are read from.
      static constexpr char16_t kChars[] = u"0123456789+-.eE ,$#&hHoO:/TtrueFalsnN\0\u00A0\u0660x";
      c = b < 200 ? kChars[b % (sizeof kChars / sizeof kChars[0] - 1)] : static_cast<char16_t>(b << 4 | r_.Byte());
    }
    return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()));
  }

  // A value of `type` (no flags), owning what it holds.
  void Scalar(VARTYPE type, VARIANT& out) {
    VariantInit(&out);
    switch (type) {
      case VT_BSTR:
        V_BSTR(&out) = r_.Byte() % 8 == 0 ? nullptr : Text();
        break;
      case VT_DISPATCH: case VT_UNKNOWN: {
        const std::uint8_t b = r_.Byte();
        IDispatch* d = b % 8 == 0 ? nullptr : pool_.Interface(b);
        if (d) d->AddRef();
        V_DISPATCH(&out) = d;
        break;
      }
      case VT_DECIMAL:
        r_.Bytes(&V_DECIMAL(&out), sizeof(DECIMAL));
        break;
      case VT_R8: case VT_DATE: {
        const std::uint8_t pick = r_.Byte();
        static constexpr double kDoubles[] = {0.0, -0.0, 1e300, -1e-300, 1.23456e5, 0.5, 2958465.9999999,
                                              -657434.5, std::numeric_limits<double>::quiet_NaN(),
                                              std::numeric_limits<double>::infinity(), 9.2233720368547758e18};
        if (pick < 128) V_R8(&out) = kDoubles[pick % (sizeof kDoubles / sizeof kDoubles[0])];
        else r_.Bytes(&V_R8(&out), 8);
        break;
      }
      default:
        r_.Bytes(&V_I8(&out), 8);
        break;
    }
    V_VT(&out) = type;
  }

  // Any value; depth bounds the nesting of arrays of VT_VARIANT.
  void Value(VARIANT& out, int depth) {
    const std::uint8_t shape = r_.Byte();
    switch (shape % 8) {
      case 0: case 1: case 2:
        return Scalar(static_cast<VARTYPE>(r_.Byte() % 24), out);
      case 3: case 4:
        if (depth < 3) return Array(out, depth);
        return Scalar(VT_I4, out);
      case 5:
        if (depth < 3) return Reference(out, depth);
        return Scalar(VT_BSTR, out);
      case 6:
        return Refused(out);
      default:
        return Scalar(kElementTypes[r_.Byte() % std::size(kElementTypes)], out);
    }
  }

  void Array(VARIANT& out, int depth) {
    VariantInit(&out);
    const VARTYPE type = kElementTypes[r_.Byte() % std::size(kElementTypes)];
    const std::uint8_t shape = r_.Byte();
    SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(shape % 9), Lower()}, {1u + (shape >> 4) % 3, Lower()}};
    const UINT dims = (shape & 0x80) ? 2 : 1;
    SAFEARRAY* array = SafeArrayCreate(type, dims, bounds);
    if (!array) return;
    V_VT(&out) = static_cast<VARTYPE>(VT_ARRAY | type);
    V_ARRAY(&out) = array;
    void* data = nullptr;
    if (dims == 1) {
      for (ULONG k = 0; k < bounds[0].cElements; ++k) {
        LONG index = static_cast<LONG>(static_cast<std::int64_t>(bounds[0].lLbound) + k);
        Element(array, type, index, depth);
      }
    } else if (type != VT_BSTR && type != VT_VARIANT && type != VT_UNKNOWN && type != VT_DISPATCH &&
               SUCCEEDED(SafeArrayAccessData(array, &data))) {
      // Plain values only: the bits of every element, whatever their meaning.
      const std::size_t bytes = std::size_t{SafeArrayGetElemsize(array)} * bounds[0].cElements * bounds[1].cElements;
      r_.Bytes(data, bytes);
      SafeArrayUnaccessData(array);
    }
    if (r_.Byte() == 0xA5) {  // an array value without its array
      SafeArrayDestroy(array);
      V_ARRAY(&out) = nullptr;
    }
  }

  void Element(SAFEARRAY* array, VARTYPE type, LONG index, int depth) {
    switch (type) {
      case VT_VARIANT: {
        VARIANT element;
        Value(element, depth + 1);
        SafeArrayPutElement(array, &index, &element);
        Release(element);
        break;
      }
      case VT_BSTR: {
        BSTR s = Text();
        SafeArrayPutElement(array, &index, s);
        SysFreeString(s);
        break;
      }
      case VT_UNKNOWN: case VT_DISPATCH: {
        const std::uint8_t b = r_.Byte();
        if (b % 4) SafeArrayPutElement(array, &index, pool_.Interface(b));
        break;
      }
      default: {
        void* slot = nullptr;
        if (SUCCEEDED(SafeArrayPtrOfIndex(array, &index, &slot))) r_.Bytes(slot, SafeArrayGetElemsize(array));
        break;
      }
    }
  }

  // A by-reference value whose target the pool keeps.
  void Reference(VARIANT& out, int depth) {
    VariantInit(&out);
    VARIANT& target = pool_.Target();
    const std::uint8_t pick = r_.Byte();
    if (pick % 4 == 0) {
      Value(target, depth + 1);
      if (V_VT(&target) & VT_BYREF) return;  // by-reference to by-reference: keep it plain
      V_VT(&out) = VT_BYREF | VT_VARIANT;
      V_VARIANTREF(&out) = &target;
    } else if (pick % 4 == 1) {
      Array(target, depth + 1);
      if (V_VT(&target) == VT_EMPTY) return;
      V_VT(&out) = static_cast<VARTYPE>(VT_BYREF | V_VT(&target));
      V_ARRAYREF(&out) = &V_ARRAY(&target);
    } else {
      const VARTYPE type = static_cast<VARTYPE>(r_.Byte() % 24);
      Scalar(type, target);
      V_VT(&out) = static_cast<VARTYPE>(VT_BYREF | type);
      // A decimal fills the whole variant, the others its value part.
      V_BYREF(&out) = type == VT_DECIMAL ? static_cast<void*>(&V_DECIMAL(&target)) : static_cast<void*>(&V_I8(&target));
    }
  }

  // A type the services refuse: no flag, VT_RESERVED, or VT_RESERVED over a type
  // that owns something, pointing at a string or interface that the pool keeps.
  void Refused(VARIANT& out) {
    VariantInit(&out);
    const std::uint8_t pick = r_.Byte();
    if (pick % 4 == 0) {
      V_VT(&out) = kRefusedTypes[r_.Byte() % std::size(kRefusedTypes)];
      r_.Bytes(&V_I8(&out), 8);
    } else if (pick % 4 == 1) {
      V_VT(&out) = static_cast<VARTYPE>(VT_RESERVED | kElementTypes[r_.Byte() % 5]);  // plain numbers
      r_.Bytes(&V_I8(&out), 8);
    } else if (pick % 4 == 2) {
      V_VT(&out) = VT_RESERVED | VT_BSTR;
      V_BSTR(&out) = pool_.String(Text());
    } else {
      V_VT(&out) = static_cast<VARTYPE>(VT_RESERVED | (pick & 4 ? VT_UNKNOWN : VT_DISPATCH));
      V_DISPATCH(&out) = pool_.Interface(pick);
    }
  }

  // Releases a value this builder made: refused types own nothing of their own.
  static void Release(VARIANT& value) {
    if (V_VT(&value) & VT_RESERVED) return;
    for (const VARTYPE t : kRefusedTypes) {
      if (V_VT(&value) == t) return;
    }
    VariantClear(&value);
  }

 private:
  LONG Lower() {
    const std::uint8_t b = r_.Byte();
    if (b < 0xF0) return static_cast<LONG>(static_cast<std::int8_t>(b));
    if (b < 0xF8) return std::numeric_limits<LONG>::max() - (b & 7);
    return std::numeric_limits<LONG>::min() + (b & 7);
  }

  Reader& r_;
  Pool& pool_;
};

}  // namespace quorvel::fuzz
