#include "util/delimited_field.h"

#include "platform/last_error.h"

namespace quorvel {
namespace {

constexpr std::uint32_t kSuccess = 0;
constexpr std::uint32_t kInvalidParameter = 87;

std::u16string Fail() {
  SetLastErrorCode(kInvalidParameter);
  return {};
}

std::u16string Succeed(std::u16string_view field) {
  std::u16string result(field);
  SetLastErrorCode(kSuccess);
  return result;
}

std::u16string SeparatedField(std::u16string_view source, char16_t separator,
                              std::int32_t index) {
  if (index <= 0) return Succeed({});
  std::size_t start = 0;
  // Skip index - 1 separators; the scan stops at the one that ends the field.
  for (std::int32_t skipped = 1; skipped < index; ++skipped) {
    const std::size_t next = source.find(separator, start);
    if (next == std::u16string_view::npos) return Fail();
    start = next + 1;
  }
  std::size_t end = source.find(separator, start);
  if (end == std::u16string_view::npos) end = source.size();
  return Succeed(source.substr(start, end - start));
}

std::u16string BracketedField(std::u16string_view source, char16_t open, char16_t close,
                              std::int32_t index) {
  if (open == close) return Fail();
  std::size_t start = 0;
  for (std::int32_t seen = 0; seen < index; ++seen) {
    const std::size_t at = source.find(open, start);
    if (at == std::u16string_view::npos) return Fail();
    start = at + 1;
  }
  if (start >= source.size()) return Succeed({});
  std::size_t end = source.find(close, start);
  // An unclosed field ends just before the text's last character; no caller
  // depends on this form, and the established behaviour is kept.
  if (end == std::u16string_view::npos) end = source.size() - 1;
  return Succeed(source.substr(start, end - start));
}

}  // namespace

std::u16string GetDelimitedField(std::u16string_view source, std::u16string_view delimiter,
                                 std::int32_t index) {
  if (source.empty() || delimiter.empty()) return Fail();
  if (delimiter.size() == 1) return SeparatedField(source, delimiter[0], index);
  return BracketedField(source, delimiter[0], delimiter[1], index);
}

}  // namespace quorvel
