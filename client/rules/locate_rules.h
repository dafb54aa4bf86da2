// Where a console finds quorvel.exe, and why it did not: the decisions that need no
// Windows. The Win32 side (quorvel_locate_win.cpp) reads the folders, the install
// record and the first bytes of each file, and hands them here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::client::locate {

inline constexpr std::u16string_view kHelperName = u"quorvel.exe";
// What the installer writes, in the 64-bit view of the registry.
inline constexpr std::u16string_view kInstallKey = u"SOFTWARE\\Quorvel";
inline constexpr std::u16string_view kInstallValue = u"InstallDir";
// The PE headers of any program the linkers make lie well within this.
inline constexpr std::size_t kHeadBytes = 4096;

enum class Place { BesideProgram, BesideClient, Installed };

struct Candidate {
  Place place;
  std::u16string path;
};

// The folder of a file, with its trailing backslash; empty when the path has none.
std::u16string FolderOf(std::u16string_view path);
// A folder and a file name, with or without the folder's trailing backslash.
std::u16string Join(std::u16string_view folder, std::u16string_view file);

// The install record as read: its folder, or the Win32 error of reading it
// (ERROR_FILE_NOT_FOUND when there is none), or that it is not text.
struct Record {
  std::u16string folder;
  std::uint32_t error = 0;
  bool notText = false;  // not REG_SZ: a REG_EXPAND_SZ would be expanded in the caller's
                         // redirected view (%ProgramFiles% of a 32-bit process)
};
// A folder that does not depend on the current drive or folder: "X:\" or "\\".
bool Absolute(std::u16string_view folder);

// Where to look, in order: beside the process's program; beside the module that
// holds the client (a DLL, a snap-in) when that is another folder; the installed
// folder, when the record names an absolute one. An empty path leaves its place out.
std::vector<Candidate> Candidates(std::u16string_view programPath, std::u16string_view clientModulePath,
                                  const Record& record);

// Why the first bytes of a file are not a 64-bit Windows program; empty when they are.
std::u16string ImageRefusal(const std::vector<std::uint8_t>& head);

// What was found at one candidate: no file (missing, with the Win32 error of opening
// it), or a file and its refusal (empty when accepted).
struct Probe {
  Candidate candidate;
  bool missing = true;
  std::uint32_t openError = 0;
  std::u16string refusal;
};

struct Found {
  std::u16string path;    // empty when not found
  std::u16string reason;  // where it was found, or why it was not
};
// The first accepted probe; otherwise every place looked at, and why each failed.
Found Decide(const std::vector<Probe>& probes, const Record& record);

}  // namespace quorvel::client::locate
