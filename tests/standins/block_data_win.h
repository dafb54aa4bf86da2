// A data object for the stand-in extension's tests: the three blocks as the host
// renders them, served by format name, with its references counted.
#pragma once

#include "propsheet/sheet_rules.h"

#include <windows.h>
#include <objidl.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace quorvel {

using Block = std::vector<BYTE>;

inline void PutDword(Block& b, std::size_t at, DWORD v) { std::memcpy(b.data() + at, &v, sizeof v); }

// The blocks as the host renders them; tests make their faults from them.
inline Block ObjectNames(const std::wstring& path, const std::wstring& cls) {
  return RenderObjectNamesBytes(std::u16string(path.begin(), path.end()), std::u16string(cls.begin(), cls.end()));
}
inline Block DisplayOptions() { return RenderDisplaySpecOptionsBytes(kAttributePrefix); }
inline Block SheetConfig(HWND hidden) { return RenderPropSheetCfgBytes(reinterpret_cast<std::uintptr_t>(hidden)); }

// Serves three blocks by format name, as the host does; counts its references.
class FakeData final : public IDataObject {
 public:
  Block names, options, config;
  LONG refs = 1;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IDataObject) return E_NOINTERFACE;
    *out = this;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--refs); }
  STDMETHODIMP GetData(FORMATETC* fe, STGMEDIUM* medium) override {
    const Block* b = nullptr;
    if (fe->cfFormat == ::RegisterClipboardFormatW(L"DsObjectNames")) b = &names;
    if (fe->cfFormat == ::RegisterClipboardFormatW(L"DsDisplaySpecOptions")) b = &options;
    if (fe->cfFormat == ::RegisterClipboardFormatW(L"DsPropSheetCfgClipFormat")) b = &config;
    if (!b || !(fe->tymed & TYMED_HGLOBAL)) return DV_E_FORMATETC;
    HGLOBAL h = ::GlobalAlloc(GMEM_ZEROINIT, b->size());
    std::memcpy(::GlobalLock(h), b->data(), b->size());
    ::GlobalUnlock(h);
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = h;
    medium->pUnkForRelease = nullptr;
    return S_OK;
  }
  STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  STDMETHODIMP QueryGetData(FORMATETC*) override { return E_NOTIMPL; }
  STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
  STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
  STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP DUnadvise(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
};

}  // namespace quorvel
