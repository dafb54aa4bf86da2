#include "support/win/fake_page_extension.h"

#include "platform/win/dsa.h"

#include <cstring>
#include <utility>

namespace quorvel::test {
namespace {

// CLSID_DsPropertyPages, under a name of our own so that the test program can also
// link the host, which defines the platform's symbol.
constexpr CLSID kDsPropertyPages = {0x0d45d530, 0x764b, 0x11d0, {0xa1, 0xca, 0x00, 0xaa, 0x00, 0xc1, 0x6e, 0x65}};
constexpr UINT kRunScript = WM_APP + 1;

// A page dialog with no controls: DLGTEMPLATE, then empty menu, class and title.
struct alignas(4) PageTemplate {
  DWORD style;
  DWORD exStyle;
  WORD items;
  short x, y, cx, cy;
  WORD menu, windowClass, title;
};
const PageTemplate kPageTemplate = {WS_CHILD | WS_CAPTION | DS_CONTROL, 0, 0, 0, 0, 160, 80, 0, 0, 0};
static_assert(sizeof(PageTemplate) == 24);

INT_PTR CALLBACK PageProc(HWND page, UINT message, WPARAM, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      auto* record = reinterpret_cast<PageRecord*>(reinterpret_cast<const PROPSHEETPAGEW*>(lParam)->lParam);
      ::SetWindowLongPtrW(page, DWLP_USER, reinterpret_cast<LONG_PTR>(record));
      record->shown = true;
      // The sheet is not complete inside WM_INITDIALOG: run the script from its loop.
      if (record->index == 0) ::PostMessageW(page, kRunScript, 0, 0);
      return TRUE;
    }
    case kRunScript: {
      auto* record = reinterpret_cast<PageRecord*>(::GetWindowLongPtrW(page, DWLP_USER));
      FakePageExtension& ext = *record->extension;
      SheetView& view = ext.view;
      view.page = page;
      view.sheet = ::GetParent(page);
      view.owner = ::GetWindow(view.sheet, GW_OWNER);
      view.icon = reinterpret_cast<HICON>(::SendMessageW(view.sheet, WM_GETICON, ICON_SMALL, 0));
      wchar_t caption[256] = {};
      ::GetWindowTextW(view.sheet, caption, 256);
      view.caption = caption;
      ext.viewed = true;
      if (ext.script.whileUp) ext.script.whileUp(view);
      ::PostMessageW(view.sheet, PSM_PRESSBUTTON, ext.script.close == CloseWith::Ok ? PSBTN_OK : PSBTN_CANCEL, 0);
      return TRUE;
    }
    case WM_NOTIFY:
      if (reinterpret_cast<const NMHDR*>(lParam)->code == PSN_APPLY) {
        ::SetWindowLongPtrW(page, DWLP_MSGRESULT, PSNRET_NOERROR);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

UINT CALLBACK PageCallback(HWND, UINT message, PROPSHEETPAGEW* psp) {
  auto* record = reinterpret_cast<PageRecord*>(psp->lParam);
  switch (message) {
    case PSPCB_ADDREF:
      ++record->addRefs;
      break;
    case PSPCB_RELEASE:
      // Only the first release gives the page's reference back, so that a page
      // destroyed twice shows up in its count and not as a crash.
      if (++record->releases == 1 && record->data) record->data->Release();
      break;
    default:
      break;
  }
  return 1;
}

}  // namespace

HRESULT FakePageExtension::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IShellExtInit))
    *out = static_cast<IShellExtInit*>(this);
  else if (IsEqualIID(iid, IID_IShellPropSheetExt) && script.sheetExtension)
    *out = static_cast<IShellPropSheetExt*>(this);
  else
    return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

ULONG FakePageExtension::Release() {
  const ULONG left = refs.Drop();
  // As a real extension would on its final release: give the data object back.
  if (left == 0 && data_) std::exchange(data_, nullptr)->Release();
  return left;
}

HRESULT FakePageExtension::Initialize(PCIDLIST_ABSOLUTE, IDataObject* data, HKEY) {
  if (FAILED(script.initializeResult)) return script.initializeResult;
  if (!data) return E_INVALIDARG;
  data->AddRef();
  if (data_) data_->Release();
  data_ = data;
  return S_OK;
}

HRESULT FakePageExtension::AddPages(LPFNSVADDPROPSHEETPAGE add, LPARAM param) {
  if (!data_) return E_UNEXPECTED;
  FORMATETC format{static_cast<CLIPFORMAT>(::RegisterClipboardFormatW(L"DsPropSheetCfgClipFormat")), nullptr,
                   DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM medium{};
  cfgResult = data_->GetData(&format, &medium);
  if (SUCCEEDED(cfgResult)) {
    if (const void* p = ::GlobalLock(medium.hGlobal)) {
      PROPSHEETCFG cfg;
      std::memcpy(&cfg, p, sizeof(cfg));
      ::GlobalUnlock(medium.hGlobal);
      cfgHidden = cfg.hwndHidden;
      cfgParentSheet = cfg.hwndParentSheet;
      hiddenClass = static_cast<ATOM>(::GetClassLongPtrW(cfgHidden, GCW_ATOM));
    }
    ::ReleaseStgMedium(&medium);
  }
  for (int i = 0; i < script.nullPages; ++i) add(nullptr, param);
  for (int i = 0; i < script.pages; ++i) {
    PageRecord& record = pages.emplace_back();
    record.extension = this;
    record.index = i;
    PROPSHEETPAGEW psp{};
    psp.dwSize = sizeof(psp);
    psp.dwFlags = PSP_DLGINDIRECT | PSP_USECALLBACK | PSP_USETITLE;
    psp.pResource = reinterpret_cast<const DLGTEMPLATE*>(&kPageTemplate);
    psp.pszTitle = L"Fake page";
    psp.pfnDlgProc = PageProc;
    psp.lParam = reinterpret_cast<LPARAM>(&record);
    psp.pfnCallback = PageCallback;
    record.handle = ::CreatePropertySheetPageW(&psp);
    if (!record.handle) return E_OUTOFMEMORY;
    data_->AddRef();
    record.data = data_;
    if (!add(record.handle, param)) {
      // Not taken: the extension still owns the page.
      ::DestroyPropertySheetPage(record.handle);
    }
  }
  return script.addPagesResult;
}

FakePageExtensions::FakePageExtensions()
    : factory_(Create, this), registration_(std::make_unique<ScopedClassObject>(kDsPropertyPages, &factory_)) {}

FakePageExtensions::~FakePageExtensions() { registration_.reset(); }

HRESULT FakePageExtensions::Create(void* context, REFIID iid, void** out) {
  auto& self = *static_cast<FakePageExtensions*>(context);
  ExtensionScript script;
  if (!self.scripts_.empty()) {
    script = std::move(self.scripts_.front());
    self.scripts_.pop_front();
  }
  FakePageExtension& ext = *self.created_.emplace_back(std::make_unique<FakePageExtension>(std::move(script)));
  return ext.QueryInterface(iid, out);
}

}  // namespace quorvel::test
