#!/usr/bin/env python3
"""Writes the kit for Linux build machines and CI: qel-kit_<version>_amd64.deb with

    /usr/bin/qelpack                      the native release packer (its libraries declared,
                                          found by dpkg-shlibdeps)
    /usr/share/nsis/Include/qel.nsh       where Debian's makensis finds it without !addincludedir
    /usr/share/qel/bin/qelfetch.dll, qelplace.dll, qelskin.dll   the 32-bit DLLs the installers carry
    /usr/share/qel/example/example.nsi, band*.bmp   the example installer and its band pictures
    /usr/share/doc/qel-kit/README, reference.md, copyright

Refuses (exit 2, one line) when a part is missing or is not what it should be (a packer that is
not an x86-64 ELF program, a DLL that is not 32-bit x86); exit 1 when dpkg-deb or
dpkg-shlibdeps fail. The package is written as OUT_DIR/<name>.partial and renamed into place.

    make-deb.py TOP BUILD_DIR OUT_DIR
"""
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kit_text  # noqa: E402

MAINTAINER = "The qel project <qel@example.org>"


def fail(code, text):
    print("qel: dist: " + text, file=sys.stderr)
    return code


def is_elf_x86_64(path):
    with open(path, "rb") as f:
        head = f.read(20)
    return head[:4] == b"\x7fELF" and head[4] == 2 and int.from_bytes(head[18:20], "little") == 0x3E


def is_pe_i386(path):
    with open(path, "rb") as f:
        data = f.read(4096)
    pe = int.from_bytes(data[0x3C:0x40], "little")
    return data[pe:pe + 6] == b"PE\0\0\x4c\x01"


def put(root, relative, source=None, data=None, mode=0o644):
    path = os.path.join(root, relative)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if source is not None:
        shutil.copyfile(source, path)
    else:
        with open(path, "wb") as f:
            f.write(data)
    os.chmod(path, mode)


def main():
    if len(sys.argv) != 4:
        print("usage: make-deb.py TOP BUILD_DIR OUT_DIR", file=sys.stderr)
        return 2
    top, build, out = (os.path.abspath(a) for a in sys.argv[1:])
    version = kit_text.version(top)
    name = "qel-kit_%s_amd64.deb" % version
    qelpack = os.path.join(build, "native", "qelpack")
    dlls = [os.path.join(build, "bin", d) for d in ("qelfetch.dll", "qelplace.dll", "qelskin.dll")]
    for path in [qelpack, *dlls] + [os.path.join(top, "nsis", f) for f in ("qel.nsh", "example.nsi", "band.bmp", "band150.bmp", "band200.bmp")]:
        if not os.path.isfile(path):
            return fail(2, "%s is missing; run ./qel build" % path)
    if not is_elf_x86_64(qelpack):
        return fail(2, "%s is not an x86-64 Linux program" % qelpack)
    for dll in dlls:
        if not is_pe_i386(dll):
            return fail(2, "%s is not a 32-bit x86 DLL" % os.path.basename(dll))

    with tempfile.TemporaryDirectory(prefix="qel-deb-") as work:
        # dpkg-shlibdeps reads debian/control and wants the program in its package's folder.
        root = os.path.join(work, "debian", "qel-kit")
        put(root, "usr/bin/qelpack", qelpack, mode=0o755)
        stripped = subprocess.run(["strip", "--strip-unneeded", os.path.join(root, "usr/bin/qelpack")],
                                  capture_output=True, text=True)
        if stripped.returncode != 0:
            return fail(1, "strip failed: " + stripped.stderr.strip())
        put(root, "usr/share/nsis/Include/qel.nsh", os.path.join(top, "nsis", "qel.nsh"))
        for dll in dlls:
            put(root, "usr/share/qel/bin/" + os.path.basename(dll), dll)
        put(root, "usr/share/qel/example/example.nsi", os.path.join(top, "nsis", "example.nsi"))
        for picture in ("band.bmp", "band150.bmp", "band200.bmp"):
            put(root, "usr/share/qel/example/" + picture, os.path.join(top, "nsis", picture))
        put(root, "usr/share/doc/qel-kit/README", data=kit_text.readme(top, "deb").encode("utf-8"))
        put(root, "usr/share/doc/qel-kit/reference.md", os.path.join(top, "README.md"))
        put(root, "usr/share/doc/qel-kit/copyright", data=kit_text.COPYRIGHT.encode("utf-8"))

        with open(os.path.join(work, "debian", "control"), "w") as f:
            f.write("Source: qel-kit\nMaintainer: %s\n\nPackage: qel-kit\nArchitecture: amd64\n" % MAINTAINER)
        shlibs = subprocess.run(["dpkg-shlibdeps", "-O", "debian/qel-kit/usr/bin/qelpack"], cwd=work,
                                capture_output=True, text=True)
        depends = [line.split("=", 1)[1] for line in shlibs.stdout.splitlines() if line.startswith("shlibs:Depends=")]
        if shlibs.returncode != 0 or len(depends) != 1 or not depends[0]:
            return fail(1, "dpkg-shlibdeps found no libraries for qelpack: " + (shlibs.stderr.strip() or shlibs.stdout))

        size = 0
        for folder, dirs, files in os.walk(root):
            for d in dirs:
                os.chmod(os.path.join(folder, d), 0o755)
            size += sum(os.path.getsize(os.path.join(folder, f)) for f in files)
        os.chmod(root, 0o755)
        os.makedirs(os.path.join(root, "DEBIAN"))
        control = kit_text.CONTROL.format(version=version, maintainer=MAINTAINER, size=(size + 1023) // 1024,
                                          depends=depends[0] + ", nsis (>= 3.08)")
        put(root, "DEBIAN/control", data=control.encode("utf-8"))
        os.chmod(os.path.join(root, "DEBIAN"), 0o755)

        os.makedirs(out, exist_ok=True)
        target = os.path.join(out, name)
        partial = target + ".partial"
        built = subprocess.run(["dpkg-deb", "--root-owner-group", "-Zxz", "--build", root, partial],
                               capture_output=True, text=True)
        if built.returncode != 0:
            if os.path.exists(partial):
                os.remove(partial)
            return fail(1, "dpkg-deb failed: " + built.stderr.strip())
        os.replace(partial, target)
    print(target)
    return 0


if __name__ == "__main__":
    sys.exit(main())
