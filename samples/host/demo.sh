#!/usr/bin/env bash
# ./qel demo: the sample installer end to end, under Xvfb.
#   1. packs a sample payload into application.cab and a manifest naming a local HTTPS URL;
#   2. serves it from the test bed's HTTPS server on 127.0.0.1 (slowly, so the progress shows);
#   3. runs the sample host with --auto: skinned page with the prompt card, the delivery with
#      live phase, percentage and status, the files ready in the work directory;
#   4. runs it again on a deliberately broken package, which ends on the failure page.
# Prints every status line the host reported, saves screenshots to BUILD/demo/*.png, cleans up,
# and exits 0 when both runs ended as they should.
set -euo pipefail
build=${1:?usage: demo.sh BUILD_DIR}
top=$(cd "$(dirname "$0")/../.." && pwd)
demo=$build/demo
. "$(dirname "$0")/../../cmake/wine-env.sh"

say() { echo "qel: demo: $*"; }
winpath() { echo "Z:$(realpath -m "$1" | tr '/' '\\')"; }

rm -rf "$demo"
mkdir -p "$demo/payload/文档" "$demo/payload/bin" "$demo/https/root"

server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  WINEPREFIX="$build/wine-x11" wineserver -k 2>/dev/null || true
  rm -rf "$demo/payload" "$demo/release-good" "$demo/release-broken" "$demo/https" "$demo/download"
}
trap cleanup EXIT

say "packing a sample payload"
head -c 900000 /dev/urandom >"$demo/payload/bin/app.dat"
printf '示例应用程序的说明。\n' >"$demo/payload/文档/说明.txt"
seq 1 20000 >"$demo/payload/numbers.txt"

[ -f "$build/tls/server.pem" ] || { echo "qel: demo: the test CA is missing (run ./qel test once)" >&2; exit 1; }
python3 "$top/tests/bed/https_server.py" --dir "$demo/https" --cert "$build/tls/server.pem" \
  --key "$build/tls/server.key" </dev/null >"$demo/https/server.out" 2>&1 &
server_pid=$!
for _ in $(seq 100); do [ -s "$demo/https/server.txt" ] && break; sleep 0.1; done
[ -s "$demo/https/server.txt" ] || { echo "qel: demo: the HTTPS server did not start" >&2; exit 1; }
port=$(cut -d' ' -f1 "$demo/https/server.txt")
say "serving https://127.0.0.1:$port/"

# The good release is trickled (about 200 KB/s) so the download can be watched; the broken one
# is the same cabinet with one byte changed, served whole.
pack() {
  WINEPREFIX="$build/wine" "$QEL_WINE" "$build/bin/qelpack.exe" pack "$(winpath "$demo/payload")" "$(winpath "$1")" \
    --url "https://127.0.0.1:$port/$2" </dev/null
}
pack "$demo/release-good" trickle/application.cab
pack "$demo/release-broken" normal/broken.cab
cp "$demo/release-good/application.cab" "$demo/https/root/application.cab"
python3 - "$demo/release-broken/application.cab" "$demo/https/root/broken.cab" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
data[len(data) // 2] ^= 0x5A
open(sys.argv[2], "wb").write(data)
PY

cat >"$demo/run.sh" <<'INNER'
# Inside Xvfb: runs the host and takes a screenshot of the screen at each moment worth seeing.
set -u
build=$1 demo=$2 name=$3 manifest=$4 package=$5 work=$6
export WINEPREFIX="$build/wine-x11"
shoot() { sleep 0.6; import -window root "$demo/$1.png"; echo "qel: demo: screenshot $demo/$1.png"; }
shown=
"$QEL_WINE" "$build/bin/samplehost.exe" "$manifest" "$package" "$work" --auto </dev/null | {
  while IFS= read -r line; do
    echo "  $name: $line"
    case $line in
      "screen welcome") [ "$name" = good ] && shoot welcome ;;
      "status 2 "[2-9]?" "*) [ "$name" = good ] && [ -z "$shown" ] && { shown=1; shoot downloading; } ;;
      "screen ready") shoot ready ;;
      "screen failure") shoot failure ;;
    esac
  done
}
echo "${PIPESTATUS[0]}" >"$demo/$name.code"
INNER

# Runs the host on one release; run.sh leaves its exit code in BUILD/demo/NAME.code. Xlib's farewell
# when Xvfb goes away is noise; everything else the run says is shown.
run() {
  local name=$1 release=$2
  mkdir -p "$demo/download/$name"
  xvfb-run -a -s "-screen 0 800x600x24" bash "$demo/run.sh" "$build" "$demo" "$name" \
    "$(winpath "$release/manifest.ini")" "$(winpath "$demo/download/$name/application.cab")" \
    "$(winpath "$demo/work-$name")" 2>&1 | grep -v '^X connection to' || true
}

WINEPREFIX="$build/wine-x11" wineserver -k 2>/dev/null || true
xvfb-run -a bash "$top/tests/bed/x11-prefix.sh" "$build" 2>&1 | grep -v '^X connection to' || true

say "run 1: a good release, downloaded from the local server"
run good "$demo/release-good"
say "run 2: a broken release"
run broken "$demo/release-broken"
good=$(cat "$demo/good.code") broken=$(cat "$demo/broken.code")

status=0
[ "$good" = 0 ] || { echo "qel: demo: the good release did not end ready (exit $good)" >&2; status=1; }
[ "$broken" = 1 ] || { echo "qel: demo: the broken release did not end on the failure page (exit $broken)" >&2; status=1; }
for name in good broken; do
  if [ -e "$demo/work-$name" ] || [ -e "$demo/download/$name/application.cab" ]; then
    echo "qel: demo: run $name left files behind" >&2
    status=1
  fi
done
rm -f "$demo/run.sh" "$demo/good.code" "$demo/broken.code"
[ "$status" = 0 ] && say "done; screenshots: $(cd "$demo" && ls ./*.png | tr '\n' ' ')"
exit $status
