// Chi-square tail probabilities from Boost.Math.
#include "fit/comparisons.h"

#include <boost/math/distributions/chi_squared.hpp>
#include <cmath>

#include "fit/model_series.h"

namespace segmix::fit {

double ChiSquareUpper(double x, int df) {
  if (df <= 0) return x > 0 ? 0.0 : 1.0;
  if (!(x > 0)) return 1.0;
  return boost::math::cdf(
      boost::math::complement(boost::math::chi_squared(df), x));
}

double MixtureUpper(double x, int df) {
  return 0.5 * ChiSquareUpper(x, df - 1) + 0.5 * ChiSquareUpper(x, df);
}

int RowsOnBound(const ParameterTable& null_table,
                const ParameterTable& alternative_table) {
  int count = 0;
  for (int r : FreeRows(alternative_table)) {
    bool free_in_null = false;
    for (int n : FreeRows(null_table)) free_in_null = free_in_null || n == r;
    if (free_in_null || null_table.tie[r] != r) continue;
    double v = null_table.value[r];
    if (r >= kTr1 && r <= kTr3 && null_table.in_model[kTr1] == 0) {
      v = r == kTr1 ? 1.0 : r == kTr2 ? 0.5 : 0.0;
    } else if ((r == kPga || r == kSex || r >= kB1) &&
               null_table.in_model[r] == 0) {
      v = 0;
    }
    if (v == alternative_table.GL[r] || v == alternative_table.GR[r]) ++count;
  }
  return count;
}

Comparison Compare(const std::string& label, const std::string& null_name,
                   double null_ln_lh, const ParameterTable& null_table,
                   int null_free, const std::string& alternative_name,
                   double alternative_ln_lh,
                   const ParameterTable& alternative_table,
                   int alternative_free) {
  Comparison c;
  c.label = label;
  c.null_model = null_name;
  c.alternative = alternative_name;
  c.statistic = 2 * (alternative_ln_lh - null_ln_lh);
  c.df = alternative_free - null_free;
  const int on_bound = RowsOnBound(null_table, alternative_table);
  const double x = std::max(c.statistic, 0.0);
  if (on_bound == 1) {
    c.p_value = MixtureUpper(x, c.df);
    c.distribution = "50:50 chi2(" + std::to_string(c.df - 1) + "):chi2(" +
                     std::to_string(c.df) + ")";
    c.note = "null on a bound";
  } else {
    c.p_value = ChiSquareUpper(x, c.df);
    c.distribution = "chi2(" + std::to_string(c.df) + ")";
    if (on_bound > 1) {
      c.note = std::to_string(on_bound) +
               " null values on bounds: plain chi2, conservative";
    }
  }
  if (c.statistic < -0.01) {
    c.note +=
        (c.note.empty() ? "" : "; ") +
        std::string("alternative below null: its search missed the maximum");
  }
  return c;
}

double Aic(double ln_lh, int free_parameters) {
  return -2 * ln_lh + 2 * free_parameters;
}

double Bic(double ln_lh, int free_parameters, int observed) {
  return -2 * ln_lh + free_parameters * std::log(static_cast<double>(observed));
}

}  // namespace segmix::fit
