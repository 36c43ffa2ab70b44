// The 95% profile-likelihood interval of one parameter of a fitted model: the
// parameter is fixed at points stepping out from the estimate (first step one
// SE, or 5% of max(|x|, 0.1) without one; then doubling), the other free
// parameters are maximized again warm-started from the neighbouring point,
// and the bracket where ln LH falls below the maximum by 1.92 (half the 95%
// point of chi-square with 1 df) is halved six times and closed by linear
// interpolation. Where ln LH stays above that level up to a bound, the
// interval reaches the bound.
#ifndef SEGMIX_FIT_PROFILE_H_
#define SEGMIX_FIT_PROFILE_H_

#include "fit/engine.h"
#include "fit/outputs.h"
#include "fit/progress.h"
#include "fit/series.h"

namespace segmix::fit {

// `row` must be a free row of `model`, which must be fitted.
Profile ProfileParameter(const Analysis& analysis, const ModelResult& model,
                         int row, Progress& progress);

}  // namespace segmix::fit

#endif  // SEGMIX_FIT_PROFILE_H_
