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
      {__LINE__, u"OU=Staff,DC=x", 2, head + u"/adcreateobjwiz:OU=Staff,DC=x|2|ID7", {}},
      // quorvel.exe would find the sheet's switch in it and show a sheet instead.
      {__LINE__, u"OU=a/adproppage:LDAP://CN=b", 0, {}, u"\"/adproppage:\""},
      {__LINE__, u"OU=a/adproppage,DC=x", 0, head + u"/adcreateobjwiz:OU=a/adproppage,DC=x|0|ID7", {}},
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
      {__LINE__, u"OU=a", 0, {}, u"zero unit", std::u16string(u"C:\\a\0", 5)},
      // CreateProcessW would resolve these against the current folder or drive.
      {__LINE__, u"OU=a", 0, {}, u"not absolute", u"quorvel.exe"},
      {__LINE__, u"LDAP://x", kSheet, {}, u"not absolute", u"bin\\quorvel.exe"},
      {__LINE__, u"OU=a", 0, {}, u"not absolute", u"\\Tarnwick\\quorvel.exe"},
      {__LINE__, u"OU=a", 0, {}, u"not absolute", u"C:quorvel.exe"},
      {__LINE__, u"OU=a", 1, u"\"\\\\srv\\q\\quorvel.exe\" /adcreateobjwiz:OU=a|1|ID7", {}, u"\\\\srv\\q\\quorvel.exe"},
      {__LINE__, u"OU=a", 1, u"\"C:/q/quorvel.exe\" /adcreateobjwiz:OU=a|1|ID7", {}, u"C:/q/quorvel.exe"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    const CommandLine got = row.type == kSheet ? PropertySheetLine(row.helper, row.argument)
                                               : CreateWizardLine(row.helper, row.argument, row.type, u"ID7");
    EXPECT_EQ(test::Printable(got.text), test::Printable(row.text));
    EXPECT_EQ(got.refusal.empty(), row.refusal.empty()) << test::Printable(got.refusal);
    EXPECT_NE(got.refusal.find(row.refusal), std::u16string::npos) << test::Printable(got.refusal);
  }
}

TEST(ClientLines, TheIdentityIsTheThirdFieldAndTheLineLimitCountsIt) {
  const std::uint8_t random[kIdentityBytes] = {0x00, 0x01, 0x7F, 0x80, 0xFE, 0xFF, 0xA5, 0x5A,
                                               0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xEF};
  const std::u16string identity = IdentityText(random);
  EXPECT_EQ(test::Printable(identity), "00017F80FEFFA55A1032547698BADCEF");
  EXPECT_EQ(CreateWizardLine(u"C:\\q", u"OU=a", 1, identity).text, u"\"C:\\q\" /adcreateobjwiz:OU=a|1|" + identity);
  EXPECT_EQ(CreateWizardLine(u"C:\\q", u"OU=a", 1, u"").text, u"\"C:\\q\" /adcreateobjwiz:OU=a|1");
  const std::u16string fits(32766 - 7 - 16 - 3 - 32, u'x');
  EXPECT_FALSE(CreateWizardLine(u"C:\\q", fits, 0, identity).text.empty());
  EXPECT_NE(CreateWizardLine(u"C:\\q", fits + u"y", 0, identity).refusal.find(u"32767 units"), std::u16string::npos);
}

// Seen from a 32-bit console: only a path inside the system folder itself is the 64-bit one's.
TEST(ClientPaths, System32FromWow64IsSysnative) {
  const std::u16string sys = u"C:\\windows\\system32", win = u"C:\\windows";
  const struct {
    int line;
    std::u16string path, want;
  } rows[] = {
      {__LINE__, u"C:\\windows\\system32\\quorvel.exe", u"C:\\windows\\Sysnative\\quorvel.exe"},
      {__LINE__, u"c:\\WINDOWS\\System32\\Q\\quorvel.exe", u"C:\\windows\\Sysnative\\Q\\quorvel.exe"},
      {__LINE__, u"C:\\windows\\system32x\\quorvel.exe", u"C:\\windows\\system32x\\quorvel.exe"},
      {__LINE__, u"C:\\windows\\system32", u"C:\\windows\\system32"},
      {__LINE__, u"D:\\windows\\system32\\quorvel.exe", u"D:\\windows\\system32\\quorvel.exe"},
      {__LINE__, kHelper, kHelper},
      // The long-path prefix stays in front.
      {__LINE__, u"\\\\?\\C:\\Windows\\System32\\quorvel.exe", u"\\\\?\\C:\\windows\\Sysnative\\quorvel.exe"},
      {__LINE__, u"\\\\?\\D:\\windows\\system32\\quorvel.exe", u"\\\\?\\D:\\windows\\system32\\quorvel.exe"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(test::Printable(SysnativePath(row.path, sys, win)), test::Printable(row.want)) << "row of line " << row.line;
  }
}

TEST(ClientExitCodes, SortedIntoResults) {
  constexpr std::uint32_t kSame = 1;  // code is the exit status itself
  struct Row {
    int line;
    bool wizard;
    std::uint32_t exit;
    Result result;
    std::uint32_t code = kSame;
  } rows[] = {
      {__LINE__, false, 0, Result::Unchanged},          {__LINE__, false, 1, Result::Changed},
      {__LINE__, false, 0x80072030u, Result::BindFailed}, {__LINE__, false, 2, Result::Error, 0x8000FFFFu},
      {__LINE__, false, 0xC0000005u, Result::Error},     {__LINE__, true, 0, Result::Created},
      {__LINE__, true, 1, Result::Cancelled},           {__LINE__, true, 0x57, Result::Refused, 0x80070057u},
      {__LINE__, true, 0x80071392u, Result::Failed},     {__LINE__, true, 0x80004002u, Result::Failed},
      {__LINE__, true, 2, Result::Failed, 0x8000FFFFu},  {__LINE__, true, 0xC0000409u, Result::Error},
      // Exception codes: a crash, never a directory error.
      {__LINE__, true, 0x80000003u, Result::Error},      {__LINE__, false, 0x80000003u, Result::Error},
      {__LINE__, true, 0x80000001u, Result::Error},      {__LINE__, false, 0x80000004u, Result::Error},
      {__LINE__, true, 0x80000026u, Result::Error},      {__LINE__, true, 0xE06D7363u, Result::Error},
      {__LINE__, false, 0x4000001Fu, Result::Error, 0x80004005u},
      // quorvel.exe's terminate handler (STATUS_FATAL_APP_EXIT), and abort() in one older.
      {__LINE__, true, 0x40000015u, Result::Error, 0x80004005u},
      {__LINE__, true, 3, Result::Error, 0x80004005u},
      // HRESULTs near exception codes: from an NTSTATUS, and COM's E_PENDING and E_BOUNDS.
      {__LINE__, true, 0xD0000022u, Result::Failed},     {__LINE__, false, 0xD0000022u, Result::BindFailed},
      {__LINE__, true, 0x8000000Au, Result::Failed},     {__LINE__, false, 0x8000000Bu, Result::BindFailed},
      {__LINE__, true, 0x80000002u, Result::Error},      {__LINE__, false, 0x80000029u, Result::Error},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    const Reading got = row.wizard ? ReadWizardExit(row.exit) : ReadSheetExit(row.exit);
    EXPECT_EQ(got.result, row.result);
    EXPECT_EQ(static_cast<std::uint32_t>(got.code), row.code == kSame ? row.exit : row.code);
    const bool failure = row.result != Result::Unchanged && row.result != Result::Changed &&
                         row.result != Result::Created && row.result != Result::Cancelled;
    EXPECT_EQ(got.code < 0, failure);
    // The reason keeps the status itself where code could not.
    if (failure) {
      EXPECT_NE(got.reason.find(Hex(row.exit)), std::u16string::npos) << test::Printable(got.reason);
    }
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

// The run's copy as quorvel.exe publishes it: the record, the identity, a zero unit.
std::vector<std::uint8_t> Tagged(std::vector<std::uint8_t> record, std::u16string_view identity, bool ended = true) {
  for (const char16_t unit : identity) record.insert(record.end(), {static_cast<std::uint8_t>(unit & 0xFF),
                                                                    static_cast<std::uint8_t>(unit >> 8)});
  if (ended) record.insert(record.end(), {0, 0});
  return record;
}

TEST(ClientRecord, AcceptedOnlyUnderThisRunsIdentity) {
  const std::u16string mine = u"0A1B2C3D4E5F60718293A4B5C6D7E8F9";
  const std::u16string full64(64, u'n'), full16 = u"abcdefghijklmnop";
  const auto ann = Record(u"CN=Ann,OU=S", u"Ann", u"ann");
  // A field that fills its width runs into the next one's first unit: it must stop at its width.
  const auto full = Record(u"", full64, full16);
  const auto zero = Record(u"", u"", u"");
  auto rounded = Tagged(ann, mine);
  rounded.insert(rounded.end(), {'x', 0, 'y', 0});  // GlobalSize rounded up: bytes after the zero unit
  auto odd = Tagged(ann, mine);
  odd.pop_back();  // half of the zero unit
  struct Row {
    int line;
    std::optional<std::vector<std::uint8_t>> bytes;
    bool accepted;
    Names names;
  } rows[] = {
      {__LINE__, Tagged(ann, mine), true, {u"CN=Ann,OU=S", u"Ann", u"ann"}},
      {__LINE__, rounded, true, {u"CN=Ann,OU=S", u"Ann", u"ann"}},
      {__LINE__, Tagged(full, mine), true, {u"", full64, full16}},
      {__LINE__, Tagged(Record(u"\u00c5sa\u4e2d", u"", u""), mine), true, {u"\u00c5sa\u4e2d", u"", u""}},
      {__LINE__, std::nullopt, false, {}},                      // an older quorvel.exe: no identity published
      {__LINE__, Tagged(ann, u"FFFF"), false, {}},              // another run's
      {__LINE__, Tagged(ann, mine.substr(0, 31)), false, {}},   // a prefix of ours is not ours
      {__LINE__, Tagged(ann, mine + u"0"), false, {}},
      {__LINE__, Tagged(ann, u""), false, {}},
      {__LINE__, Tagged(ann, mine, false), false, {}},          // cut before its zero unit
      {__LINE__, odd, false, {}},
      {__LINE__, std::vector<std::uint8_t>(ann.begin(), ann.end() - 1), false, {}},
      {__LINE__, std::vector<std::uint8_t>(), false, {}},
      {__LINE__, Tagged(zero, mine), false, {}},                // names nothing
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    const Judgement got = JudgeRunRecord(row.bytes, mine);
    EXPECT_EQ(got.accepted, row.accepted);
    EXPECT_EQ(got.reason.empty(), row.accepted);
    EXPECT_EQ(test::Printable(got.names.distinguishedName), test::Printable(row.names.distinguishedName));
    EXPECT_EQ(test::Printable(got.names.name), test::Printable(row.names.name));
    EXPECT_EQ(test::Printable(got.names.samAccountName), test::Printable(row.names.samAccountName));
  }
  EXPECT_FALSE(JudgeRunRecord(Tagged(ann, u""), u"").accepted);  // a run without an identity owns nothing
}

}  // namespace
}  // namespace quorvel::client::rules
