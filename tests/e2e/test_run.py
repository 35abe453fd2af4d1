"""End-to-end: whole runs from export file to decrypted table, and every
failure of the walk and of block processing."""

import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from e2e_common import *  # noqa: E402,F401,F403

PROMPT = b"Enter quorvel export key: \n"
SECTION_ERR = PROMPT + b"Error parsing export file: couldn't read section header from export file\n"
NO_SECTION = PROMPT + b"Quorvel export file didn't contain any RECURRING sections. Aborting.\n"


class Tables(E2ECase):
    def test_sections_columns_and_continuation_blocks(self):
        first = make_rows(25, 10)
        # A second RECURRING section with its columns reordered, one missing
        # ("note") and one extra ("extra"), and continuation blocks.
        order = [7, 2, 0, 6, 1, 3, 4, 5]
        header2 = [HEADER[i] for i in order] + ["extra"]
        rows2 = [[r[i] for i in order] + ["x"] for r in make_rows(17, 11)]
        other = (["a", "b"], [["1", "2"], ["3", "4"]])
        sections = [
            ("TRANSDATA", other[0], other[1]),
            ("RECURRING", HEADER, first),
            ("OTHER", other[0], other[1]),
            ("RECURRING", header2, rows2),
            ("TRANSDATA", other[0], other[1]),
        ]
        exp = self.make_export("multi.exp", sections, rows_per_block=4)
        r = self.run_tool([exp, self.key()])
        self.assert_success(r, "multi.exp.gpg")
        table = self.decrypt(self.path("multi.exp.gpg"))
        self.assertEqual(table, expected_table(sections))
        self.assertEqual(table.count(b"user,token"), 1)

    def test_filters_in_every_combination(self):
        rows = make_rows(60, 20)
        rows.append(["alice", "7992739871", "", "0", "0", "0", "0", "n", ""])  # no expdate
        sections = [("RECURRING", HEADER, rows)]
        exp = self.make_export("f.exp", sections, rows_per_block=7)
        combos = [
            ({"user": "alice"}, ["-u", "alice"]),
            ({"start": "202501"}, ["-s", "202501"]),
            ({"end": "202412"}, ["-e", "202412"]),
            ({"start": "202401", "end": "202512"}, ["-s", "202401", "-e", "202512"]),
            ({"user": "Carol", "start": "202401", "end": "202612"}, ["-uCarol", "-s202401", "-e202612"]),
            ({"user": "nobody"}, ["-u", "nobody"]),
            ({}, ["-u", ""]),
        ]
        for i, (kw, opts) in enumerate(combos):
            out = "f%d.gpg" % i
            r = self.run_tool([exp, self.key(), "-o", out] + opts)
            self.assertEqual(r.returncode, 0, (opts, r.stderr))
            self.assertEqual(self.decrypt(self.path(out)), expected_table(sections, **kw), opts)

    def test_dates_follow_the_local_zone(self):
        rows = [["u", "0", "202401", "1546300800", "0", "abc", "-5", "n", ""],
                ["u", "12-34", "202401", "1546300800x", "1", "1700000000", "99999999999999999999", "n", ""]]
        sections = [("RECURRING", HEADER, rows)]
        exp = self.make_export("d.exp", sections)
        for tz in ("UTC", "America/New_York", "Asia/Tokyo"):
            r = self.run_tool([exp, self.key(), "-o", "d.gpg"], env={"TZ": tz})
            self.assert_success(r, "d.gpg")
            table = self.decrypt(self.path("d.gpg"))
            self.assertEqual(table, expected_table(sections, tz=tz), tz)
            first = table.split(b"\r\n")[1]
            self.assertIn(b"20181231" if tz == "America/New_York" else b"20190101", first)
            self.assertIn(b"FAIL: Case 1", first)
            self.assertIn(b"FAIL: Case 2", first)
            self.assertTrue(first.startswith(b"u,00,202401,"), first)

    def test_elgamal_key_and_crlf_blank_lines(self):
        sections = [("RECURRING", HEADER, make_rows(30, 30))]
        exp = self.make_export("c.exp", sections, rows_per_block=8, extra=["--crlf", "--blank", "-w", "64"])
        r = self.run_tool([exp, self.key("elg2048"), "-o", "c.gpg"])
        self.assert_success(r, "c.gpg")
        self.assertEqual(self.decrypt(self.path("c.gpg"), "elg2048"), expected_table(sections))

    def test_output_naming(self):
        sub = os.path.join(self.dir, "in")
        os.mkdir(sub)
        work = os.path.join(self.dir, "work")
        os.mkdir(work)
        exp = self.make_export("in/today.exp", [("RECURRING", HEADER, make_rows(3, 40))])
        for extra in ([], ["-o", ""]):
            r = self.run_tool([exp, self.key()] + extra, cwd=work)
            self.assert_success(r, "today.exp.gpg")
            self.assertTrue(os.path.exists(os.path.join(work, "today.exp.gpg")))
            self.assertFalse(os.path.exists(os.path.join(sub, "today.exp.gpg")))
            os.remove(os.path.join(work, "today.exp.gpg"))

    def test_write_failure_goes_to_standard_output(self):
        exp = self.make_export("w.exp", [("RECURRING", HEADER, make_rows(3, 41))])
        target = os.path.join(self.dir, "no", "such", "dir", "out.gpg")
        r = self.run_tool([exp, self.key(), "-o", target])
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stdout, ("Couldn't write encrypted results to %s\n" % target).encode())
        self.assertEqual(r.stderr, PROMPT)


class WalkFailures(E2ECase):
    def setUp(self):
        super().setUp()
        self.sections = [("RECURRING", HEADER, make_rows(40, 50))]
        self.exp = self.make_export("x.exp", self.sections, rows_per_block=10)
        with open(self.exp, "rb") as f:
            self.text = f.read()

    def check(self, data, stderr, name="bad.exp"):
        path = self.write(name, data)
        r = self.run_tool([path, self.key()])
        self.assertEqual((r.returncode, r.stdout), (1, b""))
        if isinstance(stderr, bytes):
            self.assertEqual(r.stderr, stderr)
        else:
            self.assertRegex(r.stderr.decode(), stderr)
        self.assertFalse(os.path.exists(self.path(name + ".gpg")))

    def test_structure_errors(self):
        t = self.text
        self.check(t.replace(b"(RECURRING)", b"()", 1), SECTION_ERR)
        self.check(t.replace(b"---(RECURRING)", b"---RECURRING", 1), SECTION_ERR)
        self.check(re.sub(rb"DATABLOCK_SIZE=\d+", b"DATABLOCK_SIZE=", t, count=1), SECTION_ERR)
        self.check(re.sub(rb"(DATABLOCK_SIZE=\d+):", rb"\1 ", t, count=1), SECTION_ERR)
        # A size line of a continuation block without its marker.
        second = t.index(b"---DATABLOCK_SIZE=", t.index(b"---DATABLOCK_SIZE=") + 1)
        self.check(t[:second] + b"garbage line" + t[second + 18:], SECTION_ERR)
        # Cut inside a chosen block.
        self.check(t[:second - 20], SECTION_ERR)

    def test_clean_ends(self):
        self.check(b"--QUORVEL--ENCRYPTED--DATA--EXPORT---(RECURRING)\n", NO_SECTION)
        self.check(b"", NO_SECTION)
        self.check(b"\n  \n", NO_SECTION)
        other = self.make_export("o.exp", [("TRANSDATA", ["a"], [["1"]] * 50)], rows_per_block=5)
        with open(other, "rb") as f:
            data = f.read()
        self.check(data, NO_SECTION)

    def test_block_errors(self):
        t = self.text
        start = t.index(b"\n", t.index(b"DATABLOCK_SIZE=")) + 1
        bad_b64 = t[:start] + b"!" * 8 + t[start + 8:]
        self.check(bad_b64, r"^Enter quorvel export key: \nError decrypting export file: OpenSSL decrypt error "
                            r"\(EVP final\): .+\n$")
        raw = self.make_export("raw.exp", self.sections, extra=["--no-compress"])
        with open(raw, "rb") as f:
            self.check(f.read(), PROMPT + b"Error uncompressing export file: compressed data was corrupted\n")

    def test_declared_size_too_small(self):
        sections = [("RECURRING", HEADER, make_rows(3000, 60))]
        small = self.make_export("s.exp", sections, extra=["-m", "5"])
        with open(small, "rb") as f:
            self.check(f.read(), PROMPT + b"Error uncompressing export file: destination buffer was not large "
                                          b"enough\n")


if __name__ == "__main__":
    unittest.main(verbosity=2)
