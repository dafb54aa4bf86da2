#include "createwiz/create_result.h"

#include "support/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace quorvel {
namespace {

using R = CreateObjResultRecord;

std::u16string FieldText(const R& record, std::size_t offset, std::size_t units) {
  std::u16string text;
  for (std::size_t i = 0; i < units; ++i) {
    const auto unit = static_cast<char16_t>(record.bytes[offset + 2 * i] |
                                            (record.bytes[offset + 2 * i + 1] << 8));
    text += unit;
  }
  return text;
}

bool AllZero(const R& record, std::size_t from, std::size_t to) {
  for (std::size_t i = from; i < to; ++i)
    if (record.bytes[i] != 0) return false;
  return true;
}

TEST(CreateResultRecord, FieldsStartAtTheirOffsetsLittleEndianAndZeroFilled) {
  const R record = BuildResultRecord(u"CN=Ann Lee,OU=Staff", u"Ann Lee", u"alee");
  ASSERT_EQ(record.bytes.size(), 680u);
  EXPECT_EQ(FieldText(record, 0, 19), u"CN=Ann Lee,OU=Staff");
  EXPECT_EQ(FieldText(record, 520, 7), u"Ann Lee");
  EXPECT_EQ(FieldText(record, 648, 4), u"alee");
  EXPECT_TRUE(AllZero(record, 38, 520)) << test::HexDump(record.bytes.data(), record.bytes.size());
  EXPECT_TRUE(AllZero(record, 534, 648));
  EXPECT_TRUE(AllZero(record, 656, 680));
}

TEST(CreateResultRecord, NonAsciiUnitsKeepBothBytes) {
  const R record = BuildResultRecord(u"", u"\u00c5sa \u4e2d", u"");
  EXPECT_EQ(record.bytes[520], 0xC5);
  EXPECT_EQ(record.bytes[521], 0x00);
  EXPECT_EQ(record.bytes[528], 0x2D);
  EXPECT_EQ(record.bytes[529], 0x4E);
  EXPECT_TRUE(AllZero(record, 0, 520));
}

TEST(CreateResultRecord, AccountNameOfSixteenUnitsFillsTheRecordsEnd) {
  const std::u16string sixteen = u"abcdefghijklmnop";
  const R full = BuildResultRecord(u"", u"", sixteen);
  EXPECT_EQ(FieldText(full, 648, 16), sixteen);

  const R fifteen = BuildResultRecord(u"", u"", sixteen.substr(0, 15));
  EXPECT_EQ(fifteen.bytes[676], 'o');
  EXPECT_EQ(fifteen.bytes[678], 0);
  EXPECT_EQ(fifteen.bytes[679], 0);
}

TEST(CreateResultRecord, ValuesAtCapacityFitAndLongerOnesLeaveOnlyTheirFieldZero) {
  struct Row {
    int line;
    std::size_t dnUnits, nameUnits, accountUnits;
    bool dnKept, nameKept, accountKept;
  };
  const std::vector<Row> rows = {
      {__LINE__, 260, 64, 16, true, true, true},
      {__LINE__, 261, 64, 16, false, true, true},
      {__LINE__, 260, 65, 16, true, false, true},
      {__LINE__, 260, 64, 17, true, true, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    const std::u16string dn(row.dnUnits, u'd'), name(row.nameUnits, u'n'), account(row.accountUnits, u'a');
    const R record = BuildResultRecord(dn, name, account);
    EXPECT_EQ(AllZero(record, 0, 520), !row.dnKept);
    EXPECT_EQ(AllZero(record, 520, 648), !row.nameKept);
    EXPECT_EQ(AllZero(record, 648, 680), !row.accountKept);
    if (row.dnKept) {
      EXPECT_EQ(FieldText(record, 0, 260), std::u16string(260, u'd'));
    }
    if (row.nameKept) {
      EXPECT_EQ(FieldText(record, 520, 64), std::u16string(64, u'n'));
    }
    if (row.accountKept) {
      EXPECT_EQ(FieldText(record, 648, 16), std::u16string(16, u'a'));
    }
  }
}

TEST(CreateResultRecord, EmptyValuesGiveAnAllZeroRecord) {
  EXPECT_TRUE(AllZero(BuildResultRecord(u"", u"", u""), 0, 680));
}

TEST(CreateResultRecord, TheRunsCopyIsTheRecordThenTheThirdFieldAndAZeroUnit) {
  const R record = BuildResultRecord(u"CN=Ann Lee,OU=Staff", u"Ann Lee", u"alee");
  EXPECT_TRUE(BuildRunRecord(record, u"").empty());
  const auto run = BuildRunRecord(record, u"A7|\u4e2d");
  ASSERT_EQ(run.size(), 680u + 10u);
  EXPECT_TRUE(std::equal(record.bytes.begin(), record.bytes.end(), run.begin()));
  const std::vector<std::uint8_t> tail(run.begin() + 680, run.end());
  EXPECT_EQ(tail, (std::vector<std::uint8_t>{'A', 0, '7', 0, '|', 0, 0x2D, 0x4E, 0, 0}));
}

TEST(TrimValueText, TakesOneValueOutOfTheListForm) {
  struct Row {
    int line;
    std::u16string in, out;
  };
  const std::vector<Row> rows = {
      {__LINE__, u"{'CN=Ann Lee,OU=Staff'}", u"CN=Ann Lee,OU=Staff"},
      {__LINE__, u"{'O'Neil'}", u"O'Neil"},
      {__LINE__, u"{''Quoted''}", u"Quoted"},
      {__LINE__, u"{'a', 'b'}", u"a', 'b"},
      {__LINE__, u"{}", u""},
      {__LINE__, u"", u""},
      {__LINE__, u"plain text", u"plain text"},
      {__LINE__, u"}x{", u"}x{"},
      {__LINE__, u"}", u""},
      {__LINE__, u"{'}'", u""},
      {__LINE__, u"x'}}", u"x"},
      {__LINE__, u"{{''x", u"x"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(test::Printable(TrimValueText(row.in)), test::Printable(row.out));
  }
}

TEST(ClassNameForObjectType, KnownTypesAndEmptyTextOtherwise) {
  struct Row {
    int line;
    std::int32_t type;
    std::u16string name;
  };
  const std::vector<Row> rows = {
      {__LINE__, 0, u"user"},   {__LINE__, 1, u"group"}, {__LINE__, 2, u"computer"},
      {__LINE__, 3, u""},       {__LINE__, -1, u""},     {__LINE__, 2147483647, u""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(ClassNameForObjectType(row.type), row.name);
  }
}

TEST(MapCreateResult, OnlyTheTwoRegistrationFailuresBecomeNoInterface) {
  EXPECT_EQ(MapCreateResult(static_cast<HRESULT>(0x80040154)), static_cast<HRESULT>(0x80004002));
  EXPECT_EQ(MapCreateResult(static_cast<HRESULT>(0x80040110)), static_cast<HRESULT>(0x80004002));
  const std::vector<std::uint32_t> unchanged = {0x0, 0x1, 0x80004002, 0x80004005, 0x80070005,
                                                0x80040153, 0x80040155, 0x8004010F, 0x80040111,
                                                0x00040154, 0x8007203A};
  for (const std::uint32_t code : unchanged) {
    SCOPED_TRACE(code);
    EXPECT_EQ(MapCreateResult(static_cast<HRESULT>(code)), static_cast<HRESULT>(code));
  }
}

}  // namespace
}  // namespace quorvel
