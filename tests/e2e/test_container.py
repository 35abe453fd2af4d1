"""End-to-end: the export file's layout as the reader takes it: header line
forms, block sizes in every number form, blocks outside sections, skips past
the end, and the blocks whose CSV holds little or nothing."""

import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from e2e_common import *  # noqa: E402,F401,F403

PROMPT = b"Enter quorvel export key: \n"
SECTION_ERR = PROMPT + b"Error parsing export file: couldn't read section header from export file\n"
NO_SECTION = PROMPT + b"Quorvel export file didn't contain any RECURRING sections. Aborting.\n"
MARKER = b"--QUORVEL--ENCRYPTED--DATA--EXPORT---("
SIZE_RE = rb"---DATABLOCK_SIZE=(\d+):(\d+)"


def rewrite_blocks(text, change):
    """The export text with every block's data passed through change and its
    size N fixed to match."""
    out = b""
    pos = 0
    for m in re.finditer(SIZE_RE + rb"[^\n]*\n", text):
        if m.start() < pos:
            continue
        n = int(m.group(1))
        data = text[m.end():m.end() + n]
        new = change(data)
        out += text[pos:m.start()] + b"---DATABLOCK_SIZE=%d:%s" % (len(new), m.group(2)) + \
            text[m.start() + len(b"---DATABLOCK_SIZE=%d:%s" % (n, m.group(2))):m.end()] + new
        pos = m.end() + n
    return out + text[pos:]


class Layout(E2ECase):
    def setUp(self):
        super().setUp()
        self.sections = [("RECURRING", HEADER, make_rows(12, 80))]
        self.exp = self.make_export("x.exp", self.sections, rows_per_block=5)
        with open(self.exp, "rb") as f:
            self.text = f.read()

    def run_file(self, data, name="t.exp"):
        path = self.write(name, data)
        return self.run_tool([path, self.key(), "-o", "t.gpg"])

    def assert_table(self, data, sections=None):
        r = self.run_file(data)
        self.assert_success(r, "t.gpg")
        self.assertEqual(self.decrypt(self.path("t.gpg")), expected_table(sections or self.sections))
        os.remove(self.path("t.gpg"))

    def assert_fails(self, data, stderr):
        r = self.run_file(data)
        self.assertEqual((r.returncode, r.stdout), (1, b""))
        if isinstance(stderr, bytes):
            self.assertEqual(r.stderr, stderr)
        else:
            self.assertRegex(r.stderr.decode(), stderr)
        self.assertFalse(os.path.exists(self.path("t.gpg")))

    def test_sizes_in_every_number_form(self):
        forms = [
            lambda n, m: b"0x%x:0X%X" % (n, m),           # hexadecimal
            lambda n, m: b"0%o:0%o" % (n, m),             # octal
            lambda n, m: b" \t%d: %d" % (n, m),           # leading whitespace
            lambda n, m: b"+%d:+%d" % (n, m),             # a sign
            lambda n, m: b"%dabc:%d bytes" % (n, m),      # text after the digits
        ]
        for form in forms:
            data = re.sub(SIZE_RE, lambda mt: b"---DATABLOCK_SIZE=" + form(int(mt.group(1)), int(mt.group(2))),
                          self.text)
            self.assertNotEqual(data, self.text)
            self.assert_table(data)

    def test_base64_with_any_line_breaks_and_spaces(self):
        # Block data written on one line, with CRLF line breaks, or with
        # spaces and tabs between the characters.
        self.assertEqual(rewrite_blocks(self.text, lambda d: d), self.text)
        changes = [
            lambda d: d.replace(b"\n", b""),
            lambda d: d.replace(b"\n", b"\r\n"),
            lambda d: b" \t".join(d[i:i + 7] for i in range(0, len(d), 7)),
        ]
        for change in changes:
            data = rewrite_blocks(self.text, change)
            self.assertNotEqual(data, self.text)
            self.assert_table(data)

    def test_lines_of_whitespace_around_header_lines(self):
        # Before every header line, and between block data and the next one.
        data = re.sub(rb"(^|\n)(---DATABLOCK_SIZE=)", rb"\1   \n\t \n\n\2", self.text)
        data = data.replace(MARKER, b" \n\n" + MARKER)
        self.assertEqual(data.count(b"\t \n"), 3)
        self.assert_table(data)
        # Trailing whitespace on header lines is not part of them.
        data = re.sub(rb"(" + SIZE_RE + rb")\n", rb"\1 \t \r\n", self.text)
        self.assert_table(data.replace(b"(RECURRING)\n", b"(RECURRING)  \n"))

    def test_section_header_split_at_another_place(self):
        # The two lines of a section header are joined without a separator:
        # where the line break falls does not matter.
        data = self.text.replace(b"--QUORVEL--ENCRYPTED--DATA--EXPORT---(RECURRING)\n---DATABLOCK",
                                 b"--QUORVEL\n--ENCRYPTED--DATA--EXPORT---(RECURRING)---DATABLOCK", 1)
        self.assertNotEqual(data, self.text)
        self.assert_table(data)
        # Text between the name's ")" and the size marker is ignored.
        data = self.text.replace(b"(RECURRING)\n", b"(RECURRING) created 2024-01-01\n", 1)
        self.assert_table(data)

    def test_block_before_any_section_is_skipped(self):
        stray = b"---DATABLOCK_SIZE=5:100\n(((((\n"
        self.assert_table(stray + self.text)

    def test_section_names_match_exactly(self):
        for name in (b"recurring", b"RECURRING ", b"XRECURRING", b"RECURRINGS"):
            self.assert_fails(self.text.replace(b"(RECURRING)", b"(" + name + b")"), NO_SECTION)

    def test_malformed_headers(self):
        t = self.text
        cases = [
            t.replace(b"(RECURRING)", b"(RECURRING", 1),                         # no ")" anywhere after
            re.sub(SIZE_RE, rb"---DATABLOCK_SIZE=\1:", t, count=1),             # M without digits
            re.sub(SIZE_RE, rb"---DATABLOCK_SIZE=\1:x\2", t, count=1),          # M starting with a letter
            re.sub(SIZE_RE, rb"---DATABLOCK_SIZE=99999999999999999999:\2", t, count=1),  # N overflows
            re.sub(SIZE_RE, rb"---DATABLOCK_SIZE=\1;\2", t, count=1),           # ";" for ":"
            t.replace(b"---DATABLOCK_SIZE=", b"---DATABLOCK_SIZE ", 1),         # size marker missing
        ]
        for data in cases:
            self.assertNotEqual(data, t)
            self.assert_fails(data, SECTION_ERR)

    def test_file_ending_inside_the_header_text(self):
        self.assert_fails(MARKER + b"RECURRING)\n", NO_SECTION)        # after the "--QUORVEL" line
        self.assert_fails(MARKER + b"RECURRING)\n\n  \n", NO_SECTION)  # only blank lines follow
        cut = self.text.index(b"\n", self.text.index(b"---DATABLOCK_SIZE=")) + 1
        self.assert_fails(self.text[:cut], SECTION_ERR)                 # before the chosen block's data

    def test_skipping_past_the_end_that_the_file_layer_refuses(self):
        for n in (b"18446744073709551615", b"9223372036854775807"):
            data = MARKER + b"OTHER)\n---DATABLOCK_SIZE=" + n + b":1\nabc\n" + self.text
            self.assert_fails(data, PROMPT + b"Error parsing export file: file truncated!\n")

    def test_empty_block_of_the_chosen_section(self):
        # No data: nothing to decrypt, which fails at the cipher's last step.
        data = MARKER + b"RECURRING)\n---DATABLOCK_SIZE=0:10\n"
        self.assert_fails(data, r"^Enter quorvel export key: \nError decrypting export file: OpenSSL decrypt "
                                r"error \(EVP final\): .+\n$")

    def test_read_error(self):
        # A process's own memory file opens, but reading it at its start
        # fails. The shell's process id is the program's once it execs it.
        r = subprocess.run(["sh", "-c", 'exec "$0" "/proc/$$/mem" "$1"', BIN, self.key()],
                           input=(KEY256 + "\n").encode(), capture_output=True, cwd=self.dir, timeout=600)
        self.assertEqual((r.returncode, r.stdout), (1, b""))
        self.assertEqual(r.stderr, SECTION_ERR)


class BlockContents(E2ECase):
    def test_header_only_section(self):
        sections = [("RECURRING", HEADER, [])]
        exp = self.make_export("h.exp", sections)
        r = self.run_tool([exp, self.key()])
        self.assert_success(r, "h.exp.gpg")
        self.assertEqual(self.decrypt(self.path("h.exp.gpg")), (",".join(HEADER) + "\r\n").encode())

    def test_block_without_a_table_adds_nothing(self):
        # A block whose CSV is a lone carriage return holds no row: it adds
        # nothing, and a later section's first block gives the columns.
        cr = self.write("cr.csv", b"\r")
        rows = make_rows(3, 81)
        good = self.write("good.csv", backtick_csv(HEADER, rows))
        out = self.path("e.exp")
        subprocess.run([MKEXPORT, "-k", KEY256, "-o", out, "RECURRING=" + cr], check=True)
        r = self.run_tool([out, self.key()])
        self.assertEqual((r.returncode, r.stderr), (1, NO_SECTION))
        subprocess.run([MKEXPORT, "-k", KEY256, "-o", out, "RECURRING=" + cr, "RECURRING=" + good], check=True)
        r = self.run_tool([out, self.key()])
        self.assert_success(r, "e.exp.gpg")
        self.assertEqual(self.decrypt(self.path("e.exp.gpg")), expected_table([("RECURRING", HEADER, rows)]))

    def test_sections_alternate_with_continuations_in_file_order(self):
        # Two RECURRING sections, each followed by a further block, with an
        # unnamed column and a duplicated name in the second one.
        first = make_rows(4, 82)
        header2 = ["TOKEN", "User", "", "expdate", "user"]
        rows2 = [[r[1], "ignored", "z", r[2], r[0]] for r in make_rows(4, 83)]
        sections = [("RECURRING", HEADER, first), ("TRANSDATA", ["a"], [["1"], ["2"]]),
                    ("RECURRING", header2, rows2)]
        exp = self.make_export("a.exp", sections, rows_per_block=2)
        with open(exp, "rb") as f:
            self.assertEqual(f.read().count(b"---DATABLOCK_SIZE="), 5)
        r = self.run_tool([exp, self.key(), "-u", "alice"])
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.decrypt(self.path("a.exp.gpg")), expected_table(sections, user="alice"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
