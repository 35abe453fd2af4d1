/* Common definitions shared by every public header of the library.
 *
 * The public headers are plain C (C11) and C++ (C++20) at once: they use only
 * C types, wrap their declarations in M_BEGIN_DECLS / M_END_DECLS so C++
 * callers see C linkage, and mark each exported function with M_API.
 */
#ifndef M_DEFS_H
#define M_DEFS_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define M_BEGIN_DECLS extern "C" {
#define M_END_DECLS }
#else
#define M_BEGIN_DECLS
#define M_END_DECLS
#endif

/* Exported symbols. M_API gives the M_ functions default visibility, so they
 * stay exported should the library ever be built with hidden visibility as
 * the default; the build does not set that today (the layers are static
 * libraries). Internal helpers live in anonymous namespaces or m::detail.
 * Windows executables have no symbol visibility: there M_API is empty. */
#if defined(__GNUC__) && !defined(_WIN32)
#define M_API __attribute__((visibility("default")))
#else
#define M_API
#endif

/* Results that must not be ignored (decoders, reads, allocating calls). */
#if defined(__GNUC__)
#define M_WARN_UNUSED_RESULT __attribute__((warn_unused_result))
#else
#define M_WARN_UNUSED_RESULT
#endif

/* Functions that never return. */
#if defined(__GNUC__)
#define M_NORETURN __attribute__((noreturn))
#else
#define M_NORETURN
#endif

/* The library's yes/no type: every predicate and every operation that only
 * succeeds or fails yields it. */
typedef bool M_bool;
#define M_TRUE true
#define M_FALSE false

/* Number of elements of a fixed-size array. */
#define M_ARRAY_LEN(a) (sizeof(a) / sizeof((a)[0]))

/* Marks a parameter that is intentionally unused. */
#define M_UNUSED(x) ((void)(x))

#endif /* M_DEFS_H */
