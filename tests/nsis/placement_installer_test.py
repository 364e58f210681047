#!/usr/bin/env python3
"""The example installer placing releases through qelplace.dll, run for real under Wine:
upgrades (changed, added and removed files; the user's files stay), a failed upgrade at every
kind of fault (a file held without delete sharing, a folder where a file must go, a full install
volume, a cancel while placing) leaves the previous install byte-identical, kills at points of
placing, a running program replaced, the uninstaller, another drive letter, a long path, a
read-only target, two installers at once, files the user changed.

QEL_KILL_SERIES=full kills at every point of the series instead of a slice."""
import hashlib
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import installer_test as base

ARGS = base.ARGS
wine = base.wine
win = base.win
NATIVE_QELPACK = os.path.join(os.path.dirname(os.path.abspath(ARGS.build)), "build", "native", "qelpack")
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\QelExampleApp"


def files_of(folder, skip=("uninstall.exe",)):
    """Every file and folder below folder: relative path -> SHA-256 ("<dir>" for folders)."""
    found = {}
    for root, dirs, files in os.walk(folder):
        for d in dirs:
            found[os.path.relpath(os.path.join(root, d), folder) + os.sep] = "<dir>"
        for name in files:
            path = os.path.join(root, name)
            relative = os.path.relpath(path, folder)
            if relative in skip:
                continue
            with open(path, "rb") as f:
                found[relative] = hashlib.sha256(f.read()).hexdigest()
    return found


def expected(payload, extra=None):
    """What a payload installs: its files and folders (and the record, checked apart)."""
    want = {}
    for name, data in payload.items():
        parts = name.split("/")
        for i in range(1, len(parts)):
            want[os.path.join(*parts[:i]) + os.sep] = "<dir>"
        want[os.path.join(*parts)] = hashlib.sha256(data).hexdigest()
    for name, data in (extra or {}).items():
        want[name] = "<dir>" if data is None else hashlib.sha256(data).hexdigest()
    return want


def record_version(folder):
    path = os.path.join(folder, "qel-install.ini")
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        text = f.read().decode("utf-16")
    for line in text.splitlines():
        if line.startswith("Version="):
            return line[len("Version="):]
    return None


def release_files(folder):
    """The snapshot without the record (its times differ between installs of one release)."""
    found = files_of(folder)
    found.pop("qel-install.ini", None)
    return found


class Holder:
    """filehold.exe holding files in the test prefix until stopped."""

    def __init__(self, mode, *paths):
        self.proc = subprocess.Popen([ARGS.wine_run, os.path.join(ARGS.bin, "filehold.exe"), mode, *[win(p) for p in paths]],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        line = self.proc.stdout.readline()
        if line.strip() != b"held":
            self.stop()
            raise AssertionError("filehold did not hold %r" % (paths,))

    def stop(self):
        if self.proc.poll() is None:
            self.proc.stdin.close()
            try:
                self.proc.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc.stdout.close()


class Placing(unittest.TestCase):
    counter = 0

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="placing-test-", dir=ARGS.build)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def setUp(self):
        Placing.counter += 1
        self.case = os.path.join(self.dir, "case%d" % self.counter)
        os.makedirs(self.case)
        self.instdir = os.path.join(self.case, "应用")
        self.log = os.path.join(self.case, "install.log")
        self.holders = []
        self.temp_before = base.temp_dirs()
        wine("reg", "delete", UNINSTALL_KEY, "/f")

    def tearDown(self):
        for h in self.holders:
            h.stop()
        wine("reg", "delete", UNINSTALL_KEY, "/f")

    def hold(self, mode, *paths):
        h = Holder(mode, *paths)
        self.holders.append(h)
        return h

    # --- releases and installers ---------------------------------------------------------------

    def release(self, name, payload, *options):
        """Packs payload (relative name -> bytes) into case/<name>/ (manifest.ini, application.cab,
        or parts and their release.ini), with qelpack's options after the folders."""
        src = os.path.join(self.case, name + "-src")
        for rel, data in payload.items():
            path = os.path.join(src, *rel.split("/"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
        out = os.path.join(self.case, name)
        if os.path.exists(NATIVE_QELPACK):
            packed = subprocess.run([NATIVE_QELPACK, "pack", src, out, *options], capture_output=True, timeout=120)
        else:
            packed = wine(os.path.join(ARGS.bin, "qelpack.exe"), "pack", win(src), win(out), *options)
        self.assertEqual(packed.returncode, 0, packed.stderr)
        shutil.rmtree(src)
        return out

    def setup(self, release, version, url=None):
        """The example installer of a release, with its package beside it (no Url) or served."""
        text = base.read_manifest(os.path.join(release, "manifest.ini"))
        if url:
            text = base.set_value(text, "Package", "Url", url)
        manifest = os.path.join(release, "embedded.ini")
        base.write_manifest(manifest, text)
        out = os.path.join(release, "example-setup.exe")
        made = subprocess.run(["makensis", "-V2", "-DQEL_MANIFEST=" + manifest, "-DQEL_BIN=" + ARGS.bin,
                               "-DQEL_OUTFILE=" + out, "-DQEL_TARGET=" + ARGS.target, "-DQEL_VERSION=" + version,
                               os.path.join(ARGS.nsis, "example.nsi")], capture_output=True, timeout=120)
        self.assertEqual(made.returncode, 0, made.stdout.decode(errors="replace") + made.stderr.decode(errors="replace"))
        return out

    def install(self, setup, instdir=None, target=None, timeout=180):
        """Runs setup silently into instdir (a Unix path), or into the Windows path target."""
        if os.path.exists(self.log):
            os.remove(self.log)
        folder = target or win(instdir or self.instdir)
        return wine(setup, "/S", "/LOG=" + win(self.log), "/D=" + folder, timeout=timeout).returncode

    def logged(self):
        self.assertTrue(os.path.exists(self.log), "no /LOG file written")
        with open(self.log, "rb") as f:
            return f.read().decode("utf-16").strip()

    def assert_installed(self, payload, version, instdir=None, extra=None):
        instdir = instdir or self.instdir
        self.assertEqual(release_files(instdir), expected(payload, extra))
        self.assertEqual(record_version(instdir), version)
        self.assertTrue(os.path.isfile(os.path.join(instdir, "uninstall.exe")))

    def assert_temp_clean(self):
        for _ in range(20):
            left = base.temp_dirs() - self.temp_before
            if not left:
                break
            time.sleep(0.1)
        self.assertEqual(left, set(), "the plug-ins folder stayed in %TEMP%")

    def registry(self, value):
        """A value of the uninstall entry, as `reg export` writes it (UTF-16: Chinese intact;
        `reg query` prints through the console's code page)."""
        out = os.path.join(self.case, "entry.reg")
        if os.path.exists(out):
            os.remove(out)
        if wine("reg", "export", UNINSTALL_KEY, win(out), "/y").returncode != 0 or not os.path.exists(out):
            return None
        with open(out, "rb") as f:
            text = f.read().decode("utf-16")
        for line in text.splitlines():
            if line.startswith('"%s"=' % value):
                data = line.split("=", 1)[1]
                if data.startswith("dword:"):
                    return int(data[len("dword:"):], 16)
                return data[1:-1].replace('\\"', '"').replace("\\\\", "\\")
        return None


V1 = {
    "app.exe": b"program v1\r\n" * 50,
    "readme.txt": b"read me, version one",
    "settings.ini": b"[ui]\r\ncolour=blue\r\n",
    "lib/core.dll": os.urandom(120000),
    "lib/old/legacy.dll": b"only v1 has this",
    "docs/guide.txt": "说明，第一版".encode("utf-8"),
}
V2 = {
    "app.exe": b"program v2\r\n" * 60,
    "readme.txt": b"read me, version two",
    "settings.ini": b"[ui]\r\ncolour=blue\r\n",
    "lib/core.dll": os.urandom(130000),
    "lib/extra.dll": b"new in v2",
    "docs/guide.txt": "说明，第二版".encode("utf-8"),
}


class Upgrades(Placing):
    def test_upgrade_replaces_adds_removes_and_keeps_the_users_files(self):
        v1 = self.setup(self.release("v1", V1), "1.0")
        v2 = self.setup(self.release("v2", V2), "2.0")
        self.assertEqual(self.install(v1), 0)
        self.assert_installed(V1, "1.0")
        self.assertEqual(self.registry("DisplayVersion"), "1.0")
        with open(os.path.join(self.instdir, "notes.txt"), "wb") as f:
            f.write(b"the user's notes")
        os.makedirs(os.path.join(self.instdir, "lib", "mine"))
        self.assertEqual(self.install(v2), 0)
        self.assert_installed(V2, "2.0", extra={"notes.txt": b"the user's notes", "lib" + os.sep + "mine" + os.sep: None})
        self.assertFalse(os.path.exists(os.path.join(self.instdir, "lib", "old")), "the emptied folder stayed")
        self.assertTrue(os.path.isdir(os.path.join(self.instdir, "lib", "mine")))
        self.assertEqual(self.registry("DisplayVersion"), "2.0")
        self.assert_temp_clean()

    def test_changed_settings_are_kept(self):
        v1 = self.setup(self.release("v1", V1), "1.0")
        self.assertEqual(self.install(v1), 0)
        settings = os.path.join(self.instdir, "settings.ini")
        with open(settings, "wb") as f:
            f.write(b"[ui]\r\ncolour=red\r\n")
        os.utime(settings, (time.time() + 5, time.time() + 5))
        # v2 brings the same settings: the user's stay.
        v2 = self.setup(self.release("v2", V2), "2.0")
        self.assertEqual(self.install(v2), 0)
        with open(settings, "rb") as f:
            self.assertEqual(f.read(), b"[ui]\r\ncolour=red\r\n")
        # v3 brings new settings: installed, the user's kept beside them.
        v3_payload = dict(V2, **{"settings.ini": b"[ui]\r\ncolour=green\r\nsize=big\r\n"})
        v3 = self.setup(self.release("v3", v3_payload), "3.0")
        self.assertEqual(self.install(v3), 0)
        self.assert_installed(v3_payload, "3.0", extra={"settings.ini.user": b"[ui]\r\ncolour=red\r\n"})


class Faults(Placing):
    def prepare(self):
        self.v2_release = self.release("v2", V2)
        v1 = self.setup(self.release("v1", V1), "1.0")
        self.v2 = self.setup(self.v2_release, "2.0")
        self.assertEqual(self.install(v1), 0)
        self.before = files_of(self.instdir, skip=())

    def assert_v1_intact(self):
        self.assertEqual(files_of(self.instdir, skip=()), self.before, "the previous install changed")

    def test_file_held_without_delete_sharing_fails_with_v1_intact(self):
        self.prepare()
        self.hold("read", os.path.join(self.instdir, "readme.txt"))
        self.assertEqual(self.install(self.v2), 2)
        # Wine's Restart Manager names no programs, so the line ends with the path.
        self.assertEqual(self.logged(), "文件正被使用：" + win(os.path.join(self.instdir, "readme.txt")))
        self.assert_v1_intact()
        self.assert_temp_clean()

    def test_file_held_with_write_sharing_is_overwritten_in_place(self):
        # As a plain NSIS File command would: the holder allows writing, not deleting.
        self.prepare()
        self.hold("write", os.path.join(self.instdir, "app.exe"))
        self.assertEqual(self.install(self.v2), 0)
        self.assert_installed(V2, "2.0")

    def test_folder_where_a_file_must_go(self):
        self.prepare()
        os.makedirs(os.path.join(self.instdir, "lib", "extra.dll"))
        self.before = files_of(self.instdir, skip=())
        self.assertEqual(self.install(self.v2), 2)
        self.assertTrue(self.logged().startswith("安装位置已有同名文件夹："), self.logged())
        self.assert_v1_intact()

    def test_read_only_target_is_replaced(self):
        self.prepare()
        os.chmod(os.path.join(self.instdir, "readme.txt"), 0o444)
        os.chmod(os.path.join(self.instdir, "lib", "old", "legacy.dll"), 0o444)
        self.assertEqual(self.install(self.v2), 0)
        self.assert_installed(V2, "2.0")

    def test_full_install_volume(self):
        if not os.path.ismount(os.path.join(ARGS.build, "tmpfs-q")):
            self.skipTest("no private drive Q: (the tmpfs fixture needs root)")
        self.instdir = os.path.join(ARGS.build, "tmpfs-q", "placing-app")
        shutil.rmtree(self.instdir, ignore_errors=True)
        v1 = self.setup(self.release("v1", V1), "1.0")
        big = dict(V2, **{"lib/core.dll": os.urandom(9 << 20)})
        v2 = self.setup(self.release("v2", big), "2.0")
        try:
            self.assertEqual(self.install(v1, target="Q:\\placing-app"), 0)
            self.before = files_of(self.instdir, skip=())
            # The package (9 MB, random) lies beside setup.exe, on C:. The delivery's free-space
            # test covers the install volume (8 MB), which cannot hold the unpacked files.
            self.assertEqual(self.install(v2, target="Q:\\placing-app"), 2)
            self.assertEqual(self.logged(), "应用包工作磁盘的可用空间不足。")
            self.assert_v1_intact()
        finally:
            shutil.rmtree(self.instdir, ignore_errors=True)

    def test_cancel_while_placing(self):
        # With pages: placing waits for a file a program holds (it is tried again for a few
        # seconds); the Cancel button then ends the install with v1 as it was.
        self.prepare()
        self.hold("none", os.path.join(self.instdir, "docs", "guide.txt"))
        proc = subprocess.Popen([ARGS.wine_run, self.v2, "/LOG=" + win(self.log), "/D=" + win(self.instdir)],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.environ["NSIS_PILOT_EXE"] = win(self.v2)
        pilot = os.path.join(ARGS.bin, "nsis_pilot.exe")
        try:
            for page in ("custom", "directory"):
                deadline = time.monotonic() + 60
                while time.monotonic() < deadline:
                    if wine(pilot, "page", timeout=60).stdout.decode("utf-8", "replace").strip() == page:
                        break
                    time.sleep(0.3)
                wine(pilot, "next", timeout=60)
            clicked = wine(pilot, "cancel", "正在等待文件释放", "60", timeout=90)
            self.assertEqual(clicked.returncode, 0, "the progress page never showed the wait")
            code = proc.wait(timeout=60)
        finally:
            if proc.poll() is None:
                proc.kill()
        self.assertEqual(code, 1)
        self.assertEqual(self.logged(), "已取消，安装文件夹保持原样。")
        self.assert_v1_intact()


class RetryBox(Placing):
    def test_file_in_use_asks_retry_and_succeeds(self):
        # With pages, a file in use is shown in a message box (Retry/Cancel); once the program
        # lets go, Retry places the release.
        v1 = self.setup(self.release("v1", V1), "1.0")
        v2 = self.setup(self.release("v2", V2), "2.0")
        self.assertEqual(self.install(v1), 0)
        holder = self.hold("none", os.path.join(self.instdir, "readme.txt"))
        proc = subprocess.Popen([ARGS.wine_run, v2, "/LOG=" + win(self.log), "/D=" + win(self.instdir)],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.environ["NSIS_PILOT_EXE"] = win(v2)
        pilot = os.path.join(ARGS.bin, "nsis_pilot.exe")
        try:
            for page in ("custom", "directory"):
                deadline = time.monotonic() + 60
                while time.monotonic() < deadline:
                    if wine(pilot, "page", timeout=60).stdout.decode("utf-8", "replace").strip() == page:
                        break
                    time.sleep(0.3)
                wine(pilot, "next", timeout=60)
            deadline = time.monotonic() + 60
            box = None
            while time.monotonic() < deadline:
                shown = wine(pilot, "box", timeout=60)
                if shown.returncode == 0:
                    box = shown.stdout.decode("utf-8", "replace").strip()
                    break
                time.sleep(0.3)
            self.assertEqual(box, "文件正被使用：" + win(os.path.join(self.instdir, "readme.txt")))
            # While the box is up the job holds the folder (its lock and staging are there); the
            # release's files are v1's.
            now = {k: v for k, v in release_files(self.instdir).items() if not k.startswith(".qel-")}
            self.assertEqual(now, expected(V1), "the folder changed while the box was up")
            holder.stop()
            self.assertEqual(wine(pilot, "box", "4", timeout=60).returncode, 0)
            deadline = time.monotonic() + 60
            while time.monotonic() < deadline:
                if wine(pilot, "page", timeout=60).stdout.decode("utf-8", "replace").strip() == "custom":
                    break
                time.sleep(0.3)
            wine(pilot, "click", "1", timeout=60)
            code = proc.wait(timeout=60)
        finally:
            if proc.poll() is None:
                proc.kill()
        self.assertEqual(code, 0)
        self.assert_installed(V2, "2.0")


class UpgradeHint(Placing):
    def folder_page(self, setup):
        """Runs setup with pages into self.instdir up to its folder page; what the page's windows
        say (nsis_pilot's listing, texts as they are, CR LF included), then the installer closed
        with Cancel."""
        proc = subprocess.Popen([ARGS.wine_run, setup, "/D=" + win(self.instdir)],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.environ["NSIS_PILOT_EXE"] = win(setup)
        pilot = os.path.join(ARGS.bin, "nsis_pilot.exe")
        try:
            for page in ("custom", "directory"):
                deadline = time.monotonic() + 60
                while time.monotonic() < deadline:
                    if wine(pilot, "page", timeout=60).stdout.decode("utf-8", "replace").strip() == page:
                        break
                    time.sleep(0.3)
                if page == "custom":
                    wine(pilot, "next", timeout=60)
            # Wine's console turns each LF the pilot prints into CR LF, a text's own CR LF too.
            listing = wine(pilot, "windows", timeout=60).stdout.decode("utf-8", "replace").replace("\r\n", "\n")
            wine(pilot, "click", "2", timeout=60)
            proc.wait(timeout=60)
        finally:
            if proc.poll() is None:
                proc.kill()
        self.assertIn(" 选择安装位置：", listing)
        return listing

    def test_the_folder_page_names_the_installed_version(self):
        v1 = self.setup(self.release("v1", V1), "1.0")
        v2 = self.setup(self.release("v2", V2), "2.0")
        # An empty folder: only the page's own line.
        shutil.rmtree(self.instdir, ignore_errors=True)
        self.assertNotIn("已安装", self.folder_page(v2))
        self.assertEqual(self.install(v1), 0)
        self.assertIn("选择安装位置：\r\n已安装 1.0，将更新到 2.0。", self.folder_page(v2))
        # The same version again.
        self.assertIn("选择安装位置：\r\n已安装 1.0，将重新安装。", self.folder_page(v1))
        # Looking changed nothing.
        self.assert_installed(V1, "1.0")


class Programs(Placing):
    def test_running_program_is_replaced(self):
        # The program is the test bed's filehold.exe, run from the install folder (it holds a
        # file of its own outside it until its input closes).
        with open(os.path.join(ARGS.bin, "filehold.exe"), "rb") as f:
            program = f.read()
        v1_payload = dict(V1, **{"bin/tool.exe": program})
        v2_payload = dict(V2, **{"bin/tool.exe": b"a new tool"})
        v1 = self.setup(self.release("v1", v1_payload), "1.0")
        v2 = self.setup(self.release("v2", v2_payload), "2.0")
        self.assertEqual(self.install(v1), 0)
        outside = os.path.join(self.case, "outside.txt")
        with open(outside, "wb") as f:
            f.write(b"held by the running tool")
        running = subprocess.Popen([ARGS.wine_run, os.path.join(self.instdir, "bin", "tool.exe"), "read", win(outside)],
                                   stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        try:
            self.assertEqual(running.stdout.readline().strip(), b"held")
            self.assertEqual(self.install(v2), 0, self.logged() if os.path.exists(self.log) else "")
            now = {k: v for k, v in release_files(self.instdir).items() if not k.startswith(".qel-stage")}
            self.assertEqual(now, expected(v2_payload))
            self.assertIsNone(running.poll(), "the program stopped")
        finally:
            running.stdin.close()
            running.wait(timeout=30)
            running.stdout.close()
        # Its old image could not be deleted while it ran (hidden staging keeps it): the next
        # run removes it.
        self.assertEqual(self.install(v2), 0)
        self.assertFalse(os.path.exists(os.path.join(self.instdir, ".qel-stage")))
        self.assert_installed(v2_payload, "2.0")


class Uninstaller(Placing):
    def test_uninstall_removes_exactly_what_was_installed(self):
        v1 = self.setup(self.release("v1", V1), "1.0")
        self.assertEqual(self.install(v1), 0)
        self.assertEqual(self.registry("DisplayName"), "示例应用")
        self.assertEqual(self.registry("UninstallString"), '"%s\\uninstall.exe"' % win(self.instdir))
        self.assertEqual(self.registry("QuietUninstallString"), '"%s\\uninstall.exe" /S' % win(self.instdir))
        self.assertEqual(self.registry("InstallLocation"), win(self.instdir))
        self.assertEqual(self.registry("NoModify"), 1)
        self.assertEqual(self.registry("NoRepair"), 1)
        self.assertEqual(self.registry("EstimatedSize"), sum(len(d) for d in V1.values()) // 1024)
        with open(os.path.join(self.instdir, "lib", "mine.cfg"), "wb") as f:
            f.write(b"mine")
        # NSIS runs an uninstaller from a copy in %TEMP% and returns at once: wait for the copy.
        done = wine(os.path.join(self.instdir, "uninstall.exe"), "/S")
        self.assertEqual(done.returncode, 0)
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline and os.path.exists(os.path.join(self.instdir, "uninstall.exe")):
            time.sleep(0.2)
        time.sleep(0.5)
        self.assertEqual(files_of(self.instdir, skip=()), {"lib" + os.sep: "<dir>", os.path.join("lib", "mine.cfg"):
                                                           hashlib.sha256(b"mine").hexdigest()})
        self.assertIsNone(self.registry("DisplayName"))

    def test_uninstall_of_everything_removes_the_folder(self):
        v1 = self.setup(self.release("v1", V1), "1.0")
        self.assertEqual(self.install(v1), 0)
        # Run in place (_?=), the uninstaller waits and its exit code is the uninstall's; it
        # cannot remove itself then (NSIS).
        done = wine(os.path.join(self.instdir, "uninstall.exe"), "/S", "_?=" + win(self.instdir))
        self.assertEqual(done.returncode, 0)
        self.assertEqual(files_of(self.instdir, skip=()), {"uninstall.exe": files_of(self.instdir, skip=())["uninstall.exe"]})
        self.assertIsNone(self.registry("DisplayName"))
        # Run the usual way, it removes itself and the folder.
        self.assertEqual(self.install(v1), 0)
        self.assertEqual(wine(os.path.join(self.instdir, "uninstall.exe"), "/S").returncode, 0)
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline and os.path.exists(self.instdir):
            time.sleep(0.2)
        self.assertFalse(os.path.exists(self.instdir))

    def test_uninstall_with_a_file_in_use_loses_nothing(self):
        v1 = self.setup(self.release("v1", V1), "1.0")
        self.assertEqual(self.install(v1), 0)
        before = files_of(self.instdir, skip=())
        self.hold("none", os.path.join(self.instdir, "lib", "core.dll"))
        done = wine(os.path.join(self.instdir, "uninstall.exe"), "/S", "/LOG=" + win(self.log), "_?=" + win(self.instdir))
        self.assertEqual(done.returncode, 2)
        self.assertTrue(self.logged().startswith("文件正被使用："), self.logged())
        self.assertEqual(files_of(self.instdir, skip=()), before)
        self.assertEqual(self.registry("DisplayName"), "示例应用")


class Places(Placing):
    def test_other_drive_letter(self):
        if not os.path.ismount(os.path.join(ARGS.build, "tmpfs-q")):
            self.skipTest("no private drive Q: (the tmpfs fixture needs root)")
        unix = os.path.join(ARGS.build, "tmpfs-q", "other-drive-app")
        shutil.rmtree(unix, ignore_errors=True)
        v1 = self.setup(self.release("v1", V1), "1.0")
        v2 = self.setup(self.release("v2", V2), "2.0")
        try:
            for setup, payload, version in ((v1, V1, "1.0"), (v2, V2, "2.0")):
                if os.path.exists(self.log):
                    os.remove(self.log)
                code = wine(setup, "/S", "/LOG=" + win(self.log), "/D=Q:\\other-drive-app", timeout=180).returncode
                self.assertEqual(code, 0, self.log)
                self.assert_installed(payload, version, instdir=unix)
        finally:
            shutil.rmtree(unix, ignore_errors=True)

    def test_path_over_260_characters(self):
        deep = self.case
        while len(win(deep)) < 280:
            deep = os.path.join(deep, "很长的文件夹名称-abcdefghijklmnopqrstuvwxyz")
        names = dict(V1)
        names["lib/" + "n" * 120 + ".dll"] = b"a long name"
        v1 = self.setup(self.release("v1", names), "1.0")
        self.assertGreater(len(win(deep)), 260)
        self.assertEqual(self.install(v1, instdir=deep), 0, self.logged() if os.path.exists(self.log) else "")
        self.assertEqual(release_files(deep), expected(names))
        self.assertEqual(record_version(deep), "1.0")
        self.assertTrue(os.path.isfile(os.path.join(deep, "uninstall.exe")))
        done = wine(os.path.join(deep, "uninstall.exe"), "/S", "_?=" + win(deep))
        self.assertEqual(done.returncode, 0)
        self.assertEqual(set(files_of(deep, skip=())), {"uninstall.exe"})


class TwoAtOnce(Placing):
    def test_two_installers_into_one_folder(self):
        v1 = self.setup(self.release("v1", V1), "1.0")
        v2 = self.setup(self.release("v2", V2), "2.0")
        results = {}

        def run(name, setup):
            log = os.path.join(self.case, name + ".log")
            results[name] = wine(setup, "/S", "/LOG=" + win(log), "/D=" + win(self.instdir), timeout=180).returncode

        threads = [threading.Thread(target=run, args=("v1", v1)), threading.Thread(target=run, args=("v2", v2))]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        # One after the other: both succeed, and the folder is exactly the release that came last.
        logs = {}
        for name in results:
            log = os.path.join(self.case, name + ".log")
            if os.path.exists(log):
                with open(log, "rb") as f:
                    logs[name] = f.read().decode("utf-16").strip()
        state = "results %r, logs %r, folder %r" % (results, logs, sorted(files_of(self.instdir, skip=())))
        self.assertEqual(results, {"v1": 0, "v2": 0}, state)
        version = record_version(self.instdir)
        self.assertIn(version, ("1.0", "2.0"), state)
        self.assert_installed(V1 if version == "1.0" else V2, version)


class Kill(Placing):
    """The installer's process killed during placing (SIGKILL to the Wine process): afterwards
    (a run of an installer whose package is missing, which does its recovery and then fails)
    and after the next run (the good installer) the folder is exactly the old or exactly the
    new release."""

    def backups(self):
        stage = os.path.join(self.instdir, ".qel-stage")
        count = 0
        try:
            for job in os.scandir(stage):
                try:
                    count += sum(1 for _ in os.scandir(os.path.join(job.path, "b")))
                except OSError:
                    pass
        except OSError:
            pass
        return count

    def committed(self):
        try:
            return record_version(self.instdir) == "2.0"
        except (OSError, UnicodeDecodeError):
            return False

    def test_killed_while_placing(self):
        many1 = {"files/f%03d.dat" % i: b"v1 %d " % i * 20 for i in range(200)}
        many2 = {"files/f%03d.dat" % i: b"v2 %d " % i * 25 for i in range(200)}
        many2.update({"new/n%02d.dat" % i: b"new %d" % i for i in range(20)})
        v1 = self.setup(self.release("v1", many1), "1.0")
        v2_release = self.release("v2", many2)
        v2 = self.setup(v2_release, "2.0")
        # The same release without its package: its run recovers the folder, then fails.
        broken_release = os.path.join(self.case, "v2-broken")
        shutil.copytree(v2_release, broken_release)
        broken = self.setup(broken_release, "2.0")
        os.remove(os.path.join(broken_release, "application.cab"))
        # A point: the number of files moved aside so far (200 of v1's and its record), or 0 for
        # the moment the new record is in place (the commit point; the backups are deleted next).
        points = [1, 70, 150, 201, 0]
        if os.environ.get("QEL_KILL_SERIES") == "full":
            points = list(range(1, 202, 8)) + [200, 201, 0, 0, 0]
        outcomes = []
        for point in points:
            shutil.rmtree(self.instdir, ignore_errors=True)
            self.assertEqual(self.install(v1), 0)
            old = release_files(self.instdir)
            proc = subprocess.Popen([ARGS.wine_run, v2, "/S", "/D=" + win(self.instdir)],
                                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            deadline = time.monotonic() + 120
            while proc.poll() is None and time.monotonic() < deadline:
                if (point == 0 and self.committed()) or (point > 0 and self.backups() >= point):
                    break
                time.sleep(0.0005)
            seen = self.backups()
            killed = proc.poll() is None
            if killed:
                os.kill(proc.pid, signal.SIGKILL)
            proc.wait(timeout=60)
            # Afterwards.
            self.assertEqual(self.install(broken), 2)
            self.assertEqual(self.logged().splitlines()[-1], "应用包无法读取（错误码 2）。")
            now = release_files(self.instdir)
            is_new = now == expected(many2)
            self.assertTrue(now == old or is_new, "point %d (%d backups seen): a mix" % (point, seen))
            self.assertEqual(record_version(self.instdir), "2.0" if is_new else "1.0")
            self.assertFalse(os.path.exists(os.path.join(self.instdir, ".qel-stage")), "staging stayed")
            outcomes.append((point, seen, killed, "new" if is_new else "old"))
            # The next run.
            self.assertEqual(self.install(v2), 0)
            self.assertEqual(release_files(self.instdir), expected(many2))
            self.assertEqual(record_version(self.instdir), "2.0")
        print("kill points (point, backups seen, killed, after):", outcomes, file=sys.stderr)
        self.assertTrue(any(k and o == "old" for _, _, k, o in outcomes), outcomes)
        self.assertTrue(any(k and o == "new" for _, _, k, o in outcomes), outcomes)


if __name__ == "__main__":
    unittest.main(verbosity=2)
