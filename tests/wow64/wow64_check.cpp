// qvwow64_check CONTAINER_DN: what a 32-bit console sees differently under WoW64, each
// fact a line "ok WHAT" or "FAILED WHAT: detail"; exit 1 when one failed. quorvel.exe
// must be in the 64-bit System32 only (wow64_check.sh puts it there); CONTAINER_DN names
// no container, so that a quorvel.exe that starts ends with its own failure, no wizard.
#include "quorvel_client.h"

#include <shlobj.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace qc = quorvel::client;

namespace {

int failures;

void Expect(const wchar_t* what, bool ok, const std::wstring& detail) {
  if (ok)
    std::printf("ok %ls\n", what);
  else
    std::printf("FAILED %ls: %ls\n", what, detail.c_str()), ++failures;
}

std::wstring Env(const wchar_t* name) {
  wchar_t value[MAX_PATH] = L"";
  ::GetEnvironmentVariableW(name, value, MAX_PATH);
  return value;
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool EndsWith(std::wstring text, std::wstring tail) {
  for (auto* s : {&text, &tail})
    for (auto& c : *s) c = static_cast<wchar_t>(::towlower(c));
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

constexpr const wchar_t* kKey = L"SOFTWARE\\QuorvelWow64Check";

// The value "view" of `key` in the view that `flags` (0 or KEY_WOW64_64KEY) chooses.
std::wstring ReadView(const wchar_t* key, REGSAM flags) {
  HKEY handle;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | flags, &handle)) return L"(none)";
  wchar_t data[16] = L"";
  DWORD size = sizeof data - sizeof(wchar_t);
  const LSTATUS status = ::RegQueryValueExW(handle, L"view", nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
  ::RegCloseKey(handle);
  return status ? L"(none)" : data;
}

bool WriteView(REGSAM flags, const wchar_t* data) {
  HKEY key;
  if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_SET_VALUE | flags, nullptr, &key, nullptr))
    return false;
  const bool ok = !::RegSetValueExW(key, L"view", 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                                    static_cast<DWORD>((std::wcslen(data) + 1) * sizeof(wchar_t)));
  ::RegCloseKey(key);
  return ok;
}

std::wstring Describe(const qc::Outcome& outcome) {
  wchar_t code[16];
  std::swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(outcome.code));
  return L"result " + std::to_wstring(static_cast<int>(outcome.result)) + L" " + code + L": " + outcome.reason;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  BOOL wow64 = FALSE;
  Expect(L"this process runs under WoW64", ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64, L"FALSE");

  // The process is told "system32" and reaches SysWOW64 through it.
  wchar_t system[MAX_PATH], syswow64[MAX_PATH] = L"";
  ::GetSystemDirectoryW(system, MAX_PATH);
  ::GetSystemWow64DirectoryW(syswow64, MAX_PATH);
  Expect(L"GetSystemDirectory names system32", EndsWith(system, L"\\system32"), system);
  Expect(L"GetSystemWow64Directory names syswow64", EndsWith(syswow64, L"\\syswow64"), syswow64);
  Expect(L"PROCESSOR_ARCHITECTURE x86, PROCESSOR_ARCHITEW6432 AMD64",
         Env(L"PROCESSOR_ARCHITECTURE") == L"x86" && Env(L"PROCESSOR_ARCHITEW6432") == L"AMD64",
         Env(L"PROCESSOR_ARCHITECTURE") + L" " + Env(L"PROCESSOR_ARCHITEW6432"));

  const std::wstring windows = std::wstring(system).substr(0, std::wstring(system).rfind(L'\\'));
  const std::wstring inSystem32 = std::wstring(system) + L"\\quorvel.exe";
  const std::wstring inSysnative = windows + L"\\Sysnative\\quorvel.exe";
  Expect(L"system32\\quorvel.exe is not seen: system32 leads to syswow64", !Exists(inSystem32), inSystem32);
  Expect(L"Sysnative\\quorvel.exe is the 64-bit System32's", Exists(inSysnative), inSysnative);
  PVOID redirection = nullptr;
  const bool off = ::Wow64DisableWow64FsRedirection(&redirection);
  const bool seenOff = Exists(inSystem32);
  if (off) ::Wow64RevertWow64FsRedirection(redirection);
  Expect(L"with redirection off for the thread, system32\\quorvel.exe is seen", off && seenOff, inSystem32);
  Expect(L"redirection back on: system32 leads to syswow64 again", !Exists(inSystem32), inSystem32);

  // Program Files: the folder a 32-bit process is given is the x86 one; the 64-bit
  // install folder is only in ProgramW6432 (the folder itself is not redirected).
  wchar_t programs[MAX_PATH] = L"";
  ::SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, programs);
  Expect(L"%ProgramFiles% is Program Files (x86)", EndsWith(Env(L"ProgramFiles"), L"\\Program Files (x86)"),
         Env(L"ProgramFiles"));
  Expect(L"CSIDL_PROGRAM_FILES is Program Files (x86)", EndsWith(programs, L"\\Program Files (x86)"), programs);
  Expect(L"%ProgramW6432% is Program Files", EndsWith(Env(L"ProgramW6432"), L"\\Program Files"), Env(L"ProgramW6432"));
  Expect(L"%CommonProgramFiles% is the x86 one", EndsWith(Env(L"CommonProgramFiles"), L"\\Common Files") &&
                                                     Env(L"CommonProgramFiles").find(L"(x86)") != std::wstring::npos,
         Env(L"CommonProgramFiles"));

  // The registry: HKLM\SOFTWARE without KEY_WOW64_64KEY is the 32-bit view, WOW6432Node
  // of the 64-bit one. An install record written by a 64-bit installer is not found there.
  ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kKey, KEY_WOW64_64KEY, 0);
  ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kKey, KEY_WOW64_32KEY, 0);
  Expect(L"the key written in the 64-bit view", WriteView(KEY_WOW64_64KEY, L"64"), L"RegCreateKeyEx failed");
  Expect(L"HKLM\\SOFTWARE read without a flag does not see the 64-bit view", ReadView(kKey, 0) == L"(none)",
         ReadView(kKey, 0));
  Expect(L"the key written without a flag", WriteView(0, L"32"), L"RegCreateKeyEx failed");
  Expect(L"read without a flag: the 32-bit view", ReadView(kKey, 0) == L"32", ReadView(kKey, 0));
  Expect(L"read with KEY_WOW64_64KEY: the 64-bit view", ReadView(kKey, KEY_WOW64_64KEY) == L"64",
         ReadView(kKey, KEY_WOW64_64KEY));
  Expect(L"written without a flag, it is SOFTWARE\\WOW6432Node in the 64-bit view",
         ReadView(L"SOFTWARE\\WOW6432Node\\QuorvelWow64Check", KEY_WOW64_64KEY) == L"32",
         ReadView(L"SOFTWARE\\WOW6432Node\\QuorvelWow64Check", KEY_WOW64_64KEY));
  ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kKey, KEY_WOW64_64KEY, 0);
  ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kKey, KEY_WOW64_32KEY, 0);

  // The client given the helper's path in the 64-bit System32, as a 64-bit console would
  // spell it: it reaches it through Sysnative, not the SysWOW64 this process would see,
  // in every spelling that names that folder.
  std::wstring slashed = inSystem32, lowered = windows;
  for (auto& c : slashed) c = c == L'\\' ? L'/' : c;
  for (auto& c : lowered) c = static_cast<wchar_t>(::towlower(c));
  const struct {
    const wchar_t* what;
    std::wstring path;
  } spellings[] = {
      {L"system32\\quorvel.exe", inSystem32},
      {L"Sysnative\\quorvel.exe", inSysnative},
      {L"system32/quorvel.exe, forward slashes", slashed},
      {L"system32\\..\\System32\\quorvel.exe", std::wstring(system) + L"\\..\\System32\\quorvel.exe"},
      {L"c:\\windows\\SYSTEM32\\quorvel.exe, mixed case", lowered + L"\\SYSTEM32\\quorvel.exe"},
      // A literal path, which GetFullPathNameW leaves as it is.
      {L"\\\\?\\...\\system32\\quorvel.exe", L"\\\\?\\" + inSystem32},
  };
  for (const auto& spelling : spellings) {
    const qc::Outcome outcome = qc::RunCreateWizard(spelling.path, argv[1], qc::ObjectType::User);
    const std::wstring what =
        L"client, helper at " + std::wstring(spelling.what) + L": it runs and reports the missing container";
    Expect(what.c_str(), outcome.result == qc::Result::Failed && outcome.code == static_cast<HRESULT>(0x80072030),
           spelling.path + L": " + Describe(outcome));
  }
  std::printf("%d failed\n", failures);
  return failures ? 1 : 0;
}
