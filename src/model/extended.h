// Extended precision: the likelihood accumulates its sums and products in the
// x87 80-bit format (64-bit mantissa) and rounds to double only where a value
// is stored. Every result depends on that, so it is checked at compile time.
#ifndef SEGMIX_MODEL_EXTENDED_H_
#define SEGMIX_MODEL_EXTENDED_H_

#include <limits>

namespace segmix {

using Extended = long double;
static_assert(std::numeric_limits<Extended>::digits == 64,
              "segmix needs the 80-bit extended long double of x86-64");

}  // namespace segmix

#endif  // SEGMIX_MODEL_EXTENDED_H_
