/* Which of a key's self-signatures verifies what: each signature packet
 * made by the primary key is tied to the parts of the key it may be about
 * (the primary key, a user ID or user attribute, a subkey) and verified
 * only when a choice of the key reader asks (pgp_keychoice.cpp). C++ only.
 *
 * References: RFC 4880 section 5.2.4 (what a signature over a key, user ID
 * or subkey hashes), 11.1 (the order of a transferable public key's
 * packets). */
#ifndef M_PGP_SELFSIG_INT_H
#define M_PGP_SELFSIG_INT_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "core/m_mem.h"
#include "pgp/pgp_pubkey_int.h"
#include "pgp/pgp_sig_int.h"

namespace m::detail {

/* A self-signature tied to a part of the key it may be about: the primary
 * key itself (direct-key signatures and key revocations), a user ID or user
 * attribute, or a subkey. */
struct sig_link {
	size_t  part;  /* packet index of the part */
	size_t  index; /* packet index of the signature */
	int64_t created;
};

/* A signature is tied to at most this many parts whose hash its stated
 * prefix matches: a real signature has one, and the bound keeps a file of
 * crafted collisions from costing more than a few verifications per
 * signature. */
constexpr size_t kMaxPartsPerSig = 3;

/* The one key of the file being judged. */
struct keyblock {
	const pgp_file_packet *pkts    = nullptr;
	size_t                 count   = 0;
	size_t                 primary = 0;       /* index of the primary key packet */
	sig_link              *links   = nullptr; /* room for kMaxPartsPerSig per packet */
	size_t                 nlinks  = 0;
	sig_signer             signer;
	unsigned char          fpr[kSha1Len]{};
	int64_t                now = 0;

	keyblock()                            = default;
	keyblock(const keyblock &)            = delete;
	keyblock &operator=(const keyblock &) = delete;
	~keyblock()
	{
		M_free(links);
	}

	/* gpg counts a signature as the key's own when its issuer key ID is the
	 * primary key's; others (certifications by other people, a designated
	 * revoker's revocation) are not looked at. */
	bool self_issued(const pgp_sig &s) const
	{
		return s.has_issuer && std::memcmp(s.issuer, fpr + kKeyIdOffset, sizeof(s.issuer)) == 0;
	}
	bool expired(const pgp_sig &s) const
	{
		return s.sig_expire != 0 && s.created + (int64_t)s.sig_expire <= now;
	}
	sig_subject subject(size_t part) const
	{
		if (part == primary)
			return sig_subject{0, nullptr, 0};
		return sig_subject{(uint8_t)pkts[part].tag, pkts[part].body, pkts[part].len};
	}
	bool prefix_matches(size_t part, const pgp_sig &s) const
	{
		const pgp_file_packet &pk = pkts[primary];
		return sig_prefix_matches(pk.body, pk.len, subject(part), s);
	}
	bool verify(size_t part, const pgp_sig &s)
	{
		const pgp_file_packet &pk = pkts[primary];
		return !s.unknown_critical && sig_verify(signer, pk.body, pk.len, subject(part), s, now);
	}
	void link(size_t part, size_t index, int64_t created)
	{
		links[nlinks++] = sig_link{part, index, created};
	}
	/* The links of a part, newest first (the later in the file on a tie). */
	std::pair<const sig_link *, const sig_link *> links_of(size_t part) const
	{
		return std::equal_range(links, links + nlinks, sig_link{part, 0, 0},
		                        [](const sig_link &a, const sig_link &b) { return a.part < b.part; });
	}
};

/* The kinds of self-signature a choice asks for: a direct-key signature,
 * a user ID's certification (or its revocation), a subkey binding. */
enum class sig_kind { direct, user_id, binding };

/* Ties every self-signature that a choice may rely on to its parts, then
 * orders the ties by part, newest first. Nothing is verified yet. */
void link_signatures(keyblock &kb) noexcept;

/* gpg's choice among a part's self-signatures of a kind: of those that
 * verify, the latest by creation time, the later in the file on a tie; a
 * direct-key or binding signature past its own expiration does not count.
 * Tried newest first, so one verification usually decides. The one chosen
 * in *chosen; false when none verifies. */
[[nodiscard]] bool latest_valid(keyblock &kb, size_t part, sig_kind kind, pgp_sig *chosen) noexcept;

/* Whether a revocation of the type by the primary key verifies; its date
 * does not matter, as for gpg, but is told (when) for the message. */
[[nodiscard]] bool any_valid(keyblock &kb, size_t part, uint8_t type, int64_t *when) noexcept;

} // namespace m::detail

#endif /* M_PGP_SELFSIG_INT_H */
