/* errno to Windows error numbers: the single place where this host's error
 * reasons enter the library's error model.
 *
 * The platform halves never classify errno themselves; they call
 * M_platform_errno() right after a failing call and hand the Windows number
 * to M_fs_error_from_syserr (m_fs_syserr.cpp).
 */
#include "fs/m_platform.h"
#include "fs/m_platform_int.h"

#include "core/m_str.h"

#include <cerrno>
#include <cstring>

namespace {

struct ErrnoRow {
	int      err;    /* errno value */
	uint32_t syserr; /* equivalent Windows error number */
};

/* Every errno value the table knows. ENOTSUP and EOPNOTSUPP are the same
 * number on Linux; both are listed so another host would still map them. */
constexpr ErrnoRow kErrnoTable[] = {
    {0, 0},       /* ERROR_SUCCESS */
    {ENOENT, 2},  /* ERROR_FILE_NOT_FOUND */
    {ENOTDIR, 3}, /* ERROR_PATH_NOT_FOUND: a component is not a directory */
    {EMFILE, 4},  /* ERROR_TOO_MANY_OPEN_FILES */
    {ENFILE, 4},
    {EACCES, 5}, /* ERROR_ACCESS_DENIED */
    {EPERM, 5},
    {EXDEV, 17},  /* ERROR_NOT_SAME_DEVICE */
    {EROFS, 19},  /* ERROR_WRITE_PROTECT */
    {ESPIPE, 25}, /* ERROR_SEEK */
    {EIO, 30},    /* ERROR_READ_FAULT */
    {EBUSY, 32},  /* ERROR_SHARING_VIOLATION */
    {ETXTBSY, 32},
    {ENOTSUP, 50}, /* ERROR_NOT_SUPPORTED */
    {EOPNOTSUPP, 50},
    {EEXIST, 80},        /* ERROR_FILE_EXISTS */
    {EINVAL, 87},        /* ERROR_INVALID_PARAMETER */
    {ENOTEMPTY, 145},    /* ERROR_DIR_NOT_EMPTY */
    {ENAMETOOLONG, 206}, /* ERROR_FILENAME_EXCED_RANGE */
};
static_assert(sizeof(kErrnoTable) / sizeof(kErrnoTable[0]) == 19, "errno table rows");

/* The last errno this thread classified, for M_platform_strerror. */
thread_local int t_last_errno = 0;

} // namespace

namespace m::detail {

uint32_t syserr_from_errno(int err) noexcept
{
	if (err != 0)
		t_last_errno = err;
	for (const ErrnoRow &row : kErrnoTable) {
		if (row.err == err)
			return row.syserr;
	}
	return M_PLATFORM_SYSERR_OTHER;
}

} // namespace m::detail

extern "C" {

uint32_t M_platform_errno(void)
{
	return m::detail::syserr_from_errno(errno);
}

M_bool M_platform_strerror(char *buf, size_t len)
{
	if (buf == nullptr || len == 0)
		return t_last_errno != 0;
	buf[0] = '\0';
	if (t_last_errno == 0)
		return M_FALSE;
	/* The GNU form: the text may be a constant rather than buf. */
	char        room[256];
	const char *text = ::strerror_r(t_last_errno, room, sizeof(room));
	M_str_cpy(buf, len, text);
	return M_TRUE;
}

} // extern "C"
