"""End-to-end: keys in every state, and the keys of a real keyring that
nobody here made.

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
PARSE_FAIL = "Couldn't parse public key data from file: "


def packets(data):
    """(tag, start, end) of each packet of an OpenPGP packet stream."""
    pos = 0
    while pos < len(data):
        b = data[pos]
        if not b & 0x80:
            raise ValueError("not a packet at %d" % pos)
        if b & 0x40:
            tag, first = b & 0x3F, data[pos + 1]
            if first < 192:
                length, hdr = first, 2
            elif first < 224:
                length, hdr = ((first - 192) << 8) + data[pos + 2] + 192, 3
            elif first == 255:
                length, hdr = int.from_bytes(data[pos + 2:pos + 6], "big"), 6
            else:
                raise ValueError("partial length in a keyring")
        else:
            tag, hdr = (b >> 2) & 0x0F, 1 + (1 << (b & 3))
            length = int.from_bytes(data[pos + 1:pos + hdr], "big")
        yield tag, pos + hdr, pos + hdr + length
        pos += hdr + length


def key_blocks(data):
    """(primary key ID, bytes) of each key, cut at each primary key packet."""
    starts, pos = [], 0
    for tag, start, end in packets(data):
        if tag == 6:
            body = data[start:end]
            fpr = hashlib.sha1(b"\x99" + len(body).to_bytes(2, "big") + body).hexdigest().upper()
            starts.append((fpr[-16:] if body[0] == 4 else None, pos))
        pos = end
    ends = [s for _, s in starts[1:]] + [len(data)]
    return [(keyid, data[s:e]) for (keyid, s), e in zip(starts, ends)]


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
    """Key ID and algorithm of the first packet (a version-3 PKESK)."""
    tag, start, _ = next(packets(message))
    if tag != 1 or message[start] != 3:
        raise ValueError("no session key packet first")
    return message[start + 1:start + 9].hex().upper(), message[start + 9]


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
        r = subprocess.run([BIN, SAMPLE, key_path, "-o", out_path], input=(SAMPLE_KEY + "\n").encode(),
                           capture_output=True, cwd=self.dir, timeout=120, env=dict(os.environ, TZ="UTC"))
        if r.returncode != 0:
            return r, None
        with open(out_path, "rb") as f:
            return r, f.read()

    def outcome(self, view, keyid, r, message):
        """(line of the outcome table, what is wrong or None, sample label)."""
        if keyid not in view:
            # gpg could not read the key at all: the program must not use it either.
            if r.returncode == 0:
                return "gpg cannot read the key", "encrypted to a key gpg cannot read", None
            return "gpg cannot read the key; program failed", None, None
        pub_validity, subs = view[keyid]
        usable = [s for s in subs if can_encrypt(s[1], s[2]) and not set(pub_validity) & set("re")]
        if r.returncode == 0:
            sub_id, _ = pkesk_key_id(message)
            match = [s for s in subs if s[0] == sub_id]
            if not match:
                return "encrypted to an unknown subkey", "encrypted to %s, not a subkey gpg lists" % sub_id, None
            s = match[0]
            if s not in usable:
                kind = "revoked" if "r" in s[1] else "expired" if "e" in s[1] else "valid"
                what = "encryption" if "e" in s[2] else "signing or authentication"
                return ("encrypted to a %s %s subkey" % (kind, what),
                        "encrypted to %s (validity %r, capabilities %r)" % (sub_id, s[1], s[2]), None)
            label = "RSA" if s[3] == "1" else "Elgamal" if s[3] == "16" else "ECDH " + s[4]
            return "encrypted to a valid encryption subkey: " + label, None, label
        m = re.search(re.escape(PARSE_FAIL) + r"(.*)\n", r.stderr.decode("utf-8", "replace"))
        if not m:
            return "failed without a key message", "failed without a key message: %r" % r.stderr[-200:], None
        line = "failed: \"%s\"" % m.group(1)
        if m.group(1) == "unsupported public key algorithm":
            if not usable or any(supported(s[3], s[4]) for s in usable):
                return line, "unsupported algorithm, but gpg lists %r" % (usable,), None
        elif usable:
            return line, "failed with %r, but gpg lists %r" % (m.group(1), usable), None
        return line, None, None

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
        with concurrent.futures.ThreadPoolExecutor(max(2, os.cpu_count() or 2)) as pool:
            results = list(pool.map(lambda a: self.run_one(a[0], a[1][1]), enumerate(blocks)))
        table, samples, bad = collections.Counter(), collections.defaultdict(list), []
        for index, ((keyid, _), (r, message)) in enumerate(zip(blocks, results)):
            line, wrong, label = self.outcome(view, keyid, r, message)
            table[line] += 1
            if wrong:
                bad.append((keyid, wrong))
            if label:
                samples[label].append((index, pkesk_key_id(message)))
        sys.stderr.write("\nOutcome over %d of the %d keys of %s:\n" % (len(blocks), total, KEYRING))
        for what, count in sorted(table.items(), key=lambda kv: -kv[1]):
            sys.stderr.write("  %5d  %s\n" % (count, what))
        self.assertEqual(bad, [])
        # A sample of every algorithm, read back by gpg: the session key
        # packet names the subkey and its algorithm as the program chose.
        env = dict(os.environ, GNUPGHOME=self.gnupg)
        for label, chosen in sorted(samples.items()):
            for index, (sub_id, algo) in chosen[:20]:
                out = subprocess.run(["gpg", "--batch", "--list-packets", self.path("o%d.gpg" % index)],
                                     env=env, capture_output=True).stdout.decode("utf-8", "replace")
                self.assertRegex(out, r":pubkey enc packet: version 3, algo %s, keyid %s\n" %
                                 ({1: "1", 16: "16", 18: "18"}.get(algo, "?"), sub_id), label)
                self.assertIn(":encrypted data packet:", out, label)


if __name__ == "__main__":
    unittest.main()
