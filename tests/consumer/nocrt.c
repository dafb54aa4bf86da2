/* An object as MSVC's linker takes it: linked by lld-link through quorvel_client.lib
 * with no C runtime at all. Exit status 0 when the DLL reports the package's version. */
#include <quorvel_client_c.h>

int entry(void) {
  DWORD major = 0, minor = 0, patch = 0;
  if (FAILED(QuorvelGetVersion(&major, &minor, &patch))) return 1;
  return major == WANT_MAJOR && minor == WANT_MINOR && patch == WANT_PATCH ? 0 : 2;
}
