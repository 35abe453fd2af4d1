"""End-to-end: the command line, the inputs and the key, byte for byte."""

import os
import re
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from e2e_common import *  # noqa: E402,F401,F403

USAGE = (
    b"\n"
    b"Quorvel Token Export Utility (v1.4)\n"
    b"\n"
    b"Extracts token (stored card) data from a given quorvel export file. The token\n"
    b"data is formatted as a CSV table and then PGP encrypted using the given public\n"
    b"key file, before it's written to disk.\n"
    b"\n"
    b"Note that this utility requires the key string Quorvel gave you when you\n"
    b"generated the export file, so it can decrypt the export file. The utility will\n"
    b"prompt you for the key string after it starts.\n"
    b"\n"
    b"Usage:\n"
    b"\n"
    b"quorvel_tokenexp <quorvel export file> <PGP key> [other options - see below]\n"
    b"\n"
    b"  -o <output file>: filename to store encrypted token data in.\n"
    b"      If not provided, defaults to <quorvel export file>.gpg in working dir.\n"
    b"\n"
    b"  -u <userid>: only output tokens for a particular merchant user.\n"
    b"      If not provided, tokens are returned for all users.\n"
    b"\n"
    b"  -s <YYYYMM>: only output tokens with card expiration dates >= given date.\n"
    b"      May be combined with -e to specify a range (-s is start, -e is end).\n"
    b"      \n"
    b"  -e <YYYYMM>: only output tokens with card expiration dates <= given date.\n"
    b"      May be combined with -s to specify a range (-s is start, -e is end).\n"
    b"\n"
    b"  -m <format>: encrypted message format, mdc or legacy (the default).\n"
    b"      mdc adds integrity protection, which current OpenPGP software requires.\n"
    b"\n"
)

PROMPT = b"Enter quorvel export key: "
S_ERR = b"Error: invalid expdate given to -s, must be 6 digits, in YYYYMM format.\n"
E_ERR = b"Error: invalid expdate given to -e, must be 6 digits, in YYYYMM format.\n"


class Usage(E2ECase):
    def test_usage_with_fewer_than_two_arguments(self):
        for args in ([], ["only-one"]):
            r = self.run_tool(args)
            self.assertEqual(r.returncode, 1)
            self.assertEqual(r.stderr, USAGE)
            self.assertEqual(r.stdout, b"")


class Options(E2ECase):
    def setUp(self):
        super().setUp()
        self.exp = self.make_export("x.exp", [("RECURRING", HEADER, make_rows(5, 1))])

    def test_bad_expdates_stop_before_any_file_is_opened(self):
        cases = [
            (["-s", "20241"], S_ERR), (["-s", "2024AB"], S_ERR), (["-s"], S_ERR), (["-s1234567"], S_ERR),
            (["-e", "20241"], E_ERR), (["-e"], E_ERR), (["-e", ""], E_ERR),
        ]
        for opts, err in cases:
            r = self.run_tool(["missing.exp", "missing.key"] + opts)
            self.assertEqual((r.returncode, r.stderr, r.stdout), (1, err, b""), opts)
            self.assertFalse(os.path.exists(self.path("missing.exp")))

    def test_restricting_lines_in_option_order(self):
        r = self.run_tool(["missing.exp", "k", "-e", "202412", "-u", "bob", "-s202413", "-x", "-u", "-o", "f",
                           "-u"])
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr,
                         b"Restricting output to expdates <= '202412'.\n"
                         b"Restricting output to merchant user 'bob'.\n"
                         b"Restricting output to expdates >= '202413'.\n"
                         b"Restricting output to merchant user '<NULL>'.\n"
                         b"Couldn't read Quorvel export file: missing.exp\n")

    def test_unknown_option_consumes_its_value_and_short_args_are_ignored(self):
        # "-x -s" : the -s is the value of -x and is never validated.
        r = self.run_tool([self.exp, self.key(), "-x", "-s", "a", "-", "-o", "out.gpg"])
        self.assert_success(r, "out.gpg")
        self.assertTrue(os.path.exists(self.path("out.gpg")))

    def test_glued_value_and_last_value_wins(self):
        r = self.run_tool([self.exp, self.key(), "-ofirst.gpg", "-o", "second.gpg"])
        self.assert_success(r, "second.gpg")
        self.assertFalse(os.path.exists(self.path("first.gpg")))
        self.assertTrue(os.path.exists(self.path("second.gpg")))


class Inputs(E2ECase):
    def setUp(self):
        super().setUp()
        self.exp = self.make_export("x.exp", [("RECURRING", HEADER, make_rows(3, 2))])

    def test_missing_export_file_creates_nothing_and_asks_nothing(self):
        r = self.run_tool(["nope.exp", self.key()])
        self.assertEqual((r.returncode, r.stdout), (1, b""))
        self.assertEqual(r.stderr, b"Couldn't read Quorvel export file: nope.exp\n")
        self.assertFalse(os.path.exists(self.path("nope.exp")))

    def test_missing_key_file(self):
        r = self.run_tool([self.exp, "nokey.asc"])
        self.assertEqual((r.returncode, r.stderr), (1, b"Couldn't read PGP public key file: nokey.asc\n"))

    def test_unparsable_key_file_reports_the_reader_reason(self):
        bad = self.write("bad.asc", b"-----BEGIN PGP PUBLIC KEY BLOCK-----\n\nnot base64 !!\n")
        r = self.run_tool([self.exp, bad])
        self.assertEqual(r.returncode, 1)
        self.assertTrue(r.stderr.startswith(b"Couldn't parse public key data from file: "), r.stderr)
        self.assertTrue(r.stderr.endswith(b"\n"))
        self.assertGreater(len(r.stderr), len(b"Couldn't parse public key data from file: \n"))
        # A sign-only key has no encryption subkey.
        r = self.run_tool([self.exp, self.key("sign_only")])
        self.assertEqual(r.returncode, 1)
        self.assertTrue(r.stderr.startswith(b"Couldn't parse public key data from file: "), r.stderr)
        self.assertNotIn(PROMPT, r.stderr)


class KeyEntry(E2ECase):
    def setUp(self):
        super().setUp()
        self.exp = self.make_export("x.exp", [("RECURRING", HEADER, make_rows(3, 3))])

    def test_no_input(self):
        r = self.run_tool([self.exp, self.key()], key=b"")
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr, PROMPT + b"\nCouldn't read quorvel key entered by user.\n")

    def test_key_text_errors(self):
        cases = [
            (KEY256[:31], b"given quorvel key was incorrectly formatted, couldn't convert from hex to binary"),
            (KEY256[:30], b"unsupported quorvel key size: 120 bits (expected 128, 192 or 256 bits)"),
            ("", b"unsupported quorvel key size: 0 bits (expected 128, 192 or 256 bits)"),
        ]
        for key, text in cases:
            r = self.run_tool([self.exp, self.key()], key=key + "\n")
            self.assertEqual(r.returncode, 1)
            self.assertEqual(r.stderr, PROMPT + b"\nError decrypting export file: " + text + b"\n")
            self.assertFalse(os.path.exists(self.path("x.exp.gpg")))

    def test_only_64_characters_are_read(self):
        r = self.run_tool([self.exp, self.key()], key=" " + KEY256 + "\n")
        self.assertEqual(r.stderr, PROMPT + b"\nError decrypting export file: given quorvel key was incorrectly "
                                            b"formatted, couldn't convert from hex to binary\n")

    def test_wrong_key(self):
        r = self.run_tool([self.exp, self.key()], key=KEY256[:-2] + "00\n")
        self.assertEqual(r.returncode, 1)
        self.assertIn(r.stderr, (
            PROMPT + b"\nError decrypting export file: OpenSSL decrypt error (EVP final): bad decrypt "
                     b"(usually means you entered the wrong quorvel export key)\n",
            PROMPT + b"\nError uncompressing export file: compressed data was corrupted\n"))

    def test_key_sizes_spaces_and_case(self):
        for key in (KEY128, KEY192, KEY256):
            exp = self.make_export("k%d.exp" % len(key), [("RECURRING", HEADER, make_rows(4, 4))], key=key)
            # Surrounding spaces are trimmed and case does not matter; only
            # 64 characters are read, so a 64-digit key leaves no room.
            text = key.swapcase() if len(key) == 64 else "  " + key.swapcase() + " "
            r = self.run_tool([exp, self.key(), "-o", "k.gpg"], key=text + "\n")
            self.assert_success(r, "k.gpg")
            self.assertEqual(self.decrypt(self.path("k.gpg")),
                             expected_table([("RECURRING", HEADER, make_rows(4, 4))]))


class ArgumentForms(E2ECase):
    """Corner cases of the argument vector."""

    def setUp(self):
        super().setUp()
        self.sections = [("RECURRING", HEADER, make_rows(6, 5))]
        self.exp = self.make_export("x.exp", self.sections)

    def test_first_two_arguments_are_paths_whatever_they_look_like(self):
        r = self.run_tool(["-s", "-e"])
        self.assertEqual((r.returncode, r.stdout), (1, b""))
        self.assertEqual(r.stderr, b"Couldn't read Quorvel export file: -s\n")
        self.assertFalse(os.path.exists(self.path("-s")))

    def test_option_letter_is_the_second_character(self):
        # "xu" is -u, "+s" is -s; the first character is never examined.
        r = self.run_tool(["missing.exp", "k", "xu", "bob", "+s", "20241"])
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr, b"Restricting output to merchant user 'bob'.\n" + S_ERR)

    def test_a_two_character_option_takes_the_next_argument_whatever_it_is(self):
        r = self.run_tool(["missing.exp", "k", "-u", "-s", "-e", "-o", "-o", "-u"])
        self.assertEqual(r.returncode, 1)
        # -u takes "-s"; -e takes "-o", which is not six digits.
        self.assertEqual(r.stderr, b"Restricting output to merchant user '-s'.\n" + E_ERR)

    def test_short_arguments_are_ignored(self):
        r = self.run_tool([self.exp, self.key(), "", "u", "-", "-o", "out.gpg"])
        self.assert_success(r, "out.gpg")

    def test_trailing_output_option_gives_the_default_name(self):
        r = self.run_tool([self.exp, self.key(), "-o"])
        self.assert_success(r, "x.exp.gpg")
        self.assertEqual(self.decrypt(self.path("x.exp.gpg")), expected_table(self.sections))

    def test_restricting_lines_come_before_the_prompt_of_a_successful_run(self):
        r = self.run_tool([self.exp, self.key(), "-s202301", "-u", "", "-e", "202912", "-o", "r.gpg"])
        self.assertEqual((r.returncode, r.stdout), (0, b""), r.stderr)
        head = (b"Restricting output to expdates >= '202301'.\n"
                b"Restricting output to merchant user ''.\n"
                b"Restricting output to expdates <= '202912'.\n"
                b"Enter quorvel export key: \n")
        self.assertTrue(r.stderr.startswith(head), r.stderr)
        self.assertRegex(r.stderr[len(head):].decode(), r"^Wrote encrypted file r\.gpg \(took \d+\.\d{3} sec\)\n$")
        # An empty -u filters nothing; the range keeps every generated row.
        self.assertEqual(self.decrypt(self.path("r.gpg")), expected_table(self.sections))

    def test_trailing_user_option_filters_nothing(self):
        r = self.run_tool([self.exp, self.key(), "-o", "u.gpg", "-s", "202413", "-u"])
        self.assertEqual((r.returncode, r.stdout), (0, b""), r.stderr)
        self.assertTrue(r.stderr.startswith(b"Restricting output to expdates >= '202413'.\n"
                                            b"Restricting output to merchant user '<NULL>'.\n" + PROMPT), r.stderr)
        self.assertEqual(self.decrypt(self.path("u.gpg")), expected_table(self.sections, start="202413"))

    def test_output_file_is_replaced(self):
        target = self.write("out.gpg", b"x" * 200000)
        r = self.run_tool([self.exp, self.key(), "-o", target])
        self.assert_success(r, target)
        self.assertLess(os.path.getsize(target), 200000)
        self.assertEqual(self.decrypt(target), expected_table(self.sections))

    def test_time_at_the_prompt_is_not_counted(self):
        delay = 1.5
        env = dict(os.environ, TZ="UTC")
        started = time.monotonic()
        proc = subprocess.Popen([BIN, self.exp, self.key(), "-o", "t.gpg"], stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=self.dir, env=env)
        err = b""
        while not err.endswith(PROMPT):
            chunk = os.read(proc.stderr.fileno(), 4096)
            if not chunk:
                break
            err += chunk
        self.assertEqual(err, PROMPT)
        time.sleep(delay)
        out, rest = proc.communicate((KEY256 + "\n").encode(), timeout=600)
        wall = time.monotonic() - started
        self.assertEqual((proc.returncode, out), (0, b""), rest)
        m = re.match(r"^\nWrote encrypted file t\.gpg \(took (\d+\.\d{3}) sec\)\n$", rest.decode())
        self.assertIsNotNone(m, rest)
        self.assertLessEqual(float(m.group(1)), wall - delay + 0.05)
        self.assertEqual(rest.count(b"Wrote encrypted file"), 1)


class KeyForms(E2ECase):
    def setUp(self):
        super().setUp()
        self.sections = [("RECURRING", HEADER, make_rows(4, 6))]
        self.exp128 = self.make_export("k128.exp", self.sections, key=KEY128)

    def run_key(self, text):
        return self.run_tool([self.exp128, self.key(), "-o", "k.gpg"], key=text)

    def test_spaces_between_pairs_are_skipped_but_counted(self):
        spaced = KEY128[:2] + " " + KEY128[2:10] + " " + KEY128[10:]  # 34 characters
        r = self.run_key(spaced + "\n")
        self.assert_success(r, "k.gpg")
        self.assertEqual(self.decrypt(self.path("k.gpg")), expected_table(self.sections))
        odd = KEY128[:2] + " " + KEY128[2:]  # 33 characters
        r = self.run_key(odd + "\n")
        self.assertEqual((r.returncode, r.stderr), (1, PROMPT + b"\nError decrypting export file: given quorvel key "
                                                           b"was incorrectly formatted, couldn't convert from hex "
                                                           b"to binary\n"))

    def test_characters_past_the_64th_are_never_used(self):
        exp = self.make_export("k256.exp", self.sections, key=KEY256)
        r = self.run_tool([exp, self.key(), "-o", "k.gpg"], key=KEY256 + "zz and more\n")
        self.assert_success(r, "k.gpg")
        self.assertEqual(self.decrypt(self.path("k.gpg")), expected_table(self.sections))

    def test_windows_line_end_and_a_last_line_without_line_feed(self):
        for text in (KEY128 + "\r\n", KEY128, "\t" + KEY128 + " \r\n"):
            r = self.run_key(text)
            self.assert_success(r, "k.gpg")

    def test_wrong_key_size_for_the_file(self):
        # A well-formed 192-bit key on a file made with a 128-bit one fails at
        # the padding check (or, rarely, in zlib).
        r = self.run_key(KEY192 + "\n")
        self.assertEqual(r.returncode, 1)
        self.assertIn(r.stderr, (
            PROMPT + b"\nError decrypting export file: OpenSSL decrypt error (EVP final): bad decrypt "
                     b"(usually means you entered the wrong quorvel export key)\n",
            PROMPT + b"\nError uncompressing export file: compressed data was corrupted\n"))

    def test_characters_that_are_not_hex_digits_are_not_refused(self):
        # 32 characters of any kind make 16 key bytes: the key is accepted as
        # AES-128 and only the decryption finds it wrong.
        r = self.run_key("g" * 32 + "\n")
        self.assertEqual(r.returncode, 1)
        self.assertIn(r.stderr, (
            PROMPT + b"\nError decrypting export file: OpenSSL decrypt error (EVP final): bad decrypt "
                     b"(usually means you entered the wrong quorvel export key)\n",
            PROMPT + b"\nError uncompressing export file: compressed data was corrupted\n"))

    def test_key_is_not_checked_without_a_recurring_section(self):
        other = self.make_export("o.exp", [("TRANSDATA", ["a"], [["1"]])])
        for text in ("zzz\n", "\n", KEY128[:30] + "\n"):
            r = self.run_tool([other, self.key()], key=text)
            self.assertEqual((r.returncode, r.stdout), (1, b""))
            self.assertEqual(r.stderr, PROMPT + b"\nQuorvel export file didn't contain any RECURRING sections. "
                                                b"Aborting.\n")


if __name__ == "__main__":
    unittest.main(verbosity=2)
