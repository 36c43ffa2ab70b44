// Variance components of a fitted model: how the trait variance within one
// sex and covariate class splits into the major locus, the polygenic
// component and the residual, the total and the two shares (major-locus and
// polygenic heritability), each with a delta-method standard error from the
// covariance of the free parameters.
//
// With genotype frequencies f = (Q^2, 2Q(1-Q), (1-Q)^2) and means
// m = (MU, A, D), the major-locus variance is sum_g f_g (m_g - mbar)^2 with
// mbar = sum_g f_g m_g. The polygenic genotype counts the increasing alleles
// among 6 slots at frequency 1/2, Binomial(6, 1/2) with variance 6/4, and
// each allele shifts the mean by pga: 1.5 pga^2. The residual is SIG (a
// variance). The three add up because the major and polygenic genotypes of a
// person are independent in the population and the residual is independent
// of both. Sex and covariates shift every genotype's mean alike and so do
// not enter.
//
// A row's value is the one the model uses: a tied row takes its master's
// value, and its derivative goes to the master. A left-out pga (in-model flag
// 0; the fit keeps it untied at 0) contributes 0. The three means tied to one
// parameter give a major-locus variance that is 0 whatever the values.
#ifndef SEGMIX_FIT_VARIANCE_COMPONENTS_H_
#define SEGMIX_FIT_VARIANCE_COMPONENTS_H_

#include <array>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "fit/standard_errors.h"
#include "model/parameter_table.h"

namespace segmix::fit {

// The components in the order VarianceComponents returns them.
inline constexpr std::array<std::string_view, 6> kVarianceComponentNames = {
    "major_locus", "polygenic", "residual",
    "total",       "h2_major",  "h2_polygenic"};

struct VarianceComponent {
  std::string name;  // one of kVarianceComponentNames
  double estimate = 0;
  // Delta method: sqrt(g' C g) with g the gradient over the covariance's
  // rows. Not a number when there is no covariance, or when the component
  // depends on none of its rows (fixed, left out, at a bound, or identically
  // 0). Conditional on the rows held at a bound, as the parameters' SEs are.
  double se = std::numeric_limits<double>::quiet_NaN();
};

// The six components at `estimates`. `rows` are the rows of `covariance`
// in its order (StandardErrors::rows: the free rows with an SE, which leaves
// out those at a bound). An empty covariance gives the estimates with no
// SEs. Throws std::invalid_argument when the covariance is not
// rows.size() square or a row lies outside the table.
std::vector<VarianceComponent> VarianceComponents(
    const ParameterTable& estimates, const std::vector<int>& rows,
    const std::vector<std::vector<double>>& covariance);

// The same from a model's standard errors; no SEs when they failed.
std::vector<VarianceComponent> VarianceComponents(
    const ParameterTable& estimates, const StandardErrors& se);

}  // namespace segmix::fit

#endif  // SEGMIX_FIT_VARIANCE_COMPONENTS_H_
