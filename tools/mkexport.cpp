/* mkexport: writes a Quorvel export file from CSV files, for tests, the
 * bundled sample and benchmarks.
 *
 *   mkexport -k HEXKEY -o OUT [-r ROWS] [-w WRAP] [-m SIZE] [--crlf] [--blank]
 *            [--no-compress] NAME=FILE.csv [NAME=FILE.csv ...]
 *
 * Each NAME=FILE pair becomes one section called NAME. FILE is CSV with the
 * delimiter "," and the backtick as quote character; its first row is the
 * header row. The data rows are cut into blocks of ROWS rows (default
 * 10000); the first block of a section starts with the header row, the later
 * ones hold data rows only. Every block is compressed with zlib, encrypted
 * with AES-CBC under HEXKEY (32, 48 or 64 hex digits) and the fixed export
 * IV, and written as Base64 text wrapped every WRAP characters (0: one line;
 * default 76). A section's header takes two lines, the section marker and
 * the size line; each further block has a size line of its own.
 *
 * -m SIZE writes SIZE as every block's declared uncompressed length instead
 * of the true one; --crlf ends header lines with "\r\n"; --blank puts a
 * blank line before every header line; --no-compress encrypts the CSV text
 * without compressing it (a block the reader must refuse).
 */
#include "app/tokenexp_cipher.h"
#include "core/m_buf.h"
#include "core/m_mem.h"
#include "core/m_str.h"
#include "core/m_str_fmt.h"
#include "core/m_str_num.h"
#include "formats/m_bincodec.h"
#include "fs/m_fs_file.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>

namespace {

struct options_t {
	const char *key       = nullptr;
	const char *out       = nullptr;
	size_t      rows      = 10000;
	size_t      wrap      = 76;
	bool        have_size = false;
	uint64_t    size      = 0;
	bool        crlf      = false;
	bool        blank     = false;
	bool        compress  = true;
};

int usage()
{
	M_fprintf(stderr,
	          "usage: mkexport -k HEXKEY -o OUT [-r ROWS] [-w WRAP] [-m SIZE] [--crlf] [--blank] [--no-compress] "
	          "NAME=FILE.csv [NAME=FILE.csv ...]\n");
	return 2;
}

/* Offsets just past each row end (line feed outside backtick quotes). */
size_t next_row_end(const char *text, size_t len, size_t from)
{
	bool in_quotes = false;
	for (size_t i = from; i < len; i++) {
		if (text[i] == '`')
			in_quotes = !in_quotes;
		else if (text[i] == '\n' && !in_quotes)
			return i + 1;
	}
	return len;
}

bool encrypt_block(M_buf_t *out, const unsigned char *key, size_t key_len, const char *csv, size_t len, bool deflate)
{
	uLongf         clen = compressBound(static_cast<uLong>(len));
	unsigned char *comp = static_cast<unsigned char *>(M_malloc(clen + 1));
	if (!deflate) {
		M_mem_copy(comp, csv, len);
		clen = static_cast<uLongf>(len);
	} else if (compress(comp, &clen, reinterpret_cast<const Bytef *>(csv), static_cast<uLong>(len)) != Z_OK) {
		M_free(comp);
		return false;
	}

	const EVP_CIPHER *cipher = tokenexp_key_cipher(key_len);
	EVP_CIPHER_CTX   *ctx    = EVP_CIPHER_CTX_new();
	unsigned char    *enc    = static_cast<unsigned char *>(M_malloc(clen + 32));
	int               l1 = 0, l2 = 0;
	bool              ok = EVP_EncryptInit_ex(ctx, cipher, nullptr, key, tokenexp_export_iv) == 1 &&
	          EVP_EncryptUpdate(ctx, enc, &l1, comp, static_cast<int>(clen)) == 1 &&
	          EVP_EncryptFinal_ex(ctx, enc + l1, &l2) == 1;
	EVP_CIPHER_CTX_free(ctx);
	M_free(comp);
	if (!ok) {
		M_free(enc);
		return false;
	}
	M_buf_add_bytes(out, enc, static_cast<size_t>(l1) + static_cast<size_t>(l2));
	M_free(enc);
	return true;
}

bool write_section(M_buf_t *file, const options_t &o, const unsigned char *key, size_t key_len, const char *name,
                   const char *text, size_t len)
{
	const char  *eol        = o.crlf ? "\r\n" : "\n";
	size_t       pos        = next_row_end(text, len, 0); /* the header row */
	const size_t header_end = pos;
	bool         first      = true;

	do {
		size_t end = pos;
		for (size_t r = 0; r < o.rows && end < len; r++)
			end = next_row_end(text, len, end);

		M_buf_t *plain = M_buf_create();
		if (first)
			M_buf_add_bytes(plain, text, header_end);
		M_buf_add_bytes(plain, text + pos, end - pos);
		const size_t plain_len = M_buf_len(plain);

		M_buf_t *enc = M_buf_create();
		bool     ok  = encrypt_block(enc, key, key_len, M_buf_peek(plain), plain_len, o.compress);
		M_buf_cancel(plain);
		if (!ok) {
			M_buf_cancel(enc);
			return false;
		}
		char *b64 = M_bincodec_encode_alloc(reinterpret_cast<const unsigned char *>(M_buf_peek(enc)), M_buf_len(enc),
		                                    o.wrap, M_BINCODEC_BASE64);
		M_buf_cancel(enc);
		const size_t b64_len = M_str_len(b64);

		if (o.blank)
			M_buf_add_str(file, eol);
		if (first) {
			M_bprintf(file, "--QUORVEL--ENCRYPTED--DATA--EXPORT---(%s)%s", name, eol);
			if (o.blank)
				M_buf_add_str(file, eol);
		}
		M_bprintf(file, "---DATABLOCK_SIZE=%zu:%llu%s", b64_len,
		          static_cast<unsigned long long>(o.have_size ? o.size : plain_len), eol);
		M_buf_add_bytes(file, b64, b64_len);
		M_buf_add_str(file, "\n");
		M_free(b64);

		first = false;
		pos   = end;
	} while (pos < len);
	return true;
}

} // namespace

int main(int argc, char **argv)
{
	options_t o;
	int       i = 1;
	for (; i < argc; i++) {
		const char *a = argv[i];
		if (M_str_eq(a, "-k") && i + 1 < argc) {
			o.key = argv[++i];
		} else if (M_str_eq(a, "-o") && i + 1 < argc) {
			o.out = argv[++i];
		} else if (M_str_eq(a, "-r") && i + 1 < argc) {
			o.rows = static_cast<size_t>(M_str_to_uint64(argv[++i]));
		} else if (M_str_eq(a, "-w") && i + 1 < argc) {
			o.wrap = static_cast<size_t>(M_str_to_uint64(argv[++i]));
		} else if (M_str_eq(a, "-m") && i + 1 < argc) {
			o.have_size = true;
			o.size      = M_str_to_uint64(argv[++i]);
		} else if (M_str_eq(a, "--crlf")) {
			o.crlf = true;
		} else if (M_str_eq(a, "--blank")) {
			o.blank = true;
		} else if (M_str_eq(a, "--no-compress")) {
			o.compress = false;
		} else {
			break;
		}
	}
	if (o.key == nullptr || o.out == nullptr || i >= argc || o.rows == 0)
		return usage();

	M_buf_t *keybuf = M_buf_create();
	if (!M_buf_add_bytes_hex(keybuf, o.key) || tokenexp_key_cipher(M_buf_len(keybuf)) == nullptr) {
		M_fprintf(stderr, "mkexport: the key must be 32, 48 or 64 hexadecimal digits\n");
		M_buf_cancel(keybuf);
		return 2;
	}

	M_buf_t *file = M_buf_create();
	int      rc   = 0;
	for (; i < argc && rc == 0; i++) {
		const char *eq = M_str_chr(argv[i], '=');
		if (eq == nullptr || eq == argv[i]) {
			rc = usage();
			break;
		}
		char          *name = M_strdup_max(argv[i], static_cast<size_t>(eq - argv[i]));
		unsigned char *csv  = nullptr;
		size_t         len  = 0;
		if (M_fs_file_read_bytes(eq + 1, 0, &csv, &len) != M_FS_ERROR_SUCCESS || len == 0) {
			M_fprintf(stderr, "mkexport: cannot read %s\n", eq + 1);
			rc = 1;
		} else if (!write_section(file, o, reinterpret_cast<const unsigned char *>(M_buf_peek(keybuf)),
		                          M_buf_len(keybuf), name, reinterpret_cast<const char *>(csv), len)) {
			M_fprintf(stderr, "mkexport: cannot encrypt %s\n", eq + 1);
			rc = 1;
		}
		M_free(csv);
		M_free(name);
	}

	if (rc == 0) {
		size_t wrote = 0;
		if (M_fs_file_write_bytes(o.out, reinterpret_cast<const unsigned char *>(M_buf_peek(file)), M_buf_len(file),
		                          M_FS_FILE_MODE_NONE, &wrote) != M_FS_ERROR_SUCCESS ||
		    wrote != M_buf_len(file)) {
			M_fprintf(stderr, "mkexport: cannot write %s\n", o.out);
			rc = 1;
		}
	}
	M_buf_cancel(file);
	M_buf_cancel(keybuf);
	return rc;
}
