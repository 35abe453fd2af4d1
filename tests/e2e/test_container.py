"""End-to-end: the export file's layout as the reader takes it (header line
forms, block sizes in every number form, blocks outside sections), and one
table of every malformed file with the message it gets."""

import os
import re
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from e2e_common import *  # noqa: E402,F401,F403

MARKER = b"--QUORVEL--ENCRYPTED--DATA--EXPORT---("
SIZE_RE = rb"---DATABLOCK_SIZE=(\d+):(\d+)"
# A file whose lines all gained a CR, as a text-mode transfer leaves it.
CONVERTED = EVP_FINAL[:-1] + ("The export file looks converted to CRLF line ends, as a text-mode transfer does: "
                              "transfer it again in binary mode\n$")


def rewrite_blocks(text, change):
    """The export text with every block's data passed through change and its
    size N fixed to match."""
    out, pos = b"", 0
    for m in re.finditer(SIZE_RE + rb"([^\n]*\n)", text):
        if m.start() < pos:
            continue
        n = int(m.group(1))
        new = change(text[m.end():m.end() + n])
        out += text[pos:m.start()] + b"---DATABLOCK_SIZE=%d:%s%s" % (len(new), m.group(2), m.group(3)) + new
        pos = m.end() + n
    return out + text[pos:]


class Layout(E2ECase):
    ROWS = 12
    SEED = 80
    PER_BLOCK = 5

    def setUp(self):
        super().setUp()
        self.text = self.read(self.exp)

    def run_file(self, data):
        return self.run_tool([self.write("t.exp", data), self.key(), "-o", "t.gpg"])

    def test_accepted_forms(self):
        t = self.text
        self.assertEqual(rewrite_blocks(t, lambda d: d), t)
        sizes = [
            lambda n, m: b"0x%x:0X%X" % (n, m), lambda n, m: b"0%o:0%o" % (n, m), lambda n, m: b" \t%d: %d" % (n, m),
            lambda n, m: b"+%d:+%d" % (n, m), lambda n, m: b"%dabc:%d bytes" % (n, m),
        ]
        variants = [re.sub(SIZE_RE, lambda mt: b"---DATABLOCK_SIZE=" + f(int(mt.group(1)), int(mt.group(2))), t)
                    for f in sizes]
        # Base64 on one line, with CRLF line breaks, or with spaces and tabs between the characters.
        variants += [rewrite_blocks(t, lambda d: d.replace(b"\n", b"")),
                     rewrite_blocks(t, lambda d: d.replace(b"\n", b"\r\n")),
                     rewrite_blocks(t, lambda d: b" \t".join(d[i:i + 7] for i in range(0, len(d), 7)))]
        # Lines of white space before every header line; trailing white space on header lines, and CRLF.
        variants += [re.sub(rb"(^|\n)(---DATABLOCK_SIZE=)", rb"\1   \n\t \n\n\2", t).replace(MARKER, b" \n\n" + MARKER),
                     re.sub(rb"(" + SIZE_RE + rb")\n", rb"\1 \t \r\n", t).replace(b"(RECURRING)\n", b"(RECURRING) \r\n")]
        # A section header's two lines are joined, so the break may fall anywhere;
        # text after the name's ")" is ignored; a block before any section is skipped,
        # as is one of another section that ends exactly at the end of the file.
        variants += [t.replace(MARKER + b"RECURRING)\n---DATABLOCK", b"--QUORVEL\n--ENCRYPTED--DATA--EXPORT---"
                               b"(RECURRING)---DATABLOCK", 1),
                     t.replace(b"(RECURRING)\n", b"(RECURRING) created 2024-01-01\n", 1),
                     b"---DATABLOCK_SIZE=5:100\n(((((\n" + t, t + MARKER + b"OTHER)\n---DATABLOCK_SIZE=3:1\nabc"]
        # The same from mkexport: blank lines, CRLF header lines, Base64 lines of 64.
        variants.append(self.read(self.make_export("w.exp", self.sections, rows_per_block=5,
                                                   extra=["--crlf", "--blank", "-w", "64"])))
        for data in variants:
            self.assertNotEqual(data, t)
            self.assert_table(self.run_file(data), "t.gpg")
            os.remove(self.path("t.gpg"))

    def test_malformed_files(self):
        t = self.text
        first = t.index(b"---DATABLOCK_SIZE=")
        second = t.index(b"---DATABLOCK_SIZE=", first + 1)
        data_start = t.index(b"\n", first) + 1
        raw = self.make_export("raw.exp", self.sections, extra=["--no-compress"])
        small = self.make_export("s.exp", [("RECURRING", HEADER, make_rows(3000, 60))], extra=["-m", "5"])
        crlf = self.read(self.make_export("c.exp", self.sections, rows_per_block=5, extra=["--crlf"]))
        crlf_second = crlf.index(b"\n", crlf.index(b"---DATABLOCK_SIZE=", crlf.index(b"---DATABLOCK_SIZE=") + 1)) + 1
        cases = [
            (t.replace(b"(RECURRING)", b"(RECURRING", 1), SECTION_ERR),  # no ")" anywhere after
            (t.replace(b"(RECURRING)", b"()", 1), SECTION_ERR),
            (t.replace(b"---(RECURRING)", b"---RECURRING", 1), SECTION_ERR),
            (re.sub(SIZE_RE, rb"---DATABLOCK_SIZE=\1:", t, count=1), SECTION_ERR),  # M without digits
            (re.sub(SIZE_RE, rb"---DATABLOCK_SIZE=99999999999999999999:\2", t, count=1), SECTION_ERR),
            (re.sub(SIZE_RE, rb"---DATABLOCK_SIZE=\1 \2", t, count=1), SECTION_ERR),  # no ":"
            (t.replace(b"---DATABLOCK_SIZE=", b"---DATABLOCK_SIZE ", 1), SECTION_ERR),
            (t[:second] + b"garbage line" + t[second + 18:], SECTION_ERR),  # a continuation's marker
            (t[:second - 20], SECTION_ERR),  # the file ends inside the chosen block's data
            (b"", NO_SECTION), (b"\n  \n", NO_SECTION),
            (MARKER + b"RECURRING)\n", NO_SECTION), (MARKER + b"RECURRING)\n\n  \n", NO_SECTION),
            (MARKER + b"RECURRING)\n---DATABLOCK_SIZE=0:10\n", EVP_FINAL),  # an empty chosen block
            (t[:data_start] + b"!" * 8 + t[data_start + 8:], EVP_FINAL),
            (t.replace(b"\n", b"\r\n"), CONVERTED),
            # Header lines in CRLF from the start, and a later block that fails: no hint.
            (crlf[:crlf_second] + b"!" * 8 + crlf[crlf_second + 8:], EVP_FINAL),
        ]
        cases += [(t.replace(b"(RECURRING)", b"(" + name + b")"), NO_SECTION)
                  for name in (b"recurring", b"RECURRING ", b"XRECURRING", b"RECURRINGS")]
        cases += [(MARKER + b"OTHER)\n---DATABLOCK_SIZE=" + n + b":1\nabc\n" + t, TRUNCATED)
                  for n in (b"18446744073709551615", b"9223372036854775807")]  # skips the file layer refuses
        cases.append((t + MARKER + b"OTHER)\n---DATABLOCK_SIZE=4:1\nabc", TRUNCATED))  # a skipped block one byte short
        cases += [(self.read(raw), CORRUPT), (self.read(small), PROMPT + b"\nError uncompressing export file: "
                                                                     b"destination buffer was not large enough\n")]
        for data, err in cases:
            self.assertNotEqual(data, t)
            self.assert_fails(self.run_file(data), err, absent="t.gpg")

    def test_read_error(self):
        # A process's own memory file opens, but reading it at its start
        # fails. The shell's process id is the program's once it execs it
        # (Wine's too, which reports the failure as a device not ready).
        r = subprocess.run(["sh", "-c", 'exec "$0" "/proc/$$/mem" "$1"', BIN, self.key()],
                           input=(KEY256 + "\n").encode(), capture_output=True, cwd=self.dir, timeout=600)
        reason = "Not ready" if WINDOWS else "Input/output error"
        self.assert_fails(r, re.escape(SECTION_ERR.decode()) + r"/proc/\d+/mem: %s\n\Z" % reason)


class BlockContents(E2ECase):
    def test_header_only_section(self):
        exp = self.make_export("h.exp", [("RECURRING", HEADER, [])])
        self.assert_success(self.run_tool([exp, self.key()]), "h.exp.gpg", NO_ROW_HELD)
        self.assertEqual(self.decrypt(self.path("h.exp.gpg")), (",".join(HEADER) + "\r\n").encode())

    def test_block_without_a_table_adds_nothing(self):
        # A lone carriage return holds no row, so no table. (Followed by other
        # blocks it gives way to their columns: test_tokenexp's pool tests.)
        out = self.path("e.exp")
        subprocess.run([MKEXPORT, "-k", KEY256, "-o", out, "RECURRING=" + self.write("cr.csv", b"\r")], check=True)
        self.assert_fails(self.run_tool([out, self.key()]), NO_SECTION)


if __name__ == "__main__":
    unittest.main(verbosity=2)
