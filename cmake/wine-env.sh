# Sourced by the scripts that run Windows programs. QEL_WINE_ARCH picks the Wine they run under:
#   win32 (default)  32-bit Wine, for the shipped 32-bit programs
#   win64            64-bit Wine, for the x64 test build on a kernel that cannot run 32-bit code
# Debian's /usr/bin/wine prefers the 32-bit loader whenever it is installed, so the 64-bit one
# is named directly. $QEL_WINE runs a Windows program: "$QEL_WINE" winepath.exe -w PATH converts
# a path and "$QEL_WINE" wineboot.exe -i makes a prefix, under either Wine.
case ${QEL_WINE_ARCH:-win32} in
  win64) QEL_WINE=/usr/lib/wine/wine64; export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64 ;;
  *) QEL_WINE=wine; export WINEARCH=win32 ;;
esac
export WINEDEBUG="${WINEDEBUG:--all}" QEL_WINE
