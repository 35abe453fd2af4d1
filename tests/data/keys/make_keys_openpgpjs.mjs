// Makes the test key that gpg 2.2 cannot: ed25519_native, a version-4 key
// whose primary key is Ed25519 in the native form (algorithm 27) and whose
// encryption subkey is ECDH on Curve25519 (algorithm 18), with OpenPGP.js
// (installed by scripts/deps.sh). Writes ed25519_native.gpg (binary public
// key) and ed25519_native.keyid (the subkey the reader must choose).
// Run from the project root: node tests/data/keys/make_keys_openpgpjs.mjs
import { writeFileSync } from 'node:fs';
import * as openpgp from '../../e2e/openpgpjs/node_modules/openpgp/dist/node/openpgp.mjs';

const here = new URL('.', import.meta.url).pathname;
const { publicKey } = await openpgp.generateKey({
  type: 'curve25519',
  userIDs: [{ name: 'Test ed25519_native', email: 'ed25519_native@test.invalid' }],
  subkeys: [{ type: 'ecc', curve: 'curve25519Legacy' }],
  format: 'binary',
});
writeFileSync(here + 'ed25519_native.gpg', publicKey);
const key = await openpgp.readKey({ binaryKey: publicKey });
writeFileSync(here + 'ed25519_native.keyid', key.subkeys[0].getKeyID().toHex().toUpperCase() + '\n');

// x25519_subkey: what OpenPGP.js 6 makes by default for type 'curve25519' (a
// version-4 key, Ed25519 primary, X25519 encryption subkey, algorithm 25 of
// RFC 9580), which this program cannot encrypt to and must say so.
const x25519 = await openpgp.generateKey({
  type: 'curve25519',
  userIDs: [{ name: 'Test x25519_subkey', email: 'x25519_subkey@test.invalid' }],
  format: 'binary',
});
writeFileSync(here + 'x25519_subkey.gpg', x25519.publicKey);
