#include "propsheet/ad_object_property_wnd.h"

#include "platform/automation_owners.h"
#include "platform/win/com_ptr.h"
#include "platform/win/dsa.h"
#include "platform/win/unique_handle.h"
#include "propsheet/secondary_sheet_win.h"
#include "res/resource.h"

#include <activeds.h>
#include <dsclient.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstring>

namespace quorvel {
namespace {

CLIPFORMAT RegisterFormat(const char16_t* name) {
  return static_cast<CLIPFORMAT>(::RegisterClipboardFormatW(reinterpret_cast<const wchar_t*>(name)));
}

}  // namespace

CADObjectPropertyWnd::CADObjectPropertyWnd(HINSTANCE instance, HWND parent)
    : parent_(parent),
      propSheetCfgFormat_(RegisterFormat(ds::kFormatPropSheetCfg)),
      objectNamesFormat_(RegisterFormat(ds::kFormatObjectNames)),
      displaySpecOptionsFormat_(RegisterFormat(ds::kFormatDisplaySpecOptions)),
      instance_(instance) {}

HRESULT CADObjectPropertyWnd::SetObject(const wchar_t* adsPath) {
  ComPtr<IUnknown> bound;
  const HRESULT hr = ::ADsGetObject(adsPath, IID_IADs, bound.put_void());
  if (FAILED(hr)) return hr;
  if (!bound) return E_POINTER;
  // A second bind replaces the first object: As releases it before asking.
  return bound.As(IID_IADs, object_);
}

void CADObjectPropertyWnd::Run() {
  changed_ = 0;
  if (!object_) return;
  if (!CreateHiddenWindow()) return;
  ShowSheet();
  hidden_.reset();
}

HWND CADObjectPropertyWnd::CreateHiddenWindow() {
  WNDCLASSW existing{};
  if (!::GetClassInfoW(instance_, kWindowClassName, &existing)) {
    WNDCLASSW wc{};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = HiddenWindowProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 8;
    wc.hInstance = instance_;
    wc.hIcon = nullptr;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = kWindowClassName;
    if (!::RegisterClassW(&wc)) return nullptr;
  }
  hidden_.reset(::CreateWindowExW(0, kWindowClassName, nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, instance_, this));
  return hidden_.get();
}

LRESULT CALLBACK CADObjectPropertyWnd::HiddenWindowProc(HWND window, UINT message, WPARAM wParam,
                                                        LPARAM lParam) {
  auto* host = reinterpret_cast<CADObjectPropertyWnd*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_NCCREATE: {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
      break;
    }
    case WM_DSA_SHEET_CLOSE_NOTIFY:
      return 0;
    case WM_DSA_SHEET_CREATE_NOTIFY:
      HandleSecondarySheetRequest(host, reinterpret_cast<HLOCAL>(wParam));
      return 0;
    case WM_ADSPROP_NOTIFY_CHANGE:
    case WM_ADSPROP_NOTIFY_APPLY:
      if (host) host->changed_ = 1;
      break;
    case WM_ADSPROP_NOTIFY_EXIT:
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

HRESULT CADObjectPropertyWnd::AddExtensionPages() {
  ComPtr<IDataObject> data;
  HRESULT hr = QueryInterface(IID_IDataObject, data.put_void());
  if (FAILED(hr)) return hr;
  ComPtr<IShellExtInit> init;
  hr = ::CoCreateInstance(CLSID_DsPropertyPages, nullptr, CLSCTX_ALL, IID_IShellExtInit, init.put_void());
  if (FAILED(hr)) return hr;
  hr = init->Initialize(nullptr, data.get(), nullptr);
  if (FAILED(hr)) return hr;
  ComPtr<IShellPropSheetExt> sheetExt;
  hr = init.As(IID_IShellPropSheetExt, sheetExt);
  if (FAILED(hr)) return hr;
  // Released in reverse order of taking on every road: the sheet extension, the
  // extension, then the data object.
  return sheetExt->AddPages(AddPageProc, reinterpret_cast<LPARAM>(this));
}

BOOL CALLBACK CADObjectPropertyWnd::AddPageProc(HPROPSHEETPAGE page, LPARAM host) {
  auto* self = reinterpret_cast<CADObjectPropertyWnd*>(host);
  // A null handle (an extension passing on a failed CreatePropertySheetPage) is no
  // page: comctl32 would read it as a page description and fault.
  if (!page) return TRUE;
  // A page that cannot be stored would never be shown nor freed by the sheet.
  if (!self->pages_.Append(page)) ::DestroyPropertySheetPage(page);
  return TRUE;
}

void CADObjectPropertyWnd::DestroyCollectedPages() {
  for (std::int32_t i = 0; i < pages_.count(); ++i)
    if (pages_.data()[i]) ::DestroyPropertySheetPage(static_cast<HPROPSHEETPAGE>(pages_.data()[i]));
  pages_.Clear();
}

void CADObjectPropertyWnd::ShowSheet() {
  if (!object_) return;
  if (FAILED(AddExtensionPages()) || pages_.count() == 0) {
    // Pages handed over but never shown belong to no sheet: destroy them here.
    DestroyCollectedPages();
    return;
  }
  UniqueBstr name;
  const HRESULT nameResult = object_->get_Name(name.put());
  // Text taken out of a BSTR ends at its first zero; the sheet would show the
  // caption only up to there, without " - Properties".
  const std::u16string_view nameText = name.view().substr(0, name.view().find(u'\0'));
  const std::u16string caption = BuildSheetCaption(nameResult, nameText);
  const UniqueBstr captionBstr(caption);
  if (!captionBstr) {
    DestroyCollectedPages();
    throw std::bad_alloc();
  }

  PROPSHEETHEADERW header;
  std::memset(&header, 0, sizeof(header));
  header.dwSize = sizeof(PROPSHEETHEADERW);
  header.dwFlags = PSH_USEHICON;
  header.hwndParent = parent_;
  header.hInstance = nullptr;
  header.hIcon = ::LoadIconW(instance_, MAKEINTRESOURCEW(IDI_SHEET));
  header.pszCaption = captionBstr.get();
  header.nPages = static_cast<UINT>(pages_.count());
  header.nStartPage = 0;
  header.phpage = reinterpret_cast<HPROPSHEETPAGE*>(pages_.data());
  header.pfnCallback = nullptr;
  ::PropertySheetW(&header);

  // The sheet owns the pages from here on.
  pages_.Clear();
}

HRESULT CADObjectPropertyWnd::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDataObject)) {
    *out = static_cast<IDataObject*>(this);
    AddRef();
    return S_OK;
  }
  return E_NOINTERFACE;
}

ULONG CADObjectPropertyWnd::AddRef() { return static_cast<ULONG>(++refs_); }

ULONG CADObjectPropertyWnd::Release() {
  const LONG left = --refs_;
  if (left != 0) return static_cast<ULONG>(left);
  DestroyCollectedPages();
  delete this;
  return 0;
}

HRESULT CADObjectPropertyWnd::RenderBlock(const std::vector<std::uint8_t>& bytes, STGMEDIUM* medium) {
  // The medium is filled only once the block holds its bytes: a failure hands out nothing.
  UniqueHGlobal block(::GlobalAlloc(GMEM_ZEROINIT, bytes.size()));
  const GlobalLockScope lock(block.get());
  if (!lock) return E_OUTOFMEMORY;
  std::memcpy(lock.get(), bytes.data(), bytes.size());
  medium->tymed = TYMED_HGLOBAL;
  medium->pUnkForRelease = nullptr;
  medium->hGlobal = block.release();
  return S_OK;
}

HRESULT CADObjectPropertyWnd::GetData(FORMATETC* format, STGMEDIUM* medium) {
  if (!format || !medium) return E_INVALIDARG;
  const HostFormat which = SelectFormat(Formats(), format->cfFormat);
  if (which == HostFormat::None || !(format->tymed & TYMED_HGLOBAL)) return DV_E_FORMATETC;
  switch (which) {
    case HostFormat::DisplaySpecOptions:
      return RenderBlock(RenderDisplaySpecOptionsBytes(kAttributePrefix), medium);
    case HostFormat::ObjectNames: {
      if (!object_) return E_UNEXPECTED;
      UniqueBstr path;
      HRESULT hr = object_->get_ADsPath(path.put());
      if (FAILED(hr)) return hr;
      UniqueBstr className;
      hr = object_->get_Class(className.put());
      if (FAILED(hr)) return hr;
      return RenderBlock(RenderObjectNamesBytes(path.view(), className.view()), medium);
    }
    case HostFormat::PropSheetCfg:
      return RenderBlock(RenderPropSheetCfgBytes(reinterpret_cast<std::uintptr_t>(hidden_.get())), medium);
    case HostFormat::None:
      break;
  }
  return DV_E_FORMATETC;
}

HRESULT CADObjectPropertyWnd::QueryGetData(FORMATETC* format) {
  if (!format) return E_INVALIDARG;
  return SelectFormat(Formats(), format->cfFormat) == HostFormat::None ? DV_E_FORMATETC : S_OK;
}

}  // namespace quorvel
