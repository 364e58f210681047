#!/usr/bin/env python3
"""./qel dist's kit: the zip holds exactly what installer authors need, and the example builds
from an empty folder with makensis alone (no file of the source tree or build reachable)."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

TOP, BUILD = sys.argv.pop(1), sys.argv.pop(1)


class Dist(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="dist-test-")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def make(self, build=BUILD):
        return subprocess.run([sys.executable, os.path.join(TOP, "tools", "dist", "make-dist.py"), TOP, build,
                               os.path.join(self.dir, "out")], capture_output=True, text=True, timeout=60)

    def test_kit_builds_the_example_from_an_empty_folder(self):
        made = self.make()
        self.assertEqual(made.returncode, 0, made.stderr)
        zip_path = made.stdout.strip()
        with open(os.path.join(TOP, "VERSION")) as f:
            stem = "qel-" + f.read().strip()
        self.assertEqual(os.path.basename(zip_path), stem + ".zip")
        with zipfile.ZipFile(zip_path) as z:
            names = sorted(z.namelist())
            self.assertEqual(names, sorted(stem + "/" + n for n in [
                "README.txt", "bin/qelfetch.dll", "bin/qelskin.dll", "bin/qelplace.dll", "bin/qelpack.exe",
                "include/payload.h", "include/style.h", "include/place.h", "lib/qelfetch.dll.a", "lib/qelskin.dll.a",
                "lib/qelplace.dll.a", "nsis/qel.nsh", "nsis/example.nsi", "nsis/band.bmp", "nsis/band150.bmp",
                "nsis/band200.bmp", "reference.md"]))
            unpacked = os.path.join(self.dir, "empty")
            os.makedirs(unpacked)
            z.extractall(unpacked)
        for dll in ("qelfetch.dll", "qelskin.dll", "qelplace.dll"):
            with open(os.path.join(BUILD, "bin", dll), "rb") as a, open(os.path.join(unpacked, stem, "bin", dll), "rb") as b:
                self.assertEqual(a.read(), b.read(), dll + " in the kit is not the shipped one")
        kit = os.path.join(unpacked, stem)
        manifest = os.path.join(self.dir, "manifest.ini")
        with open(manifest, "wb") as f:
            f.write("[Package]\r\nFormat=qel-cab-2\r\nCount=1\r\n".encode("utf-16"))
        out = os.path.join(self.dir, "example-setup.exe")
        built = subprocess.run(["makensis", "-V2", "-DQEL_MANIFEST=" + manifest, "-DQEL_BIN=" + os.path.join(kit, "bin"),
                                "-DQEL_OUTFILE=" + out, os.path.join(kit, "nsis", "example.nsi")],
                               capture_output=True, timeout=120, cwd=self.dir)
        self.assertEqual(built.returncode, 0, built.stdout + built.stderr)
        with open(out, "rb") as f:
            data = f.read()
        pe = int.from_bytes(data[0x3C:0x40], "little")
        self.assertEqual(data[pe:pe + 6], b"PE\0\0\x4c\x01")

    def test_missing_part_is_refused(self):
        fake = os.path.join(self.dir, "build")
        shutil.copytree(os.path.join(BUILD, "bin"), os.path.join(fake, "bin"))
        shutil.copytree(os.path.join(BUILD, "lib"), os.path.join(fake, "lib"))
        os.remove(os.path.join(fake, "bin", "qelskin.dll"))
        made = self.make(fake)
        self.assertEqual(made.returncode, 2)
        self.assertEqual(len(made.stderr.strip().splitlines()), 1)
        self.assertIn("qelskin.dll", made.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.dir, "out")) and os.listdir(os.path.join(self.dir, "out")))

    def test_64_bit_dll_is_refused(self):
        fake = os.path.join(self.dir, "build")
        shutil.copytree(os.path.join(BUILD, "bin"), os.path.join(fake, "bin"))
        shutil.copytree(os.path.join(BUILD, "lib"), os.path.join(fake, "lib"))
        x64 = os.path.join(BUILD, "x64", "bin", "qelfetch.dll")
        if not os.path.exists(x64):
            self.skipTest("no x64 build beside the shipped one")
        shutil.copy(x64, os.path.join(fake, "bin", "qelfetch.dll"))
        made = self.make(fake)
        self.assertEqual(made.returncode, 2)
        self.assertIn("not a 32-bit", made.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
