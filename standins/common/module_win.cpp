// The exports of every stand-in DLL. Compiled into each DLL itself, not taken from
// a library, so that the runtime's default DllMain never stands in for this one.
#include "standins/common/class_factory_win.h"
#include "standins/common/module_win.h"

namespace quorvel::standins {
namespace {
HINSTANCE g_module = nullptr;
}

HINSTANCE ModuleInstance() { return g_module; }

}  // namespace quorvel::standins

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) quorvel::standins::g_module = instance;
  if (reason == DLL_PROCESS_DETACH) quorvel::standins::WriteLedger(quorvel::standins::kModuleName);
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return quorvel::standins::GetModuleClassFactory(clsid, iid, out);
}

STDAPI DllCanUnloadNow() {
  const quorvel::standins::Ledger& l = quorvel::standins::TheLedger();
  return (l.objects.load() == 0 && l.locks.load() == 0) ? S_OK : S_FALSE;
}

}  // extern "C"
