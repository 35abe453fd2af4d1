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
# Keys whose state decides which subkey may be used (Ed25519 or ECDSA primary,
# small subkeys; for each only NAME.asc, NAME.keyid and, where the tests
# decrypt, NAME.sec.asc are kept; NAME.keyid holds the subkey the reader must
# choose, empty when none may be used):
#   revoked_first    RSA 1024 encryption subkey (revoked), then a valid one
#   revoked_only     its only encryption subkey revoked
#   expired_first    RSA 1024 encryption subkey expired in 2020, then a valid one
#   expired_only     its only encryption subkey expired in 2020
#   sign_first       Ed25519 signing subkey, then an RSA 1024 encryption subkey
#   revoked_primary  the primary key revoked; one valid-looking RSA subkey
#   expired_primary  the primary key expired in 2020; one RSA subkey that
#                    never expires
#   revoked_appended a Curve25519 subkey, and after the key's armour the
#                    revocation certificate gpg stored when it made the key
#                    (as `cat key.asc revoke.asc` gives it); NAME.asc only
#   cv25519          Ed25519 primary + Curve25519 ECDH subkey (gpg's default)
#   p256, p384, p521 ECDSA primary + ECDH subkey on the NIST curve
#
# Keys for the choice among several keys (NAME.asc, NAME.gpg, NAME.keyid):
#   newer_subkey     Ed25519 primary; RSA 1024 encryption subkey made in 2020,
#                    then a Curve25519 one made now that expires in 10
#                    years: the newer is chosen
#   primary_encrypts RSA 2048 primary certified for signing and encryption,
#                    no subkey: the primary key is chosen
#   uid_expiry       made in 2020 with user ID A and a key expiration of one
#                    day (uid_expiry_2020.gpg), then in 2021 made never to
#                    expire, and user ID B added (uid_expiry.gpg)
#
# ed25519_native (Ed25519 primary of algorithm 27, which gpg 2.2 cannot make)
# comes from make_keys_openpgpjs.mjs beside this script.
#
# Usage: sh make_keys.sh [states|choice]   (run in this folder; overwrites the
# files; "states" or "choice" remakes only that group)
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

only_states=${1:-}
q="--batch --quiet --pinentry-mode loopback"
past="--faked-system-time 20200101T000000"

fpr_of() {
    gpg --batch --with-colons --list-keys "$1" | awk -F: '$1 == "fpr" { print $10; exit }'
}

# quick NAME PRIMARY-ALGO [FAKETIME-OPTS]: a key with a primary for signing.
quick() {
    # shellcheck disable=SC2086
    gpg $q --passphrase '' ${3:-} --quick-gen-key "Test $1 <$1@test.invalid>" "$2" sign "${4:-never}" 2>/dev/null
}

# sub NAME ALGO USAGE [EXPIRY] [FAKETIME-OPTS]
sub() {
    # shellcheck disable=SC2086
    gpg $q --passphrase '' ${5:-} --quick-add-key "$(fpr_of "$1@test.invalid")" "$2" "$3" "${4:-never}"
}

# revoke_sub NAME INDEX: revokes the INDEX-th subkey (from 1), reason 0.
revoke_sub() {
    printf 'key %s\nrevkey\ny\n0\n\ny\nsave\n' "$2" |
        gpg --batch --command-fd 0 --pinentry-mode loopback --passphrase '' \
            --edit-key "$(fpr_of "$1@test.invalid")" >/dev/null 2>&1 || true
    # gpg's exit status says little here: check that the subkey is revoked.
    gpg --batch --with-colons --list-keys "$1@test.invalid" |
        awk -F: -v n="$2" '$1 == "sub" && ++i == n { exit ($2 == "r" ? 0 : 1) }'
}

# Index (from 1) of the subkey the reader must take, or 0 for none.
export_state_key() {
    name=$1 pick=$2 secret=${3:-}
    uid="$name@test.invalid"
    gpg --batch --armor --export "$uid" > "$here/$name.asc"
    if [ "$pick" -eq 0 ]; then
        : > "$here/$name.keyid"
    else
        gpg --batch --with-colons --list-keys "$uid" |
            awk -F: -v n="$pick" '$1 == "sub" && ++i == n { print $5 }' > "$here/$name.keyid"
    fi
    [ -z "$secret" ] || gpg --batch --armor --export-secret-keys "$uid" > "$here/$name.sec.asc"
}

make_revoked_appended() {
    quick revoked_appended ed25519
    sub revoked_appended cv25519 encr
    gpg --batch --armor --export revoked_appended@test.invalid > "$here/revoked_appended.asc"
    # The stored certificate without the text before it and the guarding ":".
    sed -n '/^:-----BEGIN/,$p' "$GNUPGHOME/openpgp-revocs.d/$(fpr_of revoked_appended@test.invalid).rev" |
        sed 's/^://' >> "$here/revoked_appended.asc"
}

make_states() {
    quick revoked_first ed25519
    sub revoked_first rsa1024 encr
    sub revoked_first rsa1024 encr
    revoke_sub revoked_first 1
    export_state_key revoked_first 2 secret

    quick revoked_only ed25519
    sub revoked_only rsa1024 encr
    revoke_sub revoked_only 1
    export_state_key revoked_only 0

    quick expired_first ed25519 "$past"
    sub expired_first rsa1024 encr 1d "$past"
    sub expired_first rsa1024 encr
    export_state_key expired_first 2

    quick expired_only ed25519 "$past"
    sub expired_only rsa1024 encr 1d "$past"
    export_state_key expired_only 0

    quick sign_first ed25519
    sub sign_first ed25519 sign
    sub sign_first rsa1024 encr
    export_state_key sign_first 2 secret

    quick revoked_primary ed25519
    sub revoked_primary rsa1024 encr
    rev="$GNUPGHOME/openpgp-revocs.d/$(fpr_of revoked_primary@test.invalid).rev"
    # The stored certificate is guarded by a ":" before its armour line.
    sed 's/^:-----BEGIN/-----BEGIN/' "$rev" | gpg --batch --quiet --import 2>/dev/null
    export_state_key revoked_primary 0

    make_revoked_appended

    quick expired_primary ed25519 "$past" 1d
    sub expired_primary rsa1024 encr never "$past"
    export_state_key expired_primary 0

    quick cv25519 ed25519
    sub cv25519 cv25519 encr
    export_state_key cv25519 1 secret
    for c in p256 p384 p521; do
        quick $c nist$c
        sub $c nist$c encr
        export_state_key $c 1 secret
    done
}

make_choice() {
    quick newer_subkey ed25519 "$past"
    sub newer_subkey rsa1024 encr never "$past"
    sub newer_subkey cv25519 encr 10y
    export_state_key newer_subkey 2
    gpg --batch --export newer_subkey@test.invalid > "$here/newer_subkey.gpg"

    gpg $q --passphrase '' --quick-gen-key "Test primary_encrypts <primary_encrypts@test.invalid>" \
        rsa2048 sign,encr never 2>/dev/null
    gpg --batch --armor --export primary_encrypts@test.invalid > "$here/primary_encrypts.asc"
    gpg --batch --export primary_encrypts@test.invalid > "$here/primary_encrypts.gpg"
    gpg --batch --with-colons --list-keys primary_encrypts@test.invalid |
        awk -F: '$1 == "pub" { print $5 }' > "$here/primary_encrypts.keyid"

    quick uid_expiry ed25519 "$past" 1d
    sub uid_expiry cv25519 encr never "$past"
    gpg --batch --export uid_expiry@test.invalid > "$here/uid_expiry_2020.gpg"
    fpr=$(fpr_of uid_expiry@test.invalid)
    gpg $q --passphrase '' --faked-system-time 20210101T000000 --quick-set-expire "$fpr" 0
    gpg $q --passphrase '' --faked-system-time 20210101T000100 --quick-add-uid "$fpr" \
        "Test uid_expiry B <uid_expiry_b@test.invalid>"
    gpg --batch --export uid_expiry@test.invalid > "$here/uid_expiry.gpg"
    gpg --batch --with-colons --list-keys uid_expiry@test.invalid |
        awk -F: '$1 == "sub" { print $5 }' > "$here/uid_expiry.keyid"
}

if [ "$only_states" = states ]; then
    make_states
    exit 0
fi
if [ "$only_states" = choice ]; then
    make_choice
    exit 0
fi

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

make_states
make_choice
