/* Reading a public key from arbitrary bytes, as given (binary packets or an
 * armoured text) and wrapped in a well-formed armour around the bytes, so the
 * packet reader behind the armour is reached with arbitrary packets too. */
#include <cstdint>
#include <string>

#include "core/m_mem.h"
#include "formats/m_base64.h"
#include "fuzz_common.h"
#include "pgp/pgp_pubkey.h"

namespace {

/* The armour checksum over the binary data. */
uint32_t crc24(const unsigned char *p, size_t n)
{
	uint32_t crc = 0xB704CEu;
	for (size_t i = 0; i < n; i++) {
		crc ^= static_cast<uint32_t>(p[i]) << 16;
		for (int b = 0; b < 8; b++) {
			crc <<= 1;
			if (crc & 0x1000000u)
				crc ^= 0x1864CFBu;
		}
	}
	return crc & 0xFFFFFFu;
}

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
	const uint32_t      crc     = crc24(in.get(), size);
	const unsigned char crcb[3] = {static_cast<unsigned char>(crc >> 16), static_cast<unsigned char>(crc >> 8),
	                               static_cast<unsigned char>(crc)};
	char                crctext[8];
	(void)M_base64_encode(crctext, sizeof(crctext), crcb, 3, 0);

	std::string armour = "-----BEGIN PGP PUBLIC KEY BLOCK-----\nComment: fuzz\n\n";
	armour.append(b64.data(), n);
	armour += "\n=";
	armour += crctext;
	armour += "\n-----END PGP PUBLIC KEY BLOCK-----\n";
	std::vector<unsigned char> arm(armour.begin(), armour.end());
	try_key(arm.data(), arm.size());
	return 0;
}
