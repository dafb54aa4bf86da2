// The command line's one job and the exit status it ends with. Pure text rules;
// the jobs themselves are injected.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel {

inline constexpr std::u16string_view kPropPageSwitch = u"/adproppage:";
inline constexpr std::u16string_view kCreateWizardSwitch = u"/adcreateobjwiz:";
inline constexpr std::int32_t kExitInvalidParameter = 87;

// The command line without the program's name and the blanks after it. The name
// ends at the first character of code 32 or less outside double quotes.
std::u16string_view CommandTailFrom(std::u16string_view commandLine);

// Field 2 of the creation argument as wcstol with base 10 reads it into 32 bits,
// in ASCII: leading white space, one sign, the digits 0 to 9; no digits gives 0,
// overflow the limit.
std::int32_t ParseDecimalInt32(std::u16string_view text);

struct PropertySheetOutcome {
  std::int32_t bindResult = 0;  // HRESULT of binding the object
  bool changed = false;         // a page reported a change or an apply
};

class CommandJobs {
 public:
  virtual PropertySheetOutcome ShowPropertySheet(const std::u16string& adsPath) = 0;
  virtual std::int32_t RunCreateObjectWizard(const std::u16string& containerDN,
                                             std::int32_t objectType,
                                             const std::u16string& thirdArgument) = 0;

 protected:
  ~CommandJobs() = default;
};

// Finds the switch, cuts its argument, runs the job and returns the exit status.
std::int32_t DispatchCommand(std::u16string_view tail, CommandJobs& jobs);

}  // namespace quorvel
