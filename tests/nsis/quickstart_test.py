#!/usr/bin/env python3
"""The kits of ./qel dist as an author gets them.

DebPackage: the Debian package's control data and file list, its libraries declared (every
library the packaged qelpack needs belongs to a package in Depends), its programs and files
the ones of the build.

QuickStart: the README's quick start, run command by command as it stands in a scratch folder
holding the package, an application's files and a logo: the package installed with apt on this
machine, a release packed and checked with /usr/bin/qelpack, the band picture made, the example
built with plain makensis, installed silently and with its window (driven from outside by
nsis_pilot.exe under Xvfb) from a local HTTPS server whose test certificate the commands make
Wine trust, /D= through Wine's cmd, the certificate taken out again; then the Windows commands
of the zip under Wine's cmd. Afterwards the package is purged and every package the run
installed or marked goes back to what it was, whether the run passed or failed. Needs root;
skipped elsewhere."""
import fcntl
import glob
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tools"))
import pictures as P  # noqa: E402

TOP = os.path.abspath(sys.argv.pop(1))
BUILD = os.path.abspath(sys.argv.pop(1))      # the shipped 32-bit build (bin/, lib/, native/)
PILOT = os.path.abspath(sys.argv.pop(1))      # nsis_pilot.exe
with open(os.path.join(TOP, "VERSION")) as f:
    VERSION = f.read().strip()
DEB = "qel-kit_%s_amd64.deb" % VERSION
CERT_FILE = "/usr/local/share/ca-certificates/myapp-test.crt"


def band_size(path):
    with open(path, "rb") as f:
        return P.read_band(f.read())[:2]


def make_kits(out):
    for tool in ("make-deb.py", "make-dist.py"):
        made = subprocess.run([sys.executable, os.path.join(TOP, "tools", "dist", tool), TOP, BUILD, out],
                              capture_output=True, text=True, timeout=300)
        assert made.returncode == 0, made.stderr
    return os.path.join(out, DEB), os.path.join(out, "qel-%s.zip" % VERSION)


class DebPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="deb-test-")
        cls.deb, _ = make_kits(cls.dir)
        cls.root = os.path.join(cls.dir, "root")
        subprocess.run(["dpkg-deb", "-x", cls.deb, cls.root], check=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def field(self, name):
        return subprocess.run(["dpkg-deb", "-f", self.deb, name], capture_output=True, text=True, check=True).stdout.strip()

    def test_control_data(self):
        self.assertEqual(os.path.basename(self.deb), DEB)
        self.assertEqual(self.field("Package"), "qel-kit")
        self.assertEqual(self.field("Version"), VERSION)
        self.assertEqual(self.field("Architecture"), "amd64")
        self.assertTrue(self.field("Maintainer"))
        self.assertTrue(self.field("Description").startswith("kit for NSIS installers"))
        depends = {re.split(r"[ (]", d.strip())[0] for d in self.field("Depends").split(",")}
        self.assertIn("nsis", depends)
        # Every library the packaged program loads comes from a package it depends on.
        needed = subprocess.run(["objdump", "-p", os.path.join(self.root, "usr/bin/qelpack")], capture_output=True,
                                text=True, check=True).stdout
        libraries = re.findall(r"NEEDED\s+(\S+)", needed)
        self.assertIn("libgcab-1.0.so.0", libraries)
        self.assertIn("libpng16.so.16", libraries)
        for library in libraries:
            with self.subTest(library):
                path = subprocess.run(["ldconfig", "-p"], capture_output=True, text=True).stdout
                found = re.search(r"\s%s \(libc6,x86-64\) => (\S+)" % re.escape(library), path)
                self.assertIsNotNone(found, library)
                owner = subprocess.run(["dpkg", "-S", os.path.realpath(found.group(1))], capture_output=True, text=True)
                if owner.returncode != 0:  # a path through the /lib link
                    owner = subprocess.run(["dpkg", "-S", found.group(1)], capture_output=True, text=True)
                package = owner.stdout.split(":")[0]
                self.assertIn(package, depends)
        size = int(self.field("Installed-Size"))
        total = sum(os.path.getsize(p) for p in glob.glob(os.path.join(self.root, "**"), recursive=True) if os.path.isfile(p))
        self.assertEqual(size, (total + 1023) // 1024)

    def test_file_list_and_contents(self):
        listing = subprocess.run(["dpkg-deb", "-c", self.deb], capture_output=True, text=True, check=True).stdout
        entries = {}
        for line in listing.splitlines():
            mode, owner, _, _, _, path = line.split(None, 5)
            entries[path] = (mode, owner)
        files = {p: m for p, (m, _) in entries.items() if not p.endswith("/")}
        self.assertEqual(files, {
            "./usr/bin/qelpack": "-rwxr-xr-x",
            "./usr/share/nsis/Include/qel.nsh": "-rw-r--r--",
            "./usr/share/qel/bin/qelfetch.dll": "-rw-r--r--",
            "./usr/share/qel/bin/qelskin.dll": "-rw-r--r--",
            "./usr/share/qel/bin/qelplace.dll": "-rw-r--r--",
            "./usr/share/qel/example/example.nsi": "-rw-r--r--",
            "./usr/share/qel/example/band.bmp": "-rw-r--r--",
            "./usr/share/qel/example/band150.bmp": "-rw-r--r--",
            "./usr/share/qel/example/band200.bmp": "-rw-r--r--",
            "./usr/share/doc/qel-kit/README": "-rw-r--r--",
            "./usr/share/doc/qel-kit/reference.md": "-rw-r--r--",
            "./usr/share/doc/qel-kit/copyright": "-rw-r--r--",
        })
        self.assertEqual({o for _, o in entries.values()}, {"root/root"})
        self.assertEqual({m for p, (m, _) in entries.items() if p.endswith("/")}, {"drwxr-xr-x"})
        for packaged, source in [("usr/share/nsis/Include/qel.nsh", os.path.join(TOP, "nsis", "qel.nsh")),
                                 ("usr/share/qel/bin/qelfetch.dll", os.path.join(BUILD, "bin", "qelfetch.dll")),
                                 ("usr/share/qel/bin/qelskin.dll", os.path.join(BUILD, "bin", "qelskin.dll")),
                                 ("usr/share/qel/bin/qelplace.dll", os.path.join(BUILD, "bin", "qelplace.dll")),
                                 ("usr/share/qel/example/example.nsi", os.path.join(TOP, "nsis", "example.nsi")),
                                 ("usr/share/doc/qel-kit/reference.md", os.path.join(TOP, "README.md"))]:
            with open(os.path.join(self.root, packaged), "rb") as a, open(source, "rb") as b:
                self.assertEqual(a.read(), b.read(), packaged)
        with open(os.path.join(self.root, "usr/share/doc/qel-kit/README"), encoding="utf-8") as f:
            readme = f.read()
        self.assertIn("qelpack picture logo.png band.bmp --size 99", readme)
        # The packaged program is the packer, stripped, and runs.
        checked = subprocess.run([os.path.join(self.root, "usr/bin/qelpack"), "picture", "--check",
                                  os.path.join(self.root, "usr/share/qel/example/band.bmp")], capture_output=True, text=True)
        self.assertEqual(checked.returncode, 0, checked.stderr)
        symbols = subprocess.run(["objdump", "-h", os.path.join(self.root, "usr/bin/qelpack")], capture_output=True, text=True)
        self.assertNotIn(".debug_info", symbols.stdout)

    def test_zip_entries_are_regular_files_with_modes(self):
        with zipfile.ZipFile(glob.glob(os.path.join(self.dir, "qel-*.zip"))[0]) as z:
            for info in z.infolist():
                with self.subTest(info.filename):
                    mode = info.external_attr >> 16
                    self.assertEqual(mode & 0o170000, 0o100000, "not stored as a regular file")
                    want = 0o755 if info.filename.endswith((".exe", ".dll")) else 0o644
                    self.assertEqual(mode & 0o7777, want)
            names = z.namelist()
            readme = z.read("qel-%s/README.txt" % VERSION).decode("utf-8")
        self.assertIn("qel-%s/reference.md" % VERSION, names)
        self.assertNotIn("build tools/qelpack/native", readme)
        self.assertIn("\r\n", readme)


# --- the quick start ---------------------------------------------------------------------------

def quick_start_blocks():
    """The quick start's code blocks in order: (language, text)."""
    with open(os.path.join(TOP, "README.md"), encoding="utf-8") as f:
        text = f.read()
    section = text.split("\n## Quick start", 1)[1].split("\n## ", 1)[0]
    return [(m.group(1), m.group(2)) for m in re.finditer(r"```(\w+)\n(.*?)```", section, re.S)]


PREAMBLE = r'''set -euo pipefail
# Run as root: sudo is the command itself.
sudo() { "$@"; }
# A mirror in the middle of a sync fails one index while the rest is fine: the install that
# follows says whether the lists at hand were enough.
apt() {
  if [ "${1:-}" = update ]; then command apt "$@" || echo "apt update reported errors; going on" >&2
  else command apt "$@"; fi
}
# The background server is stopped whatever happens.
trap 'kill $(jobs -p) 2>/dev/null || true' EXIT
'''


def packages():
    """{package:arch: (installed?, auto?)} of this machine."""
    status = subprocess.run(["dpkg-query", "-W", "-f", "${Package}:${Architecture} ${db:Status-Abbrev}\n"],
                            capture_output=True, text=True).stdout
    installed = {line.split()[0] for line in status.splitlines() if line.split()[1:2] == ["ii"]}
    auto = set(subprocess.run(["apt-mark", "showauto"], capture_output=True, text=True).stdout.split())
    return installed, auto


class Pilot(threading.Thread):
    """A user at the installer's window: welcome page, folder page, then the finish page's
    button, recording the welcome page's texts."""

    def __init__(self, env, exe):
        super().__init__(daemon=True)
        self.env = dict(env, NSIS_PILOT_EXE=exe)
        self.stop = threading.Event()
        self.welcome = None
        self.finished = False

    def run_pilot(self, *args):
        with tempfile.TemporaryFile() as out:
            done = subprocess.run(["wine", PILOT, *args], stdout=out, stderr=subprocess.DEVNULL, env=self.env,
                                  stdin=subprocess.DEVNULL, timeout=60)
            out.seek(0)
            return done.returncode, out.read().decode("utf-8", "replace").replace("\r", "")

    def run(self):
        past_folder = False
        while not self.stop.is_set() and not self.finished:
            page = self.run_pilot("page")[1].strip()
            if page == "custom" and not past_folder:
                if self.welcome is None:
                    self.welcome = [line.split(" ", 5)[5] for line in self.run_pilot("windows")[1].splitlines()[1:]
                                    if " Static " in line and " shown parent=page" in line and line.count(" ") >= 5]
                self.run_pilot("next")
            elif page == "directory":
                self.run_pilot("next")
                past_folder = True
            elif page == "custom":
                # The finish page (the progress page leads on to it by itself).
                self.run_pilot("click", "1")
                self.finished = True
            time.sleep(0.3)


# The installers are 32-bit programs: on a kernel that cannot run them the commands that start
# Wine are left out, and the rest (the package, packing, pictures, the builds) still runs.
RUNS_INSTALLERS = os.environ.get("QEL_WINE_ARCH") != "win64"


def starts_wine(block):
    return any(re.match(r"(export WINEPREFIX|wineboot|wine |openssl|kill %1|\(cd release-test)", line)
               or "ca-certificates" in line or "$WINEPREFIX" in line for line in block.splitlines())


@unittest.skipUnless(os.geteuid() == 0 and shutil.which("apt-get"), "installs a package: root on Debian only")
class QuickStart(unittest.TestCase):
    def setUp(self):
        # The machine's packages are shared by every checkout on it: a second run of this test
        # (another clone's suite) waits here instead of installing and purging the package under
        # this one. The lock goes with the process, so a killed run never keeps it.
        self.lock = open("/run/lock/qel-kit-quickstart.lock", "w")
        self.addCleanup(self.lock.close)
        fcntl.flock(self.lock, fcntl.LOCK_EX)
        # A run killed before its clean-up left the package installed: take it out first, so the
        # machine starts as an author's does and the purge at the end can be checked.
        if any(name.startswith("qel-kit:") for name in packages()[0]):
            subprocess.run(["apt-get", "-o", "DPkg::Lock::Timeout=900", "purge", "-y", "-q", "qel-kit"],
                           capture_output=True, env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"), timeout=900)
        self.dir = tempfile.mkdtemp(prefix="quickstart-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.kits = os.path.join(self.dir, "kits")
        deb, self.zip = make_kits(self.kits)
        self.work = os.path.join(self.dir, "author")
        os.makedirs(self.work)
        shutil.copy(deb, self.work)
        self.write_author_files(self.work)
        self.before = packages()
        self.addCleanup(self.restore_machine)
        self.apt_config = os.path.join(self.dir, "apt.conf")
        with open(self.apt_config, "w") as f:
            # Other suites may be using apt and dpkg: wait for their locks. Answer apt's question.
            f.write('DPkg::Lock::Timeout "900";\nAPT::Get::Assume-Yes "true";\n')
        self.env = dict(os.environ, APT_CONFIG=self.apt_config, DEBIAN_FRONTEND="noninteractive", WINEDEBUG="-all")
        for name in ("QEL_PACKER", "WINEPREFIX", "WINEARCH", "WINELOADER"):
            self.env.pop(name, None)

    @staticmethod
    def write_author_files(folder):
        os.makedirs(os.path.join(folder, "myapp", "docs"))
        with open(os.path.join(folder, "myapp", "myapp.exe"), "wb") as f:
            f.write(os.urandom(200000))
        with open(os.path.join(folder, "myapp", "docs", "说明.txt"), "wb") as f:
            f.write("说明\r\n".encode("utf-8"))
        with open(os.path.join(folder, "logo.png"), "wb") as f:
            f.write(P.png(300, 300, P.disc(300, 300, (240, 240, 240))))

    def restore_machine(self):
        """The package purged, the test certificate out, every package as it was."""
        self.stop_wine()
        if os.path.exists(CERT_FILE):
            os.remove(CERT_FILE)
            subprocess.run(["update-ca-certificates", "--fresh"], capture_output=True)
        installed, auto = packages()
        added = sorted(installed - self.before[0])
        if added:
            subprocess.run(["apt-get", "-o", "DPkg::Lock::Timeout=900", "purge", "-y", "-q", *added],
                           capture_output=True, env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"), timeout=900)
        marked = sorted((self.before[1] - auto) & installed)
        if marked:
            subprocess.run(["apt-mark", "auto", *marked], capture_output=True)
        after = packages()
        self.assertEqual(after[0], self.before[0], "packages installed by the test stayed")
        self.assertFalse(os.path.exists("/usr/bin/qelpack"))
        self.assertFalse(os.path.exists("/usr/share/nsis/Include/qel.nsh"))
        self.assertFalse(glob.glob("/etc/ssl/certs/myapp-test*"))

    def stop_wine(self):
        prefix = os.path.join(self.work, "wine")
        if os.path.isdir(prefix):
            subprocess.run(["wineserver", "-k"], env=dict(self.env, WINEPREFIX=prefix), capture_output=True)

    def test_every_command_of_the_quick_start(self):
        blocks = quick_start_blocks()
        shell = [text for kind, text in blocks if kind == "sh"]
        self.assertGreaterEqual(len(shell), 8)
        # The lines it tells an author to change are the example's own.
        nsis_lines = [text for kind, text in blocks if kind == "nsis"][0].splitlines()
        with open(os.path.join(TOP, "nsis", "example.nsi"), encoding="utf-8") as f:
            example = f.read().splitlines()
        for line in nsis_lines:
            self.assertIn(line, example)

        # The Linux part, up to the first build, then the author's edits, then the rest.
        split = next(i for i, text in enumerate(shell) if text.startswith("makensis"))
        self.run_script(shell[:split], "part1")
        with open(os.path.join(self.work, "myapp.nsi"), encoding="utf-8") as f:
            script = f.read()
        for old, new in [('PRODUCT "示例应用"', 'PRODUCT "我的应用"'), ('WELCOME_TITLE "欢迎安装示例应用"',
                                                                   'WELCOME_TITLE "欢迎安装我的应用"')]:
            self.assertIn(old, script)
            script = script.replace(old, new)
        with open(os.path.join(self.work, "myapp.nsi"), "w", encoding="utf-8") as f:
            f.write(script)
        if not RUNS_INSTALLERS:
            rest = [block for block in shell[split:] if not starts_wine(block)]
            self.assertEqual(len(rest), 2, "the build and the shipping build")
            self.run_script(rest, "part2")
            self.assertTrue(os.path.isfile(os.path.join(self.work, "myapp-setup.exe")))
            with open(os.path.join(self.work, "release", "manifest.ini"), "rb") as f:
                self.assertIn("Url=https://downloads.example.com/myapp/1.0/application.cab", f.read().decode("utf-16"))
            self.assertEqual(band_size(os.path.join(self.work, "band.bmp")), (99, 99))
            return
        exe = "Z:" + os.path.join(self.work, "myapp-setup.exe").replace("/", "\\")
        env = dict(self.env, WINEPREFIX=os.path.join(self.work, "wine"))
        pilot = Pilot(env, exe)
        pilot_started = threading.Event()

        def watch(line):
            # The windowed run: a user leads it through its pages.
            if line.strip() == "wine myapp-setup.exe" and not pilot_started.is_set():
                pilot_started.set()
                pilot.start()

        try:
            self.run_script(shell[split:], "part2", on_line=watch)
        finally:
            pilot.stop.set()
            # Its wineserver talked to the display that is gone now.
            self.stop_wine()
        self.assertTrue(pilot.finished, "the installer's window was not led to its finish page")
        self.assertIn("欢迎安装我的应用", pilot.welcome)
        # What the commands did.
        drive = os.path.join(self.work, "wine", "drive_c")
        # /D= twice, then the per-user default of the windowed run.
        users = glob.glob(os.path.join(drive, "users", "*", "AppData", "Local", "Programs", "我的应用"))
        self.assertEqual(len(users), 1, "the windowed run did not install into the user's programs folder")
        for folder in ("MyApp", os.path.join("Program Files", "MyApp"), os.path.relpath(users[0], drive)):
            with self.subTest(folder):
                with open(os.path.join(drive, folder, "myapp.exe"), "rb") as a, \
                        open(os.path.join(self.work, "myapp", "myapp.exe"), "rb") as b:
                    self.assertEqual(a.read(), b.read())
        self.assertFalse(os.path.exists(os.path.join(self.work, "install.log")), "a successful run wrote a log")
        for name in ("manifest.ini", "application.cab"):
            self.assertTrue(os.path.isfile(os.path.join(self.work, "release", name)))
        with open(os.path.join(self.work, "release", "manifest.ini"), "rb") as f:
            self.assertIn("Url=https://downloads.example.com/myapp/1.0/application.cab", f.read().decode("utf-16"))
        self.assertEqual(band_size(os.path.join(self.work, "band.bmp")), (99, 99))
        self.assertFalse(os.path.exists(CERT_FILE))

        # The Windows part in the unpacked zip, under Wine's cmd; makensis is Debian's (there is
        # no Windows makensis here), given the same line with %CD% and \ in Linux form.
        windows = [text for kind, text in blocks if kind == "bat"]
        self.assertEqual(len(windows), 1)
        kit = os.path.join(self.dir, "zip")
        with zipfile.ZipFile(self.zip) as z:
            z.extractall(kit)
        kit = os.path.join(kit, "qel-" + VERSION)
        self.write_author_files(kit)
        for line in windows[0].splitlines():
            with self.subTest(line):
                if line.startswith("makensis "):
                    command = ["makensis", "-V2"] + line.replace("%CD%", kit).replace("\\", "/").split()[1:]
                else:
                    command = ["wine", "cmd", "/c", line]
                with tempfile.TemporaryFile() as out:
                    done = subprocess.run(command, cwd=kit, env=env, stdout=out, stderr=out, stdin=subprocess.DEVNULL,
                                          timeout=300)
                    out.seek(0)
                    self.assertEqual(done.returncode, 0, out.read().decode("utf-8", "replace"))
        self.assertTrue(os.path.isfile(os.path.join(kit, "myapp-setup.exe")))
        self.assertEqual(band_size(os.path.join(kit, "band.bmp")), (99, 99))

    def run_script(self, blocks, name, on_line=None):
        """Runs the blocks as one bash script in the author's folder, line by line as bash
        echoes them (set -x), so that on_line sees each command as it starts."""
        path = os.path.join(self.dir, name + ".sh")
        with open(path, "w", encoding="utf-8") as f:
            f.write(PREAMBLE + "\n".join(blocks))
        log = os.path.join(self.dir, name + ".log")
        with open(log, "wb") as out:
            proc = subprocess.Popen(["xvfb-run", "-a", "-s", "-screen 0 800x600x24", "bash", "-x", path], cwd=self.work,
                                    env=dict(self.env, PS4="+ "), stdout=out, stderr=subprocess.STDOUT,
                                    stdin=subprocess.DEVNULL, start_new_session=True)
            seen = 0
            deadline = time.monotonic() + 600
            try:
                while proc.poll() is None and time.monotonic() < deadline:
                    time.sleep(0.2)
                    with open(log, "rb") as f:
                        lines = f.read().decode("utf-8", "replace").splitlines()
                    for line in lines[seen:]:
                        if line.startswith("+ ") and on_line is not None:
                            on_line(line[2:])
                    seen = len(lines)
            finally:
                if proc.poll() is None:
                    os.killpg(proc.pid, signal.SIGTERM)
                    proc.wait(timeout=30)
        with open(log, encoding="utf-8", errors="replace") as f:
            output = f.read()
        self.assertEqual(proc.returncode, 0, "%s failed:\n%s" % (name, output[-6000:]))


if __name__ == "__main__":
    unittest.main(verbosity=2)
