// A program that faults at once. The harness test around it shows that a crash
// under Wine ends the process with its exception code instead of waiting for a
// debugger, so that a crashing test fails in seconds rather than at its time limit.
// Built with quorvel.exe's terminate handler, it ends through that handler instead,
// whose status a console must read as "ended abnormally", never as abort()'s 3.
#include <exception>

int main() {
#ifdef QUORVEL_PROBE_TERMINATE
  std::terminate();
#endif
  volatile int* nowhere = nullptr;
  *nowhere = 1;
  return 0;
}
