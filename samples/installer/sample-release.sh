#!/usr/bin/env bash
# Makes the sample release and the example installer built on it (./qel build, ./qel demo).
#   sample-release.sh BUILD_DIR TEST_BUILD_DIR TARGET OUT_DIR [--url URL]
# Writes a small payload (sub-folders, Chinese names) into OUT_DIR/payload, packs it with the
# native qelpack (BUILD_DIR/native) into OUT_DIR/manifest.ini and OUT_DIR/application.cab, builds
# OUT_DIR/example-setup.exe with makensis from nsis/example.nsi and TEST_BUILD_DIR/bin's DLLs (TARGET
# x86-unicode or amd64-unicode). With --url the manifest names that URL. The 32-bit installer of
# the shipped DLLs (BUILD_DIR/bin) is written to OUT_DIR/setup-x86.exe in either case.
# QEL_SAMPLE_EXTRA_MB=N adds bin/media.dat of N MB (the demo's download then lasts a while).
set -euo pipefail
build=${1:?usage: sample-release.sh BUILD_DIR TEST_BUILD_DIR TARGET OUT_DIR [--url URL]}
testbuild=${2:?} target=${3:?} out=${4:?}
shift 4
top=$(cd "$(dirname "$0")/../.." && pwd)

rm -rf "$out"
mkdir -p "$out/payload/文档" "$out/payload/bin"
python3 - "$out/payload" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(20240601)
with open(os.path.join(root, "bin", "app.dat"), "wb") as f:
    f.write(bytes(rng.getrandbits(8) for _ in range(600000)))
with open(os.path.join(root, "文档", "说明.txt"), "wb") as f:
    f.write("示例应用程序的说明。\r\n".encode("utf-8"))
with open(os.path.join(root, "numbers.txt"), "w") as f:
    f.write("".join("%d\n" % i for i in range(1, 20001)))
extra = int(os.environ.get("QEL_SAMPLE_EXTRA_MB") or 0)
if extra > 0:
    with open(os.path.join(root, "bin", "media.dat"), "wb") as f:
        f.write(rng.randbytes(extra * 1024 * 1024))
PY
"$build/native/qelpack" pack "$out/payload" "$out" "$@" </dev/null >/dev/null
for f in manifest.ini application.cab; do
  [ -f "$out/$f" ] || { echo "qel: sample: qelpack wrote no $f" >&2; exit 1; }
done
makensis -V2 -DQEL_MANIFEST="$out/manifest.ini" -DQEL_BIN="$testbuild/bin" -DQEL_OUTFILE="$out/example-setup.exe" \
  -DQEL_TARGET="$target" "$top/nsis/example.nsi" >"$out/makensis.log"
makensis -V2 -DQEL_MANIFEST="$out/manifest.ini" -DQEL_BIN="$build/bin" -DQEL_OUTFILE="$out/setup-x86.exe" \
  -DQEL_TARGET=x86-unicode "$top/nsis/example.nsi" >>"$out/makensis.log"
