"""End-to-end: the integrity-protected form (-m mdc) as four independent
OpenPGP implementations see it with their default settings (gpg, sq, rnp,
OpenPGP.js), what they say about the default form, and the option's forms.
(That a peer refuses a tampered message is the peer's behaviour: that it
opens ours unchanged shows our MDC right.)"""

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
PEERS = ("gpg", "sq", "rnp", "openpgpjs")
RSA_SEC = os.path.join(KEYS, "rsa2048.sec.asc")


def peer_missing(name):
    """Why the peer cannot run here, or None."""
    if name != "openpgpjs":
        return None if shutil.which(name) else "%s is not installed" % name
    if shutil.which("node") is None:
        return "node is not installed"
    if not os.path.isdir(os.path.join(OPENPGPJS, "node_modules", "openpgp")):
        return "OpenPGP.js is not installed (npm ci in %s)" % OPENPGPJS
    return None


def packet_tag(msg):
    """The tag byte after the session key packet (old format, 4-byte length)."""
    assert msg[0] == 0x86, msg[:1]
    return msg[5 + int.from_bytes(msg[1:5], "big")]


class Peers(E2ECase):

    def setUp(self):
        for p in PEERS:
            why = peer_missing(p)
            if why and IN_CI:
                self.fail("test peer missing in CI: " + why)
            if why:
                self.skipTest(why)
        super().setUp()
        self.peer_home = tempfile.mkdtemp(prefix="qte-peer-")
        os.chmod(self.peer_home, 0o700)
        self.addCleanup(shutil.rmtree, self.peer_home, True)

    def peer_run(self, peer, msg_path, seckey=RSA_SEC, extra=()):
        """The peer decrypting into peer.out with its default settings (and
        extra for gpg)."""
        out = self.path("peer.out")
        if os.path.exists(out):
            os.unlink(out)
        env = dict(os.environ, HOME=self.peer_home)
        if peer == "gpg":
            self.gpg_import(seckey)
            env = dict(os.environ, GNUPGHOME=self.gnupg)
            cmd = ["gpg", "--batch", "--quiet"] + list(extra) + ["--output", out, "--decrypt", msg_path]
        elif peer == "sq":
            cmd = ["sq", "decrypt", "--recipient-key", seckey, "--output", out, msg_path]
        elif peer == "rnp":
            cmd = ["rnp", "--homedir", self.peer_home, "--keyfile", seckey, "--decrypt", msg_path, "--output", out]
        else:
            cmd = ["node", os.path.join(OPENPGPJS, "decrypt.mjs"), seckey, msg_path, out]
        return subprocess.run(cmd, env=env, capture_output=True, stdin=subprocess.DEVNULL, timeout=600)

    def peer_decrypt(self, peer, msg_path, seckey=RSA_SEC, extra=()):
        """The plaintext of a decryption that must succeed."""
        r = self.peer_run(peer, msg_path, seckey, extra)
        self.assertEqual(r.returncode, 0, "%s, %s: %s" % (peer, msg_path, r.stderr.decode(errors="replace")))
        with open(self.path("peer.out"), "rb") as f:
            return f.read()

    def export(self, args, key=KEY256 + "\n"):
        r = self.run_tool(args, key=key)
        self.assertEqual(r.returncode, 0, r.stderr)
        out = self.path([a for a in args if a.endswith(".gpg")][0])
        with open(out, "rb") as f:
            return out, f.read()

    def test_every_peer_opens_mdc_output_of_the_sample_and_of_a_20_mb_table(self):
        # About 82 bytes a row: 250,000 rows make a table of just over 20 MB.
        big = self.make_export("big.exp", [("RECURRING", HEADER, make_rows(250000, 15))], rows_per_block=25000)
        cases = [
            ("sample", SAMPLE, os.path.join(EXAMPLES, "demo_public_key.asc"),
             os.path.join(EXAMPLES, "demo_secret_key.DEMO-ONLY.asc"), SAMPLE_KEY, 1000),
            ("20 MB", big, self.key(), RSA_SEC, KEY256 + "\n", 20000000),
        ]
        for what, exp, pub, sec, key, least in cases:
            mdc_path, mdc = self.export([exp, pub, "-o", "mdc.gpg", "-m", "mdc"], key)
            legacy_path, _ = self.export([exp, pub, "-o", "legacy.gpg"], key)
            self.assertEqual(packet_tag(mdc), 0xD2, what)
            legacy_plain = self.peer_decrypt("gpg", legacy_path, sec, ["--ignore-mdc-error"])
            self.assertGreater(len(legacy_plain), least, what)
            for peer in PEERS:
                self.assertTrue(self.peer_decrypt(peer, mdc_path, sec) == legacy_plain,
                                "%s, %s: plaintext differs" % (what, peer))

    def test_peers_refuse_the_default_form_as_the_readme_says(self):
        """The README's table of recipients: gpg (without --ignore-mdc-error),
        sq and OpenPGP.js refuse the default (tag 9) output, each with its
        message. That gpg with the switch and rnp open it, the other tests
        show."""
        exp = self.make_export("x.exp", [("RECURRING", HEADER, make_rows(50, 17))])
        path, _ = self.export([exp, self.key(), "-o", "legacy.gpg", "-m", "legacy"])
        for peer, said in (("gpg", "decryption forced to fail!"),
                           ("sq", "Symmetrically Encrypted Data Packet v0 is not considered secure"),
                           ("openpgpjs", "Message is not authenticated")):
            r = self.peer_run(peer, path)
            self.assertNotEqual(r.returncode, 0, peer)
            self.assertIn(said, r.stderr.decode(errors="replace"), peer)

    def test_every_peer_opens_output_for_ecdh_keys(self):
        """Curve25519 and NIST P-256 encryption subkeys made by gpg: each peer
        opens the integrity-protected form, and the peers that accept the
        default form (gpg told to, rnp as it is) open that too."""
        sections = [("RECURRING", HEADER, make_rows(300, 19))]
        exp = self.make_export("x.exp", sections)
        want = expected_table(sections)
        for name in ("cv25519", "p256"):
            sec = os.path.join(KEYS, name + ".sec.asc")
            mdc_path, _ = self.export([exp, self.key(name), "-o", "mdc.gpg", "-m", "mdc"])
            legacy_path, _ = self.export([exp, self.key(name), "-o", "legacy.gpg"])
            runs = [(peer, mdc_path, ()) for peer in PEERS]
            runs += [("gpg", legacy_path, ["--ignore-mdc-error"]), ("rnp", legacy_path, ())]
            for peer, path, extra in runs:
                self.assertEqual(self.peer_decrypt(peer, path, sec, extra), want, "%s, %s, %s" % (name, peer, path))


class Option(E2ECase):
    ROWS = 20
    SEED = 18

    def test_value_forms_and_last_one_wins(self):
        cases = [
            ([], 0xA6), (["-m", "legacy"], 0xA6), (["-mlegacy"], 0xA6), (["-m", "mdc"], 0xD2), (["-mmdc"], 0xD2),
            (["-m", "legacy", "-mmdc"], 0xD2), (["-mmdc", "-m", "legacy"], 0xA6),
            (["-mmdc", "-o", "first.gpg", "-u", "alice"], 0xD2),
        ]
        for opts, tag in cases:
            out = "first.gpg" if "first.gpg" in opts else "out.gpg"
            r = self.run_tool([self.exp, self.key(), "-o", "out.gpg"] + opts)
            self.assert_table(r, out, user="alice" if "-u" in opts else None)
            self.assertEqual(packet_tag(self.read(out)), tag, opts)
            os.unlink(self.path(out))

    def test_unknown_format_stops_before_the_prompt(self):
        msg = b"Unknown message format '%s' for -m (use mdc or legacy)\n"
        cases = [
            (["-m", "aead"], msg % b"aead"), (["-mMDC"], msg % b"MDC"), (["-m", ""], msg % b""),
            (["-m"], msg % b"<NULL>"), (["-m", "mdc", "-m", "tag18"], msg % b"tag18"),
            (["-u", "bob", "-m", "v5"], b"Restricting output to merchant user 'bob'.\n" + msg % b"v5"),
        ]
        for opts, err in cases:
            self.assert_fails(self.run_tool(["missing.exp", "missing.key"] + opts), err, absent="missing.exp")
            self.assert_fails(self.run_tool([self.exp, self.key(), "-o", "never.gpg"] + opts), err, absent="never.gpg")


if __name__ == "__main__":
    unittest.main(verbosity=2)
