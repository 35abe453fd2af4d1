/* The replace's system primitives (C++ only, not a public header): one
 * implementation per platform, m_fs_replace_posix.cpp and
 * m_fs_replace_win.cpp. The staged replace itself (what a target is, how it
 * is written, the order of the steps, every result code) is m_fs_replace.cpp;
 * a half resolves, opens, creates, renames and removes, and tells what it
 * found.
 *
 * A half's record (ReplaceSys) holds the output's folder open from the
 * resolve to the release, so that every later step lands in the folder the
 * path named when the replace began: POSIX creates, renames and removes
 * relative to the held folder; Windows holds it without sharing deletion,
 * so that nobody can move or delete it meanwhile.
 */
#ifndef M_FS_REPLACE_INT_H
#define M_FS_REPLACE_INT_H

#include "fs/m_fs_int.h"

#include <cstdint>

namespace m::detail {

/* What stands at the output's path. */
enum class ReplaceFound : uint8_t {
	Nothing, /* no entry */
	File,    /* a regular file */
	Link,    /* a symbolic link to a regular file or to nothing (replaced,
	            not followed) */
	Dir,     /* a directory */
	Device,  /* anything that is no file to replace: a device, a FIFO, a
	            Windows device name, any entry of /dev or /proc */
	Own      /* an open descriptor or standard handle of this process */
};

/* What a half found at the output's path. */
struct ReplaceFacts {
	ReplaceFound found;
	M_fs_error_t access;      /* File: the test whether the user may write it
	                             (M_FS_ERROR_SUCCESS, or its failure) */
	bool         replaceable; /* File, Link: the system lets the user put
	                             another entry in its place */
	M_fs_error_t err;         /* the examination itself failed */
};

/* Why the portable file refuses a target the system would not refuse yet. */
enum class ReplaceRefusal : uint8_t {
	IsDir,         /* the path names a directory */
	NotReplaceable /* the system would refuse the rename at the end */
};

/* The result code of a refusal, with the system's own words for it
 * recorded for M_platform_strerror (EISDIR or EPERM; access denied). */
M_fs_error_t replace_refusal(ReplaceRefusal why) noexcept;

/* The half's record of one replace (opaque to the portable file). */
struct ReplaceSys;

/* Resolve path (see m_fs_replace.h for how it is read) and hold the
 * output's folder open. A path naming a directory: M_FS_ERROR_PERMISSION; a
 * missing folder: M_FS_ERROR_NOT_FOUND. *sys is NULL on failure. */
M_fs_error_t replace_resolve(const char *path, ReplaceSys **sys) noexcept;

/* Look at what stands at the output's path now. */
ReplaceFacts replace_examine(ReplaceSys *sys) noexcept;

/* Whether the kernel refuses a user to replace or remove an entry of a
 * sticky folder: the folder is sticky, the entry and the folder belong to
 * others, and the user lacks the right to override (root's CAP_FOWNER).
 * Pure: the POSIX half asks it with what it found. */
bool replace_sticky_refuses(bool sticky, uint32_t entry_owner, uint32_t folder_owner, uint32_t user,
                            bool privileged) noexcept;

/* A device target: whether it may be written, before anything is produced
 * (POSIX: the access check; Windows opens it now, which a console that is
 * not there refuses). */
M_fs_error_t replace_device_check(ReplaceSys *sys) noexcept;

/* Open the existing target for writing, emptied, links followed (a device,
 * or a mount point written in place); never created. */
M_fs_error_t replace_target_open(ReplaceSys *sys, M_fs_file_t **file) noexcept;

/* The process's own descriptor or handle the target is (ReplaceFound::Own),
 * as a file object that leaves it open. */
M_fs_file_t *replace_own(ReplaceSys *sys) noexcept;

/* Create the temporary file ".NAME.XXXXXX" in the held folder, exclusively,
 * readable and writable by the user alone, known to the interruption
 * clean-up from the moment it exists. */
M_fs_error_t replace_temp_create(ReplaceSys *sys, M_fs_file_t **file) noexcept;

/* The complete temporary file gets its final owner and mode (keep: the old
 * file's, or its access list on Windows; else the defaults of a new file)
 * and goes to the device. */
M_fs_error_t replace_temp_finish(ReplaceSys *sys, M_fs_file_t *file, bool keep) noexcept;

/* Whether the held folder is still the one the path names:
 * M_FS_ERROR_DIR_CHANGED when it was moved or replaced. */
M_fs_error_t replace_folder_check(ReplaceSys *sys) noexcept;

/* Put the temporary file in place of the output, closing it (*file NULL
 * once closed), after checking that its name still holds the file written
 * (M_FS_ERROR_DIR_CHANGED if not). *busy: the target is a mount point,
 * which cannot be renamed over (then nothing is done and the result is
 * M_FS_ERROR_SUCCESS). */
M_fs_error_t replace_temp_rename(ReplaceSys *sys, M_fs_file_t **file, bool *busy) noexcept;

/* Open the complete temporary file for reading (the copy into a mount
 * point). */
M_fs_error_t replace_temp_open_read(ReplaceSys *sys, M_fs_file_t **file) noexcept;

/* Remove the temporary file if it is still there and still the one
 * written; file (may be NULL) is its open object. */
void replace_temp_remove(ReplaceSys *sys, M_fs_file_t *file) noexcept;

/* Put the interruption clean-up in place (on) or take it away. While it is
 * in place, a signal or console event that ends the process removes the
 * temporary file first; on POSIX a broken pipe is no signal but a failed
 * write (EPIPE). */
void replace_guard(bool on) noexcept;

/* Release the record: the folder, the names, anything still open. NULL is
 * ignored. */
void replace_release(ReplaceSys *sys) noexcept;

/* The file a standard stream is open on, compared with the one path
 * reaches; see M_fs_replace_reaches_stream. */
bool replace_reaches_stream(const char *path, M_fs_iostream_t stream) noexcept;

/* Whether path reaches the same file as other; see M_fs_replace_reaches. */
bool replace_reaches(const char *path, const char *other) noexcept;

} // namespace m::detail

#endif /* M_FS_REPLACE_INT_H */
