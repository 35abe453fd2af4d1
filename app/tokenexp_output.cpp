/* Writing the encrypted result as it is made (see tokenexp_output.h). */
#include "app/tokenexp_output.h"

#include "app/tokenexp_report.h"
#include "core/m_str_fmt.h"

namespace {

/* Why the replace failed with res, in words: the file layer's, or the
 * replace's own where no system call failed. */
void output_reason(M_fs_error_t res, char *reason, size_t reason_len)
{
	if (res == M_FS_ERROR_DIR_CHANGED)
		M_snprintf(reason, reason_len, "The output's folder was moved or replaced during the run; nothing was written");
	else
		tokenexp_fs_reason(res, reason, reason_len);
}

} // namespace

M_bool tokenexp_output_begin(tokenexp_output_t *out, const char *path, char *reason, size_t reason_len)
{
	if (out == nullptr)
		return M_FALSE;
	out->replace.reset();
	out->written = 0;
	out->failed  = M_FALSE;
	/* The prompt and every line of the run would land inside the message. */
	if (M_fs_replace_reaches_stream(path, M_FS_IOSTREAM_ERR)) {
		M_snprintf(reason, reason_len, "The output is the file messages go to");
		return M_FALSE;
	}
	M_fs_replace_t    *begun = nullptr;
	const M_fs_error_t res   = M_fs_replace_begin(&begun, path);
	if (res != M_FS_ERROR_SUCCESS) {
		output_reason(res, reason, reason_len);
		return M_FALSE;
	}
	out->replace.reset(begun);
	return M_TRUE;
}

M_bool tokenexp_output_write(const unsigned char *bytes, size_t len, void *thunk)
{
	auto *out = static_cast<tokenexp_output_t *>(thunk);
	if (out == nullptr || !out->replace || out->failed)
		return M_FALSE;
	const M_fs_error_t res = M_fs_replace_write(out->replace.get(), bytes, len);
	if (res != M_FS_ERROR_SUCCESS) {
		/* The system's words belong to the thread that wrote: taken now. */
		tokenexp_fs_reason(res, out->reason, sizeof(out->reason));
		out->failed = M_TRUE;
		return M_FALSE;
	}
	out->written += len;
	return M_TRUE;
}

M_bool tokenexp_output_commit(tokenexp_output_t *out, char *reason, size_t reason_len)
{
	if (out == nullptr || !out->replace)
		return M_FALSE;
	/* The reason is taken at once: the commit of a failed replace cancels
	 * it, which makes calls of its own. */
	const M_fs_error_t res = M_fs_replace_commit(out->replace.release());
	if (out->failed)
		M_snprintf(reason, reason_len, "%s", out->reason);
	else if (res != M_FS_ERROR_SUCCESS)
		output_reason(res, reason, reason_len);
	return res == M_FS_ERROR_SUCCESS && !out->failed;
}

M_bool tokenexp_output_is_input(const char *path, const char *export_path, const char *key_path)
{
	/* The export key may come from a file on standard input: replacing that
	 * file would lose it. */
	return M_fs_replace_reaches(path, export_path) || M_fs_replace_reaches(path, key_path) ||
	       M_fs_replace_reaches_stream(path, M_FS_IOSTREAM_IN);
}
