/* The Windows error table behind the file-system result codes.
 *
 * The result codes themselves (M_fs_error_t) are in m_fs_error.h. The
 * library's system error numbers are the Windows ones: GetLastError on
 * Windows; on a POSIX host the platform half converts errno into the
 * equivalent Windows number first
 * (M_platform_errno, m_platform.h) and then passes it through the one table
 * here, M_fs_error_from_syserr. So every failing system call, on any host, is
 * classified by the same fixed table.
 *
 * The module also keeps the two size checks that guard platform calls whose
 * length argument is narrower than size_t (pure arithmetic), and the
 * conversion of the system's UTF-16 text into UTF-8.
 *
 * Only M_win32_wchar_to_char allocates (its result); nothing here keeps
 * state or prints, and all functions are safe to call from any thread.
 */
#ifndef M_FS_SYSERR_H
#define M_FS_SYSERR_H

#include "core/m_defs.h"
#include "fs/m_fs_error.h"

#ifndef __cplusplus
#include <uchar.h> /* char16_t (a keyword type in C++) */
#endif

M_BEGIN_DECLS

/* Translate a Windows system error number into a result code.
 *
 * syserr: a Windows error number, as returned by M_platform_errno().
 *
 * The table is fixed; several numbers share one result:
 *   0                      -> M_FS_ERROR_SUCCESS
 *   2 (file not found),
 *   3 (path not found)     -> M_FS_ERROR_NOT_FOUND
 *   4 (too many open files),
 *   18 (no more files)     -> M_FS_ERROR_TOO_MANY_FILES
 *   5 (access denied),
 *   32 (sharing violation) -> M_FS_ERROR_PERMISSION
 *   17 (not same device)   -> M_FS_ERROR_NOT_SAME_DEVICE
 *   19 (write protect)     -> M_FS_ERROR_READONLY
 *   25 (seek)              -> M_FS_ERROR_SEEK
 *   29 (write fault),
 *   30 (read fault)        -> M_FS_ERROR_IO
 *   50 (not supported)     -> M_FS_ERROR_NOT_SUPPORTED
 *   80 (file exists),
 *   183 (already exists)   -> M_FS_ERROR_FILE_EXISTS
 *   87 (invalid parameter) -> M_FS_ERROR_INVALID
 *   145 (dir not empty)    -> M_FS_ERROR_DIR_NOT_EMPTY
 *   206 (name too long)    -> M_FS_ERROR_NAME_TOO_LONG
 *   267 (directory name)   -> M_FS_ERROR_NOT_DIR
 *   any other number       -> M_FS_ERROR_GENERIC
 *
 * No pointers, no allocation, no state. */
M_API M_fs_error_t M_fs_error_from_syserr(uint32_t syserr);

/* Narrow a size to an unsigned 32-bit count (the widest length one platform
 * read or write accepts).
 *
 * out: receives the value when it fits, else 0. NULL: the value is only
 *      tested.
 *
 * Returns M_TRUE when val is at most 4,294,967,295 (0xFFFFFFFF), M_FALSE
 * otherwise. */
M_API M_bool M_win32_size_t_to_dword(size_t val, uint32_t *out);

/* Narrow a size to a non-negative signed 32-bit count.
 *
 * out: receives the value when it fits, else 0. NULL: the value is only
 *      tested.
 *
 * Returns M_TRUE when val is at most 2,147,483,647 (0x7FFFFFFF), M_FALSE
 * otherwise. */
M_API M_bool M_win32_size_t_to_int(size_t val, int32_t *out);

/* Convert a NUL-terminated UTF-16 string (the system's wide text) into a new
 * NUL-terminated UTF-8 string.
 *
 * A surrogate pair becomes one four-byte sequence; a surrogate without its
 * partner cannot be represented and becomes U+FFFD (EF BF BD), so the result
 * is always valid UTF-8. The result is measured first (its length including
 * the terminator); the block allocated is zeroed and one byte longer than
 * that, so it stays terminated whatever is copied into it.
 *
 * str: the UTF-16 text, read up to its 0 code unit; NULL gives NULL.
 * Returns a new string owned by the caller (free with M_free), or NULL for a
 * NULL str. Nothing is invalidated. */
M_API char *M_win32_wchar_to_char(const char16_t *str) M_WARN_UNUSED_RESULT;

M_END_DECLS

#endif /* M_FS_SYSERR_H */
