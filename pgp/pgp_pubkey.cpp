/* OpenPGP public key reader. */
#include "pgp/pgp_pubkey.h"

#include "core/m_mem.h"
#include "pgp/pgp_pubkey_int.h"

extern "C" {

M_pgp_pubkey_t *M_pgp_pubkey_create(const unsigned char *data, size_t data_len, char *error,
                                    size_t error_len)
{
    M_UNUSED(data);
    M_UNUSED(data_len);
    M_UNUSED(error);
    M_UNUSED(error_len);
    return nullptr;
}

void M_pgp_pubkey_destroy(M_pgp_pubkey_t *key)
{
    if (key == nullptr)
        return;
    if (key->type == M_PGP_PUBKEY_TYPE_RSA) {
        BN_free(key->n_p);
        BN_free(key->e_g);
    } else if (key->type == M_PGP_PUBKEY_TYPE_ELGAMAL) {
        BN_free(key->n_p);
        BN_free(key->e_g);
        BN_free(key->y);
    }
    M_free(key);
}

} // extern "C"
