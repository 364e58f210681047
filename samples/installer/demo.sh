#!/usr/bin/env bash
# ./qel demo: the example NSIS installer end to end, under Xvfb.
#   demo.sh BUILD_DIR TEST_BUILD_DIR [--dpi N]
#   1. the sample release with a Url on the local HTTPS test server (trickled, so the download
#      can be watched) and a broken one (one byte of the package changed);
#   2. the good installer through its pages: welcome, folder, progress while downloading,
#      finish; the broken one to its failure page. nsis_pilot.exe (tests/nsis) presses the
#      buttons from outside, as a user would.
#   3. an upgrade: version 1.0 installed silently, then 2.0 (a file changed, one added, one
#      gone) through its pages while a program holds a file of 1.0 (tests/nsis/filehold.exe):
#      placing waits for it, then asks Retry/Cancel; the program lets go, Retry, finish.
#   4. a release in four parts, each downloaded from a server that cuts the first request for
#      every package: each part is fetched again after a pause, and the whole release is placed
#      as one.
# Screenshots: TEST_BUILD_DIR/demo/*.png, or with --dpi N (96, 120, 144, 192, ...) the installer
# runs at N DPI and they go to TEST_BUILD_DIR/demo-N/. Exits 0 when the good run installed
# (exit 0), the broken one ended on the failure page (exit 2), the upgrade installed (exit 0) and
# the parted release installed (exit 0) after its retries, with nothing left behind.
set -euo pipefail
build=${1:?usage: demo.sh BUILD_DIR TEST_BUILD_DIR [--dpi N]}
testbuild=${2:?usage: demo.sh BUILD_DIR TEST_BUILD_DIR [--dpi N]}
shift 2
dpi=96
if [ $# -gt 0 ]; then
  [ "$1" = --dpi ] && [ $# = 2 ] && [[ $2 =~ ^[0-9]+$ ]] && [ "$2" -ge 72 ] && [ "$2" -le 480 ] \
    || { echo "qel: demo: usage: ./qel demo [--dpi N], N from 72 to 480" >&2; exit 2; }
  dpi=$2
fi
top=$(cd "$(dirname "$0")/../.." && pwd)
demo=$testbuild/demo
[ "$dpi" = 96 ] || demo=$testbuild/demo-$dpi
# The screen grows with the DPI, so the window fits.
screen="$((800 * dpi / 96))x$((600 * dpi / 96))x24"
. "$top/cmake/wine-env.sh"
target=x86-unicode
[ "${QEL_WINE_ARCH:-win32}" = win64 ] && target=amd64-unicode

say() { echo "qel: demo: $*"; }

rm -rf "$demo"
mkdir -p "$demo/https/root"
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  WINEPREFIX="$testbuild/wine-x11" wineserver -k 2>/dev/null || true
  # The X11 prefix is left at 96 DPI for ./qel shot.
  if [ "$dpi" != 96 ]; then
    xvfb-run -a bash -c 'WINEPREFIX="$1/wine-x11" "$QEL_WINE" reg add "HKCU\Control Panel\Desktop" /v LogPixels /t REG_DWORD /d 96 /f \
      </dev/null >/dev/null 2>&1; WINEPREFIX="$1/wine-x11" wineserver -k 2>/dev/null' _ "$testbuild" 2>&1 | grep -v '^X connection to' || true
  fi
  rm -rf "$demo/https" "$demo/good" "$demo/broken" "$demo/install-good" "$demo/install-broken" "$demo/run.sh" \
    "$demo/pilot.out" "$demo/good-setup.out" "$demo/broken-setup.out" "$demo/v1" "$demo/v2" "$demo/install-upgrade" \
    "$demo/upgrade-setup.out" "$demo/hold.fifo" "$demo/hold.out" "$demo/parts" "$demo/install-parts" \
    "$demo/parts-setup.out"
}
trap cleanup EXIT

[ -f "$testbuild/tls/server.pem" ] || { echo "qel: demo: the test CA is missing (run ./qel test once)" >&2; exit 1; }
python3 "$top/tests/bed/https_server.py" --dir "$demo/https" --cert "$testbuild/tls/server.pem" \
  --key "$testbuild/tls/server.key" </dev/null >"$demo/https/server.out" 2>&1 &
server_pid=$!
for _ in $(seq 100); do [ -s "$demo/https/server.txt" ] && break; sleep 0.1; done
[ -s "$demo/https/server.txt" ] || { echo "qel: demo: the HTTPS server did not start" >&2; exit 1; }
port=$(cut -d' ' -f1 "$demo/https/server.txt")
say "serving https://127.0.0.1:$port/"

sample="$top/samples/installer/sample-release.sh"
# The good release carries 8 MB more, so that its trickled download (about 800 KB/s) lasts
# long enough to be photographed.
QEL_SAMPLE_EXTRA_MB=8 bash "$sample" "$build" "$testbuild" "$target" "$demo/good" --url "https://127.0.0.1:$port/trickle/application.cab"
bash "$sample" "$build" "$testbuild" "$target" "$demo/broken" --url "https://127.0.0.1:$port/normal/broken.cab"
cp "$demo/good/application.cab" "$demo/https/root/application.cab"
python3 - "$demo/broken/application.cab" "$demo/https/root/broken.cab" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
data[len(data) // 2] ^= 0x5A
open(sys.argv[2], "wb").write(data)
PY

# The upgrade's two releases: the sample as 1.0, and 2.0 with numbers.txt changed, a file added
# and 文档/说明.txt gone. Placed packages (no Url): the upgrade is about placing.
bash "$sample" "$build" "$testbuild" "$target" "$demo/v1"
mkdir -p "$demo/v2"
cp -r "$demo/v1/payload" "$demo/v2/payload"
rm -rf "$demo/v1/payload"
rm "$demo/v2/payload/文档/说明.txt"
seq 1 30000 >"$demo/v2/payload/numbers.txt"
echo "新版本的更新说明。" >"$demo/v2/payload/更新说明.txt"
"$build/native/qelpack" pack "$demo/v2/payload" "$demo/v2" </dev/null >/dev/null
rm -rf "$demo/v2/payload"
makensis -V2 -DQEL_MANIFEST="$demo/v2/manifest.ini" -DQEL_BIN="$testbuild/bin" -DQEL_OUTFILE="$demo/v2/example-setup.exe" \
  -DQEL_TARGET="$target" -DQEL_VERSION=2.0 "$top/nsis/example.nsi" >"$demo/v2/makensis.log"

# The parted release: four files of 1.5 MB and a text, in parts of at most 2 MB of package,
# downloaded from the mode that cuts each package's first request halfway.
mkdir -p "$demo/parts/payload/data"
python3 - "$demo/parts/payload" <<'PY'
import os, random, sys
rng = random.Random(20261210)
for k in range(1, 5):
    with open(os.path.join(sys.argv[1], "data", "part-%d.dat" % k), "wb") as f:
        f.write(rng.randbytes(1536 * 1024))
with open(os.path.join(sys.argv[1], "说明.txt"), "wb") as f:
    f.write("分卷发布的示例。\r\n".encode("utf-8"))
PY
"$build/native/qelpack" pack "$demo/parts/payload" "$demo/parts/release" --part-size 2000000 \
  --url "https://127.0.0.1:$port/dropfirst/" </dev/null >/dev/null
cp "$demo"/parts/release/*.cab "$demo/https/root/"
makensis -V2 -DQEL_MANIFEST="$demo/parts/release/release.ini" -DQEL_BIN="$testbuild/bin" \
  -DQEL_OUTFILE="$demo/parts/example-setup.exe" -DQEL_TARGET="$target" "$top/nsis/example.nsi" >"$demo/parts/makensis.log"

cat >"$demo/run.sh" <<'INNER'
# Inside Xvfb: runs one installer, leads it through its pages and photographs each one.
set -u
testbuild=$1 demo=$2 name=$3
export WINEPREFIX="$testbuild/wine-x11"
# The pilot's output goes through a file: a Wine service it happens to start inherits its
# standard handles and lives on with the wineserver, so a pipe would never reach its end.
pilot() {
  "$QEL_WINE" "$testbuild/bin/nsis_pilot.exe" "$@" </dev/null >"$demo/pilot.out" 2>/dev/null 4>&-
  tr -d '\r' <"$demo/pilot.out"
}
shoot() { sleep 0.8; import -window root "$demo/$1.png" 4>&-; echo "qel: demo: screenshot $demo/$1.png"; }
# wait_for KIND: until the installer shows that page (60 s at most).
wait_for() {
  local i
  for i in $(seq 120); do [ "$(pilot page)" = "$1" ] && return 0; sleep 0.5; done
  echo "qel: demo: $name: the $1 page did not come" >&2
  return 1
}
folder="Z:$(echo "$demo/install-$name" | tr '/' '\\')"
setup_exe="$demo/$name/example-setup.exe"
if [ "$name" = upgrade ]; then
  # 1.0 silently; then a program holds numbers.txt without delete sharing until its input closes.
  "$QEL_WINE" "$demo/v1/example-setup.exe" /S "/D=$folder" </dev/null >"$demo/upgrade-setup.out" 2>&1
  rm -f "$demo/hold.fifo"
  mkfifo "$demo/hold.fifo"
  "$QEL_WINE" "$testbuild/bin/filehold.exe" none "$folder\\numbers.txt" <"$demo/hold.fifo" >"$demo/hold.out" 2>&1 &
  exec 4>"$demo/hold.fifo"
  for _ in $(seq 100); do grep -q held "$demo/hold.out" 2>/dev/null && break; sleep 0.1; done
  setup_exe="$demo/v2/example-setup.exe"
fi
# Not a writer of the holder's input (fd 4, upgrade only): the holder must see it end.
"$QEL_WINE" "$setup_exe" "/D=$folder" </dev/null >>"$demo/$name-setup.out" 2>&1 4>&- &
setup=$!
if wait_for custom; then
  [ "$name" = good ] && shoot 1-welcome
  pilot next
  if wait_for directory; then
    [ "$name" = good ] && shoot 2-folder
    pilot next
    if [ "$name" = good ]; then
      for _ in $(seq 240); do
        case $(pilot status) in 已下载*) break ;; esac
        sleep 0.25
      done
      shoot 3-progress
      # The progress page leads on to the finish page by itself once the files are in place.
      wait_for custom && shoot 4-finish && pilot click 1
    elif [ "$name" = upgrade ]; then
      # Placing tries the held file again for a few seconds, then asks.
      for _ in $(seq 240); do
        case $(pilot status) in 正在等待文件释放*) break ;; esac
        sleep 0.25
      done
      shoot 6-upgrade-waiting
      # pilot's own result is lost in the pipe: the box is up when it prints its text.
      for _ in $(seq 120); do [ -n "$(pilot box)" ] && break; sleep 0.25; done
      shoot 7-upgrade-retry
      # The program lets go; Retry places 2.0.
      exec 4>&-
      sleep 1
      pilot box 4 >/dev/null
      wait_for custom && shoot 8-upgrade-finish && pilot click 1
    elif [ "$name" = parts ]; then
      # Each part's first request is cut: the status counts down to the next try. The picture
      # counts when the line still says so after it was taken (the pause lasts a second).
      for _ in $(seq 240); do
        case $(pilot status) in
          网络中断*)
            import -window root "$demo/retry.png" 4>&-
            case $(pilot status) in 网络中断*) mv "$demo/retry.png" "$demo/9-parts-retry.png"
              echo "qel: demo: screenshot $demo/9-parts-retry.png"; break ;; esac ;;
        esac
        [ "$(pilot page)" = custom ] && break
        sleep 0.1
      done
      rm -f "$demo/retry.png"
      wait_for custom && shoot 10-parts-finish && pilot click 1
    else
      wait_for failure && shoot 5-failure && pilot click 28945
    fi
  fi
fi
# Whatever happened, the installer does not outlive the run.
for _ in $(seq 20); do kill -0 "$setup" 2>/dev/null || break; sleep 0.5; done
if kill -0 "$setup" 2>/dev/null; then
  echo "qel: demo: $name: the installer is still running; closing it" >&2
  pilot click 2 >/dev/null
  pilot click 28945 >/dev/null
fi
code=0
wait "$setup" || code=$?
echo "$code" >"$demo/$name.code"
INNER

WINEPREFIX="$testbuild/wine-x11" wineserver -k 2>/dev/null || true
xvfb-run -a bash "$top/tests/bed/x11-prefix.sh" "$testbuild" 2>&1 | grep -v '^X connection to' || true
# The DPI is read when a program starts: set it before the installers run.
xvfb-run -a bash -c 'WINEPREFIX="$1/wine-x11" "$QEL_WINE" reg add "HKCU\Control Panel\Desktop" /v LogPixels /t REG_DWORD /d "$2" /f \
  </dev/null >/dev/null 2>&1' _ "$testbuild" "$dpi" 2>&1 | grep -v '^X connection to' || true
say "at $dpi DPI, screenshots into ${demo#"$testbuild"/}/"
status=0
for name in good broken upgrade parts; do
  say "run: the $name release"
  # Each Xvfb session gets its own wineserver: one left from the session before (the Wine
  # services keep it alive) would still talk to that session's display, now gone.
  WINEPREFIX="$testbuild/wine-x11" wineserver -k 2>/dev/null || true
  WINEPREFIX="$testbuild/wine-x11" wineserver -w 2>/dev/null || true
  xvfb-run -a -s "-screen 0 $screen" bash "$demo/run.sh" "$testbuild" "$demo" "$name" 2>&1 \
    | grep -v '^X connection to' || true
  code=$(cat "$demo/$name.code" 2>/dev/null || echo none)
  rm -f "$demo/$name.code"
  want=0
  [ "$name" = broken ] && want=2
  [ "$code" = "$want" ] || { echo "qel: demo: the $name installer ended with $code, not $want" >&2; status=1; }
done
if [ "$status" = 0 ]; then
  version=$(iconv -f utf-16 -t utf-8 "$demo/install-upgrade/qel-install.ini" 2>/dev/null | tr -d '\r' | sed -n 's/^Version=//p')
  [ "$version" = 2.0 ] || { echo "qel: demo: the upgrade's record says version '$version', not 2.0" >&2; status=1; }
  [ ! -e "$demo/install-upgrade/文档/说明.txt" ] || { echo "qel: demo: the upgrade left a file 2.0 no longer has" >&2; status=1; }
  for f in "$demo"/parts/payload/data/*.dat "$demo/parts/payload/说明.txt"; do
    cmp -s "$f" "$demo/install-parts/${f#"$demo/parts/payload/"}" \
      || { echo "qel: demo: the parted release's ${f##*/} was not installed as packed" >&2; status=1; }
  done
  [ -e "$demo/9-parts-retry.png" ] || { echo "qel: demo: no retry was photographed" >&2; status=1; }
fi
[ "$status" = 0 ] && say "done; screenshots: $(cd "$demo" && ls ./*.png | tr '\n' ' ')"
exit $status
