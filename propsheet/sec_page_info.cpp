#include "propsheet/sec_page_info.h"

#include "platform/ds_layout.h"

#include <algorithm>

namespace quorvel {
namespace {
std::uint32_t Read32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
}  // namespace

std::optional<std::u16string> LocateSecPageName(const std::uint8_t* block, std::size_t size) {
  if (!block || size < ds::kSecPageInfoFixedSize) return std::nullopt;
  // 64-bit arithmetic: an offset near 4 GiB must not wrap round to the block's start.
  const std::uint64_t start = std::uint64_t{ds::kSpiEntry0} + Read32(block + ds::kSpiEntry0OffsetName);
  std::u16string name;
  for (std::uint64_t at = start; at + 1 < size; at += 2) {
    const auto unit = static_cast<char16_t>(block[at] | block[at + 1] << 8);
    if (unit == 0) return name;
    name.push_back(unit);
  }
  return std::nullopt;  // no terminator inside the block
}

std::u16string SecPagePath(const std::u16string& name) { return u"LDAP://" + name; }

std::optional<std::vector<std::uint8_t>> RelayoutSecPageInfoFor50(const std::uint8_t* block, std::size_t size) {
  // A request is a few hundred bytes; a size near the top of the range is no request.
  constexpr std::size_t kLargest = std::size_t{1} << 30;
  if (!block || size < ds::kSecPageInfo50FixedSize || size > kLargest) return std::nullopt;
  std::vector<std::uint8_t> out(size + 8, 0);
  std::copy(block, block + size, out.begin() + 8);
  const std::uint32_t title = Read32(out.data() + ds::kSpiOffsetTitle) + 8;
  for (std::size_t i = 0; i < 4; ++i) out[ds::kSpiOffsetTitle + i] = static_cast<std::uint8_t>(title >> (8 * i));
  return out;
}

std::uint64_t SecPageParentSheet(const std::uint8_t* block) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < 8; ++i) value |= std::uint64_t{block[i]} << (8 * i);
  return value;
}

}  // namespace quorvel
