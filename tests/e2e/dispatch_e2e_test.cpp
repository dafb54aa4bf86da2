// quorvel.exe as the console starts it: a command line in, a 32-bit exit status out.
// Only roads that need no directory behind them.
#include "platform/win/com_ptr.h"
#include "platform/win/unique_handle.h"

#include <activeds.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cwctype>
#include <string>
#include <vector>

namespace quorvel {
namespace {

std::wstring QuorvelExe() {
  const wchar_t* path = _wgetenv(L"QUORVEL_EXE");
  return path ? path : L"";
}

// Starts `commandLine` as given (the program token included) and returns its exit code.
DWORD RunToExit(std::wstring commandLine) {
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &si, &pi)) {
    ADD_FAILURE() << "CreateProcessW failed, error " << ::GetLastError();
    return 0xFFFFFFFF;
  }
  const UniqueKernelHandle process(pi.hProcess);
  const UniqueKernelHandle thread(pi.hThread);
  EXPECT_EQ(::WaitForSingleObject(process.get(), 60000), WAIT_OBJECT_0);
  DWORD code = 0xFFFFFFFF;
  EXPECT_TRUE(::GetExitCodeProcess(process.get(), &code));
  return code;
}

DWORD RunQuorvel(const std::wstring& tail) {
  std::wstring line = L"\"" + QuorvelExe() + L"\"";
  if (!tail.empty()) line += L" " + tail;
  return RunToExit(line);
}

// What the platform's own bind gives for a path, asked in this process.
DWORD PlatformBindResult(const wchar_t* path) {
  const ComApartment apartment;
  ComPtr<IADs> object;
  const HRESULT hr = ::ADsGetObject(path, IID_IADs, object.put_void());
  return static_cast<DWORD>(hr);
}

class QuorvelExit : public testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(QuorvelExe().empty()) << "QUORVEL_EXE is not set"; }
};

TEST_F(QuorvelExit, FailedBindEndsWithThePlatformsHresult) {
  // Two paths whose binds fail differently with no directory behind them: no provider
  // claims the first prefix, the LDAP provider refuses the second path's form.
  const std::wstring unclaimed = L"QVNOSUCH://CN=a";
  const std::wstring malformed = L"LDAP:x";
  const DWORD noProvider = PlatformBindResult(unclaimed.c_str());
  const DWORD refused = PlatformBindResult(malformed.c_str());
  ASSERT_GE(noProvider, 0x80000000u) << "the platform bound a path it should not know";
  ASSERT_GE(refused, 0x80000000u) << "the platform bound a path it should not know";
  struct Row {
    int line;
    std::wstring tail;
    DWORD status;
    DWORD misread;  // what the tail would end with if read the wrong way the row names
  };
  const std::vector<Row> rows = {
      // The status is the bind's own, not one failure for all.
      {__LINE__, L"/adproppage:" + unclaimed, noProvider, refused},
      {__LINE__, L"/adproppage:" + malformed, refused, noProvider},
      // The argument is not trimmed: the blank in front belongs to the path.
      {__LINE__, L"/adproppage: " + malformed, PlatformBindResult((L" " + malformed).c_str()), refused},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << "row at line " << r.line);
    ASSERT_NE(r.status, r.misread) << "this row cannot tell the two readings apart";
    EXPECT_EQ(RunQuorvel(r.tail), r.status);
  }
}

TEST_F(QuorvelExit, ProgramNameWithBlanksInQuotes) {
  // The console may install us under a folder with blanks; the quoted name must not leak into the tail.
  wchar_t temp[MAX_PATH];
  ASSERT_NE(::GetTempPathW(MAX_PATH, temp), 0u);
  const std::wstring folder = std::wstring(temp) + L"quorvel e2e folder";
  ::CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring copy = folder + L"\\quorvel copy.exe";
  ASSERT_TRUE(::CopyFileW(QuorvelExe().c_str(), copy.c_str(), FALSE)) << ::GetLastError();
  EXPECT_EQ(RunToExit(L"\"" + copy + L"\" /adcreateobjwiz:"), 87u);
  EXPECT_EQ(RunToExit(L"\"" + copy + L"\""), 0u);
  // Any control character ends the name outside quotes, and none inside them.
  EXPECT_EQ(RunToExit(L"\"" + copy + L"\"\x01\x1f/adcreateobjwiz:"), 87u);
  EXPECT_EQ(RunToExit(L"\"" + copy + L"\"/adcreateobjwiz:"), 0u);
  ::DeleteFileW(copy.c_str());
  ::RemoveDirectoryW(folder.c_str());
}

// The longest command line a process can be given (32,767 units with its
// terminator), a 10,000-unit ADsPath, and text that is not well-formed UTF-16 (a
// lone surrogate of either kind, first, inside or last) in a path and in a
// container's DN, each carried to the stand-in directory, which knows none of these
// objects: the bind's HRESULT comes back unchanged, 87 where the wizard's second
// field is missing. slapd refuses a DN of more than 8 KiB, and any DN whose domain
// component is not ASCII, as invalid syntax rather than as unknown.
TEST_F(QuorvelExit, InputAtTheProcessBoundary) {
  constexpr DWORD kNoSuchObject = 0x80072030;
  constexpr DWORD kInvalidDnSyntax = 0x80072032;
  const std::wstring staff = L",OU=Staff,DC=example,DC=com";
  const std::wstring domain = L",DC=example,DC=com";
  const std::size_t program = QuorvelExe().size() + 3;  // the quoted name and one blank
  // HEAD, then units of filler, then REST: a tail that fills the command line to the limit.
  const auto filled = [&](const std::wstring& head, const std::wstring& rest) {
    return head + std::wstring(32766 - program - head.size() - rest.size(), L'q') + rest;
  };
  const std::wstring longPath = L"LDAP://CN=" + std::wstring(10000 - 10 - staff.size(), L'p') + staff;
  struct Case {
    int line;
    std::wstring tail;
    DWORD status;
  };
  const std::vector<Case> cases = {
      {__LINE__, filled(L"/adproppage:LDAP://CN=", staff), kInvalidDnSyntax},
      {__LINE__, filled(L"/adcreateobjwiz:OU=", domain + L"|0"), kInvalidDnSyntax},
      {__LINE__, filled(L"/adcreateobjwiz:OU=Nowhere" + domain + L"|0|", L""), kNoSuchObject},
      {__LINE__, filled(L"/adcreateobjwiz:", L""), 87},
      {__LINE__, L"/adproppage:" + longPath, kInvalidDnSyntax},
      {__LINE__, L"/adproppage:LDAP://CN=Nobody \xD83D\xDE00" + staff, kNoSuchObject},
      {__LINE__, L"/adproppage:LDAP://CN=\xDE00Nobody \xD83D" + staff, kNoSuchObject},
      {__LINE__, L"/adproppage:LDAP://CN=Nobody" + staff + L"\xD83D", kInvalidDnSyntax},
      {__LINE__, L"/adcreateobjwiz:OU=\xD83D\xDE00" + domain + L"|0", kNoSuchObject},
      {__LINE__, L"/adcreateobjwiz:OU=\xDE00x\xD83D" + domain + L"|0|\xD83D", kNoSuchObject},
  };
  ASSERT_EQ(program + cases[0].tail.size() + 1, 32767u);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "row at line " << c.line);
    EXPECT_EQ(RunQuorvel(c.tail), c.status);
  }
}

// The loader builds the process's activation context from the manifest before the
// program runs; a manifest it rejects stops the program from starting on Windows.
// Built here the same way, it must send comctl32 to the 64-bit version 6 assembly.
// (Wine's DllGetVersion answers 5 even there, so the module's place is what counts.)
TEST_F(QuorvelExit, ManifestLeadsTheLoaderToTheVersionSixCommonControls) {
  const std::wstring exe = QuorvelExe();
  ACTCTXW request{};
  request.cbSize = sizeof(request);
  request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
  request.lpSource = exe.c_str();
  request.lpResourceName = MAKEINTRESOURCEW(1);
  HANDLE context = ::CreateActCtxW(&request);
  ASSERT_NE(context, INVALID_HANDLE_VALUE) << "error " << ::GetLastError();
  ULONG_PTR cookie = 0;
  ASSERT_TRUE(::ActivateActCtx(context, &cookie));
  HMODULE controls = ::LoadLibraryW(L"comctl32.dll");
  ASSERT_NE(controls, nullptr);
  wchar_t path[MAX_PATH] = {};
  ASSERT_NE(::GetModuleFileNameW(controls, path, MAX_PATH), 0u);
  std::wstring lower(path);
  for (wchar_t& c : lower) c = static_cast<wchar_t>(::towlower(c));
  EXPECT_NE(lower.find(L"\\amd64_microsoft.windows.common-controls_6595b64144ccf1df_6.0."), std::wstring::npos)
      << lower;
  ::FreeLibrary(controls);
  ::DeactivateActCtx(0, cookie);
  ::ReleaseActCtx(context);
}

}  // namespace
}  // namespace quorvel
