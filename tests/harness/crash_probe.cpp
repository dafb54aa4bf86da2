// A program that faults at once. The harness test around it shows that a crash
// under Wine ends the process with its exception code instead of waiting for a
// debugger, so that a crashing test fails in seconds rather than at its time limit.
int main() {
  volatile int* nowhere = nullptr;
  *nowhere = 1;
  return 0;
}
