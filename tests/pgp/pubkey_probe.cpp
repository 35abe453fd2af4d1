/* Test helper for the keyring test (tests/e2e/test_keyring.py): reads each
 * key file named on the command line with M_pgp_pubkey_create and prints one
 * line per file, the key ID chosen ("error: <message>" when refused), then
 * the number of signature verifications that passed and failed. */
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "pgp/pgp_pubkey.h"
#include "pgp/pgp_sig_int.h"

int main(int argc, char **argv)
{
	for (int i = 1; i < argc; i++) {
		std::ifstream                    in(argv[i], std::ios::binary);
		const std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
		char                             err[256] = "";
		M_pgp_pubkey_t                  *key      = M_pgp_pubkey_create(data.data(), data.size(), err, sizeof(err));
		if (key == nullptr) {
			std::printf("error: %s\n", err);
			continue;
		}
		const unsigned char *id = M_pgp_pubkey_key_id(key);
		for (int b = 0; b < 8; b++)
			std::printf("%02X", id[b]);
		std::printf("\n");
		M_pgp_pubkey_destroy(key);
	}
	uint64_t verified = 0, failed = 0;
	m::detail::sig_counts(&verified, &failed);
	std::printf("signatures verified %llu failed %llu\n", (unsigned long long)verified, (unsigned long long)failed);
	return 0;
}
