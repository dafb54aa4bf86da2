// What every console does with a distinguished name before it hands one to
// quorvel.exe or shows one: its first RDN's end, the name a person reads, the DN as
// an LDAP path writes it, the container a new object goes into, and whether two
// DNs name the same object. Text is UTF-16, as in client_rules.h.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvel::client::rules {

// Where the first RDN ends: the first comma that no backslash escapes (the DN's
// size when there is none).
std::size_t FirstRdnEnd(std::u16string_view dn);
// The first RDN's value, its escapes undone: "CN=Park\, Dana,OU=Staff" gives "Park, Dana".
std::u16string DisplayName(std::u16string_view dn);
// The DN as an LDAP path carries it: "/" ends a path's server part, so a DN's own is
// written "\/". An escaped pair stays as it is.
std::u16string PathDn(std::u16string_view dn);
// Where a new object goes: into the selected object when it is a container (an
// organisational unit), otherwise beside it, in its parent; a DN of one RDN is its
// own container.
std::u16string ContainerOf(std::u16string_view dn, bool isContainer);
// Attribute types and, in Active Directory, values compare without regard to case:
// the letters of Latin, Greek and Cyrillic are folded, any other unit compares exactly.
bool SameDn(std::u16string_view a, std::u16string_view b);

}  // namespace quorvel::client::rules
