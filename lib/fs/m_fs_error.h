/* File-system result codes and object types.
 *
 * Every operation of the file layer (m_fs_file.h), the path layer
 * (m_fs_path.h) and the file information and permission layer (m_fs_info.h,
 * m_fs_perms.h) reports its outcome as one M_fs_error_t. Zero is success;
 * every other value is a class of failure. Failing system calls are
 * classified by one fixed table (M_fs_error_from_syserr, m_fs_syserr.h).
 *
 * The layer's opaque objects are declared here once, since the modules name
 * each other's objects; each is created and released by its own module.
 * Nothing here allocates, keeps state or prints.
 */
#ifndef M_FS_ERROR_H
#define M_FS_ERROR_H

#include "core/m_defs.h"

M_BEGIN_DECLS

/* Result of every file-system operation of the library.
 *
 * The numbers are fixed: callers may store or compare them. Values 8, 14 and
 * 18 are reserved (they belong to the enumeration) and no operation of this
 * library produces them. */
typedef enum {
	M_FS_ERROR_SUCCESS         = 0,  /* success */
	M_FS_ERROR_GENERIC         = 1,  /* any failure not classified below */
	M_FS_ERROR_INVALID         = 2,  /* bad argument: NULL or empty where a value
                                        is needed, a mode without READ or WRITE,
                                        a length one platform call cannot carry */
	M_FS_ERROR_PERMISSION      = 3,  /* access denied, or locked by another opener */
	M_FS_ERROR_NOT_SUPPORTED   = 4,  /* the operation is not supported */
	M_FS_ERROR_IO              = 5,  /* device read or write fault; buffered data
                                        whose write-out failed */
	M_FS_ERROR_SEEK            = 6,  /* seek failure */
	M_FS_ERROR_READONLY        = 7,  /* the medium is write-protected */
	M_FS_ERROR_RESERVED_8      = 8,  /* reserved, never produced */
	M_FS_ERROR_NOT_FOUND       = 9,  /* the file or a directory on its path is missing */
	M_FS_ERROR_NAME_TOO_LONG   = 10, /* the path is too long */
	M_FS_ERROR_FILE_EXISTS     = 11, /* the file already exists */
	M_FS_ERROR_FILE_TOO_BIG    = 12, /* a whole-file read exceeded its size limit */
	M_FS_ERROR_TOO_MANY_FILES  = 13, /* too many open files, or no more files */
	M_FS_ERROR_RESERVED_14     = 14, /* reserved, never produced */
	M_FS_ERROR_NOT_DIR         = 15, /* a directory name is invalid */
	M_FS_ERROR_DIR_NOT_EMPTY   = 16, /* the directory is not empty */
	M_FS_ERROR_LINK_LOOP       = 17, /* path normalisation met the same path twice
                                        or followed too many links */
	M_FS_ERROR_RESERVED_18     = 18, /* reserved, never produced */
	M_FS_ERROR_NOT_SAME_DEVICE = 19, /* source and destination on different devices */
	M_FS_ERROR_DIR_CHANGED     = 20  /* the directory an operation works in was
                                        moved or replaced while it worked */
} M_fs_error_t;

/* An open file (opaque, m_fs_file.h). Created by M_fs_file_open or
 * M_fs_file_open_iostream, owned by the caller, released by M_fs_file_close. */
typedef struct M_fs_file M_fs_file_t;

/* File information object (opaque, m_fs_info.h). Created by
 * M_fs_info_create, M_fs_info or M_fs_info_file; released by
 * M_fs_info_destroy. */
typedef struct M_fs_info M_fs_info_t;

/* Permissions object (opaque, m_fs_perms.h). Created by M_fs_perms_create or
 * M_fs_perms_dup, released by M_fs_perms_destroy. */
typedef struct M_fs_perms M_fs_perms_t;

M_END_DECLS

#endif /* M_FS_ERROR_H */
