// The least a program must do to show the directory property sheet or the creation
// wizard, as the yardstick for quorvel.exe's time to its first window:
//   bench_min_host /adproppage:<ADsPath>       bind, pages, PropertySheetW
//   bench_min_host /adcreateobjwiz:<container>  bind, wizard, CreateModal (a user)
// The same platform calls as quorvel.exe, on the main thread, with the same manifest,
// and nothing else. Exit status 0 when the window was shown, else the failing HRESULT.
#include "platform/win/com_ptr.h"

#include <objbase.h>
#include <ole2.h>
#include <initguid.h>  // the directory classes are in no import library
#include <dsclient.h>
#include <dsadmin.h>

#include "platform/win/dsa.h"

#include <activeds.h>
#include <shlobj.h>

#include <cstring>
#include <cwchar>
#include <string>

namespace {

using quorvel::ComPtr;

HGLOBAL Block(const void* bytes, std::size_t size) {
  HGLOBAL block = ::GlobalAlloc(GMEM_FIXED, size);
  if (block) std::memcpy(block, bytes, size);
  return block;
}

// The smallest data object that serves the three blocks the pages read.
class Data final : public IDataObject {
 public:
  Data(IADs* object, HWND hidden) : object_(object), hidden_(hidden) {}
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    *out = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDataObject) ? this : nullptr;
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  // Lives on the stack for the whole job.
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override {
    medium->tymed = TYMED_HGLOBAL;
    medium->pUnkForRelease = nullptr;
    medium->hGlobal = nullptr;
    const UINT cf = format->cfFormat;
    if (cf == ::RegisterClipboardFormatW(CFSTR_DSDISPLAYSPECOPTIONS)) {
      struct { DSDISPLAYSPECOPTIONS head; wchar_t prefix[6]; } b{};
      b.head.dwSize = sizeof(b.head);
      b.head.offsetAttribPrefix = sizeof(b.head);
      std::wcscpy(b.prefix, L"admin");
      medium->hGlobal = Block(&b, sizeof(b));
    } else if (cf == ::RegisterClipboardFormatW(CFSTR_DSOBJECTNAMES)) {
      BSTR path = nullptr, cls = nullptr;
      object_->get_ADsPath(&path);
      object_->get_Class(&cls);
      const std::size_t pathBytes = (::SysStringLen(path) + 1) * sizeof(wchar_t);
      const std::size_t clsBytes = (::SysStringLen(cls) + 1) * sizeof(wchar_t);
      std::string b(sizeof(DSOBJECTNAMES) + pathBytes + clsBytes, '\0');
      auto* names = reinterpret_cast<DSOBJECTNAMES*>(b.data());
      names->cItems = 1;
      names->aObjects[0].dwProviderFlags = DSPROVIDER_ADVANCED;
      names->aObjects[0].offsetName = sizeof(DSOBJECTNAMES);
      names->aObjects[0].offsetClass = static_cast<DWORD>(sizeof(DSOBJECTNAMES) + pathBytes);
      if (path) std::memcpy(&b[sizeof(DSOBJECTNAMES)], path, pathBytes);
      if (cls) std::memcpy(&b[sizeof(DSOBJECTNAMES) + pathBytes], cls, clsBytes);
      ::SysFreeString(path);
      ::SysFreeString(cls);
      medium->hGlobal = Block(b.data(), b.size());
    } else if (cf == ::RegisterClipboardFormatW(quorvel::CFSTR_DS_PROPSHEETCONFIG)) {
      const quorvel::PROPSHEETCFG b{0, hidden_, hidden_, 0};
      medium->hGlobal = Block(&b, sizeof(b));
    } else {
      return DV_E_FORMATETC;
    }
    return medium->hGlobal ? S_OK : E_OUTOFMEMORY;
  }
  STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  STDMETHODIMP QueryGetData(FORMATETC*) override { return S_OK; }
  STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
  STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
  STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP DUnadvise(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }

 private:
  IADs* object_;
  HWND hidden_;
};

struct Pages {
  HPROPSHEETPAGE page[16];
  UINT count = 0;
};

BOOL CALLBACK AddPage(HPROPSHEETPAGE page, LPARAM pages) {
  auto* p = reinterpret_cast<Pages*>(pages);
  if (page && p->count < 16) p->page[p->count++] = page;
  return TRUE;
}

HRESULT Sheet(const wchar_t* path) {
  ComPtr<IADs> object;
  HRESULT hr = ::ADsGetObject(path, IID_IADs, object.put_void());
  if (FAILED(hr)) return hr;
  // The pages send their notifications to a window of the host: a predefined class,
  // nothing registered.
  const HWND hidden = ::CreateWindowExW(0, L"Static", nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  Data data(object.get(), hidden);
  ComPtr<IShellExtInit> init;
  hr = ::CoCreateInstance(CLSID_DsPropertyPages, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit, init.put_void());
  if (SUCCEEDED(hr)) hr = init->Initialize(nullptr, &data, nullptr);
  ComPtr<IShellPropSheetExt> extension;
  if (SUCCEEDED(hr)) hr = init.As(IID_IShellPropSheetExt, extension);
  Pages pages;
  if (SUCCEEDED(hr)) hr = extension->AddPages(AddPage, reinterpret_cast<LPARAM>(&pages));
  BSTR name = nullptr;
  if (SUCCEEDED(hr)) hr = object->get_Name(&name);
  if (SUCCEEDED(hr)) {
    PROPSHEETHEADERW header{};
    header.dwSize = sizeof(header);
    header.hwndParent = ::GetDesktopWindow();
    header.pszCaption = name;
    header.nPages = pages.count;
    header.phpage = pages.page;
    if (::PropertySheetW(&header) < 0) hr = E_FAIL;
  }
  ::SysFreeString(name);
  ::DestroyWindow(hidden);
  return hr;
}

HRESULT Wizard(const wchar_t* container) {
  ComPtr<IADsContainer> parent;
  HRESULT hr = ::ADsGetObject((std::wstring(L"LDAP://") + container).c_str(), IID_IADsContainer, parent.put_void());
  if (FAILED(hr)) return hr;
  ComPtr<IDsAdminCreateObj> wizard;
  hr = ::CoCreateInstance(CLSID_DsAdminCreateObj, nullptr, CLSCTX_INPROC_SERVER, IID_IDsAdminCreateObj,
                          wizard.put_void());
  if (FAILED(hr)) return hr;
  hr = wizard->Initialize(parent.get(), nullptr, L"user");
  if (FAILED(hr)) return hr;
  ComPtr<IADs> created;
  hr = wizard->CreateModal(::GetDesktopWindow(), created.put());
  return FAILED(hr) ? hr : S_OK;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR tail, int) {
  constexpr wchar_t kSheet[] = L"/adproppage:";
  constexpr wchar_t kWizard[] = L"/adcreateobjwiz:";
  std::wstring argument(tail);
  HRESULT hr = E_INVALIDARG;
  ::CoInitialize(nullptr);
  if (argument.starts_with(kSheet)) {
    hr = Sheet(argument.c_str() + std::wcslen(kSheet));
  } else if (argument.starts_with(kWizard)) {
    argument.erase(0, std::wcslen(kWizard));
    hr = Wizard(argument.substr(0, argument.find(L'|')).c_str());
  }
  ::CoUninitialize();
  return static_cast<int>(hr);
}
