/* Path normalisation in both styles on arbitrary text. The environment is
 * fixed at start-up: HOME and two variables point into a private temporary
 * directory, which is also the working directory and holds a few links (one
 * to a file, one absolute, one loop, one chain). Link resolution is asked for
 * only on relative paths without "..", "~" or variables, so it never looks
 * outside that directory. */
#include <filesystem>
#include <utility>
#include <unistd.h>

#include "fuzz_common.h"
#include "fs/m_fs_path.h"

static void set_env(const char *name, const char *value)
{
#ifdef _WIN32
	(void)_putenv_s(name, value); /* an empty value unsets */
#else
	value[0] != '\0' ? setenv(name, value, 1) : unsetenv(name);
#endif
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	const std::string &dir = fuzz_scratch_dir();
	FUZZ_CHECK(chdir(dir.c_str()) == 0);
	FILE *f = std::fopen("file", "w");
	FUZZ_CHECK(f != nullptr && std::fclose(f) == 0);
	FUZZ_CHECK(std::filesystem::create_directory("dir"));
#ifndef _WIN32
	/* Windows reports no links: there the paths stay as they are. */
	FUZZ_CHECK(symlink("file", "rel") == 0);
	FUZZ_CHECK(symlink((dir + "/dir").c_str(), "abs") == 0);
	FUZZ_CHECK(symlink("loop", "loop") == 0);
	FUZZ_CHECK(symlink("rel", "chain") == 0);
	FUZZ_CHECK(symlink("dir/../file", "dotdot") == 0);
	setenv("FUZZ_EMPTY", "", 1);
#endif
	set_env("HOME", (dir + "/dir").c_str());
	set_env("FUZZ_A", "dir");
	set_env("FUZZ_B", "x/../y");
	set_env("FUZZ_UNSET", "");
	return 0;
}

/* Link resolution stays inside the temporary directory. */
static bool safe_to_resolve(const char *p)
{
	return p[0] != '/' && p[0] != '\\' && p[0] != '~' && std::strstr(p, "..") == nullptr &&
	       std::strchr(p, '$') == nullptr && std::strchr(p, '%') == nullptr && std::strchr(p, ':') == nullptr;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size == 0)
		return 0;
	fuzz_copy<char> path(data + 1, size - 1, true);
	uint32_t        flags = 0;
	for (auto [bit, flag] : {std::pair{1, M_FS_PATH_NORM_ABSOLUTE},
	                         {2, M_FS_PATH_NORM_HOME},
	                         {4, M_FS_PATH_NORM_NOPARENT},
	                         {8, M_FS_PATH_NORM_RESOLVE_LINK}}) {
		if ((data[0] & bit) && (flag != M_FS_PATH_NORM_RESOLVE_LINK || safe_to_resolve(path.get())))
			flags |= flag;
	}

	for (M_fs_system_t sys : {M_FS_SYSTEM_UNIX, M_FS_SYSTEM_WINDOWS}) {
		char              *out = reinterpret_cast<char *>(1);
		const M_fs_error_t e   = M_fs_path_norm(&out, path.get(), flags, sys);
		if (e == M_FS_ERROR_SUCCESS) {
			FUZZ_CHECK(out != nullptr && out[0] != '\0');
			FUZZ_CHECK(M_str_len(out) < 4096);
			if (sys == M_FS_SYSTEM_WINDOWS)
				FUZZ_CHECK(std::strchr(out, '/') == nullptr);
			M_free(out);
		} else {
			FUZZ_CHECK(out == nullptr);
		}
	}
	return 0;
}
