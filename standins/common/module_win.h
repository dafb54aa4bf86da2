// What each stand-in DLL tells the exports they share (module_win.cpp): its name
// in the ledger and the class factory of its one class.
#pragma once

#include "platform/wintypes.h"

#include <objbase.h>

namespace quorvel::standins {

extern const wchar_t kModuleName[];
HRESULT GetModuleClassFactory(REFCLSID clsid, REFIID iid, void** out);

// The DLL's own instance, for its dialogs and windows.
HINSTANCE ModuleInstance();

}  // namespace quorvel::standins
