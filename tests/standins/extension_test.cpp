// The property page extension stand-in, given its data by a data object of the
// test's own: the layouts it must accept, the faults it must refuse, the page.
#include "platform/win/com_ptr.h"
#include "platform/win/unique_handle.h"

#include <activeds.h>
#include <commctrl.h>
#include <dsclient.h>
#include <gtest/gtest.h>
#include <shlobj.h>

#include <cstring>
#include <string>
#include <vector>

namespace quorvel {
namespace {

const CLSID kDsPropertyPages = {0x0d45d530, 0x764b, 0x11d0, {0xa1, 0xca, 0x00, 0xaa, 0x00, 0xc1, 0x6e, 0x65}};

using Block = std::vector<BYTE>;

void PutDword(Block& b, std::size_t at, DWORD v) { std::memcpy(b.data() + at, &v, sizeof v); }
void PutString(Block& b, std::size_t at, const std::wstring& s) {
  std::memcpy(b.data() + at, s.c_str(), (s.size() + 1) * 2);
}

Block ObjectNames(const std::wstring& path, const std::wstring& cls) {
  Block b(36 + 2 * (path.size() + 1) + 2 * (cls.size() + 1));
  PutDword(b, 16, 1);        // cItems
  PutDword(b, 24, 0x10);     // DSPROVIDER_ADVANCED
  PutDword(b, 28, 36);       // offsetName
  PutDword(b, 32, static_cast<DWORD>(36 + 2 * (path.size() + 1)));
  PutString(b, 36, path);
  PutString(b, 36 + 2 * (path.size() + 1), cls);
  return b;
}

Block DisplayOptions() {
  Block b(40);
  PutDword(b, 0, 28);
  PutDword(b, 8, 28);
  PutString(b, 28, L"admin");
  return b;
}

Block SheetConfig(HWND hidden) {
  Block b(32);
  std::memcpy(b.data() + 8, &hidden, sizeof hidden);
  std::memcpy(b.data() + 16, &hidden, sizeof hidden);
  PutDword(b, 24, 0xCDCDCDCD);
  return b;
}

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

// A handle that once named a window and names none now.
HWND GoneWindow() {
  HWND w = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  ::DestroyWindow(w);
  return w;
}

BOOL CALLBACK Collect(HPROPSHEETPAGE page, LPARAM param) {
  reinterpret_cast<std::vector<HPROPSHEETPAGE>*>(param)->push_back(page);
  return TRUE;
}

long Outstanding(const wchar_t* dll) {
  HMODULE m = ::GetModuleHandleW(dll);
  if (!m) return 0;
  using Fn = void(__stdcall*)(long*, long*, long*);
  auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(m, "QuorvelStandinOutstanding")));
  long objects = -1, references = -1, locks = -1;
  if (fn) fn(&objects, &references, &locks);
  return objects + references + locks;
}

TEST(Extension, ChecksTheHostsBlocksAndAddsTheGeneralPage) {
  ComApartment com;
  UniqueHwnd hidden(::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr));
  ASSERT_TRUE(hidden);
  const std::wstring group = L"LDAP://CN=Sales Team,OU=Staff,DC=example,DC=com";
  struct Row {
    int line;
    void (*spoil)(FakeData&);
    HRESULT expected;
  };
  const std::vector<Row> rows = {
      {__LINE__, [](FakeData&) {}, S_OK},
      {__LINE__, [](FakeData& d) { PutDword(d.names, 16, 2); }, E_INVALIDARG},          // two objects
      {__LINE__, [](FakeData& d) { PutDword(d.names, 28, 4000); }, E_INVALIDARG},       // name outside
      {__LINE__, [](FakeData& d) { PutDword(d.names, 32, 37); }, E_INVALIDARG},        // odd class offset
      {__LINE__, [](FakeData& d) { d.names.clear(); }, E_INVALIDARG},                   // format not served
      {__LINE__, [](FakeData& d) { PutDword(d.options, 0, 32); }, E_INVALIDARG},        // wrong dwSize
      {__LINE__, [](FakeData& d) { PutDword(d.options, 8, 0); }, E_INVALIDARG},         // no prefix
      {__LINE__, [](FakeData& d) { d.config.resize(24); }, E_INVALIDARG},               // short block
      {__LINE__, [](FakeData& d) { d.config = SheetConfig(GoneWindow()); }, E_INVALIDARG},
      {__LINE__, [](FakeData& d) { d.names = ObjectNames(L"LDAP://CN=Nobody,OU=Staff,DC=example,DC=com", L"user"); },
       static_cast<HRESULT>(0x80072030)},
  };
  for (const Row& row : rows) {
    // GCC gives every row of this table the line where the table starts, so the index says which one.
    SCOPED_TRACE(testing::Message() << "line " << row.line << ", row " << (&row - rows.data()));
    FakeData data;
    data.names = ObjectNames(group, L"group");
    data.options = DisplayOptions();
    data.config = SheetConfig(hidden.get());
    row.spoil(data);
    ComPtr<IShellExtInit> init;
    ASSERT_EQ(::CoCreateInstance(kDsPropertyPages, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                                 init.put_void()),
              S_OK);
    EXPECT_EQ(init->Initialize(nullptr, &data, nullptr), row.expected);
    ComPtr<IShellPropSheetExt> ext;
    ASSERT_EQ(init.As(IID_IShellPropSheetExt, ext), S_OK);
    std::vector<HPROPSHEETPAGE> pages;
    const HRESULT added = ext->AddPages(Collect, reinterpret_cast<LPARAM>(&pages));
    if (row.expected == S_OK) {
      EXPECT_EQ(added, S_OK);
      EXPECT_EQ(pages.size(), 1u);
    } else {
      EXPECT_TRUE(FAILED(added));  // nothing bound, nothing to show
      EXPECT_TRUE(pages.empty());
    }
    for (HPROPSHEETPAGE p : pages) ::DestroyPropertySheetPage(p);
    ext.reset();
    init.reset();
    EXPECT_EQ(data.refs, 1);  // the extension let go of the data object
    EXPECT_EQ(Outstanding(L"quorvel_dsprop.dll"), 0);
    EXPECT_EQ(Outstanding(L"quorvel_adsldp.dll"), 0);
  }
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

TEST(Extension, CanStandForOneWithNoPageForTheObject) {
  ComApartment com;
  UniqueHwnd hidden(::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr));
  FakeData data;
  data.names = ObjectNames(L"LDAP://CN=Sales Team,OU=Staff,DC=example,DC=com", L"group");
  data.options = DisplayOptions();
  data.config = SheetConfig(hidden.get());
  ::SetEnvironmentVariableW(L"QUORVEL_STANDIN_NO_PAGES", L"1");
  {
    ComPtr<IShellExtInit> init;
    ASSERT_EQ(::CoCreateInstance(kDsPropertyPages, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                                 init.put_void()),
              S_OK);
    EXPECT_EQ(init->Initialize(nullptr, &data, nullptr), S_OK);
    ComPtr<IShellPropSheetExt> ext;
    ASSERT_EQ(init.As(IID_IShellPropSheetExt, ext), S_OK);
    std::vector<HPROPSHEETPAGE> pages;
    EXPECT_EQ(ext->AddPages(Collect, reinterpret_cast<LPARAM>(&pages)), S_OK);
    EXPECT_TRUE(pages.empty());
  }
  ::SetEnvironmentVariableW(L"QUORVEL_STANDIN_NO_PAGES", nullptr);
  EXPECT_EQ(data.refs, 1);
  EXPECT_EQ(Outstanding(L"quorvel_dsprop.dll"), 0);
}

}  // namespace
}  // namespace quorvel
