// The Win32 side of finding quorvel.exe: the module names, the install record and
// each candidate's first bytes; locate_rules decides.
#include "locate_rules.h"
#include "run_win.h"

namespace quorvel::client {
namespace {

std::u16string ModulePath(HMODULE module) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) return U16(std::wstring_view(path).substr(0, n));
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

// The module this code was linked into: the console's .exe, its snap-in DLL, or quorvel_client.dll.
HMODULE ClientModule() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ClientModule), &module);
  return module;
}

locate::Record ReadRecord() {
  locate::Record record;
  HKEY key = nullptr;
  const std::wstring name = Wide(locate::kInstallKey);
  const std::wstring value = Wide(locate::kInstallValue);
  // The 64-bit view: a 32-bit process would otherwise read WOW6432Node, where the
  // installer of a 64-bit program writes nothing.
  LSTATUS status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, name.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key);
  if (status != ERROR_SUCCESS) {
    record.error = static_cast<std::uint32_t>(status);
    return record;
  }
  DWORD type = 0, size = 0;
  status = ::RegQueryValueExW(key, value.c_str(), nullptr, &type, nullptr, &size);
  std::wstring text;
  if (status == ERROR_SUCCESS && type == REG_SZ) {
    text.resize(size / sizeof(wchar_t) + 1);
    size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    status = ::RegQueryValueExW(key, value.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size);
    // The stored value need not end in a zero.
    text.resize(size / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
  }
  ::RegCloseKey(key);
  record.error = static_cast<std::uint32_t>(status);
  record.notText = status == ERROR_SUCCESS && type != REG_SZ;
  record.folder = U16(text);
  return record;
}

locate::Probe Look(const locate::Candidate& candidate) {
  locate::Probe probe{candidate, true, 0, {}};
  // The very file a start would run, which under WoW64 is not the one this path reads.
  const std::wstring path = NativeHelperPath(Wide(candidate.path));
  const Handle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    probe.openError = ::GetLastError();
    return probe;
  }
  std::vector<std::uint8_t> head(locate::kHeadBytes);
  DWORD read = 0;
  if (!::ReadFile(file.get(), head.data(), static_cast<DWORD>(head.size()), &read, nullptr)) read = 0;
  head.resize(read);
  probe.missing = false;
  probe.refusal = locate::ImageRefusal(head);
  return probe;
}

}  // namespace

Location LocateHelper() {
  const locate::Record record = ReadRecord();
  std::vector<locate::Probe> probes;
  for (const locate::Candidate& candidate : locate::Candidates(ModulePath(nullptr), ModulePath(ClientModule()), record))
    probes.push_back(Look(candidate));
  const locate::Found found = locate::Decide(probes, record);
  return {std::wstring(found.path.begin(), found.path.end()), std::wstring(found.reason.begin(), found.reason.end())};
}

}  // namespace quorvel::client
