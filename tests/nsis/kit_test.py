#!/usr/bin/env python3
"""The NSIS include as an author meets it when building: the band picture is checked by
qelpack and a bad one stops the build with one line; the reference tables (the head of
qel.nsh and the README) name every public macro with the parameters it takes; the example
builds without a single warning under the output name the quick start gives it; and the plain
lines ${QelFailureText} puts above a failure, for every code they are keyed on, run in a small
installer under Wine."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tools"))
import pictures as P  # noqa: E402

TOP = os.path.abspath(sys.argv.pop(1))
BIN = os.path.abspath(sys.argv.pop(1))         # the DLLs the test installers carry
WINE_RUN = sys.argv.pop(1)
TARGET = sys.argv.pop(1)                       # x86-unicode, or amd64-unicode on a 64-bit-only machine
NATIVE = os.path.abspath(sys.argv.pop(1))      # the native qelpack
NSH = os.path.join(TOP, "nsis", "qel.nsh")


def win(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def makensis(script, *defines, env=None, cwd=None):
    """makensis with QEL_PACKER from env only (None: this tree's packer)."""
    environment = dict(os.environ)
    environment.pop("QEL_PACKER", None)
    if env is None:
        environment["QEL_PACKER"] = NATIVE
    else:
        environment.update(env)
    done = subprocess.run(["makensis", "-V2", *("-D" + d for d in defines), script], capture_output=True,
                          timeout=120, env=environment, cwd=cwd)
    return done.returncode, (done.stdout + done.stderr).decode("utf-8", "replace")


def error_lines(output):
    """The lines makensis printed for the author: its !error line (the framing lines that
    follow it, "Error in macro ..." and "Error in script ...", name the places)."""
    return [line for line in output.splitlines() if line.startswith("!error:")]


def reports_left():
    """makensis's temporary files in /tmp that hold a picture check's report."""
    left = []
    for name in os.listdir("/tmp"):
        if name.startswith("makensis"):
            try:
                with open(os.path.join("/tmp", name), "rb") as f:
                    if b"is not a band picture" in f.read():
                        left.append(name)
            except OSError:
                pass  # another build's file, gone already
    return left


class PictureAtBuildTime(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="kit-picture-")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def script(self, picture):
        path = os.path.join(self.dir, "p.nsi")
        with open(path, "w", encoding="utf-8") as f:
            f.write('Unicode true\nOutFile "%s"\n!include "%s"\nFunction .onInit\n  ${QelFiles} "%s"\n'
                    '  ${QelPictureFile} "%s"\nFunctionEnd\nSection\nSectionEnd\n'
                    % (os.path.join(self.dir, "p-setup.exe"), NSH, BIN, picture))
        return path

    def picture(self, name, data):
        with open(os.path.join(self.dir, name), "wb") as f:
            f.write(data)
        return name

    def test_a_usable_picture_builds_and_an_unusable_one_stops_with_one_line(self):
        grey = [(i, i, i) for i in range(256)]
        good = self.picture("good.bmp", P.bmp(20, 20, lambda x, y: x * 12, bits=8, palette=grey))
        code, output = makensis(self.script(good))
        self.assertEqual(code, 0, output)
        self.assertTrue(os.path.exists(os.path.join(self.dir, "p-setup.exe")))
        os.remove(os.path.join(self.dir, "p-setup.exe"))
        cases = {
            "rgb.bmp": (P.bmp(20, 20, P.disc(20, 20), bits=24),
                        "!error: qel.nsh: rgb.bmp is not a band picture: it is a 24-bit picture; the band needs 8 "
                        "bits with 256 colours (qelpack picture IN OUT.bmp makes one that is)"),
            "rle.bmp": (P.bmp(8, 4, None, bits=8, compression=1, palette=grey, rle=P.rle8(8, 4, lambda x, y: 3)),
                        "!error: qel.nsh: rle.bmp is not a band picture: it is compressed (RLE); the band needs "
                        "uncompressed pixels (qelpack picture IN OUT.bmp makes one that is)"),
            "16 colours.bmp": (P.bmp(8, 4, lambda x, y: 1, bits=8, palette=grey[:16]), "colour table has 16 entries"),
            "logo.png": (P.png(8, 8, P.disc(8, 8)), "logo.png is not a band picture: it is not a BMP file"),
            "cut.bmp": (P.bmp(20, 20, lambda x, y: 1, bits=8, palette=grey)[:-40], "cut.bmp is not a band "
                        "picture: the file ends inside its pixels (truncated)"),
        }
        for name, (data, words) in cases.items():
            with self.subTest(name):
                code, output = makensis(self.script(self.picture(name, data)))
                self.assertNotEqual(code, 0)
                errors = error_lines(output)
                self.assertEqual(len(errors), 1, output)
                self.assertIn(words, errors[0])
                self.assertFalse(os.path.exists(os.path.join(self.dir, "p-setup.exe")))
        # The report file the check has makensis make (in /tmp, whatever TMPDIR says) goes away.
        self.assertEqual(reports_left(), [])

    def test_the_packer_is_found_the_documented_ways(self):
        rgb = self.script(self.picture("rgb.bmp", P.bmp(8, 8, P.disc(8, 8))))
        # A define wins over the environment.
        code, output = makensis(rgb, "QEL_PACKER=" + NATIVE, env={"QEL_PACKER": "/nonexistent/qelpack"})
        self.assertIn("it is a 24-bit picture", output)
        # The environment variable.
        code, output = makensis(rgb, env={"QEL_PACKER": NATIVE})
        self.assertIn("it is a 24-bit picture", output)
        # Neither: the Debian package's /usr/bin/qelpack, or one line saying what to do.
        code, output = makensis(rgb, env={})
        self.assertNotEqual(code, 0)
        if not os.path.exists("/usr/bin/qelpack"):
            self.assertEqual(error_lines(output), [
                "!error: qel.nsh: the band picture is checked with qelpack when the installer is built, and "
                "/usr/bin/qelpack does not exist: install the qel-kit package (Linux), give QelFiles the kit's bin "
                "folder (Windows), or define QEL_PACKER=<path of qelpack>"])
        # A packer that cannot be run is named, not taken for a good picture.
        code, output = makensis(rgb, env={"QEL_PACKER": "/nonexistent/qelpack"})
        self.assertNotEqual(code, 0)
        errors = error_lines(output)
        self.assertEqual(len(errors), 1, output)
        self.assertTrue(errors[0].startswith("!error: qel.nsh: the band picture rgb.bmp could not be checked: "), errors)
        self.assertIn("/nonexistent/qelpack", errors[0])

    def test_a_relative_picture_is_taken_from_the_scripts_folder(self):
        # makensis works in the script's folder, so is the check, whatever folder it was run from.
        grey = [(i, i, i) for i in range(256)]
        os.makedirs(os.path.join(self.dir, "art"))
        self.picture(os.path.join("art", "band.bmp"), P.bmp(10, 10, lambda x, y: y * 20, bits=8, palette=grey))
        elsewhere = os.path.join(self.dir, "elsewhere")
        os.makedirs(elsewhere)
        self.picture("band.bmp", P.bmp(8, 8, P.disc(8, 8)))  # a 24-bit one in the folder makensis runs in
        shutil.copy(os.path.join(self.dir, "band.bmp"), os.path.join(elsewhere, "band.bmp"))
        code, output = makensis(self.script("art/band.bmp"), cwd=elsewhere)
        self.assertEqual(code, 0, output)
        code, output = makensis(self.script("band.bmp"), cwd=os.path.join(self.dir, "art"))
        self.assertIn("it is a 24-bit picture", output)


class Reference(unittest.TestCase):
    """Both tables against the definitions: the parser reads what an author reads."""

    @staticmethod
    def signatures(text):
        """name -> parameter count for every `${QelX} A B "C D"` in text."""
        found = {}
        for match in re.finditer(r'\$\{(Qel\w+)\}((?: +(?:"[^"]*"|[A-Z][A-Z0-9_]*))*)', text):
            found.setdefault(match.group(1), []).append(len(re.findall(r'"[^"]*"|[A-Z][A-Z0-9_]*', match.group(2))))
        return found

    def definitions(self):
        with open(NSH, encoding="utf-8") as f:
            text = f.read()
        macros = {m.group(1): len(m.group(2).split()) for m in re.finditer(r"^!macro (\w+)(.*)$", text, re.M)}
        public = set(re.findall(r'^!define (Qel\w+) "!insertmacro (\1)"$', text, re.M))
        return macros, {name for name, _ in public}

    def header_table(self):
        with open(NSH, encoding="utf-8") as f:
            lines = f.read().split("\n")
        start = lines.index("; Reference (every macro is also described where it is defined):")
        rows = []
        for line in lines[start + 1:]:
            if line == ";":
                break
            if line.startswith(";   ${"):
                rows.append(re.split(r"\s{2,}", line[4:])[0])
        return self.signatures("\n".join(rows))

    def readme_table(self):
        with open(os.path.join(TOP, "README.md"), encoding="utf-8") as f:
            text = f.read()
        section = text.split("### Include reference", 1)[1].split("\n### ", 1)[0]
        cells = [line.split("|")[1] for line in section.splitlines() if line.startswith("| `${")]
        return self.signatures("\n".join(re.findall(r"`([^`]*)`", "\n".join(cells))))

    def test_both_tables_name_every_public_macro_with_its_parameters(self):
        macros, public = self.definitions()
        self.assertIn("QelPictureFile", public)
        for table, rows in (("qel.nsh's head", self.header_table()), ("README's include reference", self.readme_table())):
            with self.subTest(table):
                self.assertEqual(set(rows), public, "macros missing from or unknown to " + table)
                for name, counts in rows.items():
                    self.assertEqual(set(counts), {macros[name]}, "%s: %s in %s, %d in its !macro"
                                     % (name, counts, table, macros[name]))


class ExampleBuild(unittest.TestCase):
    def test_the_example_builds_without_a_warning(self):
        out = tempfile.mkdtemp(prefix="kit-example-")
        self.addCleanup(shutil.rmtree, out, True)
        manifest = os.path.join(out, "manifest.ini")
        with open(manifest, "wb") as f:
            f.write("[Package]\r\nFormat=qel-cab-2\r\nCount=1\r\n".encode("utf-16"))
        for target in sorted({TARGET, "x86-unicode"}):
            with self.subTest(target):
                setup = os.path.join(out, "example-setup.exe")
                code, output = makensis(os.path.join(TOP, "nsis", "example.nsi"), "QEL_MANIFEST=" + manifest,
                                        "QEL_BIN=" + BIN, "QEL_OUTFILE=" + setup, "QEL_TARGET=" + target)
                self.assertEqual(code, 0, output)
                self.assertNotIn("warning", output.lower())
                self.assertTrue(os.path.isfile(setup))
                os.remove(setup)
        # The name every example used before: makensis warns about it, the kit no longer uses it.
        code, output = makensis(os.path.join(TOP, "nsis", "example.nsi"), "QEL_MANIFEST=" + manifest,
                                "QEL_BIN=" + BIN, "QEL_OUTFILE=" + os.path.join(out, "setup.exe"))
        self.assertIn('Insecure filename "setup.exe"', output)


class FailureLines(unittest.TestCase):
    """${QelFailureText} in a small installer that reads lines and writes what it makes of them."""

    CERTIFICATE = "无法验证下载服务器的证书。请检查系统时间，或联系软件提供者。"
    UNREACHABLE = "无法连接下载服务器。请检查网络连接，稍后再试。"
    UNKNOWN_HOST = "找不到下载服务器。请检查网络连接，或联系软件提供者。"
    PROXY = "网络代理要求登录。请在系统的代理设置中登录后再试。"
    DISK = "磁盘空间已满。请释放一些空间后再试。"

    def test_each_code_gets_its_plain_line_and_others_none(self):
        package = "C:\\发布\\application.cab"
        missing = "找不到应用包。请把应用包放在：" + package
        cases = [
            ("应用包下载失败（错误码 12157）。", self.CERTIFICATE),
            ("应用包下载失败（错误码 12175）。", self.CERTIFICATE),
            ("应用包下载失败（错误码 12045）。", self.CERTIFICATE),
            ("应用包下载失败（错误码 12038）。", self.CERTIFICATE),
            ("应用包下载失败（错误码 12029）。", self.UNREACHABLE),
            ("应用包下载失败（错误码 12002）。", self.UNREACHABLE),
            ("应用包下载失败（错误码 12007）。", self.UNKNOWN_HOST),
            ("服务器未提供应用包（HTTP 407）。", self.PROXY),
            ("应用包下载失败（错误码 112）。", self.DISK),
            ("应用包无法读取（错误码 2）。", missing),
            ("应用包无法读取（错误码 3）。", missing),
            # Nothing plain to add, or a code that means something else in that line.
            ("应用包下载失败（错误码 1215）。", None),
            ("应用包下载失败（错误码 121570）。", None),
            ("服务器未提供应用包（HTTP 404）。", None),
            ("服务器未提供应用包（HTTP 4070）。", None),
            ("无法检查应用包工作磁盘的空间（错误码 2）。", None),
            ("应用包无法读取（错误码 1006）。", None),
            ("应用包 SHA-256 校验失败，未开始安装。", None),
            ("已取消，未开始安装。", None),
            ("", None),
        ]
        work = tempfile.mkdtemp(prefix="kit-lines-", dir=os.path.dirname(BIN))
        self.addCleanup(shutil.rmtree, work, True)
        lines_in, lines_out = os.path.join(work, "in.txt"), os.path.join(work, "out.txt")
        with open(lines_in, "wb") as f:
            f.write("\r\n".join(line for line, _ in cases).encode("utf-16") + "\r\n".encode("utf-16-le"))
        script = os.path.join(work, "lines.nsi")
        with open(script, "w", encoding="utf-8") as f:
            f.write(r'''Unicode true
Target %(target)s
OutFile "%(out)s"
RequestExecutionLevel user
SilentInstall silent
!include "%(nsh)s"
Section
  FileOpen $0 "%(lines_in)s" r
  FileOpen $1 "%(lines_out)s" w
  FileWriteUTF16LE /BOM $1 ""
  ${Do}
    ClearErrors
    FileReadUTF16LE $0 $2
    ${IfThen} ${Errors} ${|} ${Break} ${|}
    StrCpy $3 $2 2 -2
    ${IfThen} $3 == "$\r$\n" ${|} StrCpy $2 $2 -2 ${|}
    ${QelFailureText} $2 "%(package)s" $4
    FileWriteUTF16LE $1 "$4$\r$\n--$\r$\n"
  ${Loop}
  FileClose $1
  FileClose $0
SectionEnd
''' % dict(target=TARGET, out=os.path.join(work, "lines-setup.exe"), nsh=NSH, lines_in=win(lines_in),
           lines_out=win(lines_out), package=package))
        code, output = makensis(script)
        self.assertEqual(code, 0, output)
        with tempfile.TemporaryFile() as log:
            ran = subprocess.run([WINE_RUN, os.path.join(work, "lines-setup.exe"), "/S"], stdout=log, stderr=log,
                                 stdin=subprocess.DEVNULL, timeout=120)
        self.assertEqual(ran.returncode, 0)
        with open(lines_out, "rb") as f:
            results = f.read().decode("utf-16").split("\r\n--\r\n")[:-1]
        self.assertEqual(len(results), len(cases))
        # The README's table gives the same lines.
        with open(os.path.join(TOP, "README.md"), encoding="utf-8") as f:
            readme = f.read()
        for hint in (self.CERTIFICATE, self.UNREACHABLE, self.UNKNOWN_HOST, self.PROXY, self.DISK,
                     "找不到应用包。请把应用包放在：PACKAGE"):
            self.assertIn("| %s |" % hint, readme)
        for (line, hint), got in zip(cases, results):
            with self.subTest(line):
                self.assertEqual(got, line if hint is None else hint + "\r\n" + line)


if __name__ == "__main__":
    unittest.main(verbosity=2)
