#!/usr/bin/env python3
"""A cancel during the download closes the example installer without first showing an empty
page: from the click on Cancel until the window is gone, every picture of the screen that still
shows the window shows it with its band picture (the cancelled progress page), never NSIS's
last page emptied of its dialog (the band without a picture, a lone Close button).

Run under Xvfb in the X11 prefix (tests/bed/x11-prefix.sh), where hiding a window takes Wine 2 s
(no window manager confirms it): whatever the window shows when it is hidden stays on the screen
long enough to be photographed, so the test sees what a user is left looking at."""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

TOP, BUILD, NATIVE = (os.path.abspath(a) for a in sys.argv[1:4])
TARGET = sys.argv[4]  # x86-unicode, or amd64-unicode on a 64-bit-only machine
del sys.argv[1:5]
BIN = os.path.join(BUILD, "bin")
PREFIX = os.path.join(BUILD, "wine-x11")
WIDTH, HEIGHT = 800, 600
BAND = (0x24, 0x3B, 0x6B)      # QEL_COLOR_BAND 0x006B3B24 as red, green, blue


def win(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


RUN = r'''set -u
export WINEPREFIX="$1" WINEDEBUG=-all
cd "$2"
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
wine=${QEL_WINE:-wine}   # 64-bit Wine's loader on a machine that cannot run 32-bit programs
"$wine" example-setup.exe "/LOG=install.log" "/D=$4" </dev/null >setup.out 2>&1 &
setup=$!
NSIS_PILOT_EXE="$5" "$wine" "$3/nsis_pilot.exe" cancel 已下载 60 </dev/null >cancel.out 2>&1
echo "cancel $?" >result.txt
i=0
while kill -0 $setup 2>/dev/null && [ $i -lt 200 ]; do
  import -window root -depth 8 rgb:frame-$(printf %03d $i).rgb 2>/dev/null
  i=$((i + 1))
done
wait $setup
echo "setup $?" >>result.txt
wineserver -k 2>/dev/null
'''


def near(pixel, colour, tolerance=24):
    return all(abs(a - b) <= tolerance for a, b in zip(pixel, colour))


@unittest.skipUnless(shutil.which("xvfb-run") and shutil.which("import"), "needs Xvfb and ImageMagick")
class CancelClose(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="cancel-close-", dir=BUILD)
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.addCleanup(lambda: subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=PREFIX),
                                               capture_output=True))
        made = subprocess.run(["xvfb-run", "-a", "bash", os.path.join(TOP, "tests", "bed", "x11-prefix.sh"), BUILD],
                              capture_output=True, timeout=300)
        self.assertTrue(os.path.isdir(PREFIX), made.stdout + made.stderr)
        subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=PREFIX), capture_output=True)

    def test_the_window_never_shows_an_empty_page(self):
        payload = os.path.join(self.dir, "payload")
        os.makedirs(payload)
        with open(os.path.join(payload, "big.bin"), "wb") as f:
            f.write(os.urandom(12 * 1024 * 1024))
        release = os.path.join(self.dir, "release")
        subprocess.run([NATIVE, "pack", payload, release], check=True, capture_output=True)
        served = os.path.join(self.dir, "https")
        os.makedirs(os.path.join(served, "root"))
        shutil.copy(os.path.join(release, "application.cab"), os.path.join(served, "root", "app.cab"))
        server = subprocess.Popen([sys.executable, os.path.join(TOP, "tests", "bed", "https_server.py"), "--dir", served,
                                   "--cert", os.path.join(BUILD, "tls", "server.pem"), "--key",
                                   os.path.join(BUILD, "tls", "server.key")], stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(server.wait, 30)
        self.addCleanup(server.terminate)
        ports = os.path.join(served, "server.txt")
        for _ in range(100):
            if os.path.exists(ports) and os.path.getsize(ports):
                break
            time.sleep(0.1)
        with open(ports) as f:
            port = int(f.read().split()[0])
        with open(os.path.join(release, "manifest.ini"), "rb") as f:
            text = f.read().decode("utf-16")
        text = text.replace("[Package]\r\n", "[Package]\r\nUrl=https://127.0.0.1:%d/trickle/app.cab\r\n" % port, 1)
        manifest = os.path.join(self.dir, "manifest.ini")
        with open(manifest, "wb") as f:
            f.write(text.encode("utf-16"))
        setup = os.path.join(self.dir, "example-setup.exe")
        made = subprocess.run(["makensis", "-V2", "-DQEL_MANIFEST=" + manifest, "-DQEL_BIN=" + BIN, "-DQEL_OUTFILE=" + setup,
                               "-DQEL_TARGET=" + TARGET, os.path.join(TOP, "nsis", "example.nsi")], capture_output=True, timeout=120,
                              env=dict(os.environ, QEL_PACKER=NATIVE))
        self.assertEqual(made.returncode, 0, made.stdout)
        script = os.path.join(self.dir, "run.sh")
        with open(script, "w", encoding="utf-8") as f:
            f.write(RUN)
        subprocess.run(["xvfb-run", "-a", "-s", "-screen 0 %dx%dx24" % (WIDTH, HEIGHT), "bash", script, PREFIX, self.dir,
                        BIN, win(os.path.join(self.dir, "inst")), win(setup)], capture_output=True, timeout=300,
                       stdin=subprocess.DEVNULL)
        with open(os.path.join(self.dir, "result.txt")) as f:
            result = f.read().split()
        self.assertEqual(result, ["cancel", "0", "setup", "1"], "no cancel during the download, or not exit 1")
        with open(os.path.join(self.dir, "install.log"), "rb") as f:
            self.assertEqual(f.read().decode("utf-16").strip(), "已取消，未开始安装。")
        frames = sorted(name for name in os.listdir(self.dir) if name.startswith("frame-"))
        self.assertGreater(len(frames), 3)
        shown = 0
        for name in frames:
            with open(os.path.join(self.dir, name), "rb") as f:
                data = f.read()
            self.assertEqual(len(data), WIDTH * HEIGHT * 3)
            band = picture = 0
            for at in range(0, len(data), 3 * 7):  # every 7th pixel is plenty
                pixel = data[at:at + 3]
                if near(pixel, BAND, 6):
                    band += 1
                elif pixel[0] > 100 and pixel[0] - pixel[2] > 40:
                    # Towards QEL_COLOR_PICTURE (0x0070C0E8, a yellow): the band picture's
                    # ramp. The page's greys and the band's blue are not.
                    picture += 1
            if band > 500:  # the window is on the screen
                shown += 1
                self.assertGreater(picture, 30, "%s: the window shows its band without the picture (an empty page)"
                                   % name)
        self.assertGreater(shown, 0, "no picture of the window after the click")


if __name__ == "__main__":
    unittest.main(verbosity=2)
