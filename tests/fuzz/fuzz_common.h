/* Small helpers shared by the fuzz targets: a check that aborts with a
 * message (so libFuzzer records the input as a crash), and exact-size heap
 * copies of the input so AddressSanitizer sees any read past its end. */
#ifndef FUZZ_COMMON_H
#define FUZZ_COMMON_H

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#define FUZZ_CHECK(cond)                                                                                               \
	do {                                                                                                               \
		if (!(cond)) {                                                                                                 \
			std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);                              \
			std::abort();                                                                                              \
		}                                                                                                              \
	} while (0)

/* The input as NUL-terminated text in a block of exactly size + 1 bytes. */
static inline std::vector<char> fuzz_cstr(const unsigned char *data, size_t size)
{
	std::vector<char> s(size + 1);
	if (size != 0)
		std::memcpy(s.data(), data, size);
	s[size] = '\0';
	return s;
}

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

#endif
