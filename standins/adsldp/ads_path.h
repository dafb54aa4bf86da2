// Directory paths as the console writes them: LDAP://[server[:port]/]DN, and the
// pieces of a distinguished name that the provider needs.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvel::standins {

struct AdsPath {
  std::u16string server;  // empty: the configured server
  unsigned port = 0;      // 0: the default port
  std::u16string dn;      // may be empty (the server's root); "\/" read as "/"
};

// Accepts the scheme in any case, as the platform does. A server part must be
// followed by "/"; a port must be 1 to 65535.
std::optional<AdsPath> ParseAdsPath(std::u16string_view path);

// A DN as a path writes it: each "/" as "\/".
std::u16string PathDn(std::u16string_view dn);

// Splits off the first relative name; a "," inside a value only counts when it
// is not escaped with a backslash. Gives {rdn, rest}, rest empty at the root.
std::pair<std::u16string_view, std::u16string_view> SplitFirstRdn(std::u16string_view dn);

// OpenLDAP gives attribute types as its schema spells them (cn=, ou=, dc=);
// Active Directory gives them in capitals. Values keep their case.
std::u16string AdStyleDn(std::u16string_view dn);

// The value of a relative name (CN=Sales Team gives Sales Team), escapes kept.
std::u16string_view RdnValue(std::u16string_view rdn);

}  // namespace quorvel::standins
