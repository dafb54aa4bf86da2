#include "client_rules.h"

#include "support/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvel::client::rules {
namespace {

const std::u16string kHelper = u"C:\\Program Files\\Tarnwick\\quorvel.exe";
constexpr int kSheet = -100;  // a row for the property sheet, not the wizard

TEST(ClientLines, FormedExactlyOrRefusedWithAReason) {
  const std::u16string longPath(32766 - 12 - kHelper.size() - 3, u'x'), head = u"\"" + kHelper + u"\" ";
  struct Row {
    int line;
    std::u16string argument;
    int type;
    std::u16string text;     // the line formed, or
    std::u16string refusal;  // a part of the refusal
    std::u16string helper = kHelper;
  } rows[] = {
      {__LINE__, u"LDAP://CN=Sales Team,DC=x", kSheet, head + u"/adproppage:LDAP://CN=Sales Team,DC=x", {}},
      // Nothing trimmed: blanks and a quote go in as given.
      {__LINE__, u" LDAP://CN=a b\" ", kSheet, head + u"/adproppage: LDAP://CN=a b\" ", {}},
      {__LINE__, u"OU=Staff,DC=x", 2, head + u"/adcreateobjwiz:OU=Staff,DC=x|2", {}},
      {__LINE__, u"", kSheet, {}, u"path is empty"},
      {__LINE__, std::u16string(u"LDAP://a\0b", 10), kSheet, {}, u"zero unit"},
      {__LINE__, u"", 0, {}, u"name is empty"},
      {__LINE__, u"OU=a|b,DC=x", 0, {}, u"\"|\""},
      {__LINE__, std::u16string(u"OU=a\0", 5), 0, {}, u"zero unit"},
      {__LINE__, u"ldap://OU=a,DC=x", 0, {}, u"without \"LDAP://\""},
      {__LINE__, u"OU=a", 3, {}, u"type 3 is none"},
      {__LINE__, u"OU=a", -1, {}, u"type -1 is none"},
      {__LINE__, longPath, kSheet, head + u"/adproppage:" + longPath, {}},
      {__LINE__, longPath + u"y", kSheet, {}, u"32767 units long"},
      {__LINE__, u"LDAP://x", kSheet, {}, u"quorvel.exe is empty", u""},
      {__LINE__, u"OU=a", 0, {}, u"double quote", u"C:\\a\"b.exe"},
      {__LINE__, u"OU=a", 0, {}, u"zero unit", std::u16string(u"a\0", 2)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    const CommandLine got = row.type == kSheet ? PropertySheetLine(row.helper, row.argument)
                                               : CreateWizardLine(row.helper, row.argument, row.type);
    EXPECT_EQ(test::Printable(got.text), test::Printable(row.text));
    EXPECT_EQ(got.refusal.empty(), row.refusal.empty()) << test::Printable(got.refusal);
    EXPECT_NE(got.refusal.find(row.refusal), std::u16string::npos) << test::Printable(got.refusal);
  }
}

TEST(ClientExitCodes, SortedIntoResults) {
  struct Row {
    int line;
    bool wizard;
    std::uint32_t code;
    Result result;
  } rows[] = {
      {__LINE__, false, 0, Result::Unchanged},          {__LINE__, false, 1, Result::Changed},
      {__LINE__, false, 0x80072030u, Result::BindFailed}, {__LINE__, false, 2, Result::Error},
      {__LINE__, false, 0xC0000005u, Result::Error},     {__LINE__, true, 0, Result::Created},
      {__LINE__, true, 1, Result::Cancelled},           {__LINE__, true, 0x57, Result::Refused},
      {__LINE__, true, 0x80071392u, Result::Failed},     {__LINE__, true, 0x80004002u, Result::Failed},
      {__LINE__, true, 2, Result::Failed},              {__LINE__, true, 0xC0000409u, Result::Error},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    const Reading got = row.wizard ? ReadWizardExit(row.code) : ReadSheetExit(row.code);
    EXPECT_EQ(got.result, row.result);
    EXPECT_EQ(static_cast<std::uint32_t>(got.code), row.code);
    EXPECT_FALSE(got.reason.empty());
  }
}

std::vector<std::uint8_t> Record(std::u16string_view dn, std::u16string_view name, std::u16string_view account) {
  std::vector<std::uint8_t> bytes(kRecordBytes);
  const std::pair<std::size_t, std::u16string_view> fields[] = {{0, dn}, {520, name}, {648, account}};
  for (const auto& [offset, text] : fields) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      bytes[offset + 2 * i] = static_cast<std::uint8_t>(text[i] & 0xFF);
      bytes[offset + 2 * i + 1] = static_cast<std::uint8_t>(text[i] >> 8);
    }
  }
  return bytes;
}

TEST(ClientRecord, AcceptedOnlyWhenThisRunPublishedIt) {
  const std::u16string full64(64, u'n'), full16 = u"abcdefghijklmnop";
  const auto ann = Record(u"CN=Ann,OU=S", u"Ann", u"ann");
  const auto old = Record(u"CN=Old,OU=S", u"Old", u"old");
  // A field that fills its width runs into the next one's first unit: it must stop at its width.
  const auto full = Record(u"", full64, full16);
  const auto zero = Record(u"", u"", u"");
  const std::vector<std::uint8_t> shortRecord(ann.begin(), ann.end() - 1);
  struct Row {
    int line;
    ClipboardState before, after;
    bool accepted;
    Names names;
  } rows[] = {
      {__LINE__, {5, std::nullopt}, {7, ann}, true, {u"CN=Ann,OU=S", u"Ann", u"ann"}},
      {__LINE__, {5, old}, {7, ann}, true, {u"CN=Ann,OU=S", u"Ann", u"ann"}},
      {__LINE__, {5, old}, {5, old}, false, {}},             // nothing published
      {__LINE__, {5, old}, {9, old}, false, {}},             // something else changed the clipboard
      {__LINE__, {5, std::nullopt}, {9, std::nullopt}, false, {}},
      {__LINE__, {5, std::nullopt}, {9, shortRecord}, false, {}},
      {__LINE__, {5, std::nullopt}, {9, zero}, false, {}},   // names nothing
      {__LINE__, {5, std::nullopt}, {9, full}, true, {u"", full64, full16}},
      {__LINE__, {5, std::nullopt}, {9, Record(u"\u00c5sa\u4e2d", u"", u"")}, true, {u"\u00c5sa\u4e2d", u"", u""}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    const Judgement got = JudgeRecord(row.before, row.after);
    EXPECT_EQ(got.accepted, row.accepted);
    EXPECT_EQ(got.reason.empty(), row.accepted);
    EXPECT_EQ(test::Printable(got.names.distinguishedName), test::Printable(row.names.distinguishedName));
    EXPECT_EQ(test::Printable(got.names.name), test::Printable(row.names.name));
    EXPECT_EQ(test::Printable(got.names.samAccountName), test::Printable(row.names.samAccountName));
  }
}

}  // namespace
}  // namespace quorvel::client::rules
