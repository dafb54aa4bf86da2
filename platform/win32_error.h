// One spelling of "Win32 error to HRESULT", for both builds.
#pragma once

#include "platform/wintypes.h"

#include <cstdint>

namespace quorvel {

// HRESULT_FROM_WIN32's meaning: 0 stays 0 (S_OK), a code that already reads as an
// HRESULT (top bit set) passes through, and any other keeps only its low 16 bits
// under the Win32 facility.
constexpr HRESULT HResultFromWin32(std::uint32_t error) {
  if (static_cast<HRESULT>(error) <= 0) return static_cast<HRESULT>(error);
  return static_cast<HRESULT>((error & 0xFFFFu) | 0x80070000u);
}

}  // namespace quorvel
