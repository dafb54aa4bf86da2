#include "standins/common/ledger_win.h"

#include <cstdio>

namespace quorvel::standins {

Ledger& TheLedger() {
  static Ledger ledger;
  return ledger;
}

void AppendLedgerLine(const char* line, std::size_t length) {
  wchar_t path[MAX_PATH];
  const DWORD n = ::GetEnvironmentVariableW(L"QUORVEL_STANDIN_LEDGER", path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  // Raw kernel32 calls only: this also runs from DllMain at process detach.
  const HANDLE file = ::CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
  ::CloseHandle(file);
}

void WriteLedger(const wchar_t* module) {
  char line[256];
  char name[64];
  int i = 0;
  for (; module[i] && i < 63; ++i) name[i] = static_cast<char>(module[i]);
  name[i] = 0;
  const Ledger& l = TheLedger();
  const int len = std::snprintf(line, sizeof line, "%s pid=%lu objects=%ld references=%ld locks=%ld\n", name,
                                ::GetCurrentProcessId(), l.objects.load(), l.references.load(), l.locks.load());
  if (len > 0) AppendLedgerLine(line, static_cast<std::size_t>(len));
}

}  // namespace quorvel::standins

extern "C" void __stdcall QuorvelStandinOutstanding(long* objects, long* references, long* locks) {
  const auto& l = quorvel::standins::TheLedger();
  if (objects) *objects = l.objects.load();
  if (references) *references = l.references.load();
  if (locks) *locks = l.locks.load();
}
