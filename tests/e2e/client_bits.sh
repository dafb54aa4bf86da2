# shellcheck shell=bash disable=SC2034,SC2154
# Sourced by the end-to-end scripts after wine-env.sh and winpath: the build of the
# client driver that runs their client scenarios. The console's own bitness (x86,
# under WoW64, against the x86-64 quorvel.exe) where the session found that Wine runs
# 32-bit programs; otherwise the x86-64 build, and the reason is said once.
x86_state=$(cat "$QUORVEL_WINE_DIR/wine32" 2>/dev/null)
if [ "$x86_state" = ok ] && [ -f "${QUORVEL_X86_TREE:-}/tests/client/qvclient_driver.exe" ]; then
  # Under QEMU's emulator a 32-bit Wine process with a third thread crashes now and then
  # (the library's thread makes two): the x86 driver runs without its probing thread.
  driver_bits=x86; wow64_parent=1; driver_flags=--no-probe; client_tree=$QUORVEL_X86_TREE
  driver=$(winpath "$QUORVEL_X86_TREE/tests/client/qvclient_driver.exe")
else
  [ "$x86_state" = ok ] && x86_state="no x86 client driver in ${QUORVEL_X86_TREE:-an x86 tree} (make windows-x86)"
  echo "skipped the x86 client scenarios: ${x86_state:-the session did not say whether 32-bit programs run}; they run with the x86-64 driver"
  driver_bits=x86-64; wow64_parent=0; driver_flags=; client_tree=$build
  driver=$(winpath "$build/tests/client/qvclient_driver.exe")
fi
driver_x64=$(winpath "$build/tests/client/qvclient_driver.exe")
# probes_check OUTPUT BITS [MIN]: the caller's window answered every probe within 1 s (at least
# MIN probes: a pattern for the leading digit); the x86 driver runs none. Adds to $problem.
probes_check() {
  local want="^probes: ${3:-}[0-9]* late: 0$"
  [ "$2" = x86 ] && want='^probes: off$'
  grep -q "$want" <<<"$(tr -d '\r' <"$1")" || problem="$problem; the caller's window did not answer in time"
}
# wow64_check OUTPUT HELPER PARENT: the driver's "wow64:" line; HELPER is 0 where quorvel.exe
# ran (natively, never under WoW64), "-" where it was never started. Adds to $problem.
wow64_check() {
  grep -qx "wow64: parent=${3:-$wow64_parent} helper=$2" <<<"$(tr -d '\r' <"$1")" ||
    problem="$problem; expected wow64: parent=${3:-$wow64_parent} helper=$2, had: $(tr -d '\r' <"$1" | grep '^wow64:')"
}
