#!/usr/bin/env python3
"""Releases in parts, made by both packers (the Windows qelpack.exe under Wine and the native
Linux qelpack): a folder that one delivery job cannot hold is cut into parts, each a manifest and
a cabinet qelfetch delivers unchanged, listed in release.ini. Checked here: where the parts are
cut (256 files, --part-size, a large file alone), that both packers cut and describe a folder
alike and reproducibly, that every part is delivered ready through qelfetch.dll under Wine
(`qelpack verify release.ini`), the addresses (--url base, --mirror), the refusals, `qelpack check`
on broken indexes, and --force replacing a whole release.

A folder above 2,000,000,000 bytes (sparse files, 4.5 GB) is packed only with QEL_TEST_BIG=1 in
the environment (it reads every byte, about a minute per packer); the suite packs the same
layout a thousand times smaller against a --part-size a thousand times smaller."""
import hashlib
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

BIN = sys.argv.pop(1)          # the Windows build's bin folder
WINE_RUN = sys.argv.pop(1)     # runs a Windows program under the build's Wine prefix
NATIVE = sys.argv.pop(1)       # the native qelpack
BIG = os.environ.get("QEL_TEST_BIG") == "1"


def win(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Packer:
    def __init__(self, name):
        self.name = name

    def run(self, *args, env=None, timeout=300, cwd=None):
        if self.name == "linux":
            return subprocess.run([NATIVE, *args], capture_output=True, timeout=timeout, env=env, cwd=cwd)
        converted = [win(a) if a.startswith("/") else a for a in args]
        return subprocess.run([WINE_RUN, os.path.join(BIN, "qelpack.exe"), *converted], capture_output=True,
                              timeout=timeout, cwd=cwd)


LINUX = Packer("linux")
WINDOWS = Packer("windows")
BOTH = (LINUX, WINDOWS)


def read_text(path):
    with open(path, "rb") as f:
        raw = f.read()
    assert raw.startswith(b"\xff\xfe"), path + " is not UTF-16LE with a byte-order mark"
    return raw[2:].decode("utf-16-le")


def write_text(path, text):
    with open(path, "wb") as f:
        f.write(b"\xff\xfe" + text.encode("utf-16-le"))


def sections(text):
    """Sections as ordered dicts of keys, in the file's order (duplicates kept as separate items)."""
    result, current = [], None
    for line in text.split("\r\n"):
        if line.startswith("[") and line.endswith("]"):
            current = {}
            result.append((line[1:-1], current))
        elif "=" in line:
            key, value = line.split("=", 1)
            current[key] = value
    return result


def ini(path):
    return dict(sections(read_text(path)))


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def snapshot(folder):
    """Every file of a folder by name, with its bytes."""
    result = {}
    for name in os.listdir(folder):
        with open(os.path.join(folder, name), "rb") as f:
            result[name] = f.read()
    return result


def utf16_order(names):
    return sorted(names, key=lambda s: s.encode("utf-16-be"))


# A package's own Size and Sha256 (and the release's total Size) come from the compressor;
# everything else the two packers write must be the same.
PACKAGE_LINES = re.compile(r"^(Size|Sha256)=.*$", re.M)


def without_package_lines(text):
    return PACKAGE_LINES.sub("", text)


def without_index_package_lines(text):
    """Per part Size and Sha256 go (they are the package's); the Release section's Size too."""
    return re.sub(r"^(Size|Sha256)=.*$", "", text, flags=re.M)


class Case(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="qelpack-parts-")
        self.src = os.path.join(self.dir, "src")
        self.tmp = os.path.join(self.dir, "tmp")  # TMPDIR of the native packer: scratch must not stay
        os.makedirs(self.tmp)
        self.env = dict(os.environ, TMPDIR=self.tmp)

    def tearDown(self):
        subprocess.run(["chmod", "-R", "u+rwx", self.dir])
        shutil.rmtree(self.dir, ignore_errors=True)

    def write(self, relative, data=b"x", root=None):
        path = os.path.join(root or self.src, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def pack(self, packer, out, *extra, src=None, cwd=None):
        return packer.run("pack", src or self.src, out, *extra, env=self.env, cwd=cwd)

    def packed(self, packer, out, *extra, src=None):
        result = self.pack(packer, out, *extra, src=src)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, b"")
        return result.stdout.decode("utf-8")

    def check(self, *paths, cwd=None):
        result = LINUX.run("check", *paths, env=self.env, cwd=cwd)
        lines = (result.stdout + result.stderr).decode("utf-8", "replace").splitlines()
        self.assertEqual(len(lines), 1, lines)
        return result.returncode, lines[0]

    def verify(self, *paths):
        result = WINDOWS.run("verify", *paths)
        return result.returncode, result.stdout.decode("utf-8", "replace").replace("\r", "\n")

    def parts_of(self, out):
        """The index's parts: (section, keys) in order."""
        return [(name, keys) for name, keys in sections(read_text(os.path.join(out, "release.ini")))
                if name != "Release"]

    def extracted(self, cabinet):
        """The members of a cabinet by name, read with cabextract."""
        target = tempfile.mkdtemp(dir=self.dir)
        listing = subprocess.run(["cabextract", "-q", "-d", target, cabinet], capture_output=True)
        self.assertEqual(listing.returncode, 0, listing.stderr)
        members = {}
        for name in os.listdir(target):
            with open(os.path.join(target, name), "rb") as f:
                members[name] = f.read()
        shutil.rmtree(target)
        return members

    def assert_release_matches(self, out, files, counts):
        """The index, every part's manifest and cabinet describe exactly files (relative -> bytes),
        cut into parts of counts files, in the order of their relative paths."""
        parts = self.parts_of(out)
        self.assertEqual([int(keys["Count"]) for _, keys in parts], counts)
        names = utf16_order(r.replace("/", "\\") for r in files)
        at = 0
        for number, (section, keys) in enumerate(parts, 1):
            self.assertEqual(section, "Part%d" % number)
            manifest = ini(os.path.join(out, keys["Manifest"]))
            package = manifest["Package"]
            with open(os.path.join(out, keys["Package"]), "rb") as f:
                cabinet = f.read()
            self.assertEqual(int(keys["Size"]), len(cabinet))
            self.assertEqual(keys["Sha256"], sha256(cabinet))
            self.assertEqual(package["Size"], keys["Size"])
            self.assertEqual(package["Sha256"], keys["Sha256"])
            self.assertEqual(package["Count"], keys["Count"])
            self.assertEqual(package["UnpackedSize"], keys["UnpackedSize"])
            members = self.extracted(os.path.join(out, keys["Package"]))
            self.assertEqual(sorted(members), ["%04d" % i for i in range(int(keys["Count"]))])
            unpacked = 0
            for i in range(int(keys["Count"])):
                entry = manifest[str(i)]
                data = files[names[at].replace("\\", "/")]
                self.assertEqual(entry["Name"], names[at])
                self.assertEqual(entry["Entry"], "%04d" % i)
                self.assertEqual(int(entry["Size"]), len(data))
                self.assertEqual(entry["Sha256"], sha256(data))
                self.assertEqual(members["%04d" % i], data, names[at])
                unpacked += len(data)
                at += 1
            self.assertEqual(int(keys["UnpackedSize"]), unpacked)
        self.assertEqual(at, len(files))
        release = ini(os.path.join(out, "release.ini"))["Release"]
        self.assertEqual(int(release["Parts"]), len(counts))
        self.assertEqual(int(release["Count"]), len(files))
        self.assertEqual(int(release["UnpackedSize"]), sum(len(d) for d in files.values()))
        self.assertEqual(int(release["Size"]), sum(int(keys["Size"]) for _, keys in parts))

    def assert_same_apart_from_packages(self, one, two):
        """Two packers' releases of one folder: the same files, the same index and manifests
        apart from the packages' Size and Sha256."""
        self.assertEqual(sorted(os.listdir(one)), sorted(os.listdir(two)))
        for name in os.listdir(one):
            if name.endswith(".ini"):
                self.assertEqual(without_package_lines(read_text(os.path.join(one, name))),
                                 without_package_lines(read_text(os.path.join(two, name))), name)

    def assert_same_bytes(self, one, two):
        self.assertEqual(sorted(os.listdir(one)), sorted(os.listdir(two)))
        for name in os.listdir(one):
            with open(os.path.join(one, name), "rb") as a, open(os.path.join(two, name), "rb") as b:
                self.assertEqual(a.read(), b.read(), name)


def thousand_files():
    rng = random.Random(18)
    files = {}
    for i in range(1000):
        folder = ["bin", "lib/插件", "data/levels", "Docs", "share/locale/zh_CN"][i % 5]
        size = rng.choice([1, 7, 100, 1000, 3000])
        files["%s/file-%04d.dat" % (folder, i)] = bytes(rng.getrandbits(8) for _ in range(size))
    return files


class ThousandFiles(Case):
    def test_a_thousand_small_files_pack_into_four_parts_alike_on_both_systems_and_deliver_ready(self):
        files = thousand_files()
        for relative, data in files.items():
            self.write(relative, data)
        base, mirrors = "https://downloads.example.com/app/2.0/", ["https://m1.example.net/app/", "https://m2.example.org/a/b/"]
        outs = {}
        for packer in BOTH:
            outs[packer.name] = os.path.join(self.dir, "out-" + packer.name)
            line = self.packed(packer, outs[packer.name], "--url", base, "--mirror", mirrors[0], "--mirror", mirrors[1])
            self.assertRegex(line, r"\Aqelpack: packed 1000 files into 4 parts \(\d+ bytes of packages\) listed in .*release\.ini\n\Z")
        linux = outs["linux"]
        self.assertEqual(sorted(os.listdir(linux)), ["application-%03d.cab" % p for p in range(1, 5)] +
                         ["manifest-%03d.ini" % p for p in range(1, 5)] + ["release.ini"])
        for out in outs.values():
            self.assert_release_matches(out, files, [256, 256, 256, 232])
        self.assert_same_apart_from_packages(outs["linux"], outs["windows"])

        index = read_text(os.path.join(linux, "release.ini"))
        self.assertTrue(index.startswith("[Release]\r\nFormat=qel-release-1\r\nTarget=windows-x64\r\nParts=4\r\n"
                                         "Count=1000\r\n"), index[:200])
        self.assertIn("\r\nMirrors=2\r\nMirror1=%s\r\nMirror2=%s\r\n\r\n[Part1]\r\nManifest=manifest-001.ini\r\n"
                      "Package=application-001.cab\r\nCount=256\r\n" % tuple(mirrors), index)
        for number, (_, keys) in enumerate(self.parts_of(linux), 1):
            self.assertEqual(ini(os.path.join(linux, keys["Manifest"]))["Package"]["Url"],
                             base + "application-%03d.cab" % number)

        # Both packers' releases pass the native check, and the Linux-made one is delivered,
        # part by part, through qelfetch.dll under Wine.
        for out in outs.values():
            self.assertEqual(self.check(os.path.join(out, "release.ini")),
                             (0, "qelpack: the release is good (4 parts, 1000 files)"))
        code, output = self.verify(os.path.join(linux, "release.ini"))
        self.assertEqual(code, 0, output)
        self.assertEqual(output.count("应用文件已准备好。"), 4, output)
        self.assertTrue(output.rstrip().endswith("qelpack: the release is good (4 parts)"), output[-300:])

        # The same folder packs to the same bytes again, on either system.
        for packer in BOTH:
            again = os.path.join(self.dir, "again-" + packer.name)
            self.packed(packer, again, "--url", base, "--mirror", mirrors[0], "--mirror", mirrors[1])
            self.assert_same_bytes(outs[packer.name], again)
        self.assertEqual(os.listdir(self.tmp), [])


class Cuts(Case):
    def test_parts_close_at_the_part_size_and_a_larger_file_gets_a_part_of_its_own(self):
        # Random bytes do not compress: the cabinets are as large as the format lets them be.
        files = {"r%d.bin" % i: os.urandom(100000) for i in range(10)}
        files["s-big.bin"] = os.urandom(1000000)   # larger than --part-size: alone
        files["t-after.bin"] = os.urandom(10)      # does not join the large file's part
        for relative, data in files.items():
            self.write(relative, data)
        outs = {}
        for packer in BOTH:
            outs[packer.name] = os.path.join(self.dir, "out-" + packer.name)
            self.packed(packer, outs[packer.name], "--part-size", "350000")
            self.assert_release_matches(outs[packer.name], files, [3, 3, 3, 1, 1, 1])
            for _, keys in self.parts_of(outs[packer.name])[:4] + self.parts_of(outs[packer.name])[5:]:
                self.assertLessEqual(int(keys["Size"]), 350000, (packer.name, keys))
        self.assert_same_apart_from_packages(outs["linux"], outs["windows"])
        code, output = self.verify(os.path.join(outs["windows"], "release.ini"))
        self.assertEqual(code, 0, output)
        self.assertEqual(output.count("应用文件已准备好。"), 6, output)

    def test_257_files_make_two_parts_and_a_folder_that_fits_keeps_one_part(self):
        for i in range(257):
            self.write("f%03d" % i, b"%d" % i)
        out = os.path.join(self.dir, "two")
        self.packed(LINUX, out)
        self.assertEqual([int(k["Count"]) for _, k in self.parts_of(out)], [256, 1])
        # Without --url the manifests name none; the parts are placed beside the installer.
        self.assertNotIn("Url", ini(os.path.join(out, "manifest-002.ini"))["Package"])

        os.remove(os.path.join(self.src, "f256"))
        for packer in BOTH:
            one = os.path.join(self.dir, "one-" + packer.name)
            line = self.packed(packer, one, "--url", "https://h.example/app-1.0.cab", "--mirror", "https://m.example/")
            self.assertEqual(sorted(os.listdir(one)), ["application.cab", "manifest.ini", "release.ini"])
            self.assertIn("application.cab (", line)
            self.assertTrue(line.rstrip().endswith("release.ini"), line)
            index = read_text(os.path.join(one, "release.ini"))
            self.assertIn("\r\nParts=1\r\nCount=256\r\n", index)
            self.assertIn("\r\nMirrors=1\r\nMirror1=https://m.example/\r\n\r\n[Part1]\r\nManifest=manifest.ini\r\n"
                          "Package=application.cab\r\nCount=256\r\n", index)
            # A full URL stays what it was for a release of one part.
            self.assertEqual(ini(os.path.join(one, "manifest.ini"))["Package"]["Url"], "https://h.example/app-1.0.cab")
            self.assertEqual(self.check(os.path.join(one, "release.ini")),
                             (0, "qelpack: the release is good (1 part, 256 files)"))
            self.assertEqual(self.check(os.path.join(one, "manifest.ini"), os.path.join(one, "application.cab")),
                             (0, "qelpack: the release is good (256 files)"))
        code, output = self.verify(os.path.join(self.dir, "one-linux", "release.ini"))
        self.assertEqual(code, 0, output)

    def test_above_two_gigabytes_the_parts_close_at_the_two_gigabyte_limits(self):
        """Five sparse files: with --part-size at its largest (2,000,000,000) two of them fill a
        part. The suite runs the same layout at a thousandth of the size against a thousandth
        of the limit; QEL_TEST_BIG=1 runs the real sizes (4.5 GB, totals beyond 32 bits)."""
        scale = 1 if BIG else 1000
        size, limit = 900000000 // scale, 2000000000 // scale
        os.makedirs(self.src)
        for i in range(5):
            with open(os.path.join(self.src, "level%d.pak" % i), "wb") as f:
                f.truncate(size)   # sparse where the file system allows it
        for packer in BOTH:
            out = os.path.join(self.dir, "out-" + packer.name)
            self.packed(packer, out, "--part-size", str(limit))
            parts = self.parts_of(out)
            self.assertEqual([int(k["Count"]) for _, k in parts], [2, 2, 1])
            self.assertEqual([int(k["UnpackedSize"]) for _, k in parts], [2 * size, 2 * size, size])
            release = ini(os.path.join(out, "release.ini"))["Release"]
            self.assertEqual(int(release["UnpackedSize"]), 5 * size)
            self.assertEqual(self.check(os.path.join(out, "release.ini")),
                             (0, "qelpack: the release is good (3 parts, 5 files)"))
            shutil.rmtree(out)
        self.assertEqual(os.listdir(self.tmp), [])

    def test_the_default_part_size_is_64_megabytes_of_package(self):
        # 40,000,000 random bytes twice: together they would pass 64,000,000.
        for name in ("a.bin", "b.bin"):
            self.write(name, os.urandom(40000000))
        out = os.path.join(self.dir, "out")
        self.packed(LINUX, out)
        self.assertEqual([int(k["Count"]) for _, k in self.parts_of(out)], [1, 1])


# name: (make the case, extra arguments, expected message, systems that cannot make it)
def make_plain(t):
    t.write("a.txt")


def make_257(t):
    for i in range(257):
        t.write("f%03d" % i)


def make_huge(t):
    os.makedirs(t.src)
    t.write("small.txt")
    with open(os.path.join(t.src, "huge.bin"), "wb") as f:
        f.truncate(2000000001)  # sparse: refused before a byte is read


def make_old_release(t):
    t.write("a.txt")
    t.write("release.ini", b"\xff\xfe", root=t.out)


def make_folder_in_the_way(t):
    t.write("a.txt")
    os.makedirs(os.path.join(t.out, "application-002.cab"))


SINGLE = "the release needs 2 parts, but --url names a single package; give a base ending in / (each part's package " \
         "name is added to it)"
MIRROR_RULE = "--mirror must be an https URL with a host and a path, without user name, password, query or fragment, " \
              "of at most 2047 characters"
LONG_BASE = "https://h.example/" + "a" * (2047 - len("https://h.example/") - len("application.cab")) + "/"

REFUSALS = [
    ("a full --url for a release of parts", make_257, ("--url", "https://h.example/app.cab"), "qelpack: refused: " + SINGLE),
    ("--mirror without --url", make_plain, ("--mirror", "https://m.example/"),
     "qelpack: refused: --mirror needs --url (mirrors are fallbacks for the packages' own address)"),
    ("http mirror", make_plain, ("--url", "https://h.example/", "--mirror", "http://m.example/"),
     "qelpack: refused: " + MIRROR_RULE),
    ("mirror with a query", make_plain, ("--url", "https://h.example/", "--mirror", "https://m.example/?a=/"),
     "qelpack: refused: " + MIRROR_RULE),
    ("mirror with a password", make_plain, ("--url", "https://h.example/", "--mirror", "https://u:p@m.example/"),
     "qelpack: refused: " + MIRROR_RULE),
    ("mirror with CR LF", make_plain, ("--url", "https://h.example/", "--mirror", "https://m.example/\r\nMirror2=x/"),
     "qelpack: refused: --mirror holds a control character"),
    ("mirror that is no base", make_plain, ("--url", "https://h.example/", "--mirror", "https://m.example/app.cab"),
     "qelpack: refused: --mirror https://m.example/app.cab is not a base ending in / (each part's package name is "
     "added to it)"),
    ("mirror twice", make_plain, ("--url", "https://h.example/", "--mirror", "https://m.example/", "--mirror",
                                  "https://m.example/"),
     "qelpack: refused: --mirror https://m.example/ is given twice"),
    ("mirror is the url", make_plain, ("--url", "https://h.example/", "--mirror", "https://h.example/"),
     "qelpack: refused: --mirror https://h.example/ is the --url base itself"),
    ("17 mirrors", make_plain, ("--url", "https://h.example/") + sum((("--mirror", "https://m%d.example/" % i)
                                                                      for i in range(17)), ()),
     "qelpack: refused: --mirror is given more than 16 times"),
    ("mirror without a value", make_plain, ("--url", "https://h.example/", "--mirror"),
     "qelpack: refused: --mirror needs an address"),
    ("base too long for the package name", make_plain, ("--url", LONG_BASE),
     "qelpack: refused: --url plus the package name application.cab is longer than 2047 characters"),
    ("part size 0", make_plain, ("--part-size", "0"),
     "qelpack: refused: --part-size 0 is not a number of bytes from 1 to 2000000000"),
    ("part size too large", make_plain, ("--part-size", "2000000001"),
     "qelpack: refused: --part-size 2000000001 is not a number of bytes from 1 to 2000000000"),
    ("part size not a number", make_plain, ("--part-size", "64MB"),
     "qelpack: refused: --part-size 64MB is not a number of bytes from 1 to 2000000000"),
    ("part size negative", make_plain, ("--part-size", "-5"),
     "qelpack: refused: --part-size -5 is not a number of bytes from 1 to 2000000000"),
    ("part size twice", make_plain, ("--part-size", "1000", "--part-size", "1000"),
     "qelpack: refused: --part-size is given twice"),
    ("part size without a value", make_plain, ("--part-size",), "qelpack: refused: --part-size needs a number of bytes"),
    ("a file over 2,000,000,000 bytes", make_huge, (),
     "qelpack: refused huge.bin: it is larger than 2,000,000,000 bytes"),
    ("a release in OUT_DIR", make_old_release, (),
     "qelpack: refused: <DIR>/out already holds a release (release.ini); use --force to replace it"),
    ("a folder of a release file's name", make_folder_in_the_way, ("--force",),
     "qelpack: refused: <DIR>/out/application-002.cab is not a regular file, so no release can replace it"),
]


class Refusals(Case):
    def normalised(self, packer, stderr):
        text = stderr.decode("utf-8", "replace")
        prefix = win(self.dir) if packer is WINDOWS else self.dir
        return re.sub(re.escape(prefix) + r"[^ ]*", lambda m: "<DIR>" + m.group(0)[len(prefix):].replace("\\", "/"), text)

    def test_one_table_of_refusals_for_both_packers(self):
        """Every case: exit 2, one line, the same words from both packers, nothing written."""
        self.out = os.path.join(self.dir, "out")
        for name, make, extra, expected in REFUSALS:
            for packer in BOTH:
                with self.subTest(case=name, packer=packer.name):
                    shutil.rmtree(self.src, ignore_errors=True)
                    shutil.rmtree(self.out, ignore_errors=True)
                    make(self)
                    before = sorted(os.listdir(self.out)) if os.path.isdir(self.out) else None
                    result = self.pack(packer, self.out, *extra)
                    self.assertEqual(result.returncode, 2, result.stdout + result.stderr)
                    self.assertEqual(self.normalised(packer, result.stderr), expected + "\n")
                    self.assertEqual(result.stdout, b"")
                    after = sorted(os.listdir(self.out)) if os.path.isdir(self.out) else None
                    self.assertEqual(after, before, "the refusal wrote into OUT_DIR")
                    self.assertEqual(os.listdir(self.tmp), [])


class BrokenIndexes(Case):
    @classmethod
    def setUpClass(cls):
        """One good release of three parts (the Linux packer's), copied for every case."""
        cls.base = tempfile.mkdtemp(prefix="qelpack-parts-good-")
        src = os.path.join(cls.base, "src")
        cls.good = os.path.join(cls.base, "good")
        rng = random.Random(3)
        for i in range(12):
            path = os.path.join(src, "d%d" % (i % 3), "f%02d.bin" % i)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(bytes(rng.getrandbits(8) for _ in range(20000)))
        result = subprocess.run([NATIVE, "pack", src, cls.good, "--part-size", "90000", "--url", "https://h.example/r/"],
                                capture_output=True)
        assert result.returncode == 0, result.stderr
        assert len(os.listdir(cls.good)) == 7, os.listdir(cls.good)  # three parts of four files

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.base, ignore_errors=True)

    def copy(self):
        release = os.path.join(self.dir, "release-%d" % len(os.listdir(self.dir)))
        shutil.copytree(self.good, release)
        return release

    def edit(self, path, old, new, count=1):
        text = read_text(path)
        self.assertIn(old, text)
        write_text(path, text.replace(old, new, count))

    def broken(self, release, expected):
        """check refuses the release with expected; <INDEX> stands for the index's path."""
        code, line = self.check(os.path.join(release, "release.ini"))
        expected = expected.replace("<INDEX>", os.path.join(release, "release.ini"))
        self.assertEqual((code, line), (1, "qelpack: the release is broken: " + expected))

    def test_the_good_release_passes(self):
        self.assertEqual(self.check(os.path.join(self.good, "release.ini")),
                         (0, "qelpack: the release is good (3 parts, 12 files)"))

    def test_a_missing_part_file(self):
        release = self.copy()
        os.remove(os.path.join(release, "manifest-002.ini"))
        self.broken(release, "part 2's manifest manifest-002.ini is missing")
        # The Windows packer's verify refuses it with the same words, before any delivery.
        code, output = self.verify(os.path.join(release, "release.ini"))
        self.assertEqual(code, 1)
        self.assertEqual(output.strip(), "qelpack: the release is broken: part 2's manifest manifest-002.ini is missing")
        release = self.copy()
        os.remove(os.path.join(release, "application-003.cab"))
        self.broken(release, "part 3's package application-003.cab is missing")

    def test_a_part_listed_twice(self):
        release = self.copy()
        index = os.path.join(release, "release.ini")
        self.edit(index, "Manifest=manifest-003.ini", "Manifest=manifest-002.ini")
        self.broken(release, "<INDEX>: part 3's Manifest manifest-002.ini is listed by part 2 too")
        release = self.copy()
        self.edit(os.path.join(release, "release.ini"), "Package=application-003.cab", "Package=APPLICATION-001.cab")
        self.broken(release, "<INDEX>: part 3's Package APPLICATION-001.cab is listed by part 1 too")
        release = self.copy()
        text = read_text(os.path.join(release, "release.ini"))
        part2 = text[text.index("[Part2]"):text.index("[Part3]")]
        write_text(os.path.join(release, "release.ini"), text + "\r\n" + part2)
        self.broken(release, "<INDEX>: the section [Part2] appears twice")

    def test_a_part_count_that_disagrees_with_the_sections(self):
        release = self.copy()
        self.edit(os.path.join(release, "release.ini"), "Parts=3", "Parts=2")
        self.broken(release, "<INDEX>: Parts is 2 but the index has a section [Part3]")
        release = self.copy()
        self.edit(os.path.join(release, "release.ini"), "Parts=3", "Parts=4")
        self.broken(release, "<INDEX>: Parts is 4 but the index has no section [Part4]")
        release = self.copy()
        self.edit(os.path.join(release, "release.ini"), "[Part3]", "[Part03]")
        self.broken(release, "<INDEX>: Parts is 3 but the index has a section [Part03]")

    def test_a_name_that_appears_in_two_parts(self):
        first = ini(os.path.join(self.good, "manifest-001.ini"))["0"]["Name"]
        theirs = ini(os.path.join(self.good, "manifest-002.ini"))["1"]["Name"]
        release = self.copy()
        self.edit(os.path.join(release, "manifest-002.ini"), "Name=" + theirs, "Name=" + first)
        self.broken(release, "the Name %s of part 2 is given in part 1 too" % first)
        # Letter case does not tell two files apart on Windows.
        release = self.copy()
        self.edit(os.path.join(release, "manifest-003.ini"), "Name=" + ini(os.path.join(self.good, "manifest-003.ini"))["0"]["Name"],
                  "Name=" + first.upper())
        self.broken(release, "the Name %s of part 3 is given in part 1 too (as %s)" % (first.upper(), first))
        # A file of one part where another part has a folder.
        release = self.copy()
        self.edit(os.path.join(release, "manifest-002.ini"), "Name=" + theirs, "Name=" + first.split("\\")[0])
        self.broken(release, "the Name %s of part 2 is a folder in part 1" % first.split("\\")[0])
        code, output = self.verify(os.path.join(release, "release.ini"))
        self.assertEqual((code, output.strip()), (1, "qelpack: the release is broken: the Name %s of part 2 is a folder "
                                                     "in part 1" % first.split("\\")[0]))

    def test_a_manifest_for_an_index_and_an_index_for_a_manifest(self):
        manifest, index = os.path.join(self.good, "manifest-001.ini"), os.path.join(self.good, "release.ini")
        self.assertEqual(self.check(manifest), (1, "qelpack: the release is broken: %s: this is a manifest, not a release "
                                                   "index (give it with its package: MANIFEST PACKAGE)" % manifest))
        self.assertEqual(self.check(index, os.path.join(self.good, "application-001.cab")),
                         (1, "qelpack: the release is broken: %s: this is a release index, not a manifest (give it "
                             "alone: RELEASE_INI)" % index))

    def test_part_files_named_outside_the_index_folder(self):
        for name, rule in (("..\\application-001.cab", "the name holds one of \\ / : * ? \" < > | (Windows cannot store it)"),
                           ("..", "the name ends in a dot or a space (Windows opens another file under it)"),
                           ("NUL.cab", "the name is a Windows device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9)"),
                           ("", "the name is empty")):
            with self.subTest(name=name):
                release = self.copy()
                self.edit(os.path.join(release, "release.ini"), "Package=application-001.cab", "Package=" + name)
                self.broken(release, "<INDEX>: part 1's Package %s is not a plain file name: %s" % (name, rule))

    def test_an_index_that_disagrees_with_its_parts(self):
        release = self.copy()
        manifest = ini(os.path.join(release, "manifest-002.ini"))["Package"]
        self.edit(os.path.join(release, "release.ini"), "Size=" + manifest["Size"] + "\r\nSha256=" + manifest["Sha256"],
                  "Size=%d\r\nSha256=%s" % (int(manifest["Size"]) + 1, manifest["Sha256"]))
        total = ini(os.path.join(release, "release.ini"))["Release"]["Size"]
        self.edit(os.path.join(release, "release.ini"), "\r\nSize=%s\r\nUnpackedSize=" % total,
                  "\r\nSize=%d\r\nUnpackedSize=" % (int(total) + 1))
        self.broken(release, "part 2's Size in the index differs from its manifest's")
        release = self.copy()
        self.edit(os.path.join(release, "release.ini"), "Count=12", "Count=11")
        self.broken(release, "<INDEX>: the release's Count is not the sum of its parts'")
        release = self.copy()
        self.edit(os.path.join(release, "manifest-002.ini"), "application-002.cab", "application-003.cab")
        self.broken(release, "part 2's Url does not end in /application-002.cab")
        release = self.copy()
        self.edit(os.path.join(release, "manifest-003.ini"), "https://h.example/r/", "https://other.example/r/")
        self.broken(release, "part 3's Url has another base than part 1's")

    def test_a_package_replaced_by_another_parts(self):
        """Parts 1 and 2 hold packages of one size: the digest tells them apart."""
        release = self.copy()
        shutil.copy(os.path.join(release, "application-001.cab"), os.path.join(release, "application-002.cab"))
        self.broken(release, "part 2 (application-002.cab): the package's SHA-256 differs from the manifest's")
        code, output = self.verify(os.path.join(release, "release.ini"))
        self.assertEqual(code, 1)
        self.assertIn("应用包 SHA-256 校验失败，未开始安装。", output)
        self.assertTrue(output.strip().endswith("qelpack: the release is broken: part 2 of 3 (application-002.cab) did "
                                                "not end ready"), output[-300:])


class Readers(Case):
    def test_the_index_reads_with_nsis_readinistr(self):
        """An NSIS installer reads the index as the include will: ReadINIStr, the profile API."""
        for i in range(300):
            self.write("f%03d" % i, b"%d" % i)
        out = os.path.join(self.dir, "out")
        self.packed(LINUX, out, "--url", "https://h.example/r/", "--mirror", "https://m.example/a/")
        script = os.path.join(self.dir, "read.nsi")
        result = os.path.join(self.dir, "read.txt")
        with open(script, "w") as f:
            f.write("Unicode true\nOutFile read.exe\nSilentInstall silent\nRequestExecutionLevel user\n"
                    "Section\n"
                    '  ReadINIStr $0 "${INDEX}" Release Parts\n'
                    '  ReadINIStr $1 "${INDEX}" Part2 Package\n'
                    '  ReadINIStr $2 "${INDEX}" Release Mirror1\n'
                    '  ReadINIStr $3 "${INDEX}" Part2 Sha256\n'
                    '  ReadINIStr $4 "${INDEX}" Release UnpackedSize\n'
                    '  FileOpen $5 "${RESULT}" w\n'
                    '  FileWriteUTF16LE $5 "$0|$1|$2|$3|$4"\n'
                    "  FileClose $5\n"
                    "SectionEnd\n")
        target = "amd64-unicode" if os.environ.get("QEL_WINE_ARCH") == "win64" else "x86-unicode"
        made = subprocess.run(["makensis", "-V2", "-DINDEX=" + win(os.path.join(out, "release.ini")), "-DRESULT=" + win(result),
                               "-X" + "Target " + target, script], capture_output=True, cwd=self.dir)
        self.assertEqual(made.returncode, 0, made.stdout + made.stderr)
        # Output to files: a Wine program's services may keep inherited pipes open.
        with tempfile.TemporaryFile() as sink:
            ran = subprocess.run([WINE_RUN, os.path.join(self.dir, "read.exe")], stdout=sink, stderr=sink,
                                 stdin=subprocess.DEVNULL, timeout=120)
        self.assertEqual(ran.returncode, 0)
        index = ini(os.path.join(out, "release.ini"))
        with open(result, "rb") as f:
            read = f.read().decode("utf-16-le").lstrip("\ufeff")
        self.assertEqual(read, "2|application-002.cab|https://m.example/a/|%s|%s" % (
            index["Part2"]["Sha256"], index["Release"]["UnpackedSize"]))

    def test_relative_paths_from_another_current_folder_give_the_same_release(self):
        for relative, data in {"a/b.txt": b"b", "c.txt": b"c" * 5000, "d/e/f.bin": os.urandom(3000)}.items():
            self.write(relative, data)
        for packer in BOTH:
            absolute = os.path.join(self.dir, "abs-" + packer.name)
            self.packed(packer, absolute, "--part-size", "4000")
            elsewhere = os.path.join(self.dir, "elsewhere")
            os.makedirs(elsewhere, exist_ok=True)
            result = self.pack(packer, os.path.join("..", "rel-" + packer.name), "--part-size", "4000",
                               src=os.path.join("..", "src"), cwd=elsewhere)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assert_same_bytes(absolute, os.path.join(self.dir, "rel-" + packer.name))
            self.assertEqual(self.check("release.ini", cwd=absolute), (0, "qelpack: the release is good (3 parts, 3 files)"))
            verified = WINDOWS.run("verify", "release.ini", cwd=absolute)
            self.assertEqual(verified.returncode, 0, verified.stdout)
            self.assertIn("the release is good (3 parts)", verified.stdout.decode("utf-8", "replace"))

    def test_a_thousand_parts_are_numbered_with_four_digits(self):
        for i in range(1000):
            self.write("f%04d" % i, b"%d" % i)
        out = os.path.join(self.dir, "out")
        self.packed(LINUX, out, "--part-size", "1")
        names = sorted(os.listdir(out))
        self.assertEqual(len(names), 2001)
        self.assertEqual(names[:2] + names[999:1001] + names[-2:], [
            "application-0001.cab", "application-0002.cab", "application-1000.cab", "manifest-0001.ini",
            "manifest-1000.ini", "release.ini"])
        self.assertEqual(self.check(os.path.join(out, "release.ini")),
                         (0, "qelpack: the release is good (1000 parts, 1000 files)"))
        # Replaced by a release of one part: every numbered file of the old one goes.
        shutil.rmtree(self.src)
        self.write("only.txt", b"one")
        self.packed(LINUX, out, "--force")
        self.assertEqual(sorted(os.listdir(out)), ["application.cab", "manifest.ini", "release.ini"])


class Replacing(Case):
    def release(self, packer, out, count, *extra):
        shutil.rmtree(self.src, ignore_errors=True)
        for i in range(count):
            self.write("f%03d.txt" % i, b"file %d of %d" % (i, count))
        return self.pack(packer, out, *extra)

    def test_force_replaces_a_whole_release_and_leftovers_of_a_killed_run_go(self):
        for packer in BOTH:
            with self.subTest(packer=packer.name):
                out = os.path.join(self.dir, "out-" + packer.name)
                self.assertEqual(self.release(packer, out, 700).returncode, 0)   # three parts
                self.write("notes.txt", b"the author's", root=out)
                self.write("application-x.cab", b"not ours", root=out)
                # What a run killed while it wrote or moved files would have left.
                for leftover in ("application-002.cab.partial", "manifest-004.ini.partial", "release.ini.partial",
                                 "manifest-001.ini.old", "application-009.cab.old"):
                    self.write(leftover, b"stale", root=out)
                self.assertEqual(self.release(packer, out, 300, "--force").returncode, 0)  # two parts
                self.assertEqual(sorted(os.listdir(out)), ["application-001.cab", "application-002.cab",
                                                           "application-x.cab", "manifest-001.ini", "manifest-002.ini",
                                                           "notes.txt", "release.ini"])
                self.assertEqual(self.check(os.path.join(out, "release.ini")),
                                 (0, "qelpack: the release is good (2 parts, 300 files)"))
                # Parts to one part and back.
                self.assertEqual(self.release(packer, out, 3, "--force").returncode, 0)
                self.assertEqual(sorted(os.listdir(out)), ["application-x.cab", "application.cab", "manifest.ini",
                                                           "notes.txt", "release.ini"])
                self.assertEqual(self.release(packer, out, 257, "--force").returncode, 0)
                self.assertEqual(sorted(os.listdir(out)), ["application-001.cab", "application-002.cab",
                                                           "application-x.cab", "manifest-001.ini", "manifest-002.ini",
                                                           "notes.txt", "release.ini"])
                self.assertEqual(self.check(os.path.join(out, "release.ini")),
                                 (0, "qelpack: the release is good (2 parts, 257 files)"))
                result = self.release(packer, out, 3)
                self.assertEqual(result.returncode, 2)
                self.assertIn("already holds a release (release.ini); use --force", result.stderr.decode())

    def test_force_with_a_part_of_the_old_release_held_open_keeps_the_old_release_whole(self):
        """Under Wine a reader's handle without delete sharing blocks the rename, as on Windows.
        The index and the manifests have been moved aside when a package of the old release
        cannot be: every one of them comes back."""
        out = os.path.join(self.dir, "out")
        self.assertEqual(self.release(WINDOWS, out, 700).returncode, 0)
        old = snapshot(out)
        holder = subprocess.Popen([WINE_RUN, os.path.join(BIN, "holdfile.exe"), win(os.path.join(out, "application-003.cab"))],
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        try:
            self.assertEqual(holder.stdout.readline().rstrip(), b"held")
            result = self.release(WINDOWS, out, 300, "--force")
        finally:
            holder.stdin.close()
            holder.wait(timeout=60)
            holder.stdout.close()
        self.assertEqual(result.returncode, 1, result.stderr)
        lines = result.stderr.decode("utf-8", "replace").splitlines()
        self.assertEqual(len(lines), 1, lines)
        self.assertRegex(lines[0], r"\Aqelpack: cannot move the old application-003\.cab aside \(system error \d+\); "
                                   r"the old release is unchanged\Z")
        self.assertEqual(snapshot(out), old)
        self.assertEqual(self.release(WINDOWS, out, 300, "--force").returncode, 0)
        self.assertEqual(len(self.parts_of(out)), 2)

    def test_a_release_file_in_other_letter_case_is_replaced_on_windows(self):
        out = os.path.join(self.dir, "out")
        os.makedirs(out)
        self.write("RELEASE.INI", b"an old index", root=out)
        self.write("Application-001.CAB", b"an old part", root=out)
        result = self.release(WINDOWS, out, 3)
        self.assertEqual(result.returncode, 2)
        self.assertIn("already holds a release (RELEASE.INI); use --force", result.stderr.decode())
        self.assertEqual(self.release(WINDOWS, out, 3, "--force").returncode, 0)
        self.assertEqual(sorted(os.listdir(out)), ["application.cab", "manifest.ini", "release.ini"])

    def test_a_failure_in_a_later_part_leaves_the_old_release_and_no_partial_file(self):
        """The last part's file grows while it is read: parts already written are removed."""
        out = os.path.join(self.dir, "out")
        self.assertEqual(self.release(LINUX, out, 2).returncode, 0)
        old = snapshot(out)
        for i in range(300):
            self.write("f%03d.txt" % i, b"%d" % i)
        path = self.write("zz-growing.log", b"x" * 4000000)
        writer = subprocess.Popen([sys.executable, "-c", "import sys,time\n"
                                   "f=open(sys.argv[1],'ab',buffering=0)\n"
                                   "f.write(b'y'); print('growing', flush=True)\n"
                                   "while True:\n f.write(b'y'*512); time.sleep(0.0002)", path], stdout=subprocess.PIPE)
        try:
            self.assertEqual(writer.stdout.readline(), b"growing\n")
            result = self.pack(LINUX, out, "--force")
        finally:
            writer.kill()
            writer.wait()
            writer.stdout.close()
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertRegex(result.stderr.decode(), r"\Aqelpack: zz-growing\.log changed while it was read .*\n\Z")
        self.assertEqual(snapshot(out), old)
        self.assertEqual(os.listdir(self.tmp), [])

    def test_a_full_disk_leaves_nothing_behind(self):
        """OUT_DIR on a 1 MB file system (root only): the third part does not fit."""
        if os.geteuid() != 0:
            self.skipTest("mounting a small file system needs root")
        disk = os.path.join(self.dir, "disk")
        os.makedirs(disk)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", disk], capture_output=True).returncode != 0:
            self.skipTest("tmpfs cannot be mounted here")
        try:
            for i in range(6):
                self.write("r%d.bin" % i, os.urandom(200000))
            for packer in BOTH:
                with self.subTest(packer=packer.name):
                    out = os.path.join(disk, "out")
                    result = self.pack(packer, out, "--part-size", "450000")
                    self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
                    lines = result.stderr.decode("utf-8", "replace").splitlines()
                    self.assertEqual(len(lines), 1, lines)
                    self.assertRegex(lines[0], r"\Aqelpack: cannot write .*application-003\.cab\.partial[: ]")
                    self.assertEqual(os.listdir(disk), [], "the failed run left files behind")
                    # An old release in place stays as it was.
                    os.makedirs(out)
                    self.write("only.txt", b"old", root=os.path.join(self.dir, "old-src"))
                    self.assertEqual(self.pack(packer, out, src=os.path.join(self.dir, "old-src")).returncode, 0)
                    old = snapshot(out)
                    result = self.pack(packer, out, "--part-size", "450000", "--force")
                    self.assertEqual(result.returncode, 1, result.stderr)
                    self.assertEqual(snapshot(out), old)
                    shutil.rmtree(out)
                    shutil.rmtree(os.path.join(self.dir, "old-src"))
        finally:
            subprocess.run(["umount", disk])


if __name__ == "__main__":
    unittest.main(verbosity=2)
