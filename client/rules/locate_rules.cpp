#include "locate_rules.h"

#include "client_rules.h"

namespace quorvel::client::locate {
namespace {

using rules::Hex;

std::uint32_t Little(const std::vector<std::uint8_t>& bytes, std::size_t at, int size) {
  std::uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = value << 8 | bytes[at + static_cast<std::size_t>(i)];
  return value;
}

std::u16string MachineName(std::uint32_t machine) {
  switch (machine) {
    case 0x014C: return u"x86";
    case 0xAA64: return u"ARM64";
    case 0x01C4: return u"ARM";
    case 0x0200: return u"Itanium";
    default: return u"an unknown machine";
  }
}

std::u16string ErrorText(std::uint32_t win32Error) { return Hex(rules::HResultOfFailedCall(win32Error)); }

constexpr std::uint32_t kFileNotFound = 2, kPathNotFound = 3;

std::u16string RecordName() {
  return u"HKLM\\" + std::u16string(kInstallKey) + u" " + std::u16string(kInstallValue) + u" (64-bit view)";
}

std::u16string PlaceName(Place place) {
  switch (place) {
    case Place::BesideProgram: return u"beside the console's program";
    case Place::BesideClient: return u"beside the client's module";
    case Place::Installed: return u"in the installed folder";
  }
  return {};
}

}  // namespace

std::u16string FolderOf(std::u16string_view path) {
  const std::size_t slash = path.find_last_of(u"\\/");
  return slash == std::u16string_view::npos ? std::u16string() : std::u16string(path.substr(0, slash + 1));
}

std::u16string Join(std::u16string_view folder, std::u16string_view file) {
  std::u16string path(folder);
  if (!path.empty() && path.back() != u'\\' && path.back() != u'/') path += u'\\';
  return path.append(file);
}

bool Absolute(std::u16string_view folder) {
  const bool drive = folder.size() >= 3 && ((folder[0] | 0x20) >= u'a' && (folder[0] | 0x20) <= u'z') &&
                     folder[1] == u':' && (folder[2] == u'\\' || folder[2] == u'/');
  return drive || (folder.size() > 2 && folder.substr(0, 2) == u"\\\\");
}

std::vector<Candidate> Candidates(std::u16string_view programPath, std::u16string_view clientModulePath,
                                  const Record& record) {
  std::vector<Candidate> candidates;
  const std::u16string program = FolderOf(programPath), client = FolderOf(clientModulePath);
  if (!program.empty()) candidates.push_back({Place::BesideProgram, program + std::u16string(kHelperName)});
  // A folder differs in case only when it is the same folder: Windows' names ignore case.
  if (!client.empty() && !rules::SameIgnoringAsciiCase(client, program))
    candidates.push_back({Place::BesideClient, client + std::u16string(kHelperName)});
  if (record.error == 0 && !record.notText && Absolute(record.folder))
    candidates.push_back({Place::Installed, Join(record.folder, kHelperName)});
  return candidates;
}

std::u16string ImageRefusal(const std::vector<std::uint8_t>& head) {
  if (head.size() < 64 || head[0] != 'M' || head[1] != 'Z') return u"is not a Windows program (no MZ header)";
  const std::uint32_t pe = Little(head, 0x3C, 4);
  // Signature, file header (20 bytes) and the optional header's magic.
  if (pe > head.size() || head.size() - pe < 4 + 20 + 2)
    return u"is not a Windows program (no PE header in its first 4096 bytes)";
  if (head[pe] != 'P' || head[pe + 1] != 'E' || head[pe + 2] != 0 || head[pe + 3] != 0)
    return u"is not a Windows program (no PE signature)";
  const std::uint32_t machine = Little(head, pe + 4, 2), characteristics = Little(head, pe + 4 + 18, 2);
  if (machine != 0x8664)
    return u"is a program for " + MachineName(machine) + u" (machine " + Hex(machine, 4) +
           u"), not x86-64";
  const std::uint32_t magic = Little(head, pe + 24, 2);
  if (Little(head, pe + 4 + 16, 2) < 2 || magic != 0x20B)
    return u"is not a 64-bit image (optional header " + Hex(magic, 4) + u", not PE32+)";
  if (characteristics & 0x2000) return u"is a DLL, not a program";
  if (!(characteristics & 0x0002)) return u"is not marked executable";
  return {};
}

Found Decide(const std::vector<Probe>& probes, const Record& record) {
  std::u16string looked;
  bool installedLooked = false;
  for (const Probe& probe : probes) {
    if (!probe.missing && probe.refusal.empty())
      return {probe.candidate.path, u"quorvel.exe was found " + PlaceName(probe.candidate.place) +
                                        (probe.candidate.place == Place::Installed ? u", " + RecordName() : u"") +
                                        u": " + probe.candidate.path + u"."};
    installedLooked = installedLooked || probe.candidate.place == Place::Installed;
    looked += looked.empty() ? u"" : u"; ";
    if (!probe.missing) {
      looked += probe.candidate.path + u" " + probe.refusal;
    } else if (probe.openError == kFileNotFound || probe.openError == kPathNotFound) {
      looked += u"none " + PlaceName(probe.candidate.place) + u" (" + FolderOf(probe.candidate.path) + u")";
    } else {
      looked += probe.candidate.path + u" could not be read (" + ErrorText(probe.openError) + u")";
    }
  }
  if (!installedLooked) {
    looked += looked.empty() ? u"" : u"; ";
    if (record.notText)
      looked += RecordName() + u" is not a REG_SZ value";
    else if (record.error == kFileNotFound)
      looked += u"no install record " + RecordName();
    else if (record.error == 0 && record.folder.empty())
      looked += RecordName() + u" is empty";
    else if (record.error == 0)
      looked += RecordName() + u" is not an absolute folder: " + record.folder;
    else
      looked += RecordName() + u" could not be read (" + ErrorText(record.error) + u")";
  }
  return {{}, u"quorvel.exe was not found: " + looked + u"."};
}

}  // namespace quorvel::client::locate
