/* Floating-point helpers of the library's own, used by the format engine.
 *
 * They work on the bits of an IEEE 754 binary64 double rather than calling
 * the C library, so formatted numbers come out the same on every runtime and
 * under every rounding mode the runtime might have been left in.
 */
#ifndef M_FLOAT_H
#define M_FLOAT_H

#include "core/m_defs.h"

M_BEGIN_DECLS

/* Split a double into its integer part and its fraction, as the standard
 * modf does, by masking the mantissa bits below the binary point.
 *
 * value:    the number to split.
 * int_part: receives the integer part, with the sign of value (so -0.5
 *           gives -0.0); NULL when only the fraction is wanted.
 *
 * Returns the fraction, which keeps the sign of value and is exact (a zero
 * fraction is a zero of value's sign). An infinity gives an integer part of
 * that infinity and a zero fraction; NaN gives NaN for both. */
M_API double M_math_modf(double value, double *int_part);

/* Round to the nearest integer, halves away from zero (the rule of the
 * standard round function), independent of the current rounding mode.
 *
 * Values of magnitude 2^52 or more (including the infinities) and NaN come
 * back unchanged, since they hold no fraction; values below one half in
 * magnitude give zero with the sign of value. 0.49999999999999994 gives 0,
 * 2.5 gives 3, -2.5 gives -3.
 *
 * Returns the rounded value. */
M_API double M_math_round(double value);

M_END_DECLS

#endif /* M_FLOAT_H */
