// Standard errors at a maximum: the Hessian of the sample ln LH over the free
// parameters by central differences on the same likelihood, its negated
// inverse as the covariance, and the correlations.
//
// Step rule: h = 1e-3 x max(|x|, 0.1) for a parameter at x, shortened to a
// quarter of its distance to the nearer bound, so that the check with 2h
// stays inside the bounds too. lambda (a transformed trait's power) takes
// h = 1e-2: the values it transforms are rounded to 4-byte reals, so its
// ln LH is smooth only on a coarser scale (second differences of a
// 1845-member sample at h = 1e-5 are noise; at 1e-3 and 1e-2 they agree). The
// Hessian is formed with h and again with 2h; the larger relative difference of
// the two sets of SEs is reported. A parameter within one final search step of
// a bound, or within 2h of it (too close for the differences), is held at its
// value and marked "at bound" (no SE; the other SEs are then conditional on
// it). A Hessian that is not negative definite is reported and not inverted.
#ifndef SEGMIX_FIT_STANDARD_ERRORS_H_
#define SEGMIX_FIT_STANDARD_ERRORS_H_

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "fit/model_series.h"
#include "model/parameter_table.h"

namespace segmix::fit {

struct StandardErrors {
  std::vector<int> rows;      // free rows with an SE, ascending
  std::vector<int> at_bound;  // free rows held at a bound
  std::vector<double> se;     // per entry of rows
  std::vector<std::vector<double>> covariance;
  std::vector<std::vector<double>> correlation;
  bool negative_definite = false;
  std::string problem;           // empty when SEs were computed
  double step_disagreement = 0;  // max |SE(h) - SE(2h)| / SE(h)
  long evaluations = 0;
};

// lambda's difference step, in the standard errors and in the climb.
inline constexpr double kLambdaDifferenceStep = 1e-2;

// ln LH of a table of the model, at or below kFailureThreshold when refused.
using LogLikelihood = std::function<double(const ParameterTable&)>;

// ln LH at each table of a batch, in the batch's order; the tables may be
// evaluated in any order or side by side.
using BatchLogLikelihood =
    std::function<std::vector<double>(const std::vector<ParameterTable>&)>;

// `at_maximum` holds the estimates and the search's final steps; `free_rows`
// the rows the search moved. The points of both Hessians (h and 2h) go to
// `ln_lh` as one batch; the one-table form evaluates them in turn.
StandardErrors ComputeStandardErrors(const BatchLogLikelihood& ln_lh,
                                     const ParameterTable& at_maximum,
                                     const std::vector<int>& free_rows);
StandardErrors ComputeStandardErrors(const LogLikelihood& ln_lh,
                                     const ParameterTable& at_maximum,
                                     const std::vector<int>& free_rows);

// The covariance (the inverse observed information) of a model's
// estimators at a point of a null nested in it that holds `bounded` rows on
// bounds of their ranges (each with its admissible side, +1 above a lower
// bound, -1 below an upper one): what the chi-bar-squared weights of the
// test need. `at_null` is the model's table at the null's estimates, the
// bounded rows on (or within 1e-8 of the range of) their bounds. Differences
// along a bounded row go towards its admissible side only, with one-sided
// stencils of second order, central ones along the others; the step rule is
// that of ComputeStandardErrors. Other rows at a bound are held (at_bound).
// No step disagreement is formed.
StandardErrors InformationAtNull(
    const BatchLogLikelihood& ln_lh, const ParameterTable& at_null,
    const std::vector<int>& free_rows,
    const std::vector<std::pair<int, int>>& bounded);

// Within one final step (|step|) or 2h (the step rule) of GL or GR.
bool AtBound(const ParameterTable& table, int row);

}  // namespace segmix::fit

#endif  // SEGMIX_FIT_STANDARD_ERRORS_H_
