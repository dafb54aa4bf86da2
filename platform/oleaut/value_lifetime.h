// What the value services share inside platform/oleaut/, for builds without Windows.
#pragma once

#include "platform/automation.h"

namespace quorvel::oleaut {

// DISP_E_BADVARTYPE for a type code no variant may carry, S_OK otherwise.
HRESULT ValidateVariantType(VARTYPE vt);

}  // namespace quorvel::oleaut
