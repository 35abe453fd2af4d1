"""Shared pieces of the end-to-end tests: run the built program as a user
would (fresh working directory, key on standard input), build export files
with mkexport, decrypt outputs with gpg, and compute expected token tables
independently of the program."""

import datetime
import os
import random
import re
import shutil
import subprocess
import tempfile
import unittest
import zoneinfo

SRC = os.environ.get("QTE_SRC", os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))
BUILD = os.environ.get("QTE_BUILD", os.path.join(SRC, "build"))
# QTE_WINE: the programs are the Windows build's (.exe), run under this Wine.
WINE = os.environ.get("QTE_WINE")
WINDOWS = bool(WINE)
BIN = os.environ.get("QTE_BIN", os.path.join(BUILD, "quorvel_tokenexp" + (".exe" if WINDOWS else "")))
MKEXPORT = os.path.join(BUILD, "mkexport" + (".exe" if WINDOWS else ""))

# Under Wine the tests' folders (scratch, sources, build) are on drive Z: (the root), and a Windows
# program is given them as a Windows user types them: an argument that is such a path, or ends in
# "=" and one, becomes Z:\... . shown() is the same for the paths the program's messages repeat.
_WIN_PATH = r"(^|=)((?:%s)/[^=]*)$" % "|".join(re.escape(r.rstrip("/")) for r in (tempfile.gettempdir(), SRC, BUILD))


def shown(path):
    """path as the program is given it and shows it."""
    if not WINDOWS:
        return path
    return re.sub(_WIN_PATH, lambda m: m.group(1) + "Z:" + m.group(2).replace("/", "\\"), path)


def _wrapper(name, script):
    """An executable script in a folder removed at exit."""
    global _wrap_dir
    if "_wrap_dir" not in globals():
        import atexit
        _wrap_dir = tempfile.mkdtemp(prefix="qte-wrap-")
        atexit.register(shutil.rmtree, _wrap_dir, True)
    path = os.path.join(_wrap_dir, name)
    with open(path, "w") as f:
        f.write(script)
    os.chmod(path, 0o755)
    return path


# The script a Windows program runs through: it execs Wine with the program
# and the arguments, the tests' paths among them in Windows form.
_WINE_RUN = ("#!%s -S\nimport os, re, sys\nargs = [re.sub(%r, lambda m: m.group(1) + 'Z:' + m.group(2).replace('/', "
             "'\\\\'), a) for a in sys.argv[1:]]\nos.execv(%r, [%r, %r] + args)\n")


# QTE_WRAPPER: a command line put in front of the program in every test, such as "valgrind -q
# --error-exitcode=99 --log-file=DIR/vg.%p.log". BIN becomes a script that execs the wrapper with
# the program (exec keeps the process id, so signals sent to it reach the program under the wrapper).
if os.environ.get("QTE_WRAPPER"):
    import shlex
    BIN = _wrapper("qte", "#!/bin/sh\nexec %s %s \"$@\"\n" % (
        " ".join(shlex.quote(w) for w in shlex.split(os.environ["QTE_WRAPPER"])), shlex.quote(BIN)))


def tool(name):
    """The build's program at name (relative to the build folder), as the tests run it."""
    if not WINDOWS:
        return os.path.join(BUILD, name)
    exe = os.path.join(BUILD, name + ".exe")
    return _wrapper(os.path.basename(exe), _WINE_RUN % (shutil.which("python3"), _WIN_PATH, WINE, WINE, exe))


if WINDOWS:
    BIN, MKEXPORT = tool(os.path.relpath(BIN[:-len(".exe")], BUILD)), tool("mkexport")
    os.environ.setdefault("WINEDEBUG", "-all")


def linux_only(reason):
    """Marks a test that needs what only Linux has (reason): the Windows build skips it."""
    return unittest.skipIf(WINDOWS, "Linux only: " + reason)


# The system's reasons for the failures the tests bring about, as the host
# words them: strerror on Linux, FormatMessage (Wine's words) on Windows.
if WINDOWS:
    NO_FILE, NO_DIR, IS_DIR, DENIED, NO_SPACE = (b"File not found", b"Path not found", b"Access denied",
                                                b"Access denied", b"Disk full")
else:
    NO_FILE = NO_DIR = b"No such file or directory"
    IS_DIR, DENIED, NO_SPACE = b"Is a directory", b"Permission denied", b"No space left on device"
# The key's line ends with the Enter key: a line feed from a pipe or at a
# Linux terminal, a carriage return at a Windows console.
ENTER = "\r" if WINDOWS else "\n"
KEYS = os.path.join(SRC, "tests", "data", "keys")
SAMPLE = os.path.join(SRC, "examples", "sample.exp")
with open(os.path.join(SRC, "examples", "sample_export_key.txt")) as _f:
    SAMPLE_KEY = _f.read().strip() + "\n"

KEY256 = "00112233445566778899aabbccddeeff00112233445566778899AABBCCDDEEFF"
KEY192 = "0f1e2d3c4b5a69788796a5b4c3d2e1f00f1e2d3c4b5a6978"
KEY128 = "a1b2c3d4e5f60718293a4b5c6d7e8f90"

PROMPT = b"Enter quorvel export key: "
SECTION_ERR = PROMPT + b"\nError parsing export file: couldn't read section header from export file\n"
NO_SECTION = PROMPT + b"\nQuorvel export file didn't contain any RECURRING sections. Aborting.\n"
TRUNCATED = PROMPT + b"\nError parsing export file: file truncated!\n"
HEX_ERR = (PROMPT + b"\nError decrypting export file: given quorvel key was incorrectly formatted, couldn't "
           b"convert from hex to binary\n")
EVP_FINAL = r"^Enter quorvel export key: \nError decrypting export file: OpenSSL decrypt error \(EVP final\): .+\n$"
CORRUPT = PROMPT + b"\nError uncompressing export file: compressed data was corrupted\n"
# A wrong key fails at the padding check, or now and then only in zlib.
WRONG_KEY = (PROMPT + b"\nError decrypting export file: OpenSSL decrypt error (EVP final): bad decrypt (usually "
             b"means you entered the wrong quorvel export key)\n", CORRUPT)

# A run that keeps no row writes the header row alone, after a warning.
NO_ROW_PASSED = ("Warning: no row passed -u, -s or -e, so the table holds only its header row; check the values "
                 "given\n")
NO_ROW_HELD = ("Warning: the RECURRING sections hold no rows, so the table holds only its header row; check that "
               "this is the right export file\n")

HEADER = ["user", "token", "expdate", "bdate", "edate", "last_run", "next_run", "name", "note"]


def fingerprints(gnupg, keyfile):
    """The fingerprints gpg lists for a key file: the primary key's, then each subkey's."""
    r = subprocess.run(["gpg", "--batch", "--with-colons", "--show-keys", keyfile], capture_output=True, text=True,
                       check=True, env=dict(os.environ, GNUPGHOME=gnupg))
    return [line.split(":")[9] for line in r.stdout.splitlines() if line.startswith("fpr:")]


def luhn_digit(digits):
    total = sum(2 * d - 9 * (d > 4) if i % 2 == 0 else d for i, d in enumerate(map(int, reversed(digits))))
    return str(9 * total % 10)


def rewrite_cell(name, cell, tz):
    """The program's cell rewriting, written independently."""
    if cell is None or cell == "":
        return ""
    lname = name.lower()
    if lname == "token":
        if cell.isdigit() and cell.isascii():
            return cell + luhn_digit(cell)
        return cell
    if lname in ("bdate", "edate", "last_run", "next_run"):
        s = cell.lstrip(" \t\r\n\v\f")
        neg = s[:1] == "-"
        if s[:1] in ("+", "-"):
            s = s[1:]
        digits = re.match(r"[0-9]*", s).group(0)
        if digits == "" or int(digits) >= 2**64:
            return "FAIL: Case 1"
        value = int(digits)
        if neg and value != 0:
            value = 2**64 - value
        if value >= 2**63:
            return "FAIL: Case 2"
        if value == 0:
            return ""
        # The calendar date in the zone, read from the zone database directly.
        d = datetime.datetime.fromtimestamp(value, zoneinfo.ZoneInfo(tz))
        return "%04d%02d%02d" % (d.year, d.month, d.day)
    return cell


def quoted(cell, quote='"', ws=" \t\n\v\f\r"):
    """One cell of CSV text with "," and quote: quoted when it holds either,
    a line break, or starts or ends with one of the white space ws (the
    defaults: the program's output)."""
    if not cell:
        return ""
    if cell[0] in ws or cell[-1] in ws or any(c in cell for c in ",\n\r" + quote):
        return quote + cell.replace(quote, quote * 2) + quote
    return cell


def expected_table(sections, tz="UTC", user=None, start=None, end=None):
    """sections: list of (name, header, rows) in file order; rows are lists of
    cell texts (None for an absent cell). Only "RECURRING" sections count;
    the columns are those of the first one, matched by name (case-insensitive,
    the later of two equal names winning)."""
    out, columns = [], None
    for name, header, rows in sections:
        if name != "RECURRING":
            continue
        if columns is None:
            columns = list(header)
            out.append(",".join(quoted(h) for h in columns) + "\r\n")
        index = {h.lower(): i for i, h in enumerate(header) if h}

        def cell(row, col):
            i = index.get(col.lower())
            return (row[i] or None) if i is not None and i < len(row) else None

        for row in rows:
            exp = cell(row, "expdate") or ""
            if (user and cell(row, "user") != user) or (start and exp < start) or (end and exp > end):
                continue
            out.append(",".join(quoted(rewrite_cell(c, cell(row, c), tz)) for c in columns) + "\r\n")
    return "".join(out).encode()


def backtick_csv(header, rows):
    """CSV text as the export holds it: "," and the backtick as quote."""
    return "".join(",".join(quoted(v, "`", " \t") for v in r) + "\n" for r in [header] + list(rows)).encode()


def make_rows(count, seed, users=("alice", "bob", "Carol")):
    rng = random.Random(seed)
    rows = []
    for i in range(count):
        token = "".join(rng.choice("0123456789") for _ in range(rng.randint(16, 19)))
        exp = "%04d%02d" % (rng.randint(2023, 2027), rng.randint(1, 12))
        times = [str(rng.randint(1500000000, 1800000000)) if rng.random() > 0.1 else "0" for _ in range(4)]
        name = rng.choice(["Smith, J", "Doe", "O`Brien", " padded ", "Lee, \"Jo\""])
        note = rng.choice(["", "monthly", "weekly, on Fri", "x"])
        rows.append([rng.choice(users), token, exp] + times + [name, note])
    return rows


class E2ECase(unittest.TestCase):
    """A fresh working directory and a throwaway GNUPGHOME per test; with
    ROWS set, also an export x.exp of that many generated rows (self.sections,
    self.exp)."""
    ROWS = None
    SEED = 1
    PER_BLOCK = 10000

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="qte-e2e-")
        self.gnupg = tempfile.mkdtemp(prefix="qte-gpg-")
        os.chmod(self.gnupg, 0o700)
        self.imported = set()
        if self.ROWS is not None:
            self.sections = [("RECURRING", HEADER, make_rows(self.ROWS, self.SEED))]
            self.exp = self.make_export("x.exp", self.sections, rows_per_block=self.PER_BLOCK)

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)
        shutil.rmtree(self.gnupg, ignore_errors=True)

    def path(self, name):
        """name in the scratch folder; an absolute one as it is."""
        return os.path.join(self.dir, name)

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def make_export(self, name, sections, key=KEY256, rows_per_block=10000, extra=()):
        args = [MKEXPORT, "-k", key, "-o", self.path(name), "-r", str(rows_per_block)] + list(extra)
        for i, (sname, header, rows) in enumerate(sections):
            args.append("%s=%s" % (sname, self.write("section%d.csv" % i, backtick_csv(header, rows))))
        subprocess.run(args, check=True)
        return self.path(name)

    def run_tool(self, args, key=KEY256 + "\n", env=None, cwd=None, **kw):
        # UTC unless the environment names a zone; a variable given as None is unset.
        e = {k: v for k, v in {"TZ": "UTC", **os.environ, **(env or {})}.items() if v is not None}
        stdin = key.encode() if isinstance(key, str) else key
        return subprocess.run([BIN] + list(args), input=stdin, capture_output=True, cwd=cwd or self.dir, env=e,
                              timeout=600, **kw)

    def start_at_prompt(self, args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, **kw):
        """The program waiting at the key prompt (read from it); killed at the end of the test."""
        p = subprocess.Popen([BIN] + list(args), stdin=stdin, stdout=stdout, stderr=subprocess.PIPE,
                             cwd=self.dir, env=dict(os.environ, TZ="UTC"), **kw)
        self.addCleanup(lambda: (p.kill(), p.communicate()))
        self.read_prompt(p)
        return p

    def read_prompt(self, p):
        """Reads the prompt, and nothing but it, from p's standard error."""
        got = b""
        while not got.endswith(PROMPT):
            chunk = os.read(p.stderr.fileno(), 100)
            self.assertTrue(chunk, got)
            got += chunk
        self.assertEqual(got, PROMPT)

    def gpg_import(self, seckey):
        if seckey not in self.imported:
            subprocess.run(["gpg", "--batch", "--quiet", "--import", seckey], env=dict(os.environ, GNUPGHOME=self.gnupg),
                           check=True, capture_output=True)
            self.imported.add(seckey)

    def decrypt(self, path, keyname="rsa2048"):
        self.gpg_import(os.path.join(KEYS, keyname + ".sec.asc"))
        r = subprocess.run(["gpg", "--batch", "--quiet", "--ignore-mdc-error", "--decrypt", path],
                           env=dict(os.environ, GNUPGHOME=self.gnupg), capture_output=True)
        self.assertEqual(r.returncode, 0, r.stderr)
        return r.stdout

    def key(self, name="rsa2048"):
        return os.path.join(KEYS, name + ".asc")

    def assert_success(self, r, output_name, report=""):
        """Status 0, and after the prompt only the report (of -v) and the last line."""
        self.assertEqual((r.returncode, r.stdout), (0, b""), r.stderr)
        self.assertRegex(r.stderr.decode(), r"(\A|\n)" + re.escape(PROMPT.decode()) + r"\n" + re.escape(report)
                         + r"Wrote encrypted file " + re.escape(output_name) + r" \(took \d+\.\d{3} sec\)\n\Z")

    def assert_table(self, r, output_name, sections=None, keyname="rsa2048", report="", **filters):
        """A successful run whose output decrypts to the expected table."""
        self.assert_success(r, output_name, report)
        self.assertEqual(self.decrypt(self.path(output_name), keyname),
                         expected_table(sections or self.sections, **filters))

    def assert_fails(self, r, stderr, stdout=b"", absent=None):
        """Status 1, the given output, and the file absent; a str stderr is a
        regular expression, a tuple the messages any of which may come."""
        self.assertEqual((r.returncode, r.stdout), (1, stdout), r.stderr)
        if isinstance(stderr, str):
            self.assertRegex(r.stderr.decode(), stderr)
        elif isinstance(stderr, tuple):
            self.assertIn(r.stderr, stderr)
        else:
            self.assertEqual(r.stderr, stderr)
        if absent:
            self.assertFalse(os.path.lexists(self.path(absent)), absent)
