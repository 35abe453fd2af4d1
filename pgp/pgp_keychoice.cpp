/* Choosing the encryption key of a key file as gpg 2.2 does (the rules are
 * in pgp_pubkey.h): the most recently created valid encryption subkey, else
 * the primary key when it may encrypt. What the primary key's own
 * signatures say is asked of pgp_selfsig.cpp, lazily: a subkey that could
 * not beat the one already chosen is not looked at. Only then are the
 * chosen key's numbers read and checked.
 */
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "core/m_mem.h"
#include "core/m_str_fmt.h"
#include "sys/m_time.h"
#include "pgp/pgp_pubkey_int.h"
#include "pgp/pgp_selfsig_int.h"
#include "pgp/pgp_sig_int.h"

namespace m::detail {

namespace {

/* RFC 9580's X25519 and X448 encryption algorithms. */
constexpr unsigned kPkX25519 = 25;
constexpr unsigned kPkX448   = 26;

constexpr const char *kMsgSignOnly  = "no key in the file may encrypt (sign-only key)";
constexpr const char *kMsgNoSelfSig = "public key has no valid self-signature";
constexpr const char *kMsgNoUsable  = "no usable encryption subkey (revoked, expired or not for encryption)";
constexpr const char *kMsgUnbound   = "no usable encryption subkey (no subkey binding signature verifies)";
constexpr const char *kMsgPrimAlg   = "unsupported primary key algorithm";
constexpr const char *kMsgPrimRead  = "unable to read primary key";

/* What a key of each algorithm may do (gpg's table); key flags are cut down
 * to it, and stand in for it when absent. */
unsigned algorithm_usage(unsigned alg)
{
	switch (alg) {
		case kPkRsa:
			return kPgpUseCert | kPgpUseSign | kPgpUseEncrypt | kPgpUseAuth;
		case kPkRsaEnc:
		case kPkElgamal:
		case kPkEcdh:
			return kPgpUseEncrypt;
		case kPkRsaSign:
			return kPgpUseCert | kPgpUseSign;
		case kPkDsa:
		case kPkEcdsa:
		case kPkEddsa:
		case kPkEd25519:
			return kPgpUseCert | kPgpUseSign | kPgpUseAuth;
		default:
			return 0;
	}
}

unsigned masked_usage(unsigned flags, unsigned alg)
{
	const unsigned algo = algorithm_usage(alg);
	if (flags == 0)
		return algo;
	return algo != 0 ? flags & algo : flags;
}

/* Whether a subkey's fields are damaged: cut, of the wrong length or form,
 * or followed by bytes (gpg reads a key by its fields, so a binding over
 * more bytes does not verify for it), rather than read or of an algorithm,
 * curve or key derivation this reader does not offer. gpg passes over such
 * a subkey and may then use an older one; one it can read but this reader
 * cannot use is refused as a whole. */
bool key_fields_damaged(const pgp_file_packet &sub)
{
	char                err[96] = "";
	const unsigned char fpr[kSha1Len]{};
	span_reader         reader{sub.body, sub.len};
	M_pgp_pubkey_t     *key     = pgp_read_key_fields(reader, fpr, err, sizeof(err));
	const bool          damaged = key == nullptr ? std::strncmp(err, "unsupported", 11) != 0 : reader.left != 0;
	M_pgp_pubkey_destroy(key);
	return damaged;
}

/* What the user IDs' latest self-signatures say. */
struct uid_view {
	bool     any          = false; /* one verifies (a revocation too) */
	unsigned usage        = 0;     /* key flags of the latest that has them */
	int64_t  usage_date   = 0;
	int64_t  expire       = 0; /* key expiration of the latest that sets one */
	int64_t  expire_date  = 0;
	size_t   flagged      = 0; /* latest user ID flagged primary (packet index) */
	int64_t  flagged_date = 0;
	size_t   latest       = 0; /* latest user ID otherwise */
	int64_t  latest_date  = 0;
};

void judge_user_id(keyblock &kb, size_t at, uid_view *v)
{
	pgp_sig s;
	if (!latest_valid(kb, at, sig_kind::user_id, &s))
		return;
	v->any = true;
	/* A revoked or expired user ID says nothing more. */
	if (s.type == kSigCertRevoke || kb.expired(s))
		return;
	if (s.usage != 0 && s.created > v->usage_date) {
		v->usage      = s.usage;
		v->usage_date = s.created;
	}
	if (s.key_expire != 0 && s.created > v->expire_date) {
		v->expire      = kb.signer.created + (int64_t)s.key_expire;
		v->expire_date = s.created;
	}
	size_t  &best = s.primary_uid ? v->flagged : v->latest;
	int64_t &date = s.primary_uid ? v->flagged_date : v->latest_date;
	if (s.created > date) {
		best = at;
		date = s.created;
	}
}

/* What the primary key's own signatures say about it. */
struct primary_view {
	bool     valid      = false; /* a user ID self-signature verifies */
	bool     revoked    = false;
	int64_t  revoked_on = 0; /* the revocation's date */
	unsigned usage      = 0;
	int64_t  expire     = 0; /* when the key expires; 0: never */
	size_t   user_id    = 0; /* packet index of the primary user ID; 0: none */
};

/* gpg's merge of the primary key's self-signatures: its revocations and
 * latest direct-key signature, then each user ID's latest self-signature;
 * user attributes are passed over. The direct-key signature's key flags and
 * expiration come first. As for gpg, a key needs a user ID whose
 * self-signature verifies: a direct-key signature alone does not make it
 * valid. */
void judge_primary(keyblock &kb, primary_view *pv)
{
	pgp_sig    direct;
	const bool have_direct = latest_valid(kb, kb.primary, sig_kind::direct, &direct);
	pv->revoked            = any_valid(kb, kb.primary, kSigKeyRevoke, &pv->revoked_on);
	uid_view uv;
	for (size_t i = kb.primary + 1; i < kb.count; i++) {
		if (kb.pkts[i].tag == kTagUserId)
			judge_user_id(kb, i, &uv);
	}
	pv->valid   = uv.any;
	pv->usage   = masked_usage(have_direct && direct.usage != 0 ? direct.usage : uv.usage, kb.signer.alg);
	pv->expire  = have_direct && direct.key_expire != 0 ? kb.signer.created + (int64_t)direct.key_expire : uv.expire;
	pv->user_id = uv.flagged != 0 ? uv.flagged : uv.latest;
}

/* The subkey chosen so far, and what the others were. */
struct choice {
	bool    found   = false;
	size_t  index   = 0;
	int64_t created = 0;
	int64_t expire  = 0;     /* the subkey's own expiration; 0: never */
	bool    unbound = false; /* one that could encrypt had no valid binding */
	size_t  encrypt = 0;     /* subkeys that may encrypt by algorithm and binding */
	/* The newest encryption subkey refused for being revoked or expired:
	 * when it was created, which of the two, and since when. */
	int64_t dead_created = -1;
	bool    dead_revoked = false;
	int64_t dead_since   = 0;
	/* A subkey of RFC 9580's own encryption algorithms (X25519, X448),
	 * which gpg 2.2 and this reader pass over: its name, or NULL. */
	const char *rfc9580 = nullptr;
};

/* One subkey, judged as gpg does: a binding that verifies (the latest),
 * flags (or else its algorithm) that allow encryption, not expired, not
 * revoked, not created after now, and fields that can be read (gpg passes
 * over a damaged key packet). Only a newer subkey replaces the one chosen
 * (and, as in gpg, one of time 0 while the chosen one's is 0). */
void judge_subkey(keyblock &kb, size_t at, choice *c)
{
	const pgp_file_packet &sub = kb.pkts[at];
	if (sub.len < 6)
		return;
	const int64_t  created = get_be32(sub.body + 1);
	const unsigned alg     = sub.body[5];
	if (alg == kPkX25519 || alg == kPkX448)
		c->rfc9580 = alg == kPkX25519 ? "X25519" : "X448";
	if ((algorithm_usage(alg) & kPgpUseEncrypt) == 0)
		return;
	if (created > kb.now) {
		c->encrypt++; /* an encryption subkey, only not yet usable */
		return;
	}
	if (c->found && !(created > c->created || (created == 0 && c->created == 0)))
		return;
	pgp_sig bind;
	if (!latest_valid(kb, at, sig_kind::binding, &bind)) {
		c->unbound = true;
		return;
	}
	const int64_t expire = bind.key_expire != 0 ? created + (int64_t)bind.key_expire : 0;
	if ((masked_usage(bind.usage, alg) & kPgpUseEncrypt) == 0)
		return;
	c->encrypt++;
	int64_t    revoked_on = 0;
	const bool expired    = expire != 0 && expire < kb.now;
	if (expired || any_valid(kb, at, kSigSubkeyRevoke, &revoked_on)) {
		if (created >= c->dead_created) {
			c->dead_created = created;
			c->dead_revoked = !expired;
			c->dead_since   = expired ? expire : revoked_on;
		}
		return;
	}
	if (key_fields_damaged(sub))
		return;
	c->found   = true;
	c->index   = at;
	c->created = created;
	c->expire  = expire;
}

/* Why no key may be used, when a key is revoked or has expired: which, and
 * since when (UTC), with what to do about it. */
void set_dead_error(char *error, size_t error_len, const char *which, bool revoked, int64_t since)
{
	if (error == nullptr || error_len == 0)
		return;
	M_time_tm_t tm;
	M_time_togm(since, &tm);
	(void)M_snprintf(error, error_len, "%s %s %04lld-%02lld-%02lld; ask the recipient for their current public key",
	                 which, revoked ? "was revoked on" : "expired on", static_cast<long long>(tm.year),
	                 static_cast<long long>(tm.month), static_cast<long long>(tm.day));
}

/* The encryption key: the chosen subkey, else the primary key when it may
 * encrypt; nullptr with the message why not. */
const pgp_file_packet *choose_key(keyblock &kb, primary_view *pv, choice *c, char *error, size_t error_len)
{
	link_signatures(kb);
	judge_primary(kb, pv);
	if (pv->revoked || (pv->valid && pv->expire != 0 && pv->expire < kb.now)) {
		set_dead_error(error, error_len, "public key", pv->revoked, pv->revoked ? pv->revoked_on : pv->expire);
		return nullptr;
	}
	if (!pv->valid) {
		set_error(error, error_len, kMsgNoSelfSig);
		return nullptr;
	}
	for (size_t i = kb.primary + 1; i < kb.count; i++) {
		if (kb.pkts[i].tag == kTagPublicSubkey)
			judge_subkey(kb, i, c);
	}
	if (c->found)
		return &kb.pkts[c->index];
	if (pv->usage & kPgpUseEncrypt)
		return &kb.pkts[kb.primary];
	if (c->unbound)
		set_error(error, error_len, kMsgUnbound);
	else if (c->dead_created >= 0)
		set_dead_error(error, error_len, "the key's encryption subkey", c->dead_revoked, c->dead_since);
	else if (c->encrypt == 0 && c->rfc9580 != nullptr && error != nullptr && error_len != 0)
		(void)M_snprintf(error, error_len,
		                 "the key's encryption subkey uses %s (RFC 9580), which this program cannot "
		                 "encrypt to",
		                 c->rfc9580);
	else
		set_error(error, error_len, c->encrypt == 0 ? kMsgSignOnly : kMsgNoUsable);
	return nullptr;
}

/* Fills in what a run report shows about the chosen key. */
void describe_key(M_pgp_pubkey_t *key, const keyblock &kb, const pgp_file_packet &chosen, const primary_view &pv,
                  const choice &c)
{
	std::memcpy(key->primary_fingerprint, kb.fpr, kSha1Len);
	key->created = get_be32(chosen.body + 1);
	/* The key may be used until the earlier of its own and the primary
	 * key's expiration. */
	const int64_t own = &chosen == &kb.pkts[kb.primary] ? 0 : c.expire;
	key->expires      = own == 0 ? pv.expire : (pv.expire == 0 ? own : std::min(own, pv.expire));
	if (pv.user_id != 0) {
		/* Whole, a NUL inside included: a report must not show less of
		 * the user ID than there is ("Alice <a@x>\0 Mallory"). */
		const pgp_file_packet &uid = kb.pkts[pv.user_id];
		key->user_id               = static_cast<char *>(M_malloc(uid.len + 1));
		key->user_id_len           = uid.len;
		std::memcpy(key->user_id, uid.body, uid.len);
		key->user_id[uid.len] = '\0';
	}
}

/* "<which> <key ID>: <problem>", for a key whose point must not be used. */
void set_point_error(char *error, size_t error_len, const char *which, const unsigned char fpr[kSha1Len],
                     const char *problem)
{
	if (error == nullptr || error_len == 0)
		return;
	char id[17];
	for (size_t i = 0; i < 8; i++)
		(void)M_snprintf(id + 2 * i, 3, "%02X", fpr[kKeyIdOffset + i]);
	(void)M_snprintf(error, error_len, "%s %s: %s", which, id, problem);
}

/* Sets up the judgement of the primary key at packets[primary]: its
 * fingerprint and verifier. False with the message when it cannot be used. */
bool open_primary(keyblock &kb, const pgp_file_packet *pkts, size_t count, size_t primary, char *error,
                  size_t error_len)
{
	const pgp_file_packet &pk = pkts[primary];
	kb.pkts                   = pkts;
	kb.count                  = count;
	kb.primary                = primary;
	kb.now                    = M_time();
	if (!pgp_v4_fingerprint(pk.body, pk.len, kb.fpr)) {
		set_error(error, error_len, "read_public_key: fingerprint failure");
		return false;
	}
	const signer_status st = sig_signer_init(&kb.signer, pk.body, pk.len);
	if (st == signer_status::degenerate) {
		set_point_error(error, error_len, "primary key", kb.fpr, kb.signer.problem);
		return false;
	}
	if (st != signer_status::ok) {
		set_error(error, error_len, st == signer_status::unsupported ? kMsgPrimAlg : kMsgPrimRead);
		return false;
	}
	kb.links = static_cast<sig_link *>(M_malloc(count * kMaxPartsPerSig * sizeof(sig_link)));
	return true;
}

} // namespace

M_pgp_pubkey_t *pgp_choose_key(const pgp_file_packet *pkts, size_t count, size_t primary, char *error,
                               size_t error_len) noexcept
{
	keyblock kb;
	if (!open_primary(kb, pkts, count, primary, error, error_len))
		return nullptr;
	primary_view           pv;
	choice                 c;
	const pgp_file_packet *chosen = choose_key(kb, &pv, &c, error, error_len);
	if (chosen == nullptr)
		return nullptr;
	M_pgp_pubkey_t *key  = pgp_read_key_packet(chosen->body, chosen->len, error, error_len);
	const char     *weak = key != nullptr ? pgp_weak_numbers(key) : nullptr;
	if (weak != nullptr) {
		if (key->type == M_PGP_PUBKEY_TYPE_ECDH)
			set_point_error(error, error_len, "subkey", key->fingerprint, weak);
		else
			set_error(error, error_len, weak);
		M_pgp_pubkey_destroy(key);
		return nullptr;
	}
	if (key != nullptr)
		describe_key(key, kb, *chosen, pv, c);
	return key;
}

} // namespace m::detail
