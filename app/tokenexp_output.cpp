/* Writing the encrypted result in one piece (see tokenexp_output.h). */
#include "app/tokenexp_output.h"

#include "app/tokenexp_report.h"

M_bool tokenexp_output_begin(tokenexp::replace_guard *rep, const char *path, char *reason, size_t reason_len)
{
	if (rep == nullptr)
		return M_FALSE;
	rep->reset();
	M_fs_replace_t    *begun = nullptr;
	const M_fs_error_t res   = M_fs_replace_begin(&begun, path);
	if (res != M_FS_ERROR_SUCCESS) {
		tokenexp_fs_reason(res, reason, reason_len);
		return M_FALSE;
	}
	rep->reset(begun);
	return M_TRUE;
}

M_bool tokenexp_output_finish(tokenexp::replace_guard *rep, const unsigned char *data, size_t len, char *reason,
                              size_t reason_len)
{
	if (rep == nullptr || !*rep)
		return M_FALSE;
	/* The reason is taken at once: cancelling the replace makes calls of
	 * its own. A failed write sticks, so the commit is not tried. */
	M_fs_error_t res = M_fs_replace_write(rep->get(), data, len);
	if (res == M_FS_ERROR_SUCCESS)
		res = M_fs_replace_commit(rep->release());
	if (res != M_FS_ERROR_SUCCESS)
		tokenexp_fs_reason(res, reason, reason_len);
	return res == M_FS_ERROR_SUCCESS;
}

M_bool tokenexp_output_is_input(const char *path, const char *export_path, const char *key_path)
{
	/* The export key may come from a file on standard input: replacing that
	 * file would lose it. */
	return M_fs_replace_reaches(path, export_path) || M_fs_replace_reaches(path, key_path) ||
	       M_fs_replace_reaches_stream(path, M_FS_IOSTREAM_IN);
}
