#include "app/dispatch.h"

#include "util/delimited_field.h"

#include <limits>

namespace quorvel {

std::u16string_view CommandTailFrom(std::u16string_view commandLine) {
  std::size_t i = 0;
  bool quoted = false;
  for (; i < commandLine.size(); ++i) {
    const char16_t c = commandLine[i];
    if (c == u'"') {
      quoted = !quoted;
    } else if (c <= u' ' && !quoted) {
      break;
    }
  }
  while (i < commandLine.size() && commandLine[i] <= u' ') ++i;
  return commandLine.substr(i);
}

std::int32_t ParseDecimalInt32(std::u16string_view text) {
  std::size_t i = 0;
  // ASCII white space and, below, ASCII digits only: the console sends ASCII. The
  // runtime's wcstol would also skip Unicode spaces and read other digits (U+FF12 as 2).
  while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  // Accumulate the magnitude, saturating one past the positive limit so that
  // -2147483648 is still exact.
  constexpr std::int64_t kCap = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    magnitude = magnitude * 10 + (text[i] - u'0');
    if (magnitude > kCap) magnitude = kCap;
  }
  if (negative) return static_cast<std::int32_t>(-magnitude);
  if (magnitude >= kCap) return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(magnitude);
}

std::int32_t DispatchCommand(std::u16string_view tail, CommandJobs& jobs) {
  if (tail.empty()) return 0;

  if (const std::size_t at = tail.find(kPropPageSwitch); at != std::u16string_view::npos) {
    const std::u16string argument(tail.substr(at + kPropPageSwitch.size()));
    if (argument.empty()) return 0;
    const PropertySheetOutcome outcome = jobs.ShowPropertySheet(argument);
    if (outcome.bindResult < 0) return outcome.bindResult;
    return outcome.changed ? 1 : 0;
  }

  const std::size_t at = tail.find(kCreateWizardSwitch);
  if (at == std::u16string_view::npos) return 0;
  const std::u16string_view argument = tail.substr(at + kCreateWizardSwitch.size());
  if (argument.empty()) return kExitInvalidParameter;
  // A missing field and an empty one are alike here; the last-error code is not read.
  const std::u16string container = GetDelimitedField(argument, u"|", 1);
  const std::u16string type = GetDelimitedField(argument, u"|", 2);
  const std::u16string third = GetDelimitedField(argument, u"|", 3);
  if (container.empty() || type.empty()) return kExitInvalidParameter;
  return jobs.RunCreateObjectWizard(container, ParseDecimalInt32(type), third);
}

}  // namespace quorvel
