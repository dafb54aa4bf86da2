#include "dn_rules.h"

namespace quorvel::client::rules {
namespace {

// The upper-case letter of a lower-case one in the blocks directory names are mostly
// written in; every other unit as it is.
char16_t Upper(char16_t c) {
  if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) ||
      (c >= 0x430 && c <= 0x44F))
    return static_cast<char16_t>(c - 0x20);
  if (c == 0xFF) return 0x178;
  // Greek with an accent: their capitals stand apart from the plain ones.
  if (c == 0x3AC) return 0x386;
  if (c == 0x3CC) return 0x38C;
  if (c >= 0x3AD && c <= 0x3AF) return static_cast<char16_t>(c - 0x25);
  if (c == 0x3CD || c == 0x3CE) return static_cast<char16_t>(c - 0x3F);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
  // Latin Extended-A pairs its letters: upper case on even units, but on odd ones from
  // U+0139 to U+0148 and from U+0179 to U+017E. The dotted and dotless I (U+0130,
  // U+0131) fold by language, so not here.
  const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
  const bool paired =
      (c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177) || oddUpper;
  return paired && (c % 2 == 0) == oddUpper ? static_cast<char16_t>(c - 1) : c;
}

}  // namespace

std::size_t FirstRdnEnd(std::u16string_view dn) {
  for (std::size_t i = 0; i < dn.size(); ++i) {
    if (dn[i] == u'\\') ++i;
    else if (dn[i] == u',') return i;
  }
  return dn.size();
}

std::u16string DisplayName(std::u16string_view dn) {
  const std::size_t end = FirstRdnEnd(dn), eq = dn.find(u'=');
  std::u16string name;
  for (std::size_t i = eq == std::u16string_view::npos || eq > end ? 0 : eq + 1; i < end; ++i) {
    if (dn[i] == u'\\' && i + 1 < end) ++i;
    name += dn[i];
  }
  return name;
}

std::u16string PathDn(std::u16string_view dn) {
  std::u16string out;
  for (std::size_t i = 0; i < dn.size(); ++i) {
    if (dn[i] == u'/') out += u'\\';
    out += dn[i];
    if (dn[i] == u'\\' && i + 1 < dn.size()) out += dn[++i];
  }
  return out;
}

std::u16string ContainerOf(std::u16string_view dn, bool isContainer) {
  const std::size_t end = FirstRdnEnd(dn);
  return std::u16string(isContainer || end == dn.size() ? dn : dn.substr(end + 1));
}

bool SameDn(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

}  // namespace quorvel::client::rules
