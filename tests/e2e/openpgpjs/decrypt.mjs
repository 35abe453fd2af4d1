// Decrypts one binary OpenPGP message with OpenPGP.js at its default
// settings, as a recipient using that library would.
//
// usage: node decrypt.mjs SECRET-KEY.asc MESSAGE OUTPUT
// Exit 0 with the plaintext in OUTPUT; exit 1 with the library's message on
// standard error and OUTPUT not written.
import { readFile, writeFile } from 'node:fs/promises';
import * as openpgp from 'openpgp';

const [keyFile, msgFile, outFile] = process.argv.slice(2);
try {
  const decryptionKeys = await openpgp.readPrivateKey({ armoredKey: await readFile(keyFile, 'utf8') });
  const message = await openpgp.readMessage({ binaryMessage: await readFile(msgFile) });
  const { data } = await openpgp.decrypt({ message, decryptionKeys, format: 'binary' });
  await writeFile(outFile, data);
} catch (e) {
  process.stderr.write(`${e && e.message ? e.message : e}\n`);
  process.exit(1);
}
