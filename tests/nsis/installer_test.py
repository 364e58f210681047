#!/usr/bin/env python3
"""The example installer (nsis/example.nsi on nsis/qel.nsh) built with makensis and run silently
under Wine: what it installs, its exit code, the failure line in its /LOG file, and what it
leaves behind (its %TEMP% plug-ins folder, a downloaded package, anything outside $INSTDIR)."""
import argparse
import glob
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

parser = argparse.ArgumentParser()
for option in ("--bin", "--build", "--target", "--shipped", "--wine-run", "--nsis"):
    parser.add_argument(option, required=True)
ARGS, rest = parser.parse_known_args()
sys.argv[1:] = rest

PAYLOAD = {
    "readme.txt": b"readme\r\n" * 100,
    "子目录/数据.bin": os.urandom(300000),
    "文档/说明/第三层.txt": "示例应用程序的说明。\n".encode("utf-8"),
    "COM10.txt": b"not a device\n",
}


# Written by the installer beside the release's files.
KIT_FILES = {"uninstall.exe", "qel-install.ini"}


def win(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine(*args, timeout=120):
    """Runs a Windows program in the test prefix. Its output goes to files, never to pipes: a
    Wine service the program happens to start (rpcss, services.exe and the rest start on first
    use) inherits its standard handles and lives as long as the prefix's persistent wineserver,
    so a pipe would not reach its end until the whole suite is over, and the wait for the
    output would outlast the program by minutes."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        done = subprocess.run([ARGS.wine_run, *args], stdout=out, stderr=err, timeout=timeout, stdin=subprocess.DEVNULL)
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(done.args, done.returncode, out.read(), err.read())


def temp_dirs():
    """The NSIS plug-ins folders (nsXXXX.tmp) in the test prefix's %TEMP%."""
    prefix = os.environ.get("WINEPREFIX", os.path.join(ARGS.build, "wine"))
    return set(glob.glob(os.path.join(prefix, "drive_c", "users", "*", "Temp", "ns*.tmp")))


def read_manifest(path):
    with open(path, "rb") as f:
        return f.read().decode("utf-16")


def write_manifest(path, text):
    with open(path, "wb") as f:
        f.write(text.encode("utf-16"))  # with a byte-order mark, as qelpack writes it


def set_value(text, section, key, value):
    """The manifest text with KEY in [SECTION] set to VALUE (added when missing)."""
    lines = text.split("\r\n")
    start = lines.index("[%s]" % section)
    end = start + 1
    while end < len(lines) and not lines[end].startswith("["):
        end += 1
    for i in range(start + 1, end):
        if lines[i].startswith(key + "="):
            lines[i] = "%s=%s" % (key, value)
            return "\r\n".join(lines)
    lines.insert(start + 1, "%s=%s" % (key, value))
    return "\r\n".join(lines)


class Installer(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="nsis-test-", dir=ARGS.build)
        src = os.path.join(cls.dir, "payload")
        for name, data in PAYLOAD.items():
            os.makedirs(os.path.dirname(os.path.join(src, name)), exist_ok=True)
            with open(os.path.join(src, name), "wb") as f:
                f.write(data)
        cls.release = os.path.join(cls.dir, "release")
        packed = wine(os.path.join(ARGS.bin, "qelpack.exe"), "pack", win(src), win(cls.release))
        assert packed.returncode == 0, packed.stderr
        cls.manifest = read_manifest(os.path.join(cls.release, "manifest.ini"))
        with open(os.path.join(cls.release, "application.cab"), "rb") as f:
            cls.cab = f.read()
        https = os.path.join(ARGS.build, "https")
        with open(os.path.join(https, "server.txt")) as f:
            cls.port = int(f.read().split()[0])
        cls.served = os.path.join(https, "root")
        cls.count = 0

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def setUp(self):
        Installer.count += 1
        self.case = os.path.join(self.dir, "case%d" % self.count)
        os.makedirs(self.case)
        self.instdir = os.path.join(self.case, "安装", "示例")
        self.log = os.path.join(self.case, "install.log")
        self.temp_before = temp_dirs()

    def build(self, manifest_text, bin_dir=None, target=None, out=None):
        manifest = os.path.join(self.case, "manifest.ini")
        write_manifest(manifest, manifest_text)
        out = out or os.path.join(self.case, "example-setup.exe")
        made = subprocess.run(["makensis", "-V2", "-DQEL_MANIFEST=" + manifest, "-DQEL_BIN=" + (bin_dir or ARGS.bin),
                               "-DQEL_OUTFILE=" + out, "-DQEL_TARGET=" + (target or ARGS.target),
                               os.path.join(ARGS.nsis, "example.nsi")], capture_output=True, timeout=120)
        self.assertEqual(made.returncode, 0, made.stdout.decode(errors="replace") + made.stderr.decode(errors="replace"))
        return out

    def install(self, setup, *extra, timeout=120):
        result = wine(setup, "/S", "/LOG=" + win(self.log), *extra, "/D=" + win(self.instdir), timeout=timeout)
        return result.returncode

    def logged(self):
        self.assertTrue(os.path.exists(self.log), "no /LOG file written")
        with open(self.log, "rb") as f:
            return f.read().decode("utf-16").strip()

    def installed(self, kit=False):
        """The files in $INSTDIR; without kit, the installer's own (the uninstaller and the
        install record) are left out."""
        found = {}
        for root, _, files in os.walk(self.instdir):
            for name in files:
                path = os.path.join(root, name)
                relative = os.path.relpath(path, self.instdir)
                if not kit and relative in KIT_FILES:
                    continue
                with open(path, "rb") as f:
                    found[relative] = hashlib.sha256(f.read()).hexdigest()
        return found

    def assert_everything_installed(self):
        want = {name: hashlib.sha256(data).hexdigest() for name, data in PAYLOAD.items()}
        self.assertEqual(self.installed(), want)
        for name in KIT_FILES:
            self.assertTrue(os.path.isfile(os.path.join(self.instdir, name)), name + " was not written")

    def assert_nothing_of_the_release(self):
        self.assertEqual(self.installed(kit=True), {}, "files of the release stayed in $INSTDIR")

    def assert_nothing_left_behind(self, *extra_allowed):
        # The installer's folder holds only what the test put there (and the log).
        allowed = {"example-setup.exe", "manifest.ini", "install.log", "安装", *extra_allowed}
        self.assertEqual(set(os.listdir(self.case)) - allowed, set())
        # Wine ends the installer before NSIS's clean-up is visible only in rare cases; wait briefly.
        for _ in range(20):
            left = temp_dirs() - self.temp_before
            if not left:
                break
            time.sleep(0.1)
        self.assertEqual(left, set(), "the plug-ins folder stayed in %TEMP%")

    # --- good releases -----------------------------------------------------------------------

    def test_placed_package_installs_every_entry(self):
        setup = self.build(self.manifest)
        shutil.copy(os.path.join(self.release, "application.cab"), os.path.join(self.case, "application.cab"))
        self.assertEqual(self.install(setup), 0)
        self.assert_everything_installed()
        # A placed package is the host's: it stays.
        self.assertTrue(os.path.exists(os.path.join(self.case, "application.cab")))
        self.assertFalse(os.path.exists(self.log), "a log was written for a success")
        self.assert_nothing_left_behind("application.cab")

    def test_download_installs_every_entry(self):
        name = "good-%d-%d.cab" % (os.getpid(), self.count)
        with open(os.path.join(self.served, name), "wb") as f:
            f.write(self.cab)
        setup = self.build(set_value(self.manifest, "Package", "Url", "https://127.0.0.1:%d/normal/%s" % (self.port, name)))
        self.assertEqual(self.install(setup), 0)
        self.assert_everything_installed()
        self.assert_nothing_left_behind()

    def test_existing_files_are_replaced(self):
        setup = self.build(self.manifest)
        shutil.copy(os.path.join(self.release, "application.cab"), os.path.join(self.case, "application.cab"))
        os.makedirs(os.path.join(self.instdir, "子目录"))
        with open(os.path.join(self.instdir, "子目录", "数据.bin"), "wb") as f:
            f.write(b"old version")
        self.assertEqual(self.install(setup), 0)
        # A file no install recorded is the user's: replaced, and kept beside the new one.
        with open(os.path.join(self.instdir, "子目录", "数据.bin.user"), "rb") as f:
            self.assertEqual(f.read(), b"old version")
        os.remove(os.path.join(self.instdir, "子目录", "数据.bin.user"))
        self.assert_everything_installed()

    # --- failures ----------------------------------------------------------------------------

    def test_corrupt_package_fails_with_nothing_installed(self):
        setup = self.build(self.manifest)
        data = bytearray(self.cab)
        data[len(data) // 2] ^= 0x5A
        with open(os.path.join(self.case, "application.cab"), "wb") as f:
            f.write(data)
        self.assertEqual(self.install(setup), 2)
        self.assertEqual(self.logged(), "应用包 SHA-256 校验失败，未开始安装。")
        self.assert_nothing_of_the_release()
        self.assert_nothing_left_behind("application.cab")

    def test_bad_manifest_fails(self):
        setup = self.build(set_value(self.manifest, "Package", "Format", "qel-cab-1"))
        shutil.copy(os.path.join(self.release, "application.cab"), os.path.join(self.case, "application.cab"))
        self.assertEqual(self.install(setup), 2)
        self.assertEqual(self.logged(), "应用包发布清单无效。")
        self.assert_nothing_of_the_release()
        self.assert_nothing_left_behind("application.cab")

    def test_missing_package_fails(self):
        setup = self.build(self.manifest)
        self.assertEqual(self.install(setup), 2)
        # The plain line names the package the installer looked for; qelfetch's line follows.
        self.assertEqual(self.logged().split("\r\n"), ["找不到应用包。请把应用包放在：" + win(os.path.join(self.case, "application.cab")),
                                                        "应用包无法读取（错误码 2）。"])
        self.assert_nothing_of_the_release()
        self.assert_nothing_left_behind()

    def test_404_fails_and_leaves_no_package(self):
        setup = self.build(set_value(self.manifest, "Package", "Url", "https://127.0.0.1:%d/status404/none.cab" % self.port))
        self.assertEqual(self.install(setup), 2)
        self.assertEqual(self.logged(), "服务器未提供应用包（HTTP 404）。")
        self.assert_nothing_of_the_release()
        self.assert_nothing_left_behind()

    def test_unsafe_names_fail_before_any_file_is_placed(self):
        unsafe = ["C:\\evil.txt", "C:evil.txt", "\\evil.txt", "/evil.txt", "..\\evil.txt", "子目录\\..\\..\\evil.txt",
                  "a/../../evil.txt", "CON", "nul.txt", "子目录\\com1", "evil.txt.", '"evil.txt "', "子目录\\\\evil.txt",
                  "evil?.txt", "\\\\?\\C:\\evil.txt"]
        placed = os.path.join(self.case, "application.cab")
        shutil.copy(os.path.join(self.release, "application.cab"), placed)
        # Entry 1 is the unsafe one, so entry 0 would be placed first if the check came late.
        before = set(os.listdir(self.case))
        for name in unsafe:
            with self.subTest(name=name):
                setup = self.build(set_value(self.manifest, "1", "Name", name))
                if os.path.exists(self.log):
                    os.remove(self.log)
                self.assertEqual(self.install(setup), 2)
                self.assertIn("发布清单中的文件名不能安装：", self.logged())
                self.assert_nothing_of_the_release()
                self.assertFalse(glob.glob(os.path.join(self.dir, "**", "evil*"), recursive=True))
                self.assertEqual(set(os.listdir(self.case)) - before - {"example-setup.exe", "manifest.ini", "install.log"}, set())
        self.assert_nothing_left_behind("application.cab")

    def test_names_that_collide_fail(self):
        text = self.manifest
        names = [text.split("[%d]" % i)[1].split("Name=")[1].split("\r\n")[0] for i in range(4)]
        collide = set_value(text, "1", "Name", names[0].upper())
        setup = self.build(collide)
        shutil.copy(os.path.join(self.release, "application.cab"), os.path.join(self.case, "application.cab"))
        self.assertEqual(self.install(setup), 2)
        self.assertIn("重复", self.logged())
        self.assert_nothing_of_the_release()

    def test_a_folder_in_the_way_undoes_the_files_already_placed(self):
        # The last entry cannot be placed: a folder of its name is there. Entries placed before
        # it are taken out again and only the stranger's folder stays.
        setup = self.build(self.manifest)
        shutil.copy(os.path.join(self.release, "application.cab"), os.path.join(self.case, "application.cab"))
        last = sorted(PAYLOAD)[-1]
        blocker = os.path.join(self.instdir, *last.split("/"))
        os.makedirs(blocker)
        self.assertEqual(self.install(setup), 2)
        self.assertIn("同名文件夹", self.logged())
        self.assert_nothing_of_the_release()
        self.assertTrue(os.path.isdir(blocker))
        self.assert_nothing_left_behind("application.cab")

    # --- cancel ------------------------------------------------------------------------------

    def run_with_pages(self, setup):
        """Starts SETUP with its pages (the prefix's null display driver); the caller drives it
        with nsis_pilot.exe and waits for it."""
        return subprocess.Popen([ARGS.wine_run, setup, "/LOG=" + win(self.log), "/D=" + win(self.instdir)],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def pilot(self, *args, timeout=90):
        # Only this case's installer: nothing else in the prefix is pressed.
        os.environ["NSIS_PILOT_EXE"] = win(os.path.join(self.case, "example-setup.exe"))
        done = wine(os.path.join(ARGS.bin, "nsis_pilot.exe"), *args, timeout=timeout)
        return done.returncode, done.stdout.decode("utf-8", errors="replace").replace("\r", "")

    def wait_for_page(self, kind, seconds=60):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if self.pilot("page")[1].strip() == kind:
                return True
            time.sleep(0.3)
        return False

    def end_of(self, proc, seconds=60):
        try:
            return proc.wait(timeout=seconds)
        finally:
            if proc.poll() is None:
                proc.kill()

    def test_cancel_button_during_download(self):
        # nsis_pilot.exe leads the installer to its progress page and clicks Cancel once the
        # download shows its megabytes. A release large enough (12 MB, trickled at about
        # 800 KB/s) that the download is still running when the click comes.
        src = os.path.join(self.case, "big")
        os.makedirs(src)
        with open(os.path.join(src, "big.bin"), "wb") as f:
            f.write(os.urandom(12 * 1024 * 1024))
        release = os.path.join(self.case, "big-release")
        packed = wine(os.path.join(ARGS.bin, "qelpack.exe"), "pack", win(src), win(release))
        self.assertEqual(packed.returncode, 0, packed.stderr)
        name = "cancel-%d-%d.cab" % (os.getpid(), self.count)
        shutil.copy(os.path.join(release, "application.cab"), os.path.join(self.served, name))
        manifest = read_manifest(os.path.join(release, "manifest.ini"))
        shutil.rmtree(src)
        shutil.rmtree(release)
        setup = self.build(set_value(manifest, "Package", "Url", "https://127.0.0.1:%d/trickle/%s" % (self.port, name)))
        proc = self.run_with_pages(setup)
        try:
            clicked, _ = self.pilot("cancel", "已下载", "60")
            self.assertEqual(clicked, 0, "the progress page never showed the download")
            code = self.end_of(proc)
        finally:
            os.remove(os.path.join(self.served, name))
        self.assertEqual(code, 1)
        self.assertEqual(self.logged(), "已取消，未开始安装。")
        self.assert_nothing_of_the_release()
        self.assert_nothing_left_behind()

    def test_failure_page_shows_the_failure_and_closes(self):
        # A corrupt package with the installer's pages: after the progress page comes the
        # failure page (its close button, the failure text), and its close button ends the
        # installer with code 2.
        setup = self.build(self.manifest)
        data = bytearray(self.cab)
        data[len(data) // 2] ^= 0x5A
        with open(os.path.join(self.case, "application.cab"), "wb") as f:
            f.write(data)
        proc = self.run_with_pages(setup)
        try:
            self.assertTrue(self.wait_for_page("custom"), "the welcome page did not come")
            self.pilot("next")
            self.assertTrue(self.wait_for_page("directory"), "the folder page did not come")
            self.pilot("next")
            self.assertTrue(self.wait_for_page("failure"), "the failure page did not come")
            windows = self.pilot("windows")[1].splitlines()
            texts = [line for line in windows if " Edit " in line and " shown " in line]
            self.assertEqual(len(texts), 1, windows)
            self.assertTrue(texts[0].endswith("应用包 SHA-256 校验失败，未开始安装。"), texts[0])
            # NSIS's own buttons are hidden; the close button is the only one shown.
            shown = [line.split()[0] for line in windows if " Button " in line and " shown " in line]
            self.assertEqual(shown, ["28945"])
            self.pilot("click", "28945")
            code = self.end_of(proc)
        finally:
            if proc.poll() is None:
                proc.kill()
        self.assertEqual(code, 2)
        self.assertEqual(self.logged(), "应用包 SHA-256 校验失败，未开始安装。")
        self.assert_nothing_of_the_release()
        self.assert_nothing_left_behind("application.cab")

    def page_windows(self):
        """The main window's windows as the pilot lists them: (band right edge in pixels, list
        of dicts with id, cls, left, top, right, bottom, shown, parent, text)."""
        lines = self.pilot("windows")[1].splitlines()
        # The band is 90 dialog units (QEL_BAND_DU) of a main window 320 units wide: NSIS's 280
        # and the 40 (QEL_WIDEN_DU) the include adds. MapDialogRect cannot be asked from
        # another process.
        band = 90 * int(lines[0].split()[2]) // 320
        windows = []
        for line in lines[1:]:
            ident, cls, place, shown, parent = line.split(" ", 5)[:5]
            text = line.split(" ", 5)[5] if line.count(" ") >= 5 else ""
            (left, top), (right, bottom) = [tuple(int(v) for v in corner.strip("()").split(","))
                                            for corner in place.split("-(")]
            windows.append(dict(id=int(ident), cls=cls, left=left, top=top, right=right, bottom=bottom,
                                shown=shown == "shown", parent=parent.split("=")[1], text=text))
        return band, windows

    def assert_clear_of_the_band(self, band, windows, page):
        # Nothing NSIS shows on a page, and no line of the main window, reaches into the band.
        for w in windows:
            if not w["shown"] or w["cls"] == "#32770":
                continue
            if w["parent"] == "page" or (w["parent"] == "main" and w["cls"] == "Static"):
                self.assertGreaterEqual(w["left"], band, "%s page: %r lies across the band" % (page, w))

    def test_pages_keep_clear_of_the_band(self):
        # The pages of a good install, looked at one by one: nothing of NSIS's drawn across the
        # band, the prompt card laid out on the welcome page, the finish page's lines clear.
        setup = self.build(self.manifest)
        shutil.copy(os.path.join(self.release, "application.cab"), os.path.join(self.case, "application.cab"))
        proc = self.run_with_pages(setup)
        try:
            self.assertTrue(self.wait_for_page("custom"), "the welcome page did not come")
            band, windows = self.page_windows()
            self.assert_clear_of_the_band(band, windows, "welcome")
            # The prompt: three texts in one column, the two buttons below the last one.
            texts = [w for w in windows if w["parent"] == "page" and w["cls"] == "Static" and w["shown"]]
            buttons = [w for w in windows if w["parent"] == "page" and w["cls"] == "Button" and w["shown"]]
            self.assertEqual([w["text"] for w in texts], ["欢迎安装示例应用", "从服务器下载应用包， 校验后安装。", "安装中可随时取消。"])
            self.assertEqual(len({w["left"] for w in texts + buttons[:1]}), 1, texts + buttons)
            self.assertGreater(buttons[0]["top"], texts[-1]["bottom"])
            # NSIS's Next and Back are hidden on this page; the prompt's buttons lead on.
            self.assertFalse([w for w in windows if w["parent"] == "main" and w["id"] in (1, 3) and w["shown"]])
            self.pilot("next")
            self.assertTrue(self.wait_for_page("directory"), "the folder page did not come")
            band, windows = self.page_windows()
            self.assert_clear_of_the_band(band, windows, "folder")
            edit = [w for w in windows if w["id"] == 1019][0]
            self.assertTrue(edit["shown"])
            self.pilot("next")
            # A placed package: the progress page leads on to the finish page by itself.
            self.assertTrue(self.wait_for_page("custom"), "the finish page did not come")
            band, windows = self.page_windows()
            self.assert_clear_of_the_band(band, windows, "finish")
            self.assertIn("示例应用已安装完成。", [w["text"] for w in windows if w["shown"]])
            self.pilot("click", "1")
            code = self.end_of(proc)
        finally:
            if proc.poll() is None:
                proc.kill()
        self.assertEqual(code, 0)
        self.assert_everything_installed()
        self.assert_nothing_left_behind("application.cab")

    # --- the shipped 32-bit build ------------------------------------------------------------

    def test_shipped_32_bit_installer_builds(self):
        out = os.path.join(self.case, "setup32.exe")
        self.build(self.manifest, bin_dir=ARGS.shipped, target="x86-unicode", out=out)
        with open(out, "rb") as f:
            data = f.read()
        pe = int.from_bytes(data[0x3C:0x40], "little")
        self.assertEqual(data[pe:pe + 6], b"PE\0\0\x4c\x01", "not a 32-bit x86 installer")

    def test_missing_dll_stops_the_build(self):
        manifest = os.path.join(self.case, "manifest.ini")
        write_manifest(manifest, self.manifest)
        made = subprocess.run(["makensis", "-V2", "-DQEL_MANIFEST=" + manifest, "-DQEL_BIN=" + self.case,
                               "-DQEL_OUTFILE=" + os.path.join(self.case, "x.exe"), os.path.join(ARGS.nsis, "example.nsi")],
                              capture_output=True, timeout=60)
        self.assertNotEqual(made.returncode, 0)
        self.assertIn(b"qelfetch.dll does not exist", made.stdout + made.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.case, "x.exe")))


if __name__ == "__main__":
    unittest.main(verbosity=2)
