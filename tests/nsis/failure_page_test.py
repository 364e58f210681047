#!/usr/bin/env python3
"""The example installer's failures as a person meets them: the plain line above qelfetch's line
on the failure page and in the /LOG file, for a download server whose certificate the prefix
does not trust (the test bed's HTTPS server with a certificate made here, trusted by nobody),
a server that is not there, and the package missing beside the installer."""
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

ARGS = dict(zip(("top", "bin", "wine_run", "target", "native"), sys.argv[1:6]))
del sys.argv[1:6]
TOP = os.path.abspath(ARGS["top"])
BIN = os.path.abspath(ARGS["bin"])
NATIVE = os.path.abspath(ARGS["native"])

CERTIFICATE = "无法验证下载服务器的证书。请检查系统时间，或联系软件提供者。"
UNREACHABLE = "无法连接下载服务器。请检查网络连接，稍后再试。"
MISSING = "找不到应用包。请把应用包放在："


def win(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine(*args, timeout=120):
    """A Windows program in the test prefix, its output to files (a Wine service started on
    first use would keep a pipe open)."""
    with tempfile.TemporaryFile() as out:
        done = subprocess.run([ARGS["wine_run"], *args], stdout=out, stderr=out, stdin=subprocess.DEVNULL,
                              timeout=timeout)
        out.seek(0)
        return done.returncode, out.read().decode("utf-8", "replace").replace("\r", "")


class FailurePage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="failure-page-", dir=os.path.dirname(BIN))
        payload = os.path.join(cls.dir, "payload")
        os.makedirs(payload)
        with open(os.path.join(payload, "app.dat"), "wb") as f:
            f.write(os.urandom(50000))
        cls.release = os.path.join(cls.dir, "release")
        subprocess.run([NATIVE, "pack", payload, cls.release], check=True, capture_output=True)
        with open(os.path.join(cls.release, "manifest.ini"), "rb") as f:
            cls.manifest = f.read().decode("utf-16")
        # A server with a certificate of its own, for localhost and 127.0.0.1, that no store holds.
        tls = os.path.join(cls.dir, "tls")
        os.makedirs(tls)
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                        "/CN=localhost", "-addext", "subjectAltName=DNS:localhost,DNS:127.0.0.1,IP:127.0.0.1",
                        "-keyout", os.path.join(tls, "key.pem"), "-out", os.path.join(tls, "cert.pem")],
                       check=True, capture_output=True)
        cls.served = os.path.join(cls.dir, "https")
        os.makedirs(os.path.join(cls.served, "root"))
        shutil.copy(os.path.join(cls.release, "application.cab"), os.path.join(cls.served, "root", "app.cab"))
        cls.server = subprocess.Popen([sys.executable, os.path.join(TOP, "tests", "bed", "https_server.py"), "--dir",
                                       cls.served, "--cert", os.path.join(tls, "cert.pem"), "--key",
                                       os.path.join(tls, "key.pem")], stdin=subprocess.DEVNULL,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        ports = os.path.join(cls.served, "server.txt")
        for _ in range(100):
            if os.path.exists(ports) and os.path.getsize(ports) > 0:
                break
            time.sleep(0.1)
        with open(ports) as f:
            cls.port = int(f.read().split()[0])
        cls.count = 0

    @classmethod
    def tearDownClass(cls):
        cls.server.terminate()
        cls.server.wait(timeout=30)
        shutil.rmtree(cls.dir, ignore_errors=True)

    def setUp(self):
        FailurePage.count += 1
        self.case = os.path.join(self.dir, "case%d" % self.count)
        os.makedirs(self.case)
        self.log = os.path.join(self.case, "install.log")
        self.setup = os.path.join(self.case, "example-setup.exe")

    def build(self, url=None):
        text = self.manifest
        if url is not None:
            text = text.replace("[Package]\r\n", "[Package]\r\nUrl=%s\r\n" % url, 1)
        manifest = os.path.join(self.case, "manifest.ini")
        with open(manifest, "wb") as f:
            f.write(text.encode("utf-16"))
        made = subprocess.run(["makensis", "-V2", "-DQEL_MANIFEST=" + manifest, "-DQEL_BIN=" + BIN,
                               "-DQEL_OUTFILE=" + self.setup, "-DQEL_TARGET=" + ARGS["target"],
                               os.path.join(TOP, "nsis", "example.nsi")], capture_output=True, timeout=120,
                              env=dict(os.environ, QEL_PACKER=NATIVE))
        self.assertEqual(made.returncode, 0, made.stdout.decode(errors="replace"))

    def logged(self):
        with open(self.log, "rb") as f:
            raw = f.read()
        self.assertTrue(raw.startswith(b"\xff\xfe"))
        return raw.decode("utf-16").split("\r\n")[:-1]

    def silent(self):
        return wine(self.setup, "/S", "/LOG=" + win(self.log), "/D=" + win(os.path.join(self.case, "inst")))[0]

    def pilot(self, *args):
        os.environ["NSIS_PILOT_EXE"] = win(self.setup)
        return wine(os.path.join(BIN, "nsis_pilot.exe"), *args, timeout=90)

    def failure_page_text(self):
        """Runs the installer with its pages up to the failure page; its text box's text, and
        the exit code after its close button."""
        proc = subprocess.Popen([ARGS["wine_run"], self.setup, "/LOG=" + win(self.log),
                                 "/D=" + win(os.path.join(self.case, "inst"))], stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            deadline = time.monotonic() + 90
            while time.monotonic() < deadline:
                page = self.pilot("page")[1].strip()
                if page == "failure":
                    break
                if page in ("custom", "directory"):
                    self.pilot("next")
                time.sleep(0.3)
            self.assertEqual(page, "failure", "the failure page did not come")
            lines = self.pilot("windows")[1].split("\n")
            # The text box's text runs over two lines of the list: the plain line, then qelfetch's.
            at = [i for i, line in enumerate(lines) if " Edit " in line and " shown " in line]
            self.assertEqual(len(at), 1, lines)
            text = [lines[at[0]].split(" ", 5)[5], lines[at[0] + 1]]
            self.pilot("click", "28945")
            return text, proc.wait(timeout=60)
        finally:
            if proc.poll() is None:
                proc.kill()

    def test_untrusted_certificate(self):
        self.build("https://localhost:%d/normal/app.cab" % self.port)
        self.assertEqual(self.silent(), 2)
        hint, line = self.logged()
        self.assertEqual(hint, CERTIFICATE)
        codes = {"应用包下载失败（错误码 %d）。" % c for c in (12157, 12175, 12045, 12038)}
        self.assertIn(line, codes)
        os.remove(self.log)
        text, code = self.failure_page_text()
        self.assertEqual(code, 2)
        self.assertEqual(text, [CERTIFICATE, line])
        self.assertEqual(self.logged(), [CERTIFICATE, line])

    def test_missing_package(self):
        self.build()
        expected = [MISSING + win(os.path.join(self.case, "application.cab")), "应用包无法读取（错误码 2）。"]
        self.assertEqual(self.silent(), 2)
        self.assertEqual(self.logged(), expected)
        os.remove(self.log)
        text, code = self.failure_page_text()
        self.assertEqual(code, 2)
        self.assertEqual(text, expected)

    def test_server_not_there(self):
        # A port nobody listens on: the connection is refused.
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        self.build("https://127.0.0.1:%d/normal/app.cab" % port)
        self.assertEqual(self.silent(), 2)
        self.assertEqual(self.logged(), [UNREACHABLE, "应用包下载失败（错误码 12029）。"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
