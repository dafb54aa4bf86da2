#include "app/jobs_win.h"

#include "createwiz/runner_win.h"
#include "propsheet/ad_object_property_wnd.h"
#include "platform/win/com_ptr.h"

#include <string>

namespace quorvel {
namespace {
const wchar_t* Wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}
}  // namespace

PropertySheetOutcome WindowsJobs::ShowPropertySheet(const std::u16string& adsPath) {
  // The host starts at count 0; the owner takes the first reference at once.
  const auto host = ComPtr<CADObjectPropertyWnd>(new CADObjectPropertyWnd(instance_, ::GetDesktopWindow()));
  PropertySheetOutcome outcome;
  outcome.bindResult = host->SetObject(Wide(adsPath));
  if (outcome.bindResult >= 0) {
    host->Run();
    outcome.changed = host->ChangedFlag() != 0;
  }
  return outcome;
}

std::int32_t WindowsJobs::RunCreateObjectWizard(const std::u16string& containerDN,
                                                std::int32_t objectType,
                                                const std::u16string& thirdArgument) {
  return quorvel::RunCreateObjectWizard(Wide(containerDN), objectType, Wide(thirdArgument));
}

}  // namespace quorvel
