"""End-to-end: keys in every state, and the keys of a real keyring that
nobody here made.

Every key of the Debian developer keyring (package debian-keyring) is given
to the program on its own, with the bundled sample export, and the outcome
is checked against gpg's own view of the same key today: either the program
encrypted to a subkey that gpg lists as valid and able to encrypt, or it
failed and gpg lists no such subkey (or only ones of algorithms the program
does not support, and then the program says so)."""

import concurrent.futures
import os
import re
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from e2e_common import *  # noqa: E402,F401,F403

KEYRING = "/usr/share/keyrings/debian-keyring.gpg"
PARSE_FAIL = "Couldn't parse public key data from file: "


def key_blocks(gnupg):
    """(primary key ID, or None for a key older than version 4; bytes) of
    each key of the keyring, cut where gpg lists a primary key packet."""
    listing = subprocess.run(["gpg", "--batch", "--list-packets", KEYRING], env=dict(os.environ, GNUPGHOME=gnupg),
                             capture_output=True).stdout.decode("utf-8", "replace")
    keys = re.findall(r"^# off=(\d+) ctb=\w+ tag=6 .*\n:public key packet:\n\tversion (\d+)[^#]*?\tkeyid: (\w+)",
                      listing, re.M)
    with open(KEYRING, "rb") as f:
        data = f.read()
    ends = [int(off) for off, _, _ in keys[1:]] + [len(data)]
    return [(keyid if version == "4" else None, data[int(off):end]) for (off, version, keyid), end in zip(keys, ends)]


def gpg_view(gnupg, path):
    """gpg's listing of a keyring: primary key ID -> (primary validity,
    [(subkey ID, validity, capabilities, algorithm, curve)])."""
    out = subprocess.run(["gpg", "--batch", "--with-colons", "--fixed-list-mode", "--import-options",
                          "show-only", "--import", path], env=dict(os.environ, GNUPGHOME=gnupg),
                         capture_output=True, check=True).stdout.decode("utf-8", "replace")
    view, current = {}, None
    for f in (line.split(":") for line in out.splitlines()):
        if f[0] == "pub":
            current = view[f[4]] = (f[1], [])
        elif f[0] == "sub" and current is not None:
            current[1].append((f[4], f[1], f[11], f[3], f[16] if len(f) > 16 else ""))
    return view


def can_encrypt(validity, caps):
    # r revoked, e expired, i invalid, n/d/x not valid: never encrypted to.
    return not set(validity) & set("reinxd") and "e" in caps


def supported(algo, curve):
    return algo in ("1", "16") or (algo == "18" and curve in ("cv25519", "nistp256", "nistp384", "nistp521"))


def pkesk_key_id(message):
    """Key ID and algorithm of the first packet, a version-3 session key
    packet (old format, 4-byte length)."""
    if message[0] != 0x86 or message[5] != 3:
        raise ValueError("no session key packet first")
    return message[6:14].hex().upper(), str(message[14])


class KeyStates(E2ECase):
    """Keys made by gpg whose subkeys or primary key may not be used, and
    elliptic-curve keys: the program encrypts to the subkey recorded when the
    key was made (and gpg opens the message where the test holds the secret
    key), or refuses the key before asking for the export key."""

    def test_key_states(self):
        sections = [("RECURRING", HEADER, make_rows(12, 7))]
        exp = self.make_export("t.exp", sections)
        dead = b"public key is revoked or expired"
        none = b"no usable encryption subkey (revoked, expired or not for encryption)"
        cases = [
            # name, failure message (None: encrypted to the recorded subkey), gpg decrypts
            ("revoked_first", None, True), ("expired_first", None, False), ("sign_first", None, True),
            ("cv25519", None, True), ("p256", None, True), ("revoked_only", none, False),
            ("expired_only", none, False), ("revoked_primary", dead, False), ("expired_primary", dead, False),
        ]
        for name, failure, decrypts in cases:
            with self.subTest(name):
                r = self.run_tool([exp, self.key(name), "-o", name + ".gpg"])
                if failure is not None:
                    self.assert_fails(r, PARSE_FAIL.encode() + failure + b"\n", absent=name + ".gpg")
                    continue
                self.assert_success(r, name + ".gpg")
                with open(os.path.join(KEYS, name + ".keyid")) as f:
                    self.assertEqual(pkesk_key_id(self.read(name + ".gpg"))[0], f.read().strip())
                if decrypts:
                    self.assertEqual(self.decrypt(self.path(name + ".gpg"), name), expected_table(sections))


@unittest.skipUnless(os.path.exists(KEYRING), "the Debian keyring (package debian-keyring, installed by "
                     "scripts/deps.sh) is not installed")
class Keyring(E2ECase):
    def run_one(self, index, block):
        key_path, out_path = self.path("k%d.gpg" % index), self.path("o%d.gpg" % index)
        with open(key_path, "wb") as f:
            f.write(block)
        r = self.run_tool([SAMPLE, key_path, "-o", out_path], key=SAMPLE_KEY)
        if r.returncode != 0:
            return r, None
        with open(out_path, "rb") as f:
            return r, f.read()

    def wrong(self, view, keyid, r, message):
        """What is wrong with the outcome of one key, or None."""
        if keyid not in view:
            # gpg could not read the key at all: the program must not use it either.
            return "encrypted to a key gpg cannot read" if r.returncode == 0 else None
        pub_validity, subs = view[keyid]
        usable = [s for s in subs if can_encrypt(s[1], s[2]) and not set(pub_validity) & set("re")]
        if r.returncode == 0:
            sub_id, algo = pkesk_key_id(message)
            if not [s for s in usable if s[0] == sub_id and s[3] == algo]:
                return "encrypted to %s as algorithm %s, gpg lists %r" % (sub_id, algo, subs)
            return None
        m = re.search(re.escape(PARSE_FAIL) + r"(.*)\n", r.stderr.decode("utf-8", "replace"))
        if not m:
            return "failed without a key message: %r" % r.stderr[-200:]
        if m.group(1) == "unsupported public key algorithm":
            right = usable and not any(supported(s[3], s[4]) for s in usable)
        else:
            right = not usable
        return None if right else "failed with %r, gpg lists %r" % (m.group(1), usable)

    def test_every_key_against_gpg(self):
        blocks = key_blocks(self.gnupg)
        self.assertGreater(len(blocks), 100)
        view = gpg_view(self.gnupg, KEYRING)
        if os.environ.get("QTE_WRAPPER"):
            # Under a wrapper such as valgrind a run costs seconds: every
            # fortieth key, and every key with a usable Elgamal or ECDH subkey.
            def elgamal_or_ecdh(keyid):
                pub_validity, subs = view.get(keyid, ("", []))
                return not set(pub_validity) & set("re") and any(
                    s[3] in ("16", "18") and can_encrypt(s[1], s[2]) for s in subs)
            blocks = [b for i, b in enumerate(blocks) if i % 40 == 0 or elgamal_or_ecdh(b[0])]
        with concurrent.futures.ThreadPoolExecutor(max(2, os.cpu_count() or 2)) as pool:
            results = list(pool.map(lambda a: self.run_one(a[0], a[1][1]), enumerate(blocks)))
        bad = [(keyid, self.wrong(view, keyid, r, message)) for (keyid, _), (r, message) in zip(blocks, results)]
        self.assertEqual([b for b in bad if b[1]], [])


if __name__ == "__main__":
    unittest.main()
