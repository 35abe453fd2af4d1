/* Helpers shared by the file-system tests: a private scratch directory and
 * files made in it through the layer's own whole-file writer. */
#ifndef FS_TEST_UTIL_H
#define FS_TEST_UTIL_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "fs/m_fs_file.h"

namespace fs_test {

/* A private directory under /tmp, removed with everything in it. Rights are
 * given back first, so that a test which took them from a file or a
 * directory inside does not leave it behind. */
class TempDir {
  public:
	TempDir()
	{
		char        tmpl[] = "/tmp/mfs_XXXXXX";
		const char *d      = ::mkdtemp(tmpl);
		path_              = d != nullptr ? d : "";
	}
	~TempDir()
	{
		if (!path_.empty()) {
			std::string cmd = "chmod -R u+rwx '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'";
			(void)std::system(cmd.c_str());
		}
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

/* Write text (without its terminator) as the whole file at path. */
inline void write_text(const std::string &path, const char *text)
{
	ASSERT_EQ(M_fs_file_write_bytes(path.c_str(), reinterpret_cast<const unsigned char *>(text), 0, 0, nullptr),
	          M_FS_ERROR_SUCCESS);
}

/* Write text as the whole file at path and give it the host mode. */
inline void make_file(const std::string &path, const char *text, mode_t mode)
{
	write_text(path, text);
	ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

} // namespace fs_test

#endif
