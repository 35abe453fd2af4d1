/* What the unit tests share: common headers and small helpers. A test
 * includes this and the headers of what it tests. */
#ifndef TEST_UTIL_H
#define TEST_UTIL_H

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <sys/resource.h>
#include <sys/wait.h>
#endif
#include <utility>
#include <vector>

#include "core/m_buf.h"
#include "core/m_mem.h"
#include "core/m_str.h"

/* GCC 12 at -O3 reports false -Wrestrict, -Warray-bounds and
 * -Wstringop-overread on inlined std::string and std::vector copies;
 * TEST_GCC12_FALSE_POSITIVE_BEGIN("-Wrestrict") ... _END() silences one
 * around the test where it fires. */
#define TEST_PRAGMA(x) _Pragma(#x)
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ == 12
#define TEST_GCC12_FALSE_POSITIVE_BEGIN(warning)                                                                       \
	TEST_PRAGMA(GCC diagnostic push) TEST_PRAGMA(GCC diagnostic ignored warning)
#define TEST_GCC12_FALSE_POSITIVE_END() TEST_PRAGMA(GCC diagnostic pop)
#else
#define TEST_GCC12_FALSE_POSITIVE_BEGIN(warning)
#define TEST_GCC12_FALSE_POSITIVE_END()
#endif

/* Tests the Windows build cannot run stand under "#if M_TEST_POSIX", the
 * reason in a comment on that line. */
#ifdef _WIN32
#define M_TEST_POSIX 0
#else
#define M_TEST_POSIX 1
#endif

namespace test_util {

/* abort() as a death test sees it: SIGABRT, or exit code 3 on Windows. */
inline std::function<bool(int)> aborted()
{
#ifdef _WIN32
	return testing::ExitedWithCode(3);
#else
	return testing::KilledBySignal(SIGABRT);
#endif
}

/* A pipe of two descriptors, read end first. */
inline int make_pipe(int fds[2])
{
#ifdef _WIN32
	return ::_pipe(fds, 65536, _O_BINARY);
#else
	return ::pipe(fds);
#endif
}

/* An allocated string, released; "(null)" for NULL. */
inline std::string take(char *s)
{
	std::string out = s == nullptr ? "(null)" : s;
	M_free(s);
	return out;
}

/* A buffer's content as a std::string (embedded zero bytes kept). */
inline std::string content(const M_buf_t *b)
{
	return M_buf_peek(b) == nullptr ? std::string() : std::string(M_buf_peek(b), M_buf_len(b));
}

/* A buffer's content; the buffer is cancelled. */
inline std::string take(M_buf_t *b)
{
	const std::string s = content(b);
	M_buf_cancel(b);
	return s;
}

/* Bytes as upper-case hexadecimal text, for binary expectations. */
inline std::string hex(const unsigned char *p, size_t len)
{
	static const char digits[] = "0123456789ABCDEF";
	std::string       s;
	for (size_t i = 0; i < len; i++)
		s += std::string{digits[p[i] >> 4], digits[p[i] & 0xf]};
	return s;
}

inline std::string hex(const std::string &s)
{
	return hex(reinterpret_cast<const unsigned char *>(s.data()), s.size());
}

/* Container callbacks counting copies and releases, per Tag (so key and
 * value counts stay apart). */
template <int Tag>
struct counting {
	static inline int dups  = 0;
	static inline int frees = 0;

	static void reset()
	{
		dups  = 0;
		frees = 0;
	}
	static void *dup_str(const void *p)
	{
		dups++;
		return M_strdup(static_cast<const char *>(p));
	}
	static void free(void *p)
	{
		frees++;
		M_free(p);
	}
};

/* An environment variable set (or unset, for NULL) until restore() or the
 * end of the scope. */
class EnvGuard {
  public:
	EnvGuard(const char *name, const char *value) : name_(name), had_(std::getenv(name) != nullptr)
	{
		old_ = had_ ? std::getenv(name) : "";
		set(name, value);
	}
	~EnvGuard()
	{
		restore();
	}
	EnvGuard(const EnvGuard &)            = delete;
	EnvGuard &operator=(const EnvGuard &) = delete;
	void      restore()
	{
		if (!restored_)
			set(name_.c_str(), had_ ? old_.c_str() : nullptr);
		restored_ = true;
	}

  private:
	/* On Windows _putenv_s updates the system's copy too; "" unsets. */
	static void set(const char *name, const char *value)
	{
#ifdef _WIN32
		(void)::_putenv_s(name, value != nullptr ? value : "");
#else
		value != nullptr ? ::setenv(name, value, 1) : ::unsetenv(name);
#endif
	}

	std::string name_, old_;
	bool        had_, restored_ = false;
};

/* TZ set for one scope, tzset() called on entry and exit. */
class TzGuard {
  public:
	explicit TzGuard(const char *tz) : env_("TZ", tz)
	{
		tzset_now();
	}
	~TzGuard()
	{
		env_.restore();
		tzset_now();
	}

  private:
	static void tzset_now()
	{
#ifdef _WIN32
		::_tzset();
#else
		::tzset();
#endif
	}
	EnvGuard env_;
};

/* Everything fd gives until its end (or, non-blocking, until it would wait). */
inline std::string drain(int fd)
{
	std::string out;
	char        buf[4096];
	ssize_t     n;
	while ((n = ::read(fd, buf, sizeof(buf))) > 0)
		out.append(buf, static_cast<size_t>(n));
	return out;
}

} // namespace test_util

#endif
