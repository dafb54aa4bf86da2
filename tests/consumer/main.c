/* The C interface through the package's import library, compiled as C99: on x86 the
 * header's WINAPI makes every call reference a decorated name (_QuorvelLocate@8). */
#include <quorvel_client_c.h>

#include <stdio.h>

int main(void) {
  DWORD major = 0, minor = 0, patch = 0;
  QUORVEL_OUTCOME outcome = {sizeof(QUORVEL_OUTCOME), 0, 0, NULL, NULL, NULL, NULL};
  if (FAILED(QuorvelGetVersion(&major, &minor, &patch))) return 1;
  printf("c version: %lu.%lu.%lu\n", (unsigned long)major, (unsigned long)minor, (unsigned long)patch);
  QuorvelRunCreateWizard(L"C:\\quorvel.exe", L"OU=a|b,DC=example,DC=com", QUORVEL_USER, &outcome);
  printf("c outcome: %d 0x%08lX\n", outcome.result, (unsigned long)outcome.code);
  QuorvelFreeOutcome(&outcome);
  return 0;
}
