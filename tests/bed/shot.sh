#!/usr/bin/env bash
# Renders every gallery program (samples/gallery/*.cpp, built into BUILD_DIR/bin) under Xvfb with
# Wine's X11 driver and saves BUILD_DIR/shots/<name>.png. The test prefixes use the null driver,
# so the pictures come from a prefix of their own, BUILD_DIR/wine-x11 (x11-prefix.sh).
set -euo pipefail
build=${1:?usage: shot.sh BUILD_DIR}
top=$(cd "$(dirname "$0")/../.." && pwd)
export WINEPREFIX="$build/wine-x11"
. "$(dirname "$0")/../../cmake/wine-env.sh"
mkdir -p "$build/shots"

wineserver -k >/dev/null 2>&1 || true
xvfb-run -a bash "$top/tests/bed/x11-prefix.sh" "$build"

status=0
for source in "$top"/samples/gallery/*.cpp; do
  name=$(basename "$source" .cpp)
  exe="$build/bin/$name.exe"
  [ -f "$exe" ] || { echo "qel: shot: $name.exe was not built" >&2; status=1; continue; }
  bmp="$build/shots/$name.bmp"
  rm -f "$bmp"
  # Wine maps Z: to /. No Wine tool may run outside Xvfb here: a wineserver started without a
  # display keeps its display-less desktop, and windows then fail to appear.
  wineserver -k >/dev/null 2>&1 || true
  xvfb-run -a -s "-screen 0 1024x768x24" "$QEL_WINE" "$exe" "Z:${bmp//\//\\}" </dev/null >/dev/null 2>&1 || true
  wineserver -w
  if [ -s "$bmp" ] && convert "$bmp" "$build/shots/$name.png"; then
    rm -f "$bmp"
    echo "qel: shot: $build/shots/$name.png"
  else
    echo "qel: shot: $name produced no picture" >&2
    status=1
  fi
done
exit $status
