// Profile-likelihood intervals: the search run again with one parameter
// fixed, through the same fit as every start.
#include "fit/profile.h"

#include <algorithm>
#include <boost/math/distributions/chi_squared.hpp>
#include <cmath>

namespace segmix::fit {
namespace {

constexpr int kHalvings = 6;

}  // namespace

// The 95% profile interval of `row` in model `m`: fix the row, re-maximize
// the rest warm-started from the neighbouring point, step out from the
// estimate until ln LH falls below max - 1.92 (half the 95% point of
// chi-square with 1 df), then halve the bracket six times.
Profile ProfileParameter(const Analysis& analysis, const ModelResult& m,
                         int row, Progress& progress) {
  Profile p;
  p.model = m.description.name;
  p.parameter = std::string(ShortParameterName(row));
  const double x = m.estimates.value[row];
  p.estimate = x;
  const double drop =
      boost::math::quantile(boost::math::chi_squared(1), 0.95) / 2;
  const double target = m.ln_lh - drop;
  double scale = 0.05 * std::max(std::abs(x), 0.1);
  for (std::size_t i = 0; i < m.se.rows.size() && !m.se.se.empty(); ++i) {
    if (m.se.rows[i] == row) scale = m.se.se[i];
  }
  const double eps = 1e-6 * (m.estimates.GR[row] - m.estimates.GL[row]);
  int count = 0;
  for (int direction : {-1, 1}) {
    ParameterTable warm = m.estimates;
    warm.step = m.model.step;
    auto maximum_at = [&](double v) {
      ParameterTable t = warm;
      t.value[row] = v;
      t.estimate[row] = 0;
      t.tie[row] = row;
      ++count;
      progress.Begin(1, 1, "profile " + p.parameter, count, count);
      const FitOutcome o =
          RunFit(analysis, t, nullptr,
                 [&](std::int64_t e, double b) { progress.Evaluation(e, b); });
      const double l =
          o.start_rejected ? FailureSentinel : o.result.final_ln_lh;
      if (l > kFailureThreshold) {
        warm = o.table;
        warm.estimate = m.estimates.estimate;
        warm.tie = m.estimates.tie;
        warm.step = m.model.step;  // the final steps are too short to move
      }
      p.points.emplace_back(v, l);
      return l;
    };
    const double bound =
        direction < 0 ? m.estimates.GL[row] + eps : m.estimates.GR[row] - eps;
    double inside = x, l_inside = m.ln_lh, step = scale, end = bound;
    bool reached = false;
    for (int k = 0; k < 20; ++k) {
      double v = inside + direction * step;
      if ((v - bound) * direction >= 0) v = bound;
      const double l = maximum_at(v);
      if (!(l >= target)) {
        // lo inside the interval, hi outside; then the straight line
        // between them, which the halvings have made short.
        double lo = inside, hi = v, l_lo = l_inside, l_hi = l;
        for (int b = 0; b < kHalvings; ++b) {
          const double mid = 0.5 * (lo + hi);
          const double l_mid = maximum_at(mid);
          if (l_mid >= target) {
            lo = mid, l_lo = l_mid;
          } else {
            hi = mid, l_hi = l_mid;
          }
        }
        end = l_hi > kFailureThreshold
                  ? lo + (hi - lo) * (l_lo - target) / (l_lo - l_hi)
                  : 0.5 * (lo + hi);
        reached = true;
        break;
      }
      inside = v;
      l_inside = l;
      if (v == bound) break;
      step *= 2;
    }
    if (!reached) end = inside;
    if (direction < 0) {
      p.lower = end, p.lower_at_bound = !reached;
    } else {
      p.upper = end, p.upper_at_bound = !reached;
    }
  }
  std::sort(p.points.begin(), p.points.end());
  return p;
}

}  // namespace segmix::fit
