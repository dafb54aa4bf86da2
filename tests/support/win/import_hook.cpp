#include "support/win/import_hook.h"

#include <cstring>

namespace quorvel::test {
namespace {

template <typename T>
T* At(HMODULE module, DWORD rva) {
  return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(module) + rva);
}

void Write(ULONG_PTR* slot, ULONG_PTR value) {
  DWORD old = 0;
  if (!::VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &old)) return;
  *slot = value;
  ::VirtualProtect(slot, sizeof(*slot), old, &old);
}

LocalBlockLedger* g_ledger = nullptr;
using LocalAllocFn = HLOCAL(WINAPI*)(UINT, SIZE_T);
using LocalFreeFn = HLOCAL(WINAPI*)(HLOCAL);

template <typename Fn>
Fn Real(const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), name)));
}

}  // namespace

const void* ImportedAddress(const wchar_t* dll, const char* function) {
  const HMODULE module = ::GetModuleHandleW(dll);
  return module ? reinterpret_cast<const void*>(::GetProcAddress(module, function)) : nullptr;
}

ScopedImportHook::ScopedImportHook(const void* original, const void* replacement)
    : original_(reinterpret_cast<ULONG_PTR>(original)) {
  if (!original) return;
  const HMODULE self = ::GetModuleHandleW(nullptr);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(self);
  const auto* nt = At<const IMAGE_NT_HEADERS>(self, static_cast<DWORD>(dos->e_lfanew));
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (!dir.VirtualAddress) return;
  for (auto* d = At<const IMAGE_IMPORT_DESCRIPTOR>(self, dir.VirtualAddress); d->Name; ++d) {
    for (auto* slot = At<ULONG_PTR>(self, d->FirstThunk); *slot; ++slot) {
      if (*slot != original_) continue;
      Write(slot, reinterpret_cast<ULONG_PTR>(replacement));
      slots_.push_back(slot);
    }
  }
}

ScopedImportHook::~ScopedImportHook() {
  for (ULONG_PTR* slot : slots_) Write(slot, original_);
}

LocalBlockLedger::LocalBlockLedger()
    : alloc_(ImportedAddress(L"kernel32.dll", "LocalAlloc"), reinterpret_cast<const void*>(CountingAlloc)),
      free_(ImportedAddress(L"kernel32.dll", "LocalFree"), reinterpret_cast<const void*>(CountingFree)) {
  g_ledger = this;
}

LocalBlockLedger::~LocalBlockLedger() { g_ledger = nullptr; }

HLOCAL WINAPI LocalBlockLedger::CountingAlloc(UINT flags, SIZE_T bytes) {
  static const auto real = Real<LocalAllocFn>("LocalAlloc");
  const HLOCAL block = real(flags, bytes);
  if (block && g_ledger) g_ledger->blocks_.push_back({block, 0});
  return block;
}

HLOCAL WINAPI LocalBlockLedger::CountingFree(HLOCAL block) {
  static const auto real = Real<LocalFreeFn>("LocalFree");
  if (block && g_ledger) {
    for (auto it = g_ledger->blocks_.rbegin(); it != g_ledger->blocks_.rend(); ++it) {
      if (it->handle != block) continue;
      if (++it->frees > 1) return block;  // already freed: report, do not pass on
      break;
    }
  }
  return real(block);
}

int LocalBlockLedger::FreesOf(HLOCAL block) const {
  for (auto it = blocks_.rbegin(); it != blocks_.rend(); ++it)
    if (it->handle == block) return it->frees;
  return -1;
}

std::vector<HLOCAL> LocalBlockLedger::Allocated() const {
  std::vector<HLOCAL> out;
  for (const Block& b : blocks_) out.push_back(b.handle);
  return out;
}

int LocalBlockLedger::Live() const {
  int live = 0;
  for (const Block& b : blocks_) live += b.frees == 0 ? 1 : 0;
  return live;
}

}  // namespace quorvel::test
