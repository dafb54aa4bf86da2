#include "propsheet/sec_page_info.h"

#include "support/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvel {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (std::size_t i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void PutText(Bytes& b, std::size_t at, std::u16string_view t, bool terminate = true) {
  for (std::size_t i = 0; i < t.size(); ++i) {
    b[at + 2 * i] = static_cast<std::uint8_t>(t[i] & 0xFF);
    b[at + 2 * i + 1] = static_cast<std::uint8_t>(t[i] >> 8);
  }
  if (terminate) b[at + 2 * t.size()] = b[at + 2 * t.size() + 1] = 0;
}

// A request whose name follows the fixed part, counted from entry 0 (byte 32).
Bytes Request(std::u16string_view name) {
  Bytes b(48 + 2 * (name.size() + 1), 0xEE);
  for (std::size_t i = 0; i < 48; ++i) b[i] = static_cast<std::uint8_t>(i);
  Put32(b, 40, 16);
  PutText(b, 48, name);
  return b;
}

TEST(SecPageName, LocatedFromEntryZero) {
  const Bytes b = Request(u"CN=x,DC=y");
  const auto name = LocateSecPageName(b.data(), b.size());
  ASSERT_TRUE(name);
  EXPECT_EQ(test::Printable(*name), "CN=x,DC=y");
}

TEST(SecPageName, Limits) {
  struct Row {
    int line;
    std::size_t size;
    std::uint32_t offsetName;
    std::size_t textAt;
    std::u16string text;
    bool terminated;
    std::optional<std::u16string> name;
  };
  const std::vector<Row> rows = {
      {__LINE__, 60, 16, 48, u"ab", true, u"ab"},
      {__LINE__, 60, 16, 48, u"", true, u""},
      // The terminator is the block's last code unit.
      {__LINE__, 54, 16, 48, u"ab", true, u"ab"},
      // Offset just past the end: the name would start outside the block.
      {__LINE__, 60, 28, 0, u"", false, std::nullopt},
      // Offset at the last code unit, which is not a zero.
      {__LINE__, 60, 26, 58, u"a", false, std::nullopt},
      // Name runs to the end without a terminator.
      {__LINE__, 56, 16, 48, u"abcd", false, std::nullopt},
      // An odd offset is read as it lies, terminator included.
      {__LINE__, 60, 17, 49, u"ab", true, u"ab"},
      // Odd offset leaving half a code unit at the end.
      {__LINE__, 60, 25, 57, u"a", false, std::nullopt},
      // Offsets that would wrap round in 32 bits to point inside the block.
      {__LINE__, 60, 0xFFFFFFF0u, 0, u"", false, std::nullopt},
      {__LINE__, 60, 0xFFFFFFE0u + 16, 0, u"", false, std::nullopt},
      // Offset 0 points at entry 0 itself: its first bytes are zero here, an empty name.
      {__LINE__, 60, 0, 0, u"", false, u""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << "row at line " << r.line);
    Bytes b(r.size, 0x41);
    std::fill(b.begin() + 32, b.begin() + 40, 0);
    Put32(b, 40, r.offsetName);
    if (r.textAt) PutText(b, r.textAt, r.text, r.terminated);
    const auto name = LocateSecPageName(b.data(), b.size());
    ASSERT_EQ(name.has_value(), r.name.has_value());
    if (name) {
      EXPECT_EQ(test::Printable(*name), test::Printable(*r.name));
    }
  }
}

TEST(SecPageName, BlockSmallerThanTheFixedPart) {
  Bytes b(47, 0);
  EXPECT_FALSE(LocateSecPageName(b.data(), b.size()));
  EXPECT_FALSE(LocateSecPageName(nullptr, 100));
}

TEST(SecPagePath, PrefixAlwaysPut) {
  EXPECT_EQ(test::Printable(SecPagePath(u"")), "LDAP://");
  EXPECT_EQ(test::Printable(SecPagePath(u"CN=a")), "LDAP://CN=a");
  EXPECT_EQ(test::Printable(SecPagePath(u"LDAP://CN=a")), "LDAP://LDAP://CN=a");
}

TEST(SecPageRelayout50, MovesEverythingEightBytesOn) {
  const Bytes in = Request(u"CN=x");
  const auto out = RelayoutSecPageInfoFor50(in.data(), in.size());
  ASSERT_TRUE(out);
  ASSERT_EQ(out->size(), in.size() + 8);
  Bytes expected(in.size() + 8, 0);
  std::copy(in.begin(), in.end(), expected.begin() + 8);
  // offsetTitle: the received first 32 bits (0x03020100) plus 8.
  Put32(expected, 8, 0x03020108);
  EXPECT_EQ(test::HexDump(*out), test::HexDump(expected));
}

TEST(SecPageRelayout50, TitleOffsetWrapsIn32Bits) {
  Bytes in(48, 0);
  Put32(in, 0, 0xFFFFFFFCu);
  const auto out = RelayoutSecPageInfoFor50(in.data(), in.size());
  ASSERT_TRUE(out);
  EXPECT_EQ((*out)[8], 4);
  EXPECT_EQ((*out)[11], 0);
}

TEST(SecPageRelayout50, RefusesABlockWithoutTheFixedPart) {
  // A 5.0 page's block has no window handle: offsetTitle and DSOBJECTNAMES, 40 bytes.
  Bytes in(39, 0);
  EXPECT_FALSE(RelayoutSecPageInfoFor50(in.data(), in.size()));
  EXPECT_FALSE(RelayoutSecPageInfoFor50(nullptr, 40));
  Bytes fixed(40, 0);
  const auto out = RelayoutSecPageInfoFor50(fixed.data(), fixed.size());
  ASSERT_TRUE(out);
  EXPECT_EQ(out->size(), 48u);
}

TEST(SecPageParent, ReadsTheFirstEightBytes) {
  Bytes b(48, 0);
  for (std::size_t i = 0; i < 8; ++i) b[i] = static_cast<std::uint8_t>(0x10 + i);
  EXPECT_EQ(SecPageParentSheet(b.data()), 0x1716151413121110ull);
}

}  // namespace
}  // namespace quorvel
