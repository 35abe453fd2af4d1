"""End-to-end: the command line, the inputs and the key, byte for byte."""

import os
import sys
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


if __name__ == "__main__":
    unittest.main(verbosity=2)
