#!/usr/bin/env python3
"""The example installer on a release in parts (qelpack's release.ini), run silently under Wine:
1,000 small files in four parts beside setup.exe installed byte-identical and uninstalled
exactly; downloaded parts with one connection dropped (retried, success), a dead first address
and a good mirror (success), 404 on every address (exit 2 at once, nothing left), and a part's
package replaced by another's (refused, nothing placed)."""
import os
import shutil
import subprocess
import time
import unittest

import installer_test as base
import placement_installer_test as placing

ARGS = base.ARGS
wine = base.wine
win = base.win

MANY = {"files/%03d/item%04d.txt" % (i // 100, i): ("file %d\r\n" % i).encode() * (1 + i % 7) for i in range(1000)}
SMALL = {"app.exe": os.urandom(70000), "readme.txt": b"read me\r\n", "lib/core.dll": os.urandom(90000),
         "lib/more.dll": os.urandom(50000)}


def read_ini(path):
    return base.read_manifest(path)


def ini_value(text, section, key):
    inside = False
    for line in text.split("\r\n"):
        if line.startswith("["):
            inside = line == "[%s]" % section
        elif inside and line.startswith(key + "="):
            return line[len(key) + 1:]
    return None


class Release(placing.Placing):
    def setUp(self):
        super().setUp()
        https = os.path.join(ARGS.build, "https")
        with open(os.path.join(https, "server.txt")) as f:
            self.port = int(f.read().split()[0])
        self.served = os.path.join(https, "root")
        self.served_files = []

    def tearDown(self):
        for path in self.served_files:
            if os.path.exists(path):
                os.remove(path)
        super().tearDown()

    def parts(self, release):
        index = read_ini(os.path.join(release, "release.ini"))
        count = int(ini_value(index, "Release", "Parts"))
        return [(ini_value(index, "Part%d" % k, "Manifest"), ini_value(index, "Part%d" % k, "Package"))
                for k in range(1, count + 1)]

    def served_release(self, payload, url_mode, mirror_modes=(), part_size=None):
        """A release whose parts have Urls on the test server (url_mode: the Url's mode, or a
        function of the part's number), its packages renamed to names of this case alone (the
        server remembers which names it dropped) and served."""
        options = ["--url", "https://127.0.0.1:%d/packed/" % self.port]
        for mode in mirror_modes:
            options += ["--mirror", "https://127.0.0.1:%d/%s/" % (self.port, mode)]
        if part_size:
            options += ["--part-size", str(part_size)]
        release = self.release("served", payload, *options)
        index_path = os.path.join(release, "release.ini")
        index = read_ini(index_path)
        for k, (manifest, package) in enumerate(self.parts(release), 1):
            unique = "r-%d-%d-%s" % (os.getpid(), self.counter, package)
            os.rename(os.path.join(release, package), os.path.join(release, unique))
            shutil.copy(os.path.join(release, unique), os.path.join(self.served, unique))
            self.served_files.append(os.path.join(self.served, unique))
            index = base.set_value(index, "Part%d" % k, "Package", unique)
            mode = url_mode(k) if callable(url_mode) else url_mode
            base_url = "https://127.0.0.1:1/normal/" if mode == "dead" else "https://127.0.0.1:%d/%s/" % (self.port, mode)
            path = os.path.join(release, manifest)
            base.write_manifest(path, base.set_value(read_ini(path), "Package", "Url", base_url + unique))
        base.write_manifest(index_path, index)
        return release

    def setup_of(self, release, version="1.0", ship_packages=True):
        """The example installer built on the release's index, in a folder of its own with the
        packages beside it when they are shipped."""
        folder = os.path.join(release, "setup")
        os.makedirs(folder, exist_ok=True)
        out = os.path.join(folder, "example-setup.exe")
        made = subprocess.run(["makensis", "-V2", "-DQEL_MANIFEST=" + os.path.join(release, "release.ini"),
                               "-DQEL_BIN=" + ARGS.bin, "-DQEL_OUTFILE=" + out, "-DQEL_TARGET=" + ARGS.target,
                               "-DQEL_VERSION=" + version, os.path.join(ARGS.nsis, "example.nsi")],
                              capture_output=True, timeout=120)
        self.assertEqual(made.returncode, 0, made.stdout.decode(errors="replace") + made.stderr.decode(errors="replace"))
        if ship_packages:
            for _, package in self.parts(release):
                shutil.copy(os.path.join(release, package), os.path.join(folder, package))
        return out

    def requests_for(self, name):
        with open(os.path.join(ARGS.build, "https", "requests.log"), encoding="utf-8", errors="replace") as f:
            return [line for line in f.read().splitlines() if line.endswith("/" + name)]

    def test_a_thousand_files_in_parts_install_and_uninstall_exactly(self):
        release = self.release("many", MANY)
        self.assertEqual(len(self.parts(release)), 4)
        setup = self.setup_of(release)
        self.assertEqual(self.install(setup), 0, self.logged() if os.path.exists(self.log) else "")
        self.assert_installed(MANY, "1.0")
        self.assert_temp_clean()
        # The uninstall entry's size comes from the index's total.
        total = int(ini_value(read_ini(os.path.join(release, "release.ini")), "Release", "UnpackedSize"))
        self.assertEqual(self.registry("EstimatedSize"), total // 1024)
        removed = wine(os.path.join(self.instdir, "uninstall.exe"), "/S", "_?=" + win(self.instdir), timeout=180)
        self.assertEqual(removed.returncode, 0)
        os.remove(os.path.join(self.instdir, "uninstall.exe"))
        self.assertEqual(placing.files_of(self.instdir, skip=()), {})

    def test_a_package_replaced_by_another_parts_is_refused(self):
        release = self.release("swapped", MANY)
        setup = self.setup_of(release)
        (_, first), (_, second) = self.parts(release)[:2]
        folder = os.path.dirname(setup)
        shutil.copy(os.path.join(folder, first), os.path.join(folder, second))
        os.makedirs(self.instdir)
        with open(os.path.join(self.instdir, "mine.txt"), "wb") as f:
            f.write(b"the user's")
        self.assertEqual(self.install(setup), 2)
        self.assertIn(self.logged(), ("应用包大小与发布清单不一致。", "应用包 SHA-256 校验失败，未开始安装。"))
        self.assertEqual(placing.files_of(self.instdir, skip=()), {"mine.txt": placing.expected({"mine.txt": b"the user's"})["mine.txt"]})

    def test_a_dropped_connection_is_retried(self):
        release = self.served_release(SMALL, lambda k: "dropfirst" if k == 2 else "normal", part_size=60000)
        parts = self.parts(release)
        self.assertGreaterEqual(len(parts), 3)
        setup = self.setup_of(release, ship_packages=False)
        self.assertEqual(self.install(setup), 0, self.logged() if os.path.exists(self.log) else "")
        self.assert_installed(SMALL, "1.0")
        self.assertEqual(len(self.requests_for(parts[1][1])), 2, "the dropped part was fetched again")
        self.assertEqual(len(self.requests_for(parts[0][1])), 1)

    def test_a_dead_first_address_gives_way_to_the_mirror(self):
        release = self.served_release(SMALL, "dead", mirror_modes=("normal",), part_size=60000)
        setup = self.setup_of(release, ship_packages=False)
        self.assertEqual(self.install(setup), 0, self.logged() if os.path.exists(self.log) else "")
        self.assert_installed(SMALL, "1.0")

    def test_404_everywhere_fails_at_once_and_leaves_nothing(self):
        release = self.served_release(SMALL, "status404", mirror_modes=("status404",), part_size=60000)
        setup = self.setup_of(release, ship_packages=False)
        start = time.monotonic()
        self.assertEqual(self.install(setup), 2)
        self.assertLess(time.monotonic() - start, 30)
        self.assertEqual(self.logged(), "服务器未提供应用包（HTTP 404）。")
        self.assertFalse(os.path.exists(self.instdir), "the install folder stayed")
        # Two parts are delivered at once: whichever meets 404 at both addresses first ends the
        # install, perhaps before the other has asked its mirror. No address is asked twice, and
        # no part after those two is asked at all.
        asked = [len(self.requests_for(package)) for _, package in self.parts(release)]
        self.assertGreaterEqual(len(asked), 2, "a release in parts")
        self.assertEqual(max(asked[:2]), 2, "each address once: %s" % asked)
        self.assertEqual(sum(asked[2:]), 0, asked)
        self.assert_temp_clean()


if __name__ == "__main__":
    unittest.main()
