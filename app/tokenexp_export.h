/* Reading the export file: the walk over section and block headers, and the
 * stages that turn one block (Base64 text, AES-CBC ciphertext, a zlib
 * stream) back into CSV text. */
#ifndef TOKENEXP_EXPORT_H
#define TOKENEXP_EXPORT_H

#include "app/tokenexp_cipher.h"
#include "app/tokenexp_guard.h"
#include "core/m_defs.h"
#include "fs/m_fs_file.h"
#include "pgp/pgp_encrypt.h"

#include <libdeflate.h>

/* The one section the program reads. */
#define TOKENEXP_SECTION "RECURRING"

/* The reason of a structure error that has no text of its own, a read
 * error of the file included. */
#define TOKENEXP_BAD_HEADER "couldn't read section header from export file"

/* How a walk, or one block, ended. */
typedef enum {
	TOKENEXP_WALK_DONE = 0,   /* the whole file was read; a block: decoded */
	TOKENEXP_WALK_PARSE,      /* structure error: "Error parsing export file: %s\n" */
	TOKENEXP_WALK_DECRYPT,    /* key or cipher error: "Error decrypting export file: %s\n" */
	TOKENEXP_WALK_UNCOMPRESS, /* zlib error: "Error uncompressing export file: %s\n" */
	TOKENEXP_WALK_STOPPED,    /* the block callback asked to stop */
	TOKENEXP_WALK_READ        /* reading the file failed: reported as a structure error with
	                           * TOKENEXP_BAD_HEADER; the reason is the system's words */
} tokenexp_walk_result_t;

/* One block of a "RECURRING" section and the buffers it passes through,
 * named for what they hold. Each thread that decodes blocks owns one, reused
 * block after block (the buffers grow to the largest block). */
namespace tokenexp {

/* libdeflate's inflater of one thread's blocks. It takes its memory from the
 * library's allocator, set up before the first one is made. */
inline libdeflate_decompressor *new_inflater()
{
	M_pgp_deflate_use_library_memory();
	return ::libdeflate_alloc_decompressor();
}

using inflater_guard = guard<libdeflate_decompressor, libdeflate_free_decompressor>;

} // namespace tokenexp

struct tokenexp_block_t {
	/* The block's bytes as read: Base64 text, then (decoded in place) the
	 * ciphertext, then (decrypted in place) the zlib stream. */
	tokenexp::buf_guard data{M_buf_create()};
	/* The inflated CSV text; a table parsed from it borrows it. */
	tokenexp::buf_guard csv{M_buf_create()};
	/* Inflates the zlib stream (zlib itself takes over on a failure). */
	tokenexp::inflater_guard inflater{tokenexp::new_inflater()};
	/* The uncompressed length the block's header declares. */
	uint64_t raw_len = 0;
	/* Whether the block starts its section (and so holds a header row). */
	M_bool first_of_section = M_FALSE;
};

/* Turn the Base64 text in block->data into CSV text in block->csv: decode
 * and decrypt in place, then inflate. Base64 text that does not decode
 * leaves no ciphertext, and the block then fails at the cipher's final step.
 * On failure the reason is written into err (errlen bytes) and
 * TOKENEXP_WALK_DECRYPT or TOKENEXP_WALK_UNCOMPRESS is returned, with csv
 * emptied. Uses only the block and the decryptor, so blocks can be decoded
 * on several threads, each with its own block and decryptor. */
tokenexp_walk_result_t tokenexp_block_decode(tokenexp_block_t *block, tokenexp_decryptor *decryptor, char *err,
                                             size_t errlen);

/* Called with each decoded block of a "RECURRING" section: its CSV text
 * (writable, NUL-terminated at csv[len], valid during the call; a table
 * parsed in place may borrow it until the call returns), whether it is the
 * first block of its section, and the caller's thunk. Return M_FALSE to stop
 * the walk. */
typedef M_bool (*tokenexp_block_cb)(char *csv, size_t len, M_bool first_of_section, void *thunk);

/* Called by the walk between blocks, on the thread that reads the file,
 * with the bytes of the export file read so far (0 when the file has no
 * position, a pipe) and the walk's thunk. */
typedef void (*tokenexp_progress_cb)(uint64_t bytes_read, void *thunk);

/* Walk the export file's sections and blocks: read each block of a
 * "RECURRING" section into block, decode it with decryptor and hand its text
 * to cb; skip all other blocks unread. Before each section or block header,
 * progress (when not NULL) is told how far the walk has read. On an error
 * the reason is written into err (errlen bytes) and the matching result is
 * returned. A skipped block that runs past the end of the file ("file
 * truncated!") and a header line longer than 65536 bytes are structure
 * errors (TOKENEXP_WALK_PARSE), like a chosen block cut short. A read of the
 * file that fails is TOKENEXP_WALK_READ, with the system's words for the
 * failure in err (M_platform_strerror). */
tokenexp_walk_result_t tokenexp_walk(M_fs_file_t *file, tokenexp_decryptor *decryptor, tokenexp_block_t *block,
                                     char *err, size_t errlen, tokenexp_block_cb cb, void *thunk,
                                     tokenexp_progress_cb progress = nullptr);

/* Whether the export file's first line ends in CR LF, as a file converted
 * by a text-mode transfer does: read again from the start of file, whose
 * position is lost. M_FALSE when the file cannot go back to its start. */
M_bool tokenexp_export_crlf(M_fs_file_t *file);

/* The reading half of a walk, for callers that decode blocks elsewhere (on
 * worker threads): slot is asked, before each block of a "RECURRING" section
 * is read, for the block to read it into (NULL ends the walk with
 * TOKENEXP_WALK_STOPPED); read gets the block once its data, raw_len and
 * first_of_section are filled in, and returns TOKENEXP_WALK_DONE to go on or
 * the result that ends the walk (with its reason in err). The file's
 * structure, its errors and progress are as for tokenexp_walk, which is this
 * walk with one block decoded in place. */
typedef tokenexp_block_t *(*tokenexp_slot_cb)(void *thunk);
typedef tokenexp_walk_result_t (*tokenexp_read_cb)(tokenexp_block_t *block, char *err, size_t errlen, void *thunk);
tokenexp_walk_result_t tokenexp_read_blocks(M_fs_file_t *file, char *err, size_t errlen, tokenexp_slot_cb slot,
                                            tokenexp_read_cb read, void *thunk, tokenexp_progress_cb progress);

#endif
