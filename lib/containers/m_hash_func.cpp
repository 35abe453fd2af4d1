/* Seeded 32-bit FNV-1a hashes and the key duplicators of the hash tables.
 *
 * FNV-1a (Fowler, Noll, Vo): for each byte, XOR it into the state, then
 * multiply by the 32-bit FNV prime 16777619. The tables start from their own
 * seed instead of the published offset basis 2166136261, so that the bucket
 * layout differs between tables unless a static seed is asked for.
 */
#include "containers/m_hash_func.h"
#include "core/m_chr.h"
#include "core/m_mem.h"
#include "core/m_str.h"

#include <cstdint>

namespace {

constexpr uint32_t kFnvPrime = 16777619u;

static_assert(sizeof(uint64_t) == 8, "64-bit keys are hashed as 8 bytes");
static_assert(sizeof(uintptr_t) <= 8, "pointer keys are hashed as 8 bytes");

constexpr uint32_t fnv1a_step(uint32_t h, uint8_t b) noexcept
{
	return (h ^ b) * kFnvPrime;
}

/* Compile-time check against a value worked by hand: one step from 0. */
static_assert(fnv1a_step(0, 'a') == 0x61u * kFnvPrime, "FNV-1a step");

} // namespace

extern "C" {

uint32_t M_hash_func_hash_str(const void *key, uint32_t seed)
{
	const auto *s = static_cast<const unsigned char *>(key);
	uint32_t    h = seed;
	if (s == nullptr)
		return h;
	for (; *s != '\0'; s++)
		h = fnv1a_step(h, *s);
	return h;
}

uint32_t M_hash_func_hash_str_casecmp(const void *key, uint32_t seed)
{
	const auto *s = static_cast<const char *>(key);
	uint32_t    h = seed;
	if (s == nullptr)
		return h;
	for (; *s != '\0'; s++) {
		/* ASCII folding inline: this hashes every header lookup. */
		const auto u = static_cast<uint8_t>(*s);
		h            = fnv1a_step(h, (u >= 'A' && u <= 'Z') ? static_cast<uint8_t>(u + ('a' - 'A')) : u);
	}
	return h;
}

uint32_t M_hash_func_hash_vp(const void *key, uint32_t seed)
{
	/* Least significant byte first, independent of the host's byte order. */
	uint64_t v = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(key));
	uint32_t h = seed;
	for (int i = 0; i < 8; i++) {
		h = fnv1a_step(h, static_cast<uint8_t>(v & 0xFFu));
		v >>= 8;
	}
	return h;
}

uint32_t M_hash_func_hash_u64(const void *key, uint32_t seed)
{
	uint8_t bytes[8] = {0};
	if (key != nullptr)
		M_mem_copy(bytes, key, sizeof(bytes));
	uint32_t h = seed;
	for (uint8_t b : bytes)
		h = fnv1a_step(h, b);
	return h;
}

void *M_hash_func_u64dup(const void *arg)
{
	if (arg == nullptr)
		return nullptr;
	return M_memdup(arg, sizeof(uint64_t));
}

void *M_hash_void_strdup(const void *arg)
{
	if (arg == nullptr)
		return nullptr;
	return M_strdup(static_cast<const char *>(arg));
}

} /* extern "C" */
