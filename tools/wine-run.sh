#!/usr/bin/env bash
# wine-run.sh PROGRAM.exe [ARGS...]: one Windows test program under the build tree's
# Wine session, with a time limit, so that a hang fails that test alone.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh" || exit 1
limit=${QUORVEL_TEST_TIMEOUT:-120}
timeout -k 10 "$limit" wine "$@"
rc=$?
[ $rc -eq 124 ] && echo "wine-run: $1 did not finish within ${limit}s" >&2
exit $rc
