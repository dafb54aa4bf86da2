// The property sheet host: binds one directory object, lets the platform's page
// extension add its pages, serves them data as an IDataObject, shows the sheet
// modally and records whether a page reported a change.
#pragma once

#include "platform/win/com_ptr.h"
#include "platform/win/unique_handle.h"
#include "platform/wintypes.h"
#include "propsheet/sheet_rules.h"

#include <objidl.h>
#include <prsht.h>

struct IADs;

namespace quorvel {

class CADObjectPropertyWnd final : public IDataObject {
 public:
  CADObjectPropertyWnd(HINSTANCE instance, HWND parent);
  CADObjectPropertyWnd(const CADObjectPropertyWnd&) = delete;
  CADObjectPropertyWnd& operator=(const CADObjectPropertyWnd&) = delete;

  HRESULT SetObject(const wchar_t* adsPath);
  void Run();
  int ChangedFlag() const { return changed_; }
  // The window the pages report to, while Run shows the sheet.
  HWND HiddenWindow() const { return hidden_.get(); }
  HINSTANCE Instance() const { return instance_; }

  static constexpr wchar_t kWindowClassName[] = L"CPropSheetHostHiddenWindowClass";

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  // IDataObject
  STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override;
  STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  STDMETHODIMP QueryGetData(FORMATETC* format) override;
  STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
  STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
  STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP DUnadvise(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }

  static LRESULT CALLBACK HiddenWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  ~CADObjectPropertyWnd() = default;

  HWND CreateHiddenWindow();
  HRESULT AddExtensionPages();
  static BOOL CALLBACK AddPageProc(HPROPSHEETPAGE page, LPARAM host);
  void ShowSheet();
  void DestroyCollectedPages();
  HostFormats Formats() const { return {displaySpecOptionsFormat_, objectNamesFormat_, propSheetCfgFormat_}; }
  HRESULT RenderBlock(const std::vector<std::uint8_t>& bytes, STGMEDIUM* medium);

  HWND parent_;
  UniqueHwnd hidden_;
  LONG refs_ = 0;
  ComPtr<IADs> object_;
  CLIPFORMAT propSheetCfgFormat_;
  CLIPFORMAT objectNamesFormat_;
  CLIPFORMAT displaySpecOptionsFormat_;
  PageList pages_;
  HINSTANCE instance_;
  int changed_ = 0;
};

}  // namespace quorvel
