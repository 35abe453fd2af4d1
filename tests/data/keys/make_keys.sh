#!/bin/sh
# Regenerates the OpenPGP test keys of this folder with GnuPG.
#
# The keys are for tests only: they have no passphrase and their secret halves
# are kept beside the public ones so the tests can decrypt what the library
# encrypts. Never use them for anything else.
#
# For each key NAME the folder holds:
#   NAME.asc       public key block, ASCII armour, LF line ends
#   NAME.crlf.asc  the same text with CRLF line ends
#   NAME.hdr.asc   armoured with armour header lines (Version, Comment)
#   NAME.gpg       public key block, binary packets
#   NAME.sec.asc   secret key block (armoured, unprotected)
#   NAME.keyid     long key ID of the first encryption subkey, as gpg lists it
#                  (empty for the sign-only key)
#
# Keys:
#   rsa2048, rsa3072, rsa4096  RSA primary (sign) + RSA encryption subkey
#   elg2048                    DSA 2048 primary + Elgamal 2048 encryption subkey
#   two_subkeys                RSA 2048 primary + RSA 2048 and RSA 3072
#                              encryption subkeys, in that order
#   sign_only                  RSA 2048 primary, sign only, no subkey
#
# Usage: sh make_keys.sh   (run in this folder; overwrites the files)
set -eu

here=$(cd "$(dirname "$0")" && pwd)
GNUPGHOME=$(mktemp -d)
export GNUPGHOME
trap 'gpgconf --kill all >/dev/null 2>&1 || true; rm -rf "$GNUPGHOME"' EXIT

gen() {
    name=$1
    shift
    {
        printf '%s\n' "%no-protection"
        for line in "$@"; do printf '%s\n' "$line"; done
        printf '%s\n' "Name-Real: Test $name" "Name-Email: $name@test.invalid" \
            "Expire-Date: 0" "%commit"
    } | gpg --batch --quiet --gen-key
}

gen rsa2048 "Key-Type: RSA" "Key-Length: 2048" "Key-Usage: sign" \
    "Subkey-Type: RSA" "Subkey-Length: 2048" "Subkey-Usage: encrypt"
gen rsa3072 "Key-Type: RSA" "Key-Length: 3072" "Key-Usage: sign" \
    "Subkey-Type: RSA" "Subkey-Length: 3072" "Subkey-Usage: encrypt"
gen rsa4096 "Key-Type: RSA" "Key-Length: 4096" "Key-Usage: sign" \
    "Subkey-Type: RSA" "Subkey-Length: 4096" "Subkey-Usage: encrypt"
gen elg2048 "Key-Type: DSA" "Key-Length: 2048" "Key-Usage: sign" \
    "Subkey-Type: ELG-E" "Subkey-Length: 2048" "Subkey-Usage: encrypt"
gen two_subkeys "Key-Type: RSA" "Key-Length: 2048" "Key-Usage: sign" \
    "Subkey-Type: RSA" "Subkey-Length: 2048" "Subkey-Usage: encrypt"
gen sign_only "Key-Type: RSA" "Key-Length: 2048" "Key-Usage: sign"

# The second encryption subkey of two_subkeys.
fpr=$(gpg --batch --with-colons --list-keys two_subkeys@test.invalid |
      awk -F: '$1 == "fpr" { print $10; exit }')
gpg --batch --quiet --pinentry-mode loopback --passphrase "" \
    --quick-add-key "$fpr" rsa3072 encr never

for name in rsa2048 rsa3072 rsa4096 elg2048 two_subkeys sign_only; do
    uid="$name@test.invalid"
    gpg --batch --armor --export "$uid" > "$here/$name.asc"
    sed 's/$/\r/' "$here/$name.asc" > "$here/$name.crlf.asc"
    gpg --batch --armor --emit-version \
        --comment "Test key $name, not for real use" --export "$uid" \
        > "$here/$name.hdr.asc"
    gpg --batch --export "$uid" > "$here/$name.gpg"
    gpg --batch --armor --export-secret-keys "$uid" > "$here/$name.sec.asc"
    # First subkey with the encryption capability ("e" in field 12).
    gpg --batch --with-colons --list-keys "$uid" |
        awk -F: '$1 == "sub" && $12 ~ /e/ { print $5; exit }' > "$here/$name.keyid"
done
