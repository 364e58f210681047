#!/usr/bin/env bash
# Renders every gallery program (samples/gallery/*.cpp, built into BUILD_DIR/bin) under Xvfb with
# Wine's X11 driver and saves BUILD_DIR/shots/<name>.png. The test prefixes use the null driver,
# so the pictures come from a prefix of their own, BUILD_DIR/wine-x11, made here once.
set -euo pipefail
build=${1:?usage: shot.sh BUILD_DIR}
top=$(cd "$(dirname "$0")/../.." && pwd)
export WINEARCH=win32 WINEDEBUG=-all WINEPREFIX="$build/wine-x11"
mkdir -p "$build/shots"

if [ ! -f "$WINEPREFIX/.qel-ready" ]; then
  echo "qel: shot: creating wine-x11 (96 DPI, X11 driver)"
  rm -rf "$WINEPREFIX"
  xvfb-run -a env WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i </dev/null >/dev/null 2>&1
  xvfb-run -a wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f </dev/null >/dev/null 2>&1
  wineserver -w
  cp /usr/share/wine/fonts/tahoma*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
  touch "$WINEPREFIX/.qel-ready"
fi

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
  xvfb-run -a -s "-screen 0 1024x768x24" wine "$exe" "Z:${bmp//\//\\}" </dev/null >/dev/null 2>&1 || true
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
