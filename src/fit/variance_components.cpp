// Variance components and their delta-method SEs: each component carries its
// value, its analytic gradient over the master rows and the set of rows it
// depends on; the shares follow by the quotient rule.
#include "fit/variance_components.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <stdexcept>
#include <string>

namespace segmix::fit {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Term {
  double value = 0;
  // d value / d value(row), by master row.
  std::array<double, kParameterRows + 1> gradient{};
  std::array<bool, kParameterRows + 1> depends{};
};

// The row whose value `row` takes: its tie followed to a row tied to itself.
// The walk is bounded, so a cycle or an index outside the table stops it.
int Master(const ParameterTable& t, int row) {
  int r = row;
  for (int k = 0; k < kParameterRows && t.tie[r] != r; ++k) {
    const int next = t.tie[r];
    if (next < 1 || next > kParameterRows) break;
    r = next;
  }
  return r;
}

void Add(Term& term, int master, double derivative) {
  term.gradient[master] += derivative;
  term.depends[master] = true;
}

Term MajorLocus(const ParameterTable& t) {
  Term term;
  const int mean_rows[3] = {Master(t, kMU), Master(t, kA), Master(t, kD)};
  if (mean_rows[0] == mean_rows[1] && mean_rows[1] == mean_rows[2]) {
    return term;  // one mean for all genotypes: no variance at any point
  }
  const int q_row = Master(t, kQ);
  const double q = t.value[q_row];
  const double f[3] = {q * q, 2 * q * (1 - q), (1 - q) * (1 - q)};
  const double df[3] = {2 * q, 2 - 4 * q, -2 * (1 - q)};  // d f / d Q
  double m[3];
  double mbar = 0;
  for (int g = 0; g < 3; ++g) {
    m[g] = t.value[mean_rows[g]];
    mbar += f[g] * m[g];
  }
  // d/dm_g: 2 f_g (m_g - mbar), the mbar terms cancelling since the f sum to
  // 1; d/dQ: sum_g f_g' (m_g - mbar)^2, the same because the f' sum to 0.
  double dq = 0;
  for (int g = 0; g < 3; ++g) {
    const double d = m[g] - mbar;
    term.value += f[g] * d * d;
    dq += df[g] * d * d;
    Add(term, mean_rows[g], 2 * f[g] * d);
  }
  Add(term, q_row, dq);
  return term;
}

Term Polygenic(const ParameterTable& t) {
  Term term;
  if (t.in_model[kPga] == 0) return term;
  const int row = Master(t, kPga);
  const double pga = t.value[row];
  term.value = 1.5 * pga * pga;
  Add(term, row, 3 * pga);
  return term;
}

Term Residual(const ParameterTable& t) {
  Term term;
  const int row = Master(t, kSIG);
  term.value = t.value[row];
  Add(term, row, 1);
  return term;
}

Term Sum(const Term& a, const Term& b, const Term& c) {
  Term s;
  s.value = a.value + b.value + c.value;
  for (int r = 0; r <= kParameterRows; ++r) {
    s.gradient[r] = a.gradient[r] + b.gradient[r] + c.gradient[r];
    s.depends[r] = a.depends[r] || b.depends[r] || c.depends[r];
  }
  return s;
}

// part / total, with d(v/T) = (dv - (v/T) dT) / T.
Term Share(const Term& part, const Term& total) {
  Term h;
  if (!(total.value > 0)) {
    h.value = kNaN;
    return h;
  }
  h.value = part.value / total.value;
  bool constant = true;
  for (bool d : part.depends) constant = constant && !d;
  if (constant && part.value == 0) return h;  // identically 0
  for (int r = 0; r <= kParameterRows; ++r) {
    h.gradient[r] =
        (part.gradient[r] - h.value * total.gradient[r]) / total.value;
    h.depends[r] = part.depends[r] || total.depends[r];
  }
  return h;
}

double DeltaSe(const Term& term, const std::vector<int>& rows,
               const std::vector<std::vector<double>>& covariance) {
  bool any = false;
  for (int r : rows) any = any || term.depends[r];
  if (covariance.empty() || !any) return kNaN;
  double sum = 0, size = 0;
  for (std::size_t a = 0; a < rows.size(); ++a) {
    for (std::size_t b = 0; b < rows.size(); ++b) {
      const double x =
          term.gradient[rows[a]] * covariance[a][b] * term.gradient[rows[b]];
      sum += x;
      size += std::abs(x);
    }
  }
  // A covariance is positive definite; a sum below 0 beyond rounding means
  // it is not, and no SE follows from it.
  if (sum < -1e-12 * size) return kNaN;
  return std::sqrt(std::max(sum, 0.0));
}

}  // namespace

std::vector<VarianceComponent> VarianceComponents(
    const ParameterTable& estimates, const std::vector<int>& rows,
    const std::vector<std::vector<double>>& covariance) {
  for (int r : rows) {
    if (r < 1 || r > kParameterRows) {
      throw std::invalid_argument("variance components: covariance row " +
                                  std::to_string(r) + " is not a table row");
    }
  }
  if (!covariance.empty()) {
    bool square = covariance.size() == rows.size();
    for (const auto& line : covariance) {
      square = square && line.size() == rows.size();
    }
    if (!square) {
      throw std::invalid_argument(
          "variance components: the covariance is not " +
          std::to_string(rows.size()) + " x " + std::to_string(rows.size()) +
          ", one line per row");
    }
  }
  const Term major = MajorLocus(estimates);
  const Term polygenic = Polygenic(estimates);
  const Term residual = Residual(estimates);
  const Term total = Sum(major, polygenic, residual);
  const Term terms[6] = {major, polygenic,           residual,
                         total, Share(major, total), Share(polygenic, total)};
  std::vector<VarianceComponent> out;
  for (std::size_t k = 0; k < kVarianceComponentNames.size(); ++k) {
    out.push_back({std::string(kVarianceComponentNames[k]), terms[k].value,
                   DeltaSe(terms[k], rows, covariance)});
  }
  return out;
}

std::vector<VarianceComponent> VarianceComponents(
    const ParameterTable& estimates, const StandardErrors& se) {
  if (!se.problem.empty()) return VarianceComponents(estimates, {}, {});
  return VarianceComponents(estimates, se.rows, se.covariance);
}

}  // namespace segmix::fit
