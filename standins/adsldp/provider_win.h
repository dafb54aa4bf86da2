// The LDAP namespace provider's class and the mapping of LDAP results to the
// HRESULTs that ADSI gives for them.
#pragma once

#include "platform/wintypes.h"

#include <objbase.h>

namespace quorvel::standins {

// {6F1C2A4E-93B7-4D25-9C0E-51A7D3B8E402}, ProgID "Quorvel.LdapNamespace".
inline constexpr CLSID CLSID_QuorvelLdapNamespace = {
    0x6f1c2a4e, 0x93b7, 0x4d25, {0x9c, 0x0e, 0x51, 0xa7, 0xd3, 0xb8, 0xe4, 0x02}};

HRESULT HresultFromLdap(ULONG code);

}  // namespace quorvel::standins
