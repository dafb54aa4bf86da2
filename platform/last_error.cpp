#include "platform/last_error.h"

#ifdef _WIN32
#include "platform/wintypes.h"
#endif

namespace quorvel {

#ifdef _WIN32
void SetLastErrorCode(std::uint32_t code) { ::SetLastError(code); }
std::uint32_t GetLastErrorCode() { return ::GetLastError(); }
#else
namespace {
thread_local std::uint32_t t_lastError = 0;
}
void SetLastErrorCode(std::uint32_t code) { t_lastError = code; }
std::uint32_t GetLastErrorCode() { return t_lastError; }
#endif

}  // namespace quorvel
