// The calling thread's last-error code: the platform's own on Windows, a
// thread-local value of the same meaning elsewhere.
#pragma once

#include <cstdint>

namespace quorvel {

void SetLastErrorCode(std::uint32_t code);
std::uint32_t GetLastErrorCode();

}  // namespace quorvel
