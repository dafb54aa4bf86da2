// What a stand-in DLL has handed out and not yet had back. Every COM object of
// the DLL counts itself while it lives, and every reference it holds; when the
// process lets the DLL go, the totals are appended to the file named by
// QUORVEL_STANDIN_LEDGER, so a test can see what a client forgot to release.
#pragma once

#include "platform/wintypes.h"

#include <atomic>
#include <cstddef>

namespace quorvel::standins {

struct Ledger {
  std::atomic<long> objects{0};
  std::atomic<long> references{0};
  std::atomic<long> locks{0};
};

Ledger& TheLedger();

// One line "<module> pid=<n> objects=<n> references=<n> locks=<n>" appended to the file.
void WriteLedger(const wchar_t* module);
// Any other line the tests should see there, such as a fault a stand-in detected.
void AppendLedgerLine(const char* line, std::size_t length);

// Base for every object of ours: counts itself and its references.
class Counted {
 public:
  Counted() { ++TheLedger().objects; }
  Counted(const Counted&) = delete;
  Counted& operator=(const Counted&) = delete;

 protected:
  ~Counted() { --TheLedger().objects; }
  ULONG AddRefCounted() {
    ++TheLedger().references;
    return static_cast<ULONG>(++refs_);
  }
  // True when the last reference went: the caller deletes itself.
  ULONG ReleaseCounted(bool& last) {
    --TheLedger().references;
    const long left = --refs_;
    last = left == 0;
    return static_cast<ULONG>(left);
  }

 private:
  std::atomic<long> refs_{0};
};

}  // namespace quorvel::standins

// Exported by every stand-in DLL for in-process tests: objects, references and
// server locks still outstanding.
extern "C" void __stdcall QuorvelStandinOutstanding(long* objects, long* references,
                                                                         long* locks);
