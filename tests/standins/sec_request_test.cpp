// The Members page's request blocks, read back with the host's own byte rules:
// a well-formed block must give the host the member's name, and each malformed
// one must really be the fault that the end-to-end test claims to send.
#include "standins/dsprop/sec_request.h"

#include "platform/ds_layout.h"
#include "propsheet/sec_page_info.h"
#include "support/text.h"

#include <gtest/gtest.h>

#include <vector>

namespace quorvel::standins {
namespace {

using test::Printable;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kSheet = 0x0000123400005678;
constexpr std::u16string_view kTitle = u"Bob Stone";
constexpr std::u16string_view kName = u"CN=Bob Stone,OU=Staff,DC=example,DC=com";
constexpr std::u16string_view kClass = u"user";

std::uint32_t Read32(const Bytes& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
         static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

std::u16string TextAt(const Bytes& b, std::size_t at) {
  std::u16string out;
  for (; at + 1 < b.size(); at += 2) {
    const auto c = static_cast<char16_t>(b[at] | b[at + 1] << 8);
    if (c == 0) break;
    out.push_back(c);
  }
  return out;
}

TEST(SecPageRequest, WellFormedBlockGivesTheHostTheMembersName) {
  const Bytes b = BuildSecPageRequest(kSheet, kTitle, kName, kClass);
  ASSERT_EQ(b.size(), ds::kSecPageInfoFixedSize + 2 * (kTitle.size() + 1) + 2 * (kName.size() + 1) +
                          2 * (kClass.size() + 1));
  EXPECT_EQ(SecPageParentSheet(b.data()), kSheet);
  const auto name = LocateSecPageName(b.data(), b.size());
  ASSERT_TRUE(name.has_value()) << test::HexDump(b.data(), b.size());
  EXPECT_EQ(Printable(*name), Printable(kName));
  EXPECT_EQ(Printable(SecPagePath(*name)), "LDAP://CN=Bob Stone,OU=Staff,DC=example,DC=com");
  // The title counts from the block's start, the class (like the name) from entry 0.
  EXPECT_EQ(Read32(b, ds::kSpiOffsetTitle), ds::kSecPageInfoFixedSize);
  EXPECT_EQ(Printable(TextAt(b, Read32(b, ds::kSpiOffsetTitle))), Printable(kTitle));
  EXPECT_EQ(Printable(TextAt(b, ds::kSpiEntry0 + Read32(b, ds::kSpiEntry0 + ds::kDsObjOffsetClass))),
            Printable(kClass));
  EXPECT_EQ(Read32(b, ds::kSpiObjectNames + ds::kDonItems), 1u);
  EXPECT_EQ(Read32(b, ds::kSpiObjectNames), 0xFE1290F0u);  // CLSID_MicrosoftDS, first field
}

TEST(SecPageRequest, MalformedBlocksAreTheFaultsTheyName) {
  const Bytes good = BuildSecPageRequest(kSheet, kTitle, kName, kClass);
  const std::uint32_t goodOffset = Read32(good, ds::kSpiEntry0OffsetName);
  struct Row {
    int line;
    RequestFault fault;
    bool (*is)(const Bytes& b, std::uint32_t wellFormedOffset);
  };
  const std::vector<Row> rows = {
      {__LINE__, RequestFault::kNameAtEnd,
       [](const Bytes& b, std::uint32_t) { return ds::kSpiEntry0 + Read32(b, ds::kSpiEntry0OffsetName) == b.size(); }},
      {__LINE__, RequestFault::kNoTerminator,
       [](const Bytes& b, std::uint32_t) {
         const std::size_t nameAt = ds::kSpiEntry0 + Read32(b, ds::kSpiEntry0OffsetName);
         return b.size() == nameAt + 2 * kName.size() && b[b.size() - 2] == 'm' && b[b.size() - 1] == 0;
       }},
      {__LINE__, RequestFault::kOddOffset,
       [](const Bytes& b, std::uint32_t wellFormed) { return Read32(b, ds::kSpiEntry0OffsetName) == wellFormed + 1; }},
      {__LINE__, RequestFault::kShortBlock, [](const Bytes& b, std::uint32_t) { return b.size() == 47; }},
      {__LINE__, RequestFault::kWrappingOffset,
       [](const Bytes& b, std::uint32_t) {
         const std::uint32_t offset = Read32(b, ds::kSpiEntry0OffsetName);
         // A reader that adds in 32 bits lands on byte 16, inside the block.
         return static_cast<std::uint32_t>(ds::kSpiEntry0 + offset) == 16 && offset > b.size();
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "line " << row.line << ", row " << (&row - rows.data()));
    const Bytes b = BuildSecPageRequest(kSheet, kTitle, kName, kClass, row.fault);
    EXPECT_TRUE(row.is(b, goodOffset)) << test::HexDump(b.data(), b.size());
    // Everything but the fault is as in a good block, so the fault is what the receiver meets.
    EXPECT_EQ(SecPageParentSheet(b.data()), kSheet);
    EXPECT_TRUE(std::equal(b.begin() + 8, b.begin() + ds::kSpiEntry0OffsetName, good.begin() + 8));
    const auto name = LocateSecPageName(b.data(), b.size());
    EXPECT_FALSE(name.has_value() && *name == kName);
  }
  EXPECT_TRUE(BuildSecPageRequest(kSheet, kTitle, kName, kClass, RequestFault::kNoBlock).empty());
  // Only the handle that the caller passes makes this one a fault.
  EXPECT_EQ(BuildSecPageRequest(kSheet, kTitle, kName, kClass, RequestFault::kStaleParent), good);
}

TEST(SecPageRequest, FaultListsFromTheEnvironment) {
  using F = RequestFault;
  struct Row {
    int line;
    std::u16string_view list;
    std::optional<std::vector<F>> faults;
  };
  const std::vector<Row> rows = {
      {__LINE__, u"", std::vector<F>{}},
      {__LINE__, u"short", std::vector<F>{F::kShortBlock}},
      {__LINE__, u"name-at-end,no-terminator,odd-offset,short,wrap,null,stale-parent",
       std::vector<F>{F::kNameAtEnd, F::kNoTerminator, F::kOddOffset, F::kShortBlock, F::kWrappingOffset,
                      F::kNoBlock, F::kStaleParent}},
      {__LINE__, u"wrap,wrap", std::vector<F>{F::kWrappingOffset, F::kWrappingOffset}},
      {__LINE__, u"short,bogus", std::nullopt},
      {__LINE__, u"short,", std::nullopt},
      {__LINE__, u",short", std::nullopt},
      {__LINE__, u"Short", std::nullopt},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "line " << row.line << ": " << Printable(row.list));
    EXPECT_EQ(ParseRequestFaults(row.list), row.faults);
  }
}

}  // namespace
}  // namespace quorvel::standins
