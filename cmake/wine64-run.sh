#!/bin/sh
# Runs a 64-bit Windows program of the x64 test build (build/x64) under 64-bit Wine.
here=$(cd "$(dirname "$0")/.." && pwd)
QEL_WINE_ARCH=win64 QEL_BUILD="${QEL_BUILD:-$here/build/x64}" exec "$here/cmake/wine-run.sh" "$@"
