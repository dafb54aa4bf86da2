// The platform declares CLSID_DsPropertyPages with DEFINE_GUID but no import
// library defines it; this file does, once.
#include <initguid.h>
#include <dsclient.h>
