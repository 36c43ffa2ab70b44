// Central-difference Hessian and its inversion with Eigen.
#include "fit/standard_errors.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>
#include <utility>

#include "fit/transform.h"

namespace segmix::fit {
namespace {

struct Hessian {
  Eigen::MatrixXd matrix;
  bool failed = false;
};

// The points of the central differences with steps h, in a fixed order:
// x0, then per row a: x0 + h_a, x0 - h_a, and per earlier row b the four
// corners (+,+), (+,-), (-,+), (-,-).
void DifferencePoints(const ParameterTable& x0, const std::vector<int>& rows,
                      const std::vector<double>& h,
                      std::vector<ParameterTable>& points) {
  const int n = static_cast<int>(rows.size());
  auto at = [&](int a, double da, int b, double db) {
    ParameterTable t = x0;
    if (a >= 0) t.value[rows[a]] += da;
    if (b >= 0) t.value[rows[b]] += db;
    points.push_back(t);
  };
  at(-1, 0, -1, 0);
  for (int a = 0; a < n; ++a) {
    at(a, h[a], -1, 0);
    at(a, -h[a], -1, 0);
    for (int b = 0; b < a; ++b) {
      at(a, h[a], b, h[b]);
      at(a, h[a], b, -h[b]);
      at(a, -h[a], b, h[b]);
      at(a, -h[a], b, -h[b]);
    }
  }
}

// The Hessian from the values at DifferencePoints' points, from `next` on.
Hessian CentralDifferences(const std::vector<double>& values, std::size_t next,
                           const std::vector<double>& h) {
  const int n = static_cast<int>(h.size());
  Hessian result;
  result.matrix = Eigen::MatrixXd::Zero(n, n);
  auto take = [&] {
    const double v = values[next++];
    if (!(v > kFailureThreshold)) result.failed = true;
    return v;
  };
  const double f0 = take();
  for (int a = 0; a < n; ++a) {
    const double fp = take();
    const double fm = take();
    result.matrix(a, a) = (fp - 2 * f0 + fm) / (h[a] * h[a]);
    for (int b = 0; b < a; ++b) {
      const double fpp = take();
      const double fpm = take();
      const double fmp = take();
      const double fmm = take();
      result.matrix(a, b) = result.matrix(b, a) =
          (fpp - fpm - fmp + fmm) / (4 * h[a] * h[b]);
    }
  }
  return result;
}

}  // namespace

namespace {

// The SEs, covariance and correlations of `out` from the covariance matrix.
// Precondition: every variance on its diagonal is a positive number
// (VariancesPositive).
void SetCovariance(const Eigen::MatrixXd& cov, StandardErrors& out) {
  const int n = static_cast<int>(cov.rows());
  out.se.resize(n);
  out.covariance.assign(n, std::vector<double>(n));
  out.correlation.assign(n, std::vector<double>(n));
  for (int a = 0; a < n; ++a) out.se[a] = std::sqrt(cov(a, a));
  for (int a = 0; a < n; ++a) {
    for (int b = 0; b < n; ++b) {
      out.covariance[a][b] = cov(a, b);
      out.correlation[a][b] = cov(a, b) / (out.se[a] * out.se[b]);
    }
  }
}

// False, with `problem` saying why, when a variance in `cov` is not a
// positive number. The inverse of a matrix that is negative definite has a
// negative diagonal; when rounding makes one of its entries 0, positive or
// not a number, the matrix is singular to working precision (a direction the
// ln LH does not change along, a parameter not identified at this point):
// there are no SEs, rather than a square root of a negative number.
bool VariancesPositive(const Eigen::MatrixXd& cov, const std::vector<int>& rows,
                       const char* matrix, std::string& problem) {
  for (int a = 0; a < static_cast<int>(cov.rows()); ++a) {
    if (cov(a, a) > 0 && std::isfinite(cov(a, a))) continue;
    problem = std::string(matrix) + " singular to working precision (the " +
              "variance of " + RowName(rows[a]) + " is not positive): a " +
              "parameter may not be identified here, no SEs";
    return false;
  }
  return true;
}

// The step rule's h for a parameter at x; for lambda, 1e-2 (see the header).
double DifferenceStep(int row, double x) {
  if (row == kLambda) return kLambdaDifferenceStep;
  return 1e-3 * std::max(std::abs(x), 0.1);
}

}  // namespace

bool AtBound(const ParameterTable& table, int row) {
  const double x = table.value[row];
  const double margin =
      std::max(std::abs(table.step[row]), 2 * DifferenceStep(row, x));
  return x - table.GL[row] <= margin || table.GR[row] - x <= margin;
}

StandardErrors ComputeStandardErrors(const LogLikelihood& ln_lh,
                                     const ParameterTable& at_maximum,
                                     const std::vector<int>& free_rows) {
  return ComputeStandardErrors(
      [&](const std::vector<ParameterTable>& points) {
        std::vector<double> values;
        for (const ParameterTable& t : points) values.push_back(ln_lh(t));
        return values;
      },
      at_maximum, free_rows);
}

StandardErrors ComputeStandardErrors(const BatchLogLikelihood& ln_lh,
                                     const ParameterTable& at_maximum,
                                     const std::vector<int>& free_rows) {
  StandardErrors out;
  ParameterTable x0 = at_maximum;
  std::vector<double> h;
  for (int r : free_rows) {
    if (AtBound(x0, r)) {
      out.at_bound.push_back(r);
      continue;
    }
    const double x = x0.value[r];
    const double room = std::min(x - x0.GL[r], x0.GR[r] - x);
    out.rows.push_back(r);
    h.push_back(std::min(DifferenceStep(r, x), room / 4));
  }
  const int n = static_cast<int>(out.rows.size());
  if (n == 0) {
    out.problem = "no free parameter away from its bounds";
    return out;
  }
  std::vector<double> h2(h);
  for (double& v : h2) v *= 2;
  // Both sets of points in one batch: their evaluations are independent.
  std::vector<ParameterTable> points;
  DifferencePoints(x0, out.rows, h, points);
  const std::size_t second = points.size();
  DifferencePoints(x0, out.rows, h2, points);
  const std::vector<double> values = ln_lh(points);
  out.evaluations = static_cast<long>(points.size());
  const Hessian H1 = CentralDifferences(values, 0, h);
  const Hessian H2 = CentralDifferences(values, second, h2);
  if (H1.failed || H2.failed) {
    out.problem = "an evaluation near the maximum failed";
    return out;
  }
  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eigen(H1.matrix);
  const double largest = eigen.eigenvalues().maxCoeff();
  if (!(largest < 0)) {
    std::ostringstream s;
    s << "Hessian not negative definite (largest eigenvalue " << largest
      << "): not a strict maximum, no SEs";
    out.problem = s.str();
    return out;
  }
  const Eigen::MatrixXd cov = (-H1.matrix).inverse();
  if (!VariancesPositive(cov, out.rows, "Hessian", out.problem)) return out;
  out.negative_definite = true;
  SetCovariance(cov, out);
  // The same with 2h, for the disagreement only.
  const Eigen::MatrixXd cov2 = (-H2.matrix).inverse();
  for (int a = 0; a < n; ++a) {
    const double se2 = cov2(a, a) > 0 ? std::sqrt(cov2(a, a)) : 0;
    out.step_disagreement =
        std::max(out.step_disagreement, std::abs(out.se[a] - se2) / out.se[a]);
  }
  return out;
}

namespace {

// A difference stencil along one row: f's derivative is the sum of
// weight x f(x + offset h), over h (first) or h^2 (second derivative).
struct Stencil {
  std::vector<int> offset;
  std::vector<double> weight;
};

// Central where both sides may be evaluated; at a bound, the one-sided
// second-order stencils towards the admissible side s (+1 or -1):
//   f'  = s (-3/2 f(0) + 2 f(s) - 1/2 f(2s)) / h
//   f'' = (2 f(0) - 5 f(s) + 4 f(2s) - f(3s)) / h^2
// both exact for a quadratic.
Stencil FirstStencil(int side) {
  if (side == 0) return {{-1, 1}, {-0.5, 0.5}};
  return {{0, side, 2 * side}, {-1.5 * side, 2.0 * side, -0.5 * side}};
}
Stencil SecondStencil(int side) {
  if (side == 0) return {{-1, 0, 1}, {1, -2, 1}};
  return {{0, side, 2 * side, 3 * side}, {2, -5, 4, -1}};
}

}  // namespace

StandardErrors InformationAtNull(
    const BatchLogLikelihood& ln_lh, const ParameterTable& at_null,
    const std::vector<int>& free_rows,
    const std::vector<std::pair<int, int>>& bounded) {
  StandardErrors out;
  std::vector<double> h;
  std::vector<int> side;
  for (const int r : free_rows) {
    int s = 0;
    for (const auto& [row, towards] : bounded) {
      if (row == r) s = towards;
    }
    const double x = at_null.value[r];
    if (s == 0 && AtBound(at_null, r)) {
      out.at_bound.push_back(r);
      continue;
    }
    const double room = s == 0 ? std::min(x - at_null.GL[r], at_null.GR[r] - x)
                               : at_null.GR[r] - at_null.GL[r];
    out.rows.push_back(r);
    side.push_back(s);
    h.push_back(std::min(DifferenceStep(r, x), room / 4));
  }
  const int n = static_cast<int>(out.rows.size());
  if (n == 0) {
    out.problem = "no free parameter away from its bounds";
    return out;
  }
  // Every point once: keyed by its (row, offset) moves, at most two.
  std::vector<ParameterTable> points;
  std::map<std::vector<std::pair<int, int>>, std::size_t> index;
  const auto point = [&](std::vector<std::pair<int, int>> moves) {
    std::erase_if(moves, [](const auto& m) { return m.second == 0; });
    std::sort(moves.begin(), moves.end());
    const auto [it, added] = index.emplace(moves, points.size());
    if (added) {
      ParameterTable t = at_null;
      for (const auto& [a, k] : moves) t.value[out.rows[a]] += k * h[a];
      points.push_back(t);
    }
    return it->second;
  };
  // The Hessian's terms: (point, weight / scale) per entry.
  std::vector<std::vector<std::vector<std::pair<std::size_t, double>>>> terms(
      n, std::vector<std::vector<std::pair<std::size_t, double>>>(n));
  for (int a = 0; a < n; ++a) {
    const Stencil second = SecondStencil(side[a]);
    for (std::size_t k = 0; k < second.offset.size(); ++k) {
      terms[a][a].emplace_back(point({{a, second.offset[k]}}),
                               second.weight[k] / (h[a] * h[a]));
    }
    const Stencil fa = FirstStencil(side[a]);
    for (int b = 0; b < a; ++b) {
      const Stencil fb = FirstStencil(side[b]);
      for (std::size_t k = 0; k < fa.offset.size(); ++k) {
        for (std::size_t l = 0; l < fb.offset.size(); ++l) {
          terms[a][b].emplace_back(
              point({{a, fa.offset[k]}, {b, fb.offset[l]}}),
              fa.weight[k] * fb.weight[l] / (h[a] * h[b]));
        }
      }
    }
  }
  const std::vector<double> values = ln_lh(points);
  out.evaluations = static_cast<long>(points.size());
  for (const double v : values) {
    if (!(v > kFailureThreshold)) {
      out.problem = "an evaluation near the null failed";
      return out;
    }
  }
  Eigen::MatrixXd H = Eigen::MatrixXd::Zero(n, n);
  for (int a = 0; a < n; ++a) {
    for (int b = 0; b <= a; ++b) {
      double sum = 0;
      for (const auto& [i, w] : terms[a][b]) sum += w * values[i];
      H(a, b) = H(b, a) = sum;
    }
  }
  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eigen(H);
  if (!(eigen.eigenvalues().maxCoeff() < 0)) {
    out.problem = "the information at the null is not positive definite";
    return out;
  }
  const Eigen::MatrixXd cov = (-H).inverse();
  if (!VariancesPositive(cov, out.rows, "the information at the null is",
                         out.problem)) {
    return out;
  }
  out.negative_definite = true;
  SetCovariance(cov, out);
  return out;
}

}  // namespace segmix::fit
