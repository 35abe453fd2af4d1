"""End-to-end: the command line, the inputs and the key, byte for byte."""

import os
import re
import stat
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
    b"  -m <format>: encrypted message format, mdc (the default) or legacy.\n"
    b"      legacy has no integrity protection; current OpenPGP software refuses it.\n"
    b"\n"
    b"  -r <fingerprint>: the recipient's key fingerprint, as they gave it to you;\n"
    b"      a key file whose key has another one is refused.\n"
    b"\n"
    b"  -v: after a successful run, report the recipient, the key encrypted to,\n"
    b"      the rows kept and left out, and the sizes. Takes no value.\n"
    b"\n"
    b"Every other option needs its value. On Linux, an argument after the two paths\n"
    b"that starts with / and is longer than /x is a path, not an option.\n"
    b"\n"
    b"quorvel_tokenexp --help       show this text on standard output.\n"
    b"quorvel_tokenexp --version    show the program's name and version.\n"
    b"\n"
)

S_ERR = b"Error: invalid expdate given to -s, must be 6 digits, in YYYYMM format.\n"
E_ERR = b"Error: invalid expdate given to -e, must be 6 digits, in YYYYMM format.\n"
NO_EXPORT = b"Couldn't read Quorvel export file: %s\n%s: " + NO_FILE + b"\n"


STRAY = b"Error: argument '%s' is not an option; to name the output file, give -o %s\n"
NEEDS = {"u": b"Error: -u needs a value: the merchant user whose rows to keep\n",
         "o": b"Error: -o needs a value: the name of the output file\n"}
R_ERR = b"Error: invalid fingerprint given to -r, must be the 40 hexadecimal digits that gpg --fingerprint shows.\n"


def unknown(option, value=None):
    if value is None:
        return b"Warning: unknown option '%s' ignored (see quorvel_tokenexp --help)\n" % option
    return b"Warning: unknown option '%s' ignored, and its value '%s' with it (see quorvel_tokenexp --help)\n" % (
        option, value)


def grouped(fpr):
    """A fingerprint as gpg --fingerprint shows it."""
    groups = [fpr[i:i + 4] for i in range(0, 40, 4)]
    return (" ".join(groups[:5]) + "  " + " ".join(groups[5:])).encode()


def restricting(*lines):
    kinds = {"u": b"merchant user '%s'", "s": b"expdates >= '%s'", "e": b"expdates <= '%s'"}
    return b"".join(b"Restricting output to " + kinds[k] % v + b".\n" for k, v in lines)


class Arguments(E2ECase):
    ROWS = 6
    SEED = 5

    def test_refused_before_any_file_is_opened(self):
        """Usage, bad values, arguments that are no option, and the
        restricting lines and warnings before them, in option order, for
        arguments that stop the run before an input is read."""
        U = restricting
        cases = [
            ([], USAGE), (["only-one"], USAGE),
            (["-s", "20241"], S_ERR), (["-s", "2024AB"], S_ERR), (["-s"], S_ERR), (["-s1234567"], S_ERR),
            (["-e", ""], E_ERR),
            # The option letter is the second character; "/" opens an option as "-" does.
            (["/u", "bob", "/s", "20241"], U(("u", b"bob")) + S_ERR),
            # A third path, meant as the output or not, is no option; on POSIX an absolute one neither.
            (["tokens.gpg"], STRAY % (b"tokens.gpg", b"tokens.gpg")), (["xu", "bob"], STRAY % (b"xu", b"xu")),
            (["/opt/t.gpg"], NO_EXPORT % ((b"missing.exp",) * 2) if WINDOWS else STRAY % ((b"/opt/t.gpg",) * 2)),
            # A filter or an output asked for without its value.
            (["-u"], NEEDS["u"]), (["-o"], NEEDS["o"]), (["-s", "202413", "-u"], U(("s", b"202413")) + NEEDS["u"]),
            # Arguments are echoed with their control characters escaped.
            (["-u", "a\x1b]0;t\x07", "x\x1b[2J"], U(("u", b"a\\x1B]0;t\\x07")) + STRAY % ((b"x\\x1B[2J",) * 2)),
            (["-x\x1b[2J"], unknown(b"-x\\x1B[2J", b"\\x1B[2J") + NO_EXPORT % (b"missing.exp", b"missing.exp")),
            (["--output", "x.gpg"], unknown(b"--output", b"output") + STRAY % (b"x.gpg", b"x.gpg")),
            (["-v", "x.gpg"], STRAY % (b"x.gpg", b"x.gpg")),  # -v takes no value
            (["-r", "3818 FD97"], R_ERR), (["-r"], R_ERR), (["-r" + "A" * 41], R_ERR), (["-r", "G" * 40], R_ERR),
            # A two-character option takes the next argument whatever it is.
            (["-u", "-s", "-e", "-o", "-o", "-u"], U(("u", b"-s")) + E_ERR),
            (["-e", "202412", "-u", "bob", "-s202413", "-x", "-u", "-o", "f", "-y"],
             U(("e", b"202412"), ("u", b"bob"), ("s", b"202413")) + unknown(b"-x", b"-u") + unknown(b"-y")
             + NO_EXPORT % (b"missing.exp", b"missing.exp")),
        ]
        for opts, err in cases:
            args = opts if err == USAGE else ["missing.exp", "k"] + opts
            self.assert_fails(self.run_tool(args), err, absent="missing.exp")
        # The first two arguments are paths whatever they look like.
        self.assert_fails(self.run_tool(["-s", "-e"]), NO_EXPORT % (b"-s", b"-s"), absent="-s")

    def test_option_forms_of_successful_runs(self):
        primary, sub = fingerprints(self.gnupg, self.key())
        cases = [
            # "-x -s": the -s is the value of -x and is never validated; short arguments are ignored.
            (["-x", "-s", "a", "-", "", "u", "-o", "out.gpg"], "out.gpg", {}, unknown(b"-x", b"-s")),
            (["-ofirst.gpg", "-o", "second.gpg"], "second.gpg", {}, b""),
            # Restricting lines come before the prompt; an empty -u filters nothing.
            (["-s202301", "-u", "", "-e", "202912", "-o", "r.gpg"], "r.gpg", {},
             restricting(("s", b"202301"), ("u", b""), ("e", b"202912"))),
            # -r: the primary key's fingerprint as gpg groups it, in any case, or the subkey's.
            (["-r", " ".join(primary[i:i + 4] for i in range(0, 40, 4)).lower(), "-o", "p.gpg"], "p.gpg", {}, b""),
            (["-r" + sub, "-o", "s.gpg"], "s.gpg", {}, b""),
        ]
        for args, out, filters, before in cases:
            r = self.run_tool([self.exp, self.key()] + args)
            self.assert_table(r, out, **filters)
            self.assertTrue(r.stderr.startswith(before + PROMPT), r.stderr)
        self.assertFalse(os.path.exists(self.path("first.gpg")))

    def test_time_at_the_prompt_is_not_counted(self):
        delay = 1.5
        started = time.monotonic()
        proc = self.start_at_prompt([self.exp, self.key(), "-o", "t.gpg"])
        time.sleep(delay)
        out, rest = proc.communicate((KEY256 + "\n").encode(), timeout=600)
        wall = time.monotonic() - started
        self.assertEqual((proc.returncode, out), (0, b""), rest)
        m = re.match(r"^\nWrote encrypted file t\.gpg \(took (\d+\.\d{3}) sec\)\n$", rest.decode())
        self.assertIsNotNone(m, rest)
        self.assertLessEqual(float(m.group(1)), wall - delay + 0.05)


    @linux_only("a full device made with mknod")
    def test_help_or_version_that_cannot_be_written_fails(self):
        full = self.path("full")
        os.mknod(full, 0o600 | stat.S_IFCHR, os.makedev(1, 7))
        for arg in ("--help", "--version"):
            with open(full, "wb") as out:
                r = subprocess.run([BIN, arg], stdout=out, stderr=subprocess.PIPE, timeout=120)
            self.assertEqual((r.returncode, r.stderr), (1, b""), arg)
        # Not alone, --help is the export file's path, as any first argument.
        self.assert_fails(self.run_tool(["--help", "k"]), NO_EXPORT % (b"--help", b"--help"))


class Report(E2ECase):
    """-v: the recipient as gpg lists the key file, and the rows counted
    against the tables the filters give (the tables checked by decryption)."""
    PER_BLOCK = 7

    def expected_report(self, keyname, sections, message, form, **filters):
        r = subprocess.run(["gpg", "--batch", "--with-colons", "--show-keys", self.key(keyname)], capture_output=True,
                           text=True, check=True, env=dict(os.environ, GNUPGHOME=self.gnupg))
        recs = [line.split(":") for line in r.stdout.splitlines()]
        keyid = self.read(os.path.join(KEYS, keyname + ".keyid")).decode().strip()
        sub = next(rec for rec in recs if rec[0] in ("pub", "sub") and rec[4] == keyid)
        fpr = next(rec[9] for rec in recs if rec[0] == "fpr")
        ends = [int(rec[6]) for rec in (recs[0], sub) if rec[6]]
        algo = {"1": "rsa" + sub[2], "16": "elg" + sub[2], "18": sub[16]}[sub[3]]
        kept = lambda **f: expected_table(sections, **f).count(b"\r\n") - 1
        gmt_date = lambda seconds: time.strftime("%Y-%m-%d", time.gmtime(int(seconds)))
        rows = [len(rows) for name, _, rows in sections if name == "RECURRING"]
        by_user = kept(user=filters.get("user"))
        lines = [
            ("Recipient:", next(rec[9] for rec in recs if rec[0] == "uid")),
            ("Fingerprint:", grouped(fpr).decode()),
            ("Encrypted to:", "%s/%s, created %s, expires %s" % (algo, sub[4], gmt_date(sub[5]),
                                                                 gmt_date(min(ends)) if ends else "never")),
            ("Rows:", "%d read, %d kept, %d left out by -u, %d left out by -s/-e" % (
                sum(rows), kept(**filters), sum(rows) - by_user, by_user - kept(**filters))),
            ("Blocks:", str(sum(-(-n // self.PER_BLOCK) for n in rows))),
            ("Sections:", "%d RECURRING" % len(rows)),
            ("Table:", "%d bytes" % len(expected_table(sections, **filters))),
            ("Message:", "%d bytes, %s" % (message, form)),
        ]
        return "".join("%-15s%s\n" % line for line in lines)

    def test_recipient_and_counts(self):
        sections = [("RECURRING", HEADER, make_rows(40, 31)), ("TRANSDATA", ["a"], [["1"]] * 9),
                    ("RECURRING", HEADER, make_rows(25, 32))]
        exp = self.make_export("r.exp", sections, rows_per_block=self.PER_BLOCK)
        cases = [
            # -v takes no value, wherever it stands; -vX is -v too.
            ("rsa3072", ["-v", "-u", "bob", "-s", "202501", "-e", "202612", "-m", "legacy"], "legacy",
             {"user": "bob", "start": "202501", "end": "202612"}),
            ("elg2048", ["-e", "202512", "-verbose", "-m", "mdc"], "mdc", {"end": "202512"}),
            ("cv25519", ["-u", "Carol", "-v"], "mdc", {"user": "Carol"}),
            # Keys whose secret part the tests do not hold: a later subkey
            # after an expired one, the newer of two, the primary key itself.
            ("p384", ["-v"], "mdc", {}), ("expired_first", ["-v"], "mdc", {}), ("newer_subkey", ["-v"], "mdc", {}),
            ("primary_encrypts", ["-v"], "mdc", {}),
        ]
        for keyname, opts, form, filters in cases:
            r = self.run_tool([exp, self.key(keyname), "-o", "r.gpg"] + opts)
            self.assertEqual(r.returncode, 0, r.stderr)
            report = self.expected_report(keyname, sections, os.path.getsize(self.path("r.gpg")), form, **filters)
            if os.path.exists(os.path.join(KEYS, keyname + ".sec.asc")):
                self.assert_table(r, "r.gpg", sections, keyname, report, **filters)
            else:
                self.assert_success(r, "r.gpg", report)


class Inputs(E2ECase):
    ROWS = 4
    SEED = 6

    def setUp(self):
        super().setUp()
        self.exp128 = self.make_export("k128.exp", self.sections, key=KEY128)

    def test_unreadable_inputs(self):
        """Each input a merchant may get wrong: the line of the phase, then
        the system's reason or what to do instead, before the prompt."""
        bad = self.write("bad.asc", b"-----BEGIN PGP PUBLIC KEY BLOCK-----\n\nnot base64 !!\n")
        parse = b"Couldn't parse public key data from file: %s\n"
        secret = parse % b"the key file holds a secret key: give the recipient's public key, e.g. from gpg --export"
        binary = self.path("sec.gpg")
        subprocess.run(["gpg", "--dearmor", "-o", binary, self.key("rsa2048.sec")], check=True,
                       env=dict(os.environ, GNUPGHOME=self.gnupg))
        no_armor = parse % b"failed to locate base64 block in ascii-armored data"
        cut_short = b"The key file's armoured key block has no END line: the file was cut short; copy it again whole\n"
        ask = b"; ask the recipient for their OpenPGP public key (gpg --armor --export)\n"
        cut = self.write("cut.asc", self.read(self.key())[:300])
        newer_primary, older, newer = fingerprints(self.gnupg, self.key("newer_subkey"))
        cases = [
            # What a file is when it is no OpenPGP public key, after the reader's own words.
            ([self.exp, self.write("e.asc", b"")], no_armor + b"The key file is empty" + ask),
            ([self.exp, self.write("id.pub", b"ssh-ed25519 AAAAC3Nza u@h\n")],
             no_armor + b"The key file is an SSH key, not an OpenPGP public key" + ask),
            ([self.exp, self.write("c.pem", b"-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n")],
             no_armor + b"The key file is an X.509 certificate or key (PEM), not an OpenPGP public key" + ask),
            ([self.exp, self.write("m.asc", b"-----BEGIN PGP MESSAGE-----\n\nhQEMA\n=AAAA\n-----END PGP MESSAGE-----\n")],
             no_armor + b"The key file is an OpenPGP message, not a public key" + ask),
            ([self.exp, self.write("m.gpg", b"\xc1\x01\x03")],
             parse % b"no public key contained in buffer" + b"The key file is an OpenPGP message, not a public key" + ask),
            ([self.exp, cut], no_armor + cut_short), ([self.exp, bad], no_armor + cut_short),
            ([self.exp, self.write("r.bin", b"\xff\x01ra")], parse % b"read_pubkey_from_parser: failed sanity check "
             b"packet_tag & 0x80" + b"The key file is not OpenPGP data at all" + ask),
            ([self.exp, os.path.join(KEYS, "x25519_subkey.gpg")],
             parse % b"the key's encryption subkey uses X25519 (RFC 9580), which this program cannot encrypt to"),
            ([self.exp, "nokey.asc"], b"Couldn't read PGP public key file: nokey.asc\nnokey.asc: " + NO_FILE + b"\n"),
            ([self.exp, "."], b"Couldn't read PGP public key file: .\n.: " + IS_DIR + b"\n"),
            ([self.exp, self.key("sign_only")], parse % b"no key in the file may encrypt (sign-only key)"),
            ([self.exp, self.key("rsa2048.sec")], secret), ([self.exp, binary], secret),
            # -r names another key: both fingerprints, before the prompt.
            ([self.exp, self.key(), "-r", "3818FD9772B06236F98B8B29F9CAE619E2BEE0B0"],
             b"Error: the key file's key has fingerprint D2AF E7BB 2E8D 9C2C CB6C  C57E CE73 AD82 C016 85AF, not "
             b"3818 FD97 72B0 6236 F98B  8B29 F9CA E619 E2BE E0B0 as given with -r; make sure the key file is the "
             b"recipient's\n"),
            # -r names an older encryption subkey of the key: which key the message goes to, and why.
            ([self.exp, self.key("newer_subkey"), "-r", older],
             b"Error: the key given with -r, %s, is not the one encrypted to: that is an older encryption subkey of "
             b"this key; the message is encrypted to the newest valid one, %s. To confirm the key, give -r the "
             b"primary key's fingerprint, %s\n" % tuple(grouped(f) for f in (older, newer, newer_primary))),
        ]
        for args, err in cases:
            self.assert_fails(self.run_tool(args), err)

    def test_key_text(self):
        exp256 = self.make_export("k256.exp", self.sections, key=KEY256)
        decrypt_err = PROMPT + b"\nError decrypting export file: %s\n"
        size_err = decrypt_err % b"unsupported quorvel key size: %d bits (expected 128, 192 or 256 bits)"
        cases = [
            (exp256, b"", PROMPT + b"\nCouldn't read quorvel key entered by user.\n"),
            (exp256, KEY256[:31] + "\n", HEX_ERR),
            (exp256, KEY256[:30] + "\n", size_err % 120),
            (exp256, "\n", size_err % 0),
            (exp256, KEY256[:-2] + "00\n", WRONG_KEY),
            # Spaces between pairs are skipped but counted: 33 characters.
            (self.exp128, KEY128[:2] + " " + KEY128[2:] + "\n", HEX_ERR),
            (self.exp128, KEY192 + "\n", WRONG_KEY),
            # 32 characters of any kind make 16 key bytes: only decryption finds them wrong.
            (self.exp128, "g" * 32 + "\n", WRONG_KEY),
        ]
        for exp, key, err in cases:
            self.assert_fails(self.run_tool([exp, self.key()], key=key), err, absent="k256.exp.gpg")
        good = [
            (exp256, KEY256.swapcase() + "zz and more\n"),  # case is free; past the 64th nothing is used
            (exp256, " " * 3000 + KEY256 + " " * 1000 + "\n"),  # the whole line is trimmed before it is cut
            (self.exp128, KEY128[:2] + " " + KEY128[2:10] + " " + KEY128[10:] + "\n"),
            (self.exp128, KEY128 + "\r\n"), (self.exp128, KEY128), (self.exp128, "\t" + KEY128 + " \r\n"),
            (self.make_export("k192.exp", self.sections, key=KEY192), "  " + KEY192.swapcase() + " \n"),
        ]
        for exp, key in good:
            self.assert_table(self.run_tool([exp, self.key(), "-o", "k.gpg"], key=key), "k.gpg")

    def test_key_is_not_checked_without_a_recurring_section(self):
        other = self.make_export("o.exp", [("TRANSDATA", ["a"], [["1"]])])
        # Nor before the first RECURRING block has been read whole.
        cut = self.write("cut.exp", self.read(self.exp128)[:-8])
        for text in ("zzz\n", "\n", KEY128[:30] + "\n"):
            self.assert_fails(self.run_tool([other, self.key()], key=text), NO_SECTION)
            self.assert_fails(self.run_tool([cut, self.key()], key=text), SECTION_ERR)


if __name__ == "__main__":
    unittest.main(verbosity=2)
