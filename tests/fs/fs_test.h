/* What the file-system layer's tests share. Each test file covers one module;
 * test_X_posix.cpp and test_X_win.cpp hold what only that host can run. */
#ifndef FS_TEST_H
#define FS_TEST_H

#include "tests/test_util.h"

#include <filesystem>
#include <fstream>
#include <random>

#include "fs/m_fs_file.h"
#include "fs/m_fs_info.h"
#include "fs/m_fs_int.h"
#include "fs/m_fs_path.h"
#include "fs/m_fs_perms.h"
#include "fs/m_platform.h"

namespace fs_test {

using test_util::EnvGuard;
using test_util::take;

/* A private directory under the system's temporary folder, removed with
 * everything in it (rights given back first, so that a test which took them
 * leaves nothing behind). */
class TempDir {
  public:
	TempDir()
	{
		std::random_device rd;
		for (int i = 0; i < 100 && path_.empty(); i++) {
			const auto      cand = std::filesystem::temp_directory_path() / ("mfs_" + std::to_string(rd()));
			std::error_code ec;
			if (std::filesystem::create_directory(cand, ec))
				path_ = cand.generic_string();
		}
	}
	~TempDir()
	{
		namespace fs = std::filesystem;
		std::error_code ec;
		fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
		for (fs::recursive_directory_iterator it(path_, ec), end; !ec && it != end; it.increment(ec)) {
			if (!it->is_symlink())
				fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
		}
		fs::remove_all(path_, ec);
	}
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

/* Contents of a file read with the C++ runtime; "(missing)" if it cannot be. */
std::string slurp(const std::string &path)
{
	std::ifstream in(path, std::ios::binary);
	if (!in)
		return "(missing)";
	return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

/* Write data as the whole file at path with the C++ runtime, in the given mode. */
void make_file(const std::string &path, const std::string &data, unsigned mode = 0644)
{
	{
		std::ofstream out(path, std::ios::binary | std::ios::trunc);
		ASSERT_TRUE(out.good()) << path;
		out << data;
	}
	std::filesystem::permissions(path, static_cast<std::filesystem::perms>(mode));
}

/* The permission bits of a file (on Windows only its write bits mean
 * anything); 0 when it cannot be examined. */
unsigned mode_of(const std::string &p)
{
	std::error_code ec;
	return static_cast<unsigned>(std::filesystem::status(p, ec).permissions()) & 07777;
}

const unsigned char *bytes(const std::string &s)
{
	return reinterpret_cast<const unsigned char *>(s.data());
}

/* A pattern whose bytes differ with position, so offsets are checked too. */
std::string pattern(size_t len)
{
	std::string s(len, '\0');
	for (size_t i = 0; i < len; i++)
		s[i] = static_cast<char>('A' + (i * 7 + i / 251) % 26);
	return s;
}

M_fs_file_t *open_or_fail(const std::string &p, size_t buf_size, uint32_t mode)
{
	M_fs_file_t *fd = nullptr;
	EXPECT_EQ(M_fs_file_open(&fd, p.c_str(), buf_size, mode, nullptr), M_FS_ERROR_SUCCESS) << p;
	return fd;
}

std::string read_some(M_fs_file_t *fd, size_t len)
{
	std::string buf(len, '\0');
	size_t      n = 99;
	EXPECT_EQ(M_fs_file_read(fd, reinterpret_cast<unsigned char *>(buf.data()), len, &n, 0), M_FS_ERROR_SUCCESS);
	return buf.substr(0, n);
}

constexpr uint32_t          RD = M_FS_FILE_MODE_READ, WR = M_FS_FILE_MODE_WRITE, NOCREATE = M_FS_FILE_MODE_NOCREATE;
constexpr uint32_t          OVER = M_FS_FILE_MODE_OVERWRITE, APPEND = M_FS_FILE_MODE_APPEND;
constexpr uint32_t          R = M_FS_PERMS_MODE_READ, W = M_FS_PERMS_MODE_WRITE, X = M_FS_PERMS_MODE_EXEC;
constexpr M_fs_perms_who_t  USER = M_FS_PERMS_WHO_USER, GROUP = M_FS_PERMS_WHO_GROUP, OTHER = M_FS_PERMS_WHO_OTHER;
constexpr M_fs_perms_type_t EXACT = M_FS_PERMS_TYPE_EXACT, ADD = M_FS_PERMS_TYPE_ADD, REMOVE = M_FS_PERMS_TYPE_REMOVE;
constexpr M_fs_system_t     WIN = M_FS_SYSTEM_WINDOWS, UNIX = M_FS_SYSTEM_UNIX, AUTO = M_FS_SYSTEM_AUTO;

/* The names in a directory, sorted and joined with spaces. */
std::string names_in(const std::string &dir)
{
	std::vector<std::string> names;
	for (const auto &e : std::filesystem::directory_iterator(dir))
		names.push_back(e.path().filename().string());
	std::sort(names.begin(), names.end());
	std::string all;
	for (const auto &n : names)
		all += (all.empty() ? "" : " ") + n;
	return all;
}

std::string err(M_fs_error_t e)
{
	return "error:" + std::to_string(static_cast<int>(e));
}

/* Every entry of a permissions object in one line: per class the file entry
 * and the directory entry as mode and kind ("=" exact, "+" add, "-" remove;
 * "." unset), then the owner. */
std::string show(const M_fs_perms_t *p)
{
	std::string out;
	for (M_fs_perms_who_t who : {USER, GROUP, OTHER, static_cast<M_fs_perms_who_t>(3)}) {
		out += M_fs_perms_get_isset(p, who)
		           ? std::to_string(M_fs_perms_get_mode(p, who)) + "=+-"[M_fs_perms_get_type(p, who)]
		           : ".";
		out += M_fs_perms_get_dir_isset(p, who)
		           ? std::to_string(M_fs_perms_get_dir_mode(p, who)) + "=+-"[M_fs_perms_get_dir_type(p, who)]
		           : ".";
		out += " ";
	}
	const char *user = M_fs_perms_get_user(p), *group = M_fs_perms_get_group(p);
	return out + (user ? user : "-") + ":" + (group ? group : "-");
}
/* Normalise and report the result or "error:<code>". */
std::string norm(const std::string &path, uint32_t flags, M_fs_system_t sys)
{
	char              *out = reinterpret_cast<char *>(1);
	const M_fs_error_t res = M_fs_path_norm(&out, path.c_str(), flags, sys);
	if (res != M_FS_ERROR_SUCCESS) {
		EXPECT_EQ(out, nullptr) << "failure must leave *out NULL";
		return err(res);
	}
	return take(out);
}

} // namespace fs_test

#endif /* FS_TEST_H */
