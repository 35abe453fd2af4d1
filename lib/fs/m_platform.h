/* The host's last system error, as a Windows error number.
 *
 * The library's system error numbers are the Windows ones of the result-code
 * table (m_fs_syserr.h). On Windows M_platform_errno is GetLastError. On a POSIX
 * host the failing call leaves its reason in errno; M_platform_errno converts
 * it into the equivalent Windows number so that every failure of a system
 * call is classified by the one translation,
 * M_fs_error_from_syserr(M_platform_errno()).
 *
 * The conversion:
 *   0                         -> 0   (success)
 *   ENOENT                    -> 2   (file not found)
 *   ENOTDIR                   -> 3   (path not found: a component is a file)
 *   EMFILE, ENFILE            -> 4   (too many open files)
 *   EACCES, EPERM             -> 5   (access denied)
 *   EXDEV                     -> 17  (not same device)
 *   EROFS                     -> 19  (write protect)
 *   ESPIPE                    -> 25  (seek)
 *   EIO                       -> 30  (read fault)
 *   EBUSY, ETXTBSY            -> 32  (sharing violation)
 *   ENOTSUP (= EOPNOTSUPP)    -> 50  (not supported)
 *   EEXIST                    -> 80  (file exists)
 *   EINVAL                    -> 87  (invalid parameter)
 *   ENOTEMPTY                 -> 145 (directory not empty)
 *   ENAMETOOLONG              -> 206 (file name exceeds range)
 *   any other errno           -> M_PLATFORM_SYSERR_OTHER, a number outside
 *                                the table, so it classifies as
 *                                M_FS_ERROR_GENERIC.
 *
 * errno and the last error are per thread, so the result is the calling
 * thread's.
 */
#ifndef M_PLATFORM_H
#define M_PLATFORM_H

#include "core/m_defs.h"

M_BEGIN_DECLS

/* The Windows number given for an errno value that has no row in the table.
 * It is no Windows error known to the table (ERROR_INVALID_FUNCTION, 1), so
 * M_fs_error_from_syserr turns it into M_FS_ERROR_GENERIC. */
#define M_PLATFORM_SYSERR_OTHER 1u

/* The calling thread's last system error as a Windows error number.
 *
 * Windows: GetLastError. POSIX: reads errno (and leaves it unchanged) and
 * converts it as tabled above.
 * Call it right after the failing system call, before anything that may
 * change errno. No pointers, no allocation. */
M_API uint32_t M_platform_errno(void);

/* The system's own words for the last system error that this thread's
 * library calls classified (every failing system call of the file, path,
 * information and permission layers is classified through the table above,
 * and so is every call of M_platform_errno that finds an error), such as
 * "No such file or directory" or "No space left on device": the host's
 * message for the error number, not the coarser result code. Call it right
 * after the failing library call; a later failure replaces the record.
 *
 * buf: receives the text with its NUL, cut to len bytes; NULL or a len of
 *      0: nothing is written.
 *
 * Returns M_TRUE when a system error has been recorded on this thread;
 * M_FALSE, with "" in buf, when none has. */
M_API M_bool M_platform_strerror(char *buf, size_t len);

M_END_DECLS

#endif /* M_PLATFORM_H */
