"""End-to-end: the keys of a real keyring that nobody here made.

Every key of the Debian developer keyring (package debian-keyring) is given
to the program on its own, with the bundled sample export, and the outcome
is checked against gpg's own view of the same key today: either the program
encrypted to a subkey that gpg lists as valid and able to encrypt, or it
failed and gpg lists no such subkey (or only ones of algorithms the program
does not support, and then the program says so). For a sample of every
algorithm the message is also read back with gpg --list-packets.

The outcome table is printed, so a run shows how the keyring fared."""

import collections
import concurrent.futures
import hashlib
import os
import re
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from e2e_common import *  # noqa: E402,F401,F403

KEYRING = "/usr/share/keyrings/debian-keyring.gpg"
SAMPLE = os.path.join(SRC, "examples", "sample.exp")
with open(os.path.join(SRC, "examples", "sample_export_key.txt")) as _f:
    SAMPLE_KEY = _f.read().strip()

# Public-key algorithms the program encrypts to, and the ECDH curves.
SUPPORTED_ALGOS = {"1", "16"}
SUPPORTED_CURVES = {"cv25519", "nistp256", "nistp384", "nistp521"}
PARSE_FAIL = "Couldn't parse public key data from file: "
SAMPLE_PER_ALGO = 20


def packets(data):
    """(tag, start, end) of each packet of an OpenPGP packet stream."""
    pos = 0
    while pos < len(data):
        tag_byte = data[pos]
        if not tag_byte & 0x80:
            raise ValueError("not a packet at %d" % pos)
        if tag_byte & 0x40:
            tag = tag_byte & 0x3F
            first = data[pos + 1]
            if first < 192:
                length, hdr = first, 2
            elif first < 224:
                length, hdr = ((first - 192) << 8) + data[pos + 2] + 192, 3
            elif first == 255:
                length, hdr = int.from_bytes(data[pos + 2:pos + 6], "big"), 6
            else:
                raise ValueError("partial length in a keyring")
        else:
            tag = (tag_byte >> 2) & 0x0F
            width = 1 << (tag_byte & 3)
            length = int.from_bytes(data[pos + 1:pos + 1 + width], "big")
            hdr = 1 + width
        yield tag, pos + hdr, pos + hdr + length
        pos += hdr + length


def key_blocks(data):
    """(primary key ID, bytes) of each key, cut at each primary key packet."""
    starts = []
    pos = 0
    for tag, start, end in packets(data):
        if tag == 6:
            body = data[start:end]
            keyid = None
            if body[0] == 4:
                fpr = hashlib.sha1(b"\x99" + len(body).to_bytes(2, "big") + body).hexdigest().upper()
                keyid = fpr[-16:]
            starts.append((keyid, pos))
        pos = end
    blocks = []
    for i, (keyid, s) in enumerate(starts):
        e = starts[i + 1][1] if i + 1 < len(starts) else len(data)
        blocks.append((keyid, data[s:e]))
    return blocks


def gpg_view(gnupg, path):
    """gpg's listing of a keyring: primary key ID -> (primary validity,
    [(subkey ID, validity, capabilities, algorithm, curve)])."""
    out = subprocess.run(["gpg", "--batch", "--with-colons", "--fixed-list-mode", "--import-options",
                          "show-only", "--import", path], env=dict(os.environ, GNUPGHOME=gnupg),
                         capture_output=True, check=True).stdout.decode("utf-8", "replace")
    view = {}
    current = None
    for line in out.splitlines():
        f = line.split(":")
        if f[0] == "pub":
            current = (f[1], [])
            view[f[4]] = current
        elif f[0] == "sub" and current is not None:
            current[1].append((f[4], f[1], f[11], f[3], f[16] if len(f) > 16 else ""))
    return view


def can_encrypt(validity, caps):
    # r revoked, e expired, i invalid, n/d/x not valid: never encrypted to.
    return not set(validity) & set("reinxd") and "e" in caps


def supported(algo, curve):
    return algo in SUPPORTED_ALGOS or (algo == "18" and curve in SUPPORTED_CURVES)


def pkesk_key_id(message):
    """Key ID and algorithm of the first packet (a version-3 PKESK)."""
    tags = list(packets(message))
    tag, start, end = tags[0]
    if tag != 1 or message[start] != 3:
        raise ValueError("no session key packet first")
    return message[start + 1:start + 9].hex().upper(), message[start + 9]


def run_one(workdir, index, keyid, block):
    key_path = os.path.join(workdir, "k%d.gpg" % index)
    out_path = os.path.join(workdir, "o%d.gpg" % index)
    with open(key_path, "wb") as f:
        f.write(block)
    r = subprocess.run([BIN, SAMPLE, key_path, "-o", out_path], input=(SAMPLE_KEY + "\n").encode(),
                       capture_output=True, cwd=workdir, timeout=120, env=dict(os.environ, TZ="UTC"))
    message = None
    if r.returncode == 0:
        with open(out_path, "rb") as f:
            message = f.read()
    return index, keyid, r, message


class KeyStates(E2ECase):
    """Keys made by gpg whose subkeys or primary key may not be used, and
    elliptic-curve keys: the program encrypts to the subkey recorded when the
    key was made (and gpg opens the message where the test holds the secret
    key), or refuses the key before asking for the export key."""

    DEAD = b"public key is revoked or expired"
    NONE = b"no usable encryption subkey (revoked, expired or not for encryption)"

    def test_key_states(self):
        sections = [("RECURRING", HEADER, make_rows(12, 7))]
        exp = self.make_export("t.exp", sections)
        cases = [
            # name, failure message (None: encrypted to the recorded subkey), gpg decrypts
            ("revoked_first", None, True),
            ("expired_first", None, False),
            ("sign_first", None, True),
            ("cv25519", None, True),
            ("p256", None, True),
            ("revoked_only", self.NONE, False),
            ("expired_only", self.NONE, False),
            ("revoked_primary", self.DEAD, False),
            ("expired_primary", self.DEAD, False),
        ]
        for name, failure, decrypts in cases:
            with self.subTest(name):
                out = self.path(name + ".gpg")
                r = self.run_tool([exp, self.key(name), "-o", out])
                if failure is not None:
                    self.assertEqual(r.returncode, 1)
                    self.assertEqual(r.stderr, b"Couldn't parse public key data from file: " + failure + b"\n")
                    self.assertFalse(os.path.exists(out))
                    continue
                self.assert_success(r, out)
                with open(out, "rb") as f:
                    keyid, _ = pkesk_key_id(f.read())
                with open(os.path.join(KEYS, name + ".keyid")) as f:
                    self.assertEqual(keyid, f.read().strip())
                if decrypts:
                    self.assertEqual(self.decrypt(out, name), expected_table(sections))


@unittest.skipUnless(os.path.exists(KEYRING), "the Debian keyring (package debian-keyring, installed by "
                     "scripts/deps.sh) is not installed")
class Keyring(E2ECase):
    def test_every_key_against_gpg(self):
        with open(KEYRING, "rb") as f:
            blocks = key_blocks(f.read())
        self.assertGreater(len(blocks), 100)
        view = gpg_view(self.gnupg, KEYRING)
        total = len(blocks)
        if os.environ.get("QTE_WRAPPER"):
            # Under a wrapper such as valgrind a run costs seconds: every
            # fortieth key, and every key with a usable Elgamal or ECDH subkey.
            def elgamal_or_ecdh(keyid):
                pub_validity, subs = view.get(keyid, ("", []))
                return not set(pub_validity) & set("re") and any(
                    s[3] in ("16", "18") and can_encrypt(s[1], s[2]) for s in subs)
            blocks = [b for i, b in enumerate(blocks) if i % 40 == 0 or elgamal_or_ecdh(b[0])]

        jobs = max(2, os.cpu_count() or 2)
        with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
            results = list(pool.map(lambda a: run_one(self.dir, *a),
                                    [(i, kid, blk) for i, (kid, blk) in enumerate(blocks)]))

        table = collections.Counter()
        samples = collections.defaultdict(list)
        bad = []
        for index, keyid, r, message in results:
            if keyid not in view:
                # gpg could not read the key at all: the program must not use it either.
                table["gpg cannot read the key; program failed" if r.returncode else "gpg cannot read the key"] += 1
                if r.returncode == 0:
                    bad.append((keyid, "encrypted to a key gpg cannot read"))
                continue
            pub_validity, subs = view[keyid]
            usable = [s for s in subs if can_encrypt(s[1], s[2]) and not set(pub_validity) & set("re")]
            if r.returncode == 0:
                sub_id, algo = pkesk_key_id(message)
                match = [s for s in subs if s[0] == sub_id]
                if not match:
                    bad.append((keyid, "encrypted to %s, not a subkey gpg lists" % sub_id))
                    continue
                s = match[0]
                if s not in usable:
                    kind = "revoked" if "r" in s[1] else "expired" if "e" in s[1] else "valid"
                    what = "encryption" if "e" in s[2] else "signing or authentication"
                    table["encrypted to a %s %s subkey" % (kind, what)] += 1
                    bad.append((keyid, "encrypted to %s (validity %r, capabilities %r)" % (sub_id, s[1], s[2])))
                    continue
                label = "RSA" if s[3] == "1" else "Elgamal" if s[3] == "16" else "ECDH " + s[4]
                table["encrypted to a valid encryption subkey: " + label] += 1
                samples[label].append((index, sub_id, algo))
                continue

            err = r.stderr.decode("utf-8", "replace")
            m = re.search(re.escape(PARSE_FAIL) + r"(.*)\n", err)
            if not m:
                bad.append((keyid, "failed without a key message: %r" % err[-200:]))
                continue
            msg = m.group(1)
            table["failed: \"%s\"" % msg] += 1
            if msg == "unsupported public key algorithm":
                if not usable or any(supported(s[3], s[4]) for s in usable):
                    bad.append((keyid, "unsupported algorithm, but gpg lists %r" % (usable,)))
            elif usable:
                bad.append((keyid, "failed with %r, but gpg lists %r" % (msg, usable)))

        sys.stderr.write("\nOutcome over %d of the %d keys of %s:\n" % (len(blocks), total, KEYRING))
        for what, count in sorted(table.items(), key=lambda kv: -kv[1]):
            sys.stderr.write("  %5d  %s\n" % (count, what))
        self.assertEqual(bad, [])

        # A sample of every algorithm, read back by gpg: the session key
        # packet names the subkey and its algorithm as the program chose.
        env = dict(os.environ, GNUPGHOME=self.gnupg)
        algo_names = {1: "1", 16: "16", 18: "18"}
        for label, chosen in sorted(samples.items()):
            for index, sub_id, algo in chosen[:SAMPLE_PER_ALGO]:
                out = subprocess.run(["gpg", "--batch", "--list-packets", os.path.join(self.dir, "o%d.gpg" % index)],
                                     env=env, capture_output=True).stdout.decode("utf-8", "replace")
                self.assertRegex(out, r":pubkey enc packet: version 3, algo %s, keyid %s\n" %
                                 (algo_names.get(algo, "?"), sub_id), label)
                self.assertIn(":encrypted data packet:", out, label)


if __name__ == "__main__":
    unittest.main()
