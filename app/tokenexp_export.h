/* Reading the export file: the walk over section and block headers, and the
 * stages that turn one block (Base64 text, AES-CBC ciphertext, a zlib
 * stream) back into CSV text. */
#ifndef TOKENEXP_EXPORT_H
#define TOKENEXP_EXPORT_H

#include "app/tokenexp_cipher.h"
#include "app/tokenexp_guard.h"
#include "core/m_defs.h"
#include "fs/m_fs_file.h"

/* The one section the program reads. */
#define TOKENEXP_SECTION "RECURRING"

/* The reason of a structure error that has no text of its own, a read
 * error of the file included. */
#define TOKENEXP_BAD_HEADER "couldn't read section header from export file"

/* Working memory one thread brings to a run besides its stack: a slot's
 * block in its forms (its text, the inflated CSV, the parsed cells and its
 * rows) and a piece's plaintext and stream, for blocks of the size export
 * files hold (10000 rows, about 1.6 MB of CSV). Measured on such a file
 * (Linux, glibc): a run on one thread needs some 29 MiB of address space
 * above what the process holds at the prompt (the first thread also keeps
 * the message going), each further thread some 17 MiB of data besides its
 * stack. The thread count is lowered to what the memory limits can serve
 * with it; a block much larger than usual is checked on its own before it
 * is inflated. */
constexpr size_t kTokenexpThreadWorkingSet = size_t{32} << 20;

/* How a run over the export file, or one block, ended. */
typedef enum {
	TOKENEXP_WALK_DONE = 0,   /* the whole file was read; a block: decoded */
	TOKENEXP_WALK_PARSE,      /* structure error: "Error parsing export file: %s\n" */
	TOKENEXP_WALK_DECRYPT,    /* key or cipher error: "Error decrypting export file: %s\n" */
	TOKENEXP_WALK_UNCOMPRESS, /* zlib error: "Error uncompressing export file: %s\n" */
	TOKENEXP_WALK_STOPPED,    /* the reader's caller had no slot for the next block */
	TOKENEXP_WALK_READ,       /* reading the file failed: reported as a structure error with
	                           * TOKENEXP_BAD_HEADER; the reason is the system's words */
	TOKENEXP_WALK_TOO_LARGE,  /* the table grew past its limit ("Too much card data ...") */
	TOKENEXP_WALK_ENCRYPT     /* the message could not take the table: a piece could not be
	                           * compressed or appended, or the output refused its bytes */
} tokenexp_walk_result_t;

/* One block of a "RECURRING" section and the buffers it passes through,
 * named for what they hold. Each slot of the pool owns one, reused block
 * after block (the buffers grow to the largest block). */
struct tokenexp_block_t {
	/* The block's bytes as read: Base64 text, then (decoded in place) the
	 * ciphertext, then (decrypted in place) the zlib stream. */
	tokenexp::buf_guard data{M_buf_create()};
	/* The inflated CSV text; a table parsed from it borrows it. */
	tokenexp::buf_guard csv{M_buf_create()};
	/* The uncompressed length the block's header declares. */
	uint64_t raw_len = 0;
	/* Whether the block starts its section (and so holds a header row). */
	M_bool first_of_section = M_FALSE;
};

/* libdeflate's inflater, kept out of this header. */
struct libdeflate_decompressor;

/* One thread's tools for turning blocks back into CSV text: its decryptor
 * (keyed from the export key once) and its inflater (libdeflate's, taking
 * its memory from the library's allocator; zlib takes over on a failure,
 * for zlib's message). Each thread that decodes blocks owns one. */
class tokenexp_decoder {
  public:
	explicit tokenexp_decoder(const tokenexp_export_key &key);
	~tokenexp_decoder();
	tokenexp_decoder(const tokenexp_decoder &)            = delete;
	tokenexp_decoder &operator=(const tokenexp_decoder &) = delete;

	/* Turn the Base64 text in block->data into CSV text in block->csv:
	 * decode and decrypt in place, then inflate. Base64 text that does not
	 * decode leaves no ciphertext, and the block then fails at the cipher's
	 * final step. On failure the reason is written into err (errlen bytes)
	 * and TOKENEXP_WALK_DECRYPT or TOKENEXP_WALK_UNCOMPRESS is returned,
	 * with csv emptied. */
	tokenexp_walk_result_t decode(tokenexp_block_t *block, char *err, size_t errlen);

  private:
	tokenexp_decryptor       decryptor_;
	libdeflate_decompressor *inflater_;
};

/* Called by the reader between blocks, on the thread that reads the file,
 * with the bytes of the export file read so far (0 when the file has no
 * position, a pipe) and the reader's thunk. */
typedef void (*tokenexp_progress_cb)(uint64_t bytes_read, void *thunk);

/* Read the export file's sections and blocks in file order, for callers
 * that decode blocks elsewhere (the pool): slot is asked, before each block
 * of a "RECURRING" section is read, for the block to read it into (NULL
 * ends the reading with TOKENEXP_WALK_STOPPED); read gets the block once
 * its data, raw_len and first_of_section are filled in, and returns
 * TOKENEXP_WALK_DONE to go on or the result that ends the reading (with its
 * reason in err). Blocks of other sections are skipped unread. Before each
 * section or block header, progress (when not NULL) is told how far the
 * reading has got.
 *
 * Returns TOKENEXP_WALK_DONE when the whole file was read; else the
 * reason is written into err (errlen bytes) and the matching result is
 * returned. A skipped block that runs past the end of the file ("file
 * truncated!") and a header line longer than 65536 bytes are structure
 * errors (TOKENEXP_WALK_PARSE), like a chosen block cut short. A read of the
 * file that fails is TOKENEXP_WALK_READ, with the system's words for the
 * failure in err (M_platform_strerror).
 *
 * first_line_crlf (when not NULL) is set once the first header line is
 * read: whether it ended in CR LF, as in a file converted by a text-mode
 * transfer (told from the bytes read, so a pipe tells it too). */
typedef tokenexp_block_t *(*tokenexp_slot_cb)(void *thunk);
typedef tokenexp_walk_result_t (*tokenexp_read_cb)(tokenexp_block_t *block, char *err, size_t errlen, void *thunk);
tokenexp_walk_result_t tokenexp_read_blocks(M_fs_file_t *file, char *err, size_t errlen, tokenexp_slot_cb slot,
                                            tokenexp_read_cb read, void *thunk, tokenexp_progress_cb progress,
                                            M_bool *first_line_crlf);

#endif
