#!/usr/bin/env bash
# Prepares the private Wine prefixes that the tests run in, inside the build folder:
#   wine/      96 DPI, null display driver (windows and GDI work without an X server)
#   wine-144/  the same at 144 DPI, for tests of DPI scaling
#   wine-120/  the same at 120 DPI (scaling that does not come out whole)
# Each prefix is made once; later runs only start its wineserver so tests start quickly.
# QEL_WINE_ARCH=win64 makes 64-bit prefixes for the x64 test build (cmake/wine-env.sh).
set -euo pipefail
build=${1:?usage: prepare-prefix.sh BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../cmake/wine-env.sh"
# Bump when the prefix recipe changes, so existing build folders remake their prefixes.
recipe=5

prepare() {
  local name=$1 dpi=$2
  export WINEPREFIX="$build/$name"
  if [ "$(cat "$WINEPREFIX/.qel-ready" 2>/dev/null)" != "$recipe" ]; then
    echo "qel: prefix: creating $name ($dpi DPI)"
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    WINEDLLOVERRIDES="mscoree,mshtml=" "$QEL_WINE" wineboot.exe -i </dev/null >/dev/null 2>&1
    "$QEL_WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
    "$QEL_WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f </dev/null >/dev/null 2>&1
    # A crashing test ends at once instead of waiting in Wine's debugger until ctest's timeout.
    "$QEL_WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d qel-no-debugger /f </dev/null >/dev/null 2>&1
    wineserver -w
    # Dialog units come out as on Windows only with the real dialog font.
    cp /usr/share/wine/fonts/tahoma*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    for hook in "$here"/prefix.d/*.sh; do
      [ -e "$hook" ] || continue
      bash "$hook" "$build" </dev/null
    done
    wineserver -w
    echo "$recipe" >"$WINEPREFIX/.qel-ready"
  fi
  # A persistent wineserver and the service processes started once, with their output
  # away from ctest's pipes: later test processes then start in well under a second.
  wineserver -p </dev/null >/dev/null 2>&1 || true
  "$QEL_WINE" cmd /c exit </dev/null >/dev/null 2>&1 || true
}

prepare wine 96
prepare wine-144 144
prepare wine-120 120
