// The two jobs against the platform's components.
#pragma once

#include "app/dispatch.h"
#include "platform/wintypes.h"

namespace quorvel {

class WindowsJobs final : public CommandJobs {
 public:
  explicit WindowsJobs(HINSTANCE instance) : instance_(instance) {}
  PropertySheetOutcome ShowPropertySheet(const std::u16string& adsPath) override;
  std::int32_t RunCreateObjectWizard(const std::u16string& containerDN, std::int32_t objectType,
                                     const std::u16string& thirdArgument) override;

 private:
  HINSTANCE instance_;
};

}  // namespace quorvel
