/* Inside view of the public key object, shared by the key reader and the
 * message encryption (and reached by their tests). C++ only. */
#ifndef M_PGP_PUBKEY_INT_H
#define M_PGP_PUBKEY_INT_H

#include <cstdint>

#include <openssl/bn.h>

#include "pgp/pgp_pubkey.h"

/* The key object. Allocated zero-filled by M_pgp_pubkey_create; the numbers
 * belong to it and are released by M_pgp_pubkey_destroy. */
struct M_pgp_pubkey {
    uint32_t type;        /* M_PGP_PUBKEY_TYPE_RSA or M_PGP_PUBKEY_TYPE_ELGAMAL */
    BIGNUM  *n_p;         /* RSA: modulus n. Elgamal: prime p. The encryption
                           * reads it as the modulus for both types. */
    BIGNUM  *e_g;         /* RSA: public exponent e. Elgamal: generator g */
    BIGNUM  *y;           /* RSA: NULL. Elgamal: public value y */
    uint8_t  key_id[8];   /* bytes 12..19 of the v4 fingerprint, in order */
};

#endif /* M_PGP_PUBKEY_INT_H */
