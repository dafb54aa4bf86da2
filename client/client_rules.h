// The client's rules that need no Windows: the command lines, the refusals, the
// reading of an exit code, the record of the creation job and whether it belongs
// to this run. Text is UTF-16; the Win32 side converts at its boundary.
#pragma once

#include "quorvel_client.h"

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

CommandLine PropertySheetLine(std::u16string_view helperPath, std::u16string_view adsPath);
CommandLine CreateWizardLine(std::u16string_view helperPath, std::u16string_view containerDN, int type);

// What an exit code means. A wizard's 0 comes back as Created: whether its names
// are known is decided by the record (JudgeRecord).
struct Reading {
  Result result;
  std::int32_t code;
  std::u16string reason;
};
Reading ReadSheetExit(std::uint32_t exitCode);
Reading ReadWizardExit(std::uint32_t exitCode);

// "0x8007203A": eight upper-case hex digits.
std::u16string Hex(std::uint32_t value);
// Why the helper could not be started, from CreateProcessW's last error.
std::u16string StartFailureReason(std::u16string_view helperPath, std::uint32_t win32Error);

inline constexpr std::size_t kRecordBytes = 680;
struct Names {
  std::u16string distinguishedName, name, samAccountName;
};
// The three fields of a record of at least kRecordBytes bytes: each up to its first
// zero unit, or its whole width; a field of zeros is empty.
Names DecodeRecord(const std::vector<std::uint8_t>& record);

// The clipboard as seen before the start and after the end of one wizard run: its
// sequence number and the record format's bytes (nullopt when there were none).
struct ClipboardState {
  std::uint32_t sequence = 0;
  std::optional<std::vector<std::uint8_t>> record;
};
// After an exit 0: the record is this run's only when the clipboard changed and
// holds a whole record unlike the one before, naming something. Then its names;
// otherwise the reason it is not.
struct Judgement {
  bool accepted;
  std::u16string reason;
  Names names;
};
Judgement JudgeRecord(const ClipboardState& before, const ClipboardState& after);

}  // namespace quorvel::client::rules
