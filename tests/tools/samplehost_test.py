#!/usr/bin/env python3
"""The sample host, headless with --auto: a good release ends ready (exit 0), a broken one on the
failure page (exit 1), and either way the work directory is gone once it has closed the job."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

BIN = sys.argv.pop(1)
WINE_RUN = sys.argv.pop(1)


def win(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run(exe, *args, timeout=120):
    return subprocess.run([WINE_RUN, os.path.join(BIN, exe), *args], capture_output=True, timeout=timeout)


class SampleHost(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="samplehost-test-")
        src = os.path.join(cls.dir, "src", "程序")
        os.makedirs(src)
        with open(os.path.join(src, "app.bin"), "wb") as f:
            f.write(os.urandom(1500000))
        with open(os.path.join(cls.dir, "src", "readme.txt"), "wb") as f:
            f.write(b"readme\n" * 1000)
        cls.out = os.path.join(cls.dir, "out")
        packed = run("qelpack.exe", "pack", win(os.path.join(cls.dir, "src")), win(cls.out))
        assert packed.returncode == 0, packed.stderr

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def host(self, package):
        work = os.path.join(self.dir, "work")
        result = run("samplehost.exe", win(os.path.join(self.out, "manifest.ini")), win(package), win(work), "--auto")
        lines = result.stdout.decode("utf-8", "replace").splitlines()
        self.assertFalse(os.path.exists(work), "the work directory outlived the host")
        return result.returncode, lines

    def test_good_release_ends_ready(self):
        code, lines = self.host(os.path.join(self.out, "application.cab"))
        self.assertEqual(code, 0, lines)
        self.assertEqual(lines[0], "screen welcome")
        self.assertIn("screen progress", lines)
        self.assertIn("status 5 100 应用文件已准备好。", lines)
        self.assertEqual(lines[-2:], ["screen ready", "closed clean"])
        statuses = [l for l in lines if l.startswith("status ")]
        phases = [int(l.split()[1]) for l in statuses]
        self.assertEqual(phases, sorted(phases), "phases went backwards")

    def test_broken_release_shows_the_failure_page(self):
        broken = os.path.join(self.dir, "broken.cab")
        with open(os.path.join(self.out, "application.cab"), "rb") as f:
            data = bytearray(f.read())
        data[len(data) // 2] ^= 0x5A
        with open(broken, "wb") as f:
            f.write(data)
        code, lines = self.host(broken)
        self.assertEqual(code, 1, lines)
        self.assertIn("status 6 0 应用包 SHA-256 校验失败，未开始安装。", lines)
        self.assertEqual(lines[-2:], ["screen failure", "closed clean"])

    def test_missing_arguments(self):
        result = run("samplehost.exe", "only-one")
        self.assertEqual(result.returncode, 2)


if __name__ == "__main__":
    unittest.main(verbosity=2)
