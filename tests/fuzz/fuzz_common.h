/* What the fuzz targets share. A failed check aborts, so libFuzzer records
 * the input as a crash; the input is copied to a block of its exact size,
 * so AddressSanitizer sees any read past its end. */
#ifndef FUZZ_COMMON_H
#define FUZZ_COMMON_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "core/m_buf.h"
#include "core/m_mem.h"
#include "core/m_str.h"

#define FUZZ_CHECK(cond)                                                                                               \
	do {                                                                                                               \
		if (!(cond)) {                                                                                                 \
			std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);                              \
			std::abort();                                                                                              \
		}                                                                                                              \
	} while (0)

/* The input in a block of exactly its size (or, with terminate, size + 1
 * bytes ending in NUL); get() is NULL for an empty unterminated copy. */
template <typename T = char>
struct fuzz_copy {
	std::vector<T> v;
	fuzz_copy(const unsigned char *data, size_t size, bool terminate = false) : v(data, data + size)
	{
		if (terminate)
			v.push_back(0);
	}
	T *get()
	{
		return v.empty() ? nullptr : v.data();
	}
};

/* Bytes taken one at a time from the front of the input, for targets that
 * steer their calls by it; 0 once the input is used up. */
struct fuzz_reader {
	const unsigned char *p;
	size_t               n;

	unsigned char byte()
	{
		if (n == 0)
			return 0;
		n--;
		return *p++;
	}
};

/* A private temporary directory, made on first use and removed with all it
 * holds at exit. */
inline const std::string &fuzz_scratch_dir()
{
	static std::string dir;
	if (dir.empty()) {
		/* A name of its own under the system's temporary folder (mkdtemp is
		 * POSIX only): creating it succeeds only when nobody had it. */
		std::random_device rd;
		for (int i = 0; i < 100 && dir.empty(); i++) {
			const auto      cand = std::filesystem::temp_directory_path() / ("fuzz_" + std::to_string(rd()));
			std::error_code ec;
			if (std::filesystem::create_directory(cand, ec))
				dir = cand.string();
		}
		FUZZ_CHECK(!dir.empty());
		std::atexit([] {
			/* Out of it first: Windows removes no folder that is in use. */
			std::error_code ec;
			std::filesystem::current_path(std::filesystem::temp_directory_path(), ec);
			std::filesystem::remove_all(dir, ec);
		});
	}
	return dir;
}

#endif
