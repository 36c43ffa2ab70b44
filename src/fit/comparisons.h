// Likelihood-ratio tests between nested models and the information criteria.
#ifndef SEGMIX_FIT_COMPARISONS_H_
#define SEGMIX_FIT_COMPARISONS_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "fit/standard_errors.h"
#include "model/parameter_table.h"

namespace segmix::fit {

// P(chi-square with df degrees of freedom > x); df 0 is the point mass at 0.
double ChiSquareUpper(double x, int df);

// Statistics below this are 0: 2 (ln LH_1 - ln LH_0) under 1e-6 is below the
// search's resolution (an alternative whose maximum is the null's ends some
// 1e-11 above it or exactly on it, by rounding alone), and with a point mass
// at 0 in the reference law that noise would flip a p-value of 1 to about
// 1/2.
inline constexpr double kZeroStatistic = 1e-6;

// The 50:50 mixture of chi-square with df - 1 and df degrees of freedom, for
// a null that puts one parameter on a bound of its range.
double MixtureUpper(double x, int df);

// Rows the alternative estimates that the null holds fixed on one of the
// alternative's bounds (GL or GR).
int RowsOnBound(const ParameterTable& null_table,
                const ParameterTable& alternative_table);

// One bootstrap replicate of a test (fit/bootstrap.h).
struct BootstrapReplicate {
  int index = 0;  // b, 1-based
  bool drawn = false;
  double null_ln_lh = 0, alternative_ln_lh = 0;
  double statistic = 0;  // 2 (alternative - null) when both were fitted
  bool Usable() const {
    return drawn && null_ln_lh > kFailureThreshold &&
           alternative_ln_lh > kFailureThreshold;
  }
};

// A test's parametric bootstrap: its replicates and the p-value they give.
struct Bootstrap {
  std::uint64_t seed = 0;
  std::vector<BootstrapReplicate> replicates;  // in replicate order
  int usable = 0;                              // N of the p-value
  int reaching = 0;                            // #{T_b >= T}
  double p_value = 1, se = 0;
  // A stop signal ended it: `replicates` holds the finished ones only (for a
  // --resume), and there is no p-value.
  bool stopped = false;
};

struct Comparison {
  std::string label, null_model, alternative;
  double statistic = 0;  // -2 ln lambda, negative values shown as computed
  int df = 0;
  double p_value = 1;
  std::string distribution;  // "chi2(df)" or "50:50 chi2(df-1):chi2(df)"
  std::string note;
  bool bootstrapped = false;  // --bootstrap: `bootstrap` holds its result
  Bootstrap bootstrap;
  // The covariance the mixture's weights came from, when it is not the
  // alternative's own (the information at the null); else empty.
  StandardErrors weights_covariance;
};

// The rows RowsOnBound counts, each with the side of its admissible values
// (+1 above a lower bound, -1 below an upper bound).
std::vector<std::pair<int, int>> BoundRows(
    const ParameterTable& null_table, const ParameterTable& alternative_table);

// The alternative's table at the null's estimates: each free row of the
// alternative at the null's value (its estimate, the value of the row it is
// tied to, its fixed value, 1, 1/2, 0 under Mendelian transmission, 0 for a
// left-out component), a row the null holds on a bound 1e-8 of its range
// inside it, where the search's gate admits it.
ParameterTable NullPoint(const ParameterTable& null_table,
                         const ParameterTable& null_estimates,
                         const ParameterTable& alternative_table);

// The test of `null_model` (ln LH, table) within `alternative`. Rows the null
// holds on a bound: the chi-bar-squared mixture whose weights come from the
// covariance of those rows' estimators in `covariance` (the inverse
// information of the alternative at the null, InformationAtNull, or at the
// alternative's maximum, which estimates it when the null holds; `source`
// says which in the note); one row gives 1/2:1/2 whatever the covariance.
// Without that covariance (no SE for one of the rows), several rows on
// bounds fall back to the plain chi-square, said in the note as
// conservative.
Comparison Compare(
    const std::string& label, const std::string& null_name, double null_ln_lh,
    const ParameterTable& null_table, int null_free,
    const std::string& alternative_name, double alternative_ln_lh,
    const ParameterTable& alternative_table, int alternative_free,
    const StandardErrors* covariance = nullptr,
    const std::string& source = "the alternative's covariance at its maximum");

// -2 lnL + 2k and -2 lnL + k ln n.
double Aic(double ln_lh, int free_parameters);
double Bic(double ln_lh, int free_parameters, int observed);

}  // namespace segmix::fit

#endif  // SEGMIX_FIT_COMPARISONS_H_
