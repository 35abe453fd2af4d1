"""End-to-end: the program as an administrator installs it. `cmake --install`
into a scratch prefix and the Debian package made by cpack (unpacked with
dpkg -x) must each hold exactly the program, its manual page and the
documents; the installed program must run; the manual page must render
without warnings and describe every option the usage text lists.

A missing tool (dpkg, man) skips the tests that need it, with the reason;
with QTE_REQUIRE_TOOLS=1 (set by CI) it fails them instead."""

import gzip
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from e2e_common import *  # noqa: E402,F401,F403

MANPAGE = os.path.abspath(os.path.join(SRC, "doc", "quorvel_tokenexp.1"))
DOCDIR = "share/doc/quorvel-tokenexp"


def cache():
    """The build's CMake cache as a name -> value map."""
    values = {}
    with open(os.path.join(BUILD, "CMakeCache.txt")) as f:
        for line in f:
            m = re.match(r"^([A-Za-z_0-9]+):[A-Z]+=(.*)$", line.rstrip("\n"))
            if m:
                values[m.group(1)] = m.group(2)
    return values


CACHE = cache()
VERSION = CACHE["CMAKE_PROJECT_VERSION"]


def need(*tools):
    missing = [t for t in tools if shutil.which(t) is None]
    if missing:
        reason = "not installed: " + ", ".join(missing)
        if os.environ.get("QTE_REQUIRE_TOOLS") == "1":
            raise AssertionError(reason)
        raise unittest.SkipTest(reason)


def expected_files():
    """The files an install holds, relative to its prefix."""
    page = "quorvel_tokenexp.1.gz" if not CACHE.get("GZIP_PROGRAM", "").endswith("NOTFOUND") else "quorvel_tokenexp.1"
    files = {"bin/quorvel_tokenexp", "share/man/man1/" + page, DOCDIR + "/README.md", DOCDIR + "/copyright"}
    if CACHE.get("INSTALL_MKEXPORT", "OFF").upper() in ("ON", "1", "TRUE", "YES"):
        files.add("bin/mkexport")
    return files


def tree_files(root):
    out = set()
    for d, _, names in os.walk(root):
        for n in names:
            out.add(os.path.relpath(os.path.join(d, n), root))
    return out


def usage_text():
    """The usage text of the program as built (it may gain options)."""
    r = subprocess.run([BIN], capture_output=True, timeout=120)
    assert r.returncode == 1 and r.stdout == b"", r
    return r.stderr


SCRATCH = None
PREFIX = None


def setUpModule():
    global SCRATCH, PREFIX
    SCRATCH = tempfile.mkdtemp(prefix="qte-install-")
    PREFIX = os.path.join(SCRATCH, "prefix")
    subprocess.run([CACHE["CMAKE_COMMAND"], "--install", BUILD, "--prefix", PREFIX], check=True,
                   capture_output=True)


def tearDownModule():
    shutil.rmtree(SCRATCH, ignore_errors=True)


def run_export(binary, workdir):
    """One export of the sample with the binary; the decrypted table."""
    with open(os.path.join(SRC, "examples", "sample_export_key.txt"), "rb") as f:
        key = f.read()
    r = subprocess.run([binary, os.path.abspath(os.path.join(SRC, "examples", "sample.exp")),
                        os.path.abspath(os.path.join(KEYS, "rsa2048.asc")),
                        "-o", "out.gpg"], input=key, capture_output=True, cwd=workdir, env=dict(os.environ, TZ="UTC"),
                       timeout=600)
    return r


class Installed(E2ECase):
    def check_tree(self, prefix):
        self.assertEqual(tree_files(prefix), expected_files())
        binary = os.path.join(prefix, "bin", "quorvel_tokenexp")
        self.assertTrue(os.access(binary, os.X_OK))
        r = subprocess.run([binary], capture_output=True, timeout=120)
        self.assertEqual((r.returncode, r.stdout, r.stderr), (1, b"", usage_text()))
        with open(os.path.join(SRC, "README.md"), "rb") as f, open(os.path.join(prefix, DOCDIR, "README.md"),
                                                                   "rb") as g:
            self.assertEqual(f.read(), g.read())
        page = [p for p in expected_files() if p.startswith("share/man/")][0]
        with open(os.path.join(prefix, page), "rb") as f:
            data = f.read()
        with open(MANPAGE, "rb") as f:
            self.assertEqual(gzip.decompress(data) if page.endswith(".gz") else data, f.read())
        # The installed program does a whole export like the built one.
        for b, name in ((binary, "installed"), (BIN, "built")):
            os.makedirs(self.path(name))
            r = run_export(b, self.path(name))
            self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.decrypt(self.path("installed/out.gpg")), self.decrypt(self.path("built/out.gpg")))

    def test_cmake_install_prefix(self):
        self.check_tree(PREFIX)

    def test_debian_package(self):
        need("dpkg", "dpkg-deb")
        arch = subprocess.run(["dpkg", "--print-architecture"], capture_output=True, text=True,
                              check=True).stdout.strip()
        out = os.path.join(SCRATCH, "deb")
        r = subprocess.run([CACHE["CMAKE_CPACK_COMMAND"], "-G", "DEB", "-B", out], cwd=BUILD, capture_output=True,
                           text=True)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        debs = [n for n in os.listdir(out) if n.endswith(".deb")]
        self.assertEqual(debs, ["quorvel-tokenexp_%s_%s.deb" % (VERSION, arch)])
        deb = os.path.join(out, debs[0])

        # Contents: root-owned, the program executable, the rest plain files.
        listing = subprocess.run(["dpkg-deb", "-c", deb], capture_output=True, text=True, check=True).stdout
        files = {}
        for line in listing.splitlines():
            mode, owner, _size, _date, _time, path = line.split(None, 5)
            self.assertEqual(owner, "root/root", line)
            if not mode.startswith("d"):
                files[path] = mode
        want = {"./usr/" + p: ("-rwxr-xr-x" if p.startswith("bin/") else "-rw-r--r--") for p in expected_files()}
        self.assertEqual(files, want)

        fields = {}
        for name in ("Package", "Version", "Architecture", "Depends", "Description", "Maintainer"):
            fields[name] = subprocess.run(["dpkg-deb", "-f", deb, name], capture_output=True, text=True,
                                          check=True).stdout.strip()
        self.assertEqual((fields["Package"], fields["Version"], fields["Architecture"]),
                         ("quorvel-tokenexp", VERSION, arch))
        depends = {re.split(r"[ (]", d.strip())[0] for d in fields["Depends"].split(",")}
        self.assertLessEqual({"libc6", "libssl3", "zlib1g", "libdeflate0"}, depends)
        summary, _, body = fields["Description"].partition("\n")
        self.assertTrue(summary and body.strip(), fields["Description"])
        self.assertRegex(fields["Maintainer"], r"<[^@>\s]+@[^>\s]+>$")

        root = os.path.join(SCRATCH, "root")
        subprocess.run(["dpkg", "-x", deb, root], check=True)
        self.assertEqual(tree_files(root), {"usr/" + p for p in expected_files()})
        self.check_tree(os.path.join(root, "usr"))


class ManualPage(unittest.TestCase):
    def setUp(self):
        need("man")

    def render(self, page, width=80):
        env = dict(os.environ, LC_ALL="C", LANG="C", MANWIDTH=str(width))
        env.pop("MANPAGER", None)
        env.pop("PAGER", None)
        return subprocess.run(["man", "--warnings", "-l", page], capture_output=True, env=env, timeout=120)

    def installed_page(self):
        page = [p for p in expected_files() if p.startswith("share/man/")][0]
        return os.path.join(PREFIX, page)

    def test_renders_without_warnings(self):
        for width in (80, 60):
            r = self.render(self.installed_page(), width)
            self.assertEqual((r.returncode, r.stderr), (0, b""), width)
            self.assertIn(b"SYNOPSIS", r.stdout)
        # The NAME line is what whatis and apropos index.
        if shutil.which("lexgrog"):
            r = subprocess.run(["lexgrog", self.installed_page()], capture_output=True, text=True)
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
            self.assertRegex(r.stdout, r': "quorvel_tokenexp - \S')

    def test_title_carries_the_project_version(self):
        with open(MANPAGE) as f:
            th = [line for line in f if line.startswith(".TH ")]
        self.assertEqual(len(th), 1)
        self.assertIn('"quorvel_tokenexp %s"' % VERSION, th[0])

    def test_every_usage_option_is_described(self):
        usage = usage_text().decode()
        options = re.findall(r"^  (-[A-Za-z]) ", usage, re.M)
        self.assertGreaterEqual(len(options), 4, usage)
        text = self.render(self.installed_page()).stdout.decode()
        sections = dict(re.findall(r"^([A-Z][A-Z ]+)\n(.*?)(?=^[A-Z][A-Z ]+\n|\Z)", text, re.M | re.S))
        # An entry is a tag line (the option and its value) over an indented body.
        described = set(re.findall(r"^ {7}(-[A-Za-z])(?: \S+)?\n {8,}\S", sections["OPTIONS"], re.M))
        for opt in options:
            self.assertIn(opt, described, "option %s of the usage text has no entry under OPTIONS" % opt)
            self.assertIn("[" + opt + " ", sections["SYNOPSIS"], opt)


if __name__ == "__main__":
    unittest.main()
