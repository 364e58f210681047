#!/usr/bin/env bash
# Makes BUILD_DIR/wine-x11 once: a 96-DPI prefix with Wine's X11 driver for pictures taken under
# Xvfb (the test prefixes use the null driver). It gets Tahoma for real dialog units, Debian's
# WenQuanYi Micro Hei as the Chinese UI face (Wine has no CJK font of its own) and, when the test
# bed's CA exists, trust in it, so the demo can download from the local HTTPS server.
# Run it inside xvfb-run: a wineserver started without a display keeps no desktop for windows.
set -euo pipefail
build=${1:?usage: x11-prefix.sh BUILD_DIR}
export WINEPREFIX="$build/wine-x11"
. "$(dirname "$0")/../../cmake/wine-env.sh"
recipe=2
if [ "$(cat "$WINEPREFIX/.qel-ready" 2>/dev/null)" != "$recipe" ]; then
  echo "qel: creating wine-x11 (96 DPI, X11 driver)"
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
  WINEDLLOVERRIDES="mscoree,mshtml=" "$QEL_WINE" wineboot.exe -i </dev/null >/dev/null 2>&1
  "$QEL_WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f </dev/null >/dev/null 2>&1
  cp /usr/share/wine/fonts/tahoma*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
  cp /usr/share/fonts/truetype/wqy/wqy-microhei.ttc "$WINEPREFIX/drive_c/windows/Fonts/"
  for face in "Microsoft YaHei UI" "Microsoft YaHei"; do
    "$QEL_WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' /v "$face" \
      /d "WenQuanYi Micro Hei" /f </dev/null >/dev/null 2>&1
  done
  for face in Tahoma "MS Shell Dlg" "MS Shell Dlg 2"; do
    "$QEL_WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v "$face" \
      /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f </dev/null >/dev/null 2>&1
  done
  wineserver -w
  echo "$recipe" >"$WINEPREFIX/.qel-ready"
fi
if [ -f "$build/tls/ca.der" ] && [ -f "$build/bin/addroot.exe" ] && [ ! -f "$WINEPREFIX/.qel-ca" ]; then
  "$QEL_WINE" "$build/bin/addroot.exe" "Z:$(echo "$build/tls/ca.der" | tr '/' '\\')" </dev/null
  touch "$WINEPREFIX/.qel-ca"
fi
