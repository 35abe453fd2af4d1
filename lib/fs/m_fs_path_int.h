/* Library-internal helpers of the path layer (C++ only).
 *
 * The text functions and normalisation work on a small owned array of
 * component strings rather than on the public M_list_str_t, which appears
 * only where the API hands a list over or takes one.
 */
#ifndef M_FS_PATH_INT_H
#define M_FS_PATH_INT_H

#include <cstddef>

#include "fs/m_fs_path.h"

namespace m::detail {

/* The longest path normalisation accepts, plus one, in characters as the
 * style's system counts them (M_fs_path_length): Windows' MAX_PATH, for
 * every style. */
constexpr size_t kPathMax = 260;

/* The same for a path in the extended-length form ("\\?\"), which Windows
 * opens past MAX_PATH: the longest path the system opens, in UTF-16 units. */
constexpr size_t kExtendedPathMax = 32767;

/* An ordered array of owned component strings (M_malloc'd copies). */
class Parts {
  public:
	Parts() noexcept = default;
	~Parts() noexcept;
	Parts(const Parts &)            = delete;
	Parts &operator=(const Parts &) = delete;
	Parts(Parts &&other) noexcept;
	Parts &operator=(Parts &&other) noexcept;

	/* Append a copy of len bytes of s (s may hold no terminator). */
	void push(const char *s, size_t len) noexcept;
	/* Append a copy of a NUL-terminated string (NULL counts as ""). */
	void push(const char *s) noexcept;
	/* Append copies of o's components from index from on. */
	void push_all(const Parts &o, size_t from = 0) noexcept;
	/* Remove the last component (nothing when empty). */
	void pop_back() noexcept;

	size_t size() const noexcept
	{
		return len_;
	}
	bool empty() const noexcept
	{
		return len_ == 0;
	}
	const char *at(size_t i) const noexcept
	{
		return items_[i];
	}
	const char *back() const noexcept
	{
		return items_[len_ - 1];
	}

  private:
	char **items_ = nullptr;
	size_t len_   = 0;
	size_t cap_   = 0;
};

/* M_FS_SYSTEM_AUTO as the host's style. */
M_fs_system_t resolve(M_fs_system_t sys) noexcept;

/* A component that is a drive: its second character is a colon. */
bool is_drive(const char *s) noexcept;

/* Split a path (the rules of M_fs_path_componentize_path); sys resolved. */
Parts split(const char *path, M_fs_system_t sys) noexcept;

/* Join components (the rules of M_fs_path_join_parts); NULL when empty. */
char *join(const Parts &in, M_fs_system_t sys) noexcept;

/* The host's path style, current directory, home directory and environment,
 * as the text functions and the normalisation need them (m_fs_path_posix.cpp,
 * m_fs_path_win.cpp). */

/* The style M_FS_SYSTEM_AUTO stands for on this host. */
M_fs_system_t host_style() noexcept;

/* The current directory (new string) or NULL when it cannot be read. */
char *cwd_for_norm() noexcept;

/* The user's home (profile) directory as a new string (free with M_free),
 * or NULL when the host cannot tell. */
char *home_dir() noexcept;

/* The value of the environment variable of the len bytes at name, as a new
 * string (free with M_free); NULL when it is not set or is empty. */
char *env_value(const char *name, size_t len) noexcept;

/* M_fs_path_get_cwd, _set_cwd and _readlink once their arguments are
 * checked (out pointers cleared, paths not empty): the system's calls. */
M_fs_error_t path_cwd_sys(char **cwd) noexcept;
M_fs_error_t path_set_cwd_sys(const char *path) noexcept;
M_fs_error_t path_readlink_sys(char **out, const char *path) noexcept;

} // namespace m::detail

#endif /* M_FS_PATH_INT_H */
