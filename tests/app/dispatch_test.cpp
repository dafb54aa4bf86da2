#include "app/dispatch.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>
#include <vector>

namespace quorvel {
namespace {

TEST(CommandTail, SkipsTheProgramNameAndTheBlanksAfterIt) {
  struct Case {
    int line;
    std::u16string commandLine;
    std::u16string tail;
  };
  const std::vector<Case> cases = {
      {__LINE__, u"", u""},
      {__LINE__, u"quorvel.exe", u""},
      {__LINE__, u"quorvel.exe   ", u""},
      {__LINE__, u"quorvel.exe /adproppage:x", u"/adproppage:x"},
      {__LINE__, u"quorvel.exe \t /adproppage:x", u"/adproppage:x"},
      // Any code of 32 or less ends the name and is skipped after it.
      {__LINE__, u"q.exe\t/a", u"/a"},
      {__LINE__, u"q.exe\x01\x1f/a", u"/a"},
      {__LINE__, u"q.exe\r\n/a b", u"/a b"},
      // Quotes keep blanks inside the name; each quote toggles.
      {__LINE__, u"\"C:\\Program Files\\q.exe\" /a", u"/a"},
      {__LINE__, u"C:\\Pro\"gram Fi\"les\\q.exe /a", u"/a"},
      {__LINE__, u"\"unclosed name /a", u""},
      {__LINE__, u"\"\"q /a", u"/a"},
      {__LINE__, u"\"a\tb\x01" u"c\" /a", u"/a"},
      // A closing quote does not end the name; only a blank outside quotes does.
      {__LINE__, u"\"C:\\q.exe\"\"/a b\" /c", u"/c"},
      // A line that starts with a blank has an empty name: all of it after the
      // blanks is the tail.
      {__LINE__, u" q /a", u"q /a"},
      // Nothing is removed from the tail itself.
      {__LINE__, u"q /a  \"b c\"  ", u"/a  \"b c\"  "},
      {__LINE__, u"q \"/adproppage:LDAP://CN=a\"", u"\"/adproppage:LDAP://CN=a\""},
      // Code 33 is not a blank, nor are DEL and the units above it.
      {__LINE__, u"q!x", u""},
      {__LINE__, u"q\x7f/a", u""},
      {__LINE__, u"q \x7f/a", u"\x7f/a"},
      {__LINE__, u"q\u00a0/a", u""},
      {__LINE__, u"q\u3000/a \U0001F600", u"\U0001F600"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "row at line " << c.line);
    EXPECT_EQ(std::u16string(CommandTailFrom(c.commandLine)), c.tail);
  }
}

TEST(DecimalField, ReadsLikeWcstolIntoThirtyTwoBits) {
  struct Case {
    int line;
    std::u16string text;
    std::int32_t value;
  };
  const std::vector<Case> cases = {
      {__LINE__, u"0", 0},
      {__LINE__, u"1", 1},
      {__LINE__, u"\t\n\v\f\r 7", 7},
      {__LINE__, u"+3", 3},
      {__LINE__, u"-1", -1},
      {__LINE__, u"- 1", 0},
      {__LINE__, u"+-1", 0},
      {__LINE__, u"group", 0},
      {__LINE__, u"", 0},
      {__LINE__, u"12abc", 12},
      {__LINE__, u"1 2", 1},
      {__LINE__, u"007", 7},
      {__LINE__, u"2147483647", INT_MAX},
      {__LINE__, u"2147483648", INT_MAX},
      {__LINE__, u"-2147483648", INT_MIN},
      {__LINE__, u"-2147483649", INT_MIN},
      // Only ASCII digits count; a full-width digit ends the number.
      {__LINE__, u"1\uff12", 1},
      // Base 10 only: no hexadecimal or octal prefix, no exponent.
      {__LINE__, u"0x1f", 0},
      {__LINE__, u"010", 10},
      {__LINE__, u"1e3", 1},
      // A sign with no digits after it converts nothing.
      {__LINE__, u"+", 0},
      {__LINE__, u"-", 0},
      {__LINE__, u"-0", 0},
      {__LINE__, u" -7 ", -7},
      // Leading zeros do not count towards overflow.
      {__LINE__, u"000000000000000000002", 2},
      // The limits' neighbours stay exact.
      {__LINE__, u"2147483646", INT_MAX - 1},
      {__LINE__, u"-2147483647", INT_MIN + 1},
      // Past 64 bits the clamp still holds.
      {__LINE__, u"18446744073709551617", INT_MAX},
      {__LINE__, u"-18446744073709551617", INT_MIN},
      // ASCII white space only: a no-break space, an ideographic space or a zero unit is none.
      {__LINE__, u"\u00a02", 0},
      {__LINE__, u"\u30002", 0},
      {__LINE__, std::u16string(u"\0" u"2", 2), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "row at line " << c.line);
    EXPECT_EQ(ParseDecimalInt32(c.text), c.value);
  }
}

// Records what the dispatcher asked for and answers as told.
class RecordingJobs final : public CommandJobs {
 public:
  PropertySheetOutcome sheetAnswer;
  std::int32_t wizardAnswer = 0;

  std::vector<std::u16string> sheetPaths;
  struct WizardCall {
    std::u16string container;
    std::int32_t type;
    std::u16string third;
  };
  std::vector<WizardCall> wizardCalls;

  PropertySheetOutcome ShowPropertySheet(const std::u16string& adsPath) override {
    sheetPaths.push_back(adsPath);
    return sheetAnswer;
  }
  std::int32_t RunCreateObjectWizard(const std::u16string& containerDN, std::int32_t objectType,
                                     const std::u16string& thirdArgument) override {
    wizardCalls.push_back({containerDN, objectType, thirdArgument});
    return wizardAnswer;
  }
};

struct DispatchCase {
  int line;
  std::u16string tail;
  std::int32_t expectedStatus;
  std::optional<std::u16string> sheetPath;  // set: exactly this one sheet
  std::optional<RecordingJobs::WizardCall> wizard;
};

TEST(Dispatch, ChoosesTheJobAndItsArgument) {
  const std::vector<DispatchCase> cases = {
      {__LINE__, u"", 0, {}, {}},
      {__LINE__, u"hello world", 0, {}, {}},
      {__LINE__, u"/ADPROPPAGE:LDAP://CN=x", 0, {}, {}},
      {__LINE__, u"/adproppage:", 0, {}, {}},
      {__LINE__, u"/adproppage:LDAP://CN=a", 0, u"LDAP://CN=a", {}},
      {__LINE__, u"/adproppage: LDAP://CN=a ", 0, u" LDAP://CN=a ", {}},
      {__LINE__, u"/adproppage:LDAP://CN=a /adcreateobjwiz:b|0", 0,
       u"LDAP://CN=a /adcreateobjwiz:b|0", {}},
      {__LINE__, u"/adcreateobjwiz:b|0 /adproppage:LDAP://CN=a", 0, u"LDAP://CN=a", {}},
      {__LINE__, u"/adproppage:/adproppage:x", 0, u"/adproppage:x", {}},
      // The switch need not start a word, and its colon belongs to it.
      {__LINE__, u"foo/adproppage:LDAP://CN=a", 0, u"LDAP://CN=a", {}},
      {__LINE__, u"/adproppage LDAP://CN=a", 0, {}, {}},
      // The sheet's switch anywhere takes the job, even inside the wizard's argument
      // where it leaves an empty argument: nothing runs and the status is 0, not 87.
      {__LINE__, u"/adcreateobjwiz:CN=a|0|/adproppage:", 0, {}, {}},
      {__LINE__, u"\"/adproppage:LDAP://CN=a\"", 0, u"LDAP://CN=a\"", {}},
      // Malformed creation arguments: 87 and no wizard.
      {__LINE__, u"/adcreateobjwiz:", 87, {}, {}},
      {__LINE__, u"/adcreateobjwiz:CN=Users,DC=x", 87, {}, {}},
      {__LINE__, u"/adcreateobjwiz:|1|x", 87, {}, {}},
      {__LINE__, u"/adcreateobjwiz:CN=Users,DC=x||x", 87, {}, {}},
      {__LINE__, u"/ADCREATEOBJWIZ:CN=Users,DC=x|1", 0, {}, {}},
      {__LINE__, u"/adcreateobjwiz CN=Users,DC=x|1", 0, {}, {}},
      // Well-formed: the runner gets the fields, field 2 read as a number.
      {__LINE__, u"/adcreateobjwiz:CN=Users,DC=x|1", 0, {}, RecordingJobs::WizardCall{u"CN=Users,DC=x", 1, u""}},
      {__LINE__, u"/adcreateobjwiz:CN=Users,DC=x|group|x", 0, {},
       RecordingJobs::WizardCall{u"CN=Users,DC=x", 0, u"x"}},
      {__LINE__, u"/adcreateobjwiz:CN=Users,DC=x|99999999999", 0, {},
       RecordingJobs::WizardCall{u"CN=Users,DC=x", INT_MAX, u""}},
      {__LINE__, u"/adcreateobjwiz:CN=Users,DC=x|1|a|b", 0, {}, RecordingJobs::WizardCall{u"CN=Users,DC=x", 1, u"a"}},
      {__LINE__, u"pre /adcreateobjwiz: CN=A |3| t ", 0, {}, RecordingJobs::WizardCall{u" CN=A ", 3, u" t "}},
      // The first occurrence is the switch; a second one is part of field 1.
      {__LINE__, u"/adcreateobjwiz:/adcreateobjwiz:CN=a|1", 0, {},
       RecordingJobs::WizardCall{u"/adcreateobjwiz:CN=a", 1, u""}},
      // Field 2 only needs to be non-empty: blanks alone reach the runner as 0.
      {__LINE__, u"/adcreateobjwiz:CN=a| ", 0, {}, RecordingJobs::WizardCall{u"CN=a", 0, u""}},
      // A quoted switch keeps its closing quote in the last field.
      {__LINE__, u"\"/adcreateobjwiz:CN=a|1|t\"", 0, {}, RecordingJobs::WizardCall{u"CN=a", 1, u"t\""}},
  };
  for (const DispatchCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "row at line " << c.line);
    RecordingJobs jobs;
    EXPECT_EQ(DispatchCommand(c.tail, jobs), c.expectedStatus);
    if (c.sheetPath) {
      ASSERT_EQ(jobs.sheetPaths.size(), 1u);
      EXPECT_EQ(jobs.sheetPaths[0], *c.sheetPath);
    } else {
      EXPECT_TRUE(jobs.sheetPaths.empty());
    }
    if (c.wizard) {
      ASSERT_EQ(jobs.wizardCalls.size(), 1u);
      EXPECT_EQ(jobs.wizardCalls[0].container, c.wizard->container);
      EXPECT_EQ(jobs.wizardCalls[0].type, c.wizard->type);
      EXPECT_EQ(jobs.wizardCalls[0].third, c.wizard->third);
    } else {
      EXPECT_TRUE(jobs.wizardCalls.empty());
    }
  }
}

TEST(Dispatch, ExitStatusFollowsTheJobsOutcome) {
  struct Case {
    int line;
    PropertySheetOutcome sheet;
    std::int32_t expected;
  };
  const std::vector<Case> cases = {
      {__LINE__, {0, false}, 0},
      {__LINE__, {0, true}, 1},
      {__LINE__, {1, true}, 1},  // a success code other than S_OK still runs the sheet
      {__LINE__, {static_cast<std::int32_t>(0x80072030), false}, static_cast<std::int32_t>(0x80072030)},
      {__LINE__, {static_cast<std::int32_t>(0x80004005), true}, static_cast<std::int32_t>(0x80004005)},
      {__LINE__, {INT32_MIN, false}, INT32_MIN},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "row at line " << c.line);
    RecordingJobs jobs;
    jobs.sheetAnswer = c.sheet;
    EXPECT_EQ(DispatchCommand(u"/adproppage:LDAP://CN=a", jobs), c.expected);
  }
  // The wizard's result passes through bit for bit, whatever it is.
  for (const std::int32_t answer :
       {0, 1, 87, static_cast<std::int32_t>(0x80004002), static_cast<std::int32_t>(0x80072030), INT32_MIN}) {
    SCOPED_TRACE(answer);
    RecordingJobs jobs;
    jobs.wizardAnswer = answer;
    EXPECT_EQ(DispatchCommand(u"/adcreateobjwiz:CN=Users,DC=x|0", jobs), answer);
  }
}

}  // namespace
}  // namespace quorvel
