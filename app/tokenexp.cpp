/* The token export run, from the command line to the encrypted file. */
#include "app/tokenexp.h"

#include "app/tokenexp_cipher.h"
#include "app/tokenexp_export.h"
#include "app/tokenexp_key.h"
#include "app/tokenexp_output.h"
#include "app/tokenexp_pool.h"
#include "app/tokenexp_report.h"
#include "app/tokenexp_table.h"
#include "core/m_buf.h"
#include "core/m_chr.h"
#include "core/m_mem.h"
#include "core/m_str.h"
#include "core/m_str_fmt.h"
#include "pgp/pgp_encrypt.h"
#include "pgp/pgp_keyfile.h"
#include "pgp/pgp_pubkey.h"
#include "fs/m_fs_file.h"
#include "fs/m_fs_path.h"
#include "sys/m_proc.h"
#include "sys/m_time.h"

#include <openssl/crypto.h>
#include <openssl/err.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr size_t kErrLen      = 256;
constexpr size_t kReadBufSize = 8192;
constexpr size_t kFprLen      = 20;

/* Largest public key file read. Real keys are a few kilobytes; the bound
 * keeps a device or a runaway file given as the key from taking all memory. */
constexpr size_t kMaxKeyFile = size_t{64} * 1024 * 1024;

constexpr const char kUsage[] = "\n"
                                "Quorvel Token Export Utility (v1.4)\n"
                                "\n"
                                "Extracts token (stored card) data from a given quorvel export file. The token\n"
                                "data is formatted as a CSV table and then PGP encrypted using the given public\n"
                                "key file, before it's written to disk.\n"
                                "\n"
                                "Note that this utility requires the key string Quorvel gave you when you\n"
                                "generated the export file, so it can decrypt the export file. The utility will\n"
                                "prompt you for the key string after it starts.\n"
                                "\n"
                                "Usage:\n"
                                "\n"
                                "quorvel_tokenexp <quorvel export file> <PGP key> [other options - see below]\n"
                                "\n"
                                "  -o <output file>: filename to store encrypted token data in.\n"
                                "      If not provided, defaults to <quorvel export file>.gpg in working dir.\n"
                                "\n"
                                "  -u <userid>: only output tokens for a particular merchant user.\n"
                                "      If not provided, tokens are returned for all users.\n"
                                "\n"
                                "  -s <YYYYMM>: only output tokens with card expiration dates >= given date.\n"
                                "      May be combined with -e to specify a range (-s is start, -e is end).\n"
                                "      \n"
                                "  -e <YYYYMM>: only output tokens with card expiration dates <= given date.\n"
                                "      May be combined with -s to specify a range (-s is start, -e is end).\n"
                                "\n"
                                "  -m <format>: encrypted message format, mdc (the default) or legacy.\n"
                                "      legacy has no integrity protection; current OpenPGP software refuses it.\n"
                                "\n"
                                "  -r <fingerprint>: the recipient's key fingerprint, as they gave it to you;\n"
                                "      a key file whose key has another one is refused.\n"
                                "\n"
                                "  -v: after a successful run, report the recipient, the key encrypted to,\n"
                                "      the rows kept and left out, and the sizes. Takes no value.\n"
                                "\n"
                                "Every other option needs its value. On Linux, an argument after the two paths\n"
                                "that starts with / and is longer than /x is a path, not an option.\n"
                                "\n"
                                "quorvel_tokenexp --help       show this text on standard output.\n"
                                "quorvel_tokenexp --version    show the program's name and version.\n"
                                "\n";

/* An argument as messages echo it (control characters and invalid UTF-8
 * escaped); NULL stays NULL. */
struct shown_t {
	tokenexp::mem_guard<char> text;

	explicit shown_t(const char *arg) : text(tokenexp_shown_arg(arg)) {}
	const char *get() const
	{
		return text.get();
	}
};

/* An expiry date option: digits only (an absent value counts as such) and
 * exactly six characters. */
bool valid_expdate(const char *value)
{
	return M_str_len(value) == 6 && M_str_isnum(value);
}

/* A fingerprint as gpg prints it: 40 hexadecimal digits of either case,
 * with spaces anywhere between them (gpg groups them by four). */
bool parse_fingerprint(const char *value, unsigned char *fpr)
{
	size_t digits = 0;
	for (const char *p = value; p != nullptr && *p != '\0'; p++) {
		const int nibble = M_chr_xdigit(*p);
		if (*p == ' ')
			continue;
		if (nibble < 0 || digits == 2 * kFprLen)
			return false;
		fpr[digits / 2] = static_cast<unsigned char>(digits % 2 == 0 ? nibble << 4 : fpr[digits / 2] | nibble);
		digits++;
	}
	return digits == 2 * kFprLen;
}

/* -s or -e (letter): the lowest or highest expiry date kept, into *bound.
 * Prints what the option prints; false for a value that is no YYYYMM. */
bool apply_expdate(char letter, const char *value, const char **bound, tokenexp_opts_t *opts)
{
	*bound       = value;
	opts->filter = filter_cb;
	if (!valid_expdate(value)) {
		M_fprintf(stderr, "Error: invalid expdate given to -%c, must be 6 digits, in YYYYMM format.\n", letter);
		return false;
	}
	M_fprintf(stderr, "Restricting output to expdates %s '%s'.\n", letter == 's' ? ">=" : "<=", value);
	return true;
}

/* -u and -o as the last argument: refused, as -s, -e, -m and -r are. A
 * filter asked for and then not applied would send every user's cards. */
bool value_given(char letter, const char *value)
{
	if (value != nullptr)
		return true;
	M_fprintf(stderr, "Error: -%c needs a value: %s\n", letter,
	          letter == 'u' ? "the merchant user whose rows to keep" : "the name of the output file");
	return false;
}

/* One option of the command line (arg as given) with its value, NULL when
 * there was none. Prints what the option prints; returns false when the run
 * must stop. */
bool apply_option(char letter, const char *arg, const char *value, tokenexp_opts_t *opts)
{
	switch (letter) {
		case 'o':
			opts->output_file = value;
			return value_given(letter, value);
		case 'u':
			if (!value_given(letter, value))
				return false;
			opts->user   = value;
			opts->filter = filter_cb;
			M_fprintf(stderr, "Restricting output to merchant user '%s'.\n", shown_t(value).get());
			break;
		case 's':
			return apply_expdate('s', value, &opts->exp_start, opts);
		case 'e':
			return apply_expdate('e', value, &opts->exp_end, opts);
		case 'm':
			/* Checked at once, like the dates: a run must not get as far as
			 * the prompt with a format it cannot write. */
			if (M_str_eq(value, "mdc")) {
				opts->pgp_flags = M_PGP_ENCRYPT_MDC;
			} else if (M_str_eq(value, "legacy")) {
				opts->pgp_flags = M_PGP_ENCRYPT_NONE;
			} else {
				M_fprintf(stderr, "Unknown message format '%s' for -m (use mdc or legacy)\n", shown_t(value).get());
				return false;
			}
			break;
		case 'r':
			if (!parse_fingerprint(value, opts->recipient)) {
				M_fprintf(stderr, "Error: invalid fingerprint given to -r, must be the 40 hexadecimal digits that "
				                  "gpg --fingerprint shows.\n");
				return false;
			}
			opts->pinned = M_TRUE;
			break;
		default:
			/* Skipped as ever, value and all, but not silently: a mistyped
			 * option must not go unnoticed. */
			if (value == nullptr)
				M_fprintf(stderr, "Warning: unknown option '%s' ignored (see quorvel_tokenexp --help)\n",
				          shown_t(arg).get());
			else
				M_fprintf(stderr,
				          "Warning: unknown option '%s' ignored, and its value '%s' with it (see "
				          "quorvel_tokenexp --help)\n",
				          shown_t(arg).get(), shown_t(value).get());
			break;
	}
	return true;
}

/* Whether an argument after the two paths opens an option: "-", or "/" as
 * Windows writes options. On a host whose paths start with "/", a longer
 * argument than "/x" is an absolute path (/opt/tokens.gpg), not the option
 * named by its second letter; the two-character forms keep their meaning. */
bool opens_option(const char *arg)
{
	if (arg[0] == '-')
		return true;
	return arg[0] == '/' && (arg[2] == '\0' || M_fs_path_get_system_type(M_FS_SYSTEM_AUTO) == M_FS_SYSTEM_WINDOWS);
}

/* The export key text area. Kept out of swap where the system allows it
 * (a refusal is harmless), and wiped with a wipe the compiler must keep on
 * every way out. */
struct key_area_t {
	char text[TOKENEXP_KEY_LEN];
	bool locked;

	key_area_t() : text{}, locked(M_proc_mem_lock(text, sizeof(text))) {}
	key_area_t(const key_area_t &)            = delete;
	key_area_t &operator=(const key_area_t &) = delete;

	void wipe()
	{
		OPENSSL_cleanse(text, sizeof(text));
	}

	~key_area_t()
	{
		wipe();
		if (locked)
			M_proc_mem_unlock(text, sizeof(text));
	}
};

/* Everything a run owns; released by one clean-up sequence on every path. */
struct run_state_t {
	M_fs_file_t    *export_file = nullptr;
	unsigned char  *key_bytes   = nullptr;
	size_t          key_len     = 0;
	M_pgp_pubkey_t *pubkey      = nullptr;
	M_pgp_msg_t    *msg         = nullptr;
	char           *output_name = nullptr;
	/* The output being replaced, from before the prompt to the commit. */
	tokenexp_output_t output;
	/* What the run did, for -v; and the progress line of the walk. */
	tokenexp_run_totals_t totals{};
	tokenexp_progress_t   progress{};
	/* Threads the run uses, decided before the prompt. */
	size_t threads = 1;

	run_state_t()                               = default;
	run_state_t(const run_state_t &)            = delete;
	run_state_t &operator=(const run_state_t &) = delete;

	~run_state_t()
	{
		M_free(output_name);
		M_pgp_msg_destroy(msg);
		M_pgp_pubkey_destroy(pubkey);
		M_free(key_bytes);
		M_fs_file_close(export_file);
	}
};

/* After the line of a failing phase, on standard error: the file's path
 * and why the file layer failed with res (taken before anything is printed,
 * so that nothing can change the thread's last failure first). */
void print_reason(const char *line, const char *path, M_fs_error_t res)
{
	char reason[kErrLen];
	tokenexp_fs_reason(res, reason, sizeof(reason));
	const shown_t shown(path);
	M_fprintf(stderr, "%s%s\n", line, shown.get());
	M_fprintf(stderr, "%s: %s\n", shown.get(), reason);
}

/* The one message on standard output, and the reason of the failure after
 * it on standard error. Standard output is flushed first, so that at a
 * terminal the two lines come in this order. */
void report_write_failure(const char *output, const char *reason)
{
	const shown_t shown(output);
	M_printf("Couldn't write encrypted results to %s\n", shown.get());
	fflush(stdout);
	M_fprintf(stderr, "%s: %s\n", shown.get(), reason);
}

/* Open the export file and read and parse the public key, reporting the
 * first failure. */
bool open_inputs(run_state_t &st, const tokenexp_opts_t &opts)
{
	/* The export file must exist: opening it must never create it. */
	M_fs_error_t res = M_fs_file_open(&st.export_file, opts.export_file, kReadBufSize,
	                                  M_FS_FILE_MODE_READ | M_FS_FILE_MODE_NOCREATE, nullptr);
	if (res != M_FS_ERROR_SUCCESS) {
		print_reason("Couldn't read Quorvel export file: ", opts.export_file, res);
		return false;
	}
	res = M_fs_file_read_bytes(opts.key_file, kMaxKeyFile, &st.key_bytes, &st.key_len);
	if (res != M_FS_ERROR_SUCCESS) {
		print_reason("Couldn't read PGP public key file: ", opts.key_file, res);
		return false;
	}
	char err[kErrLen] = {0};
	st.pubkey         = M_pgp_pubkey_create(st.key_bytes, st.key_len, err, sizeof(err));
	if (st.pubkey == nullptr) {
		M_fprintf(stderr, "Couldn't parse public key data from file: %s\n", err);
		/* The reader's words are about OpenPGP; a file of another kind is
		 * named for what it is. */
		const char *kind = M_pgp_keyfile_kind(st.key_bytes, st.key_len);
		if (kind != nullptr)
			M_fprintf(stderr, "%s\n", kind);
		return false;
	}
	return true;
}

/* The output, made sure of before anything is asked or read: its name (-o,
 * else the export file's base name plus ".gpg" in the working directory),
 * refused when it would replace an input, and its replace begun, so that a
 * missing or unwritable directory ends the run now. Reports a failure. */
bool open_output(run_state_t &st, const tokenexp_opts_t &opts)
{
	if (M_str_isempty(opts.output_file)) {
		char    *base = M_fs_path_basename(opts.export_file, M_FS_SYSTEM_AUTO);
		M_buf_t *name = M_buf_create();
		M_buf_add_str(name, base);
		M_buf_add_str(name, ".gpg");
		M_free(base);
		st.output_name = M_buf_finish_str(name, nullptr);
	} else {
		st.output_name = M_strdup(opts.output_file);
	}
	const char *output = st.output_name;
	/* A name with a stream ("out.gpg:hidden", "x.exp::$DATA") would write
	 * into the file before its colon: that file is what must not be an
	 * input, and no stream is written at all. */
	size_t       file_len = 0;
	const M_bool stream   = M_fs_path_has_stream(output, M_FS_SYSTEM_AUTO, &file_len);
	char        *file     = stream ? M_strdup_max(output, file_len) : nullptr;
	const M_bool is_input = tokenexp_output_is_input(stream ? file : output, opts.export_file, opts.key_file);
	M_free(file);
	if (is_input) {
		M_fprintf(stderr, "Output file %s is also an input file; choose another with -o\n", shown_t(output).get());
		return false;
	}
	if (stream) {
		M_fprintf(stderr, "Output file %s names a stream of a file (\":\" after the drive); choose another with -o\n",
		          shown_t(output).get());
		return false;
	}
	char reason[kErrLen];
	if (!tokenexp_output_begin(&st.output, output, reason, sizeof(reason))) {
		report_write_failure(output, reason);
		return false;
	}
	return true;
}

/* -r named another subkey of the key file's key: which key the message
 * goes to instead, and why. Returns false. */
bool report_other_subkey(const run_state_t &st, const tokenexp_opts_t &opts, M_pgp_keyfile_subkey_t part)
{
	tokenexp::buf_guard msg(M_buf_create());
	M_buf_add_str(msg.get(), "Error: the key given with -r, ");
	tokenexp_report_add_fingerprint(msg.get(), opts.recipient);
	M_buf_add_str(msg.get(), part == M_PGP_KEYFILE_SUBKEY_OLDER_ENCRYPT
	                             ? ", is not the one encrypted to: that is an older encryption subkey of this key; "
	                               "the message is encrypted to the newest valid one, "
	                             : ", is not the one encrypted to: that is a subkey of this key that does not "
	                               "encrypt (for signing only, revoked, expired or unbound); the message is "
	                               "encrypted to its valid encryption key, ");
	tokenexp_report_add_fingerprint(msg.get(), M_pgp_pubkey_fingerprint(st.pubkey));
	M_buf_add_str(msg.get(), ". To confirm the key, give -r the primary key's fingerprint, ");
	tokenexp_report_add_fingerprint(msg.get(), M_pgp_pubkey_primary_fingerprint(st.pubkey));
	M_buf_add_str(msg.get(), "\n");
	M_fprintf(stderr, "%s", M_buf_peek(msg.get()));
	return false;
}

/* -r: the key file's key must be the one the recipient named, by its
 * primary key or by the key the message is encrypted to. Reports a key that
 * is neither (another subkey of the same key for what it is, else with both
 * fingerprints) and returns false. */
bool recipient_confirmed(const run_state_t &st, const tokenexp_opts_t &opts)
{
	const M_pgp_pubkey_t *key     = st.pubkey;
	const unsigned char  *primary = M_pgp_pubkey_primary_fingerprint(key);
	if (!opts.pinned || M_mem_eq(primary, opts.recipient, kFprLen) ||
	    M_mem_eq(M_pgp_pubkey_fingerprint(key), opts.recipient, kFprLen))
		return true;
	const M_pgp_keyfile_subkey_t part = M_pgp_keyfile_subkey(st.key_bytes, st.key_len, opts.recipient, key);
	if (part != M_PGP_KEYFILE_SUBKEY_NONE)
		return report_other_subkey(st, opts, part);
	tokenexp::buf_guard msg(M_buf_create());
	M_buf_add_str(msg.get(), "Error: the key file's key has fingerprint ");
	tokenexp_report_add_fingerprint(msg.get(), primary);
	M_buf_add_str(msg.get(), ", not ");
	tokenexp_report_add_fingerprint(msg.get(), opts.recipient);
	M_buf_add_str(msg.get(), " as given with -r; make sure the key file is the recipient's\n");
	M_fprintf(stderr, "%s", M_buf_peek(msg.get()));
	return false;
}

/* The encryption failed: because the output refused its bytes (the
 * output's reason, after the commit that ends the replace), or for a
 * reason of its own. Returns false. */
bool report_encrypt_failure(run_state_t &st)
{
	char reason[kErrLen] = "";
	if (st.output.failed) {
		(void)tokenexp_output_commit(&st.output, reason, sizeof(reason));
		report_write_failure(st.output_name, reason);
	} else {
		M_fprintf(stderr, "Error using PGP to encrypt output.\n");
	}
	return false;
}

/* How the walk ended, reported under the heading of its phase; false when
 * the run stops. A table that kept no row is written, after a warning. */
bool walk_succeeded(run_state_t &st, const tokenexp_opts_t &opts, tokenexp_walk_result_t walked, const char *err)
{
	switch (walked) {
		case TOKENEXP_WALK_DONE:
			if (st.totals.table_len == 0) {
				M_fprintf(stderr, "Quorvel export file didn't contain any %s sections. Aborting.\n", TOKENEXP_SECTION);
				return false;
			}
			if (st.totals.rows.kept == 0)
				M_fprintf(stderr, opts.filter != nullptr
				                      ? "Warning: no row passed -u, -s or -e, so the table holds only its header row; "
				                        "check the values given\n"
				                      : "Warning: the RECURRING sections hold no rows, so the table holds only its "
				                        "header row; check that this is the right export file\n");
			return true;
		case TOKENEXP_WALK_PARSE:
		case TOKENEXP_WALK_STOPPED: /* the pool's reader stops only for a failure it reports instead */
			M_fprintf(stderr, "Error parsing export file: %s\n", err);
			return false;
		case TOKENEXP_WALK_READ:
			M_fprintf(stderr, "Error parsing export file: %s\n", TOKENEXP_BAD_HEADER);
			M_fprintf(stderr, "%s: %s\n", opts.export_file, err);
			return false;
		case TOKENEXP_WALK_DECRYPT:
			M_fprintf(stderr, "Error decrypting export file: %s\n", err);
			/* A text-mode transfer adds a CR to every line, block data
			 * included, so the first block no longer decrypts. */
			if (st.totals.blocks == 0 && st.totals.crlf_lines)
				M_fprintf(stderr, "The export file looks converted to CRLF line ends, as a text-mode transfer "
				                  "does: transfer it again in binary mode\n");
			return false;
		case TOKENEXP_WALK_UNCOMPRESS:
			M_fprintf(stderr, "Error uncompressing export file: %s\n", err);
			return false;
		case TOKENEXP_WALK_TOO_LARGE:
			M_fprintf(stderr, "Too much card data to output, exceeded max output table size (2 GB)\n");
			return false;
		case TOKENEXP_WALK_ENCRYPT:
			return report_encrypt_failure(st);
	}
	return false;
}

/* Walk the export file into the message: the key text is converted once
 * (and wiped at once), the message begun (in the integrity-protected form
 * it is written to the output from now on), then every block of a chosen
 * section is decoded, its rows join the table and the table is compressed
 * and encrypted as it grows, on every processor the process may run on.
 * Reports a failure under the heading of its phase, or a table that stayed
 * empty, and returns false. */
bool build_table(run_state_t &st, tokenexp_opts_t &opts, key_area_t &key)
{
	const tokenexp_export_key export_key(key.text);
	key.wipe();
	char err[kErrLen] = {0};
	st.msg = M_pgp_msg_create(st.pubkey, M_PGP_SYMALG_AES256, opts.pgp_flags, tokenexp_output_write, &st.output);
	if (st.msg == nullptr)
		return report_encrypt_failure(st);
	/* The progress line is gone before any message of the walk's end. */
	tokenexp_progress_start(&st.progress, st.export_file);
	const tokenexp_walk_result_t walked =
	    tokenexp_pool_run(st.export_file, export_key, &opts, st.threads, kTokenexpMaxTable, st.msg, &st.totals,
	                      st.progress.on ? &st.progress : nullptr, err, sizeof(err));
	tokenexp_progress_clear(&st.progress);
	return walk_succeeded(st, opts, walked, err);
}

/* The -v report, on standard error. */
void report_run(run_state_t &st, const tokenexp_opts_t &opts)
{
	st.totals.message_len = st.output.written;
	st.totals.mdc         = (opts.pgp_flags & M_PGP_ENCRYPT_MDC) != 0;
	tokenexp::buf_guard report(M_buf_create());
	tokenexp_report_write(report.get(), st.pubkey, &st.totals);
	M_fprintf(stderr, "%s", M_buf_peek(report.get()));
}

/* "--help" or "--version" as the only argument: the usage text, or the
 * name and version, on standard output. Returns false for any other
 * command line; else true, with status 0, or 1 when standard output could
 * not take the text (a full disk, a closed pipe). */
bool asked_for_help(int argc, char **argv, int *status)
{
	if (argc != 2)
		return false;
	ssize_t wrote = 0;
	if (M_str_eq(argv[1], "--help"))
		wrote = M_printf("%s", kUsage);
	else if (M_str_eq(argv[1], "--version"))
		wrote = M_printf("quorvel_tokenexp %s\n", TOKENEXP_VERSION);
	else
		return false;
	*status = wrote < 0 || fflush(stdout) != 0 ? 1 : 0;
	return true;
}

int run(int argc, char **argv)
{
	M_timeval_t stopwatch;
	M_time_elapsed_start(&stopwatch);

	tokenexp_opts_t opts;
	std::memset(&opts, 0, sizeof(opts));
	/* The integrity-protected form, which every current OpenPGP tool opens;
	 * the old form is only for a recipient who asks for it (-m legacy). */
	opts.pgp_flags = M_PGP_ENCRYPT_MDC;

	if (int status = 0; asked_for_help(argc, argv, &status))
		return status;
	if (argc < 3) {
		M_fprintf(stderr, "%s", kUsage);
		return 1;
	}
	opts.export_file = argv[1];
	opts.key_file    = argv[2];
	if (!tokenexp_parse_options(argc, argv, &opts))
		return 1;

	run_state_t st;
	if (!open_inputs(st, opts) || !recipient_confirmed(st, opts))
		return 1;
	/* Memory the run cannot have would end it with an abort after the key
	 * was typed; a limit too tight for one thread is told now. */
	st.threads = tokenexp_thread_count();
	if (st.threads == 0) {
		M_fprintf(stderr, "Error: not enough memory for one export block under the process's memory limit\n");
		return 1;
	}

	if (!open_output(st, opts))
		return 1;
	const char *output = st.output_name;

	/* The time spent typing the key is not counted. */
	const uint64_t ms_before_prompt = M_time_elapsed(&stopwatch);
	key_area_t     key;
	if (!tokenexp_read_key(key.text))
		return 1;
	M_time_elapsed_start(&stopwatch);

	if (!build_table(st, opts, key))
		return 1;
	if (!M_pgp_msg_finish(st.msg)) {
		report_encrypt_failure(st);
		return 1;
	}

	/* Replaced whole or not at all: a failure leaves the previous output. */
	char reason[kErrLen];
	if (!tokenexp_output_commit(&st.output, reason, sizeof(reason))) {
		report_write_failure(output, reason);
		return 1;
	}

	if (opts.verbose)
		report_run(st, opts);
	const uint64_t total_ms = ms_before_prompt + M_time_elapsed(&stopwatch);
	M_fprintf(stderr, "Wrote encrypted file %s (took %0.3f sec)\n", shown_t(output).get(),
	          static_cast<double>(total_ms) / 1000.0);
	return 0;
}

} // namespace

M_bool tokenexp_parse_options(int argc, char **argv, tokenexp_opts_t *opts)
{
	for (int i = 3; i < argc; i++) {
		const char *arg = argv[i];
		if (M_str_len(arg) < 2)
			continue;
		/* Only options may follow the two paths: a third path (meant as the
		 * output, say) would otherwise be read as an option named by its
		 * second letter. */
		if (!opens_option(arg)) {
			const shown_t shown(arg);
			M_fprintf(stderr, "Error: argument '%s' is not an option; to name the output file, give -o %s\n",
			          shown.get(), shown.get());
			return M_FALSE;
		}

		/* The option letter is the second character; a two-character
		 * argument takes the next argument as its value, but for -v, which
		 * takes none (and ignores the rest of its own argument). */
		const char letter = arg[1];
		if (letter == 'v') {
			/* A switch: the next argument stays an argument of its own. */
			opts->verbose = M_TRUE;
			continue;
		}
		const char *value = nullptr;
		if (arg[2] == '\0') {
			if (i + 1 < argc)
				value = argv[++i];
		} else {
			value = arg + 2;
		}
		if (!apply_option(letter, arg, value, opts))
			return M_FALSE;
	}
	return M_TRUE;
}

int tokenexp_main(int argc, char **argv)
{
	/* Before anything else: were a standard descriptor closed, the next
	 * file opened would take its number, and the export file would be read
	 * as the key or the messages written into the output. The process holds
	 * card data and the export key in the clear: no core file may keep
	 * them. */
	(void)M_proc_std_fds_open();
	(void)M_proc_forbid_core_dumps();
	/* A file size limit fails the write, which is reported, instead of
	 * ending the process without a word (also while it reports that). */
	(void)M_proc_file_size_limit_fails_writes();

	/* OpenSSL 3 loads its error strings on demand and frees them at exit;
	 * asking for them up front keeps the texts of the first failure exact. */
	OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
	const int status = run(argc, argv);
	fflush(stdout);
	fflush(stderr);
	return status;
}
