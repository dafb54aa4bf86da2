// The pure rules of the creation job: the class name handed to the wizard, the
// mapping of the worker's outcome, and the 680-byte record put on the clipboard.
#pragma once

#include "platform/wintypes.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// The registered clipboard format under which the record is published.
inline constexpr std::u16string_view kCreateObjClipFormat = u"tarnwick.adcreateobjwiz.clip";
// The second format, published beside the record when the console passed a third
// field: the record again, followed by that field. A console that named its run
// there knows the record for its own even when another program has since put a
// record of its own under the first format alone.
inline constexpr std::u16string_view kCreateObjRunFormat = u"tarnwick.adcreateobjwiz.run";

// An external format read by the console: sizes and offsets never change. Text is
// UTF-16 little-endian, each field zero-filled after its value, with no terminator
// of its own when the value fills it.
struct CreateObjResultRecord {
  static constexpr std::size_t kSize = 680;
  static constexpr std::size_t kDistinguishedNameOffset = 0;
  static constexpr std::size_t kDistinguishedNameUnits = 260;
  static constexpr std::size_t kNameOffset = 520;
  static constexpr std::size_t kNameUnits = 64;
  static constexpr std::size_t kAccountNameOffset = 648;
  static constexpr std::size_t kAccountNameUnits = 16;

  std::array<std::uint8_t, kSize> bytes{};
};

// "user", "group" or "computer" for 0, 1 and 2; empty text for anything else.
std::u16string ClassNameForObjectType(std::int32_t objectType);

// A wizard or a bind that is not registered, or refuses to be created, reads to
// the console as "not available": both become E_NOINTERFACE.
HRESULT MapCreateResult(HRESULT result);

// Takes one value out of the rendering of a one-element list, {'x'}: strips
// "{'" from the start and "'}" from the end.
std::u16string TrimValueText(std::u16string_view text);

// The record from the three trimmed texts. A value longer than its field leaves
// the field all zero: a cut name would name another object.
CreateObjResultRecord BuildResultRecord(std::u16string_view distinguishedName,
                                        std::u16string_view name,
                                        std::u16string_view accountName);

// The bytes published under kCreateObjRunFormat: the record's 680 bytes, then the
// third field in UTF-16 little-endian and one zero unit. Empty when the third field
// is empty: then nothing is published under that format.
std::vector<std::uint8_t> BuildRunRecord(const CreateObjResultRecord& record, std::u16string_view thirdArgument);

}  // namespace quorvel
