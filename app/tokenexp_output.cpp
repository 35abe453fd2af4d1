/* Writing the encrypted result in one piece: temporary file, sync, rename.
 *
 * The output usually replaces the previous run's file, and the table inside
 * is card data that exists nowhere else once the export is gone. Writing in
 * place would lose the old file to any failure part-way (a full disk, a file
 * size limit, a kill), and opening the path would follow a link someone
 * planted there. So the bytes go to a new file beside the output and only a
 * complete, synced file is renamed over it: the path shows the old content
 * or the new, never a mix. */
#include "app/tokenexp_output.h"
#include "app/tokenexp_signals_int.h"

#include "core/m_buf.h"
#include "core/m_mem.h"
#include "core/m_str.h"
#include "fs/m_fs_file.h"
#include "fs/m_fs_path.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/* The file layer reads every path with these: links resolved, "~" expanded.
 * Used to find the file an input was opened as. */
constexpr uint32_t kInputNormFlags = M_FS_PATH_NORM_RESOLVE_LINK | M_FS_PATH_NORM_HOME;

/* The output path is read the same way but without resolving links: its
 * last component must stay what it names, so that a link there is replaced
 * rather than followed. Directories on the way are resolved by the system. */
constexpr uint32_t kOutputNormFlags = M_FS_PATH_NORM_HOME;

/* Longest part of the output's file name copied into the temporary name,
 * so that ".NAME.XXXXXX" stays within the 255 bytes a file name may have. */
constexpr size_t kTmpNameKeep = 240;

/* The temporary file's path, for the signal handlers. Static storage: a
 * handler must not allocate. Written only while the signals are blocked. */
char                  g_tmp_path[4096];
volatile sig_atomic_t g_tmp_live = 0;

constexpr int                                 kSignals[]  = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ};
constexpr size_t                              kNumSignals = sizeof(kSignals) / sizeof(kSignals[0]);
tokenexp::detail::SignalHandlers<kNumSignals> g_handlers  = {kSignals, {}, {}};

/* A signal while the temporary file exists: remove it, then let the signal
 * do what it would have done (normally end the process). */
void remove_on_signal(int sig)
{
	if (g_tmp_live) {
		(void)unlink(g_tmp_path);
		g_tmp_live = 0;
	}
	g_handlers.pass_on(sig);
}

/* Write all len bytes to desc, across short writes and interruptions. */
bool write_all(int desc, const unsigned char *data, size_t len)
{
	while (len > 0) {
		const ssize_t n = write(desc, data, len);
		if (n < 0) {
			if (errno == EINTR)
				continue;
			return false;
		}
		if (n == 0)
			return false;
		data += n;
		len -= static_cast<size_t>(n);
	}
	return true;
}

/* The permission bits a newly created file gets: 0666 less the umask. The
 * umask can only be read by setting it, so it is put straight back. */
mode_t new_file_mode()
{
	const mode_t mask = umask(077);
	umask(mask);
	return static_cast<mode_t>(0666 & ~mask);
}

/* Device and inode of path (stat follows links). */
bool identity(const char *path, uint32_t norm_flags, dev_t *dev, ino_t *ino)
{
	if (M_str_isempty(path))
		return false;
	char *norm = nullptr;
	if (M_fs_path_norm(&norm, path, norm_flags, M_FS_SYSTEM_AUTO) != M_FS_ERROR_SUCCESS)
		return false;
	struct stat st;
	const bool  ok = stat(norm, &st) == 0;
	M_free(norm);
	if (!ok)
		return false;
	*dev = st.st_dev;
	*ino = st.st_ino;
	return true;
}

/* Write to something that is not a regular file (a device, a FIFO): it is a
 * stream, there is nothing to replace, so it is written as it stands. */
bool write_direct(const char *path, const unsigned char *data, size_t len)
{
	if (len == 0)
		return true;
	size_t wrote = 0;
	return M_fs_file_write_bytes(path, data, len, M_FS_FILE_MODE_WRITE, &wrote) == M_FS_ERROR_SUCCESS && wrote == len;
}

/* The directory part of a normalised path and the ".NAME.XXXXXX" template
 * beside it, into tmpl (the directory part is returned, a new string). */
char *make_template(const char *norm, M_buf_t *tmpl)
{
	const char *slash = std::strrchr(norm, '/');
	char       *dir;
	const char *base;
	if (slash == nullptr) {
		dir  = M_strdup(".");
		base = norm;
	} else {
		dir  = slash == norm ? M_strdup("/") : M_strdup_max(norm, static_cast<size_t>(slash - norm));
		base = slash + 1;
	}
	if (slash != nullptr)
		M_buf_add_bytes(tmpl, norm, static_cast<size_t>(slash - norm) + 1);
	M_buf_add_byte(tmpl, '.');
	M_buf_add_bytes(tmpl, base, M_str_len_max(base, kTmpNameKeep));
	M_buf_add_str(tmpl, ".XXXXXX");
	return dir;
}

/* Sync the directory so that the rename itself survives a crash. Some file
 * systems cannot sync a directory; the new file is in place either way, so
 * a failure here is not the write's failure. */
void sync_dir(const char *dir)
{
	const int desc = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (desc < 0)
		return;
	(void)fsync(desc);
	(void)close(desc);
}

/* Temporary file, sync, rename. target: the normalised output path. */
bool write_replace(const char *target, mode_t mode, const unsigned char *data, size_t len)
{
	M_buf_t *tmpl = M_buf_create();
	char    *dir  = make_template(target, tmpl);
	if (M_buf_len(tmpl) >= sizeof(g_tmp_path)) {
		M_buf_cancel(tmpl);
		M_free(dir);
		return false;
	}

	/* The name exists from the moment mkostemp creates the file; the
	 * handlers must know it by then, so the signals wait meanwhile. */
	const sigset_t handled = g_handlers.set();
	sigset_t       old_mask;
	sigprocmask(SIG_BLOCK, &handled, &old_mask);
	g_handlers.install(remove_on_signal);
	std::memcpy(g_tmp_path, M_buf_peek(tmpl), M_buf_len(tmpl) + 1);
	M_buf_cancel(tmpl);
	/* O_EXCL (always set by mkostemp): an existing name, a planted link
	 * included, is never opened; the file is new, ours and mode 0600. */
	int desc = mkostemp(g_tmp_path, O_CLOEXEC);
	if (desc >= 0)
		g_tmp_live = 1;
	sigprocmask(SIG_SETMASK, &old_mask, nullptr);

	bool ok = desc >= 0 && write_all(desc, data, len) && fchmod(desc, mode) == 0 && fsync(desc) == 0;
	if (desc >= 0) {
		/* A network file system may report a failed write only here. */
		if (close(desc) != 0)
			ok = false;
	}
	if (ok)
		ok = rename(g_tmp_path, target) == 0;

	sigprocmask(SIG_BLOCK, &handled, &old_mask);
	if (!ok && g_tmp_live)
		(void)unlink(g_tmp_path);
	g_tmp_live = 0;
	g_handlers.restore();
	sigprocmask(SIG_SETMASK, &old_mask, nullptr);

	if (ok)
		sync_dir(dir);
	M_free(dir);
	return ok;
}

} // namespace

M_bool tokenexp_write_output(const char *path, const unsigned char *data, size_t len)
{
	if (M_str_isempty(path) || (data == nullptr && len > 0))
		return M_FALSE;

	char *norm = nullptr;
	if (M_fs_path_norm(&norm, path, kOutputNormFlags, M_FS_SYSTEM_AUTO) != M_FS_ERROR_SUCCESS)
		return M_FALSE;

	bool        ok;
	struct stat st;
	if (stat(norm, &st) == 0) {
		if (S_ISDIR(st.st_mode)) {
			ok = false;
		} else if (!S_ISREG(st.st_mode)) {
			/* The path as given, so that the file layer reaches it the way
			 * the run always has (/dev/stdout and its kin included). */
			ok = write_direct(path, data, len);
		} else {
			/* An existing regular file keeps its permission bits; a link to
			 * one is replaced by a new file with the default mode. */
			struct stat lst;
			const bool  plain = lstat(norm, &lst) == 0 && S_ISREG(lst.st_mode);
			/* A file the user may not write is not replaced either: the
			 * rename needs only the directory's permission, but a read-only
			 * output was meant to stay as it is. */
			if (plain && access(norm, W_OK) != 0)
				ok = false;
			else
				ok = write_replace(norm, plain ? static_cast<mode_t>(lst.st_mode & 0777) : new_file_mode(), data, len);
		}
	} else if (errno == ENOENT) {
		/* Nothing there, or a dangling link: a new file. */
		ok = write_replace(norm, new_file_mode(), data, len);
	} else {
		ok = false;
	}
	M_free(norm);
	return ok;
}

M_bool tokenexp_output_is_input(const char *path, const char *export_path, const char *key_path)
{
	dev_t out_dev;
	ino_t out_ino;
	if (!identity(path, kOutputNormFlags, &out_dev, &out_ino))
		return M_FALSE;
	for (const char *input : {export_path, key_path}) {
		dev_t dev;
		ino_t ino;
		if (identity(input, kInputNormFlags, &dev, &ino) && dev == out_dev && ino == out_ino)
			return M_TRUE;
	}
	return M_FALSE;
}
