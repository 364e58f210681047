"""Texts both kits share: the version, the README (the quick start of the project's README.md,
taken from there so the kit and the project say the same), the package's control data and its
copyright file."""
import os

CONTROL = """Package: qel-kit
Version: {version}
Architecture: amd64
Maintainer: {maintainer}
Installed-Size: {size}
Depends: {depends}
Suggests: wine, wine32
Section: devel
Priority: optional
Description: kit for NSIS installers that download and verify an application package
 qelpack makes a release (application.cab and the manifest.ini that describes it)
 and the installer's band picture. qel.nsh, which makensis finds without
 !addincludedir, drives the 32-bit qelfetch.dll (download, SHA-256 check,
 extraction), qelplace.dll (placing the files as one transaction, upgrades,
 uninstall) and qelskin.dll (the dialogs' look) from an NSIS 3 script. The DLLs
 are in /usr/share/qel/bin, the example installer in /usr/share/qel/example.
"""

COPYRIGHT = """Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: qel

Files: *
Copyright: the qel project
License: other
 Distributed by the qel project under the terms it gives with its sources.
"""

CONTENTS = {
    "zip": """bin/qelfetch.dll, bin/qelplace.dll, bin/qelskin.dll
                                    the 32-bit DLLs (stdcall exports, no C runtime)
bin/qelpack.exe                     the release packer and band picture maker for Windows
include/payload.h, include/place.h, include/style.h
                                    C headers of the exports
lib/*.dll.a                         import libraries (mingw-w64)
nsis/qel.nsh                        the NSIS include
nsis/example.nsi, nsis/band*.bmp    the example installer and its band pictures (100, 150, 200 %)
reference.md                        the full reference (manifest format, exports, macros)
""",
    "deb": """/usr/bin/qelpack                    the release packer and band picture maker
/usr/share/nsis/Include/qel.nsh     the NSIS include (makensis finds it by itself)
/usr/share/qel/bin/                 qelfetch.dll, qelplace.dll and qelskin.dll, the 32-bit DLLs
/usr/share/qel/example/             the example installer and its band pictures (100, 150, 200 %)
/usr/share/doc/qel-kit/reference.md the full reference (manifest format, exports, macros)
""",
}


def version(top):
    with open(os.path.join(top, "VERSION")) as f:
        return f.read().strip()


def quick_start(top):
    """The "## Quick start" section of README.md, without its heading."""
    with open(os.path.join(top, "README.md"), encoding="utf-8") as f:
        text = f.read()
    marker = "\n## Quick start"
    if marker not in text:
        raise ValueError("README.md has no Quick start section")
    section = text.split(marker, 1)[1]
    section = section.split("\n", 1)[1]           # the rest of the heading line
    return section.split("\n## ", 1)[0].strip("\n") + "\n"


def readme(top, kind):
    return ("qel {v}: delivery (qelfetch.dll), placing and uninstall (qelplace.dll) and the dialogs' look "
            "(qelskin.dll) for NSIS 3 installers\n\n"
            "{contents}\n"
            "QUICK START\n\n{quick}").format(v=version(top), contents=CONTENTS[kind], quick=quick_start(top))
