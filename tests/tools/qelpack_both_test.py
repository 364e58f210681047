#!/usr/bin/env python3
"""Both release packers side by side: the Windows qelpack.exe under Wine and the native Linux
qelpack. One table of refusals runs against both (same message, same exit code, nothing
written); the same folder packed by both gives the same manifest apart from the package's Size
and Sha256; the Linux-made release is delivered through qelfetch (`qelpack verify` of the
Windows build); `qelpack check` accepts good releases and refuses broken ones; --force replaces
a release whose files are held open."""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

BIN = sys.argv.pop(1)          # the Windows build's bin folder
WINE_RUN = sys.argv.pop(1)     # runs a Windows program under the build's Wine prefix
NATIVE = sys.argv.pop(1)       # the native qelpack
PREFIX = os.environ.get("WINEPREFIX") or os.path.join(os.path.dirname(BIN), "wine")


def win(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Packer:
    def __init__(self, name):
        self.name = name

    def run(self, *args, env=None, stdin=None):
        if self.name == "linux":
            return subprocess.run([NATIVE, *args], capture_output=True, timeout=120, env=env)
        converted = [win(a) if a.startswith("/") else a for a in args]
        return subprocess.run([WINE_RUN, os.path.join(BIN, "qelpack.exe"), *converted], capture_output=True, timeout=120)


LINUX = Packer("linux")
WINDOWS = Packer("windows")
BOTH = (LINUX, WINDOWS)


def read_manifest(path):
    with open(path, "rb") as f:
        raw = f.read()
    assert raw.startswith(b"\xff\xfe"), "manifest is not UTF-16LE with a byte-order mark"
    return raw[2:].decode("utf-16-le")


def write_manifest(path, text):
    with open(path, "wb") as f:
        f.write(b"\xff\xfe" + text.encode("utf-16-le"))


def sha256(data):
    return hashlib.sha256(data).hexdigest()


class Case(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="qelpack-both-")
        self.src = os.path.join(self.dir, "src")
        self.out = os.path.join(self.dir, "out")
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

    def pack(self, packer, *extra, src=None, out=None):
        return packer.run("pack", src or self.src, out or self.out, *extra, env=self.env)

    def normalised(self, packer, stderr):
        """The message with this test's folder written the same way for both systems."""
        text = stderr.decode("utf-8", "replace")
        prefix = win(self.dir) if packer is WINDOWS else self.dir
        return re.sub(re.escape(prefix) + r"[^ ]*", lambda m: "<DIR>" + m.group(0)[len(prefix):].replace("\\", "/"), text)


# name: (make the case in the test, extra arguments, expected message, systems that cannot make it)
def make_plain(t):
    t.write("a.txt")


REFUSALS = [
    ("empty folder", lambda t: os.makedirs(t.src), (), "qelpack: refused: the source folder holds no files", ()),
    ("empty url", make_plain, ("--url", ""), "qelpack: refused: --url is empty", ()),
    ("url with CR LF", make_plain, ("--url", "https://h/a.cab\r\n[0]\r\nName=..\\..\\Windows\\System32\\evil.dll"),
     "qelpack: refused: --url holds a control character", ()),
    ("url with a tab", make_plain, ("--url", "https://h/a\t.cab"), "qelpack: refused: --url holds a control character", ()),
    ("url twice", make_plain, ("--url", "https://h/a.cab", "--url", "https://h/b.cab"),
     "qelpack: refused: --url is given twice", ()),
    ("http url", make_plain, ("--url", "http://h/a.cab"),
     "qelpack: refused: --url must be an https URL with a host and a path, without user name, password, query or "
     "fragment, of at most 2047 characters", ()),
    ("url with a user", make_plain, ("--url", "https://u:p@h/a.cab"),
     "qelpack: refused: --url must be an https URL with a host and a path, without user name, password, query or "
     "fragment, of at most 2047 characters", ()),
    ("unknown option", make_plain, ("--fast",),
     "qelpack: refused: unknown argument --fast; usage: qelpack pack SOURCE_DIR OUT_DIR [--url https://host/path[/]] "
     "[--mirror https://host/path/]... [--part-size BYTES] [--force] | qelpack verify RELEASE_INI or MANIFEST PACKAGE "
     "(Windows) | qelpack check RELEASE_INI or MANIFEST PACKAGE (Linux) | qelpack picture IN OUT.bmp [--size N] "
     "[--accent 0x00BBGGRR] [--invert] | qelpack picture --check FILE.bmp", ()),
    ("trailing dot", lambda t: t.write("app.dll."), (),
     "qelpack: refused app.dll.: the name ends in a dot or a space (Windows opens another file under it)", ("windows",)),
    ("trailing space", lambda t: t.write("sub/app.dll "), (),
     "qelpack: refused sub\\app.dll : the name ends in a dot or a space (Windows opens another file under it)",
     ("windows",)),
    ("leading space", lambda t: t.write(" app.dll"), (),
     "qelpack: refused  app.dll: the name begins with a space (Windows changes it)", ()),
    ("colon", lambda t: t.write("app.dll:stream"), (),
     "qelpack: refused app.dll:stream: the name holds one of \\ / : * ? \" < > | (Windows cannot store it)", ("windows",)),
    ("star", lambda t: t.write("a*b"), (),
     "qelpack: refused a*b: the name holds one of \\ / : * ? \" < > | (Windows cannot store it)", ("windows",)),
    ("backslash in a Linux name", lambda t: t.write("a\\b"), (),
     "qelpack: refused a\\b: the name holds one of \\ / : * ? \" < > | (Windows cannot store it)", ("windows",)),
    ("control character", lambda t: t.write("a\x01b"), (),
     "qelpack: refused a\\x01b: the name holds a control character", ("windows",)),
    ("invalid UTF-8", lambda t: t.write(b"caf\xe9".decode("utf-8", "surrogateescape")), (),
     "qelpack: refused caf\\xe9: the name is not valid UTF-8", ("windows",)),
    ("device name NUL", lambda t: t.write("nul.txt"), (),
     "qelpack: refused nul.txt: the name is a Windows device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9)", ()),
    ("device name COM1", lambda t: t.write("bin/COM1"), (),
     "qelpack: refused bin\\COM1: the name is a Windows device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9)", ()),
    ("device name aux.log", lambda t: t.write("Aux.log"), (),
     "qelpack: refused Aux.log: the name is a Windows device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9)", ()),
    ("device folder", lambda t: t.write("con/readme.txt"), (),
     "qelpack: refused con: the name is a Windows device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9)", ()),
    ("case collision of files", lambda t: (t.write("readme.txt"), t.write("README.TXT")), (),
     "qelpack: refused readme.txt: it differs from README.TXT only in letter case (they would collide on Windows)", ()),
    ("case collision of folders", lambda t: (t.write("Bin/a.exe"), t.write("bin/b.exe")), (),
     "qelpack: refused bin: it differs from Bin only in letter case (they would collide on Windows)", ()),
    ("case collision beyond ASCII", lambda t: (t.write("Ärger.txt"), t.write("ärger.txt")), (),
     "qelpack: refused ärger.txt: it differs from Ärger.txt only in letter case (they would collide on Windows)", ()),
    ("link to a file outside", lambda t: (t.write("a.txt"), os.symlink("/etc/passwd", os.path.join(t.src, "pw"))), (),
     "qelpack: refused pw: it is a link (or a reparse point); a release holds regular files only", ("windows",)),
    ("link to a folder (a loop)", lambda t: (t.write("a/b.txt"), os.symlink("..", os.path.join(t.src, "a", "up"))), (),
     "qelpack: refused a\\up: it is a link (or a reparse point); a release holds regular files only", ("windows",)),
    ("FIFO", lambda t: (t.write("a.txt"), os.mkfifo(os.path.join(t.src, "pipe"))), (),
     "qelpack: refused pipe: it is a FIFO; a release holds regular files only", ("windows",)),
    ("name of 241 units", lambda t: t.write("n" * 100 + "/" + "n" * 140), (),
     "qelpack: refused " + "n" * 100 + "\\" + "n" * 140 + ": the name is longer than 240 UTF-16 units", ()),
    ("OUT_DIR is SOURCE_DIR", make_plain, ("<same>",),
     "qelpack: refused: OUT_DIR <DIR>/src is SOURCE_DIR or inside it (the release would pack itself)", ()),
    ("OUT_DIR inside SOURCE_DIR", make_plain, ("<inside>",),
     "qelpack: refused: OUT_DIR <DIR>/src/release is SOURCE_DIR or inside it (the release would pack itself)", ()),
    ("outputs exist", lambda t: (t.write("a.txt"), t.write("manifest.ini", root=t.out)), (),
     "qelpack: refused: <DIR>/out already holds a release (manifest.ini); use --force to replace it", ()),
]


class Refusals(Case):
    def test_one_table_of_refusals_for_both_packers(self):
        """Every case: exit 2, one line, the same words from both packers, nothing written."""
        for name, make, extra, expected, cannot in REFUSALS:
            for packer in BOTH:
                with self.subTest(case=name, packer=packer.name):
                    if packer.name in cannot:
                        continue
                    shutil.rmtree(self.src, ignore_errors=True)
                    shutil.rmtree(self.out, ignore_errors=True)
                    make(self)
                    out = self.out
                    args = list(extra)
                    if args == ["<same>"]:
                        out, args = self.src, []
                    elif args == ["<inside>"]:
                        out, args = os.path.join(self.src, "release"), []
                    before = sorted(os.listdir(self.out)) if os.path.isdir(self.out) else None
                    result = self.pack(packer, *args, out=out)
                    self.assertEqual(result.returncode, 2, result.stdout + result.stderr)
                    self.assertEqual(self.normalised(packer, result.stderr), expected + "\n")
                    self.assertEqual(result.stdout, b"")
                    after = sorted(os.listdir(self.out)) if os.path.isdir(self.out) else None
                    self.assertEqual(after, before, "the refusal wrote into OUT_DIR")
                    self.assertFalse(os.path.exists(os.path.join(self.src, "release")))
                    # Scratch left behind: checked for the native packer, whose TMPDIR is private;
                    # the Wine prefix's Temp is shared with other tests running at the same time.
                    self.assertEqual(os.listdir(self.tmp), [])


SAMPLE = {
    "readme.txt": b"hello\n",
    "empty.dat": b"",
    "sixty-four-k.bin": bytes(range(256)) * 256,
    "子目录/数据.bin": os.urandom(300000),
    "子目录/说明.txt": "安装说明".encode("utf-8") * 1000,
    "Deep/er/still/file.txt": b"deep",
}


class BothPackers(Case):
    def test_the_same_folder_gives_the_same_manifest_and_readable_cabinets(self):
        for relative, data in SAMPLE.items():
            self.write(relative, data)
        outs = {}
        for packer in BOTH:
            outs[packer.name] = os.path.join(self.dir, "out-" + packer.name)
            result = self.pack(packer, "--url", "https://downloads.example.com/app/1.0/application.cab",
                               out=outs[packer.name])
            self.assertEqual(result.returncode, 0, result.stderr)
        manifests, cabinets = {}, {}
        for name, out in outs.items():
            self.assertEqual(sorted(os.listdir(out)), ["application.cab", "manifest.ini", "release.ini"], name)
            manifests[name] = read_manifest(os.path.join(out, "manifest.ini"))
            with open(os.path.join(out, "application.cab"), "rb") as f:
                cabinets[name] = f.read()
            self.assertIn("Size=%d\r\n" % len(cabinets[name]), manifests[name])
            self.assertIn("Sha256=%s\r\n" % sha256(cabinets[name]), manifests[name])
        # Apart from the package's own Size and Sha256 (the compressors differ), the same bytes.
        package_lines = re.compile(r"\A(\[Package\]\r\n(?:.*\r\n)*?)Size=\d+\r\n(.*\r\n)Sha256=[0-9a-f]{64}\r\n")
        self.assertEqual(package_lines.sub(r"\1\2", manifests["linux"]), package_lines.sub(r"\1\2", manifests["windows"]))
        self.assertTrue(manifests["linux"].startswith("[Package]\r\nFormat=qel-cab-2\r\nTarget=windows-x64\r\nCount=6\r\n"))

        names = sorted((r.replace("/", "\\") for r in SAMPLE), key=lambda s: s.encode("utf-16-be"))
        for name, out in outs.items():
            extracted = os.path.join(self.dir, "x-" + name)
            listing = subprocess.run(["cabextract", "-q", "-d", extracted, os.path.join(out, "application.cab")],
                                     capture_output=True)
            self.assertEqual(listing.returncode, 0, listing.stderr)
            self.assertEqual(sorted(os.listdir(extracted)), ["%04d" % i for i in range(len(SAMPLE))])
            for i, relative in enumerate(names):
                with open(os.path.join(extracted, "%04d" % i), "rb") as f:
                    self.assertEqual(f.read(), SAMPLE[relative.replace("\\", "/")], (name, relative))
                self.assertIn("[%d]\r\nEntry=%04d\r\nSize=%d\r\nSha256=%s\r\nName=%s\r\n" % (
                    i, i, len(SAMPLE[relative.replace("\\", "/")]), sha256(SAMPLE[relative.replace("\\", "/")]), relative),
                    manifests[name])

        # The Linux-made release, delivered through qelfetch under Wine, ends ready.
        linux = outs["linux"]
        result = WINDOWS.run("verify", os.path.join(linux, "manifest.ini"), os.path.join(linux, "application.cab"))
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("应用文件已准备好。", result.stdout.decode("utf-8", "replace"))
        # And each packer's release passes the native check.
        for out in outs.values():
            checked = LINUX.run("check", os.path.join(out, "manifest.ini"), os.path.join(out, "application.cab"))
            self.assertEqual(checked.returncode, 0, checked.stderr)
        self.assertEqual(os.listdir(self.tmp), [])

    def test_the_linux_packer_gives_the_same_bytes_twice(self):
        for relative, data in SAMPLE.items():
            self.write(relative, data)
        first, second = os.path.join(self.dir, "one"), os.path.join(self.dir, "two")
        self.assertEqual(self.pack(LINUX, out=first).returncode, 0)
        os.utime(os.path.join(self.src, "readme.txt"), (1, 1))  # times must not reach the cabinet
        self.assertEqual(self.pack(LINUX, out=second).returncode, 0)
        for name in ("application.cab", "manifest.ini"):
            with open(os.path.join(first, name), "rb") as a, open(os.path.join(second, name), "rb") as b:
                self.assertEqual(a.read(), b.read(), name)

    def test_stale_partial_files_are_removed_and_force_replaces_the_pair(self):
        for packer in BOTH:
            with self.subTest(packer=packer.name):
                shutil.rmtree(self.src, ignore_errors=True)
                shutil.rmtree(self.out, ignore_errors=True)
                self.write("a.txt", b"first")
                self.assertEqual(self.pack(packer).returncode, 0)
                # What a killed run would leave behind.
                self.write("application.cab.partial", b"stale", root=self.out)
                self.write("manifest.ini.partial", b"stale", root=self.out)
                self.write("a.txt", b"second version")
                result = self.pack(packer, "--force")
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(sorted(os.listdir(self.out)), ["application.cab", "manifest.ini", "release.ini"])
                self.assertIn("Sha256=" + sha256(b"second version"), read_manifest(os.path.join(self.out, "manifest.ini")))

    def test_force_with_the_old_release_held_open_keeps_the_old_release_whole(self):
        """Under Wine a reader's handle without delete sharing blocks the rename, as on Windows."""
        self.write("a.txt", b"old release")
        self.assertEqual(self.pack(WINDOWS).returncode, 0)
        with open(os.path.join(self.out, "manifest.ini"), "rb") as f:
            old_manifest = f.read()
        with open(os.path.join(self.out, "application.cab"), "rb") as f:
            old_cabinet = f.read()
        self.write("a.txt", b"new release")
        for held in ("manifest.ini", "application.cab"):
            with self.subTest(held=held):
                holder = subprocess.Popen([WINE_RUN, os.path.join(BIN, "holdfile.exe"), win(os.path.join(self.out, held))],
                                          stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
                try:
                    self.assertEqual(holder.stdout.readline().rstrip(), b"held")
                    result = self.pack(WINDOWS, "--force")
                finally:
                    holder.stdin.close()
                    holder.wait(timeout=60)
                    holder.stdout.close()
                self.assertEqual(result.returncode, 1, result.stderr)
                lines = result.stderr.decode("utf-8", "replace").splitlines()
                self.assertEqual(len(lines), 1, lines)
                self.assertIn("the old release is unchanged", lines[0])
                self.assertEqual(sorted(os.listdir(self.out)), ["application.cab", "manifest.ini", "release.ini"])
                with open(os.path.join(self.out, "manifest.ini"), "rb") as f:
                    self.assertEqual(f.read(), old_manifest)
                with open(os.path.join(self.out, "application.cab"), "rb") as f:
                    self.assertEqual(f.read(), old_cabinet)
        # Nothing holds it now: the new release replaces the old one.
        self.assertEqual(self.pack(WINDOWS, "--force").returncode, 0)
        self.assertIn("Sha256=" + sha256(b"new release"), read_manifest(os.path.join(self.out, "manifest.ini")))

    def test_a_file_that_grows_while_it_is_packed_fails(self):
        path = self.write("growing.log", b"x" * 4000000)
        writer = subprocess.Popen([sys.executable, "-c", "import sys,time\n"
                                   "f=open(sys.argv[1],'ab',buffering=0)\n"
                                   "f.write(b'y'); print('growing', flush=True)\n"
                                   "while True:\n f.write(b'y'*512); time.sleep(0.0002)", path], stdout=subprocess.PIPE)
        try:
            self.assertEqual(writer.stdout.readline(), b"growing\n")
            result = self.pack(LINUX)
        finally:
            writer.kill()
            writer.wait()
            writer.stdout.close()
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertRegex(result.stderr.decode(), r"\Aqelpack: growing\.log changed while it was read \(listed \d+ bytes, read .*\)\n\Z")
        self.assertFalse(os.path.exists(self.out))
        self.assertEqual(os.listdir(self.tmp), [])


class Check(Case):
    def release(self, files, out, url=None):
        src = os.path.join(self.dir, "src-" + os.path.basename(out))
        for relative, data in files.items():
            self.write(relative, data, root=src)
        extra = ("--url", url) if url else ()
        result = self.pack(LINUX, *extra, src=src, out=out)
        self.assertEqual(result.returncode, 0, result.stderr)
        return os.path.join(out, "manifest.ini"), os.path.join(out, "application.cab")

    def check(self, manifest, package):
        result = LINUX.run("check", manifest, package, env=self.env)
        lines = (result.stdout + result.stderr).decode("utf-8", "replace").splitlines()
        self.assertEqual(len(lines), 1, lines)
        return result.returncode, lines[0]

    def with_package_of(self, manifest, other_package):
        """The manifest, its package Size and Sha256 pointed at another cabinet."""
        with open(other_package, "rb") as f:
            data = f.read()
        text = read_manifest(manifest)
        text = re.sub(r"(\[Package\]\r\n(?:.*\r\n)*?)Size=\d+", r"\g<1>Size=%d" % len(data), text, count=1)
        text = re.sub(r"(\[Package\]\r\n(?:.*\r\n)*?)Sha256=[0-9a-f]+", r"\g<1>Sha256=" + sha256(data), text, count=1)
        write_manifest(manifest, text)

    def test_check_accepts_a_good_release_and_refuses_broken_ones(self):
        files = {"a.txt": b"alpha" * 1000, "b/c.bin": os.urandom(70000), "d.txt": b"delta"}
        manifest, package = self.release(files, os.path.join(self.dir, "good"), "https://h.example/app.cab")
        self.assertEqual(self.check(manifest, package), (0, "qelpack: the release is good (3 files)"))

        # A member byte changed (the package digest follows, as an attacker would make it).
        changed = dict(files, **{"b/c.bin": files["b/c.bin"][:-1] + bytes([files["b/c.bin"][-1] ^ 1])})
        _, other = self.release(changed, os.path.join(self.dir, "changed"))
        self.with_package_of(manifest, other)
        code, line = self.check(manifest, other)
        self.assertEqual(code, 1)
        self.assertEqual(line, "qelpack: the release is broken: member 0001 (b\\c.bin) differs from its entry's Sha256")

        # A changed digest in the manifest.
        manifest, package = self.release(files, os.path.join(self.dir, "digest"))
        text = read_manifest(manifest)
        entry = sha256(files["d.txt"])
        write_manifest(manifest, text.replace(entry, entry[:-1] + ("0" if entry[-1] != "0" else "1")))
        self.assertEqual(self.check(manifest, package),
                         (1, "qelpack: the release is broken: member 0002 (d.txt) differs from its entry's Sha256"))

        # A missing member and an extra member.
        manifest, package = self.release(files, os.path.join(self.dir, "missing"))
        _, fewer = self.release({k: v for k, v in files.items() if k != "d.txt"}, os.path.join(self.dir, "fewer"))
        self.with_package_of(manifest, fewer)
        self.assertEqual(self.check(manifest, fewer),
                         (1, "qelpack: the release is broken: the cabinet holds 2 members, the manifest 3 entries"))
        manifest, package = self.release(files, os.path.join(self.dir, "extra"))
        _, more = self.release(dict(files, **{"e.txt": b"extra"}), os.path.join(self.dir, "more"))
        self.with_package_of(manifest, more)
        self.assertEqual(self.check(manifest, more),
                         (1, "qelpack: the release is broken: the cabinet holds 4 members, the manifest 3 entries"))

        # The package itself changed, and a manifest whose Url a download would refuse.
        manifest, package = self.release(files, os.path.join(self.dir, "bytes"))
        with open(package, "r+b") as f:
            f.seek(-1, 2)
            last = f.read(1)
            f.seek(-1, 2)
            f.write(bytes([last[0] ^ 0xFF]))
        self.assertEqual(self.check(manifest, package),
                         (1, "qelpack: the release is broken: the package's SHA-256 differs from the manifest's"))
        manifest, package = self.release(files, os.path.join(self.dir, "url"), "https://h.example/app.cab")
        write_manifest(manifest, read_manifest(manifest).replace("https://h.example", "http://h.example"))
        code, line = self.check(manifest, package)
        self.assertEqual(code, 1)
        self.assertIn("Url breaks a rule", line)
        self.assertEqual(os.listdir(self.tmp), [])

    def test_verify_refuses_a_release_whose_url_a_download_would_refuse(self):
        manifest, package = self.release({"a.txt": b"a"}, os.path.join(self.dir, "rel"), "https://h.example/app.cab")
        self.assertEqual(WINDOWS.run("verify", manifest, package).returncode, 0)
        write_manifest(manifest, read_manifest(manifest).replace("https://h.example", "http://h.example"))
        result = WINDOWS.run("verify", manifest, package)
        self.assertEqual(result.returncode, 1)
        self.assertIn("Url breaks a rule", result.stdout.decode("utf-8", "replace"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
