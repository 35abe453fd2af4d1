/* Replacing a file whole: the one-call form over the staged one. The
 * platform halves (m_fs_replace_posix.cpp, m_fs_replace_win.cpp) hold the
 * staged operations. */
#include "fs/m_fs_replace.h"

#include "core/m_str.h"

extern "C" {

M_fs_error_t M_fs_replace_bytes(const char *path, const unsigned char *buf, size_t len)
{
	if (M_str_isempty(path) || (buf == nullptr && len > 0))
		return M_FS_ERROR_INVALID;
	M_fs_replace_t *rep = nullptr;
	M_fs_error_t    res = M_fs_replace_begin(&rep, path);
	if (res != M_FS_ERROR_SUCCESS)
		return res;
	res = M_fs_replace_write(rep, buf, len);
	if (res != M_FS_ERROR_SUCCESS) {
		M_fs_replace_cancel(rep);
		return res;
	}
	return M_fs_replace_commit(rep);
}

} // extern "C"
