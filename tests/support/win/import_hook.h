// Counting the platform calls that the code under test makes, by pointing entries
// of this program's own import table elsewhere. Calls that the platform's DLLs
// make among themselves are not seen: only code linked into the test program.
#pragma once

#include "platform/wintypes.h"

#include <vector>

namespace quorvel::test {

// Every import table entry of this program that holds `original` holds
// `replacement` for the scope's lifetime.
class ScopedImportHook {
 public:
  ScopedImportHook(const void* original, const void* replacement);
  ScopedImportHook(const ScopedImportHook&) = delete;
  ScopedImportHook& operator=(const ScopedImportHook&) = delete;
  ~ScopedImportHook();
  // Entries changed; 0 means the program does not import the function.
  int patched() const { return static_cast<int>(slots_.size()); }

 private:
  std::vector<ULONG_PTR*> slots_;
  ULONG_PTR original_;
};

// The address that this program's imports of `function` from `dll` resolve to.
const void* ImportedAddress(const wchar_t* dll, const char* function);

// The local memory blocks that the program allocates and frees while it lives
// (one at a time). A second free of a block is counted and not passed on, so that
// the test reports it instead of the heap corrupting.
class LocalBlockLedger {
 public:
  LocalBlockLedger();
  LocalBlockLedger(const LocalBlockLedger&) = delete;
  LocalBlockLedger& operator=(const LocalBlockLedger&) = delete;
  ~LocalBlockLedger();

  bool hooked() const { return alloc_.patched() > 0 && free_.patched() > 0; }
  // Frees of the latest block at this address allocated while the ledger lives;
  // -1 for a block it never saw allocated.
  int FreesOf(HLOCAL block) const;
  // Blocks allocated while the ledger lives, in order.
  std::vector<HLOCAL> Allocated() const;
  // Blocks allocated and not freed.
  int Live() const;

 private:
  struct Block {
    HLOCAL handle;
    int frees;
  };
  static HLOCAL WINAPI CountingAlloc(UINT flags, SIZE_T bytes);
  static HLOCAL WINAPI CountingFree(HLOCAL block);
  std::vector<Block> blocks_;
  ScopedImportHook alloc_;
  ScopedImportHook free_;
};

}  // namespace quorvel::test
