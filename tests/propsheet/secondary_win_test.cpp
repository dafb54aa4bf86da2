// Requests for secondary sheets under Wine: real local memory blocks, every free
// counted, the Windows version replaced, and nested hosts with real sheets.
#include "platform/ds_layout.h"
#include "platform/win/dsa.h"
#include "propsheet/secondary_sheet_win.h"
#include "propsheet/sheet_fixture_win.h"
#include "support/win/import_hook.h"

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace quorvel {
namespace {

using test::CloseWith;
using test::ExtensionScript;
using test::FakeADs;
using test::SheetView;

struct Version {
  BOOL ok;
  DWORD platform, major, minor;
};
Version g_version;
BOOL ReportedVersion(OSVERSIONINFOW* info) {
  if (!g_version.ok || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW)) return FALSE;
  info->dwPlatformId = g_version.platform;
  info->dwMajorVersion = g_version.major;
  info->dwMinorVersion = g_version.minor;
  return TRUE;
}
constexpr Version kWindows10 = {TRUE, VER_PLATFORM_WIN32_NT, 10, 0};
constexpr Version kWindows2000 = {TRUE, VER_PLATFORM_WIN32_NT, 5, 0};

// A request block as a page makes one: `size` bytes of 'A', the parent window at byte 0, and
// offsetName (32 bits at `offsetNameAt`) with the text at `textAt`.
struct Request {
  std::size_t size;
  std::uint32_t offsetName;
  std::size_t textAt = 0;
  std::wstring text;
  bool terminated = true;
  std::size_t offsetNameAt = ds::kSpiEntry0OffsetName;
  HWND parentSheet = nullptr;
};

HLOCAL Make(const Request& r) {
  auto* b = static_cast<std::uint8_t*>(::LocalAlloc(LMEM_ZEROINIT, r.size));
  if (!b) return nullptr;
  std::memset(b, 0x41, r.size);
  if (r.size >= 8) std::memcpy(b, &r.parentSheet, 8);
  if (r.offsetNameAt + 4 <= r.size) std::memcpy(b + r.offsetNameAt, &r.offsetName, 4);
  if (r.textAt) {
    std::memcpy(b + r.textAt, r.text.data(), 2 * r.text.size());
    if (r.terminated) std::memset(b + r.textAt + 2 * r.text.size(), 0, 2);
  }
  return b;
}

// Filler only, offsetName where the current layout has it.
Request Raw(std::size_t size, std::uint32_t offsetName) {
  return {size, offsetName, 0, L"", true, ds::kSpiEntry0OffsetName, nullptr};
}
Request Raw(std::size_t size, std::uint32_t offsetName, std::size_t textAt, const std::wstring& text, bool terminated) {
  return {size, offsetName, textAt, text, terminated, ds::kSpiEntry0OffsetName, nullptr};
}
// offsetName where a Windows 5.0 page puts it, 8 bytes earlier.
Request RawFor50(std::size_t size, std::uint32_t offsetName) { return {size, offsetName, 0, L"", true, 32, nullptr}; }

// A well-formed request in the current layout: the name right after the fixed part.
Request Named(const std::wstring& name, HWND parentSheet = nullptr) {
  return {48 + 2 * (name.size() + 1), 16, 48, name, true, ds::kSpiEntry0OffsetName, parentSheet};
}
// The same in the layout that Windows 5.0 pages send: 8 bytes shorter in front.
Request NamedFor50(const std::wstring& name) { return {40 + 2 * (name.size() + 1), 16, 40, name, true, 32, nullptr}; }

// A window handle that names no window any more.
HWND GoneWindow() {
  const HWND w = ::CreateWindowExW(0, L"STATIC", nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  ::DestroyWindow(w);
  return w;
}

class SecondarySheetTest : public SheetTest {
 protected:
  void SetUp() override {
    SheetTest::SetUp();
    ASSERT_TRUE(blocks_.hooked()) << "LocalAlloc and LocalFree could not be counted";
    previous_ = SetVersionQueryForTesting(ReportedVersion);
    g_version = kWindows10;
  }
  void TearDown() override { SetVersionQueryForTesting(previous_); }

  test::LocalBlockLedger blocks_;
  VersionQuery previous_ = nullptr;
};

TEST_F(SecondarySheetTest, EveryBlockFreedOnceWhateverItHolds) {
  struct Row {
    int line;
    Version version;
    Request request;
    std::optional<std::wstring> bound;  // the path the nested host asked for, if any
    bool relaid;                        // a new block made for Windows 5.0
  };
  const std::vector<Row> rows = {
      {__LINE__, kWindows10, Named(L"CN=Nobody"), L"LDAP://CN=Nobody", false},
      {__LINE__, kWindows10, Named(L""), L"LDAP://", false},
      {__LINE__, kWindows10, Named(L"LDAP://CN=x"), L"LDAP://LDAP://CN=x", false},
      {__LINE__, {TRUE, VER_PLATFORM_WIN32_NT, 5, 1}, Named(L"CN=Nobody"), L"LDAP://CN=Nobody", false},
      {__LINE__, {TRUE, VER_PLATFORM_WIN32_NT, 6, 3}, Named(L"CN=Nobody"), L"LDAP://CN=Nobody", false},
      // Refused versions: nothing opened, the block still freed.
      {__LINE__, {FALSE, VER_PLATFORM_WIN32_NT, 10, 0}, Named(L"CN=Nobody"), std::nullopt, false},
      {__LINE__, {TRUE, VER_PLATFORM_WIN32_WINDOWS, 5, 0}, Named(L"CN=Nobody"), std::nullopt, false},
      {__LINE__, {TRUE, VER_PLATFORM_WIN32_NT, 4, 0}, Named(L"CN=Nobody"), std::nullopt, false},
      // Malformed blocks.
      {__LINE__, kWindows10, Raw(47, 16), std::nullopt, false},
      {__LINE__, kWindows10, Raw(60, 28), std::nullopt, false},                        // just past the end
      {__LINE__, kWindows10, Raw(60, 26), std::nullopt, false},                        // last unit, no zero
      {__LINE__, kWindows10, Raw(56, 16, 48, L"abcd", false), std::nullopt, false},    // runs to the end
      {__LINE__, kWindows10, Raw(60, 25), std::nullopt, false},                        // odd, half a unit left
      {__LINE__, kWindows10, Raw(60, 0xFFFFFFF0u), std::nullopt, false},               // would wrap in 32 bits
      {__LINE__, kWindows10, Raw(60, 17, 49, L"ab", true), L"LDAP://ab", false},       // odd but terminated
      {__LINE__, kWindows10, Named(L"CN=Nobody", GoneWindow()), std::nullopt, false},  // parent no window
      // Windows 5.0: re-laid into a new block, both freed once.
      {__LINE__, kWindows2000, NamedFor50(L"CN=Nobody"), L"LDAP://CN=Nobody", true},
      {__LINE__, kWindows2000, NamedFor50(L""), L"LDAP://", true},  // 42 bytes: under the current fixed part
      {__LINE__, kWindows2000, RawFor50(39, 16), std::nullopt, false},
      {__LINE__, kWindows2000, RawFor50(47, 16), std::nullopt, true},  // re-laid, no terminator
      {__LINE__, kWindows2000, RawFor50(48, 24), std::nullopt, true},  // re-laid, name past the end
  };
  const auto requester = NewHost();
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << "row at line " << r.line);
    g_version = r.version;
    const std::size_t opened = directory_.opened().size();
    const std::size_t allocated = blocks_.Allocated().size();
    const HLOCAL block = Make(r.request);
    ASSERT_NE(block, nullptr);
    ASSERT_EQ(::LocalSize(block), r.request.size);
    HandleSecondarySheetRequest(requester.get(), block);
    EXPECT_EQ(blocks_.FreesOf(block), 1);
    const std::vector<HLOCAL> all = blocks_.Allocated();
    const std::vector<HLOCAL> made(all.begin() + static_cast<std::ptrdiff_t>(allocated) + 1, all.end());
    ASSERT_EQ(made.size(), r.relaid ? 1u : 0u);
    for (const HLOCAL m : made) EXPECT_EQ(blocks_.FreesOf(m), 1);
    // Wine's ADsGetObject asks the provider twice when the first bind fails.
    const std::vector<std::wstring> asked(directory_.opened().begin() + static_cast<std::ptrdiff_t>(opened),
                                          directory_.opened().end());
    if (r.bound) {
      ASSERT_FALSE(asked.empty()) << "no bind was tried";
      for (const auto& path : asked) EXPECT_EQ(path, *r.bound);
    } else {
      EXPECT_TRUE(asked.empty()) << "a bind was tried for a refused request";
    }
  }
  EXPECT_EQ(blocks_.Live(), 0);
  EXPECT_TRUE(extensions_.created().empty()) << "no object was bound, so no sheet";
  HandleSecondarySheetRequest(requester.get(), nullptr);
  HandleSecondarySheetRequest(nullptr, nullptr);
}

TEST_F(SecondarySheetTest, AdaptedBlockForWindows50HoldsTheReceivedBytesEightOn) {
  g_version = kWindows2000;
  const Request request = NamedFor50(L"CN=Ann");
  const HLOCAL received = Make(request);
  const std::uint32_t title = 0x00000020;
  std::memcpy(received, &title, 4);
  std::vector<std::uint8_t> expected(request.size + 8, 0);
  std::memcpy(expected.data() + 8, received, request.size);
  expected[8] = 0x28;
  HLOCAL adapted = nullptr;
  ASSERT_EQ(AdaptSecPageInfo(received, &adapted), S_OK);
  EXPECT_EQ(blocks_.FreesOf(received), 1);
  ASSERT_EQ(::LocalSize(adapted), request.size + 8);
  EXPECT_EQ(std::memcmp(adapted, expected.data(), expected.size()), 0);
  ::LocalFree(adapted);
  EXPECT_EQ(blocks_.FreesOf(adapted), 1);
}

// A page of the first sheet asks for Ann's sheet, a page of Ann's sheet for Bob's:
// each nested host has its own window, its own flag, and a sheet owned by the one
// that asked.
TEST_F(SecondarySheetTest, NestedSheetsTwoLevelsDeep) {
  FakeADs ann(L"CN=Ann", L"user", L"LDAP://CN=Ann,DC=example");
  FakeADs bob(L"CN=Bob", L"user", L"LDAP://CN=Bob,DC=example");
  directory_.Add(L"LDAP://CN=Ann,DC=example", &ann);
  directory_.Add(L"LDAP://CN=Bob,DC=example", &bob);
  HLOCAL toAnn = nullptr;
  HLOCAL toBob = nullptr;
  bool annReleasedInside = false;
  bool nestedWindowGone = false;

  ExtensionScript first;
  first.whileUp = [&](const SheetView& view) {
    toAnn = Make(Named(L"CN=Ann,DC=example", view.sheet));
    EXPECT_EQ(
        ::SendMessageW(extensions_.at(0).cfgHidden, WM_DSA_SHEET_CREATE_NOTIFY, reinterpret_cast<WPARAM>(toAnn), 0), 0);
    // Back in the first sheet: the nested host is gone, this one's window is not.
    annReleasedInside = ann.refs().outstanding() == 0;
    nestedWindowGone = extensions_.created().size() >= 2 && !::IsWindow(extensions_.at(1).cfgHidden);
    EXPECT_TRUE(::IsWindow(extensions_.at(0).cfgHidden));
  };
  ExtensionScript second;
  second.close = CloseWith::Ok;
  second.whileUp = [&](const SheetView& view) {
    ::SendMessageW(extensions_.at(1).cfgHidden, WM_ADSPROP_NOTIFY_CHANGE, 0, 0);
    toBob = Make(Named(L"CN=Bob,DC=example", view.sheet));
    ::SendMessageW(extensions_.at(1).cfgHidden, WM_DSA_SHEET_CREATE_NOTIFY, reinterpret_cast<WPARAM>(toBob), 0);
  };
  ExtensionScript third;
  third.close = CloseWith::Ok;
  third.whileUp = [&](const SheetView&) { ::SendMessageW(extensions_.at(2).cfgHidden, WM_ADSPROP_NOTIFY_APPLY, 0, 0); };
  extensions_.Expect(std::move(first));
  extensions_.Expect(std::move(second));
  extensions_.Expect(std::move(third));

  const auto host = NewHost();
  ASSERT_EQ(host->SetObject(kSalesPath), S_OK);
  host->Run();
  ASSERT_EQ(extensions_.created().size(), 3u);
  const auto& e0 = extensions_.at(0);
  const auto& e1 = extensions_.at(1);
  const auto& e2 = extensions_.at(2);
  ASSERT_TRUE(e1.viewed && e2.viewed) << "a nested sheet was not shown";
  EXPECT_EQ(e1.view.caption, L"ANN - Properties");
  EXPECT_EQ(e2.view.caption, L"BOB - Properties");
  EXPECT_EQ(e1.view.owner, e0.view.sheet);
  EXPECT_EQ(e2.view.owner, e1.view.sheet);
  // Each host serves its own window, which is where its pages report.
  EXPECT_NE(e1.cfgHidden, e0.cfgHidden);
  EXPECT_NE(e2.cfgHidden, e1.cfgHidden);
  EXPECT_NE(e2.cfgHidden, e0.cfgHidden);
  EXPECT_EQ(e1.cfgParentSheet, e1.cfgHidden);
  EXPECT_EQ(e2.cfgParentSheet, e2.cfgHidden);
  EXPECT_EQ(e1.hiddenClass, e0.hiddenClass);
  // Changes in nested sheets count for their hosts only.
  EXPECT_EQ(host->ChangedFlag(), 0);
  EXPECT_TRUE(annReleasedInside);
  EXPECT_TRUE(nestedWindowGone);
  EXPECT_EQ(blocks_.FreesOf(toAnn), 1);
  EXPECT_EQ(blocks_.FreesOf(toBob), 1);
  for (const auto* e : {&e0, &e1, &e2}) {
    EXPECT_EQ(e->refs.outstanding(), 0);
    for (const auto& page : e->pages) EXPECT_EQ(page.releases, 1);
  }
  EXPECT_EQ(ann.refs().outstanding(), 0);
  EXPECT_EQ(bob.refs().outstanding(), 0);
  EXPECT_EQ(ann.refs().overReleased() + bob.refs().overReleased(), 0);
  EXPECT_EQ(OthersHolding(host.get()), 0);
}

TEST_F(SecondarySheetTest, OnWindows50TheNestedSheetHasNoOwner) {
  g_version = kWindows2000;
  FakeADs ann(L"CN=Ann", L"user", L"LDAP://CN=Ann,DC=example");
  directory_.Add(L"LDAP://CN=Ann,DC=example", &ann);
  HLOCAL request = nullptr;
  ExtensionScript first;
  first.whileUp = [&](const SheetView&) {
    request = Make(NamedFor50(L"CN=Ann,DC=example"));
    ::SendMessageW(extensions_.at(0).cfgHidden, WM_DSA_SHEET_CREATE_NOTIFY, reinterpret_cast<WPARAM>(request), 0);
  };
  extensions_.Expect(std::move(first));
  const std::size_t before = blocks_.Allocated().size();
  const auto host = NewHost();
  ASSERT_EQ(host->SetObject(kSalesPath), S_OK);
  host->Run();
  ASSERT_EQ(extensions_.created().size(), 2u);
  ASSERT_TRUE(extensions_.at(1).viewed);
  EXPECT_EQ(extensions_.at(1).view.caption, L"ANN - Properties");
  EXPECT_EQ(extensions_.at(1).view.owner, nullptr);
  EXPECT_EQ(blocks_.FreesOf(request), 1);
  // The request and the re-laid block, nothing else, and both freed.
  EXPECT_EQ(blocks_.Allocated().size(), before + 2);
  EXPECT_EQ(blocks_.Live(), 0);
  EXPECT_EQ(ann.refs().outstanding(), 0);
}

// Under Wine a sheet whose owner is no window is never created and its pages are
// never destroyed; they would hold the nested host, and its object, for good.
TEST_F(SecondarySheetTest, ParentThatIsNoWindowOpensNothing) {
  FakeADs ann(L"CN=Ann", L"user", L"LDAP://CN=Ann,DC=example");
  directory_.Add(L"LDAP://CN=Ann,DC=example", &ann);
  const HWND gone = GoneWindow();
  ASSERT_NE(gone, nullptr);
  ASSERT_FALSE(::IsWindow(gone));
  HLOCAL request = nullptr;
  ExtensionScript first;
  first.whileUp = [&](const SheetView&) {
    request = Make(Named(L"CN=Ann,DC=example", gone));
    ::SendMessageW(extensions_.at(0).cfgHidden, WM_DSA_SHEET_CREATE_NOTIFY, reinterpret_cast<WPARAM>(request), 0);
  };
  extensions_.Expect(std::move(first));
  const auto host = NewHost();
  ASSERT_EQ(host->SetObject(kSalesPath), S_OK);
  host->Run();
  EXPECT_EQ(extensions_.created().size(), 1u) << "a nested host was made for a parent that is no window";
  EXPECT_EQ(ann.refs().taken(), 0);
  EXPECT_EQ(blocks_.FreesOf(request), 1);
  EXPECT_EQ(OthersHolding(host.get()), 0);
}

}  // namespace
}  // namespace quorvel
