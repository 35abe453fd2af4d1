/* The Windows error table and the size checks of the platform layer.
 *
 * The library's system error numbers are Windows numbers on every host (the
 * POSIX half converts errno into them first, see m_platform.cpp), so this one
 * fixed table classifies every failing system call. The table is data: a
 * constexpr array of (number, result) rows searched linearly; it is short and
 * only consulted on failure paths.
 */
#include "platform/m_fs_win.h"

#include <cstdint>

namespace {

struct SyserrRow {
    uint32_t     syserr; /* Windows error number */
    M_fs_error_t result; /* its class */
};

/* Windows error numbers and what they mean to the file layer. */
constexpr SyserrRow kSyserrTable[] = {
    {0,   M_FS_ERROR_SUCCESS},         /* ERROR_SUCCESS */
    {2,   M_FS_ERROR_NOT_FOUND},       /* ERROR_FILE_NOT_FOUND */
    {3,   M_FS_ERROR_NOT_FOUND},       /* ERROR_PATH_NOT_FOUND */
    {4,   M_FS_ERROR_TOO_MANY_FILES},  /* ERROR_TOO_MANY_OPEN_FILES */
    {5,   M_FS_ERROR_PERMISSION},      /* ERROR_ACCESS_DENIED */
    {17,  M_FS_ERROR_NOT_SAME_DEVICE}, /* ERROR_NOT_SAME_DEVICE */
    {18,  M_FS_ERROR_TOO_MANY_FILES},  /* ERROR_NO_MORE_FILES */
    {19,  M_FS_ERROR_READONLY},        /* ERROR_WRITE_PROTECT */
    {25,  M_FS_ERROR_SEEK},            /* ERROR_SEEK */
    {29,  M_FS_ERROR_IO},              /* ERROR_WRITE_FAULT */
    {30,  M_FS_ERROR_IO},              /* ERROR_READ_FAULT */
    {32,  M_FS_ERROR_PERMISSION},      /* ERROR_SHARING_VIOLATION */
    {50,  M_FS_ERROR_NOT_SUPPORTED},   /* ERROR_NOT_SUPPORTED */
    {80,  M_FS_ERROR_FILE_EXISTS},     /* ERROR_FILE_EXISTS */
    {87,  M_FS_ERROR_INVALID},         /* ERROR_INVALID_PARAMETER */
    {145, M_FS_ERROR_DIR_NOT_EMPTY},   /* ERROR_DIR_NOT_EMPTY */
    {183, M_FS_ERROR_FILE_EXISTS},     /* ERROR_ALREADY_EXISTS */
    {206, M_FS_ERROR_NAME_TOO_LONG},   /* ERROR_FILENAME_EXCED_RANGE */
    {267, M_FS_ERROR_NOT_DIR},         /* ERROR_DIRECTORY */
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

} // namespace

extern "C" {

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
