// The directory components' class identifiers are declared in the SDK headers but
// in no import library: this is the one place that defines them.
#include "platform/wintypes.h"

#include <objbase.h>
#include <ole2.h>
#include <initguid.h>
#include <dsclient.h>
