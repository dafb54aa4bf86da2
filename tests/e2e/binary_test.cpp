// What a loader and an administrator see of quorvel.exe without running it: the
// PE header flags, the imports, the manifest, the icons and the version resource;
// and the header flags and imports of the sample console in both its bitnesses.
#include "platform/wintypes.h"
#include "res/resource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace quorvel {
namespace {

std::wstring QuorvelExe() {
  const wchar_t* path = _wgetenv(L"QUORVEL_EXE");
  return path ? path : L"";
}

class PeImage {
 public:
  explicit PeImage(const std::wstring& path) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart < (1 << 28)) {
      bytes_.resize(static_cast<std::size_t>(size.QuadPart));
      DWORD read = 0;
      if (!::ReadFile(file, bytes_.data(), static_cast<DWORD>(bytes_.size()), &read, nullptr) ||
          read != bytes_.size())
        bytes_.clear();
    }
    ::CloseHandle(file);
  }
  bool Valid() const {
    if (bytes_.size() < sizeof(IMAGE_DOS_HEADER)) return false;
    const auto* dos = At<IMAGE_DOS_HEADER>(0);
    return dos && dos->e_magic == IMAGE_DOS_SIGNATURE && Nt() && Nt()->Signature == IMAGE_NT_SIGNATURE;
  }
  const IMAGE_NT_HEADERS64* Nt() const {
    return At<IMAGE_NT_HEADERS64>(static_cast<std::size_t>(At<IMAGE_DOS_HEADER>(0)->e_lfanew));
  }
  // The header fields that PE32 and PE32+ keep at the same offsets are read
  // through Nt(); the data directories move, and come from here.
  IMAGE_DATA_DIRECTORY Directory(int index) const {
    if (Nt()->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) return Nt()->OptionalHeader.DataDirectory[index];
    const auto* nt32 = At<IMAGE_NT_HEADERS32>(static_cast<std::size_t>(At<IMAGE_DOS_HEADER>(0)->e_lfanew));
    return nt32 ? nt32->OptionalHeader.DataDirectory[index] : IMAGE_DATA_DIRECTORY{};
  }
  // Names of the DLLs in the import directory, lower-cased.
  std::vector<std::string> ImportedDlls() const {
    std::vector<std::string> names;
    const IMAGE_DATA_DIRECTORY dir = Directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
    for (DWORD rva = dir.VirtualAddress; rva != 0; rva += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
      const auto* desc = At<IMAGE_IMPORT_DESCRIPTOR>(FileOffset(rva));
      if (!desc || desc->Name == 0) break;
      const char* name = At<char>(FileOffset(desc->Name));
      if (!name) break;
      std::string lower(name, strnlen(name, bytes_.size() - FileOffset(desc->Name)));
      std::transform(lower.begin(), lower.end(), lower.begin(),
                     [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
      names.push_back(lower);
    }
    return names;
  }
  // The load configuration's size field and DependentLoadFlags (byte 78), when the
  // image has a load configuration large enough to hold the flags.
  bool DependentLoadFlags(WORD& flags) const {
    const IMAGE_DATA_DIRECTORY dir = Directory(IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG);
    if (dir.VirtualAddress == 0 || dir.Size < 80) return false;
    const std::size_t at = FileOffset(dir.VirtualAddress);
    const auto* size = At<DWORD>(at);
    if (!size || *size != dir.Size || !At<BYTE[80]>(at)) return false;
    std::memcpy(&flags, bytes_.data() + at + 78, sizeof flags);
    return true;
  }

 private:
  template <typename T>
  const T* At(std::size_t offset) const {
    if (offset == kBad || offset > bytes_.size() || bytes_.size() - offset < sizeof(T)) return nullptr;
    return reinterpret_cast<const T*>(bytes_.data() + offset);
  }
  static constexpr std::size_t kBad = static_cast<std::size_t>(-1);
  std::size_t FileOffset(DWORD rva) const {
    const IMAGE_NT_HEADERS64* nt = Nt();
    const auto* section = reinterpret_cast<const IMAGE_SECTION_HEADER*>(
        reinterpret_cast<const BYTE*>(&nt->OptionalHeader) + nt->FileHeader.SizeOfOptionalHeader);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
      if (rva >= section->VirtualAddress && rva < section->VirtualAddress + section->SizeOfRawData)
        return rva - section->VirtualAddress + section->PointerToRawData;
    }
    return kBad;
  }
  std::vector<char> bytes_;
};

// Imported DLLs are looked for in the system folder only: a DLL of the same name
// beside the program or in the current folder is never loaded.
TEST(QuorvelBinary, DependentLoadFlagLimitsImportsToTheSystemFolder) {
  const PeImage image(QuorvelExe());
  ASSERT_TRUE(image.Valid());
  WORD flags = 0;
  ASSERT_TRUE(image.DependentLoadFlags(flags)) << "no load configuration";
  EXPECT_EQ(flags, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

void ExpectOnlyPlatformDlls(const PeImage& image) {
  const std::vector<std::string> dlls = image.ImportedDlls();
  ASSERT_FALSE(dlls.empty());
  const std::vector<std::string> platform = {
      "kernel32.dll", "user32.dll", "gdi32.dll", "ole32.dll", "oleaut32.dll", "comctl32.dll",
      "activeds.dll", "msvcrt.dll", "advapi32.dll", "shell32.dll", "shlwapi.dll", "bcrypt.dll"};
  for (const std::string& dll : dlls) {
    const bool known = std::find(platform.begin(), platform.end(), dll) != platform.end() ||
                       dll.rfind("api-ms-win-", 0) == 0;
    EXPECT_TRUE(known) << dll << " is not a platform DLL";
  }
}

// quorvel.exe, and the console's x86 build and the client's DLLs, checked here even
// where Wine cannot run them.
TEST(Binaries, GuiProgramsAndDllsOfTheirBitnessWithAslrAndNxAndPlatformDllsOnly) {
  struct Row {
    int line;
    const wchar_t* variable;
    WORD machine, magic;
    bool highEntropy, dll;
  };
  const Row rows[] = {
      {__LINE__, L"QUORVEL_EXE", IMAGE_FILE_MACHINE_AMD64, IMAGE_NT_OPTIONAL_HDR64_MAGIC, true, false},
      {__LINE__, L"QUORVEL_CONSOLE_X86", IMAGE_FILE_MACHINE_I386, IMAGE_NT_OPTIONAL_HDR32_MAGIC, false, false},
      {__LINE__, L"QUORVEL_CONSOLE_X64", IMAGE_FILE_MACHINE_AMD64, IMAGE_NT_OPTIONAL_HDR64_MAGIC, true, false},
      {__LINE__, L"QUORVEL_CLIENT_DLL_X86", IMAGE_FILE_MACHINE_I386, IMAGE_NT_OPTIONAL_HDR32_MAGIC, false, true},
      {__LINE__, L"QUORVEL_CLIENT_DLL_X64", IMAGE_FILE_MACHINE_AMD64, IMAGE_NT_OPTIONAL_HDR64_MAGIC, true, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "row of line " << row.line);
    const wchar_t* path = _wgetenv(row.variable);
    ASSERT_NE(path, nullptr);
    const PeImage image(path);
    ASSERT_TRUE(image.Valid()) << "cannot read " << testing::PrintToString(std::wstring(path));
    const IMAGE_NT_HEADERS64* nt = image.Nt();
    EXPECT_EQ(nt->FileHeader.Machine, row.machine);
    EXPECT_EQ(nt->OptionalHeader.Magic, row.magic);
    EXPECT_EQ((nt->FileHeader.Characteristics & IMAGE_FILE_DLL) != 0, row.dll);
    if (!row.dll) {
      EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
    }
    const WORD flags = nt->OptionalHeader.DllCharacteristics;
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE);
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_NX_COMPAT);
    EXPECT_EQ((flags & IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA) != 0, row.highEntropy);
    // ASLR needs the relocations to be kept.
    EXPECT_FALSE(nt->FileHeader.Characteristics & IMAGE_FILE_RELOCS_STRIPPED);
    ExpectOnlyPlatformDlls(image);
  }
}

struct ModuleResources {
  HMODULE module = ::LoadLibraryExW(QuorvelExe().c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ~ModuleResources() {
    if (module) ::FreeLibrary(module);
  }
  std::string Bytes(const wchar_t* type, const wchar_t* name) const {
    HRSRC info = ::FindResourceW(module, name, type);
    if (!info) return {};
    HGLOBAL data = ::LoadResource(module, info);
    const void* p = data ? ::LockResource(data) : nullptr;
    return p ? std::string(static_cast<const char*>(p), ::SizeofResource(module, info)) : std::string();
  }
};

TEST(QuorvelBinary, ManifestAsksForCommonControlsSixAsInvokerAndDpiAware) {
  const ModuleResources res;
  ASSERT_NE(res.module, nullptr) << ::GetLastError();
  const std::string manifest = res.Bytes(MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1));
  ASSERT_FALSE(manifest.empty());
  // The dependency's own identity element: the program's identity names an
  // architecture and a version too.
  const std::size_t dependency = manifest.find("<dependentAssembly>");
  const std::size_t start = manifest.find("<assemblyIdentity", dependency);
  const std::size_t end = manifest.find("/>", start);
  ASSERT_LT(end, manifest.find("</dependentAssembly>", dependency)) << "no identity in the dependency";
  const std::string identity = manifest.substr(start, end - start);
  for (const char* needle : {"type=\"win32\"", "name=\"Microsoft.Windows.Common-Controls\"", "version=\"6.0.0.0\"",
                             "processorArchitecture=\"amd64\"", "publicKeyToken=\"6595b64144ccf1df\""}) {
    EXPECT_NE(identity.find(needle), std::string::npos) << needle << " in " << identity;
  }
  for (const char* needle : {"level=\"asInvoker\"", "uiAccess=\"false\"", ">true</dpiAware>"}) {
    EXPECT_NE(manifest.find(needle), std::string::npos) << needle;
  }
}

TEST(QuorvelBinary, CarriesBothIconsAtTwoSizes) {
  const ModuleResources res;
  ASSERT_NE(res.module, nullptr);
  for (const int id : {IDI_QUORVEL, IDI_SHEET}) {
    SCOPED_TRACE(id);
    const std::string group = res.Bytes(MAKEINTRESOURCEW(14), MAKEINTRESOURCEW(id));  // RT_GROUP_ICON
    ASSERT_GE(group.size(), 6u);
    WORD count = 0;
    std::memcpy(&count, group.data() + 4, sizeof(count));
    EXPECT_EQ(count, 2);
    HICON icon = static_cast<HICON>(::LoadImageW(res.module, MAKEINTRESOURCEW(id), IMAGE_ICON, 32, 32, 0));
    EXPECT_NE(icon, nullptr);
    if (icon) ::DestroyIcon(icon);
  }
}

// The version resources of quorvel.exe and of the client's DLLs, from the project's version.
TEST(QuorvelBinary, VersionResourcesNameTheProductAndItsVersion) {
  const wchar_t* version = _wgetenv(L"QUORVEL_VERSION_TEXT");
  ASSERT_NE(version, nullptr);
  struct Row {
    int line;
    std::wstring path, original;
    DWORD type;
  };
  auto env = [](const wchar_t* name) { return std::wstring(_wgetenv(name) ? _wgetenv(name) : L""); };
  const Row rows[] = {
      {__LINE__, QuorvelExe(), L"quorvel.exe", VFT_APP},
      {__LINE__, env(L"QUORVEL_CLIENT_DLL_X86"), L"quorvel_client.dll", VFT_DLL},
      {__LINE__, env(L"QUORVEL_CLIENT_DLL_X64"), L"quorvel_client.dll", VFT_DLL},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "row of line " << row.line);
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(row.path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(::GetFileVersionInfoW(row.path.c_str(), 0, size, block.data()));
    auto text = [&](const wchar_t* key) {
      void* value = nullptr;
      UINT length = 0;
      const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + key;
      if (!::VerQueryValueW(block.data(), query.c_str(), &value, &length) || !value) return std::wstring();
      return std::wstring(static_cast<const wchar_t*>(value));
    };
    EXPECT_EQ(text(L"ProductName"), L"Quorvel");
    EXPECT_EQ(text(L"OriginalFilename"), row.original);
    EXPECT_EQ(text(L"ProductVersion"), version);
    EXPECT_EQ(text(L"FileVersion"), version);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    const std::wstring fixedText = std::to_wstring(HIWORD(fixed->dwProductVersionMS)) + L"." +
                                   std::to_wstring(LOWORD(fixed->dwProductVersionMS)) + L"." +
                                   std::to_wstring(HIWORD(fixed->dwProductVersionLS)) + L"." +
                                   std::to_wstring(LOWORD(fixed->dwProductVersionLS));
    EXPECT_EQ(fixedText, version);
    EXPECT_EQ(fixed->dwFileType, row.type);
  }
}

// The manifest's own identity carries the same four parts as the version resource.
TEST(QuorvelBinary, ManifestIdentityCarriesTheProjectsVersion) {
  const wchar_t* version = _wgetenv(L"QUORVEL_VERSION_TEXT");
  ASSERT_NE(version, nullptr);
  const std::wstring four = version;
  const ModuleResources res;
  const std::string manifest = res.Bytes(MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1));
  const std::string identity = manifest.substr(0, manifest.find("<dependency>"));
  EXPECT_NE(identity.find("version=\"" + std::string(four.begin(), four.end()) + "\""), std::string::npos)
      << identity;
}

}  // namespace
}  // namespace quorvel
