// The creation wizard job.
#pragma once

#include "platform/wintypes.h"

#include <cstdint>

namespace quorvel {

// Runs the platform's creation wizard for a new object of `objectType` in the
// container `containerDN`; returns the outcome as an HRESULT.
HRESULT RunCreateObjectWizard(const wchar_t* containerDN, std::int32_t objectType,
                              const wchar_t* thirdArgument);

}  // namespace quorvel
