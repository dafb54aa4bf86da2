# Sourced: the environment of a Wine session started by wine-session.sh in $QUORVEL_WINE_DIR.
: "${QUORVEL_WINE_DIR:?set QUORVEL_WINE_DIR to the session folder}"
if [ ! -f "$QUORVEL_WINE_DIR/display" ]; then
  echo "no Wine session in $QUORVEL_WINE_DIR (tools/wine-session.sh start)" >&2
  return 1 2>/dev/null || exit 1
fi
. "$(dirname "${BASH_SOURCE[0]}")/wine-common.sh"
export WINEPREFIX="$QUORVEL_WINE_DIR/prefix"
# The string cache could hand a freed string back and hide a use after free.
export OANOCACHE=1
export DISPLAY="$(cat "$QUORVEL_WINE_DIR/display")"
# Windows path of a file in the build tree, as a Wine process sees it.
winpath() { printf 'Z:%s' "${1//\//\\}"; }
