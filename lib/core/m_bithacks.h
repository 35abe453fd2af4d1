/* Power-of-two and logarithm helpers on unsigned integers.
 *
 * The containers use these to size their storage (hash table bucket counts,
 * parser buffers, skip list levels). Every function is pure: no pointer, no
 * allocation, no state. Each operation exists for uint32_t and uint64_t; the
 * size_t forms behave exactly as the 64-bit ones (size_t is 64 bits on every
 * host the library supports).
 *
 * The logarithms use the multiply-and-lookup bit position method with the de
 * Bruijn constants 0x077CB531 (32-bit) and 0x07EDD5E59A4E28C2 (64-bit).
 */
#ifndef M_BITHACKS_H
#define M_BITHACKS_H

#include "core/m_defs.h"

M_BEGIN_DECLS

/* ---------------------------------------------------------------------------
 * Is a power of two: M_TRUE when exactly one bit of n is set. 0 is not a
 * power of two.
 * ------------------------------------------------------------------------- */

M_API M_bool M_uint32_is_power_of_two(uint32_t n);
M_API M_bool M_uint64_is_power_of_two(uint64_t n);
M_API M_bool M_size_t_is_power_of_two(size_t n);

/* ---------------------------------------------------------------------------
 * Round down: the highest set bit of n alone, i.e. the largest power of two
 * not above n. 0 yields 0.
 * ------------------------------------------------------------------------- */

M_API uint32_t M_uint32_round_down_to_power_of_two(uint32_t n);
M_API uint64_t M_uint64_round_down_to_power_of_two(uint64_t n);
M_API size_t   M_size_t_round_down_to_power_of_two(size_t n);

/* ---------------------------------------------------------------------------
 * Round up: the smallest power of two not below n; a power of two yields
 * itself. 0 yields 0, and a value above the largest representable power of
 * two (2^31 for 32 bits, 2^63 for 64 bits) wraps to 0, so callers sizing
 * storage must treat 0 as "too large".
 * ------------------------------------------------------------------------- */

M_API uint32_t M_uint32_round_up_to_power_of_two(uint32_t n);
M_API uint64_t M_uint64_round_up_to_power_of_two(uint64_t n);
M_API size_t   M_size_t_round_up_to_power_of_two(size_t n);

/* ---------------------------------------------------------------------------
 * Logarithm: the index of the highest set bit of n (floor of log2 n).
 * For n = 0 the 32-bit form yields 0 and the 64-bit form yields 63 (the
 * entries for index 0 of the two lookup tables); callers that can pass 0
 * must test for it themselves.
 * ------------------------------------------------------------------------- */

M_API uint8_t M_uint32_log2(uint32_t n);
M_API uint8_t M_uint64_log2(uint64_t n);

/* Widen a bits-wide two's-complement number held in the low bits of value to
 * a signed 64-bit number: with m = 1 << (bits - 1), the result is
 * (value XOR m) - m. bits is taken from 1 to 64; bits outside that range
 * (0 or above 64) yield value unchanged, reinterpreted as signed. Bits of
 * value above the low bits are expected to be 0. */
M_API int64_t M_sign_extend(uint64_t value, size_t bits);

M_END_DECLS

#endif /* M_BITHACKS_H */
