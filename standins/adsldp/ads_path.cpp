#include "standins/adsldp/ads_path.h"

namespace quorvel::standins {
namespace {

char16_t Upper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (Upper(text[i]) != Upper(prefix[i])) return false;
  return true;
}

}  // namespace

std::optional<AdsPath> ParseAdsPath(std::u16string_view path) {
  constexpr std::u16string_view scheme = u"LDAP:";
  if (!StartsWithNoCase(path, scheme)) return std::nullopt;
  std::u16string_view rest = path.substr(scheme.size());
  AdsPath out;
  if (rest.empty()) return out;  // "LDAP:" alone names the namespace itself
  if (rest.substr(0, 2) != u"//") return std::nullopt;
  rest.remove_prefix(2);
  // As the platform reads it: a server part is whatever precedes the first "/" that
  // no backslash escapes, so a DN's own "/" must be written "\/".
  std::size_t slash = std::u16string_view::npos;
  for (std::size_t i = 0; i < rest.size() && slash == std::u16string_view::npos; ++i) {
    if (rest[i] == u'\\') ++i;
    else if (rest[i] == u'/') slash = i;
  }
  if (slash != std::u16string_view::npos) {
    std::u16string_view server = rest.substr(0, slash);
    rest.remove_prefix(slash + 1);
    const std::size_t colon = server.find(u':');
    if (colon != std::u16string_view::npos) {
      std::u16string_view digits = server.substr(colon + 1);
      server = server.substr(0, colon);
      if (digits.empty() || digits.size() > 5) return std::nullopt;
      unsigned port = 0;
      for (const char16_t c : digits) {
        if (c < u'0' || c > u'9') return std::nullopt;
        port = port * 10 + static_cast<unsigned>(c - u'0');
      }
      if (port == 0 || port > 65535) return std::nullopt;
      out.port = port;
    }
    if (server.empty()) return std::nullopt;
    out.server.assign(server);
  }
  // Every relative name needs a type and "="; an empty DN is the root.
  for (std::u16string_view dn = rest; !dn.empty();) {
    const auto [rdn, tail] = SplitFirstRdn(dn);
    const std::size_t eq = rdn.find(u'=');
    if (eq == std::u16string_view::npos || eq == 0) return std::nullopt;
    if (tail.data() == dn.data() + dn.size() && rdn.size() != dn.size()) return std::nullopt;  // trailing ","
    dn = tail;
  }
  // The directory gets the DN itself: "\/" is the path's escape, not the DN's.
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == u'\\' && i + 1 < rest.size() && rest[i + 1] == u'/') ++i;
    else if (rest[i] == u'\\' && i + 1 < rest.size()) out.dn += rest[i++];
    out.dn += rest[i];
  }
  return out;
}

std::u16string PathDn(std::u16string_view dn) {
  std::u16string out;
  for (const char16_t c : dn) {
    if (c == u'/') out += u'\\';
    out += c;
  }
  return out;
}

std::pair<std::u16string_view, std::u16string_view> SplitFirstRdn(std::u16string_view dn) {
  for (std::size_t i = 0; i < dn.size(); ++i) {
    if (dn[i] == u'\\') {
      ++i;
    } else if (dn[i] == u',') {
      return {dn.substr(0, i), dn.substr(i + 1)};
    }
  }
  return {dn, {}};
}

std::u16string AdStyleDn(std::u16string_view dn) {
  std::u16string out;
  out.reserve(dn.size());
  bool inType = true;
  for (std::size_t i = 0; i < dn.size(); ++i) {
    const char16_t c = dn[i];
    if (inType) {
      out += Upper(c);
      if (c == u'=') inType = false;
    } else {
      out += c;
      if (c == u'\\' && i + 1 < dn.size()) {
        out += dn[++i];
      } else if (c == u',' || c == u'+') {
        inType = true;
      }
    }
  }
  return out;
}

std::u16string_view RdnValue(std::u16string_view rdn) {
  const std::size_t eq = rdn.find(u'=');
  return eq == std::u16string_view::npos ? rdn : rdn.substr(eq + 1);
}

}  // namespace quorvel::standins
