/* Writing the encrypted result in one piece (see tokenexp_output.h). */
#include "app/tokenexp_output.h"

#include "fs/m_fs_replace.h"

M_bool tokenexp_write_output(const char *path, const unsigned char *data, size_t len)
{
	return M_fs_replace_bytes(path, data, len) == M_FS_ERROR_SUCCESS;
}

M_bool tokenexp_output_is_input(const char *path, const char *export_path, const char *key_path)
{
	return M_fs_replace_reaches(path, export_path) || M_fs_replace_reaches(path, key_path);
}
