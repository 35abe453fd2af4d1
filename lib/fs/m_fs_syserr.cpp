/* The Windows error table and the size checks of the platform layer.
 *
 * The library's system error numbers are Windows numbers on every host
 * (GetLastError on Windows; the POSIX half converts errno into them first,
 * see m_platform_posix.cpp), so this one fixed table classifies every
 * failing system call. The table is data: a
 * constexpr array of (number, result) rows searched linearly; it is short and
 * only consulted on failure paths.
 */
#include "fs/m_fs_syserr.h"
#include "core/m_mem.h"

#include <cstdint>

namespace {

struct SyserrRow {
	uint32_t     syserr; /* Windows error number */
	M_fs_error_t result; /* its class */
};

/* Windows error numbers and what they mean to the file layer. */
constexpr SyserrRow kSyserrTable[] = {
    {0, M_FS_ERROR_SUCCESS},          /* ERROR_SUCCESS */
    {2, M_FS_ERROR_NOT_FOUND},        /* ERROR_FILE_NOT_FOUND */
    {3, M_FS_ERROR_NOT_FOUND},        /* ERROR_PATH_NOT_FOUND */
    {4, M_FS_ERROR_TOO_MANY_FILES},   /* ERROR_TOO_MANY_OPEN_FILES */
    {5, M_FS_ERROR_PERMISSION},       /* ERROR_ACCESS_DENIED */
    {17, M_FS_ERROR_NOT_SAME_DEVICE}, /* ERROR_NOT_SAME_DEVICE */
    {18, M_FS_ERROR_TOO_MANY_FILES},  /* ERROR_NO_MORE_FILES */
    {19, M_FS_ERROR_READONLY},        /* ERROR_WRITE_PROTECT */
    {25, M_FS_ERROR_SEEK},            /* ERROR_SEEK */
    {29, M_FS_ERROR_IO},              /* ERROR_WRITE_FAULT */
    {30, M_FS_ERROR_IO},              /* ERROR_READ_FAULT */
    {32, M_FS_ERROR_PERMISSION},      /* ERROR_SHARING_VIOLATION */
    {50, M_FS_ERROR_NOT_SUPPORTED},   /* ERROR_NOT_SUPPORTED */
    {80, M_FS_ERROR_FILE_EXISTS},     /* ERROR_FILE_EXISTS */
    {87, M_FS_ERROR_INVALID},         /* ERROR_INVALID_PARAMETER */
    {145, M_FS_ERROR_DIR_NOT_EMPTY},  /* ERROR_DIR_NOT_EMPTY */
    {183, M_FS_ERROR_FILE_EXISTS},    /* ERROR_ALREADY_EXISTS */
    {206, M_FS_ERROR_NAME_TOO_LONG},  /* ERROR_FILENAME_EXCED_RANGE */
    {267, M_FS_ERROR_NOT_DIR},        /* ERROR_DIRECTORY */
};
static_assert(sizeof(kSyserrTable) / sizeof(kSyserrTable[0]) == 19, "Windows error table has 19 rows");

/* The reserved values must stay where the enumeration puts them. */
static_assert(M_FS_ERROR_NOT_FOUND == 9 && M_FS_ERROR_NOT_DIR == 15 && M_FS_ERROR_NOT_SAME_DEVICE == 19,
              "result code numbers are fixed");

constexpr M_fs_error_t lookup(uint32_t syserr) noexcept
{
	for (const SyserrRow &row : kSyserrTable) {
		if (row.syserr == syserr)
			return row.result;
	}
	return M_FS_ERROR_GENERIC;
}
static_assert(lookup(18) == M_FS_ERROR_TOO_MANY_FILES && lookup(1) == M_FS_ERROR_GENERIC, "table lookup");

/* The replacement character for a lone surrogate. */
constexpr uint32_t kReplacement = 0xFFFD;

bool is_high_surrogate(uint32_t u) noexcept
{
	return u >= 0xD800 && u <= 0xDBFF;
}

bool is_low_surrogate(uint32_t u) noexcept
{
	return u >= 0xDC00 && u <= 0xDFFF;
}

/* The code point starting at str[*i]; *i is moved past its code units. */
uint32_t next_code_point(const char16_t *str, size_t *i) noexcept
{
	const uint32_t u = static_cast<uint32_t>(str[*i]);
	(*i)++;
	if (is_high_surrogate(u)) {
		const uint32_t v = static_cast<uint32_t>(str[*i]);
		if (is_low_surrogate(v)) {
			(*i)++;
			return 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00);
		}
		return kReplacement;
	}
	if (is_low_surrogate(u))
		return kReplacement;
	return u;
}

/* Bytes of the UTF-8 form of a code point (at most 0x10FFFF here). */
constexpr size_t utf8_len(uint32_t cp) noexcept
{
	return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
}
static_assert(utf8_len(0x7F) == 1 && utf8_len(0x80) == 2 && utf8_len(0xFFFD) == 3 && utf8_len(0x10FFFF) == 4,
              "UTF-8 lengths");

/* Write cp as UTF-8 at out; returns the bytes written. */
size_t put_utf8(uint32_t cp, char *out) noexcept
{
	const size_t len = utf8_len(cp);
	switch (len) {
		case 1:
			out[0] = static_cast<char>(cp);
			break;
		case 2:
			out[0] = static_cast<char>(0xC0 | (cp >> 6));
			out[1] = static_cast<char>(0x80 | (cp & 0x3F));
			break;
		case 3:
			out[0] = static_cast<char>(0xE0 | (cp >> 12));
			out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
			out[2] = static_cast<char>(0x80 | (cp & 0x3F));
			break;
		default:
			out[0] = static_cast<char>(0xF0 | (cp >> 18));
			out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
			out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
			out[3] = static_cast<char>(0x80 | (cp & 0x3F));
			break;
	}
	return len;
}

} // namespace

extern "C" {

char *M_win32_wchar_to_char(const char16_t *str)
{
	if (str == nullptr)
		return nullptr;

	/* Measure: the UTF-8 length including the terminator. Each code unit
     * gives at most 3 bytes, so the sum cannot overflow before the input
     * itself would exceed memory. */
	size_t need = 1;
	for (size_t i = 0; str[i] != 0;)
		need += utf8_len(next_code_point(str, &i));

	char  *out = static_cast<char *>(M_malloc_zero(need + 1));
	size_t pos = 0;
	for (size_t i = 0; str[i] != 0;)
		pos += put_utf8(next_code_point(str, &i), out + pos);
	return out;
}

M_fs_error_t M_fs_error_from_syserr(uint32_t syserr)
{
	return lookup(syserr);
}

M_bool M_win32_size_t_to_dword(size_t val, uint32_t *out)
{
	const M_bool fits = (static_cast<uint64_t>(val) <= UINT64_C(0xFFFFFFFF));
	if (out != nullptr)
		*out = fits ? static_cast<uint32_t>(val) : 0;
	return fits;
}

M_bool M_win32_size_t_to_int(size_t val, int32_t *out)
{
	const M_bool fits = (static_cast<uint64_t>(val) <= UINT64_C(0x7FFFFFFF));
	if (out != nullptr)
		*out = fits ? static_cast<int32_t>(val) : 0;
	return fits;
}

} // extern "C"
