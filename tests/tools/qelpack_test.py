#!/usr/bin/env python3
"""qelpack end to end: packs real folders under Wine, reads the outputs back on Linux (the
manifest with Python, the cabinet with cabextract), checks the refusals, and verifies releases
through qelfetch with `qelpack verify`."""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

BIN = sys.argv.pop(1)          # build/bin
WINE_RUN = sys.argv.pop(1)     # cmake/wine-run.sh
PREFIX = os.environ.get("WINEPREFIX") or os.path.join(os.path.dirname(BIN), "wine")
QELPACK = os.path.join(BIN, "qelpack.exe")


def win(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def qelpack(*args):
    converted = [win(a) if a.startswith("/") else a for a in args]
    return subprocess.run([WINE_RUN, QELPACK, *converted], capture_output=True, timeout=120)


def read_manifest(path):
    with open(path, "rb") as f:
        raw = f.read()
    assert raw.startswith(b"\xff\xfe"), "manifest is not UTF-16LE with a byte-order mark"
    sections, current = {}, None
    for line in raw[2:].decode("utf-16-le").split("\r\n"):
        if line.startswith("[") and line.endswith("]"):
            current = sections.setdefault(line[1:-1], {})
        elif "=" in line:
            key, value = line.split("=", 1)
            current[key] = value
    return sections


def sha256(data):
    return hashlib.sha256(data).hexdigest()


class Pack(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="qelpack-test-")
        self.src = os.path.join(self.dir, "src")
        self.out = os.path.join(self.dir, "out")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def write(self, relative, data):
        path = os.path.join(self.src, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    def sample_tree(self):
        files = {
            "readme.txt": b"hello\n",
            "bin/app.exe": os.urandom(200000),
            "数据/说明.txt": "安装说明".encode("utf-8") * 1000,
            "empty.dat": b"",
            "Cap/upper.txt": b"capitals sort before small letters",
        }
        for relative, data in files.items():
            self.write(relative, data)
        return files

    def test_release_is_read_back_by_cabextract_and_matches_the_sources(self):
        files = self.sample_tree()
        result = qelpack("pack", self.src, self.out, "--url", "https://127.0.0.1:8443/app.cab")
        self.assertEqual(result.returncode, 0, result.stderr)
        manifest = read_manifest(os.path.join(self.out, "manifest.ini"))
        package = manifest["Package"]
        with open(os.path.join(self.out, "application.cab"), "rb") as f:
            cabinet = f.read()
        self.assertEqual(package["Format"], "qel-cab-2")
        self.assertEqual(package["Target"], "windows-x64")
        self.assertEqual(package["Url"], "https://127.0.0.1:8443/app.cab")
        self.assertEqual(int(package["Count"]), len(files))
        self.assertEqual(int(package["Size"]), len(cabinet))
        self.assertEqual(package["Sha256"], sha256(cabinet))
        self.assertEqual(int(package["UnpackedSize"]), sum(len(d) for d in files.values()))

        # Entries in UTF-16 code unit order of their relative paths, backslash separated.
        names = [manifest[str(i)]["Name"] for i in range(len(files))]
        expected = sorted((r.replace("/", "\\") for r in files), key=lambda s: s.encode("utf-16-be"))
        self.assertEqual(names, expected)

        extracted = os.path.join(self.dir, "extracted")
        listing = subprocess.run(["cabextract", "-q", "-d", extracted, os.path.join(self.out, "application.cab")],
                                 capture_output=True)
        self.assertEqual(listing.returncode, 0, listing.stderr)
        self.assertEqual(sorted(os.listdir(extracted)), ["%04d" % i for i in range(len(files))])
        for i, name in enumerate(names):
            entry = manifest[str(i)]
            data = files[name.replace("\\", "/")]
            self.assertEqual(entry["Entry"], "%04d" % i)
            self.assertEqual(int(entry["Size"]), len(data))
            self.assertEqual(entry["Sha256"], sha256(data))
            with open(os.path.join(extracted, "%04d" % i), "rb") as f:
                self.assertEqual(f.read(), data, name)
        self.assertEqual(sorted(os.listdir(self.out)), ["application.cab", "manifest.ini", "release.ini"])

    def test_the_same_folder_packs_to_the_same_bytes(self):
        self.sample_tree()
        other = os.path.join(self.dir, "out2")
        self.assertEqual(qelpack("pack", self.src, self.out).returncode, 0)
        self.assertEqual(qelpack("pack", self.src, other).returncode, 0)
        for name in ("application.cab", "manifest.ini"):
            with open(os.path.join(self.out, name), "rb") as a, open(os.path.join(other, name), "rb") as b:
                self.assertEqual(a.read(), b.read(), name)
        self.assertNotIn("Url", read_manifest(os.path.join(self.out, "manifest.ini"))["Package"])

    def assertRefused(self, *extra, out=None):
        out = out or self.out
        result = qelpack("pack", self.src, out, *extra)
        self.assertEqual(result.returncode, 2, result.stdout + result.stderr)
        lines = result.stderr.decode("utf-8", "replace").strip().splitlines()
        self.assertEqual(len(lines), 1, lines)
        self.assertTrue(lines[0].startswith("qelpack: "), lines)
        return result

    def test_refusals_leave_no_output(self):
        os.makedirs(self.src)
        self.assertRefused()  # empty folder
        self.assertFalse(os.path.exists(self.out))

        self.write("a.txt", b"a")
        for url in ("http://host/app.cab", "https://user@host/app.cab", "https://user:pw@host/app.cab",
                    "https://host/app.cab?x=1", "https://host/app.cab#top", "https://host",
                    "https://host/" + "a" * 2040, "ftp://host/app.cab"):
            with self.subTest(url=url):
                self.assertRefused("--url", url)
                self.assertFalse(os.path.exists(self.out))

        self.write("n" * 241, b"x")  # 241 units
        self.assertRefused()
        # Wine's GetFinalPathNameByHandleW fails (234) beyond MAX_PATH, so the accepted
        # 240-unit name lives in a folder with a short path.
        short = tempfile.mkdtemp(prefix="q", dir="/tmp")
        try:
            with open(os.path.join(short, "n" * 240), "wb") as f:
                f.write(b"x")
            self.assertEqual(qelpack("pack", short, self.out).returncode, 0)
        finally:
            shutil.rmtree(short, ignore_errors=True)

    def test_257_files_make_two_parts_and_too_large_files_are_refused(self):
        # One byte each: Wine's FCI cannot write a cabinet whose members are all empty.
        for i in range(257):
            self.write("f%03d" % i, b"x")
        result = qelpack("pack", self.src, self.out)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(sorted(os.listdir(self.out)), ["application-001.cab", "application-002.cab", "manifest-001.ini",
                                                        "manifest-002.ini", "release.ini"])
        self.assertEqual(read_manifest(os.path.join(self.out, "manifest-002.ini"))["0"]["Name"], "f256")
        os.remove(os.path.join(self.src, "f256"))
        one = os.path.join(self.dir, "one")
        self.assertEqual(qelpack("pack", self.src, one).returncode, 0)
        self.assertEqual(sorted(os.listdir(one)), ["application.cab", "manifest.ini", "release.ini"])

        # A file no part can hold. (Files adding up to more than 2,000,000,000 bytes are now cut
        # into parts: see qelpack_parts_test.py.)
        big = os.path.join(self.dir, "big")
        os.makedirs(big)
        with open(os.path.join(big, "huge"), "wb") as f:
            f.truncate(2000000001)  # sparse: refused before a byte is read
        self.src = big
        self.assertRefused(out=os.path.join(self.dir, "bigout"))
        self.assertFalse(os.path.exists(os.path.join(self.dir, "bigout")))

    def test_existing_outputs_need_force(self):
        self.write("a.txt", b"first")
        self.assertEqual(qelpack("pack", self.src, self.out).returncode, 0)
        with open(os.path.join(self.out, "manifest.ini"), "rb") as f:
            first = f.read()
        self.write("a.txt", b"second version")
        self.assertRefused()
        with open(os.path.join(self.out, "manifest.ini"), "rb") as f:
            self.assertEqual(f.read(), first)
        self.assertEqual(qelpack("pack", self.src, self.out, "--force").returncode, 0)
        entry = read_manifest(os.path.join(self.out, "manifest.ini"))["0"]
        self.assertEqual(entry["Sha256"], sha256(b"second version"))
        self.assertEqual(sorted(os.listdir(self.out)), ["application.cab", "manifest.ini", "release.ini"])


class Verify(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="qelpack-verify-test-")
        self.src = os.path.join(self.dir, "src")
        self.out = os.path.join(self.dir, "out")
        os.makedirs(os.path.join(self.src, "子目录"))
        with open(os.path.join(self.src, "子目录", "程序.bin"), "wb") as f:
            f.write(os.urandom(300000))
        with open(os.path.join(self.src, "b.txt"), "wb") as f:
            f.write(b"b" * 100000)
        result = qelpack("pack", self.src, self.out, "--url", "https://127.0.0.1:1/never-used.cab")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.manifest = os.path.join(self.out, "manifest.ini")
        self.package = os.path.join(self.out, "application.cab")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def leftovers(self):
        temp = os.path.join(PREFIX, "drive_c", "users", os.environ.get("USER", "root"), "Temp")
        try:
            return sorted(n for n in os.listdir(temp) if n.startswith("qelpack-verify-"))
        except FileNotFoundError:
            return []

    def test_a_good_release_verifies_offline_and_leaves_nothing(self):
        before = self.leftovers()
        result = qelpack("verify", self.manifest, self.package)
        output = result.stdout.decode("utf-8", "replace")
        self.assertEqual(result.returncode, 0, output + result.stderr.decode("utf-8", "replace"))
        self.assertIn("应用文件已准备好。", output)
        self.assertEqual(self.leftovers(), before)
        with open(self.manifest, "rb") as f:  # the Url was ignored, the manifest left as it was
            self.assertIn("never-used".encode("utf-16-le"), f.read())

    def test_a_broken_package_fails(self):
        with open(self.package, "r+b") as f:
            f.seek(-1, 2)
            last = f.read(1)
            f.seek(-1, 2)
            f.write(bytes([last[0] ^ 0xFF]))
        before = self.leftovers()
        result = qelpack("verify", self.manifest, self.package)
        self.assertEqual(result.returncode, 1)
        self.assertIn("应用包 SHA-256 校验失败，未开始安装。", result.stdout.decode("utf-8", "replace"))
        self.assertEqual(self.leftovers(), before)


if __name__ == "__main__":
    unittest.main(verbosity=2)
