#!/usr/bin/env python3
"""Writes the kit for installer authors on Windows: qel-<version>.zip with the shipped 32-bit
DLLs, their headers and import libraries, qelpack.exe, the NSIS include, the example installer
and its band picture, the reference and a README (the quick start). Every entry is stored as a
regular file, 0644 (programs 0755), with the date of the newest part. Refuses (exit 2, one
line) when any part is missing.

    make-dist.py TOP BUILD_DIR OUT_DIR
"""
import os
import sys
import time
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kit_text  # noqa: E402


def entry(name, date, executable=False):
    info = zipfile.ZipInfo(name, date_time=date)
    info.compress_type = zipfile.ZIP_DEFLATED
    info.create_system = 3  # Unix, so that the mode below is read
    info.external_attr = (0o100755 if executable else 0o100644) << 16
    return info


def main():
    if len(sys.argv) != 4:
        print("usage: make-dist.py TOP BUILD_DIR OUT_DIR", file=sys.stderr)
        return 2
    top, build, out = sys.argv[1:]
    version = kit_text.version(top)
    stem = "qel-" + version
    parts = [
        ("bin/qelfetch.dll", os.path.join(build, "bin", "qelfetch.dll")),
        ("bin/qelskin.dll", os.path.join(build, "bin", "qelskin.dll")),
        ("bin/qelplace.dll", os.path.join(build, "bin", "qelplace.dll")),
        ("bin/qelpack.exe", os.path.join(build, "bin", "qelpack.exe")),
        ("include/payload.h", os.path.join(top, "delivery", "payload.h")),
        ("include/style.h", os.path.join(top, "skinning", "style.h")),
        ("include/place.h", os.path.join(top, "placement", "place.h")),
        ("lib/qelfetch.dll.a", os.path.join(build, "lib", "qelfetch.dll.a")),
        ("lib/qelskin.dll.a", os.path.join(build, "lib", "qelskin.dll.a")),
        ("lib/qelplace.dll.a", os.path.join(build, "lib", "qelplace.dll.a")),
        ("nsis/qel.nsh", os.path.join(top, "nsis", "qel.nsh")),
        ("nsis/example.nsi", os.path.join(top, "nsis", "example.nsi")),
        ("nsis/band.bmp", os.path.join(top, "nsis", "band.bmp")),
        ("nsis/band150.bmp", os.path.join(top, "nsis", "band150.bmp")),
        ("nsis/band200.bmp", os.path.join(top, "nsis", "band200.bmp")),
        ("reference.md", os.path.join(top, "README.md")),
    ]
    for name, path in parts:
        if not os.path.isfile(path):
            print("qel: dist: %s is missing (%s); run ./qel build" % (name, path), file=sys.stderr)
            return 2
    for dll in ("qelfetch.dll", "qelskin.dll", "qelplace.dll", "qelpack.exe"):
        with open(os.path.join(build, "bin", dll), "rb") as f:
            data = f.read(4096)
        pe = int.from_bytes(data[0x3C:0x40], "little")
        if data[pe:pe + 6] != b"PE\0\0\x4c\x01":
            print("qel: dist: %s is not a 32-bit x86 program" % dll, file=sys.stderr)
            return 2
    date = time.localtime(max(os.path.getmtime(path) for _, path in parts))[:6]
    os.makedirs(out, exist_ok=True)
    target = os.path.join(out, stem + ".zip")
    partial = target + ".part"
    with zipfile.ZipFile(partial, "w") as z:
        for name, path in parts:
            with open(path, "rb") as f:
                z.writestr(entry(stem + "/" + name, date, name.endswith((".exe", ".dll"))), f.read())
        z.writestr(entry(stem + "/README.txt", date), kit_text.readme(top, "zip").replace("\n", "\r\n"))
    os.replace(partial, target)
    print(target)
    return 0


if __name__ == "__main__":
    sys.exit(main())
