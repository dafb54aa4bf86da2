// The C++ client through the package: locate quorvel.exe, then a run the client
// refuses before any start (no directory needed), and the C interface's DLL beside.
#include <quorvel_client.h>

#include <cstdio>

int main() {
  const quorvel::client::Location location = quorvel::client::LocateHelper();
  std::printf("located: %s\n", location.path.empty() ? "no" : "yes");
  const quorvel::client::Outcome outcome =
      quorvel::client::RunCreateWizard(L"C:\\quorvel.exe", L"OU=a|b,DC=example,DC=com", quorvel::client::ObjectType::User);
  std::printf("outcome: %d 0x%08lX\n", static_cast<int>(outcome.result), static_cast<unsigned long>(outcome.code));
  const HMODULE dll = ::LoadLibraryW(L"quorvel_client.dll");
  std::printf("dll: %s\n", dll && ::GetProcAddress(dll, "QuorvelLocate") ? "loaded" : "missing");
  return 0;
}
