// The host and its data object under Wine, on the roads that need no directory.
#include "platform/ds_layout.h"
#include "platform/win/com_ptr.h"
#include "platform/win/dsa.h"
#include "propsheet/ad_object_property_wnd.h"
#include "propsheet/secondary_sheet_win.h"
#include "propsheet/sheet_fixture_win.h"
#include "propsheet/sheet_rules.h"
#include "support/text.h"
#include "support/win/import_hook.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace quorvel {
namespace {

class Host : public testing::Test {
 protected:
  Host() : host_(new CADObjectPropertyWnd(::GetModuleHandleW(nullptr), ::GetDesktopWindow())) {}
  ComApartment com_;
  ComPtr<CADObjectPropertyWnd> host_;
};

CLIPFORMAT Format(const char16_t* name) {
  return static_cast<CLIPFORMAT>(::RegisterClipboardFormatW(reinterpret_cast<const wchar_t*>(name)));
}

TEST_F(Host, UnclaimedPrefixFailsToBindWithThePlatformsResult) {
  EXPECT_EQ(host_->SetObject(L"QVNOSUCH://CN=x"), static_cast<HRESULT>(0x80004005));
  host_->Run();  // unbound: clears the flag and makes no window (the sheet tests see that)
  EXPECT_EQ(host_->ChangedFlag(), 0);
}

TEST_F(Host, QueryInterface) {
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(host_->QueryInterface(IID_IDispatch, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(host_->QueryInterface(IID_IDataObject, nullptr), E_INVALIDARG);
  ASSERT_EQ(host_->QueryInterface(IID_IUnknown, &out), S_OK);
  EXPECT_EQ(out, static_cast<IDataObject*>(host_.get()));
  EXPECT_EQ(host_->AddRef(), 3u);
  EXPECT_EQ(host_->Release(), 2u);
  EXPECT_EQ(static_cast<IUnknown*>(out)->Release(), 1u);
}

TEST_F(Host, UnimplementedOperationsTouchNothing) {
  FORMATETC format{};
  std::memset(&format, 0x5A, sizeof(format));
  const FORMATETC formatBefore = format;
  STGMEDIUM medium{};
  std::memset(&medium, 0x5A, sizeof(medium));
  const STGMEDIUM mediumBefore = medium;
  IEnumFORMATETC* enumFormat = reinterpret_cast<IEnumFORMATETC*>(7);
  IEnumSTATDATA* enumAdvise = reinterpret_cast<IEnumSTATDATA*>(7);
  DWORD connection = 0x1234;
  EXPECT_EQ(host_->GetDataHere(&format, &medium), E_NOTIMPL);
  EXPECT_EQ(host_->GetCanonicalFormatEtc(&format, &format), E_NOTIMPL);
  EXPECT_EQ(host_->SetData(&format, &medium, TRUE), E_NOTIMPL);
  EXPECT_EQ(host_->EnumFormatEtc(DATADIR_GET, &enumFormat), E_NOTIMPL);
  EXPECT_EQ(host_->DAdvise(&format, 0, nullptr, &connection), E_NOTIMPL);
  EXPECT_EQ(host_->DUnadvise(connection), E_NOTIMPL);
  EXPECT_EQ(host_->EnumDAdvise(&enumAdvise), E_NOTIMPL);
  EXPECT_EQ(std::memcmp(&format, &formatBefore, sizeof(format)), 0);
  EXPECT_EQ(std::memcmp(&medium, &mediumBefore, sizeof(medium)), 0);
  EXPECT_EQ(enumFormat, reinterpret_cast<IEnumFORMATETC*>(7));
  EXPECT_EQ(enumAdvise, reinterpret_cast<IEnumSTATDATA*>(7));
  EXPECT_EQ(connection, 0x1234u);
}

TEST_F(Host, GetDataRendersFreshBlocks) {
  FORMATETC format{Format(ds::kFormatDisplaySpecOptions), nullptr, 0x77, -5, TYMED_HGLOBAL | TYMED_ISTREAM};
  STGMEDIUM first{};
  STGMEDIUM second{};
  ASSERT_EQ(host_->GetData(&format, &first), S_OK);
  ASSERT_EQ(host_->GetData(&format, &second), S_OK);
  EXPECT_EQ(first.tymed, static_cast<DWORD>(TYMED_HGLOBAL));
  EXPECT_EQ(first.pUnkForRelease, nullptr);
  EXPECT_NE(first.hGlobal, second.hGlobal);
  EXPECT_EQ(test::HexDump(BlockBytes(first.hGlobal)), test::HexDump(RenderDisplaySpecOptionsBytes(u"admin")));
  EXPECT_EQ(BlockBytes(first.hGlobal), BlockBytes(second.hGlobal));
  ::ReleaseStgMedium(&first);
  ::ReleaseStgMedium(&second);

  format.cfFormat = Format(ds::kFormatPropSheetCfg);
  STGMEDIUM cfg{};
  ASSERT_EQ(host_->GetData(&format, &cfg), S_OK);
  EXPECT_EQ(test::HexDump(BlockBytes(cfg.hGlobal)), test::HexDump(RenderPropSheetCfgBytes(0)));  // no Run yet
  ::ReleaseStgMedium(&cfg);
}

TEST_F(Host, MediumRulesAndQueryGetData) {
  struct Row {
    int line;
    CLIPFORMAT cf;
    DWORD tymed;
    HRESULT get, query;
  };
  const std::vector<Row> rows = {
      {__LINE__, Format(ds::kFormatDisplaySpecOptions), TYMED_ISTREAM, DV_E_FORMATETC, S_OK},
      {__LINE__, Format(ds::kFormatPropSheetCfg), TYMED_FILE | TYMED_GDI, DV_E_FORMATETC, S_OK},
      {__LINE__, Format(ds::kFormatObjectNames), 0, DV_E_FORMATETC, S_OK},
      {__LINE__, CF_TEXT, TYMED_HGLOBAL, DV_E_FORMATETC, DV_E_FORMATETC},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << "row at line " << r.line);
    FORMATETC format{r.cf, nullptr, DVASPECT_CONTENT, -1, r.tymed};
    STGMEDIUM medium{};
    std::memset(&medium, 0x5A, sizeof(medium));
    const STGMEDIUM before = medium;
    EXPECT_EQ(host_->GetData(&format, &medium), r.get);
    EXPECT_EQ(std::memcmp(&medium, &before, sizeof(medium)), 0);
    EXPECT_EQ(host_->QueryGetData(&format), r.query);
  }
  STGMEDIUM medium{};
  FORMATETC format{};
  EXPECT_EQ(host_->GetData(nullptr, &medium), E_INVALIDARG);
  EXPECT_EQ(host_->GetData(&format, nullptr), E_INVALIDARG);
  EXPECT_NE(host_->QueryGetData(nullptr), S_OK);
}

// The host's window procedure behind a window of the test's own class, so that each
// message of its table can be sent without a sheet.
HWND WindowFor(CADObjectPropertyWnd* host) {
  static const ATOM atom = [] {
    WNDCLASSW wc{};
    wc.lpfnWndProc = CADObjectPropertyWnd::HiddenWindowProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QuorvelHiddenProcTest";
    return ::RegisterClassW(&wc);
  }();
  if (!atom) return nullptr;
  return ::CreateWindowExW(0, L"QuorvelHiddenProcTest", nullptr, 0, 0, 0, 0, 0, nullptr, nullptr,
                           ::GetModuleHandleW(nullptr), host);
}

// DefWindowProcW as the host's window procedure reaches it, answering the
// application's messages with a mark that the table's own 0 cannot be taken for.
constexpr LRESULT kPassedOn = 0x5EED;
std::vector<UINT> g_passedOn;
const auto g_realDefWindowProc =
    reinterpret_cast<WNDPROC>(const_cast<void*>(test::ImportedAddress(L"user32.dll", "DefWindowProcW")));
LRESULT WINAPI MarkingDefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message < WM_USER) return g_realDefWindowProc(window, message, wParam, lParam);
  g_passedOn.push_back(message);
  return kPassedOn;
}

TEST_F(Host, HiddenWindowMessageTable) {
  struct Row {
    int line;
    UINT message;
    WPARAM wParam;
    LRESULT result;
    int changed;
  };
  const std::vector<Row> rows = {
      {__LINE__, WM_DSA_SHEET_CLOSE_NOTIFY, 0xCDCDCDCD, 0, 0},
      {__LINE__, WM_DSA_SHEET_CREATE_NOTIFY, 0, 0, 0},  // null block
      {__LINE__, WM_ADSPROP_NOTIFY_CHANGE, 0, kPassedOn, 1},
      {__LINE__, WM_ADSPROP_NOTIFY_APPLY, 0, kPassedOn, 1},
      {__LINE__, WM_USER + 1105, 0, kPassedOn, 0},  // 2129
      {__LINE__, WM_USER + 1106, 0, kPassedOn, 0},  // 2130
      {__LINE__, WM_ADSPROP_NOTIFY_EXIT, 0, 0, 0},
      {__LINE__, WM_USER + 4, 0, kPassedOn, 0},
  };
  const test::ScopedImportHook hook(test::ImportedAddress(L"user32.dll", "DefWindowProcW"),
                                    reinterpret_cast<const void*>(MarkingDefWindowProc));
  ASSERT_GT(hook.patched(), 0) << "DefWindowProcW could not be replaced";
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << "row at line " << r.line);
    // A host of its own for each message: the flag is only ever set, never cleared.
    const auto host = ComPtr<CADObjectPropertyWnd>(new CADObjectPropertyWnd(::GetModuleHandleW(nullptr), nullptr));
    const HWND window = WindowFor(host.get());
    ASSERT_NE(window, nullptr);
    // WM_NCCREATE stored the host at full pointer width.
    EXPECT_EQ(::GetWindowLongPtrW(window, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(host.get()));
    g_passedOn.clear();
    EXPECT_EQ(::SendMessageW(window, r.message, r.wParam, 0), r.result);
    EXPECT_EQ(g_passedOn, (r.result == kPassedOn ? std::vector<UINT>{r.message} : std::vector<UINT>{}));
    EXPECT_EQ(host->ChangedFlag(), r.changed);
    ::DestroyWindow(window);
  }
  EXPECT_EQ(host_->ChangedFlag(), 0) << "a window set the flag of a host that is not its own";
}

// The version that the replaced query reports.
OSVERSIONINFOW g_version;
BOOL g_versionOk;
BOOL FakeVersion(OSVERSIONINFOW* info) {
  if (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW)) return FALSE;
  if (!g_versionOk) return FALSE;
  *info = g_version;
  return TRUE;
}

class SecPageVersion : public testing::Test {
 protected:
  SecPageVersion() { previous_ = SetVersionQueryForTesting(FakeVersion); }
  ~SecPageVersion() override { SetVersionQueryForTesting(previous_); }
  static void Report(BOOL ok, DWORD platform, DWORD major, DWORD minor) {
    g_versionOk = ok;
    g_version = OSVERSIONINFOW{};
    g_version.dwOSVersionInfoSize = sizeof(g_version);
    g_version.dwPlatformId = platform;
    g_version.dwMajorVersion = major;
    g_version.dwMinorVersion = minor;
  }
  static HLOCAL Block(std::size_t size) {
    HLOCAL b = ::LocalAlloc(LMEM_ZEROINIT, size);
    auto* bytes = static_cast<std::uint8_t*>(b);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i);
    return b;
  }
  VersionQuery previous_;
};

TEST_F(SecPageVersion, RoadsOfAdaptSecPageInfo) {
  struct Row {
    int line;
    BOOL ok;
    DWORD platform, major, minor;
    HRESULT result;
    bool sameBlock;
  };
  const std::vector<Row> rows = {
      {__LINE__, FALSE, VER_PLATFORM_WIN32_NT, 10, 0, E_FAIL, false},
      {__LINE__, TRUE, VER_PLATFORM_WIN32_WINDOWS, 5, 0, E_UNEXPECTED, false},
      {__LINE__, TRUE, VER_PLATFORM_WIN32_NT, 4, 0, E_UNEXPECTED, false},
      {__LINE__, TRUE, VER_PLATFORM_WIN32_NT, 5, 1, S_OK, true},
      {__LINE__, TRUE, VER_PLATFORM_WIN32_NT, 6, 0, S_OK, true},
      {__LINE__, TRUE, VER_PLATFORM_WIN32_NT, 10, 0, S_OK, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << "row at line " << r.line);
    Report(r.ok, r.platform, r.major, r.minor);
    HLOCAL received = Block(64);
    HLOCAL out = reinterpret_cast<HLOCAL>(9);
    EXPECT_EQ(AdaptSecPageInfo(received, &out), r.result);
    EXPECT_EQ(out, r.sameBlock ? received : reinterpret_cast<HLOCAL>(9));
    EXPECT_EQ(::LocalSize(received), 64u);  // still the caller's, still whole
    ::LocalFree(received);
  }
  EXPECT_EQ(AdaptSecPageInfo(nullptr, nullptr), E_INVALIDARG);
}

TEST_F(SecPageVersion, Windows50GetsANewBlock) {
  Report(TRUE, VER_PLATFORM_WIN32_NT, 5, 0);
  // The 5.0 layout's fixed part alone: offsetTitle and DSOBJECTNAMES, no window handle.
  // What it holds: SecondarySheetTest.AdaptedBlockForWindows50HoldsTheReceivedBytesEightOn.
  HLOCAL received = Block(40);
  HLOCAL out = nullptr;
  ASSERT_EQ(AdaptSecPageInfo(received, &out), S_OK);
  ASSERT_NE(out, received);
  EXPECT_EQ(::LocalSize(out), 48u);
  ::LocalFree(out);

  // Too short to hold the fixed part: refused, the block left to the caller.
  HLOCAL shortBlock = Block(39);
  out = nullptr;
  EXPECT_EQ(AdaptSecPageInfo(shortBlock, &out), E_INVALIDARG);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(::LocalSize(shortBlock), 39u);
  ::LocalFree(shortBlock);
}

}  // namespace
}  // namespace quorvel
