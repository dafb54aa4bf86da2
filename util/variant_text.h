// Display text of automation values: an array as a braced list of quoted elements.
#pragma once

#include "platform/automation.h"

#include <string>
#include <vector>

namespace quorvel {

// Empty text for every value that yields no text; `value` is never changed.
// A platform string's text: up to its first zero unit; a null string is empty.
std::u16string BstrText(BSTR text);

std::u16string VariantToText(const VARIANT& value);

// The text of every element of a one-dimensional array, one entry an element. The
// status is that of the last element; an earlier failure shows as an empty entry.
HRESULT SafeArrayToTextList(SAFEARRAY* array, std::vector<std::u16string>& list);

}  // namespace quorvel
