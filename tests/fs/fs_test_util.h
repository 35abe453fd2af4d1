/* Helpers shared by the file-system tests: a private scratch directory, files
 * made and read with the C runtime (independent of the layer under test), and
 * the working directory changed for one scope. */
#ifndef FS_TEST_UTIL_H
#define FS_TEST_UTIL_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "core/m_mem.h"
#include "fs/m_fs_file.h"
#include "fs/m_fs_path.h"
#include "fs/m_fs_perms.h"
#include "tests/test_util.h"

namespace fs_test {

/* A private directory under /tmp, removed with everything in it. Rights are
 * given back first, so that a test which took them from a file or a
 * directory inside does not leave it behind. */
class TempDir {
  public:
	TempDir()
	{
		char tmpl[] = "/tmp/mfs_XXXXXX";
		path_       = ::mkdtemp(tmpl) != nullptr ? tmpl : "";
	}
	~TempDir()
	{
		if (!path_.empty())
			(void)std::system(("chmod -R u+rwx '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'").c_str());
	}
	TempDir(const TempDir &)            = delete;
	TempDir &operator=(const TempDir &) = delete;

	const std::string &path() const
	{
		return path_;
	}
	std::string sub(const std::string &name) const
	{
		return path_ + "/" + name;
	}

  private:
	std::string path_;
};

/* Contents of a file; "(missing)" when it cannot be opened. */
inline std::string slurp(const std::string &path)
{
	int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
	if (fd < 0)
		return "(missing)";
	std::string out;
	char        buf[4096];
	ssize_t     n;
	while ((n = ::read(fd, buf, sizeof(buf))) > 0)
		out.append(buf, static_cast<size_t>(n));
	::close(fd);
	return out;
}

/* Write data as the whole file at path, with the given host mode. */
inline void make_file(const std::string &path, const std::string &data, mode_t mode = 0644)
{
	int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
	ASSERT_GE(fd, 0);
	ASSERT_EQ(::write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
	::close(fd);
	ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

inline mode_t mode_of(const std::string &p)
{
	struct stat st;
	return ::stat(p.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

/* Take an allocated string result; "(null)" stands for NULL. */
inline std::string take(char *s)
{
	std::string out = s == nullptr ? "(null)" : s;
	M_free(s);
	return out;
}

/* Run in another directory for one scope. */
class CwdGuard {
  public:
	explicit CwdGuard(const std::string &dir)
	{
		EXPECT_EQ(M_fs_path_get_cwd(&old_), M_FS_ERROR_SUCCESS);
		EXPECT_EQ(M_fs_path_set_cwd(dir.c_str()), M_FS_ERROR_SUCCESS);
	}
	~CwdGuard()
	{
		EXPECT_EQ(M_fs_path_set_cwd(old_), M_FS_ERROR_SUCCESS);
		M_free(old_);
	}

  private:
	char *old_ = nullptr;
};

} // namespace fs_test

#endif
