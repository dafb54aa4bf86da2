#include "standins/adsldp/ads_path.h"
#include "support/text.h"

#include <gtest/gtest.h>

#include <vector>

namespace quorvel::standins {
namespace {

using test::Printable;

TEST(AdsPath, Parses) {
  struct Row {
    int line;
    std::u16string path;
    bool ok;
    std::u16string server;
    unsigned port;
    std::u16string dn;
  };
  const std::vector<Row> rows = {
      {__LINE__, u"LDAP://CN=Sales Team,OU=Staff,DC=example,DC=com", true, u"", 0, u"CN=Sales Team,OU=Staff,DC=example,DC=com"},
      {__LINE__, u"ldap://dc1/DC=example,DC=com", true, u"dc1", 0, u"DC=example,DC=com"},
      {__LINE__, u"LDAP://127.0.0.1:3890/DC=x", true, u"127.0.0.1", 3890, u"DC=x"},
      {__LINE__, u"LDAP://CN=a\\/b,DC=x", true, u"", 0, u"CN=a/b,DC=x"},  // the path's escape, not the DN's
      {__LINE__, u"LDAP://srv/CN=a\\/b\\\\/c,DC=x", true, u"srv", 0, u"CN=a/b\\\\/c,DC=x"},
      {__LINE__, u"LDAP://CN=a/b,DC=x", false, u"", 0, u""},  // "CN=a" would be the server, "b" no RDN
      {__LINE__, u"LDAP://CN=Lee\\, Ann,DC=x", true, u"", 0, u"CN=Lee\\, Ann,DC=x"},
      {__LINE__, u"LDAP:", true, u"", 0, u""},
      {__LINE__, u"LDAP://srv/", true, u"srv", 0, u""},
      {__LINE__, u"GC://DC=x", false, u"", 0, u""},
      {__LINE__, u"LDAP:/DC=x", false, u"", 0, u""},
      {__LINE__, u"LDAP://DC=x,", false, u"", 0, u""},
      {__LINE__, u"LDAP://Sales Team", false, u"", 0, u""},
      {__LINE__, u"LDAP://srv:0/DC=x", false, u"", 0, u""},
      {__LINE__, u"LDAP://srv:65536/DC=x", false, u"", 0, u""},
      {__LINE__, u"LDAP://srv:8a/DC=x", false, u"", 0, u""},
      {__LINE__, u"LDAP://:389/DC=x", false, u"", 0, u""},
      {__LINE__, u"LDAP://=x", false, u"", 0, u""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "line " << row.line << ": " << Printable(row.path));
    const auto parsed = ParseAdsPath(row.path);
    ASSERT_EQ(parsed.has_value(), row.ok);
    if (!parsed) continue;
    EXPECT_EQ(Printable(parsed->server), Printable(row.server));
    EXPECT_EQ(parsed->port, row.port);
    EXPECT_EQ(Printable(parsed->dn), Printable(row.dn));
  }
}

TEST(AdsPath, DistinguishedNamesInActiveDirectoryStyle) {
  EXPECT_EQ(Printable(AdStyleDn(u"cn=Sales Team,ou=Staff,dc=example,dc=com")),
            "CN=Sales Team,OU=Staff,DC=example,DC=com");
  // Escaped separators and "=" inside values keep the value's case.
  EXPECT_EQ(Printable(AdStyleDn(u"cn=lee\\, ann,ou=a=b,dc=x")), "CN=lee\\, ann,OU=a=b,DC=x");
  EXPECT_EQ(Printable(AdStyleDn(u"cn=a+sn=b,dc=x")), "CN=a+SN=b,DC=x");
  const auto [rdn, rest] = SplitFirstRdn(u"CN=Lee\\, Ann,OU=Staff");
  EXPECT_EQ(Printable(rdn), "CN=Lee\\, Ann");
  EXPECT_EQ(Printable(rest), "OU=Staff");
  EXPECT_EQ(Printable(RdnValue(u"CN=Sales Team")), "Sales Team");
  EXPECT_TRUE(SplitFirstRdn(u"DC=com").second.empty());
}

}  // namespace
}  // namespace quorvel::standins
