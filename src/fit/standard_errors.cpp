// Central-difference Hessian and its inversion with Eigen.
#include "fit/standard_errors.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <sstream>

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
  out.negative_definite = true;
  const Eigen::MatrixXd cov = (-H1.matrix).inverse();
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
  // The same with 2h, for the disagreement only.
  const Eigen::MatrixXd cov2 = (-H2.matrix).inverse();
  for (int a = 0; a < n; ++a) {
    const double se2 = cov2(a, a) > 0 ? std::sqrt(cov2(a, a)) : 0;
    out.step_disagreement =
        std::max(out.step_disagreement, std::abs(out.se[a] - se2) / out.se[a]);
  }
  return out;
}

}  // namespace segmix::fit
