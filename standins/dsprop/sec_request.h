// The request a page sends for the sheet of another object: a DSA_SEC_PAGE_INFO
// block laid out as the platform's pages lay it out, or, for tests of the
// receiver, one of the malformed blocks that a faulty page could send.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace quorvel::standins {

enum class RequestFault {
  kNone,
  kNameAtEnd,       // offsetName points just past the block's last byte
  kNoTerminator,    // the block ends with the name's last code unit
  kOddOffset,       // offsetName one byte past the name
  kShortBlock,      // 47 bytes: one short of the fixed part
  kWrappingOffset,  // 32 + offsetName wraps round to byte 16 in 32-bit arithmetic
  kNoBlock,         // WPARAM 0
  kStaleParent,     // well formed, but hwndParentSheet names a window that is gone
};

// The faults to play, one per request, from a comma-separated list of
// name-at-end, no-terminator, odd-offset, short, wrap, null, stale-parent. Nothing for a list
// with a word it does not know, so a typing error in a test cannot pass for a
// well-formed request.
std::optional<std::vector<RequestFault>> ParseRequestFaults(std::u16string_view list);

// The bytes of the block: the fixed 48 bytes, then the title, the name and the
// class, each zero-terminated. offsetTitle counts from the block's start;
// offsetName and offsetClass count from the start of entry 0 (byte 32), as the
// receiver reads them. Empty for kNoBlock. For kStaleParent the caller passes
// the stale handle: the bytes are those of a well-formed request.
std::vector<std::uint8_t> BuildSecPageRequest(std::uint64_t parentSheet, std::u16string_view title,
                                              std::u16string_view name, std::u16string_view objectClass,
                                              RequestFault fault = RequestFault::kNone);

}  // namespace quorvel::standins
