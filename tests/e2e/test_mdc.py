"""End-to-end: the integrity-protected form (-m mdc) as four independent
OpenPGP implementations see it with their default settings (gpg, sq, rnp,
OpenPGP.js), tampering caught, what each says about the default form, and
the option's forms."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from e2e_common import *  # noqa: E402,F401,F403

EXAMPLES = os.path.join(SRC, "examples")
OPENPGPJS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "openpgpjs")
# The dependency step installs every peer: in CI a missing one is a failure,
# elsewhere the test says which one it lacks and skips.
IN_CI = os.environ.get("CI", "").lower() == "true"

SAMPLE_KEY = os.path.join(EXAMPLES, "demo_secret_key.DEMO-ONLY.asc")


def peer_missing(name):
    """Why the peer cannot run here, or None."""
    if name == "openpgpjs":
        if shutil.which("node") is None:
            return "node is not installed"
        if not os.path.isdir(os.path.join(OPENPGPJS, "node_modules", "openpgp")):
            return "OpenPGP.js is not installed (npm ci in %s)" % OPENPGPJS
        return None
    return None if shutil.which(name) else "%s is not installed" % name


def session_key_packet_end(msg):
    """Offset just after the session key packet (old format, 4-byte length)."""
    assert msg[0] == 0x86, msg[:1]
    return 5 + int.from_bytes(msg[1:5], "big")


class Peers(E2ECase):
    """Each peer decrypts into OUT with its default settings and hands out
    (exit status, plaintext or None when no plaintext was written, stderr)."""

    def setUp(self):
        super().setUp()
        self.peer_home = tempfile.mkdtemp(prefix="qte-peer-")
        os.chmod(self.peer_home, 0o700)
        self.imported = set()

    def tearDown(self):
        shutil.rmtree(self.peer_home, ignore_errors=True)
        super().tearDown()

    def require(self, *peers):
        for p in peers:
            why = peer_missing(p)
            if why:
                if IN_CI:
                    self.fail("test peer missing in CI: " + why)
                self.skipTest(why)

    def _result(self, r, out):
        plain = None
        if os.path.exists(out):
            with open(out, "rb") as f:
                plain = f.read()
            os.unlink(out)
            if r.returncode != 0 and plain == b"":
                plain = None
        return r.returncode, plain, r.stderr.decode(errors="replace")

    def peer_decrypt(self, peer, msg_path, seckey, extra=()):
        out = self.path("peer.out")
        if os.path.exists(out):
            os.unlink(out)
        if peer == "gpg":
            env = dict(os.environ, GNUPGHOME=self.gnupg)
            if seckey not in self.imported:
                subprocess.run(["gpg", "--batch", "--quiet", "--import", seckey], env=env, check=True,
                               capture_output=True)
                self.imported.add(seckey)
            cmd = ["gpg", "--batch", "--quiet"] + list(extra) + ["--output", out, "--decrypt", msg_path]
        elif peer == "sq":
            env = dict(os.environ, HOME=self.peer_home)
            cmd = ["sq", "decrypt", "--recipient-key", seckey, "--output", out, msg_path]
        elif peer == "rnp":
            env = dict(os.environ, HOME=self.peer_home)
            cmd = ["rnp", "--homedir", self.peer_home, "--keyfile", seckey, "--decrypt", msg_path, "--output", out]
        else:
            env = dict(os.environ)
            cmd = ["node", os.path.join(OPENPGPJS, "decrypt.mjs"), seckey, msg_path, out]
        r = subprocess.run(cmd, env=env, capture_output=True, stdin=subprocess.DEVNULL, timeout=600)
        return self._result(r, out)

    def export(self, args, key):
        r = self.run_tool(args, key=key)
        self.assertEqual(r.returncode, 0, r.stderr)
        out = [a for a in args if a.endswith(".gpg")][0]
        with open(self.path(out), "rb") as f:
            return self.path(out), f.read()

    def test_every_peer_opens_mdc_output_of_the_sample_and_of_a_20_mb_table(self):
        self.require("gpg", "sq", "rnp", "openpgpjs")
        with open(os.path.join(EXAMPLES, "sample_export_key.txt")) as f:
            sample_key = f.read()
        # About 82 bytes a row: 250,000 rows make a table of just over 20 MB.
        big = self.make_export("big.exp", [("RECURRING", HEADER, make_rows(250000, 15))], rows_per_block=25000)
        cases = [
            ("sample", os.path.join(EXAMPLES, "sample.exp"), os.path.join(EXAMPLES, "demo_public_key.asc"),
             SAMPLE_KEY, sample_key, 1000),
            ("20 MB", big, self.key("rsa2048"), os.path.join(KEYS, "rsa2048.sec.asc"), KEY256 + "\n", 20000000),
        ]
        for what, exp, pub, sec, key, least in cases:
            mdc_path, mdc = self.export([exp, pub, "-o", "mdc.gpg", "-m", "mdc"], key)
            legacy_path, _ = self.export([exp, pub, "-o", "legacy.gpg"], key)
            self.assertEqual(mdc[session_key_packet_end(mdc)], 0xD2, what)
            rc, legacy_plain, err = self.peer_decrypt("gpg", legacy_path, sec, ["--ignore-mdc-error"])
            self.assertEqual(rc, 0, err)
            self.assertGreater(len(legacy_plain), least, what)
            for peer in ("gpg", "sq", "rnp", "openpgpjs"):
                rc, plain, err = self.peer_decrypt(peer, mdc_path, sec)
                self.assertEqual(rc, 0, "%s, %s: %s" % (what, peer, err))
                self.assertTrue(plain == legacy_plain, "%s, %s: plaintext differs (%s bytes)" % (
                    what, peer, None if plain is None else len(plain)))

    def test_one_flipped_byte_after_the_session_key_packet_is_refused(self):
        self.require("gpg", "sq", "rnp", "openpgpjs")
        exp = self.make_export("x.exp", [("RECURRING", HEADER, make_rows(400, 16))])
        _, msg = self.export([exp, self.key(), "-o", "mdc.gpg", "-mmdc"], KEY256 + "\n")
        sec = os.path.join(KEYS, "rsa2048.sec.asc")
        start = session_key_packet_end(msg)
        self.assertEqual(msg[start], 0xD2)
        # A table of this size needs the five-byte length: 0xFF, then four.
        self.assertEqual(msg[start + 1], 0xFF)
        body = start + 6
        n = len(msg)
        self.assertEqual(n - body, int.from_bytes(msg[start + 2:body], "big"))
        positions = {
            "packet tag": start, "length": start + 1, "version": body, "prefix": body + 1,
            "prefix check bytes": body + 17, "first data byte": body + 19, "middle": (body + n) // 2,
            "last data byte": n - 23, "MDC header": n - 22, "MDC length": n - 21, "first hash byte": n - 20,
            "last hash byte": n - 1,
        }
        self.assertEqual(self.peer_decrypt("gpg", self.path("mdc.gpg"), sec)[0], 0)
        in_hash = ("first hash byte", "last hash byte")
        for what, pos in positions.items():
            for bit in (0x01, 0x80):
                bad = bytearray(msg)
                bad[pos] ^= bit
                path = self.write("bad.gpg", bytes(bad))
                case = "(%s, bit %#x)" % (what, bit)
                # sq withholds everything and fails.
                rc, plain, err = self.peer_decrypt("sq", path, sec)
                self.assertNotEqual(rc, 0, case + err)
                self.assertIsNone(plain, "sq handed out %d bytes %s" % (len(plain or b""), case))
                self.assertIn("Error: Decryption failed", err, case)
                if what in in_hash:
                    self.assertIn("Message has been manipulated", err, case)
                # gpg fails too, but writes what it decrypted before it
                # reaches the MDC: a recipient must trust its exit status,
                # not the presence of an output file.
                rc, plain, err = self.peer_decrypt("gpg", path, sec)
                self.assertNotEqual(rc, 0, case + err)
                self.assertNotEqual(err.strip(), "", case)
                if what in in_hash:
                    self.assertIn("WARNING: encrypted message has been manipulated!", err, case)
                # rnp and OpenPGP.js check the MDC before handing anything out.
                if bit == 0x01 and what in ("middle", "MDC header", "last hash byte"):
                    for peer, said in (("rnp", "mdc h"), ("openpgpjs", "Modification detected")):
                        rc, plain, err = self.peer_decrypt(peer, path, sec)
                        self.assertNotEqual(rc, 0, case + err)
                        self.assertIsNone(plain, "%s handed out %d bytes %s" % (peer, len(plain or b""), case))
                        self.assertIn(said, err, case)

    def test_what_each_peer_says_about_the_default_form(self):
        """The README's table of recipients, checked: the default (tag 9)
        output opens in gpg only with --ignore-mdc-error and in rnp as it
        is; sq and OpenPGP.js refuse it with no switch used."""
        self.require("gpg", "sq", "rnp", "openpgpjs")
        sections = [("RECURRING", HEADER, make_rows(50, 17))]
        exp = self.make_export("x.exp", sections)
        path, msg = self.export([exp, self.key(), "-o", "legacy.gpg", "-m", "legacy"], KEY256 + "\n")
        self.assertEqual(msg[session_key_packet_end(msg)], 0xA6)
        sec = os.path.join(KEYS, "rsa2048.sec.asc")
        want = expected_table(sections)

        # gpg still writes the plaintext out, then fails the run.
        rc, plain, err = self.peer_decrypt("gpg", path, sec)
        self.assertNotEqual(rc, 0)
        self.assertIn("decryption forced to fail!", err)
        rc, plain, err = self.peer_decrypt("gpg", path, sec, ["--ignore-mdc-error"])
        self.assertEqual((rc, plain), (0, want), err)
        rc, plain, err = self.peer_decrypt("rnp", path, sec)
        self.assertEqual((rc, plain), (0, want), err)
        rc, plain, err = self.peer_decrypt("sq", path, sec)
        self.assertNotEqual(rc, 0)
        self.assertIsNone(plain)
        self.assertIn("Symmetrically Encrypted Data Packet v0 is not considered secure", err)
        rc, plain, err = self.peer_decrypt("openpgpjs", path, sec)
        self.assertNotEqual(rc, 0)
        self.assertIsNone(plain)
        self.assertIn("Message is not authenticated", err)

    def test_every_peer_opens_output_for_ecdh_keys(self):
        """Curve25519 and NIST P-256 encryption subkeys made by gpg: each peer
        opens the integrity-protected form, and the peers that accept the
        default form (gpg told to, rnp as it is) open that too."""
        self.require("gpg", "sq", "rnp", "openpgpjs")
        sections = [("RECURRING", HEADER, make_rows(300, 19))]
        exp = self.make_export("x.exp", sections)
        want = expected_table(sections)
        for name in ("cv25519", "p256"):
            sec = os.path.join(KEYS, name + ".sec.asc")
            mdc_path, _ = self.export([exp, self.key(name), "-o", "mdc.gpg", "-m", "mdc"], KEY256 + "\n")
            legacy_path, _ = self.export([exp, self.key(name), "-o", "legacy.gpg"], KEY256 + "\n")
            runs = [(peer, mdc_path, ()) for peer in ("gpg", "sq", "rnp", "openpgpjs")]
            runs += [("gpg", legacy_path, ["--ignore-mdc-error"]), ("rnp", legacy_path, ())]
            for peer, path, extra in runs:
                rc, plain, err = self.peer_decrypt(peer, path, sec, extra)
                self.assertEqual((rc, plain), (0, want), "%s, %s, %s: %s" % (name, peer, path, err))


class Option(E2ECase):
    def setUp(self):
        super().setUp()
        self.sections = [("RECURRING", HEADER, make_rows(20, 18))]
        self.exp = self.make_export("x.exp", self.sections)

    def test_value_forms_and_last_one_wins(self):
        cases = [
            ([], 0xA6), (["-m", "legacy"], 0xA6), (["-mlegacy"], 0xA6), (["-m", "mdc"], 0xD2), (["-mmdc"], 0xD2),
            (["-m", "legacy", "-mmdc"], 0xD2), (["-mmdc", "-m", "legacy"], 0xA6),
            (["-mmdc", "-o", "first.gpg", "-u", "alice"], 0xD2),
        ]
        want = {}
        env = dict(os.environ, GNUPGHOME=self.gnupg)
        subprocess.run(["gpg", "--batch", "--quiet", "--import", os.path.join(KEYS, "rsa2048.sec.asc")], env=env,
                       check=True, capture_output=True)
        for opts, tag in cases:
            r = self.run_tool([self.exp, self.key(), "-o", "out.gpg"] + opts)
            out = "first.gpg" if "first.gpg" in opts else "out.gpg"
            self.assert_success(r, out)
            with open(self.path(out), "rb") as f:
                msg = f.read()
            os.unlink(self.path(out))
            self.assertEqual(msg[session_key_packet_end(msg)], tag, opts)
            # gpg opens the integrity-protected form without being weakened.
            path = self.write("m.gpg", msg)
            flags = ["--ignore-mdc-error"] if tag == 0xA6 else []
            d = subprocess.run(["gpg", "--batch", "--quiet"] + flags + ["--decrypt", path], env=env,
                               capture_output=True)
            self.assertEqual(d.returncode, 0, d.stderr)
            user = "alice" if "-u" in opts else None
            self.assertEqual(d.stdout, want.setdefault(user, expected_table(self.sections, user=user)), opts)

    def test_unknown_format_stops_before_the_prompt(self):
        msg = b"Unknown message format '%s' for -m (use mdc or legacy)\n"
        cases = [
            (["-m", "aead"], msg % b"aead"), (["-mMDC"], msg % b"MDC"), (["-m", ""], msg % b""),
            (["-m"], msg % b"<NULL>"), (["-m", "mdc", "-m", "tag18"], msg % b"tag18"),
            (["-u", "bob", "-m", "v5"], b"Restricting output to merchant user 'bob'.\n" + msg % b"v5"),
        ]
        for opts, err in cases:
            r = self.run_tool(["missing.exp", "missing.key"] + opts)
            self.assertEqual((r.returncode, r.stderr, r.stdout), (1, err, b""), opts)
            self.assertFalse(os.path.exists(self.path("missing.exp")))
            r = self.run_tool([self.exp, self.key(), "-o", "never.gpg"] + opts)
            self.assertEqual((r.returncode, r.stderr), (1, err), opts)
            self.assertFalse(os.path.exists(self.path("never.gpg")))


if __name__ == "__main__":
    unittest.main(verbosity=2)
