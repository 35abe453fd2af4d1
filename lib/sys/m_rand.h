/* Random numbers: a small, fast, NON-cryptographic generator.
 *
 * Used for the library's own needs only: the hash tables draw their hash
 * seed from it and the skip list keeps a generator for node heights. Never
 * draw key material from it (the OpenPGP code uses OpenSSL's RAND_bytes).
 *
 * Algorithm: xoroshiro128+ (Blackman and Vigna, 2016 variant with rotation
 * and shift constants 55, 14, 36). A new generator's state is made from the
 * seed by one SplitMix64 step (s0 = mix(seed), s1 = seed) and then moved on
 * by the generator's jump function (the equivalent of 2^64 draws), so
 * neighbouring seeds do not start with related outputs.
 *
 * Seed 0 asks for a derived seed: addresses of a stack variable and of the
 * new state mixed with the current time of day. Such generators differ from
 * run to run; any other seed gives the same sequence every time.
 *
 * A NULL generator is accepted by every drawing operation and stands for a
 * temporary generator created with seed 0 for that one call and released
 * after it.
 *
 * Concurrency: a generator has no lock; it must not be drawn from by two
 * threads at once. The NULL form uses private state per call.
 */
#ifndef M_RAND_H
#define M_RAND_H

#include "core/m_defs.h"

M_BEGIN_DECLS

/* Opaque generator state: two 64-bit words. */
typedef struct M_rand_state M_rand_t;

/* Create a generator.
 *
 * seed: any value; 0 derives a seed from addresses and the time of day.
 * Returns a new generator; free it with M_rand_destroy. Never NULL (running
 * out of memory ends the process). */
M_API M_rand_t *M_rand_create(uint64_t seed) M_WARN_UNUSED_RESULT;

/* Release a generator (its state is wiped by M_free).
 *
 * r: the generator; NULL is ignored. r is invalid afterwards. */
M_API void M_rand_destroy(M_rand_t *r);

/* Copy a generator.
 *
 * r: the source; NULL yields M_rand_create(0).
 * Returns a new generator (free with M_rand_destroy) whose next outputs are
 * exactly the next outputs of r. r is not changed. */
M_API M_rand_t *M_rand_duplicate(const M_rand_t *r) M_WARN_UNUSED_RESULT;

/* Advance r by the jump function, the equivalent of 2^64 draws.
 *
 * r: the generator; NULL is ignored. */
M_API void M_rand_jump(M_rand_t *r);

/* Next 64-bit output.
 *
 * r: the generator, advanced by one step; NULL uses a temporary generator
 *    seeded from the clock.
 * Returns any 64-bit value. */
M_API uint64_t M_rand(M_rand_t *r);

/* Uniform value in min to max - 1 (max excluded).
 *
 * r:   the generator; NULL uses a temporary generator seeded from the clock.
 * min equal to max returns min without drawing; min above max returns 0
 * without drawing. Otherwise draws are rejected and repeated while they fall
 * into the incomplete last bucket of the 64-bit range, so every value of the
 * range is equally likely. */
M_API uint64_t M_rand_range(M_rand_t *r, uint64_t min, uint64_t max);

/* M_rand_range(r, 0, max): a value from 0 to max - 1.
 *
 * r: as for M_rand_range.
 * max 0 returns 0; max 1 always returns 0. */
M_API uint64_t M_rand_max(M_rand_t *r, uint64_t max);

M_END_DECLS

#endif /* M_RAND_H */
