// The 95% profile-likelihood interval of one parameter of a fitted model: the
// parameter is fixed at points stepping out from the estimate (first step one
// SE, or 5% of max(|x|, 0.1) without one; then doubling), the other free
// parameters are maximized again from the neighbouring point and from the
// model's estimates (the better of the two is the profile), and the point
// where ln LH falls below the maximum by 1.92 (half the 95% point of
// chi-square with 1 df) is solved for in the last bracket (TOMS 748) to
// within 1e-3 of that level. Where ln LH stays above it up to a bound, the
// interval reaches the bound.
#ifndef SEGMIX_FIT_PROFILE_H_
#define SEGMIX_FIT_PROFILE_H_

#include "fit/engine.h"
#include "fit/fit_report.h"
#include "fit/progress.h"
#include "fit/series.h"

namespace segmix::fit {

// `row` must be a free row of `model`, which must be fitted.
Profile ProfileParameter(const Analysis& analysis, const ModelResult& model,
                         int row, Progress& progress);

}  // namespace segmix::fit

#endif  // SEGMIX_FIT_PROFILE_H_
