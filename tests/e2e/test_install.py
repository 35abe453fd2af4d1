"""End-to-end: the program as an administrator installs it. `cmake --install` into a scratch prefix
and the Debian package made by cpack (unpacked with dpkg -x) must each hold exactly the program, its
manual page and the documents; the installed program must run; the manual page must render without
warnings and describe every option the usage text lists. On Windows, the zip a merchant takes.

A missing tool (dpkg, man) skips the tests that need it, with the reason; with QTE_REQUIRE_TOOLS=1
(set by CI) it fails them instead."""

import csv
import gzip
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

sys.path.insert(0, os.path.dirname(__file__))
from e2e_common import *  # noqa: E402,F401,F403

MANPAGE = os.path.join(SRC, "doc", "quorvel_tokenexp.1")
DOCDIR = "share/doc/quorvel-tokenexp"
with open(os.path.join(BUILD, "CMakeCache.txt")) as _f:
    CACHE = dict(re.findall(r"^([A-Za-z_0-9]+):[A-Z]+=(.*)$", _f.read(), re.M))
VERSION = CACHE["CMAKE_PROJECT_VERSION"]
PAGE = "share/man/man1/quorvel_tokenexp.1" + ("" if CACHE.get("GZIP_PROGRAM", "").endswith("NOTFOUND") else ".gz")
# The files an install holds, relative to its prefix.
FILES = {"bin/quorvel_tokenexp", PAGE, DOCDIR + "/README.md", DOCDIR + "/copyright"}
if CACHE.get("INSTALL_MKEXPORT", "OFF").upper() in ("ON", "1", "TRUE", "YES"):
    FILES.add("bin/mkexport")


def need(*tools):
    missing = [t for t in tools if shutil.which(t) is None]
    if missing:
        if os.environ.get("QTE_REQUIRE_TOOLS") == "1":
            raise AssertionError("not installed: " + ", ".join(missing))
        raise unittest.SkipTest("not installed: " + ", ".join(missing))


def tree_files(root):
    return {os.path.relpath(os.path.join(d, n), root) for d, _, names in os.walk(root) for n in names}


def usage_text():
    """The usage text of the program as built (it may gain options)."""
    r = subprocess.run([BIN], capture_output=True, timeout=120)
    assert r.returncode == 1 and r.stdout == b"", r
    return r.stderr


def setUpModule():
    global SCRATCH, PREFIX
    SCRATCH = tempfile.mkdtemp(prefix="qte-install-")
    PREFIX = os.path.join(SCRATCH, "prefix")
    if WINDOWS:
        return
    subprocess.run([CACHE["CMAKE_COMMAND"], "--install", BUILD, "--prefix", PREFIX], check=True, capture_output=True)


def tearDownModule():
    shutil.rmtree(SCRATCH, ignore_errors=True)


@linux_only("an install under a prefix, and the Debian package")
class Installed(unittest.TestCase):
    def check_tree(self, prefix):
        self.assertEqual(tree_files(prefix), FILES)
        binary = os.path.join(prefix, "bin", "quorvel_tokenexp")
        for arg, out in (("--help", usage_text()), ("--version", b"quorvel_tokenexp %s\n" % VERSION.encode())):
            r = subprocess.run([binary, arg], capture_output=True, timeout=120)
            self.assertEqual((r.returncode, r.stdout, r.stderr), (0, out, b""), arg)
        for installed, source, unpack in ((DOCDIR + "/README.md", os.path.join(SRC, "README.md"), False),
                                          (PAGE, MANPAGE, PAGE.endswith(".gz"))):
            with open(os.path.join(prefix, installed), "rb") as f, open(source, "rb") as g:
                self.assertEqual(gzip.decompress(f.read()) if unpack else f.read(), g.read(), installed)

    def test_cmake_install_prefix(self):
        self.check_tree(PREFIX)

    def test_debian_package(self):
        need("dpkg", "dpkg-deb")
        arch = subprocess.run(["dpkg", "--print-architecture"], capture_output=True, text=True).stdout.strip()
        out = os.path.join(SCRATCH, "deb")
        r = subprocess.run([CACHE["CMAKE_CPACK_COMMAND"], "-G", "DEB", "-B", out], cwd=BUILD, capture_output=True,
                           text=True)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        debs = [n for n in os.listdir(out) if n.endswith(".deb")]
        self.assertEqual(debs, ["quorvel-tokenexp_%s_%s.deb" % (VERSION, arch)])
        deb = os.path.join(out, debs[0])
        # Contents: root-owned, the program executable, the rest plain files.
        listing = subprocess.run(["dpkg-deb", "-c", deb], capture_output=True, text=True, check=True).stdout
        entries = [line.split(None, 5) for line in listing.splitlines()]
        self.assertEqual({e[1] for e in entries}, {"root/root"})
        self.assertEqual({e[5]: e[0] for e in entries if not e[0].startswith("d")},
                         {"./usr/" + p: "-rwxr-xr-x" if p.startswith("bin/") else "-rw-r--r--" for p in FILES})
        field = lambda name: subprocess.run(["dpkg-deb", "-f", deb, name], capture_output=True, text=True,
                                            check=True).stdout.strip()
        self.assertEqual((field("Package"), field("Version"), field("Architecture")),
                         ("quorvel-tokenexp", VERSION, arch))
        depends = {re.split(r"[ (]", d.strip())[0] for d in field("Depends").split(",")}
        self.assertLessEqual({"libc6", "libssl3", "zlib1g", "libdeflate0"}, depends)
        summary, _, body = field("Description").partition("\n")
        self.assertTrue(summary and body.strip())
        self.assertRegex(field("Maintainer"), r"<[^@>\s]+@[^>\s]+>$")
        root = os.path.join(SCRATCH, "root")
        subprocess.run(["dpkg", "-x", deb, root], check=True)
        self.check_tree(os.path.join(root, "usr"))


@linux_only("an install under a prefix")
class AfterTheDemo(unittest.TestCase):
    def test_the_targets_the_demo_builds_are_enough_to_install(self):
        with open(os.path.join(SRC, "scripts", "demo.sh")) as f:
            targets = re.search(r"cmake --build build --target ([\w ]+)\n", f.read()).group(1).split()
        built = os.path.join(BUILD, os.path.basename(PAGE))
        if not PAGE.endswith(".gz"):
            self.skipTest("no gzip: the page is installed from the sources")
        # The build folder as the demo leaves it: the page not made yet.
        os.rename(built, built + ".away")
        try:
            subprocess.run([CACHE["CMAKE_COMMAND"], "--build", BUILD, "--target"] + targets, check=True,
                           capture_output=True)
            prefix = os.path.join(SCRATCH, "after-demo")
            r = subprocess.run([CACHE["CMAKE_COMMAND"], "--install", BUILD, "--prefix", prefix], capture_output=True)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(tree_files(prefix), FILES)
        finally:
            os.replace(built + ".away", built) if not os.path.exists(built) else os.remove(built + ".away")


@linux_only("man, on the page as installed (the Windows release renders the same page)")
class ManualPage(unittest.TestCase):
    def test_renders_without_warnings_and_describes_every_usage_option(self):
        need("man")
        env = {k: v for k, v in os.environ.items() if k not in ("MANPAGER", "PAGER")}
        for width in (60, 80):
            r = subprocess.run(["man", "--warnings", "-l", os.path.join(PREFIX, PAGE)], capture_output=True,
                               env=dict(env, LC_ALL="C", LANG="C", MANWIDTH=str(width)), timeout=120)
            self.assertEqual((r.returncode, r.stderr), (0, b""), width)
        options = re.findall(r"^  (-[A-Za-z]) ", usage_text().decode(), re.M)
        self.assertGreaterEqual(len(options), 4)
        sections = dict(re.findall(r"^([A-Z][A-Z ]+)\n(.*?)(?=^[A-Z][A-Z ]+\n|\Z)", r.stdout.decode(), re.M | re.S))
        # An entry is a tag line (the option and its value) over an indented body.
        described = set(re.findall(r"^ {7}(-[A-Za-z])(?: \S+)?\n {8,}\S", sections["OPTIONS"], re.M))
        for opt in options:
            self.assertIn(opt, described, "option %s of the usage text has no entry under OPTIONS" % opt)
            self.assertIn("[" + opt + " ", sections["SYNOPSIS"], opt)
        # The NAME line is what whatis and apropos index.
        if shutil.which("lexgrog"):
            r = subprocess.run(["lexgrog", os.path.join(PREFIX, PAGE)], capture_output=True, text=True)
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
            self.assertRegex(r.stdout, r': "quorvel_tokenexp - \S')
        with open(MANPAGE) as f:
            th = [line for line in f if line.startswith(".TH ")]
        self.assertEqual(len(th), 1)
        self.assertIn('"quorvel_tokenexp %s"' % VERSION, th[0])


@unittest.skipUnless(WINDOWS, "the Windows release")
class Release(E2ECase):
    # Libraries of Windows itself, which the .exe may need.
    SYSTEM = {"advapi32", "authz", "crypt32", "kernel32", "msvcrt", "shell32", "shlwapi", "user32", "ws2_32"}
    LICENCES = ["Apache-2.0", "gcc-runtime", "libdeflate", "mingw-w64", "openssl", "zlib"]
    TEXTS = ["README", "quorvel_tokenexp", "copyright", "licences"] + ["licences/" + n for n in LICENCES]

    def test_zip_for_a_merchant_whose_readme_sample_run_works_from_the_unzipped_folder(self):
        r = subprocess.run([CACHE["CMAKE_CPACK_COMMAND"], "-G", "ZIP", "-B", self.dir], cwd=BUILD, capture_output=True,
                           text=True)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        top = self.path("quorvel_tokenexp-%s-win64" % VERSION)
        r = subprocess.run(["sha256sum", "-c", os.path.basename(top) + ".zip.sha256"], cwd=self.dir, capture_output=True)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        with zipfile.ZipFile(top + ".zip") as z:
            z.extractall(self.dir)
        sample = ["sample/sample.exp", "sample/sample_export_key.txt", "sample/demo_public_key.asc"]
        self.assertEqual(tree_files(top), {n + ".txt" for n in self.TEXTS} | {"quorvel_tokenexp.exe"} | set(sample))
        dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", os.path.join(top, "quorvel_tokenexp.exe")],
                              capture_output=True, text=True, check=True).stdout
        self.assertLessEqual({d.lower()[:-4] for d in re.findall(r"DLL Name: (\S+)", dump)}, self.SYSTEM, dump)
        texts = {}
        for name in self.TEXTS:
            with open(os.path.join(top, name + ".txt"), "rb") as f:
                texts[name] = f.read()
            self.assertEqual(texts[name].count(b"\n"), texts[name].count(b"\r\n"), name)
        readme, page = texts["README"].decode("ascii"), texts["quorvel_tokenexp"].decode("ascii")
        self.assertLessEqual(max(map(len, readme.splitlines())), 80)
        for name in ["copyright.txt", "licences.txt"] + [n + ".txt" for n in self.LICENCES]:
            self.assertIn(name, readme)
        # The manual in its Windows form, with no word split at a line end.
        self.assertIsNone(re.search(r"[a-z]-\r\n|0600|/dev/|SIGTERM|umask|core file", page))
        # README.txt's sample commands, in a batch file run by Command Prompt,
        # the unzipped folder in place of its C:\Tools.
        readme = re.sub(r" \^\r\n +", " ", readme)
        commands = re.findall(r"^  ((?:cd /d C:\\Tools\\|\.\.\\quorvel_tokenexp\.exe ).*)\r$", readme, re.M)
        self.assertEqual(len(commands), 3, readme)
        bat = "".join("%s\r\nif errorlevel 1 exit /b 1\r\n" % c.replace("C:\\Tools", shown(self.dir)) for c in commands)
        self.write("run.bat", ("@echo off\r\n" + bat).encode())
        r = subprocess.run([WINE, "cmd", "/c", shown(self.path("run.bat"))], stdin=subprocess.DEVNULL,
                           capture_output=True, env=dict(os.environ, TZ="UTC"), timeout=600)
        self.assertEqual((r.returncode, r.stdout), (0, b""), r.stderr)
        shown_out = re.search(r"It prints .*\r\n\r\n((?:  \S.*\r\n)+)", readme).group(1).split("\r\n")[:-1]
        self.assertRegex(r.stderr.decode(), "^" + "".join(re.escape(line.strip()).replace(r"0\.011", r"\d+\.\d{3}") +
                                                         " ?\n" for line in shown_out))
        sections = []
        for name, csv_file in (("RECURRING", "recurring_store1"), ("TRANSDATA", "transdata"),
                               ("RECURRING", "recurring_store2")):
            with open(os.path.join(SRC, "examples", "data", csv_file + ".csv"), newline="") as f:
                rows = list(csv.reader(f, quotechar="`"))
            sections.append((name, rows[0], rows[1:]))
        self.gpg_import(os.path.join(SRC, "examples", "demo_secret_key.DEMO-ONLY.asc"))
        self.assertEqual(self.decrypt(os.path.join(top, "sample", "sample.exp.gpg")), expected_table(sections))


if __name__ == "__main__":
    unittest.main()
