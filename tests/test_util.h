/* Helpers shared by the library's unit tests: environment variables set for
 * one scope, reading a descriptor to its end, and the switch for a
 * compiler's false positives. */
#ifndef TEST_UTIL_H
#define TEST_UTIL_H

#include <cstdlib>
#include <ctime>
#include <string>
#include <unistd.h>

/* GCC 12 at -O3 (a Release build) reports std::string and std::vector
 * copies it has inlined into a test as overlapping (-Wrestrict), out of
 * bounds (-Warray-bounds) or over-reading (-Wstringop-overread) where they
 * are none of these: known false positives of that release.
 * TEST_GCC12_FALSE_POSITIVE_BEGIN("-Wrestrict") ... _END() turns the one
 * warning off around the test where it fires; other compilers see nothing. */
#define TEST_PRAGMA(x) _Pragma(#x)
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ == 12
#define TEST_GCC12_FALSE_POSITIVE_BEGIN(warning)                                                                       \
	TEST_PRAGMA(GCC diagnostic push) TEST_PRAGMA(GCC diagnostic ignored warning)
#define TEST_GCC12_FALSE_POSITIVE_END() TEST_PRAGMA(GCC diagnostic pop)
#else
#define TEST_GCC12_FALSE_POSITIVE_BEGIN(warning)
#define TEST_GCC12_FALSE_POSITIVE_END()
#endif

namespace test_util {

/* Set (value non-NULL) or unset (value NULL) an environment variable for one
 * scope; the previous state comes back with restore() (later calls do
 * nothing) or the destructor. */
class EnvGuard {
  public:
	EnvGuard(const char *name, const char *value) : name_(name), had_(std::getenv(name) != nullptr)
	{
		old_ = had_ ? std::getenv(name) : "";
		value != nullptr ? ::setenv(name, value, 1) : ::unsetenv(name);
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
			had_ ? ::setenv(name_.c_str(), old_.c_str(), 1) : ::unsetenv(name_.c_str());
		restored_ = true;
	}

  private:
	std::string name_, old_;
	bool        had_, restored_ = false;
};

/* TZ set for one scope, with the C library told of the change both when it
 * is set and when it is put back. */
class TzGuard {
  public:
	explicit TzGuard(const char *tz) : env_("TZ", tz)
	{
		::tzset();
	}
	~TzGuard()
	{
		env_.restore();
		::tzset();
	}

  private:
	EnvGuard env_;
};

/* Everything fd still gives, read until it reports the end (or nothing more
 * without waiting, for a non-blocking descriptor). */
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
