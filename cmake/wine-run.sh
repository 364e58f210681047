#!/bin/sh
# Runs a Windows program under the build's private Wine prefix (see tests/bed/prepare-prefix.sh).
here=$(cd "$(dirname "$0")/.." && pwd)
: "${QEL_BUILD:=$here/build}"
export WINEPREFIX="${WINEPREFIX:-$QEL_BUILD/wine}" WINEARCH=win32 WINEDEBUG="${WINEDEBUG:--all}"
exec wine "$@"
