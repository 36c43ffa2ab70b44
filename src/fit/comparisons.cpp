// Chi-square tail probabilities from Boost.Math.
#include "fit/comparisons.h"

#include <algorithm>
#include <boost/math/distributions/chi_squared.hpp>
#include <cmath>
#include <stdexcept>

#include "fit/chi_bar_squared.h"
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
  return static_cast<int>(BoundRows(null_table, alternative_table).size());
}

namespace {

bool FreeIn(const ParameterTable& table, int row) {
  const std::vector<int> rows = FreeRows(table);
  return std::find(rows.begin(), rows.end(), row) != rows.end();
}

// The value at which the null holds a row it neither estimates nor ties.
double HeldValue(const ParameterTable& null_table, int r) {
  if (r >= kTr1 && r <= kTr3 && null_table.in_model[kTr1] == 0) {
    return r == kTr1 ? 1.0 : r == kTr2 ? 0.5 : 0.0;
  }
  if ((r == kPga || r == kSex || r >= kB1) && null_table.in_model[r] == 0) {
    return 0;
  }
  return null_table.value[r];
}

}  // namespace

ParameterTable NullPoint(const ParameterTable& null_table,
                         const ParameterTable& null_estimates,
                         const ParameterTable& alternative_table) {
  ParameterTable t = alternative_table;
  for (const int r : FreeRows(alternative_table)) {
    if (FreeIn(null_table, r)) {
      t.value[r] = null_estimates.value[r];
    } else if (null_table.tie[r] != r) {
      t.value[r] = null_estimates.value[null_table.tie[r]];
    } else {
      t.value[r] = HeldValue(null_table, r);
    }
  }
  for (const auto& [r, side] : BoundRows(null_table, alternative_table)) {
    t.value[r] += side * 1e-8 * (t.GR[r] - t.GL[r]);
  }
  return t;
}

std::vector<std::pair<int, int>> BoundRows(
    const ParameterTable& null_table, const ParameterTable& alternative_table) {
  std::vector<std::pair<int, int>> rows;
  for (int r : FreeRows(alternative_table)) {
    if (FreeIn(null_table, r) || null_table.tie[r] != r) continue;
    const double v = HeldValue(null_table, r);
    if (v == alternative_table.GL[r])
      rows.emplace_back(r, +1);
    else if (v == alternative_table.GR[r])
      rows.emplace_back(r, -1);
  }
  return rows;
}

Comparison Compare(const std::string& label, const std::string& null_name,
                   double null_ln_lh, const ParameterTable& null_table,
                   int null_free, const std::string& alternative_name,
                   double alternative_ln_lh,
                   const ParameterTable& alternative_table,
                   int alternative_free, const StandardErrors* covariance,
                   const std::string& source) {
  Comparison c;
  c.label = label;
  c.null_model = null_name;
  c.alternative = alternative_name;
  c.statistic = 2 * (alternative_ln_lh - null_ln_lh);
  c.df = alternative_free - null_free;
  const auto bound_rows = BoundRows(null_table, alternative_table);
  const int on_bound = static_cast<int>(bound_rows.size());
  const double x = c.statistic < kZeroStatistic ? 0.0 : c.statistic;
  // The covariance block of the rows on bounds, when the alternative has an
  // SE for each of them.
  bool mixture = false;
  if (on_bound > 1 && covariance != nullptr &&
      !covariance->covariance.empty()) {
    std::vector<int> at;
    std::vector<int> direction;
    for (const auto& [row, side] : bound_rows) {
      const auto& rows = covariance->rows;
      const auto it = std::find(rows.begin(), rows.end(), row);
      if (it == rows.end()) break;
      at.push_back(static_cast<int>(it - rows.begin()));
      direction.push_back(side);
    }
    if (static_cast<int>(at.size()) == on_bound) {
      Eigen::MatrixXd block(on_bound, on_bound);
      for (int i = 0; i < on_bound; ++i) {
        for (int j = 0; j < on_bound; ++j) {
          block(i, j) = covariance->covariance[at[i]][at[j]];
        }
      }
      try {
        const ChiBarSquared law =
            ChiBarSquaredFor(block, direction, c.df - on_bound);
        c.p_value = law.Upper(x);
        c.distribution = law.Name();
        c.note = std::to_string(on_bound) +
                 " null values on bounds: weights from " + source;
        mixture = true;
      } catch (const std::invalid_argument&) {
        // a covariance that is not positive definite: the fallback below
      }
    }
  }
  // Without the mixture (set above): one bounded row gives 1/2:1/2 whatever
  // the covariance; several without a covariance fall back to the plain
  // chi2, which is conservative.
  if (!mixture && on_bound == 1) {
    c.p_value = MixtureUpper(x, c.df);
    c.distribution = "50:50 chi2(" + std::to_string(c.df - 1) + "):chi2(" +
                     std::to_string(c.df) + ")";
    c.note = "null on a bound";
  } else if (!mixture) {
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
