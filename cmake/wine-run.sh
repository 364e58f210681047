#!/bin/bash
# Runs a Windows program under the build's private Wine prefix (see tests/bed/prepare-prefix.sh).
here=$(cd "$(dirname "$0")/.." && pwd)
: "${QEL_BUILD:=$here/build}"
export WINEPREFIX="${WINEPREFIX:-$QEL_BUILD/wine}"
. "$here/cmake/wine-env.sh"
exec "$QEL_WINE" "$@"
