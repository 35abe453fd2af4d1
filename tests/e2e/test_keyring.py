"""End-to-end: keys in every state, and the keys of a real keyring that nobody here made.

Each key of the Debian developer keyring (package debian-keyring) is read as a key file by the key
reader (tests/pgp/pubkey_probe.cpp, all keys in one process) and by gpg (`gpg -f FILE -e`: the key
ID of the session key packet it writes): both must choose the same key, or both refuse it, and the
key chosen must be one `gpg --with-colons` lists as valid and able to encrypt. The program
encrypts the sample export to keys of every outcome and must write the key ID the reader chose."""

import concurrent.futures
import os
import re
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from e2e_common import *  # noqa: E402,F401,F403
import test_mdc  # noqa: E402  (its peers, not its tests)

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
    [(subkey ID, validity, capabilities)], primary capabilities)."""
    out = subprocess.run(["gpg", "--batch", "--with-colons", "--fixed-list-mode", "--import-options",
                          "show-only", "--import", path], env=dict(os.environ, GNUPGHOME=gnupg),
                         capture_output=True, check=True).stdout.decode("utf-8", "replace")
    view, current = {}, None
    for f in (line.split(":") for line in out.splitlines()):
        if f[0] == "pub":
            current = view[f[4]] = (f[1], [], f[11])
        elif f[0] == "sub" and current is not None:
            current[1].append((f[4], f[1], f[11]))
    return view


def pkesk_key_id(m):
    """The key ID of a message's first packet, its session key packet (an
    old or a new header)."""
    at = 1 + (1 << (m[0] & 3) if not m[0] & 0x40 else (1 if m[1] < 192 else 2))
    return m[at + 1:at + 9].hex().upper()


class KeyStates(E2ECase):
    """Keys made by gpg whose subkeys or primary key may not be used: the
    program encrypts to the subkey recorded when the key was made, or refuses
    the key before asking for the export key."""

    def dead_key(self, name):
        """The message for a key gpg lists as revoked or expired: which key
        (the first so listed), which of the two, and since when."""
        listing = subprocess.run(["gpg", "--batch", "--show-keys", self.key(name)], capture_output=True, check=True,
                                 env=dict(os.environ, GNUPGHOME=self.gnupg, LC_ALL="C")).stdout
        kind, state, date = re.search(rb"^(pub|sub) .*\[(revoked|expired): (\d{4}-\d\d-\d\d)\]", listing, re.M).groups()
        return b"%s %s %s; ask the recipient for their current public key" % (
            b"public key" if kind == b"pub" else b"the key's encryption subkey",
            b"was revoked on" if state == b"revoked" else b"expired on", date)

    def test_key_states(self):
        sections = [("RECURRING", HEADER, make_rows(12, 7))]
        exp = self.make_export("t.exp", sections)
        # (ECDH keys: test_mdc; newer_subkey, primary_encrypts, revoked_appended: test_pgp_pubkey.)
        cases = [
            # name, refused as revoked or expired as gpg lists it, gpg decrypts
            ("revoked_first", False, True), ("expired_first", False, False), ("sign_first", False, True),
            ("revoked_only", True, False), ("expired_only", True, False), ("revoked_primary", True, False),
            ("expired_primary", True, False),
        ]
        for name, dead, decrypts in cases:
            with self.subTest(name):
                r = self.run_tool([exp, self.key(name), "-o", name + ".gpg"])
                if dead:
                    self.assert_fails(r, PARSE_FAIL.encode() + self.dead_key(name) + b"\n", absent=name + ".gpg")
                    continue
                self.assert_success(r, name + ".gpg")
                keyid = self.read(os.path.join(KEYS, name + ".keyid")).decode().strip()
                self.assertEqual(pkesk_key_id(self.read(name + ".gpg")), keyid)
                if decrypts:
                    self.assertEqual(self.decrypt(self.path(name + ".gpg"), name), expected_table(sections))


# How each peer makes a key pair at its defaults in folder d: the commands,
# then the public and secret key files.
PEER_KEYGEN = {
    "gpg": ([["gpg", "--homedir", "{d}", "--batch", "--passphrase", "", "--quick-gen-key", "Peer <gpg@peer.invalid>",
              "default", "default", "never"],
             ["gpg", "--homedir", "{d}", "--armor", "--output", "{d}/pub", "--export", "gpg@peer.invalid"],
             ["gpg", "--homedir", "{d}", "--armor", "--output", "{d}/sec", "--export-secret-keys", "gpg@peer.invalid"]]),
    "sq": ([["sq", "key", "generate", "--userid", "<sq@peer.invalid>", "--export", "{d}/sec"],
            ["sq", "key", "extract-cert", "--output", "{d}/pub", "{d}/sec"]]),
    "rnp": ([["rnpkeys", "--homedir", "{d}", "--generate-key", "--userid", "rnp@peer.invalid", "--password", ""],
             ["rnpkeys", "--homedir", "{d}", "--export-key", "--output", "{d}/pub", "rnp@peer.invalid"],
             ["rnpkeys", "--homedir", "{d}", "--export-key", "--secret", "--output", "{d}/sec", "rnp@peer.invalid"]]),
    "openpgpjs": ([["node", "--input-type=module", "-e",
                    "import * as p from 'openpgp'; import {writeFileSync as w} from 'node:fs';"
                    "const k = await p.generateKey({userIDs: [{email: 'js@peer.invalid'}]});"
                    "w('{d}/pub', k.publicKey); w('{d}/sec', k.privateKey);"]]),
}


class PeerKeys(E2ECase):
    """A key made by each peer at its defaults: the program encrypts to the
    key gpg would choose, and the peer that made the key opens the default
    output."""
    peer_decrypt = test_mdc.Peers.peer_decrypt

    def test_each_peer_opens_output_for_its_own_key(self):
        sections = [("RECURRING", HEADER, make_rows(20, 11))]
        exp = self.make_export("p.exp", sections)
        self.peer_home = self.path("peer-home")
        for peer in test_mdc.PEERS:
            with self.subTest(peer):
                why = test_mdc.peer_missing(peer)
                if why:
                    self.fail(why) if test_mdc.IN_CI else self.skipTest(why)
                d = self.path("key-" + peer)
                os.makedirs(d, mode=0o700)
                for cmd in PEER_KEYGEN[peer]:
                    subprocess.run([a.replace("{d}", d) for a in cmd], cwd=test_mdc.OPENPGPJS, check=True,
                                   capture_output=True, stdin=subprocess.DEVNULL, env=dict(os.environ, HOME=d))
                r = self.run_tool([exp, d + "/pub", "-o", peer + ".gpg"])
                self.assert_success(r, peer + ".gpg")
                self.assertEqual(test_mdc.packet_tag(self.read(peer + ".gpg")), 0xD2)
                self.assertEqual(pkesk_key_id(self.read(peer + ".gpg")), gpg_choice(self.gnupg, d + "/pub"))
                rc, plain, err = self.peer_decrypt(peer, self.path(peer + ".gpg"), d + "/sec")
                self.assertEqual((rc, plain), (0, expected_table(sections)), err)


def gpg_choice(gnupg, path):
    """The key ID gpg encrypts to when given the key file alone, or None
    when it refuses the key."""
    r = subprocess.run(["gpg", "--batch", "--quiet", "--no-auto-key-locate", "-f", path, "-e", "-o", "-"],
                       env=dict(os.environ, GNUPGHOME=gnupg), input=b"x", capture_output=True)
    return pkesk_key_id(r.stdout) if r.returncode == 0 else None


@unittest.skipUnless(os.path.exists(KEYRING), "the Debian keyring (package debian-keyring, installed by "
                     "scripts/deps.sh) is not installed")
class Keyring(E2ECase):
    def run_one(self, index, path):
        out_path = self.path("o%d.gpg" % index)
        r = self.run_tool([SAMPLE, path, "-o", out_path], key=SAMPLE_KEY)
        return r, (pkesk_key_id(self.read(out_path)) if r.returncode == 0 else None)

    def test_every_key_against_gpg(self):
        blocks = key_blocks(self.gnupg)
        self.assertGreater(len(blocks), 100)
        paths = [self.write("k%d.gpg" % i, block) for i, (_, block) in enumerate(blocks)]
        # Names relative to the folder: a Windows command line is short.
        probe = subprocess.run([tool("tests/pgp_pubkey_probe")] + [os.path.basename(p) for p in paths],
                               capture_output=True, check=True, cwd=self.dir).stdout.decode().splitlines()
        ours, counts = probe[:-1], probe[-1]
        with concurrent.futures.ThreadPoolExecutor(max(2, os.cpu_count() or 2)) as pool:
            theirs = list(pool.map(lambda p: gpg_choice(self.gnupg, p), paths))
        table, differ = {}, []
        for path, o, t in zip(paths, ours, theirs):
            refused = o.startswith("error: ")
            row = ("both refuse" if t is None else "we refuse: " + o[7:]) if refused else (
                "chosen = gpg" if o == t else "gpg refuses" if t is None else "another key than gpg's")
            table[row] = table.get(row, 0) + 1
            # Deliberate: numbers too weak, or a key the program cannot encrypt to.
            if row != "both refuse" and row != "chosen = gpg" and not re.search(r"weak public key|unsupported", o):
                differ.append((path, o, t))
        sys.stderr.write("keyring: %d keys; %s; %s\n" % (len(paths), ", ".join(
            "%s %d" % kv for kv in sorted(table.items())), counts))
        self.assertEqual(differ, [])
        self.assertRegex(counts, r"^signatures verified [1-9]\d* failed \d+$")

        # Every key the reader chose is one gpg lists as valid and able to encrypt. The program
        # writes the key ID the reader chose, or refuses with its message: run on the first key of
        # each outcome (dates aside) and every eighth key (fortieth under a wrapper such as valgrind).
        view = gpg_view(self.gnupg, KEYRING)
        for (keyid, _), o in zip(blocks, ours):
            if not o.startswith("error: "):
                pub_validity, subs, pub_caps = view[keyid]
                listed = [(keyid, pub_validity, pub_caps)] + subs
                # Validity r revoked, e expired, i invalid, n/d/x not valid: never encrypted to.
                self.assertTrue([s for s in listed if s[0] == o and not set(s[1]) & set("reinxd") and "e" in s[2]],
                                (keyid, subs))
        step, kinds, picked = 40 if os.environ.get("QTE_WRAPPER") else 8, set(), []
        for i, o in enumerate(ours):
            kind = re.sub(r"\d", "0", o) if o.startswith("error: ") else "chosen"
            if i % step == 0 or kind not in kinds:
                picked.append(i)
            kinds.add(kind)
        with concurrent.futures.ThreadPoolExecutor(max(2, os.cpu_count() or 2)) as pool:
            runs = list(pool.map(lambda i: self.run_one(i, paths[i]), picked))
        for i, (r, written) in zip(picked, runs):
            if ours[i].startswith("error: "):
                self.assertIn((PARSE_FAIL + ours[i][7:] + "\n").encode(), r.stderr, blocks[i][0])
            else:
                self.assertIsNotNone(written, r.stderr)
                self.assertEqual(written, ours[i], blocks[i][0])


if __name__ == "__main__":
    unittest.main()
