// The client's rules that need no Windows: the command lines, the refusals, the
// reading of an exit code, a run's identity, the record of the creation job and
// whether it belongs to this run. Text is UTF-16; the Win32 side converts at its boundary.
#pragma once

#include "quorvel_client_types.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::client::rules {

// CreateProcessW takes at most 32,767 units, its terminating zero included.
inline constexpr std::size_t kMaxCommandLineUnits = 32766;
inline constexpr std::int32_t kInvalidArg = static_cast<std::int32_t>(0x80070057u);

// A command line, or why there is none (then text is empty).
struct CommandLine {
  std::u16string text;
  std::u16string refusal;
};

// Why the path of quorvel.exe cannot be started as given (empty, a zero unit, a
// quote, not absolute); empty when it can.
std::u16string HelperPathRefusal(std::u16string_view helperPath);

CommandLine PropertySheetLine(std::u16string_view helperPath, std::u16string_view adsPath);
// `identity` goes in the third field; empty leaves the field out.
CommandLine CreateWizardLine(std::u16string_view helperPath, std::u16string_view containerDN, int type,
                             std::u16string_view identity);

// A run's identity: its random bytes as upper-case hex digits, two a byte.
inline constexpr std::size_t kIdentityBytes = 16;
std::u16string IdentityText(const std::uint8_t (&random)[kIdentityBytes]);

// What an exit code means. A wizard's 0 comes back as Created: whether its names
// are known is decided by the record (JudgeRunRecord). For every failure, code is
// a failure HRESULT; the reason gives the exit status as it was.
struct Reading {
  Result result;
  std::int32_t code;
  std::u16string reason;
};
Reading ReadSheetExit(std::uint32_t exitCode);
Reading ReadWizardExit(std::uint32_t exitCode);

// HRESULT_FROM_WIN32's meaning (codes above 0xFFFF masked, an HRESULT passes), with
// one deliberate exception: a call that failed yet left a last error of 0 did not
// succeed, so E_FAIL.
constexpr std::uint32_t HResultOfFailedCall(std::uint32_t win32Error) {
  if (win32Error == 0) return 0x80004005u;
  return (win32Error & 0x80000000u) != 0 ? win32Error : (win32Error & 0xFFFFu) | 0x80070000u;
}
static_assert(HResultOfFailedCall(0) == 0x80004005u && HResultOfFailedCall(5) == 0x80070005u &&
              HResultOfFailedCall(0x100005u) == 0x80070005u && HResultOfFailedCall(0x80004002u) == 0x80004002u);

// "0x8007203A": upper-case hex digits, eight unless another count is asked for.
std::u16string Hex(std::uint32_t value, int digits = 8);
// Whether two texts are equal with A-Z and a-z taken as one, as Windows compares
// a path's folder names and a scheme's name.
bool SameIgnoringAsciiCase(std::u16string_view a, std::u16string_view b);
// A 32-bit process's System32 leads to SysWOW64, and quorvel.exe is a 64-bit program:
// the System32 a console names can only be the 64-bit one, which a 32-bit process
// reaches as Sysnative. The path with a leading systemDir (ASCII case folded, followed
// by a backslash, after a "\\?\" prefix, which stays) put as windowsDir\Sysnative; any
// other path unchanged. The path is a full one (GetFullPathNameW's): "/" and ".." are
// resolved before.
std::u16string SysnativePath(std::u16string_view path, std::u16string_view systemDir, std::u16string_view windowsDir);
// Why the helper could not be started, from CreateProcessW's last error.
std::u16string StartFailureReason(std::u16string_view helperPath, std::uint32_t win32Error);

inline constexpr std::size_t kRecordBytes = 680;
struct Names {
  std::u16string distinguishedName, name, samAccountName;
};
// The three fields of a record of at least kRecordBytes bytes: each up to its first
// zero unit, or its whole width; a field of zeros is empty.
Names DecodeRecord(const std::vector<std::uint8_t>& record);

// The bytes under the run's format, as read from the clipboard (nullopt when there
// were none): the record, then the identity of the run that published it, ended by
// a zero unit. They are this run's only when that identity is `identity`. Then the
// names; otherwise the reason they are not.
struct Judgement {
  bool accepted;
  std::u16string reason;
  Names names;
};
Judgement JudgeRunRecord(const std::optional<std::vector<std::uint8_t>>& runRecord, std::u16string_view identity);

}  // namespace quorvel::client::rules
