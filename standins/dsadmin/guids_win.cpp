// The platform declares the wizard's class and interface with DEFINE_GUID but no
// import library defines them; this file does, once.
#include <windows.h>
#include <objbase.h>
#include <prsht.h>
#include <iads.h>

#include <initguid.h>
// dsadmin.h needs the property sheet and directory types declared first.
#include <dsadmin.h>
