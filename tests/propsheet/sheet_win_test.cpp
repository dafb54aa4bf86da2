// The host with real sheets under Wine: the real ADsGetObject binds a fake object
// through a provider registered in the prefix, the real comctl32 shows the pages
// that a scripted extension adds, and every reference is counted.
#include "platform/win/dsa.h"
#include "res/resource.h"
#include "propsheet/sheet_fixture_win.h"
#include "support/win/import_hook.h"
#include "support/text.h"

#include <commctrl.h>

#include <cstring>

#include <string>
#include <vector>

namespace quorvel {
namespace {

using test::CloseWith;
using test::ExtensionScript;
using test::FakeADs;
using test::SheetView;

ExtensionScript Pages(int pages, HRESULT addPagesResult = S_OK, HRESULT initializeResult = S_OK) {
  ExtensionScript script;
  script.pages = pages;
  script.addPagesResult = addPagesResult;
  script.initializeResult = initializeResult;
  return script;
}

ExtensionScript NoSheetExtension() {
  ExtensionScript script = Pages(1);
  script.sheetExtension = false;
  return script;
}

TEST_F(SheetTest, BindsThroughTheProviderAndCaptionsTheSheetByName) {
  struct Row {
    int line;
    std::wstring name;
    HRESULT nameResult;
    std::wstring caption;
  };
  const std::vector<Row> rows = {
      {__LINE__, L"CN=Sales Team", S_OK, L"SALES TEAM - Properties"},
      {__LINE__, L"OU=Branch Office", S_OK, L"BRANCH OFFICE - Properties"},
      {__LINE__, L"CN=Sales Team", S_FALSE, L"Properties"},
      {__LINE__, L"CN=Sales Team", E_FAIL, L"Properties"},
      // A name with a zero inside ends there.
      {__LINE__, std::wstring(L"CN=Ann\0junk", 11), S_OK, L"ANN - Properties"},
  };
  ASSERT_NE(::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_SHEET)), nullptr) << "no icons in the test";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& r = rows[i];
    SCOPED_TRACE(testing::Message() << "row at line " << r.line);
    const std::wstring path = L"QVTEST://row" + std::to_wstring(i);
    FakeADs object(r.name, L"group", path);
    object.nameResult = r.nameResult;
    directory_.Add(path, &object);
    {
      const auto host = NewHost();
      HWND hiddenWhileUp = nullptr;
      ExtensionScript script = Pages(2);
      script.whileUp = [&](const SheetView&) { hiddenWhileUp = host->HiddenWindow(); };
      extensions_.Expect(std::move(script));
      ASSERT_EQ(host->SetObject(path.c_str()), S_OK);
      EXPECT_EQ(directory_.opened().back(), path);
      EXPECT_EQ(object.refs().outstanding(), 1);  // the host's own
      host->Run();
      ASSERT_EQ(extensions_.created().size(), i + 1);
      const auto& ext = extensions_.at(i);
      ASSERT_TRUE(ext.viewed) << "no sheet was shown";
      EXPECT_EQ(ext.view.caption, r.caption);
      // The sheet's icon of the host's module, not the program's icon; the desktop as parent is no owner.
      EXPECT_EQ(ext.view.icon, ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_SHEET)));
      EXPECT_EQ(ext.view.owner, nullptr);
      EXPECT_EQ(object.nameCalls(), 1);
      EXPECT_EQ(host->ChangedFlag(), 0);
      // The pages read the window of the running sheet; Run destroyed it afterwards.
      EXPECT_EQ(ext.cfgResult, S_OK);
      EXPECT_NE(ext.cfgHidden, nullptr);
      EXPECT_EQ(ext.cfgParentSheet, ext.cfgHidden);
      EXPECT_EQ(hiddenWhileUp, ext.cfgHidden);
      EXPECT_FALSE(::IsWindow(ext.cfgHidden));
      // The sheet took the pages over and destroyed each once.
      for (const auto& page : ext.pages) {
        EXPECT_EQ(page.addRefs, 1);
        EXPECT_EQ(page.releases, 1);
      }
      EXPECT_TRUE(ext.pages.at(0).shown);
      EXPECT_EQ(ext.refs.outstanding(), 0);
      EXPECT_EQ(ext.refs.overReleased(), 0);
      EXPECT_EQ(OthersHolding(host.get()), 0) << "the extension or a page kept the data object";
      EXPECT_EQ(object.refs().outstanding(), 1);
    }
    EXPECT_EQ(object.refs().outstanding(), 0) << "the host's last release kept the directory object";
    EXPECT_EQ(object.refs().overReleased(), 0);
  }
  EXPECT_EQ(directory_.providerRefs().outstanding(), 0);
}

TEST_F(SheetTest, FailedBindEndsWithThePlatformsResultAndHoldsNothing) {
  FakeADs notADs(L"CN=x", L"user", L"QVTEST://CN=plain");
  notADs.isADs = false;
  directory_.Add(L"QVTEST://CN=plain", &notADs);
  directory_.Fail(L"QVTEST://CN=denied", E_ACCESSDENIED);
  struct Row {
    int line;
    const wchar_t* path;
  };
  const std::vector<Row> rows = {
      {__LINE__, L"QVTEST://CN=nobody"},
      {__LINE__, L"QVTEST://CN=denied"},
      {__LINE__, L"QVTEST://CN=plain"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << "row at line " << r.line);
    ComPtr<IUnknown> direct;
    const HRESULT platform = ::ADsGetObject(r.path, IID_IADs, direct.put_void());
    ASSERT_LT(platform, 0);
    const auto host = NewHost();
    EXPECT_EQ(host->SetObject(r.path), platform);
    ::UnregisterClassW(CADObjectPropertyWnd::kWindowClassName, ::GetModuleHandleW(nullptr));
    host->Run();
    EXPECT_EQ(host->ChangedFlag(), 0);
    WNDCLASSW cls{};  // no window made: only making one registers its class
    EXPECT_FALSE(::GetClassInfoW(::GetModuleHandleW(nullptr), CADObjectPropertyWnd::kWindowClassName, &cls));
  }
  EXPECT_TRUE(extensions_.created().empty());
  EXPECT_EQ(notADs.refs().outstanding(), 0);
  EXPECT_EQ(directory_.providerRefs().outstanding(), 0);
}

TEST_F(SheetTest, ChangedFlagComesFromTheHiddenWindowOnly) {
  struct Row {
    int line;
    std::vector<UINT> toHidden;  // sent to the host's window while the sheet is up
    bool sheetChanged;           // PSM_CHANGED on the sheet itself
    CloseWith close;
    int flag;
  };
  const std::vector<Row> rows = {
      {__LINE__, {}, false, CloseWith::Cancel, 0},
      {__LINE__, {}, false, CloseWith::Ok, 0},
      {__LINE__, {WM_ADSPROP_NOTIFY_CHANGE}, false, CloseWith::Cancel, 1},
      {__LINE__, {WM_ADSPROP_NOTIFY_APPLY}, false, CloseWith::Ok, 1},
      {__LINE__,
       {WM_USER + 1105, WM_USER + 1106, WM_ADSPROP_NOTIFY_EXIT, WM_DSA_SHEET_CLOSE_NOTIFY},
       false,
       CloseWith::Ok,
       0},
      // The sheet's own Apply button being enabled is no report to the host.
      {__LINE__, {}, true, CloseWith::Cancel, 0},
  };
  const auto host = NewHost();
  ASSERT_EQ(host->SetObject(kSalesPath), S_OK);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& r = rows[i];
    SCOPED_TRACE(testing::Message() << "row at line " << r.line);
    ExtensionScript script;
    script.close = r.close;
    script.whileUp = [this, i, &r](const SheetView& view) {
      const HWND hidden = extensions_.at(i).cfgHidden;
      for (const UINT message : r.toHidden) ::SendMessageW(hidden, message, 0xCDCDCDCD, 0);
      if (r.sheetChanged) ::SendMessageW(view.sheet, PSM_CHANGED, reinterpret_cast<WPARAM>(view.page), 0);
    };
    extensions_.Expect(std::move(script));
    host->Run();  // the same host each time: every Run starts from a cleared flag
    ASSERT_EQ(extensions_.created().size(), i + 1);
    EXPECT_TRUE(extensions_.at(i).viewed);
    EXPECT_EQ(host->ChangedFlag(), r.flag);
  }
  EXPECT_EQ(OthersHolding(host.get()), 0);
}

TEST_F(SheetTest, NoSheetWithoutPagesAndUnshownPagesDestroyedOnce) {
  struct Row {
    int line;
    ExtensionScript script;
  };
  const std::vector<Row> rows = {
      {__LINE__, Pages(0)},
      {__LINE__, Pages(0, E_FAIL)},
      // Pages handed over, then a failure: no sheet shows them, so nobody else frees them.
      {__LINE__, Pages(1, E_FAIL)},
      {__LINE__, Pages(3, static_cast<HRESULT>(0x8007000E))},
      {__LINE__, Pages(2, S_OK, E_ACCESSDENIED)},
      {__LINE__, NoSheetExtension()},
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& r = rows[i];
    SCOPED_TRACE(testing::Message() << "row at line " << r.line);
    extensions_.Expect(r.script);
    const auto host = NewHost();
    ASSERT_EQ(host->SetObject(kSalesPath), S_OK);
    host->Run();
    ASSERT_EQ(extensions_.created().size(), i + 1);
    const auto& ext = extensions_.at(i);
    EXPECT_FALSE(ext.viewed) << "a sheet was shown";
    EXPECT_EQ(host->ChangedFlag(), 0);
    EXPECT_EQ(sales_.nameCalls(), 0) << "the name is looked up only for a sheet";
    for (const auto& page : ext.pages) {
      EXPECT_FALSE(page.shown);
      EXPECT_EQ(page.addRefs, 1);
      EXPECT_EQ(page.releases, 1) << "a collected page was not destroyed exactly once";
    }
    EXPECT_EQ(ext.refs.outstanding(), 0);
    EXPECT_EQ(OthersHolding(host.get()), 0);
  }
  EXPECT_EQ(sales_.refs().outstanding(), 0);
}

TEST_F(SheetTest, ObjectNamesBlockFromTheBoundObject) {
  // An ADsPath of 20 code units and the class user: 36 + 42 + 10 bytes.
  FakeADs user(L"CN=a", L"user", L"LDAP://CN=a,DC=bcdef");
  directory_.Add(L"QVTEST://CN=a", &user);
  const auto host = NewHost();
  ASSERT_EQ(host->SetObject(L"QVTEST://CN=a"), S_OK);
  FORMATETC format{static_cast<CLIPFORMAT>(::RegisterClipboardFormatW(L"DsObjectNames")), nullptr, DVASPECT_CONTENT, -1,
                   TYMED_HGLOBAL};
  STGMEDIUM medium{};
  ASSERT_EQ(host->GetData(&format, &medium), S_OK);
  std::vector<std::uint8_t> expected(88, 0);
  expected[16] = 1;     // cItems
  expected[24] = 0x10;  // DSPROVIDER_ADVANCED
  expected[28] = 36;    // offsetName
  expected[32] = 78;    // offsetClass
  const std::wstring_view path = L"LDAP://CN=a,DC=bcdef";
  for (std::size_t i = 0; i < path.size(); ++i) expected[36 + 2 * i] = static_cast<std::uint8_t>(path[i]);
  const std::wstring_view cls = L"user";
  for (std::size_t i = 0; i < cls.size(); ++i) expected[78 + 2 * i] = static_cast<std::uint8_t>(cls[i]);
  // GlobalSize may round up; the block's first 88 bytes are the rendering.
  std::vector<std::uint8_t> got = BlockBytes(medium.hGlobal);
  ASSERT_GE(got.size(), 88u);
  got.resize(88);
  EXPECT_EQ(test::HexDump(got), test::HexDump(expected));
  EXPECT_EQ(medium.pUnkForRelease, nullptr);
  ::ReleaseStgMedium(&medium);

  // A failed lookup comes back unchanged and leaves the medium alone.
  struct Row {
    int line;
    HRESULT path, cls;
  };
  for (const Row& r :
       std::vector<Row>{{__LINE__, E_ACCESSDENIED, S_OK}, {__LINE__, S_OK, static_cast<HRESULT>(0x8000500D)}}) {
    SCOPED_TRACE(testing::Message() << "row at line " << r.line);
    user.pathResult = r.path;
    user.classResult = r.cls;
    STGMEDIUM untouched;
    std::memset(&untouched, 0x5A, sizeof(untouched));
    const STGMEDIUM before = untouched;
    EXPECT_EQ(host->GetData(&format, &untouched), FAILED(r.path) ? r.path : r.cls);
    EXPECT_EQ(std::memcmp(&untouched, &before, sizeof(before)), 0);
  }
}

// An extension may hand on a failed CreatePropertySheetPage unchecked; comctl32
// reads a null handle in the header as a page description and faults.
TEST_F(SheetTest, NullPageHandlesAreNoPages) {
  struct Row {
    int line;
    int nullPages, pages;
    bool sheet;
  };
  const std::vector<Row> rows = {
      {__LINE__, 1, 1, true},
      {__LINE__, 2, 2, true},
      {__LINE__, 2, 0, false},
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& r = rows[i];
    SCOPED_TRACE(testing::Message() << "row at line " << r.line);
    ExtensionScript script = Pages(r.pages);
    script.nullPages = r.nullPages;
    LRESULT tabs = -1;
    script.whileUp = [&tabs](const SheetView& view) {
      const auto tab = reinterpret_cast<HWND>(::SendMessageW(view.sheet, PSM_GETTABCONTROL, 0, 0));
      tabs = ::SendMessageW(tab, TCM_GETITEMCOUNT, 0, 0);
    };
    extensions_.Expect(std::move(script));
    const auto host = NewHost();
    ASSERT_EQ(host->SetObject(kSalesPath), S_OK);
    host->Run();
    ASSERT_EQ(extensions_.created().size(), i + 1);
    const auto& ext = extensions_.at(i);
    EXPECT_EQ(ext.viewed, r.sheet);
    if (r.sheet) {
      EXPECT_EQ(tabs, r.pages);
    }
    for (const auto& page : ext.pages) EXPECT_EQ(page.releases, 1);
    EXPECT_EQ(OthersHolding(host.get()), 0);
  }
}

// RegisterClassW calls for the hidden window's class made by the host.
int g_hiddenClassRegistrations = 0;
using RegisterClassFn = ATOM(WINAPI*)(const WNDCLASSW*);
RegisterClassFn g_realRegisterClass = nullptr;
ATOM WINAPI CountingRegisterClass(const WNDCLASSW* wc) {
  if (wc && !IS_INTRESOURCE(wc->lpszClassName) &&
      std::wstring(wc->lpszClassName) == CADObjectPropertyWnd::kWindowClassName)
    ++g_hiddenClassRegistrations;
  return g_realRegisterClass(wc);  // not ::RegisterClassW: that goes through the hooked entry
}

TEST_F(SheetTest, HiddenWindowClassRegisteredOnceForTwoHosts) {
  // An earlier test may have registered it; start from a process without it.
  ::UnregisterClassW(CADObjectPropertyWnd::kWindowClassName, ::GetModuleHandleW(nullptr));
  g_hiddenClassRegistrations = 0;
  const auto* real = test::ImportedAddress(L"user32.dll", "RegisterClassW");
  g_realRegisterClass = reinterpret_cast<RegisterClassFn>(const_cast<void*>(real));
  test::ScopedImportHook hook(real, reinterpret_cast<const void*>(CountingRegisterClass));
  ASSERT_GT(hook.patched(), 0);
  for (int i = 0; i < 2; ++i) {
    const auto host = NewHost();
    ASSERT_EQ(host->SetObject(kSalesPath), S_OK);
    host->Run();
  }
  ASSERT_EQ(extensions_.created().size(), 2u);
  EXPECT_TRUE(extensions_.at(1).viewed) << "the second host showed no sheet";
  EXPECT_NE(extensions_.at(0).hiddenClass, 0);
  EXPECT_EQ(extensions_.at(0).hiddenClass, extensions_.at(1).hiddenClass);
  EXPECT_EQ(g_hiddenClassRegistrations, 1);
}

}  // namespace
}  // namespace quorvel
