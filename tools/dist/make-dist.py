#!/usr/bin/env python3
"""Writes the kit for installer authors: qel-<version>.zip with the shipped 32-bit DLLs, their
headers and import libraries, qelpack.exe, the NSIS include, the example installer and its band
picture, and a short README. Refuses (exit 2, one line) when any part is missing.

    make-dist.py TOP BUILD_DIR OUT_DIR
"""
import os
import sys
import zipfile

README = """qel {version}: delivery (qelfetch.dll), placing and uninstall (qelplace.dll) and dialog look
(qelskin.dll) for NSIS 3 installers

bin/qelfetch.dll, bin/qelplace.dll, bin/qelskin.dll
                                    32-bit DLLs (stdcall exports, no C runtime)
bin/qelpack.exe                     the release packer for Windows: qelpack pack SOURCE OUT [--url https://...]
                                    (on Linux, build tools/qelpack/native from the sources: same
                                    command line, same release, no Wine)
include/payload.h, include/place.h, include/style.h
                                    C headers of the exports
lib/*.dll.a                         import libraries (mingw-w64)
nsis/qel.nsh                        the include: deliveries, placing files, skinning
nsis/example.nsi, nsis/band.bmp     the example installer and its band picture

Build the example (absolute paths; makensis works in the script's folder):
  makensis -DQEL_MANIFEST=/path/manifest.ini -DQEL_BIN=/path/qel-{version}/bin \\
           -DQEL_OUTFILE=/path/setup.exe /path/qel-{version}/nsis/example.nsi
Run it: setup.exe [/S] [/LOG=file] [/D=folder]; exit code 0 installed, 1 cancelled, 2 failed.
With a Url in the manifest the package is downloaded, else application.cab beside setup.exe
is used. In silent mode the failure line goes to the /LOG file (UTF-16LE).

Every macro of qel.nsh is described at the top of the file. The one rule to keep in mind:
System keeps a DLL loaded until a call carries ?u; qel.nsh makes that call for each job
(qelfetch.dll on PayloadClose, qelplace.dll on PlaceClose) and once for qelskin.dll in
${{QelSkinEnd}} from .onGUIEnd, so call ${{QelSkinEnd}} in .onGUIEnd and never call the DLLs
with System yourself.
"""


def main():
    if len(sys.argv) != 4:
        print("usage: make-dist.py TOP BUILD_DIR OUT_DIR", file=sys.stderr)
        return 2
    top, build, out = sys.argv[1:]
    with open(os.path.join(top, "VERSION")) as f:
        version = f.read().strip()
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
    os.makedirs(out, exist_ok=True)
    target = os.path.join(out, stem + ".zip")
    partial = target + ".part"
    with zipfile.ZipFile(partial, "w", zipfile.ZIP_DEFLATED) as z:
        for name, path in parts:
            z.write(path, stem + "/" + name)
        z.writestr(stem + "/README.txt", README.format(version=version))
    os.replace(partial, target)
    print(target)
    return 0


if __name__ == "__main__":
    sys.exit(main())
