/* Paths as text, and path normalisation.
 *
 * Splitting a path into components, joining components and paths, the
 * directory and the last component of a path, absolute and UNC tests, and
 * normalisation (environment variables, the home directory, the current
 * directory, "." and "..", symbolic links).
 *
 * Two path styles exist, and most functions take the style as an argument,
 * so either style is handled on any host as plain text:
 *
 *   property                   Windows (M_FS_SYSTEM_WINDOWS)    Unix (M_FS_SYSTEM_UNIX)
 *   separator written          backslash                        slash
 *   absolute                   begins with two backslashes      begins with a slash
 *                              (UNC) or has a colon as second
 *                              character (a drive, "C:" or
 *                              "C:name" too)
 *   root marker in a           an empty first component stands  an empty first component
 *   component list             for the UNC prefix               stands for the leading slash
 *
 * M_FS_SYSTEM_AUTO is the host's own style: Unix on Linux, Windows on Windows.
 * In the Windows style a path that begins with one backslash names the root
 * of the current drive: normalising it puts that drive in front.
 *
 * In both styles both slash and backslash separate components, and empty
 * parts (doubled separators) are dropped, except the root marker.
 *
 * A path of M_fs_path_get_path_max() (260) characters or more is too long for
 * normalisation, in every style, as Windows refuses a path of MAX_PATH
 * characters; but a Windows-style path in the extended-length form
 * ("\\\\?\\C:\\..."), Windows' own way past that limit, may hold up to 32766
 * UTF-16 units. Characters are counted as each system counts them
 * (M_fs_path_length), so a path of Cyrillic letters is not refused for its
 * two bytes a letter.
 *
 * Every string result is a new block owned by the caller (free with M_free);
 * the component lists are new M_list_str_t owned by the caller (free with
 * M_list_str_destroy). The text functions report failure only by NULL.
 *
 * No state of its own: the current directory and the environment are
 * process-wide and read without a lock.
 */
#ifndef M_FS_PATH_H
#define M_FS_PATH_H

#include "core/m_defs.h"
#include "containers/m_list_str.h"
#include "fs/m_fs_error.h"

M_BEGIN_DECLS

/* Path style. */
typedef enum {
	M_FS_SYSTEM_AUTO    = 0, /* the host's style: Unix on Linux, Windows on Windows */
	M_FS_SYSTEM_WINDOWS = 1,
	M_FS_SYSTEM_UNIX    = 2
} M_fs_system_t;

/* Normalisation flags (uint32_t). The bits 4 and 8 are accepted and have no
 * effect. */
typedef enum {
	M_FS_PATH_NORM_NONE         = 0,
	M_FS_PATH_NORM_ABSOLUTE     = 1u << 0, /* a relative path gets the current
                                              directory prepended */
	M_FS_PATH_NORM_RESOLVE_LINK = 1u << 1, /* each prefix of the path is checked
                                              for a symbolic link, which is
                                              replaced by its target; cleared
                                              for UNC paths */
	M_FS_PATH_NORM_HOME         = 1u << 4, /* a first component "~" becomes the
                                              user's home directory */
	M_FS_PATH_NORM_NOPARENT     = 1u << 5  /* ".." stays an ordinary component
                                              instead of removing its parent */
} M_fs_path_norm_t;

/* The style a style value stands for: M_FS_SYSTEM_AUTO becomes the host's
 * style (M_FS_SYSTEM_UNIX here); any other value is returned unchanged. */
M_API M_fs_system_t M_fs_path_get_system_type(M_fs_system_t sys_type);

/* The separator written in a style: '\\' for Windows, '/' for Unix and for
 * every value above 2. AUTO is the host's (here '/'). */
M_API char M_fs_path_get_system_sep(M_fs_system_t sys_type);

/* The longest path normalisation accepts, plus one, in the units of
 * M_fs_path_length: 260 for every style (see above for the extended-length
 * form). */
M_API size_t M_fs_path_get_path_max(M_fs_system_t sys_type);

/* The length of path as the style's system counts it: UTF-16 units of the
 * UTF-8 text in the Windows style (one a character, two for a character
 * past U+FFFF), bytes in the Unix style. NULL counts 0. */
M_API size_t M_fs_path_length(const char *path, M_fs_system_t sys_type);

/* Whether path names an alternate data stream of a file in the Windows
 * style: a colon anywhere but in a drive ("C:", also behind "\\\\?\\" or
 * "\\\\.\\"), as in "out.gpg:hidden" or "x.exp::$DATA". Writing to such a
 * name writes into the file before the colon ("::$DATA" is that file's own
 * content), not to a file of that name. The Unix style has no streams: a
 * colon is part of a name there.
 *
 * path:     NULL names no stream.
 * file_len: receives the length of the part before the stream's colon (the
 *           file written into), 0 when there is no stream; NULL: not told.
 *
 * Returns M_TRUE when path names a stream. */
M_API M_bool M_fs_path_has_stream(const char *path, M_fs_system_t sys_type, size_t *file_len);

/* Absolute test of the style (see the table above).
 *
 * p: the path; NULL or "" is not absolute.
 * Returns M_FALSE also for styles above 2.
 * NULL: yields M_FALSE. */
M_API M_bool M_fs_path_isabs(const char *p, M_fs_system_t sys_type);

/* True when p begins with two backslashes. NULL: M_FALSE. */
M_API M_bool M_fs_path_isunc(const char *p);

/* Split a path into its components.
 *
 * The path is cut at every slash and every backslash; empty pieces are
 * dropped. Unix style: a path beginning with a slash gets an empty first
 * component (the root marker). Windows style: a path beginning with two
 * backslashes gets the empty first component (UNC); a single leading
 * backslash is lost. Examples: "C:\\data\\x" -> "C:", "data", "x";
 * "\\\\srv\\share" -> "", "srv", "share"; "/usr/lib" (Unix) -> "", "usr",
 * "lib".
 *
 * path: NULL or "" gives an empty list.
 * Returns a new list (free with M_list_str_destroy); never NULL. */
M_API M_list_str_t *M_fs_path_componentize_path(const char *path, M_fs_system_t sys_type) M_WARN_UNUSED_RESULT;

/* Join components into a path with the style's separator.
 *
 * Empty components after the first are skipped. A lone empty component gives
 * "\\\\" (Windows) or "/" (Unix). Windows style: a leading empty component
 * gives the two leading backslashes of a UNC path, and a lone drive gets its
 * backslash ("C:" -> "C:\\").
 *
 * path: the components, not changed; NULL or an empty list gives NULL.
 * Returns a new string (free with M_free), or NULL. */
M_API char *M_fs_path_join_parts(const M_list_str_t *path, M_fs_system_t sys_type) M_WARN_UNUSED_RESULT;

/* Join num strings as components (M_fs_path_join_parts).
 *
 * The num arguments after num are const char *; a NULL one counts as an
 * empty component. num 0 gives NULL.
 * Returns a new string (free with M_free), or NULL. */
M_API char *M_fs_path_join_vparts(M_fs_system_t sys_type, size_t num, ...) M_WARN_UNUSED_RESULT;

/* Join two paths: p1, the style's separator (unless p1 already ends with
 * it), p2.
 *
 * An absolute p2 (in the style) is returned alone. A NULL or empty p1 gives a
 * copy of p2 ("" when p2 is NULL too); a NULL or empty p2 gives a copy of p1.
 * Returns a new string (free with M_free); never NULL. */
M_API char *M_fs_path_join(const char *p1, const char *p2, M_fs_system_t sys_type) M_WARN_UNUSED_RESULT;

/* Resolve a path relative to the directory of another: resolv_name joined to
 * the directory of the path formed by path and part.
 *
 * Any of the three may be NULL or empty. An absolute resolv_name is returned
 * alone. NULL when all three are NULL or empty.
 * Returns a new string (free with M_free), or NULL. */
M_API char *M_fs_path_join_resolved(const char *path, const char *part, const char *resolv_name,
                                    M_fs_system_t sys_type) M_WARN_UNUSED_RESULT;

/* Everything but the last component.
 *
 * A root (a UNC prefix, a lone drive, "/" in the Unix style) is its own
 * directory: "C:" gives "C:\\". A single relative component gives ".".
 * path: NULL or "" gives ".".
 * Returns a new string (free with M_free). */
M_API char *M_fs_path_dirname(const char *path, M_fs_system_t sys_type) M_WARN_UNUSED_RESULT;

/* The last component: "today.exp" of "C:\\exports\\today.exp" (Windows).
 *
 * path: NULL or "" gives NULL. A root ("C:", "/", "\\\\") has no last
 *       component and gives NULL.
 * Returns a new string (free with M_free), or NULL.
 * NULL: yields NULL. */
M_API char *M_fs_path_basename(const char *path, M_fs_system_t sys_type) M_WARN_UNUSED_RESULT;

/* The current working directory (getcwd; GetCurrentDirectoryW on Windows,
 * as UTF-8), as long as the system allows.
 *
 * cwd: receives a new string (free with M_free), NULL on failure; NULL:
 *      M_FS_ERROR_INVALID.
 * Returns M_FS_ERROR_SUCCESS or the translated system error. */
M_API M_fs_error_t M_fs_path_get_cwd(char **cwd) M_WARN_UNUSED_RESULT;

/* Change the current working directory (chdir; SetCurrentDirectoryA).
 *
 * path: NULL or "": M_FS_ERROR_INVALID.
 * Returns M_FS_ERROR_SUCCESS or the translated system error. */
M_API M_fs_error_t M_fs_path_set_cwd(const char *path);

/* Whether a file is hidden: its name begins with "." (Linux), it has the
 * hidden attribute (Windows).
 *
 * path: the file; read with M_fs_info when info is NULL (M_FALSE when that
 *       fails or path is NULL).
 * info: information already read; when given, its hidden flag is the
 *       answer and path is not used. Borrowed. */
M_API M_bool M_fs_path_ishidden(const char *path, M_fs_info_t *info);

/* Read a symbolic link. Windows reports no links: out is always NULL there.
 *
 * out:  receives the link's target as a new string (free with M_free), or
 *       NULL when path is no link (also when it does not exist, and for the
 *       "pipe:[...]", "socket:[...]" and "anon_inode:..." targets of
 *       /proc/self/fd entries, which name no file-system path). NULL:
 *       M_FS_ERROR_INVALID.
 * path: NULL or "": M_FS_ERROR_INVALID.
 * Returns M_FS_ERROR_SUCCESS, M_FS_ERROR_INVALID, or the translated error of
 * a failing readlink other than "not a link" and "not found". */
M_API M_fs_error_t M_fs_path_readlink(char **out, const char *path) M_WARN_UNUSED_RESULT;

/* The user's configuration directory: $XDG_CONFIG_HOME, else "~/.config"
 * (Windows: %APPDATA%), normalised in the given style.
 * Returns a new string (free with M_free), or NULL on failure. */
M_API char *M_fs_path_user_confdir(M_fs_system_t sys_type) M_WARN_UNUSED_RESULT;

/* The directory for temporary files: $TMPDIR, else "/tmp" (Windows:
 * GetTempPathA, NULL when longer than 260 characters), normalised with
 * M_FS_PATH_NORM_ABSOLUTE in the given style.
 * Returns a new string (free with M_free), or NULL on failure. */
M_API char *M_fs_path_tmpdir(M_fs_system_t sys_type) M_WARN_UNUSED_RESULT;

/* Normalise a path.
 *
 * In order: environment variables (a component "$NAME" or "%NAME%" becomes
 * the variable's value, whatever the flags; an unset or empty variable fails;
 * an empty NAME removes the component; the value is split at its separators
 * as it is inserted, so a value "/srv/data" keeps its root, ABSOLUTE adds no
 * current directory in front of it, and a following ".." removes only
 * "data"), "~" (M_FS_PATH_NORM_HOME: $HOME, else the
 * password database; on Windows the profile folder of SHGetFolderPathA), the current directory (M_FS_PATH_NORM_ABSOLUTE), then
 * "." (dropped), ".." (removes its parent unless M_FS_PATH_NORM_NOPARENT; a
 * relative path keeps leading ".."; a root or drive stays) and symbolic links
 * (M_FS_PATH_NORM_RESOLVE_LINK: each prefix is read as a link and a link is
 * replaced by its target, and normalisation starts again on the result).
 * Windows style turns every slash into a backslash. No components left
 * gives ".".
 *
 * out:   receives the new string (free with M_free); NULL on any failure.
 *        NULL: M_FS_ERROR_INVALID.
 * path:  NULL or "": M_FS_ERROR_INVALID.
 * flags: M_fs_path_norm_t bits.
 *
 * Returns M_FS_ERROR_SUCCESS; M_FS_ERROR_INVALID; M_FS_ERROR_NAME_TOO_LONG
 * (a path, or a path rebuilt after a link, of M_fs_path_get_path_max
 * characters or more);
 * M_FS_ERROR_LINK_LOOP (more than 24 link rewrites, or one path met twice);
 * M_FS_ERROR_GENERIC for everything else (no components, such as "/" alone in
 * the Windows style or "\\" alone; an unset variable; no home or current
 * directory). */
M_API M_fs_error_t M_fs_path_norm(char **out, const char *path, uint32_t flags,
                                  M_fs_system_t sys_type) M_WARN_UNUSED_RESULT;

M_END_DECLS

#endif /* M_FS_PATH_H */
