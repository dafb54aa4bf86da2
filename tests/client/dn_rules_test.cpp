#include "dn_rules.h"

#include "support/text.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvel::client::rules {
namespace {

TEST(DnRules, NameAPersonReadsPathAndContainer) {
  struct Row {
    int line;
    std::u16string dn, display, path, container;  // container: the object's, not a unit
  } rows[] = {
      {__LINE__, u"CN=Park\\, Dana,OU=Staff", u"Park, Dana", u"CN=Park\\, Dana,OU=Staff", u"OU=Staff"},
      // The unit's own "/" is written "\/" on a path; an escaped one stays as it is.
      {__LINE__, u"CN=Team,OU=Sales/Marketing,DC=x", u"Team", u"CN=Team,OU=Sales\\/Marketing,DC=x",
       u"OU=Sales/Marketing,DC=x"},
      {__LINE__, u"OU=A\\/B,DC=x", u"A/B", u"OU=A\\/B,DC=x", u"DC=x"},
      {__LINE__, u"CN=a\\\\,DC=x", u"a\\", u"CN=a\\\\,DC=x", u"DC=x"},
      // One RDN is its own container; without "=" the whole RDN is the name.
      {__LINE__, u"DC=com", u"com", u"DC=com", u"DC=com"},
      {__LINE__, u"Nobody,DC=x", u"Nobody", u"Nobody,DC=x", u"DC=x"},
      {__LINE__, u"CN=a=b,DC=x", u"a=b", u"CN=a=b,DC=x", u"DC=x"},
      {__LINE__, u"CN=end\\", u"end\\", u"CN=end\\", u"CN=end\\"},
      {__LINE__, u"", u"", u"", u""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(test::Printable(DisplayName(row.dn)), test::Printable(row.display));
    EXPECT_EQ(test::Printable(PathDn(row.dn)), test::Printable(row.path));
    EXPECT_EQ(test::Printable(ContainerOf(row.dn, false)), test::Printable(row.container));
    EXPECT_EQ(test::Printable(ContainerOf(row.dn, true)), test::Printable(row.dn));
  }
}

TEST(DnRules, SameDnFoldsTheLettersOfLatinGreekAndCyrillic) {
  struct Row {
    int line;
    std::u16string a, b;
    bool same;
  } rows[] = {
      {__LINE__, u"CN=Sales Team,OU=Staff", u"cn=SALES TEAM,ou=staff", true},
      {__LINE__, u"CN=Sales Team,OU=Staff", u"CN=Sales Team,OU=Sales/Marketing", false},
      {__LINE__, u"CN=Ann", u"CN=Ann ", false},
      {__LINE__, u"CN=Ærø ÿ", u"CN=ÆRØ Ÿ", true},
      {__LINE__, u"CN=Łódź Ĺ Žž Ś", u"CN=ŁÓDŹ ĺ žŽ ś", true},
      {__LINE__, u"CN=Σοφία άόώ", u"CN=ΣΟΦΊΑ ΆΌΏ", true},
      {__LINE__, u"CN=Пётр ё", u"CN=ПЁТР Ё", true},
      {__LINE__, u"CN=÷ ß", u"CN=× ß", false},
      {__LINE__, u"CN=ıi", u"CN=İI", false},  // the dotless and dotted I fold by language
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(SameDn(row.a, row.b), row.same);
    EXPECT_EQ(SameDn(row.b, row.a), row.same);
  }
}

}  // namespace
}  // namespace quorvel::client::rules
