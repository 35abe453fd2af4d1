/* Random numbers: xoroshiro128+ with SplitMix64 seeding.
 *
 * Reference: D. Blackman and S. Vigna, "xoroshiro128+" (2016), the variant
 * with rotation/shift constants a = 55, b = 14, c = 36 and its published jump
 * polynomial; SplitMix64 (G. Steele, D. Lea, C. Flood) for the seed mixing.
 *
 * The state is two 64-bit words held in a block from M_malloc_zero so that
 * M_free wipes it on destruction like every other library block.
 */
#include "sys/m_rand.h"

#include "core/m_mem.h"
#include "sys/m_time.h"

struct M_rand_state {
	uint64_t s0; /* first state word */
	uint64_t s1; /* second state word */
};

namespace {

static_assert(sizeof(M_rand_state) == 16, "generator state is two 64-bit words");

constexpr uint64_t kJump[2] = {0xbeac0467eba5facbULL, 0xd86b048b86aa9922ULL};

constexpr uint64_t rotl(uint64_t x, int k)
{
	return (x << k) | (x >> (64 - k));
}

/* One xoroshiro128+ step: returns the output and advances the state. */
uint64_t step(M_rand_state &r)
{
	const uint64_t s0     = r.s0;
	uint64_t       s1     = r.s1;
	const uint64_t result = s0 + s1;

	s1 ^= s0;
	r.s0 = rotl(s0, 55) ^ s1 ^ (s1 << 14);
	r.s1 = rotl(s1, 36);
	return result;
}

/* The jump function: equivalent to 2^64 calls of step(). */
void jump(M_rand_state &r)
{
	uint64_t a0 = 0;
	uint64_t a1 = 0;

	for (uint64_t word : kJump) {
		for (int b = 0; b < 64; b++) {
			if (word & (1ULL << b)) {
				a0 ^= r.s0;
				a1 ^= r.s1;
			}
			(void)step(r);
		}
	}
	r.s0 = a0;
	r.s1 = a1;
}

/* One SplitMix64 output for the seed. */
constexpr uint64_t splitmix64(uint64_t seed)
{
	uint64_t z = seed + 0x9e3779b97f4a7c15ULL;
	z          = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
	z          = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
	return z ^ (z >> 31);
}

void seed_state(M_rand_state &r, uint64_t seed)
{
	r.s0 = splitmix64(seed);
	r.s1 = seed;
	jump(r);
}

uint64_t range_draw(M_rand_state &r, uint64_t min, uint64_t max)
{
	const uint64_t span   = max - min;
	const uint64_t all    = UINT64_MAX;
	const uint64_t bucket = all / span;
	/* limit = span * bucket: draws at or above it fall into the incomplete
	 * last bucket and would favour the low values, so they are redrawn. */
	const uint64_t limit = all - (all % span);

	for (;;) {
		const uint64_t v = step(r);
		if (v < limit)
			return min + v / bucket;
	}
}

} // namespace

extern "C" {

M_rand_t *M_rand_create(uint64_t seed)
{
	M_rand_t *r = static_cast<M_rand_t *>(M_malloc_zero(sizeof(*r)));

	if (seed == 0) {
		/* No seed given: mix two addresses (a stack variable of this call
		 * and the new state, which differ between runs under address space
		 * randomisation) with the time of day. */
		M_timeval_t tv;
		uint64_t    stack_var = 0;
		M_time_gettimeofday(&tv);
		seed = ((static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&stack_var)) << 32) |
		        static_cast<uint64_t>(reinterpret_cast<uintptr_t>(r))) ^
		       ((static_cast<uint64_t>(tv.sec) << 20) | static_cast<uint64_t>(tv.usec));
	}
	seed_state(*r, seed);
	return r;
}

void M_rand_destroy(M_rand_t *r)
{
	if (r == nullptr)
		return;
	M_free(r);
}

M_rand_t *M_rand_duplicate(const M_rand_t *r)
{
	if (r == nullptr)
		return M_rand_create(0);
	M_rand_t *d = static_cast<M_rand_t *>(M_malloc_zero(sizeof(*d)));
	*d          = *r;
	return d;
}

void M_rand_jump(M_rand_t *r)
{
	if (r == nullptr)
		return;
	jump(*r);
}

uint64_t M_rand(M_rand_t *r)
{
	if (r == nullptr) {
		M_rand_t      *tmp = M_rand_create(0);
		const uint64_t v   = step(*tmp);
		M_rand_destroy(tmp);
		return v;
	}
	return step(*r);
}

uint64_t M_rand_range(M_rand_t *r, uint64_t min, uint64_t max)
{
	if (min == max)
		return min;
	if (min > max)
		return 0;

	if (r == nullptr) {
		M_rand_t      *tmp = M_rand_create(0);
		const uint64_t v   = range_draw(*tmp, min, max);
		M_rand_destroy(tmp);
		return v;
	}
	return range_draw(*r, min, max);
}

uint64_t M_rand_max(M_rand_t *r, uint64_t max)
{
	return M_rand_range(r, 0, max);
}

} // extern "C"
