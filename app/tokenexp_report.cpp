/* The run report of -v and the progress line at a terminal. */
#include "app/tokenexp_report.h"

#include "core/m_str.h"
#include "core/m_str_fmt.h"
#include "fs/m_fs_info.h"
#include "fs/m_platform.h"
#include "sys/m_term.h"

#include <cstdio>

namespace {

/* Descriptor of standard error, where both the report and the line go. */
constexpr int kStderr = 2;

/* The line appears once the walk has taken longer than this, and is drawn
 * again at most this often: often enough to see it move, rarely enough
 * that a terminal over a slow link keeps up. */
constexpr uint64_t kProgressAfterMs  = 1000;
constexpr uint64_t kProgressEveryMs  = 250;
constexpr size_t   kProgressLineRoom = 96;

/* Width of the report's labels, the value starting in the same column on
 * every line ("Encrypted to:" and two spaces). */
constexpr int kLabelWidth = 15;

/* Length of the well-formed UTF-8 sequence at s (len bytes left), 0 when
 * there is none there. The second byte's range depends on the first, which
 * rules out overlong forms, surrogates and code points past U+10FFFF; the
 * C1 controls (U+0080 to U+009F, C2 80 to C2 9F) count as no sequence, as
 * some terminals obey them. */
size_t utf8_sequence(const unsigned char *s, size_t len)
{
	const unsigned char lead   = s[0];
	size_t              need   = 0;
	unsigned char       second = 0x80;
	unsigned char       last   = 0xBF;
	if (lead >= 0xC2 && lead <= 0xDF) {
		need   = 2;
		second = lead == 0xC2 ? 0xA0 : 0x80;
	} else if (lead >= 0xE0 && lead <= 0xEF) {
		need   = 3;
		second = lead == 0xE0 ? 0xA0 : 0x80;
		last   = lead == 0xED ? 0x9F : 0xBF;
	} else if (lead >= 0xF0 && lead <= 0xF4) {
		need   = 4;
		second = lead == 0xF0 ? 0x90 : 0x80;
		last   = lead == 0xF4 ? 0x8F : 0xBF;
	}
	if (need == 0 || len < need || s[1] < second || s[1] > last)
		return 0;
	for (size_t i = 2; i < need; i++) {
		if ((s[i] & 0xC0) != 0x80)
			return 0;
	}
	return need;
}

/* The code point of a well-formed UTF-8 sequence of len bytes. */
uint32_t code_point(const unsigned char *s, size_t len)
{
	static constexpr unsigned char kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
	uint32_t                       cp          = s[0] & kLeadBits[len];
	for (size_t i = 1; i < len; i++)
		cp = (cp << 6) | (s[i] & 0x3Fu);
	return cp;
}

/* Code points a terminal shows as nothing, or that reorder or break what
 * follows them, so that a user ID could read as something it is not
 * ("A \u202Egpj.exe" shows as "A exe.jpg"): the bidirectional embeddings,
 * overrides, isolates and marks, the line and paragraph separators, and the
 * characters Unicode makes invisible by default (zero-width spaces and
 * joiners, the byte order mark, fillers, variation selectors, tags). */
constexpr struct {
	uint32_t first;
	uint32_t last;
} kHidden[] = {
    {0x00AD, 0x00AD}, {0x034F, 0x034F}, {0x061C, 0x061C},   {0x115F, 0x1160},   {0x17B4, 0x17B5},   {0x180B, 0x180F},
    {0x200B, 0x200F}, {0x2028, 0x202E}, {0x2060, 0x206F},   {0x3164, 0x3164},   {0xFE00, 0xFE0F},   {0xFEFF, 0xFEFF},
    {0xFFA0, 0xFFA0}, {0xFFF0, 0xFFFB}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0000, 0xE0FFF},
};

bool hidden(uint32_t cp)
{
	for (const auto &r : kHidden) {
		if (cp >= r.first && cp <= r.last)
			return true;
	}
	return false;
}

void add_label(M_buf_t *out, const char *label)
{
	M_bprintf(out, "%-*s", kLabelWidth, label);
}

void add_date(M_buf_t *out, M_time_t t)
{
	M_time_tm_t tm;
	M_time_togm(t, &tm);
	M_bprintf(out, "%04lld-%02lld-%02lld", static_cast<long long>(tm.year), static_cast<long long>(tm.month),
	          static_cast<long long>(tm.day));
}

/* The key encrypted to as gpg names it: "rsa3072/KEYID, created ...". */
void add_key(M_buf_t *out, const M_pgp_pubkey_t *key)
{
	switch (M_pgp_pubkey_type(key)) {
		case M_PGP_PUBKEY_TYPE_RSA:
			M_bprintf(out, "rsa%zu", M_pgp_pubkey_bits(key));
			break;
		case M_PGP_PUBKEY_TYPE_ELGAMAL:
			M_bprintf(out, "elg%zu", M_pgp_pubkey_bits(key));
			break;
		case M_PGP_PUBKEY_TYPE_ECDH:
			M_buf_add_str(out, M_pgp_pubkey_curve(key));
			break;
		case M_PGP_PUBKEY_TYPE_NONE:
			break;
	}
	const unsigned char *id = M_pgp_pubkey_key_id(key);
	M_buf_add_byte(out, '/');
	for (size_t i = 0; id != nullptr && i < 8; i++)
		M_bprintf(out, "%02X", id[i]);
	M_buf_add_str(out, ", created ");
	add_date(out, M_pgp_pubkey_created(key));
	M_buf_add_str(out, ", expires ");
	if (M_pgp_pubkey_expires(key) == 0)
		M_buf_add_str(out, "never");
	else
		add_date(out, M_pgp_pubkey_expires(key));
}

} // namespace

void tokenexp_totals_add_block(tokenexp_run_totals_t *totals, M_bool first_of_section,
                               const tokenexp_row_counts_t *rows)
{
	totals->blocks++;
	if (first_of_section)
		totals->sections++;
	if (rows != nullptr)
		tokenexp_row_counts_add(&totals->rows, rows);
}

void tokenexp_fs_reason(M_fs_error_t res, char *reason, size_t reason_len)
{
	/* The system's words are capitalised; the program's own follow suit. */
	const char *own = nullptr;
	switch (res) {
		case M_FS_ERROR_FILE_TOO_BIG:
			/* The one file read whole under a limit is the key file. */
			own = "Larger than 64 MiB, too large for a public key file";
			break;
		case M_FS_ERROR_LINK_LOOP:
			own = "Too many levels of symbolic links";
			break;
		case M_FS_ERROR_NAME_TOO_LONG:
			own = "File name too long";
			break;
		default:
			break;
	}
	if (reason == nullptr || reason_len == 0 || (own == nullptr && M_platform_strerror(reason, reason_len)))
		return;
	/* No system call failed: the path itself could not be made out. */
	if (own == nullptr && (res == M_FS_ERROR_GENERIC || res == M_FS_ERROR_INVALID))
		own = "The path cannot be used (does it name an unset or empty variable?)";
	M_snprintf(reason, reason_len, "%s", own != nullptr ? own : "Failed, and the system gave no reason");
}

void tokenexp_report_add_fingerprint(M_buf_t *out, const unsigned char *fpr)
{
	/* gpg's way: four hex digits to a group, two spaces in the middle. */
	constexpr size_t kFprLen = 20;
	for (size_t i = 0; fpr != nullptr && i < kFprLen; i += 2) {
		if (i != 0)
			M_buf_add_str(out, i == kFprLen / 2 ? "  " : " ");
		M_bprintf(out, "%02X%02X", fpr[i], fpr[i + 1]);
	}
}

namespace {

/* The escaping of tokenexp_report_add_text; a backslash is shown as it is
 * when keep_backslash is set. */
void add_escaped(M_buf_t *out, const char *text, size_t len, bool keep_backslash)
{
	const auto *s = reinterpret_cast<const unsigned char *>(text);
	if (s == nullptr)
		len = 0;
	while (len > 0) {
		size_t take = *s >= 0x20 && *s < 0x7F && (*s != '\\' || keep_backslash) ? 1 : utf8_sequence(s, len);
		if (take == 0) {
			M_bprintf(out, "\\x%02X", *s);
			take = 1;
		} else if (take > 1 && hidden(code_point(s, take))) {
			const uint32_t cp = code_point(s, take);
			M_bprintf(out, cp > 0xFFFF ? "\\U%08X" : "\\u%04X", cp);
		} else {
			M_buf_add_bytes(out, s, take);
		}
		s += take;
		len -= take;
	}
}

} // namespace

void tokenexp_report_add_text(M_buf_t *out, const char *text, size_t len)
{
	add_escaped(out, text, len, false);
}

char *tokenexp_shown_arg(const char *arg)
{
	if (arg == nullptr)
		return nullptr;
	M_buf_t *out = M_buf_create();
	add_escaped(out, arg, M_str_len(arg), true);
	char *shown = M_buf_finish_str(out, nullptr);
	return shown != nullptr ? shown : M_strdup("");
}

void tokenexp_report_write(M_buf_t *out, const M_pgp_pubkey_t *key, const tokenexp_run_totals_t *totals)
{
	if (key == nullptr || totals == nullptr)
		return;
	const tokenexp_row_counts_t &rows = totals->rows;
	add_label(out, "Recipient:");
	const char *uid = M_pgp_pubkey_primary_user_id(key);
	if (uid == nullptr)
		M_buf_add_str(out, "(no valid user ID)");
	tokenexp_report_add_text(out, uid, M_pgp_pubkey_primary_user_id_len(key));
	M_buf_add_byte(out, '\n');
	add_label(out, "Fingerprint:");
	tokenexp_report_add_fingerprint(out, M_pgp_pubkey_primary_fingerprint(key));
	M_buf_add_byte(out, '\n');
	add_label(out, "Encrypted to:");
	add_key(out, key);
	M_buf_add_byte(out, '\n');
	add_label(out, "Rows:");
	M_bprintf(out, "%llu read, %llu kept, %llu left out by -u, %llu left out by -s/-e\n",
	          static_cast<unsigned long long>(rows.read), static_cast<unsigned long long>(rows.kept),
	          static_cast<unsigned long long>(rows.left_user), static_cast<unsigned long long>(rows.left_date));
	add_label(out, "Blocks:");
	M_bprintf(out, "%llu\n", static_cast<unsigned long long>(totals->blocks));
	add_label(out, "Sections:");
	M_bprintf(out, "%llu RECURRING\n", static_cast<unsigned long long>(totals->sections));
	add_label(out, "Table:");
	M_bprintf(out, "%zu bytes\n", totals->table_len);
	add_label(out, "Message:");
	M_bprintf(out, "%zu bytes, %s\n", totals->message_len, totals->mdc ? "mdc" : "legacy");
}

void tokenexp_progress_start(tokenexp_progress_t *p, M_fs_file_t *file)
{
	*p    = tokenexp_progress_t{};
	p->on = M_term_is_terminal(kStderr);
	if (!p->on)
		return;
	M_fs_info_t *info = nullptr;
	if (M_fs_info_file(&info, file, M_FS_INFO_FLAG_BASIC) == M_FS_ERROR_SUCCESS)
		p->total = M_fs_info_get_size(info);
	M_fs_info_destroy(info);
	M_time_elapsed_start(&p->start);
}

void tokenexp_progress_update(tokenexp_progress_t *p, uint64_t bytes_read, uint64_t rows_kept)
{
	if (!p->on)
		return;
	const uint64_t ms = M_time_elapsed(&p->start);
	if (ms <= kProgressAfterMs || (p->shown != 0 && ms - p->last_ms < kProgressEveryMs))
		return;
	p->last_ms = ms;

	/* The percentage only where the file has a size and a position (not a
	 * pipe); the rows joined so far in every case. */
	char       line[kProgressLineRoom];
	const auto kept = static_cast<unsigned long long>(rows_kept);
	if (p->total > 0 && bytes_read > 0 && bytes_read <= p->total && p->total < UINT64_MAX / 100)
		M_snprintf(line, sizeof(line), "%llu%% of the export file read, %llu rows kept",
		           static_cast<unsigned long long>(bytes_read * 100 / p->total), kept);
	else
		M_snprintf(line, sizeof(line), "%llu rows kept", kept);

	/* Spaces over what a longer line before left on the screen. */
	const size_t len = M_str_len(line);
	const size_t pad = p->shown > len ? p->shown - len : 0;
	M_fprintf(stderr, "\r%s%*s", line, static_cast<int>(pad), "");
	if (len > p->shown)
		p->shown = len;
}

void tokenexp_progress_clear(tokenexp_progress_t *p)
{
	if (p->shown == 0)
		return;
	M_fprintf(stderr, "\r%*s\r", static_cast<int>(p->shown), "");
	p->shown = 0;
}
