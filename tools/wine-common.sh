# Sourced: what every Wine command of the project runs with, in a prefix of its own.
export WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=d;mshtml=d"
# wine, and wineboot's and winepath's wine-stable, through the 64-bit loader.
case ":$PATH:" in
*":$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine-bin:"*) ;;
*) PATH="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine-bin:$PATH" ;;
esac
export PATH
# 32-bit programs run through QEMU's user-mode emulator (tools/bootstrap.sh registers
# it). Wine's 32-bit loader needs the emulator to reserve the guest's address space
# (without it: "failed to map the shared user data: c0000018"), and the 32-bit
# ntdll probes that space 64 KiB at a time from its top for a free area: with all
# 4 GiB reserved each 32-bit process took 53 s to start, with 2 GiB + 16 MiB 3 s.
# Below 2 GiB + 4 MiB the loader fails.
export QEMU_RESERVED_VA=0x81000000
