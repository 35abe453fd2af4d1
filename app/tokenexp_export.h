/* Reading the export file: the walk over section and block headers, and the
 * turning of one block (Base64, AES-CBC, zlib) back into CSV text. */
#ifndef TOKENEXP_EXPORT_H
#define TOKENEXP_EXPORT_H

#include "core/m_buf.h"
#include "core/m_defs.h"
#include "fs/m_fs_file.h"

/* The one section the program reads. */
#define TOKENEXP_SECTION "RECURRING"

/* The fixed initialisation vector of every block (AES-CBC), shared with
 * tools/mkexport, which writes export files. */
extern const unsigned char tokenexp_export_iv[16];

/* Append the next non-blank line of file to buf, without its trailing
 * whitespace. eof (may be NULL) is cleared on entry and set when the end of
 * the file was reached without adding anything. Returns M_TRUE when a line
 * was added; M_FALSE at the end of the file, or with eof clear on a read
 * error or a line longer than 65536 bytes before its line feed (the walk
 * reports that one as "header line too long"). */
M_bool read_line_buf(M_buf_t *buf, M_fs_file_t *file, M_bool *eof);

/* How a walk ended. */
typedef enum {
	TOKENEXP_WALK_DONE = 0,   /* the whole file was read */
	TOKENEXP_WALK_PARSE,      /* structure error: "Error parsing export file: %s\n" */
	TOKENEXP_WALK_DECRYPT,    /* key or cipher error: "Error decrypting export file: %s\n" */
	TOKENEXP_WALK_UNCOMPRESS, /* zlib error: "Error uncompressing export file: %s\n" */
	TOKENEXP_WALK_STOPPED     /* the block callback asked to stop */
} tokenexp_walk_result_t;

/* Called with each processed block of a "RECURRING" section: its CSV text
 * (valid during the call), whether it is the first block of its section, and
 * the caller's thunk. Return M_FALSE to stop the walk. */
typedef M_bool (*tokenexp_block_cb)(const char *csv, size_t len, M_bool first_of_section, void *thunk);

/* Walk the export file's sections and blocks, processing every block of a
 * "RECURRING" section with the export key text and skipping all others.
 * line and work are the run's reusable buffers; *section holds the current
 * section name (M_strdup'd, owned by the caller, freed and replaced as
 * sections change). On an error the reason is written into err (errlen
 * bytes) and the matching result is returned. A skipped block that runs
 * past the end of the file ("file truncated!") and a header line longer
 * than 65536 bytes are structure errors (TOKENEXP_WALK_PARSE), like a chosen
 * block cut short. */
tokenexp_walk_result_t tokenexp_walk(M_fs_file_t *file, const char *key, M_buf_t *line, M_buf_t *work, char **section,
                                     char *err, size_t errlen, tokenexp_block_cb cb, void *thunk);

#endif
