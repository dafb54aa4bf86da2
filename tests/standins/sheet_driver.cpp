// sheet_driver PATH: shows the extension's pages for PATH in a modal sheet, as a
// host would, with a hidden window that counts the pages' notifications, and
// prints the counts when the sheet closes. A script drives the sheet.
#include "propsheet/sheet_rules.h"

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const CLSID kDsPropertyPages = {0x0d45d530, 0x764b, 0x11d0, {0xa1, 0xca, 0x00, 0xaa, 0x00, 0xc1, 0x6e, 0x65}};
int g_change = 0, g_apply = 0, g_exit = 0;
HWND g_hidden = nullptr;
std::wstring g_path;

LRESULT CALLBACK HiddenProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_USER + 1103) ++g_change;
  if (m == WM_USER + 1104) ++g_apply;
  if (m == WM_USER + 1107) ++g_exit;
  return ::DefWindowProcW(w, m, wp, lp);
}

HGLOBAL Block(const std::vector<BYTE>& b) {
  HGLOBAL h = ::GlobalAlloc(GMEM_ZEROINIT, b.size());
  std::memcpy(::GlobalLock(h), b.data(), b.size());
  ::GlobalUnlock(h);
  return h;
}

class Data final : public IDataObject {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    *out = (iid == IID_IUnknown || iid == IID_IDataObject) ? this : nullptr;
    return *out ? S_OK : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetData(FORMATETC* fe, STGMEDIUM* medium) override {
    // The blocks as the host renders them.
    std::vector<BYTE> b;
    if (fe->cfFormat == ::RegisterClipboardFormatW(L"DsObjectNames")) {
      b = quorvel::RenderObjectNamesBytes(std::u16string(g_path.begin(), g_path.end()), u"group");
    } else if (fe->cfFormat == ::RegisterClipboardFormatW(L"DsDisplaySpecOptions")) {
      b = quorvel::RenderDisplaySpecOptionsBytes(quorvel::kAttributePrefix);
    } else if (fe->cfFormat == ::RegisterClipboardFormatW(L"DsPropSheetCfgClipFormat")) {
      b = quorvel::RenderPropSheetCfgBytes(reinterpret_cast<std::uintptr_t>(g_hidden));
    } else {
      return DV_E_FORMATETC;
    }
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = Block(b);
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

BOOL CALLBACK Collect(HPROPSHEETPAGE page, LPARAM param) {
  reinterpret_cast<std::vector<HPROPSHEETPAGE>*>(param)->push_back(page);
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  g_path = argv[1];
  ::CoInitialize(nullptr);
  WNDCLASSW wc{};
  wc.lpfnWndProc = HiddenProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = L"SheetDriverHidden";
  ::RegisterClassW(&wc);
  g_hidden = ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
  Data data;
  IShellExtInit* init = nullptr;
  HRESULT hr = ::CoCreateInstance(kDsPropertyPages, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                                  reinterpret_cast<void**>(&init));
  std::vector<HPROPSHEETPAGE> pages;
  if (SUCCEEDED(hr)) hr = init->Initialize(nullptr, &data, nullptr);
  IShellPropSheetExt* ext = nullptr;
  if (SUCCEEDED(hr)) hr = init->QueryInterface(IID_IShellPropSheetExt, reinterpret_cast<void**>(&ext));
  if (SUCCEEDED(hr)) hr = ext->AddPages(Collect, reinterpret_cast<LPARAM>(&pages));
  if (ext) ext->Release();
  if (init) init->Release();
  if (SUCCEEDED(hr) && !pages.empty()) {
    PROPSHEETHEADERW h{};
    h.dwSize = sizeof h;
    h.pszCaption = argv[2];
    h.nPages = static_cast<UINT>(pages.size());
    h.phpage = pages.data();
    ::PropertySheetW(&h);
  }
  ::DestroyWindow(g_hidden);
  std::printf("hr=0x%08lX pages=%u change=%d apply=%d exit=%d\n", static_cast<unsigned long>(hr),
              static_cast<unsigned>(pages.size()), g_change, g_apply, g_exit);
  std::fflush(stdout);
  ::CoUninitialize();
  return 0;
}
