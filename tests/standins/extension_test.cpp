// The property page extension stand-in, given its data by a data object of the
// test's own: the layouts it must accept, the faults it must refuse, the page.
#include "platform/win/com_ptr.h"
#include "platform/win/unique_handle.h"
#include "block_data_win.h"

#include <activeds.h>
#include <commctrl.h>
#include <dsclient.h>
#include <gtest/gtest.h>
#include <shlobj.h>

#include <cstring>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

namespace quorvel {
namespace {

const CLSID kDsPropertyPages = {0x0d45d530, 0x764b, 0x11d0, {0xa1, 0xca, 0x00, 0xaa, 0x00, 0xc1, 0x6e, 0x65}};

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
      EXPECT_EQ(pages.size(), 2u);  // a group: General and Members
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

namespace quorvel {
namespace {

// Stands for the host's hidden window: keeps a copy of every request block
// that a page sends and frees the block, as the host does.
struct Requests {
  std::vector<std::optional<Block>> blocks;  // nothing for a request without a block
  SIZE_T freed = 0;
};

LRESULT CALLBACK RecordRequests(HWND window, UINT msg, WPARAM wp, LPARAM lp) {
  auto* requests = reinterpret_cast<Requests*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (msg != WM_USER + 6 || !requests) return ::DefWindowProcW(window, msg, wp, lp);
  const auto block = reinterpret_cast<HLOCAL>(wp);
  if (!block) {
    requests->blocks.emplace_back(std::nullopt);
    return 0;
  }
  const auto* bytes = static_cast<const BYTE*>(block);
  requests->blocks.emplace_back(Block(bytes, bytes + ::LocalSize(block)));
  if (!::LocalFree(block)) ++requests->freed;
  return 0;
}

std::wstring TextAt(const Block& b, std::size_t at) {
  std::wstring out;
  for (; at + 1 < b.size(); at += 2) {
    const auto c = static_cast<wchar_t>(b[at] | b[at + 1] << 8);
    if (c == 0) break;
    out.push_back(c);
  }
  return out;
}

DWORD DwordAt(const Block& b, std::size_t at) {
  DWORD v = 0;
  std::memcpy(&v, b.data() + at, sizeof v);
  return v;
}

// The extension's pages for one object in a modeless sheet, with the hidden
// window recording what the pages send.
class MembersSheet : public testing::Test {
 protected:
  void Open(const wchar_t* path, const wchar_t* cls) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = RecordRequests;
    wc.lpszClassName = L"QuorvelTestRequests";
    ::RegisterClassW(&wc);
    hidden_.reset(::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(hidden_);
    ::SetWindowLongPtrW(hidden_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&requests_));
    data_.names = ObjectNames(path, cls);
    data_.options = DisplayOptions();
    data_.config = SheetConfig(hidden_.get());
    ComPtr<IShellExtInit> init;
    ASSERT_EQ(::CoCreateInstance(kDsPropertyPages, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                                 init.put_void()),
              S_OK);
    ASSERT_EQ(init->Initialize(nullptr, &data_, nullptr), S_OK);
    ComPtr<IShellPropSheetExt> ext;
    ASSERT_EQ(init.As(IID_IShellPropSheetExt, ext), S_OK);
    ASSERT_EQ(ext->AddPages(Collect, reinterpret_cast<LPARAM>(&pages_)), S_OK);
    if (pages_.empty()) return;
    PROPSHEETHEADERW header{};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_MODELESS;
    header.pszCaption = L"Members test";
    header.nPages = static_cast<UINT>(pages_.size());
    header.phpage = pages_.data();
    sheet_ = reinterpret_cast<HWND>(::PropertySheetW(&header));
    ASSERT_TRUE(sheet_);
  }
  void TearDown() override {
    if (sheet_) ::DestroyWindow(sheet_);
    hidden_.reset();
    EXPECT_EQ(data_.refs, 1);
    EXPECT_EQ(Outstanding(L"quorvel_dsprop.dll"), 0);
    EXPECT_EQ(Outstanding(L"quorvel_adsldp.dll"), 0);
  }
  HWND MembersPage() {
    ::SendMessageW(sheet_, PSM_SETCURSEL, 1, 0);
    return reinterpret_cast<HWND>(::SendMessageW(sheet_, PSM_GETCURRENTPAGEHWND, 0, 0));
  }
  std::vector<std::wstring> Listed(HWND page) {
    std::vector<std::wstring> out;
    const HWND list = ::GetDlgItem(page, 1011);
    const auto count = ::SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
      wchar_t text[512] = {};
      ::SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
      out.emplace_back(text);
    }
    return out;
  }
  void Press(HWND page, int index) {
    ::SendDlgItemMessageW(page, 1011, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
    ::SendMessageW(page, WM_COMMAND, MAKEWPARAM(1012, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(page, 1012)));
  }

  ComApartment com_;
  UniqueHwnd hidden_;
  Requests requests_;
  FakeData data_;
  std::vector<HPROPSHEETPAGE> pages_;
  HWND sheet_ = nullptr;
};

constexpr const wchar_t* kSalesTeam = L"LDAP://CN=Sales Team,OU=Staff,DC=example,DC=com";

TEST_F(MembersSheet, ListsTheMembersAndAsksForTheSelectedOnesSheet) {
  Open(kSalesTeam, L"group");
  ASSERT_EQ(pages_.size(), 2u);
  const HWND page = MembersPage();
  ASSERT_TRUE(page);
  EXPECT_EQ(Listed(page), (std::vector<std::wstring>{L"CN=Alma Reyes,OU=Staff,DC=example,DC=com",
                                                      L"CN=Bob Stone,OU=Staff,DC=example,DC=com",
                                                      L"CN=Sales Leads,OU=Staff,DC=example,DC=com"}));
  Press(page, 1);
  Press(page, 2);
  ASSERT_EQ(requests_.blocks.size(), 2u);
  EXPECT_EQ(requests_.freed, 2u);
  struct Expected {
    const wchar_t* name;
    const wchar_t* title;
    const wchar_t* cls;
  };
  const Expected expected[] = {{L"CN=Bob Stone,OU=Staff,DC=example,DC=com", L"Bob Stone", L"user"},
                               {L"CN=Sales Leads,OU=Staff,DC=example,DC=com", L"Sales Leads", L"group"}};
  for (std::size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(testing::Message() << "request " << i);
    ASSERT_TRUE(requests_.blocks[i].has_value());
    const Block& b = *requests_.blocks[i];
    ASSERT_GE(b.size(), 48u);
    HWND parent = nullptr;
    std::memcpy(&parent, b.data(), sizeof parent);
    EXPECT_EQ(parent, sheet_);  // the sheet, not the page: the host parents the nested sheet on it
    EXPECT_EQ(DwordAt(b, 28), 1u);  // cItems
    EXPECT_EQ(TextAt(b, 32 + DwordAt(b, 40)), expected[i].name);  // counted from entry 0
    EXPECT_EQ(TextAt(b, 32 + DwordAt(b, 44)), expected[i].cls);
    EXPECT_EQ(TextAt(b, DwordAt(b, 8)), expected[i].title);
    EXPECT_EQ(b.size(), 48 + 2 * (std::wcslen(expected[i].title) + std::wcslen(expected[i].name) +
                                  std::wcslen(expected[i].cls) + 3));
  }
}

TEST_F(MembersSheet, PlaysTheFaultsAskedForThenWellFormedRequests) {
  ::SetEnvironmentVariableW(L"QUORVEL_STANDIN_MALFORMED", L"short,null,wrap,stale-parent");
  Open(kSalesTeam, L"group");
  ASSERT_EQ(pages_.size(), 2u);
  const HWND page = MembersPage();
  for (int i = 0; i < 5; ++i) Press(page, 0);
  ::SetEnvironmentVariableW(L"QUORVEL_STANDIN_MALFORMED", nullptr);
  ASSERT_EQ(requests_.blocks.size(), 5u);
  ASSERT_TRUE(requests_.blocks[0].has_value());
  EXPECT_EQ(requests_.blocks[0]->size(), 47u);
  EXPECT_FALSE(requests_.blocks[1].has_value());
  ASSERT_TRUE(requests_.blocks[2].has_value());
  EXPECT_EQ(DwordAt(*requests_.blocks[2], 40), 0xFFFFFFF0u);
  ASSERT_TRUE(requests_.blocks[3].has_value());
  HWND parent = nullptr;
  std::memcpy(&parent, requests_.blocks[3]->data(), sizeof parent);
  EXPECT_TRUE(parent != nullptr && !::IsWindow(parent));
  ASSERT_TRUE(requests_.blocks[4].has_value());
  EXPECT_EQ(TextAt(*requests_.blocks[4], 32 + DwordAt(*requests_.blocks[4], 40)),
            L"CN=Alma Reyes,OU=Staff,DC=example,DC=com");
  std::memcpy(&parent, requests_.blocks[4]->data(), sizeof parent);
  EXPECT_EQ(parent, sheet_);
  EXPECT_EQ(requests_.freed, 4u);
}

TEST_F(MembersSheet, AnUnreadableFaultListSendsNothing) {
  ::SetEnvironmentVariableW(L"QUORVEL_STANDIN_MALFORMED", L"shrot");
  Open(kSalesTeam, L"group");
  ASSERT_EQ(pages_.size(), 2u);
  Press(MembersPage(), 0);
  ::SetEnvironmentVariableW(L"QUORVEL_STANDIN_MALFORMED", nullptr);
  EXPECT_TRUE(requests_.blocks.empty());
}

TEST_F(MembersSheet, OnlyAGroupHasAMembersPage) {
  Open(L"LDAP://CN=Bob Stone,OU=Staff,DC=example,DC=com", L"user");
  EXPECT_EQ(pages_.size(), 1u);
}

}  // namespace
}  // namespace quorvel
