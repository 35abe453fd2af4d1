/* What a key file is, beside the key it may hold: the hints that follow a
 * key reader's message when the file is recognisably something else (an
 * SSH key, an X.509 certificate, an OpenPGP message), and the part a
 * fingerprint plays in the file's key (a subkey other than the one the
 * message is encrypted to).
 *
 * Nothing here decides whether a key is used: M_pgp_pubkey_create does, and
 * these functions only explain a refusal. They read the bytes given and
 * keep nothing; they may be called from any thread.
 */
#ifndef M_PGP_KEYFILE_H
#define M_PGP_KEYFILE_H

#include "core/m_defs.h"
#include "pgp/pgp_pubkey.h"

M_BEGIN_DECLS

/* What the contents of a key file are, when they are recognisably not an
 * OpenPGP public key: one line of text (no line feed) for a person to read,
 * saying what the file is and what to give instead. Recognised: an empty
 * file; an SSH public or private key; an X.509 certificate or key in PEM
 * form; an OpenPGP message or signature (armoured, or binary by its first
 * packet); an armoured public key block without its END line (a file cut
 * short); text without any OpenPGP armour, or binary data that is no
 * OpenPGP packet.
 *
 * data: the file's bytes; NULL is read as empty.
 * len:  number of bytes at data.
 *
 * Returns a static string, or NULL when the file looks like an OpenPGP key
 * (the key reader's own message then says what is wrong with it). */
M_API const char *M_pgp_keyfile_kind(const unsigned char *data, size_t len);

/* The part a key plays in a key file's key, beside the key a message is
 * encrypted to. */
typedef enum {
	M_PGP_KEYFILE_SUBKEY_NONE = 0,      /* no subkey of the file has the fingerprint */
	M_PGP_KEYFILE_SUBKEY_OLDER_ENCRYPT, /* an encryption subkey (by its binding's key flags, else its
	                                     * algorithm) created before the key encrypted to */
	M_PGP_KEYFILE_SUBKEY_OTHER          /* another subkey: for signing or authentication only, or not
	                                     * older (revoked, expired, unbound or not yet valid) */
} M_pgp_keyfile_subkey_t;

/* Which part the subkey with fingerprint fpr plays in the key file's key,
 * read from the file's packets. The binding's key flags are read without
 * verifying the binding: this explains a choice, it never makes one.
 *
 * data: the key file's bytes; NULL is read as empty.
 * len:  number of bytes at data.
 * fpr:  20-byte version-4 fingerprint; NULL: M_PGP_KEYFILE_SUBKEY_NONE.
 * key:  the key object read from the same file (the key encrypted to);
 *       NULL: M_PGP_KEYFILE_SUBKEY_NONE.
 *
 * Returns the part; M_PGP_KEYFILE_SUBKEY_NONE also for the key encrypted to
 * itself and for a file whose packets cannot be framed. */
M_API M_pgp_keyfile_subkey_t M_pgp_keyfile_subkey(const unsigned char *data, size_t len, const unsigned char *fpr,
                                                  const M_pgp_pubkey_t *key);

M_END_DECLS

#endif /* M_PGP_KEYFILE_H */
