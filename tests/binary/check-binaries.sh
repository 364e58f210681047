#!/usr/bin/env bash
# Checks the shipped DLLs' PE headers (qelfetch, qelskin, qelplace): 32-bit i386, exactly the
# documented exports (undecorated), and imports from platform DLLs only (no C runtime, no
# libstdc++ or libgcc DLL).
set -u
fail=0
check() {
  local dll=$1 exports=$2 imports=$3 required=${4:-} dump
  dump=$(i686-w64-mingw32-objdump -p "$dll") || { echo "FAIL $dll: objdump failed"; fail=1; return; }
  if ! file -b "$dll" | grep -q 'PE32 executable (DLL).*Intel 80386'; then
    echo "FAIL $dll: not a PE32 i386 DLL: $(file -b "$dll")"; fail=1
  fi
  local got want
  got=$(echo "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep -oE '^\s+\[ *[0-9]+\] [^ ]+$' | sed -E 's/.*\] //' | sort | tr '\n' ' ')
  want=$(echo "$exports" | tr ' ' '\n' | sort | tr '\n' ' ')
  if [ "$got" != "$want" ]; then
    echo "FAIL $dll: exports are [$got], expected [$want]"; fail=1
  fi
  local dllname
  for dllname in $(echo "$dump" | sed -n 's/^\s*DLL Name: //p'); do
    case " $imports " in
      *" ${dllname^^} "*) ;;
      *) echo "FAIL $dll: imports $dllname, allowed only [$imports]"; fail=1 ;;
    esac
  done
  local need
  for need in $required; do
    echo "$dump" | sed -n 's/^\s*DLL Name: //p' | tr '[:lower:]' '[:upper:]' | grep -qx "$need" \
      || { echo "FAIL $dll: does not import $need"; fail=1; }
  done
  [ "$fail" = 0 ] && echo "ok $dll: exports [$got], imports [$(echo "$dump" | sed -n 's/^\s*DLL Name: //p' | tr '\n' ' ')]"
}
check "$1" "PayloadStart PayloadPoll PayloadCancel PayloadClose" "KERNEL32.DLL WINHTTP.DLL BCRYPT.DLL CABINET.DLL" \
  "KERNEL32.DLL WINHTTP.DLL BCRYPT.DLL"
check "$2" "StylePage StylePrompt StyleButton StyleInput StyleWindow StyleWindowFrame StylePreviewProgress HideProgressDetails StyleStatusLine CreateFailureClose CreateFailureText FontForDpi FontLineHeight" \
  "USER32.DLL GDI32.DLL COMCTL32.DLL DWMAPI.DLL KERNEL32.DLL"
# qelplace: Restart Manager names the programs holding a file; bcrypt checks the user's changes;
# ntdll gives a file's index without a query of its volume.
check "$3" "PlaceStart PlaceAddPart PlaceAddFiles PlaceCommit PlacePoll PlaceCancel PlaceClose RemoveStart ReleaseStart ReleasePoll ReleaseCancel ReleaseRetry ReleaseClose" \
  "KERNEL32.DLL NTDLL.DLL BCRYPT.DLL RSTRTMGR.DLL" "KERNEL32.DLL NTDLL.DLL BCRYPT.DLL RSTRTMGR.DLL"
exit $fail
