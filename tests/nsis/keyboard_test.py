#!/usr/bin/env python3
"""The example installer used as a keyboard and screen-reader user uses it, under Xvfb with Wine's
X11 driver (real key presses through SendInput, real screenshots): every page by keyboard alone
(Tab and Shift+Tab order, Enter, Esc, mnemonics, a visible focus cue on every control that takes
the focus), what MSAA reads from it, the status line's announcements, the whole installer under
high contrast switched on before it starts, and the band picture drawn at its own size at 96, 144
and 192 DPI.

Run inside xvfb-run. The tools: nsis_keys.exe (keys, focus, MSAA, screen places) and
contrast_start.exe (starts a program that sees high contrast on), both from tests/nsis."""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

parser = argparse.ArgumentParser()
for option in ("--bin", "--build", "--target", "--wine-run", "--nsis", "--top"):
    parser.add_argument(option, required=True)
ARGS, rest = parser.parse_known_args()
sys.argv[1:] = rest

PREFIX = os.path.join(ARGS.build, "wine-x11")
BAND, PICTURE = 0x006B3B24, 0x0070C0E8  # QEL_COLOR_BAND and QEL_COLOR_PICTURE of qel.nsh
FAILURE = "应用包 SHA-256 校验失败，未开始安装。"


def win(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine(*args, timeout=120, env=None):
    """A Windows program in the X11 prefix; output through files (a Wine service it starts would
    hold a pipe open until the prefix's wineserver ends)."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        done = subprocess.run([ARGS.wine_run, *args], stdout=out, stderr=err, stdin=subprocess.DEVNULL,
                              timeout=timeout, env=env)
        out.seek(0)
        err.seek(0)
        return done.returncode, out.read().decode("utf-8", "replace").replace("\r", "")


def set_dpi(dpi):
    code, _ = wine("reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f")
    assert code == 0, "LogPixels not set"


def blend(a, b, step):
    """COLORREF step/255 of the way from a to b, as (r, g, b), truncating towards zero."""
    out = []
    for shift in (0, 8, 16):
        x, y = (a >> shift) & 255, (b >> shift) & 255
        out.append((x + int((y - x) * step / 255)) & 255)
    return tuple(out)


def bmp_indices(path):
    with open(path, "rb") as f:
        data = f.read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height = struct.unpack_from("<ii", data, 18)
    stride = (width + 3) & ~3
    rows = [data[offset + y * stride:offset + y * stride + width] for y in range(abs(height))]
    if height > 0:
        rows.reverse()
    return width, abs(height), rows


class Screen:
    """A screenshot of the Xvfb screen as RGB bytes."""

    def __init__(self):
        png = os.path.join(Keyboard.dir, "screen.png")
        subprocess.run(["import", "-window", "root", png], check=True, timeout=30)
        size = subprocess.run(["identify", "-format", "%w %h", png], capture_output=True, text=True, check=True)
        self.width, self.height = map(int, size.stdout.split())
        self.rgb = subprocess.run(["convert", png, "-depth", "8", "rgb:-"], capture_output=True, check=True).stdout

    def at(self, x, y):
        o = (y * self.width + x) * 3
        return tuple(self.rgb[o:o + 3])

    def crop(self, rect):
        left, top, right, bottom = rect
        return b"".join(self.rgb[(y * self.width + left) * 3:(y * self.width + right) * 3] for y in range(top, bottom))

    def find(self, rows, area):
        """Where the picture rows (RGB bytes per row) lie exactly in the area, or None."""
        height, width = len(rows), len(rows[0]) // 3
        left, top, right, bottom = area
        middle = height // 2
        for y in range(top, bottom - height + 1):
            for x in range(left, right - width + 1):
                o = ((y + middle) * self.width + x) * 3
                if self.rgb[o:o + 3 * width] != rows[middle]:
                    continue
                if all(self.rgb[((y + r) * self.width + x) * 3:((y + r) * self.width + x + width) * 3] == rows[r]
                       for r in range(height)):
                    return x, y
        return None


class Keyboard(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="keyboard-test-", dir=ARGS.build)
        os.environ["WINEPREFIX"] = PREFIX
        # A wineserver left from another display would keep this prefix's windows there.
        subprocess.run(["wineserver", "-k"], stderr=subprocess.DEVNULL)
        made = subprocess.run(["bash", os.path.join(ARGS.top, "tests", "bed", "x11-prefix.sh"), ARGS.build],
                              capture_output=True, timeout=300)
        assert made.returncode == 0, made.stderr
        set_dpi(96)
        src = os.path.join(cls.dir, "payload")
        os.makedirs(os.path.join(src, "文档"))
        for name, data in (("readme.txt", b"readme\r\n" * 100), ("文档/说明.txt", "说明。\n".encode())):
            with open(os.path.join(src, name), "wb") as f:
                f.write(data)
        cls.release = os.path.join(cls.dir, "release")
        code, _ = wine(os.path.join(ARGS.bin, "qelpack.exe"), "pack", win(src), win(cls.release))
        assert code == 0, "qelpack failed"
        with open(os.path.join(cls.release, "manifest.ini"), "rb") as f:
            cls.manifest = f.read().decode("utf-16")
        with open(os.path.join(cls.release, "application.cab"), "rb") as f:
            cls.cab = f.read()
        with open(os.path.join(ARGS.build, "https", "server.txt")) as f:
            cls.port = int(f.read().split()[0])
        cls.served = os.path.join(ARGS.build, "https", "root")
        cls.count = 0

    @classmethod
    def tearDownClass(cls):
        try:
            set_dpi(96)
        finally:
            subprocess.run(["wineserver", "-k"], stderr=subprocess.DEVNULL)
            shutil.rmtree(cls.dir, ignore_errors=True)

    def setUp(self):
        Keyboard.count += 1
        self.case = os.path.join(self.dir, "case%d" % self.count)
        os.makedirs(self.case)
        self.instdir = os.path.join(self.case, "安装")
        self.log = os.path.join(self.case, "install.log")
        self.proc = None
        self.names = []  # (focused text, (MSAA name, value)) at each Tab stop

    def tearDown(self):
        if self.proc is not None and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()

    # --- the installer -----------------------------------------------------------------------

    def build(self, url=None, package=None):
        text = self.manifest
        if url:
            text = text.replace("[Package]\r\n", "[Package]\r\nUrl=%s\r\n" % url, 1)
        manifest = os.path.join(self.case, "manifest.ini")
        with open(manifest, "wb") as f:
            f.write(text.encode("utf-16"))
        setup = os.path.join(self.case, "setup.exe")
        made = subprocess.run(["makensis", "-V2", "-DQEL_MANIFEST=" + manifest, "-DQEL_BIN=" + ARGS.bin,
                               "-DQEL_OUTFILE=" + setup, "-DQEL_TARGET=" + ARGS.target,
                               os.path.join(ARGS.nsis, "example.nsi")], capture_output=True, timeout=120)
        self.assertEqual(made.returncode, 0, made.stdout + made.stderr)
        if package is not None:
            with open(os.path.join(self.case, "application.cab"), "wb") as f:
                f.write(package)
        return setup

    def start(self, setup, contrast=False):
        os.environ["NSIS_PILOT_EXE"] = win(setup)
        command = [ARGS.wine_run]
        if contrast:
            command.append(os.path.join(ARGS.bin, "contrast_start.exe"))
        command += [setup, "/LOG=" + win(self.log), "/D=" + win(self.instdir)]
        self.proc = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)

    def end(self, seconds=60):
        try:
            return self.proc.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            self.fail("the installer did not end")

    def logged(self):
        with open(self.log, "rb") as f:
            return f.read().decode("utf-16").strip()

    def keys(self, *args):
        return wine(os.path.join(ARGS.bin, "nsis_keys.exe"), *args)

    def focus(self):
        """(page kind, text of the focused control)."""
        code, out = self.keys("focus")
        if code != 0 or not out.strip():
            return None, None
        parts = out.strip("\n").split(" ", 3)
        return parts[0], parts[3] if len(parts) > 3 else ""

    def wait_focus(self, text, page=None, seconds=30):
        deadline = time.monotonic() + seconds
        seen = None
        while time.monotonic() < deadline:
            seen = self.focus()
            if seen[1] == text and (page is None or seen[0] == page):
                return
            time.sleep(0.2)
        self.fail("focus on %r (%s) did not come; last seen %r" % (text, page, seen))

    def press(self, *keys):
        code, _ = self.keys("press", *keys)
        self.assertEqual(code, 0)

    def rect(self, which):
        code, out = self.keys("rect", which)
        self.assertEqual(code, 0, "no control %s" % which)
        return tuple(int(v) for v in out.split())

    def msaa(self, which):
        code, out = self.keys("msaa", which)
        self.assertEqual(code, 0, "no accessible object for %s" % which)
        name, value = out.strip("\n").split("|", 1)
        return name, value

    def tab_order(self, start, count, back=False):
        """The focused texts Tab (or Shift+Tab) goes through from the control with the focus,
        with the control's place and a screenshot at each stop: [(text, rect, screen)]."""
        time.sleep(0.3)
        stops = [(start, self.rect("focus"), Screen())]
        for _ in range(count):
            before = stops[-1][0]
            self.press("shift+tab" if back else "tab")
            deadline = time.monotonic() + 10
            while self.focus()[1] == before and time.monotonic() < deadline:
                time.sleep(0.1)
            time.sleep(0.3)
            stops.append((self.focus()[1], self.rect("focus"), Screen()))
            self.names.append((stops[-1][0], self.msaa("focus")))
        return stops

    def assert_focus_cues(self, stops):
        """Each control looks different with the focus than while another control has it."""
        for text, rect, screen in stops:
            other = next(s for s in stops if s[0] != text)
            self.assertNotEqual(screen.crop(rect), other[2].crop(rect), "%r shows no focus cue" % text)

    # --- keyboard alone ----------------------------------------------------------------------

    def test_every_page_by_keyboard_and_the_picture_at_96_dpi(self):
        setup = self.build(package=self.cab)
        self.start(setup)
        # Welcome: the prompt's first button has the focus (Enter starts), Tab goes round the
        # two prompt buttons and Cancel on the band, Shift+Tab the other way.
        self.wait_focus("开始安装(&S)", "custom")
        stops = self.tab_order("开始安装(&S)", 3)
        self.assertEqual([s[0] for s in stops], ["开始安装(&S)", "退出(&X)", "取消(&C)", "开始安装(&S)"])
        self.assert_focus_cues(stops)
        back = self.tab_order("开始安装(&S)", 3, back=True)
        self.assertEqual([s[0] for s in back], ["开始安装(&S)", "取消(&C)", "退出(&X)", "开始安装(&S)"])
        self.assertEqual(self.msaa("focus"), ("开始安装(S)", "-"))
        # The band picture at its own size: the 100 % picture, recoloured, pixel for pixel.
        width, height, rows = bmp_indices(os.path.join(ARGS.nsis, "band.bmp"))
        table = [bytes(blend(BAND, PICTURE, i)) for i in range(256)]
        main = self.rect("main")
        self.assertIsNotNone(Screen().find([b"".join(table[i] for i in row) for row in rows], main),
                             "the 100 % picture is not drawn at its own size")

        self.assert_page_meets_the_window()

        # Alt+S: the folder page, the focus in the folder field; Tab: browse, back, install,
        # cancel and round again; every one of them shows the focus.
        self.press("alt+s")
        self.wait_focus(win(self.instdir), "directory")
        stops = self.tab_order(win(self.instdir), 5)
        self.assertEqual([s[0] for s in stops],
                         [win(self.instdir), "浏览(&B)…", "‹ 上一步(&P)", "安装(&I)", "取消(&C)", win(self.instdir)])
        self.assert_focus_cues(stops)
        # What a screen reader reads at each stop: a button's caption without its "&"; the
        # folder field's path as its value.
        for text, (name, value) in self.names:
            if text == win(self.instdir):
                self.assertEqual(value, text)
            else:
                self.assertEqual((name, value), (text.replace("&", "", 1), "-"))
        # Alt+P back to the welcome page, Enter on to the folder page again.
        self.press("alt+p")
        self.wait_focus("开始安装(&S)", "custom")
        self.press("enter")
        self.wait_focus(win(self.instdir), "directory")
        # Alt+B opens the folder browser, Esc closes it again and the page is still there.
        self.press("alt+b")
        deadline = time.monotonic() + 20
        while len(self.keys("windows")[1].splitlines()) < 2 and time.monotonic() < deadline:
            time.sleep(0.2)
        self.assertGreaterEqual(len(self.keys("windows")[1].splitlines()), 2, "no folder browser")
        self.press("esc")
        deadline = time.monotonic() + 20
        while len(self.keys("windows")[1].splitlines()) > 1 and time.monotonic() < deadline:
            time.sleep(0.2)
        self.assertEqual(len(self.keys("windows")[1].splitlines()), 1, "the folder browser stayed")
        self.assertEqual(self.focus()[0], "directory")
        # Alt+I installs (a placed package: on to the finish page by itself); Enter finishes.
        self.press("alt+i")
        self.wait_focus("完成(&F)", "custom")
        self.press("enter")
        self.assertEqual(self.end(), 0)
        self.assertTrue(os.path.exists(os.path.join(self.instdir, "readme.txt")))

    def assert_page_meets_the_window(self):
        """No seam where the page meets the main window around it: above the page and right of
        it the window has the page's colour (the textures' grain aside), and the band's edge runs
        straight on from the window into the page."""
        screen = Screen()
        left, top, right, bottom = self.rect("main")
        page = self.rect("page")

        def mean(xs, ys):
            pixels = [screen.at(x, y) for x in xs for y in ys]
            return [sum(p[i] for p in pixels) / len(pixels) for i in range(3)]

        def band_edge(y):
            x = left
            while screen.at(x, y)[2] - screen.at(x, y)[0] > 40:  # the band is dark blue
                x += 1
            return x
        edge = band_edge(top + 1)
        self.assertGreater(edge, page[0], "the band does not reach into the page")
        self.assertLess(page[1] - top, 40)
        self.assertLess(right - page[2], 40)
        inside = mean(range(edge + 20, edge + 120), range(page[1] + 2, page[1] + 12))
        for name, strip in (("top", mean(range(edge + 20, edge + 120), range(top, page[1]))),
                            ("right", mean(range(page[2], right), range(page[1] + 2, page[1] + 12)))):
            for channel in range(3):
                self.assertLess(abs(strip[channel] - inside[channel]), 1.5,
                                "the window's %s strip %s against the page's %s" % (name, strip, inside))
        self.assertEqual([band_edge(y) for y in (top + 1, page[1] - 1, page[1], page[1] + 4)], [edge] * 4,
                         "the band's edge steps where the page begins")

    def progress_page(self):
        """A download the server holds: the progress page stays until the test lets it go."""
        name = "keyboard-%d-%d.cab" % (os.getpid(), self.count)
        with open(os.path.join(self.served, name), "wb") as f:
            f.write(self.cab)
        self.addCleanup(lambda: [os.remove(p) for p in (os.path.join(self.served, name),
                                                         os.path.join(self.served, name + ".release"))
                                 if os.path.exists(p)])
        setup = self.build(url="https://127.0.0.1:%d/stall/%s" % (self.port, name))
        return setup, os.path.join(self.served, name + ".release")

    def cancel_on_progress_page(self, key):
        setup, release = self.progress_page()
        self.start(setup)
        self.wait_focus("开始安装(&S)", "custom")
        # Cancel on the band without the focus, as the welcome page shows it.
        unfocused = Screen().crop(self.rect("2"))
        # The status line's announcements while the delivery starts.
        with open(os.path.join(self.case, "events.txt"), "wb") as events:
            watch = subprocess.Popen([ARGS.wine_run, os.path.join(ARGS.bin, "nsis_keys.exe"), "events", "8"],
                                     stdin=subprocess.DEVNULL, stdout=events, stderr=subprocess.DEVNULL)
        time.sleep(1)
        self.press("enter")
        self.wait_focus(win(self.instdir), "directory")
        self.press("enter")  # Enter in the field: the default button, Install
        deadline = time.monotonic() + 30
        while self.msaa("1006")[0] != "正在连接下载服务器…" and time.monotonic() < deadline:
            time.sleep(0.2)
        self.assertEqual(self.msaa("1006"), ("正在连接下载服务器…", "-"))
        # Once the delivery runs Cancel has the focus (NSIS made the page with it disabled), and
        # shows it; Tab keeps it there, the page's only control that takes the focus.
        self.wait_focus("取消(&C)", "progress")
        self.assertNotEqual(Screen().crop(self.rect("2")), unfocused, "Cancel shows no focus cue")
        self.press("tab")
        self.wait_focus("取消(&C)", "progress")
        watch.wait(timeout=30)
        with open(os.path.join(self.case, "events.txt"), "rb") as f:
            events = f.read().decode("utf-8", "replace").replace("\r", "").splitlines()
        status = [line.split(" ", 1)[1] for line in events if line.startswith("1006 ")]
        # Each text announced once, though the delivery loop sets the status every 200 ms (the
        # first poll may already find the connection being made).
        # The texts come in this order: the placement job's, the delivery's, the connection.
        order = ["正在准备安装…", "正在准备应用包…", "正在连接下载服务器…"]
        self.assertEqual(status[-1:], ["正在连接下载服务器…"], events)
        self.assertEqual(status, [text for text in order if text in status], events)
        self.press(key)
        time.sleep(1)
        # Wine ends a cancelled request only once the pending read ends: the server lets go.
        with open(release, "wb"):
            pass
        self.assertEqual(self.end(), 1)
        self.assertEqual(self.logged(), "已取消，未开始安装。")

    def test_esc_cancels_the_download(self):
        self.cancel_on_progress_page("esc")

    def test_alt_c_cancels_the_download(self):
        self.cancel_on_progress_page("alt+c")

    def test_failure_page_by_keyboard(self):
        data = bytearray(self.cab)
        data[len(data) // 2] ^= 0x5A
        setup = self.build(package=bytes(data))
        self.start(setup)
        self.wait_focus("开始安装(&S)", "custom")
        self.press("enter")
        self.wait_focus(win(self.instdir), "directory")
        self.press("enter")
        # The close button has the focus; Tab goes to the failure text and back out of it.
        self.wait_focus("关闭", "failure")
        self.assertEqual(self.msaa("focus"), ("关闭", "-"))
        stops = self.tab_order("关闭", 2)
        self.assertEqual([s[0] for s in stops], ["关闭", FAILURE, "关闭"])
        self.assert_focus_cues(stops)  # the text box shows its text selected
        # The text box: its text is its value and, through its label, its name.
        self.press("tab")
        self.wait_focus(FAILURE, "failure")
        self.assertEqual(self.msaa("focus"), (FAILURE, FAILURE))
        # Esc in the text box closes the installer.
        self.press("esc")
        self.assertEqual(self.end(), 2)
        self.assertEqual(self.logged(), FAILURE)

    # --- high contrast -----------------------------------------------------------------------

    def assert_unskinned(self):
        """Nothing of the skin in the window: no pixel in the band's or the buttons' colours."""
        screen = Screen()
        left, top, right, bottom = self.rect("main")
        skin = {blend(BAND, PICTURE, step) for step in range(4)} | {blend(BAND, 0x00FFFFFF, 56)}
        found = [(x, y) for y in range(top, bottom, 2) for x in range(left, right, 2) if screen.at(x, y) in skin]
        self.assertEqual(found[:5], [], "skin colours under high contrast")
        # NSIS's own window: where the band would be, below the page's controls and above the
        # line over the buttons, the dialog's plain face.
        face = screen.at(left + 3, top + 150)
        self.assertEqual({screen.at(x, y) for x in range(left, left + 60) for y in range(top + 140, top + 200)}, {face})

    def assert_left_where_nsis_put_it(self, control):
        """The include neither lays the control out on the prompt card nor moves it off the band:
        it stays at the page's left margin (the band would take 90 of the 320 units)."""
        left, _, right, _ = self.rect("main")
        self.assertLess(self.rect(control)[0] - left, (right - left) * 90 // 320 // 2, "control %s was moved" % control)

    def test_high_contrast_at_start_leaves_every_window_unskinned(self):
        if ARGS.target != "x86-unicode":
            self.skipTest("contrast_start answers for 32-bit programs only")
        data = bytearray(self.cab)
        data[len(data) // 2] ^= 0x5A
        setup = self.build(package=bytes(data))
        self.start(setup, contrast=True)
        self.wait_focus("开始安装(&S)", "custom")
        self.assert_unskinned()
        self.assert_left_where_nsis_put_it("1200")  # the welcome title, first of nsDialogs' controls
        self.press("enter")
        self.wait_focus(win(self.instdir), "directory")
        self.assert_unskinned()
        self.assert_left_where_nsis_put_it("1019")
        self.press("enter")
        # The failure page: its close button and text, in the system's look, by keyboard.
        self.wait_focus("关闭", "failure")
        self.assert_unskinned()
        self.press("tab")
        self.wait_focus(FAILURE, "failure")
        self.assertEqual(self.msaa("focus"), (FAILURE, FAILURE))
        self.press("tab")
        self.wait_focus("关闭", "failure")
        self.press("enter")
        self.assertEqual(self.end(), 2)
        self.assertEqual(self.logged(), FAILURE)

    def test_high_contrast_at_start_progress_page_works(self):
        # NSIS's own progress page: the status line shows the delivery's text, the bar is the
        # delivery's (frozen at 0..100, where NSIS set 0..30000), Esc cancels.
        if ARGS.target != "x86-unicode":
            self.skipTest("contrast_start answers for 32-bit programs only")
        setup, release = self.progress_page()
        self.start(setup, contrast=True)
        self.wait_focus("开始安装(&S)", "custom")
        self.press("enter")
        self.wait_focus(win(self.instdir), "directory")
        self.press("enter")
        deadline = time.monotonic() + 30
        while self.msaa("1006")[0] != "正在连接下载服务器…" and time.monotonic() < deadline:
            time.sleep(0.2)
        self.assertEqual(self.msaa("1006"), ("正在连接下载服务器…", "-"))
        self.assertEqual(self.keys("bar", "1004")[1].split(), ["0", "100", "0"])
        self.assert_unskinned()
        self.press("esc")
        time.sleep(1)
        with open(release, "wb"):
            pass
        self.assertEqual(self.end(), 1)
        self.assertEqual(self.logged(), "已取消，未开始安装。")

    # --- the picture at other DPIs ---------------------------------------------------------------

    def picture_at(self, dpi, picture):
        set_dpi(dpi)
        try:
            setup = self.build(package=self.cab)
            self.start(setup)
            self.wait_focus("开始安装(&S)", "custom")
            time.sleep(0.5)
            width, height, rows = bmp_indices(os.path.join(ARGS.nsis, picture))
            table = [bytes(blend(BAND, PICTURE, i)) for i in range(256)]
            found = Screen().find([b"".join(table[i] for i in row) for row in rows], self.rect("main"))
            self.press("alt+x")
            self.end()
        finally:
            set_dpi(96)
        self.assertIsNotNone(found, "%s is not drawn at its own size at %d DPI" % (picture, dpi))

    def test_picture_at_its_own_size_at_144_dpi(self):
        self.picture_at(144, "band150.bmp")

    def test_picture_at_its_own_size_at_192_dpi(self):
        self.picture_at(192, "band200.bmp")


if __name__ == "__main__":
    unittest.main(verbosity=2)
