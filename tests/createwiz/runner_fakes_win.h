// In-process stand-ins for what the runner meets at run time: the new object whose
// attributes it reads, and the clipboard it publishes on.
#pragma once

#include "createwiz/create_result.h"

#include <objbase.h>
#include <oleauto.h>
#include <iads.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace quorvel::test {

// A new object whose attributes are single values, or read failures. Counts its
// references and never deletes itself: the test owns it.
class FakeObject final : public IADs {
 public:
  std::map<std::wstring, std::wstring> values;
  std::map<std::wstring, HRESULT> failures;
  std::vector<std::wstring> reads;
  DWORD readThread = 0;
  bool fillOnFailure = false;  // a failing read still hands out its value
  LONG refs = 1;

  HRESULT WINAPI QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IADs) {
      *out = this;
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG WINAPI AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG WINAPI Release() override { return static_cast<ULONG>(--refs); }
  HRESULT WINAPI GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT WINAPI GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT WINAPI GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT WINAPI Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT WINAPI get_Name(BSTR*) override { return E_NOTIMPL; }
  HRESULT WINAPI get_Class(BSTR*) override { return E_NOTIMPL; }
  HRESULT WINAPI get_GUID(BSTR*) override { return E_NOTIMPL; }
  HRESULT WINAPI get_ADsPath(BSTR*) override { return E_NOTIMPL; }
  HRESULT WINAPI get_Parent(BSTR*) override { return E_NOTIMPL; }
  HRESULT WINAPI get_Schema(BSTR*) override { return E_NOTIMPL; }
  HRESULT WINAPI GetInfo() override { return E_NOTIMPL; }
  HRESULT WINAPI SetInfo() override { return E_NOTIMPL; }
  HRESULT WINAPI Get(BSTR, VARIANT*) override { return E_NOTIMPL; }
  HRESULT WINAPI Put(BSTR, VARIANT) override { return E_NOTIMPL; }
  HRESULT WINAPI PutEx(LONG, BSTR, VARIANT) override { return E_NOTIMPL; }
  HRESULT WINAPI GetInfoEx(VARIANT, LONG) override { return E_NOTIMPL; }
  HRESULT WINAPI GetEx(BSTR name, VARIANT* out) override {
    reads.emplace_back(name);
    readThread = ::GetCurrentThreadId();
    const auto f = failures.find(name);
    if (f != failures.end() && !fillOnFailure) return f->second;
    const auto v = values.find(name);
    if (v == values.end()) return f != failures.end() ? f->second : E_FAIL;
    // GetEx gives every value as an array, one element for a single value.
    SAFEARRAY* array = ::SafeArrayCreateVector(VT_VARIANT, 0, 1);
    VARIANT element;
    ::VariantInit(&element);
    V_VT(&element) = VT_BSTR;
    V_BSTR(&element) = ::SysAllocString(v->second.c_str());
    LONG index = 0;
    ::SafeArrayPutElement(array, &index, &element);
    ::VariantClear(&element);
    V_VT(out) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(out) = array;
    return f != failures.end() ? f->second : S_OK;
  }
};

inline UINT RecordFormat() {
  return ::RegisterClipboardFormatW(reinterpret_cast<const wchar_t*>(kCreateObjClipFormat.data()));
}
inline UINT RunFormat() {
  return ::RegisterClipboardFormatW(reinterpret_cast<const wchar_t*>(kCreateObjRunFormat.data()));
}

// Empties the clipboard and puts the marker "seed" on it under both of the record's
// formats and as text, so that a test sees whether any was touched.
inline bool SeedClipboard() {
  if (!::OpenClipboard(nullptr)) return false;
  ::EmptyClipboard();
  bool all = true;
  for (const UINT format : {RecordFormat(), RunFormat(), static_cast<UINT>(CF_UNICODETEXT)}) {
    HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, sizeof(L"seed"));
    std::memcpy(::GlobalLock(block), L"seed", sizeof(L"seed"));
    ::GlobalUnlock(block);
    if (!::SetClipboardData(format, block)) {
      ::GlobalFree(block);
      all = false;
    }
  }
  ::CloseClipboard();
  return all;
}

inline std::vector<std::uint8_t> ClipboardBlock(UINT format) {
  std::vector<std::uint8_t> bytes;
  if (!::OpenClipboard(nullptr)) return bytes;
  if (HANDLE data = ::GetClipboardData(format)) {
    const auto* p = static_cast<const std::uint8_t*>(::GlobalLock(data));
    if (p) bytes.assign(p, p + ::GlobalSize(data));
    ::GlobalUnlock(data);
  }
  ::CloseClipboard();
  return bytes;
}

// A field's text up to its first zero unit or its capacity.
inline std::u16string Field(const std::vector<std::uint8_t>& bytes, std::size_t offset, std::size_t units) {
  std::u16string text;
  for (std::size_t i = 0; i < units && offset + 2 * i + 1 < bytes.size(); ++i) {
    const auto unit = static_cast<char16_t>(bytes[offset + 2 * i] | (bytes[offset + 2 * i + 1] << 8));
    if (unit == 0) break;
    text += unit;
  }
  return text;
}

}  // namespace quorvel::test
