// qvlaunch PROGRAM [TAIL]: starts PROGRAM with TAIL passed on verbatim, waits for it
// and prints its full 32-bit exit status, which a Linux exit status would cut to 8 bits.
// qvlaunch --owner CAPTION: prints the owner of the top-level window titled CAPTION
// (0x00000000 for none), which the X side does not show.
// qvlaunch --wow64 NAME: for each running process of that file name, a line "NAME wow64=1"
// when it runs under WoW64, "NAME wow64=0" when natively; nothing when none runs.
#include "app/dispatch.h"
#include "platform/win/unique_handle.h"

#include <tlhelp32.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>

int wmain() {
  const wchar_t* line = ::GetCommandLineW();
  const std::u16string_view whole(reinterpret_cast<const char16_t*>(line), std::wcslen(line));
  const std::u16string_view rest = quorvel::CommandTailFrom(whole);
  constexpr std::u16string_view kOwner = u"--owner ";
  if (rest.substr(0, kOwner.size()) == kOwner) {
    const std::wstring caption(reinterpret_cast<const wchar_t*>(rest.data()) + kOwner.size(), rest.size() - kOwner.size());
    const HWND window = ::FindWindowW(nullptr, caption.c_str());
    if (!window) return 2;
    const auto owner = reinterpret_cast<std::uintptr_t>(::GetWindow(window, GW_OWNER));
    std::printf("0x%08llX\n", static_cast<unsigned long long>(owner));
    return 0;
  }
  constexpr std::u16string_view kWow64 = u"--wow64 ";
  if (rest.substr(0, kWow64.size()) == kWow64) {
    const std::wstring name(reinterpret_cast<const wchar_t*>(rest.data()) + kWow64.size(), rest.size() - kWow64.size());
    const quorvel::UniqueKernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
      if (_wcsicmp(entry.szExeFile, name.c_str()) != 0) continue;
      const quorvel::UniqueKernelHandle process(
          ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
      BOOL wow64 = FALSE;
      if (!process.get() || !::IsWow64Process(process.get(), &wow64)) return 2;
      std::printf("%ls wow64=%d\n", name.c_str(), wow64 ? 1 : 0);
    }
    return 0;
  }
  if (rest.empty()) {
    std::fputs("usage: qvlaunch PROGRAM [ARGUMENTS]\n", stderr);
    return 2;
  }
  // The child's own command line: the program token as written, then the rest as it stands.
  std::wstring child(reinterpret_cast<const wchar_t*>(rest.data()), rest.size());
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(nullptr, child.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    std::fprintf(stderr, "qvlaunch: CreateProcessW failed, error %lu\n", ::GetLastError());
    return 2;
  }
  const quorvel::UniqueKernelHandle process(pi.hProcess);
  const quorvel::UniqueKernelHandle thread(pi.hThread);
  ::WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 0;
  if (!::GetExitCodeProcess(process.get(), &code)) return 2;
  std::printf("0x%08lX\n", static_cast<unsigned long>(code));
  std::fflush(stdout);
  return 0;
}
