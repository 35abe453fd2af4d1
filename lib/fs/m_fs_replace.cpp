/* Replacing a file whole (m_fs_replace.h): what a target is, how it is
 * written, the steps of a replace in their order and every result code.
 * The system calls are the platform halves' (m_fs_replace_int.h).
 */
#include "fs/m_fs_replace.h"
#include "fs/m_fs_replace_int.h"

#include "core/m_str.h"

using m::detail::ReplaceFacts;
using m::detail::ReplaceFound;

namespace {

/* How a target is written. */
enum class Plan : uint8_t {
	NewFile,  /* a temporary file renamed over the path, the defaults of a
	             new file */
	KeepFile, /* the same, with the old file's owner and mode (access list) */
	Device,   /* written directly, opened at the first write or the commit */
	Own       /* written to the process's own descriptor or handle */
};

/* What the facts make of the target: M_FS_ERROR_SUCCESS and the plan, or
 * why it is refused. Everything here is known before any data exists. */
M_fs_error_t plan_for(const ReplaceFacts &f, Plan *plan) noexcept
{
	if (f.err != M_FS_ERROR_SUCCESS)
		return f.err;
	switch (f.found) {
		case ReplaceFound::Dir:
			return m::detail::replace_refusal(m::detail::ReplaceRefusal::IsDir);
		case ReplaceFound::Device:
			*plan = Plan::Device;
			return M_FS_ERROR_SUCCESS;
		case ReplaceFound::Own:
			*plan = Plan::Own;
			return M_FS_ERROR_SUCCESS;
		default:
			break;
	}
	/* A read-only file was meant to stay, though the folder would allow
	 * the rename; an entry the system will not let go would fail only at
	 * the end. */
	if (f.found == ReplaceFound::File && f.access != M_FS_ERROR_SUCCESS)
		return f.access;
	if (f.found != ReplaceFound::Nothing && !f.replaceable)
		return m::detail::replace_refusal(m::detail::ReplaceRefusal::NotReplaceable);
	*plan = f.found == ReplaceFound::File ? Plan::KeepFile : Plan::NewFile;
	return M_FS_ERROR_SUCCESS;
}

/* Whether a replace is open: one at a time, as the interruption clean-up
 * keeps one record. */
bool g_open = false;

} // namespace

/* A replace in progress. */
struct M_fs_replace {
	m::detail::ReplaceSys *sys;
	Plan                   plan;
	M_fs_file_t           *file;    /* the temporary file, the opened device, or
	                                the process's own stream; NULL before a
	                                device's first write */
	M_fs_error_t           err;     /* the first write failure, which sticks */
	bool                   guarded; /* the interruption clean-up is in place */
};

namespace {

bool renamed_over(const M_fs_replace_t *rep) noexcept
{
	return rep->plan == Plan::NewFile || rep->plan == Plan::KeepFile;
}

/* The device target opened for its first bytes. */
M_fs_error_t device_open(M_fs_replace_t *rep) noexcept
{
	if (rep->file != nullptr)
		return M_FS_ERROR_SUCCESS;
	return m::detail::replace_target_open(rep->sys, &rep->file);
}

/* Copy the complete temporary file into the target in place: the way to
 * write a mount point, which cannot be renamed over. Not atomic. */
M_fs_error_t copy_in_place(M_fs_replace_t *rep) noexcept
{
	M_fs_file_t *in  = nullptr;
	M_fs_file_t *out = nullptr;
	M_fs_error_t res = m::detail::replace_temp_open_read(rep->sys, &in);
	if (res == M_FS_ERROR_SUCCESS)
		res = m::detail::replace_target_open(rep->sys, &out);
	unsigned char chunk[16384];
	while (res == M_FS_ERROR_SUCCESS) {
		size_t got = 0;
		res        = M_fs_file_read(in, chunk, sizeof(chunk), &got, 0);
		if (res != M_FS_ERROR_SUCCESS || got == 0)
			break;
		res = M_fs_file_write_all(out, chunk, got);
	}
	if (res == M_FS_ERROR_SUCCESS)
		res = M_fs_file_sync(out, M_FS_FILE_SYNC_OS);
	M_fs_file_close(in);
	M_fs_file_close(out);
	return res;
}

/* Put the complete temporary file in place of the output. */
M_fs_error_t put_in_place(M_fs_replace_t *rep) noexcept
{
	M_fs_error_t res = m::detail::replace_temp_finish(rep->sys, rep->file, rep->plan == Plan::KeepFile);
	if (res == M_FS_ERROR_SUCCESS)
		res = m::detail::replace_folder_check(rep->sys);
	bool busy = false;
	if (res == M_FS_ERROR_SUCCESS)
		res = m::detail::replace_temp_rename(rep->sys, &rep->file, &busy);
	if (res == M_FS_ERROR_SUCCESS && busy) {
		res = copy_in_place(rep);
		m::detail::replace_temp_remove(rep->sys, rep->file);
	}
	return res;
}

/* End the replace: a temporary file not put in place goes, and so does
 * everything else the replace held. */
void release(M_fs_replace_t *rep) noexcept
{
	if (rep->guarded && renamed_over(rep))
		m::detail::replace_temp_remove(rep->sys, rep->file);
	M_fs_file_close(rep->file);
	if (rep->guarded)
		m::detail::replace_guard(false);
	m::detail::replace_release(rep->sys);
	M_free(rep);
	g_open = false;
}

/* Resolve and examine the target and decide its plan; a device must be
 * writable now. */
M_fs_error_t prepare(M_fs_replace_t *r, const char *path) noexcept
{
	M_fs_error_t res = m::detail::replace_resolve(path, &r->sys);
	if (res == M_FS_ERROR_SUCCESS)
		res = plan_for(m::detail::replace_examine(r->sys), &r->plan);
	if (res == M_FS_ERROR_SUCCESS && r->plan == Plan::Device)
		res = m::detail::replace_device_check(r->sys);
	if (res == M_FS_ERROR_SUCCESS && r->plan == Plan::Own)
		r->file = m::detail::replace_own(r->sys);
	if (res != M_FS_ERROR_SUCCESS)
		return res;
	m::detail::replace_guard(true);
	r->guarded = true;
	return renamed_over(r) ? m::detail::replace_temp_create(r->sys, &r->file) : M_FS_ERROR_SUCCESS;
}

} // namespace

bool m::detail::replace_sticky_refuses(bool sticky, uint32_t entry_owner, uint32_t folder_owner, uint32_t user,
                                       bool privileged) noexcept
{
	return sticky && !privileged && entry_owner != user && folder_owner != user;
}

extern "C" {

M_fs_error_t M_fs_replace_begin(M_fs_replace_t **rep, const char *path)
{
	if (rep == nullptr)
		return M_FS_ERROR_INVALID;
	*rep = nullptr;
	if (M_str_isempty(path))
		return M_FS_ERROR_INVALID;
	if (g_open)
		return M_FS_ERROR_GENERIC;
	g_open                 = true;
	auto              *r   = static_cast<M_fs_replace_t *>(M_malloc_zero(sizeof(M_fs_replace_t)));
	const M_fs_error_t res = prepare(r, path);
	if (res != M_FS_ERROR_SUCCESS) {
		release(r);
		return res;
	}
	*rep = r;
	return M_FS_ERROR_SUCCESS;
}

M_fs_error_t M_fs_replace_write(M_fs_replace_t *rep, const unsigned char *buf, size_t len)
{
	if (rep == nullptr || (buf == nullptr && len > 0))
		return M_FS_ERROR_INVALID;
	if (rep->err == M_FS_ERROR_SUCCESS && rep->plan == Plan::Device)
		rep->err = device_open(rep);
	if (rep->err == M_FS_ERROR_SUCCESS && len > 0)
		rep->err = M_fs_file_write_all(rep->file, buf, len);
	return rep->err;
}

M_fs_error_t M_fs_replace_commit(M_fs_replace_t *rep)
{
	if (rep == nullptr)
		return M_FS_ERROR_INVALID;
	M_fs_error_t res = rep->err;
	if (res == M_FS_ERROR_SUCCESS && rep->plan == Plan::Device)
		res = device_open(rep); /* nothing written: the device is still emptied */
	else if (res == M_FS_ERROR_SUCCESS && renamed_over(rep))
		res = put_in_place(rep);
	release(rep);
	return res;
}

void M_fs_replace_cancel(M_fs_replace_t *rep)
{
	if (rep != nullptr)
		release(rep);
}

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

M_bool M_fs_replace_reaches(const char *path, const char *other)
{
	return !M_str_isempty(path) && !M_str_isempty(other) && m::detail::replace_reaches(path, other);
}

M_bool M_fs_replace_reaches_stream(const char *path, M_fs_iostream_t stream)
{
	return !M_str_isempty(path) && stream >= M_FS_IOSTREAM_IN && stream <= M_FS_IOSTREAM_ERR &&
	       m::detail::replace_reaches_stream(path, stream);
}

} // extern "C"
