// Numbered fields of a delimited text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel {

// Field `index` (from 1) of `source`. A one-character delimiter separates fields;
// a longer one brackets them, its first character opening and its second closing
// a field. Reports through the thread's last-error code: 0 when the field exists,
// ERROR_INVALID_PARAMETER (87) with empty text when it does not.
std::u16string GetDelimitedField(std::u16string_view source, std::u16string_view delimiter,
                                 std::int32_t index);

}  // namespace quorvel
