/* Which of a key's self-signatures verifies what; see pgp_selfsig_int.h.
 *
 * Each self-signature is first tied to the parts of the key it may be about
 * (the primary key, a user ID, a subkey), wherever it sits, by the hash
 * prefix it states; nothing is verified then. Verification is lazy: of the
 * signatures tied to a part that could decide a question (the latest binding
 * of a subkey, the latest self-signature of a user ID), the newest is
 * verified first and older ones only when it fails.
 */
#include "pgp/pgp_selfsig_int.h"

namespace m::detail {

namespace {

bool is_user_part(unsigned tag)
{
	return tag == kTagUserId || tag == kTagUserAttr;
}

/* The parts a signature type may be about: the primary key alone (the
 * primary's index), user IDs and attributes, or subkeys; 0 for a type that
 * no choice here looks at. */
unsigned part_tag(uint8_t type)
{
	if (type == kSigDirectKey || type == kSigKeyRevoke)
		return kTagPublicKey;
	if ((type >= kSigCertFirst && type <= kSigCertLast) || type == kSigCertRevoke)
		return kTagUserId;
	return type == kSigSubkeyBind || type == kSigSubkeyRevoke ? kTagPublicSubkey : 0;
}

bool part_fits(const pgp_file_packet &p, unsigned tag)
{
	return tag == kTagUserId ? is_user_part(p.tag) : p.tag == tag;
}

/* Ties a self-signature over a user ID or subkey to the parts it may be
 * about, wherever it sits. The two bytes of hash it states point to its
 * part: first the part it follows, then every other part of its kind. When
 * they match none, it is tied to the part it follows, as a signature whose
 * stated bytes are wrong still counts there (gpg does not compare them). */
void link_to_parts(keyblock &kb, size_t at, const pgp_sig &s, unsigned tag, size_t placed)
{
	const bool in_place = placed != kb.primary && part_fits(kb.pkts[placed], tag);
	if (in_place && kb.prefix_matches(placed, s)) {
		kb.link(placed, at, s.created);
		return;
	}
	size_t found = 0;
	for (size_t j = kb.primary + 1; j < kb.count && found < kMaxPartsPerSig; j++) {
		if (j != placed && part_fits(kb.pkts[j], tag) && kb.prefix_matches(j, s)) {
			kb.link(j, at, s.created);
			found++;
		}
	}
	if (found == 0 && in_place)
		kb.link(placed, at, s.created);
}

bool kind_has(sig_kind kind, uint8_t type)
{
	if (kind == sig_kind::direct)
		return type == kSigDirectKey;
	if (kind == sig_kind::binding)
		return type == kSigSubkeyBind;
	return (type >= kSigCertFirst && type <= kSigCertLast) || type == kSigCertRevoke;
}

} // namespace

void link_signatures(keyblock &kb) noexcept
{
	size_t placed = kb.primary;
	for (size_t i = kb.primary + 1; i < kb.count; i++) {
		const pgp_file_packet &p = kb.pkts[i];
		pgp_sig                s;
		if (is_user_part(p.tag) || p.tag == kTagPublicSubkey)
			placed = i;
		if (p.tag != kTagSignature || !sig_parse(p.body, p.len, &s) || !kb.self_issued(s) || s.unknown_critical)
			continue;
		const unsigned tag = part_tag(s.type);
		if (tag == kTagPublicKey)
			kb.link(kb.primary, i, s.created);
		else if (tag != 0)
			link_to_parts(kb, i, s, tag, placed);
	}
	std::sort(kb.links, kb.links + kb.nlinks, [](const sig_link &a, const sig_link &b) {
		if (a.part != b.part)
			return a.part < b.part;
		return a.created != b.created ? a.created > b.created : a.index > b.index;
	});
}

bool latest_valid(keyblock &kb, size_t part, sig_kind kind, pgp_sig *chosen) noexcept
{
	const auto range = kb.links_of(part);
	for (const sig_link *l = range.first; l != range.second; l++) {
		const pgp_file_packet &p = kb.pkts[l->index];
		if (sig_parse(p.body, p.len, chosen) && kind_has(kind, chosen->type) &&
		    (kind == sig_kind::user_id || !kb.expired(*chosen)) && kb.verify(part, *chosen))
			return true;
	}
	return false;
}

bool any_valid(keyblock &kb, size_t part, uint8_t type, int64_t *when) noexcept
{
	const auto range = kb.links_of(part);
	for (const sig_link *l = range.first; l != range.second; l++) {
		const pgp_file_packet &p = kb.pkts[l->index];
		pgp_sig                s;
		if (sig_parse(p.body, p.len, &s) && s.type == type && kb.verify(part, s)) {
			*when = s.created;
			return true;
		}
	}
	return false;
}

} // namespace m::detail
