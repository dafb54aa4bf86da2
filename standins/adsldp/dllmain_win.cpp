#include "standins/adsldp/provider_win.h"
#include "standins/common/class_factory_win.h"

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*) {
  if (reason == DLL_PROCESS_DETACH) quorvel::standins::WriteLedger(L"quorvel_adsldp");
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  return quorvel::standins::GetProviderFactory(clsid, iid, out);
}

STDAPI DllCanUnloadNow() { return quorvel::standins::CanUnloadNow(); }

}  // extern "C"
