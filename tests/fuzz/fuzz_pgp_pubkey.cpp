/* Reading a public key from arbitrary bytes, as given (binary packets or an
 * armoured text) and wrapped in a well-formed armour around the bytes, so the
 * packet reader behind the armour is reached with arbitrary packets too. The
 * armour has no checksum line (it is optional), so no input is stopped by
 * its CRC-24. */

#include "formats/m_base64.h"
#include "fuzz_common.h"
#include "pgp/pgp_pubkey.h"

namespace {

void try_key(const unsigned char *p, size_t n)
{
	char err[256];
	std::memset(err, 'x', sizeof(err));
	M_pgp_pubkey_t *key = M_pgp_pubkey_create(p, n, err, sizeof(err));
	if (key == nullptr)
		FUZZ_CHECK(std::memchr(err, '\0', sizeof(err)) != nullptr);
	M_pgp_pubkey_destroy(key);
	/* A tiny error buffer must be cut, never overrun. */
	char tiny[3];
	key = M_pgp_pubkey_create(p, n, tiny, sizeof(tiny));
	M_pgp_pubkey_destroy(key);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	fuzz_copy<unsigned char> in(data, size);
	try_key(in.get(), size);

	if (size == 0 || size > 64 * 1024)
		return 0;
	const size_t      b64len = M_base64_encode_size(size, 64);
	std::vector<char> b64(b64len);
	const size_t      n = M_base64_encode(b64.data(), b64len, in.get(), size, 64);
	FUZZ_CHECK(n > 0);
	std::string armour = "-----BEGIN PGP PUBLIC KEY BLOCK-----\nComment: fuzz\n\n";
	armour.append(b64.data(), n);
	armour += "\n-----END PGP PUBLIC KEY BLOCK-----\n";
	std::vector<unsigned char> arm(armour.begin(), armour.end());
	try_key(arm.data(), arm.size());
	return 0;
}
