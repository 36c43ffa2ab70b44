// Profile-likelihood intervals: the search run again with one parameter
// fixed, through the same fit as every start.
#include "fit/profile.h"

#include <algorithm>
#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/tools/toms748_solve.hpp>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>

#include "fit/climb.h"
#include "fit/transform.h"

namespace segmix::fit {
namespace {

// How close to max - 1.92 an endpoint's profile ln LH must come.
constexpr double kEndTolerance = 1e-3;
constexpr std::uintmax_t kRootIterations = 40;

}  // namespace

// The 95% profile interval of `row` in model `m`: fix the row, re-maximize
// the rest from the neighbouring point and from the model's estimates
// (keeping the better: either alone can stall on a ridge), step out from the
// estimate until ln LH falls below max - 1.92 (half the 95% point of
// chi-square with 1 df), then solve for the crossing in that bracket with
// TOMS 748 until the profile ln LH is within 1e-3 of the level.
Profile ProfileParameter(const Analysis& analysis, const ModelResult& m,
                         int row, Progress& progress) {
  Profile p;
  p.model = m.description.name;
  p.parameter = RowName(row);
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
  // The row fixed at `v` in a copy of `from`, with the model's steps (the
  // final steps of a search are too short to move).
  const auto fixed_at = [&](const ParameterTable& from, double v) {
    ParameterTable t = from;
    t.estimate = m.estimates.estimate;
    t.tie = m.estimates.tie;
    t.step = m.model.step;
    t.value[row] = v;
    t.estimate[row] = 0;
    t.tie[row] = row;
    return t;
  };
  // Under a transform, segmix's search cannot move lambda: the climb
  // re-maximizes all the free rows there.
  const auto fit = [&](const ParameterTable& t, FitOutcome& o) {
    ++count;
    progress.Begin(1, 1, "profile " + p.parameter, count, count);
    if (analysis.transform.boxcox) {
      Evaluator evaluator(analysis, t);
      const ClimbEnd end = Climb(
          [&](const ParameterTable& at) { return evaluator.Evaluate(at); }, t,
          FreeRows(t));
      o = FitOutcome{};
      o.table = end.table;
      o.start_rejected = end.failed_start;
      o.result.final_ln_lh = end.ln_lh;
      progress.Evaluation(end.evaluations, end.ln_lh);
      return end.failed_start ? FailureSentinel : end.ln_lh;
    }
    o = RunFit(analysis, t, nullptr,
               [&](std::int64_t e, double b) { progress.Evaluation(e, b); });
    return o.start_rejected ? FailureSentinel : o.result.final_ln_lh;
  };
  for (int direction : {-1, 1}) {
    ParameterTable warm = m.estimates;
    std::map<double, double> known;  // this side's points: value -> ln LH
    auto maximum_at = [&](double v) {
      if (const auto it = known.find(v); it != known.end()) return it->second;
      FitOutcome from_warm, from_best;
      const double l_warm = fit(fixed_at(warm, v), from_warm);
      const double l_best = fit(fixed_at(m.estimates, v), from_best);
      const bool best_wins = l_best > l_warm;
      const double l = best_wins ? l_best : l_warm;
      if (l > kFailureThreshold) {
        warm = best_wins ? from_best.table : from_warm.table;
      }
      known[v] = l;
      p.points.emplace_back(v, l);
      return l;
    };
    const double bound =
        direction < 0 ? m.estimates.GL[row] + eps : m.estimates.GR[row] - eps;
    double inside = x, step = scale, end = bound;
    bool reached = false;
    for (int k = 0; k < 20; ++k) {
      double v = inside + direction * step;
      if ((v - bound) * direction >= 0) v = bound;
      const double l = maximum_at(v);
      if (!(l >= target)) {
        // `inside` lies in the interval, `v` outside: the crossing of the
        // level between them. A failed fit counts as far below it.
        const auto f = [&](double at) {
          const double l_at = at == x ? m.ln_lh : maximum_at(at);
          return l_at > kFailureThreshold ? l_at - target
                                          : -std::numeric_limits<double>::max();
        };
        double closest = inside, closest_gap = std::abs(f(inside));
        const auto close_enough = [&](double a, double b) {
          for (const double at : {a, b}) {
            const double gap = std::abs(f(at));
            if (gap < closest_gap) closest = at, closest_gap = gap;
          }
          return closest_gap <= kEndTolerance || a == b;
        };
        std::uintmax_t iterations = kRootIterations;
        const double a = std::min(inside, v), b = std::max(inside, v);
        boost::math::tools::toms748_solve(f, a, b, f(a), f(b), close_enough,
                                          iterations);
        end = closest;
        reached = true;
        break;
      }
      inside = v;
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
