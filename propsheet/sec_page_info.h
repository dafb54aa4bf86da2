// Byte rules of a page's request for the sheet of another object: whether the
// block can be read at all, where the object's name lies, and the layout that
// Windows 5.0 expects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvel {

// The name in a request block of `size` bytes, or nothing when the block does not
// hold the fixed part or the name and its terminator do not lie inside it.
std::optional<std::u16string> LocateSecPageName(const std::uint8_t* block, std::size_t size);

// "LDAP://" and the name, whatever the name begins with.
std::u16string SecPagePath(const std::u16string& name);

// The Windows 5.0 layout: 8 bytes larger, the received bytes from byte 8 on, and
// offsetTitle (the received first 32 bits) raised by 8. Nothing for a block that
// does not hold the fixed part of the 5.0 layout, which has no window handle.
std::optional<std::vector<std::uint8_t>> RelayoutSecPageInfoFor50(const std::uint8_t* block, std::size_t size);

std::uint64_t SecPageParentSheet(const std::uint8_t* block);

}  // namespace quorvel
