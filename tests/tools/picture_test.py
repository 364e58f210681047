#!/usr/bin/env python3
"""`qelpack picture` in both builds (the native Linux packer and qelpack.exe under Wine): every
PNG colour type and depth and every BMP layout becomes the same band picture, byte for byte,
whose indices are the luminance over the band worked out here; --size, --invert and --accent;
one table of refusals (damaged, truncated and lying files, devices, links, bad options) with
one line, the exit code and nothing written; `picture --check` on what the installer can use."""
import os
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pictures as P  # noqa: E402

BIN = sys.argv.pop(1)          # the Windows build's bin folder
WINE_RUN = sys.argv.pop(1)     # runs a Windows program under the build's Wine prefix
NATIVE = os.path.abspath(sys.argv.pop(1))  # the native qelpack
TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def win(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run(packer, *args, cwd=None):
    """(exit code, stdout, stderr) of one packer. Wine programs write to files, not pipes: a Wine
    service started on first use would hold a pipe open until the suite ends."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        if packer == "linux":
            command = [NATIVE, *args]
        else:
            command = [WINE_RUN, os.path.join(BIN, "qelpack.exe"), *[win(a) if a.startswith("/") else a for a in args]]
        done = subprocess.run(command, stdout=out, stderr=err, stdin=subprocess.DEVNULL, timeout=120, cwd=cwd)
        out.seek(0)
        err.seek(0)
        return done.returncode, out.read().decode("utf-8", "replace"), err.read().decode("utf-8", "replace")


BOTH = ("linux", "windows")
W, H = 23, 17  # odd sizes: rows need padding, bits do not end on a byte


def opaque(pixel):
    return lambda x, y: pixel(x, y)[:3] + (255,)


def expected_rows(pixel, invert=False):
    return [[P.luminance_index(pixel(x, y), invert) for x in range(W)] for y in range(H)]


def scaled(value, top):
    """A bit-field channel of top + 1 levels as 0..255."""
    return (value * 255 + top // 2) // top


def inputs():
    """(name, file bytes, the RGBA picture the file shows)."""
    disc, ramp = P.disc(W, H, (200, 180, 40)), P.ramp(W, H)
    grey8 = lambda x, y: (x * 11 + y * 3) % 256  # noqa: E731
    cases = [
        ("png rgba 8", P.png(W, H, disc), disc),
        ("png rgba 16", P.png(W, H, lambda x, y: tuple(v * 257 for v in disc(x, y)), depth=16), disc),
        ("png rgb 8", P.png(W, H, lambda x, y: ramp(x, y)[:3], colour_type=2), ramp),
        ("png rgb 16 interlaced", P.png(W, H, lambda x, y: tuple(v * 257 for v in ramp(x, y)[:3]), colour_type=2,
                                        depth=16, interlace=True), ramp),
        ("png grey 8", P.png(W, H, grey8, colour_type=0), lambda x, y: (grey8(x, y),) * 3 + (255,)),
        ("png grey + alpha 8", P.png(W, H, lambda x, y: (grey8(x, y), disc(x, y)[3]), colour_type=4),
         lambda x, y: (grey8(x, y),) * 3 + (disc(x, y)[3],)),
        ("png grey 16 + alpha", P.png(W, H, lambda x, y: (grey8(x, y) * 257, disc(x, y)[3] * 257), colour_type=4,
                                      depth=16), lambda x, y: (grey8(x, y),) * 3 + (disc(x, y)[3],)),
        # A grey value of 7 is transparent through tRNS.
        ("png grey 8 + tRNS", P.png(W, H, lambda x, y: 7 if x < 5 else grey8(x, y), colour_type=0, trns=b"\0\7"),
         lambda x, y: (0, 0, 0, 0) if x < 5 or grey8(x, y) == 7 else (grey8(x, y),) * 3 + (255,)),
    ]
    for depth in (1, 2, 4):
        top = (1 << depth) - 1
        f = lambda x, y, top=top: (x + y) % (top + 1)  # noqa: E731
        cases.append(("png grey %d" % depth, P.png(W, H, f, colour_type=0, depth=depth),
                      lambda x, y, f=f, top=top: (f(x, y) * 255 // top,) * 3 + (255,)))
    palette = [(255, 0, 0), (0, 255, 0), (0, 0, 255), (250, 250, 250), (10, 20, 30), (128, 64, 32), (0, 0, 0), (99, 99, 99)]
    for depth in (1, 2, 4, 8):
        n = min(len(palette), 1 << depth)
        f = lambda x, y, n=n: (x * 3 + y) % n  # noqa: E731
        # Entry 1 half transparent, entry 2 transparent.
        alpha = [255, 128, 0] + [255] * 5
        cases.append(("png palette %d + tRNS" % depth,
                      P.png(W, H, f, colour_type=3, depth=depth, palette=palette[:n], trns=bytes(alpha[:n])),
                      lambda x, y, f=f: palette[f(x, y)] + (alpha[f(x, y)],)))
    cases += [
        # The samples are taken as they are, whatever gamma the file names.
        ("png with a gamma of 1/2.2", P.png(W, H, disc, extra_chunks=[(b"gAMA", (45455).to_bytes(4, "big"))]), disc),
        ("png with a gamma of 1", P.png(W, H, ramp, extra_chunks=[(b"gAMA", (100000).to_bytes(4, "big"))]), ramp),
        ("bmp 24", P.bmp(W, H, disc, bits=24), opaque(disc)),
        ("bmp 24 top-down", P.bmp(W, H, ramp, bits=24, top_down=True), ramp),
        ("bmp 32", P.bmp(W, H, disc, bits=32), opaque(disc)),  # BI_RGB: the fourth byte is not alpha
        ("bmp 32 bit fields with alpha (v5)", P.bmp(W, H, disc, bits=32, header=124, compression=3,
                                                   masks=(0xFF0000, 0xFF00, 0xFF, 0xFF000000)), disc),
        ("bmp 32 alpha bit fields (v3 masks after the header)",
         P.bmp(W, H, disc, bits=32, compression=6, masks=(0xFF, 0xFF00, 0xFF0000, 0xFF000000)), disc),
        ("bmp 16 5-5-5", P.bmp(W, H, lambda x, y: (x * 8, y * 8, 248, 255), bits=16),
         lambda x, y: (scaled(x, 31), scaled(y, 31), 255, 255)),
        ("bmp 16 5-6-5 bit fields", P.bmp(W, H, lambda x, y: (x * 8, y * 4, 0, 255), bits=16, compression=3,
                                          masks=(0xF800, 0x07E0, 0x001F, 0)),
         lambda x, y: (scaled((x * 8 * 31 + 127) // 255, 31), scaled((y * 4 * 63 + 127) // 255, 63), 0, 255)),
        ("bmp 8, 256 colours", P.bmp(W, H, grey8, bits=8), lambda x, y: (grey8(x, y),) * 3 + (255,)),
        ("bmp 8, 8 colours", P.bmp(W, H, lambda x, y: (x + y) % 8, bits=8, palette=palette),
         lambda x, y: palette[(x + y) % 8] + (255,)),
        ("bmp 8 top-down", P.bmp(W, H, grey8, bits=8, top_down=True), lambda x, y: (grey8(x, y),) * 3 + (255,)),
        ("bmp 4", P.bmp(W, H, lambda x, y: (x + 2 * y) % 16, bits=4),
         lambda x, y: ((x + 2 * y) % 16 * 17,) * 3 + (255,)),
        ("bmp 1", P.bmp(W, H, lambda x, y: (x ^ y) & 1, bits=1), lambda x, y: (((x ^ y) & 1) * 255,) * 3 + (255,)),
        ("bmp rle8", P.bmp(W, H, None, bits=8, compression=1, rle=P.rle8(W, H, lambda x, y: x // 4 * 40)),
         lambda x, y: (x // 4 * 40,) * 3 + (255,)),
        ("bmp rle4", P.bmp(W, H, None, bits=4, compression=2, rle=P.rle4(W, H, lambda x, y: y % 16)),
         lambda x, y: (y % 16 * 17,) * 3 + (255,)),
        ("bmp core header 24", P.bmp_core(W, H, ramp), ramp),
    ]
    return cases


class Picture(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="picture-test-")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def write(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def band(self, path):
        with open(path, "rb") as f:
            return P.read_band(f.read())

    def test_every_depth_and_layout_gives_the_luminance_over_the_band_in_both_builds(self):
        for name, data, pixel in inputs():
            with self.subTest(name):
                source = self.write("in" + (".png" if name.startswith("png") else ".bmp"), data)
                made = {}
                for packer in BOTH:
                    out = os.path.join(self.dir, packer + ".bmp")
                    code, stdout, stderr = run(packer, "picture", source, out)
                    self.assertEqual((code, stderr), (0, ""), packer)
                    self.assertEqual(stdout, "qelpack: wrote %s: a band picture of %d x %d pixels, accent 0x006B3B24\n"
                                     % (out if packer == "linux" else win(out), W, H))
                    with open(out, "rb") as f:
                        made[packer] = f.read()
                    os.remove(out)
                self.assertEqual(made["linux"], made["windows"], "the two builds wrote different pictures")
                width, height, rows, table = P.read_band(made["linux"])
                self.assertEqual((width, height), (W, H))
                self.assertEqual(rows, expected_rows(pixel))
                self.assertEqual(table[:255], [(i, i, i) for i in range(255)])
                self.assertEqual(table[255], (0x24, 0x3B, 0x6B))
                self.assertEqual(len(made["linux"]), 14 + 40 + 1024 + ((W + 3) & ~3) * H)
                self.assertEqual(os.listdir(self.dir), [os.path.basename(source)])
                os.remove(source)

    def test_size_invert_and_accent(self):
        pixel = P.disc(200, 120, (255, 255, 255))
        source = self.write("logo.png", P.png(200, 120, pixel))
        for packer in BOTH:
            with self.subTest(packer):
                out = os.path.join(self.dir, "band-%s.bmp" % packer)
                code, stdout, stderr = run(packer, "picture", source, out, "--size", "99", "--invert",
                                           "--accent", "0x00C08040")
                self.assertEqual((code, stderr), (0, ""))
                self.assertIn("99 x 59 pixels, accent 0x00C08040", stdout)
                width, height, rows, table = self.band(out)
                self.assertEqual((width, height), (99, 59))
                self.assertEqual(table[255], (0x40, 0x80, 0xC0))
                # Every new pixel is the average of the old area it covers.
                full = [[P.luminance_index(pixel(x, y), True) for x in range(200)] for y in range(120)]
                self.assertEqual(rows, area_average(full, 99, 59))

    def test_refusals_write_nothing(self):
        good = self.write("good.png", P.png(8, 8, P.disc(8, 8)))
        big = self.write("big.png", P.png(1100, 3, lambda x, y: (9, 9, 9, 255)))
        folder = os.path.join(self.dir, "folder.bmp")
        os.makedirs(folder)
        damaged = bytearray(P.png(8, 8, P.disc(8, 8)))
        damaged[60] ^= 0xFF
        rle_open = P.bmp(8, 4, None, bits=8, compression=1, rle=P.rle8(8, 4, lambda x, y: 1)[:-2])
        lying = bytearray(P.bmp(8, 8, P.disc(8, 8), bits=24))
        lying[18:26] = (100000).to_bytes(4, "little") + (100000).to_bytes(4, "little")
        short = bytearray(P.bmp(8, 8, P.disc(8, 8), bits=24))
        short[18:26] = (1000).to_bytes(4, "little") + (1000).to_bytes(4, "little")
        files = {
            "text.bmp": b"just some text, not a picture at all",
            "truncated.png": P.png(8, 8, P.disc(8, 8))[:-30],
            "damaged.png": bytes(damaged),
            "huge.png": P.png_claiming(20000, 20000),
            "tall.png": P.png_claiming(1, 40000),
            "truncated.bmp": P.bmp(8, 8, P.disc(8, 8), bits=24)[:-7],
            "lying.bmp": bytes(lying),
            "short.bmp": bytes(short),
            "jpeg-in.bmp": P.bmp(8, 8, P.disc(8, 8), bits=24)[:30] + (4).to_bytes(4, "little") +
            P.bmp(8, 8, P.disc(8, 8), bits=24)[34:],
            "rle-without-end.bmp": rle_open,
            "os2.bmp": b"BM" + bytes(12) + (64).to_bytes(4, "little") + bytes(60),
            "palette-cut.bmp": P.bmp(8, 8, lambda x, y: 1, bits=8)[:300],
            "empty.png": b"",
        }
        for name, data in files.items():
            self.write(name, data)
        out = os.path.join(self.dir, "out.bmp")
        # (arguments, exit code, words the line holds)
        cases = [
            (["text.bmp", out], 2, "neither a PNG nor a BMP"),
            (["empty.png", out], 2, "neither a PNG nor a BMP"),
            (["truncated.png", out], 2, "PNG data is damaged"),
            (["damaged.png", out], 2, "PNG data is damaged"),
            (["huge.png", out], 2, "20000 x 20000 pixels"),
            (["tall.png", out], 2, "1 x 40000 pixels"),
            (["truncated.bmp", out], 2, "truncated"),
            (["lying.bmp", out], 2, "100000 x 100000 pixels"),
            (["short.bmp", out], 2, "truncated"),
            (["jpeg-in.bmp", out], 2, "JPEG or PNG data"),
            (["rle-without-end.bmp", out], 2, "end mark"),
            (["os2.bmp", out], 2, "OS/2"),
            (["palette-cut.bmp", out], 2, "truncated"),
            (["big.png", out], 2, "at most 1024 a side (give --size N)"),
            (["missing.png", out], 1, "cannot read"),
            ([folder, out], 1, "cannot read"),
            ([good, folder], 1, "it is a folder"),
            ([good, os.path.join(self.dir, "out.png")], 2, "must end in .bmp"),
            ([good, out, "--size", "0"], 2, "--size must be a number of pixels from 1 to 1024"),
            ([good, out, "--size", "1025"], 2, "--size must be"),
            ([good, out, "--size", "-5"], 2, "--size must be"),
            ([good, out, "--size"], 2, "--size needs a value"),
            ([good, out, "--size", "9", "--size", "9"], 2, "given twice"),
            ([good, out, "--accent", "0x01000000"], 2, "--accent must be a colour 0x00BBGGRR"),
            ([good, out, "--accent", "red"], 2, "--accent must be"),
            ([good, out, "--invert", "--invert"], 2, "given twice"),
            ([good, out, "--sharpen"], 2, "unknown option --sharpen"),
            ([good], 2, "usage: qelpack picture"),
            ([good, out, "third.bmp"], 2, "usage: qelpack picture"),
        ]
        for args, want, words in cases:
            for packer in BOTH:
                with self.subTest(args=args, packer=packer):
                    before = sorted(os.listdir(self.dir))
                    code, stdout, stderr = run(packer, "picture", *[os.path.join(self.dir, a) if a.endswith(
                        (".png", ".bmp")) and "/" not in a else a for a in args])
                    self.assertEqual(code, want, stderr)
                    self.assertEqual(stdout, "")
                    self.assertEqual(len(stderr.splitlines()), 1, stderr)
                    self.assertTrue(stderr.startswith("qelpack: "), stderr)
                    self.assertIn(words, stderr)
                    self.assertEqual(sorted(os.listdir(self.dir)), before, "a refusal left a file behind")

    def test_native_refusals_of_devices_links_and_fifos(self):
        good = self.write("good.png", P.png(8, 8, P.disc(8, 8)))
        fifo = os.path.join(self.dir, "pipe.png")
        os.mkfifo(fifo)
        link = os.path.join(self.dir, "link.bmp")
        target = self.write("target.bmp", b"keep me")
        os.symlink(target, link)
        for args, want, words in [
            (["/dev/zero", os.path.join(self.dir, "o.bmp")], 1, "not a regular file"),
            ([fifo, os.path.join(self.dir, "o.bmp")], 1, "not a regular file"),
            ([good, link], 1, "not a regular file (a link or a device)"),
        ]:
            with self.subTest(args=args):
                code, stdout, stderr = run("linux", "picture", *args)
                self.assertEqual((code, stdout), (want, ""), stderr)
                self.assertIn(words, stderr)
                self.assertFalse(os.path.exists(os.path.join(self.dir, "o.bmp")))
        self.assertTrue(os.path.islink(link))
        with open(target, "rb") as f:
            self.assertEqual(f.read(), b"keep me")
        # A picture made through a link to it is fine; so is a relative path from another folder.
        os.symlink(good, os.path.join(self.dir, "via-link.png"))
        os.makedirs(os.path.join(self.dir, "sub"))
        code, stdout, stderr = run("linux", "picture", "../via-link.png", "out.bmp", cwd=os.path.join(self.dir, "sub"))
        self.assertEqual((code, stderr), (0, ""))
        self.assertTrue(os.path.isfile(os.path.join(self.dir, "sub", "out.bmp")))

    @unittest.skipUnless(os.geteuid() == 0, "mounts a small tmpfs: root only")
    def test_a_full_disk_keeps_the_old_picture(self):
        # A 64 KiB volume: the old picture fits, the new one (256 x 256, 65 KiB) does not.
        disk = os.path.join(self.dir, "disk")
        os.makedirs(disk)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", disk], check=True)
        try:
            old = os.path.join(disk, "band.bmp")
            made = run("linux", "picture", self.write("small.png", P.png(8, 8, P.disc(8, 8))), old)
            self.assertEqual(made[0], 0, made[2])
            with open(old, "rb") as f:
                before = f.read()
            code, stdout, stderr = run("linux", "picture", self.write("big.png", P.png(256, 256, P.disc(256, 256))), old)
            self.assertEqual((code, stdout), (1, ""))
            self.assertEqual(len(stderr.splitlines()), 1)
            self.assertIn("cannot write %s: No space left on device" % old, stderr)
            self.assertEqual(os.listdir(disk), ["band.bmp"])
            with open(old, "rb") as f:
                self.assertEqual(f.read(), before)
        finally:
            subprocess.run(["umount", disk], check=True)

    def test_windows_refuses_a_device_name(self):
        good = self.write("good.png", P.png(8, 8, P.disc(8, 8)))
        for name in ("NUL.bmp", "con.bmp", "COM1.bmp"):
            with self.subTest(name):
                code, stdout, stderr = run("windows", "picture", good, os.path.join(self.dir, name))
                self.assertEqual(code, 1, stderr)
                self.assertIn("device name", stderr)
                self.assertEqual(sorted(os.listdir(self.dir)), ["good.png"])

    def test_output_replaces_an_older_picture_and_a_partial_file(self):
        good = self.write("good.png", P.png(8, 8, P.disc(8, 8)))
        out = self.write("band.bmp", b"old")
        self.write("band.bmp.partial", b"left by a killed run")
        for packer in BOTH:
            with self.subTest(packer):
                code, _, stderr = run(packer, "picture", good, out)
                self.assertEqual((code, stderr), (0, ""))
                self.assertEqual(sorted(os.listdir(self.dir)), ["band.bmp", "good.png"])
                self.assertEqual(self.band(out)[:2], (8, 8))

    def test_check_accepts_what_the_installer_can_use(self):
        made = os.path.join(self.dir, "made.bmp")
        self.assertEqual(run("linux", "picture", self.write("in.png", P.png(40, 30, P.disc(40, 30))), made)[0], 0)
        grey = [(i, i, i) for i in range(256)]
        accepted = {
            "made.bmp": (40, 30, "0x006B3B24"),
            "shipped band.bmp": (96, 96, "0x006B3B24"),
            "v5 header.bmp": (5, 4, "0x00FFFFFF"),
        }
        shutil.copy(os.path.join(TOP, "nsis", "band.bmp"), os.path.join(self.dir, "shipped band.bmp"))
        self.write("v5 header.bmp", P.bmp(5, 4, lambda x, y: 3, bits=8, header=124, palette=grey))
        refused = {
            "24-bit.bmp": (P.bmp(5, 4, P.disc(5, 4)), "it is a 24-bit picture; the band needs 8 bits with 256 colours"),
            "16 colours.bmp": (P.bmp(5, 4, lambda x, y: 1, bits=8, palette=grey[:16]), "colour table has 16 entries"),
            "rle8.bmp": (P.bmp(5, 4, None, bits=8, compression=1, palette=grey, rle=P.rle8(5, 4, lambda x, y: 2)),
                         "compressed (RLE)"),
            "top-down.bmp": (P.bmp(5, 4, lambda x, y: 1, bits=8, top_down=True, palette=grey), "top-down"),
            "1100 wide.bmp": (P.bmp(1100, 1, lambda x, y: 1, bits=8, palette=grey), "at most 1024 a side"),
            "truncated.bmp": (P.bmp(5, 4, lambda x, y: 1, bits=8, palette=grey)[:-3], "truncated"),
            "core header.bmp": (P.bmp_core(5, 4, P.ramp(5, 4)), "header is of another kind"),
            "a png.bmp": (P.png(5, 4, P.disc(5, 4)), "not a BMP file"),
            "4-bit.bmp": (P.bmp(5, 4, lambda x, y: 1, bits=4), "it is a 4-bit picture"),
        }
        for name, (data, _) in refused.items():
            self.write(name, data)
        for packer in BOTH:
            for name, (width, height, accent) in accepted.items():
                with self.subTest(packer=packer, name=name):
                    path = os.path.join(self.dir, name)
                    code, stdout, stderr = run(packer, "picture", "--check", path)
                    self.assertEqual((code, stderr), (0, ""))
                    self.assertTrue(stdout.endswith(": a band picture of %d x %d pixels, accent %s\n"
                                                    % (width, height, accent)), stdout)
            for name, (_, words) in refused.items():
                with self.subTest(packer=packer, name=name):
                    code, stdout, stderr = run(packer, "picture", "--check", os.path.join(self.dir, name))
                    self.assertEqual((code, stdout), (2, ""), stderr)
                    self.assertEqual(len(stderr.splitlines()), 1)
                    self.assertIn(" is not a band picture: ", stderr)
                    self.assertIn(words, stderr)
            with self.subTest(packer=packer, name="missing"):
                code, _, stderr = run(packer, "picture", "--check", os.path.join(self.dir, "missing.bmp"))
                self.assertEqual(code, 1)
                self.assertIn("cannot read", stderr)


class Shown(unittest.TestCase):
    """What qelpack picture writes is what the skin needs: LoadImageW takes it as the include
    loads it, StylePage accepts it, and the painted band shows the picture where it should be,
    in the ramp's colours."""

    BASE, BAND, PICTURE = 0x00EEF2F4, 0x006B3B24, 0x0070C0E8

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="picture-shown-")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def show(self, picture):
        text, shot = os.path.join(self.dir, "view.txt"), os.path.join(self.dir, "view.bmp")
        with tempfile.TemporaryFile() as out:
            code = subprocess.run([WINE_RUN, os.path.join(BIN, "bandview.exe"), win(picture), win(text), win(shot)],
                                  stdout=out, stderr=out, stdin=subprocess.DEVNULL, timeout=60).returncode
        if code != 0:
            return code, None, None, None
        with open(text) as f:
            lines = dict(line.split(" ", 1) for line in f.read().splitlines())
        with open(shot, "rb") as f:
            data = f.read()
        width, height = struct.unpack_from("<ii", data, 18)
        height = -height
        offset = struct.unpack_from("<I", data, 10)[0]
        pixels = [[struct.unpack_from("<I", data, offset + (y * width + x) * 4)[0] & 0xFFFFFF for x in range(width)]
                  for y in range(height)]
        return 0, [int(v) for v in lines["box"].split()], int(lines["band"]), pixels

    @staticmethod
    def colour(pixel):
        """A 0x00RRGGBB pixel as a COLORREF."""
        return (pixel & 0xFF) << 16 | (pixel & 0xFF00) | (pixel >> 16 & 0xFF)

    @staticmethod
    def blend(a, b, step):
        out = 0
        for shift in (0, 8, 16):
            ca, cb = a >> shift & 0xFF, b >> shift & 0xFF
            out |= ((ca + int((cb - ca) * step / 255)) & 0xFF) << shift
        return out

    def near(self, pixel, colour, tolerance=6):
        got = self.colour(pixel)
        return all(abs((got >> s & 0xFF) - (colour >> s & 0xFF)) <= tolerance for s in (0, 8, 16))

    def test_a_converted_logo_is_shown_in_the_band(self):
        # A white disc on a transparent ground, square: fitted to the box's shorter side and
        # centred in the other.
        logo = os.path.join(self.dir, "logo.png")
        with open(logo, "wb") as f:
            f.write(P.png(80, 80, P.disc(80, 80, (255, 255, 255), radius=0.35)))
        band = os.path.join(self.dir, "band.bmp")
        for packer in BOTH:
            with self.subTest(packer):
                self.assertEqual(run(packer, "picture", logo, band)[0], 0)
                code, (left, top, w, h), band_right, pixels = self.show(band)
                self.assertEqual(code, 0, "LoadImageW or StylePage refused the picture")
                side = min(w, h)  # a square picture in the box
                x0, y0 = left + (w - side) // 2, top + (h - side) // 2
                inside = outside = 0
                for y in range(y0, y0 + side):
                    for x in range(x0, min(x0 + side, band_right)):
                        # The picture's own coordinates of this pixel's centre.
                        sx, sy = (x - x0 + 0.5) * 80 / side - 0.5, (y - y0 + 0.5) * 80 / side - 0.5
                        d = ((sx - 39.5) ** 2 + (sy - 39.5) ** 2) ** 0.5 / 28
                        if d < 0.85:
                            self.assertTrue(self.near(pixels[y][x], self.PICTURE), (x, y, hex(pixels[y][x])))
                            inside += 1
                        elif d > 1.15:
                            self.assertTrue(self.near(pixels[y][x], self.BAND), (x, y, hex(pixels[y][x])))
                            outside += 1
                self.assertGreater(inside, 500)
                self.assertGreater(outside, 500)
                # Outside the box the band keeps its texture; right of it the page its own.
                self.assertTrue(self.near(pixels[h + top + 20][left + 2], self.BAND, 3))
                self.assertTrue(self.near(pixels[100][band_right + 20], self.BASE, 3))

    def test_the_accent_colours_the_waves(self):
        # The waves along the foot take entry 255 of the picture's table.
        logo = os.path.join(self.dir, "logo.png")
        with open(logo, "wb") as f:
            f.write(P.png(20, 20, P.disc(20, 20)))
        band = os.path.join(self.dir, "band.bmp")
        self.assertEqual(run("linux", "picture", logo, band, "--accent", "0x000000FF")[0], 0)
        code, _, band_right, pixels = self.show(band)
        self.assertEqual(code, 0)
        bottom = pixels[199][band_right + 40]
        # The third wave layer is 20/255 of the way from the page's colour to the accent (red).
        self.assertTrue(self.near(bottom, self.blend(self.BASE, 0x000000FF, 20), 3), hex(bottom))

    def test_what_check_refuses_the_skin_cannot_use(self):
        # A 24-bit picture loads, but StylePage refuses it: the installer would show no skin.
        rgb = os.path.join(self.dir, "rgb.bmp")
        with open(rgb, "wb") as f:
            f.write(P.bmp(20, 20, P.disc(20, 20), bits=24))
        self.assertEqual(run("linux", "picture", "--check", rgb)[0], 2)
        self.assertEqual(self.show(rgb)[0], 4)


def area_average(full, width, height):
    """The reference scaler: each new pixel the exact mean of the old area it covers."""
    from fractions import Fraction
    h, w = len(full), len(full[0])
    out = []
    for oy in range(height):
        row = []
        y0, y1 = Fraction(oy * h, height), Fraction((oy + 1) * h, height)
        for ox in range(width):
            x0, x1 = Fraction(ox * w, width), Fraction((ox + 1) * w, width)
            total = Fraction(0)
            for sy in range(int(y0), min(h, int(y1) + 1)):
                wy = min(y1, sy + 1) - max(y0, sy)
                if wy <= 0:
                    continue
                for sx in range(int(x0), min(w, int(x1) + 1)):
                    wx = min(x1, sx + 1) - max(x0, sx)
                    if wx > 0:
                        total += wx * wy * full[sy][sx]
            mean = total / ((x1 - x0) * (y1 - y0))
            row.append(int(mean + Fraction(1, 2)))
        out.append(row)
    return out


if __name__ == "__main__":
    unittest.main(verbosity=2)
