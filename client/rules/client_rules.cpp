#include "client_rules.h"

#include "locate_rules.h"

#include <algorithm>
#include <iterator>

namespace quorvel::client::rules {
namespace {

std::u16string Ascii(const char* text) { return std::u16string(text, text + std::char_traits<char>::length(text)); }

bool HasZero(std::u16string_view text) { return text.find(char16_t{0}) != std::u16string_view::npos; }

}  // namespace

std::u16string HelperPathRefusal(std::u16string_view helperPath) {
  if (helperPath.empty()) return u"The path of quorvel.exe is empty.";
  if (HasZero(helperPath)) return u"The path of quorvel.exe holds a zero unit.";
  // The path is quoted on the line, and a quote cannot be quoted there.
  if (helperPath.find(u'"') != std::u16string_view::npos) return u"The path of quorvel.exe holds a double quote.";
  // CreateProcessW would resolve it against the current folder, wherever a file
  // dialog last left it.
  if (!locate::Absolute(helperPath))
    return u"The path of quorvel.exe is not absolute; give it with its drive (C:\\...) or as \\\\server\\share\\....";
  return {};
}

namespace {

CommandLine Finish(std::u16string_view helperPath, std::u16string_view tail) {
  CommandLine line;
  line.text.reserve(helperPath.size() + tail.size() + 3);
  line.text.append(u"\"").append(helperPath).append(u"\" ").append(tail);
  if (line.text.size() > kMaxCommandLineUnits) {
    line.refusal = u"The command line would be " + Ascii(std::to_string(line.text.size()).c_str()) +
                   u" units long; Windows takes at most 32,766 and its terminating zero.";
    line.text.clear();
  }
  return line;
}

CommandLine Refused(std::u16string reason) { return {{}, std::move(reason)}; }

bool StartsWithLdapScheme(std::u16string_view dn) {
  static constexpr std::u16string_view scheme = u"ldap://";
  return SameIgnoringAsciiCase(dn.substr(0, scheme.size()), scheme);
}

std::u16string Field(const std::vector<std::uint8_t>& record, std::size_t offset, std::size_t units) {
  std::u16string text;
  for (std::size_t i = 0; i < units; ++i) {
    const auto unit = static_cast<char16_t>(record[offset + 2 * i] | (record[offset + 2 * i + 1] << 8));
    if (unit == 0) break;
    text += unit;
  }
  return text;
}

}  // namespace

CommandLine PropertySheetLine(std::u16string_view helperPath, std::u16string_view adsPath) {
  if (auto refusal = HelperPathRefusal(helperPath); !refusal.empty()) return Refused(std::move(refusal));
  if (adsPath.empty()) return Refused(u"The object's path is empty.");
  if (HasZero(adsPath)) return Refused(u"The object's path holds a zero unit.");
  std::u16string tail = u"/adproppage:";
  tail.append(adsPath);
  return Finish(helperPath, tail);
}

CommandLine CreateWizardLine(std::u16string_view helperPath, std::u16string_view containerDN, int type,
                             std::u16string_view identity) {
  if (auto refusal = HelperPathRefusal(helperPath); !refusal.empty()) return Refused(std::move(refusal));
  if (containerDN.empty()) return Refused(u"The container's distinguished name is empty.");
  if (HasZero(containerDN)) return Refused(u"The container's distinguished name holds a zero unit.");
  if (containerDN.find(u'|') != std::u16string_view::npos)
    return Refused(u"The container's distinguished name holds a \"|\", which quorvel.exe reads as a field separator.");
  // quorvel.exe puts LDAP:// in front itself; a second one names no object.
  if (StartsWithLdapScheme(containerDN))
    return Refused(u"The container is given as a path; give its distinguished name without \"LDAP://\".");
  // quorvel.exe looks for the sheet's switch first, anywhere on the line: it would
  // show a property sheet, whose exit code would then be read as the wizard's.
  if (containerDN.find(u"/adproppage:") != std::u16string_view::npos)
    return Refused(u"The container's distinguished name holds \"/adproppage:\", which quorvel.exe would take for "
                   u"the property sheet's switch.");
  if (type < 0 || type > 2)
    return Refused(u"The object type " + Ascii(std::to_string(type).c_str()) +
                   u" is none of 0 (user), 1 (group), 2 (computer).");
  std::u16string tail = u"/adcreateobjwiz:";
  tail.append(containerDN).append(u"|").push_back(static_cast<char16_t>(u'0' + type));
  if (!identity.empty()) tail.append(u"|").append(identity);
  return Finish(helperPath, tail);
}

std::u16string IdentityText(const std::uint8_t (&random)[kIdentityBytes]) {
  static constexpr char16_t digits[] = u"0123456789ABCDEF";
  std::u16string text;
  text.reserve(2 * kIdentityBytes);
  for (const std::uint8_t byte : random) {
    text += digits[byte >> 4];
    text += digits[byte & 0xF];
  }
  return text;
}

std::u16string Hex(std::uint32_t value, int digits) {
  std::u16string text = u"0x";
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) text += u"0123456789ABCDEF"[(value >> shift) & 0xF];
  return text;
}

bool SameIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
  const auto fold = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char16_t x, char16_t y) { return fold(x) == fold(y); });
}

namespace {

constexpr std::int32_t kUnexpected = static_cast<std::int32_t>(0x8000FFFFu);  // E_UNEXPECTED
constexpr std::int32_t kFail = static_cast<std::int32_t>(0x80004005u);        // E_FAIL

// A process that crashed ends with its exception's code, an NTSTATUS; quorvel.exe
// itself ends with 0, 1, 87 or an HRESULT, and since the C++ runtime's terminate
// handler ends it with STATUS_FATAL_APP_EXIT. Told apart, as well as can be known:
// - bit 0x10000000 set: an HRESULT made from an NTSTATUS (HRESULT_FROM_NT,
//   0xD0000022), since an NTSTATUS keeps that bit clear;
// - else bit 0x40000000 set: an NTSTATUS of the error or the information class
//   (0xC0000005, 0xC0000409, 0x40000015, 0xE06D7363), which no HRESULT sets;
// - else one of the warnings the system raises as exceptions (guard page, misalignment,
//   breakpoint, single step, long jump, unwind consolidation); their neighbours in
//   0x80000000-0x80000FFF are COM's (E_PENDING 0x8000000A, E_BOUNDS 0x8000000B);
// - 3: abort(), with which a quorvel.exe older than the terminate handler ended.
bool EndedAbnormally(std::uint32_t exitCode) {
  static constexpr std::uint32_t kRaisedWarnings[] = {0x80000001u, 0x80000002u, 0x80000003u,
                                                      0x80000004u, 0x80000026u, 0x80000029u};
  if ((exitCode & 0x10000000u) != 0) return false;
  if ((exitCode & 0x40000000u) != 0 || exitCode == 3) return true;
  return std::find(std::begin(kRaisedWarnings), std::end(kRaisedWarnings), exitCode) != std::end(kRaisedWarnings);
}

Reading Abnormal(std::uint32_t exitCode) {
  const auto code = static_cast<std::int32_t>(exitCode);
  return {Result::Error, code < 0 ? code : kFail, u"quorvel.exe ended abnormally (" + Hex(exitCode) + u")."};
}

}  // namespace

Reading ReadSheetExit(std::uint32_t exitCode) {
  const auto code = static_cast<std::int32_t>(exitCode);
  if (EndedAbnormally(exitCode)) return Abnormal(exitCode);
  if (exitCode == 0) return {Result::Unchanged, code, u"The properties were closed without a change."};
  if (exitCode == 1) return {Result::Changed, code, u"The properties were changed."};
  if (code < 0) return {Result::BindFailed, code, u"The object could not be opened (" + Hex(exitCode) + u")."};
  return {Result::Error, kUnexpected, u"quorvel.exe ended with an unexpected status (" + Hex(exitCode) + u")."};
}

Reading ReadWizardExit(std::uint32_t exitCode) {
  const auto code = static_cast<std::int32_t>(exitCode);
  if (EndedAbnormally(exitCode)) return Abnormal(exitCode);
  switch (exitCode) {
    case 0: return {Result::Created, code, u"The object was created."};
    case 1: return {Result::Cancelled, code, u"The creation was cancelled."};
    case 0x57:
      return {Result::Refused, kInvalidArg, u"quorvel.exe refused the creation argument (exit status 0x00000057)."};
    case 0x80004002u: return {Result::Failed, code, u"The creation wizard is not available (0x80004002)."};
    case 0x80072030u: return {Result::Failed, code, u"The container does not exist (0x80072030)."};
    default: break;
  }
  // Only 0 means created: a success code of the wizard's own published nothing.
  if (code > 0)
    return {Result::Failed, kUnexpected,
            u"The wizard ended with " + Hex(exitCode) + u"; nothing is known to be created."};
  return {Result::Failed, code, u"The object could not be created (" + Hex(exitCode) + u")."};
}

std::u16string SysnativePath(std::u16string_view path, std::u16string_view systemDir, std::u16string_view windowsDir) {
  static constexpr std::u16string_view kLongPrefix = u"\\\\?\\";
  const std::u16string_view prefix = path.substr(0, kLongPrefix.size()) == kLongPrefix ? kLongPrefix : u"";
  const std::u16string_view rest = path.substr(prefix.size());
  const bool under = !systemDir.empty() && rest.size() > systemDir.size() && rest[systemDir.size()] == u'\\' &&
                     SameIgnoringAsciiCase(rest.substr(0, systemDir.size()), systemDir);
  if (!under) return std::u16string(path);
  return std::u16string(prefix) + std::u16string(windowsDir) + u"\\Sysnative" +
         std::u16string(rest.substr(systemDir.size()));
}

std::u16string StartFailureReason(std::u16string_view helperPath, std::uint32_t win32Error) {
  const std::u16string path = u"\"" + std::u16string(helperPath) + u"\"";
  if (win32Error == 2 || win32Error == 3) return u"quorvel.exe was not found at " + path + u".";
  return u"quorvel.exe could not be started from " + path + u" (error " +
         Ascii(std::to_string(win32Error).c_str()) + u").";
}

Names DecodeRecord(const std::vector<std::uint8_t>& record) {
  if (record.size() < kRecordBytes) return {};
  return {Field(record, 0, 260), Field(record, 520, 64), Field(record, 648, 16)};
}

Judgement JudgeRunRecord(const std::optional<std::vector<std::uint8_t>>& runRecord, std::u16string_view identity) {
  if (!runRecord) return {false, u"no record naming its run is on the clipboard", {}};
  const std::vector<std::uint8_t>& bytes = *runRecord;
  // The identity runs from the record's end to its zero unit, which must be there.
  std::u16string published;
  bool ended = false;
  for (std::size_t at = kRecordBytes; at + 1 < bytes.size() && !ended; at += 2) {
    const auto unit = static_cast<char16_t>(bytes[at] | (bytes[at + 1] << 8));
    ended = unit == 0;
    if (!ended) published += unit;
  }
  if (!ended) return {false, u"the record naming its run on the clipboard is cut short", {}};
  if (identity.empty() || published != identity) return {false, u"the record on the clipboard is another run's", {}};
  Names names = DecodeRecord(bytes);
  if (names.distinguishedName.empty() && names.name.empty() && names.samAccountName.empty())
    return {false, u"the record names nothing", {}};
  return {true, {}, std::move(names)};
}

}  // namespace quorvel::client::rules
