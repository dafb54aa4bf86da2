#include "propsheet/sheet_rules.h"

#include "support/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quorvel {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (std::size_t i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Put64(Bytes& b, std::size_t at, std::uint64_t v) {
  for (std::size_t i = 0; i < 8; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void PutText(Bytes& b, std::size_t at, std::u16string_view t) {
  for (std::size_t i = 0; i < t.size(); ++i) {
    b[at + 2 * i] = static_cast<std::uint8_t>(t[i] & 0xFF);
    b[at + 2 * i + 1] = static_cast<std::uint8_t>(t[i] >> 8);
  }
}

TEST(SheetCaption, Rule) {
  struct Row {
    int line;
    std::int32_t result;
    std::u16string name;
    std::u16string caption;
  };
  const std::vector<Row> rows = {
      {__LINE__, 0, u"CN=Sales Team", u"SALES TEAM - Properties"},
      {__LINE__, 0, u"OU=Branch Office", u"BRANCH OFFICE - Properties"},
      {__LINE__, 0, u"O=Example", u"O=EXAMPLE - Properties"},
      {__LINE__, 0, u"CN=", u" - Properties"},
      {__LINE__, 0, u"cn=ou=Example", u"OU=EXAMPLE - Properties"},
      {__LINE__, 0, u"Dc=Example", u"EXAMPLE - Properties"},
      {__LINE__, 0, u"CN=B\u00FCro", u"B\u00FCRO - Properties"},
      {__LINE__, 0, u"CN=\u00C4rger", u"\u00C4RGER - Properties"},
      {__LINE__, 0, u"xcn=a", u"XCN=A - Properties"},
      {__LINE__, 0, u"cn", u"CN - Properties"},
      {__LINE__, 0, u"", u" - Properties"},
      {__LINE__, 1, u"CN=Sales Team", u"Properties"},
      {__LINE__, static_cast<std::int32_t>(0x80004001), u"CN=Sales Team", u"Properties"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << "row at line " << r.line);
    EXPECT_EQ(test::Printable(BuildSheetCaption(r.result, r.name)), test::Printable(r.caption));
  }
}

TEST(PageList, GrowthRule) {
  struct Row {
    int line;
    std::int32_t count, capacity;
    std::optional<std::int32_t> next;
  };
  const std::vector<Row> rows = {
      // The first steps: KeepsHandlesInOrderAcrossGrowth.
      {__LINE__, 0x07FFFFFF, 0x07FFFFFF, 0x0FFFFFFE},
      {__LINE__, 0x08000000, 0x08000000, std::nullopt},  // above 0x0FFFFFFF
      {__LINE__, 0x40000000, 0x40000000, std::nullopt},  // doubling would turn negative
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << "row at line " << r.line);
    EXPECT_EQ(NextPageCapacity(r.count, r.capacity), r.next);
  }
}

TEST(PageList, KeepsHandlesInOrderAcrossGrowth) {
  PageList list;
  std::vector<int> pages(9);
  const std::vector<std::int32_t> capacities = {1, 2, 4, 4, 8, 8, 8, 8, 16};
  for (std::size_t i = 0; i < pages.size(); ++i) {
    EXPECT_TRUE(list.Append(&pages[i]));
    EXPECT_EQ(list.count(), static_cast<std::int32_t>(i + 1));
    EXPECT_EQ(list.capacity(), capacities[i]);
  }
  for (std::size_t i = 0; i < pages.size(); ++i) EXPECT_EQ(list.data()[i], &pages[i]) << i;
  list.Clear();
  EXPECT_EQ(list.count(), 0);
  EXPECT_EQ(list.capacity(), 0);
  EXPECT_EQ(list.data(), nullptr);
}

TEST(DataBlocks, DisplaySpecOptions) {
  Bytes expected(40, 0);
  Put32(expected, 0, 28);
  Put32(expected, 8, 28);
  PutText(expected, 28, u"admin");
  EXPECT_EQ(test::HexDump(RenderDisplaySpecOptionsBytes(kAttributePrefix)), test::HexDump(expected));
  EXPECT_EQ(RenderDisplaySpecOptionsBytes(u"").size(), 30u);
}

TEST(DataBlocks, ObjectNames) {
  const std::u16string path = u"LDAP://CN=a,DC=b,x12";  // 20 code units
  ASSERT_EQ(path.size(), 20u);
  Bytes expected(88, 0);
  Put32(expected, 16, 1);
  Put32(expected, 20 + 4, 0x10);
  Put32(expected, 20 + 8, 36);
  Put32(expected, 20 + 12, 78);
  PutText(expected, 36, path);
  PutText(expected, 78, u"user");
  EXPECT_EQ(test::HexDump(RenderObjectNamesBytes(path, u"user")), test::HexDump(expected));

  // Empty texts still get their terminators; the class follows the path's.
  const Bytes empty = RenderObjectNamesBytes(u"", u"");
  ASSERT_EQ(empty.size(), 40u);
  EXPECT_EQ(empty[20 + 12], 38);
}

TEST(DataBlocks, PropSheetCfg) {
  Bytes expected(32, 0);
  Put64(expected, 8, 0x0000123400005678ull);
  Put64(expected, 16, 0x0000123400005678ull);
  Put64(expected, 24, 0xCDCDCDCDull);
  EXPECT_EQ(test::HexDump(RenderPropSheetCfgBytes(0x0000123400005678ull)), test::HexDump(expected));
}

TEST(DataFormats, SelectedInTheHostsOrder) {
  struct Row {
    int line;
    HostFormats formats;
    std::uint16_t cf;
    HostFormat selected;
  };
  const std::vector<Row> rows = {
      {__LINE__, {0xC001, 0xC002, 0xC003}, 0xC001, HostFormat::DisplaySpecOptions},
      {__LINE__, {0xC001, 0xC002, 0xC003}, 0xC002, HostFormat::ObjectNames},
      {__LINE__, {0xC001, 0xC002, 0xC003}, 0xC003, HostFormat::PropSheetCfg},
      {__LINE__, {0xC001, 0xC002, 0xC003}, 0xC004, HostFormat::None},
      {__LINE__, {0xC001, 0xC002, 0xC003}, 0, HostFormat::None},
      // Failed registrations leave 0 in every field: the first test wins.
      {__LINE__, {0, 0, 0}, 0, HostFormat::DisplaySpecOptions},
      {__LINE__, {0xC001, 0, 0}, 0, HostFormat::ObjectNames},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << "row at line " << r.line);
    EXPECT_EQ(SelectFormat(r.formats, r.cf), r.selected);
  }
}

}  // namespace
}  // namespace quorvel
