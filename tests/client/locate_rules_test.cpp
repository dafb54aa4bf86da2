#include "locate_rules.h"

#include "support/text.h"

#include <gtest/gtest.h>

namespace quorvel::client::locate {
namespace {

// The headers of an image: MZ at 0, the PE header at `pe`, then the fields that matter.
std::vector<std::uint8_t> Image(std::uint16_t machine, std::uint16_t magic, std::uint16_t characteristics = 0x0022,
                                std::uint32_t pe = 0x80, std::size_t size = 0x200) {
  std::vector<std::uint8_t> bytes(size);
  auto put = [&](std::size_t at, std::uint32_t value, std::size_t n) {
    for (std::size_t i = 0; i < n && at + i < bytes.size(); ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> 8 * i);
  };
  put(0, 'M' | 'Z' << 8, 2);
  put(0x3C, pe, 4);
  put(pe, 'P' | 'E' << 8, 4);
  put(pe + 4, machine, 2);
  put(pe + 4 + 16, 0xF0, 2);  // SizeOfOptionalHeader
  put(pe + 4 + 18, characteristics, 2);
  put(pe + 24, magic, 2);
  return bytes;
}

TEST(LocateImage, OnlyAnX64ProgramIsTaken) {
  std::vector<std::uint8_t> noSignature = Image(0x8664, 0x20B);
  noSignature[0x81] = 'X';
  struct Row {
    int line;
    std::vector<std::uint8_t> head;
    std::u16string refusal;  // a part of it; empty: accepted
  } rows[] = {
      {__LINE__, Image(0x8664, 0x20B), {}},
      {__LINE__, Image(0x8664, 0x20B, 0x0022, 0xF00, 0x1000), {}},
      {__LINE__, Image(0x014C, 0x10B), u"for x86 (machine 0x014C), not x86-64"},
      {__LINE__, Image(0xAA64, 0x20B), u"for ARM64 (machine 0xAA64)"},
      {__LINE__, Image(0x8664, 0x10B), u"not a 64-bit image (optional header 0x010B"},
      {__LINE__, Image(0x8664, 0x20B, 0x2022), u"is a DLL"},
      {__LINE__, Image(0x8664, 0x20B, 0x0020), u"not marked executable"},
      {__LINE__, noSignature, u"no PE signature"},
      // The PE header beyond what was read, or the read cut short.
      {__LINE__, Image(0x8664, 0x20B, 0x0022, 0x1000, 0x1000), u"no PE header"},
      {__LINE__, Image(0x8664, 0x20B, 0x0022, 0xFFFFFFF0u), u"no PE header"},
      {__LINE__, Image(0x8664, 0x20B, 0x0022, 0x80, 0x80 + 25), u"no PE header"},
      {__LINE__, {'M', 'Z'}, u"no MZ header"},
      {__LINE__, std::vector<std::uint8_t>(0x200, 'x'), u"no MZ header"},
      {__LINE__, {}, u"no MZ header"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    const std::u16string got = ImageRefusal(row.head);
    EXPECT_EQ(got.empty(), row.refusal.empty()) << test::Printable(got);
    EXPECT_NE(got.find(row.refusal), std::u16string::npos) << test::Printable(got);
  }
}

Record R(std::u16string folder, std::uint32_t error = 0, bool notText = false) {
  Record record;
  record.folder = std::move(folder);
  record.error = error;
  record.notText = notText;
  return record;
}

TEST(LocateDecision, FirstAcceptedPlaceElseEveryPlaceAndWhy) {
  const std::u16string program = u"C:\\Tools\\Console\\console.exe", exeHelper = u"C:\\Tools\\Console\\quorvel.exe",
                       installed = u"C:\\Program Files\\Quorvel\\quorvel.exe";
  struct Look {
    bool missing;
    std::uint32_t error;
    std::u16string refusal;
  };
  const Look none{true, 2, {}}, x86{false, 0, u"is a program for x86"}, good{false, 0, {}}, denied{true, 5, {}};
  struct Row {
    int line;
    std::u16string client;  // the client's module
    Record record;
    std::vector<std::u16string> paths;  // where it looks, in order
    std::vector<Look> looks;            // what it finds there
    std::u16string found;
    std::u16string reason;  // a part of it
  } rows[] = {
      {__LINE__, program, R(u"C:\\Program Files\\Quorvel\\"), {exeHelper, installed}, {good, good}, exeHelper,
       u"found beside the console's program: C:\\Tools\\Console\\quorvel.exe."},
      // The record with or without its trailing backslash; a case-only difference is the same folder.
      {__LINE__, u"c:\\tools\\console\\QVC.dll", R(u"C:\\Program Files\\Quorvel"), {exeHelper, installed},
       {none, good}, installed, u"in the installed folder, HKLM\\SOFTWARE\\Quorvel InstallDir (64-bit view): C:"},
      {__LINE__, u"D:\\Snapin\\snapin.dll", R(u"C:\\Program Files\\Quorvel\\"),
       {exeHelper, u"D:\\Snapin\\quorvel.exe", installed}, {none, good, good}, u"D:\\Snapin\\quorvel.exe",
       u"beside the client's module"},
      // A wrong file is passed over, and named when nothing else is found.
      {__LINE__, program, R(u"C:\\Program Files\\Quorvel\\"), {exeHelper, installed}, {x86, good}, installed, u""},
      {__LINE__, program, R(u"C:\\Program Files\\Quorvel\\"), {exeHelper, installed}, {none, x86}, u"",
       u"not found: none beside the console's program (C:\\Tools\\Console\\); C:\\Program "
       u"Files\\Quorvel\\quorvel.exe is a program for x86."},
      {__LINE__, program, R(u"\\\\server\\share\\Q"), {exeHelper, u"\\\\server\\share\\Q\\quorvel.exe"},
       {none, denied}, u"", u"quorvel.exe could not be read (0x80070005)."},
      // Records that give no folder.
      {__LINE__, program, R(u"", 2), {exeHelper}, {none}, u"",
       u"; no install record HKLM\\SOFTWARE\\Quorvel InstallDir (64-bit view)."},
      {__LINE__, program, R(u"", 5), {exeHelper}, {none}, u"", u"(64-bit view) could not be read (0x80070005)."},
      {__LINE__, program, R(u"%ProgramFiles%\\Quorvel", 0, true), {exeHelper}, {none}, u"", u"is not a REG_SZ value."},
      {__LINE__, program, R(u""), {exeHelper}, {none}, u"", u"(64-bit view) is empty."},
      {__LINE__, program, R(u"Quorvel\\"), {exeHelper}, {none}, u"", u"is not an absolute folder: Quorvel\\."},
      {__LINE__, program, R(u"C:Quorvel"), {exeHelper}, {none}, u"", u"not an absolute folder"},
      {__LINE__, u"", R(u"", 2), {}, {}, u"", u"not found: no install record"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    const std::vector<Candidate> candidates = Candidates(row.client.empty() ? u"" : program, row.client, row.record);
    std::vector<std::u16string> paths;
    std::vector<Probe> probes;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
      paths.push_back(candidates[i].path);
      if (i < row.looks.size())
        probes.push_back({candidates[i], row.looks[i].missing, row.looks[i].error, row.looks[i].refusal});
    }
    EXPECT_EQ(paths, row.paths);
    const Found found = Decide(probes, row.record);
    EXPECT_EQ(test::Printable(found.path), test::Printable(row.found));
    EXPECT_NE(found.reason.find(row.reason), std::u16string::npos) << test::Printable(found.reason);
  }
}

}  // namespace
}  // namespace quorvel::client::locate
