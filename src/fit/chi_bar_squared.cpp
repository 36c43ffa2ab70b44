// Chi-bar-squared weights: closed forms for one and two bounded parameters, a
// seeded Monte Carlo of the exact projection onto the orthant for more.
#include "fit/chi_bar_squared.h"

#include <algorithm>
#include <boost/math/distributions/chi_squared.hpp>
#include <charconv>
#include <cmath>
#include <numbers>
#include <random>
#include <stdexcept>

namespace segmix::fit {
namespace {

const char kWhat[] = "chi-bar-squared weights: ";

double ChiSquareTail(double x, int df) {
  if (df <= 0) return x > 0 ? 0.0 : 1.0;
  if (!(x > 0)) return 1.0;
  return boost::math::cdf(
      boost::math::complement(boost::math::chi_squared(df), x));
}

std::string Number(double v) {
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
  return std::string(buffer, result.ptr);
}

// The covariance turned so that every admissible side is positive and scaled
// to a correlation matrix. Neither changes the counts: flipping a coordinate
// maps the cone of one sign onto the other, and a positive diagonal scaling
// S maps the orthant onto itself while (SZ - S t)' (SVS)^-1 (SZ - S t) =
// (Z - t)' V^-1 (Z - t), so projections correspond.
Eigen::MatrixXd TurnedCorrelation(const Eigen::MatrixXd& covariance,
                                  const std::vector<int>& direction) {
  const auto m = covariance.rows();
  if (covariance.cols() != m) {
    throw std::invalid_argument(
        std::string(kWhat) + "the covariance of the bounded estimators is " +
        std::to_string(m) + " x " + std::to_string(covariance.cols()) +
        ", not square");
  }
  if (static_cast<std::size_t>(m) != direction.size()) {
    throw std::invalid_argument(
        std::string(kWhat) + "the covariance block is " + std::to_string(m) +
        " x " + std::to_string(m) + " but " + std::to_string(direction.size()) +
        " directions were given");
  }
  for (Eigen::Index i = 0; i < m; ++i) {
    if (direction[i] != 1 && direction[i] != -1) {
      throw std::invalid_argument(
          std::string(kWhat) + "direction " + std::to_string(i + 1) + " is " +
          std::to_string(direction[i]) +
          "; it must be +1 (lower bound) or -1 (upper bound)");
    }
    const double v = covariance(i, i);
    if (!std::isfinite(v) || !(v > 0)) {
      throw std::invalid_argument(
          std::string(kWhat) + "the variance of bounded estimator " +
          std::to_string(i + 1) + " is " + Number(v) +
          "; the covariance block must be symmetric positive definite (is "
          "the information singular at the null?)");
    }
  }
  Eigen::MatrixXd r(m, m);
  for (Eigen::Index i = 0; i < m; ++i) {
    for (Eigen::Index j = 0; j < m; ++j) {
      const double a = covariance(i, j), b = covariance(j, i);
      const double scale = std::sqrt(covariance(i, i) * covariance(j, j));
      if (!std::isfinite(a) || std::abs(a - b) > 1e-8 * scale) {
        throw std::invalid_argument(
            std::string(kWhat) + "the covariance block is not symmetric: (" +
            std::to_string(i + 1) + ", " + std::to_string(j + 1) +
            ") = " + Number(a) + " but (" + std::to_string(j + 1) + ", " +
            std::to_string(i + 1) + ") = " + Number(b));
      }
      r(i, j) =
          i == j ? 1.0 : direction[i] * direction[j] * 0.5 * (a + b) / scale;
    }
  }
  // A correlation matrix this close to singular has a bounded estimator that
  // is a linear function of the others: the cone degenerates.
  if (m > 0) {
    const double smallest = Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd>(
                                r, Eigen::EigenvaluesOnly)
                                .eigenvalues()
                                .minCoeff();
    if (!(smallest > 1e-12)) {
      throw std::invalid_argument(
          std::string(kWhat) +
          "the covariance block is not positive definite (smallest "
          "eigenvalue of its correlation matrix " +
          Number(smallest) +
          "); the bounded estimators are linearly dependent at the null, "
          "so no chi-bar-squared weights exist for them");
    }
  }
  return r;
}

// Standard normals: 53-bit uniforms from the top bits of std::mt19937_64
// (whose stream the standard fixes) and Marsaglia's polar transform, which
// needs only sqrt (correctly rounded) and log.
class NormalStream {
 public:
  explicit NormalStream(std::uint64_t seed) : engine_(seed) {}

  double Next() {
    if (has_spare_) {
      has_spare_ = false;
      return spare_;
    }
    double u, v, s;
    do {
      u = 2 * Uniform() - 1;
      v = 2 * Uniform() - 1;
      s = u * u + v * v;
    } while (s >= 1 || s == 0);
    const double f = std::sqrt(-2 * std::log(s) / s);
    spare_ = v * f;
    has_spare_ = true;
    return u * f;
  }

 private:
  double Uniform() { return static_cast<double>(engine_() >> 11) * 0x1p-53; }

  std::mt19937_64 engine_;
  double spare_ = 0;
  bool has_spare_ = false;
};

// min over t >= 0 of 1/2 t'Pt - g't (P positive definite) by Lawson and
// Hanson's active-set method, which ends at the exact minimizer after
// finitely many steps; returns the number of positive components. With P =
// V^-1 and g = P Z this is the projection of Z onto the orthant in the
// metric V^-1.
class OrthantProjection {
 public:
  explicit OrthantProjection(const Eigen::MatrixXd& precision)
      : p_(precision),
        m_(static_cast<int>(precision.rows())),
        passive_(m_),
        t_(m_),
        s_(m_),
        w_(m_),
        work_(static_cast<std::size_t>(m_) * m_),
        rhs_(m_) {
    // Tolerances on the scale of t (that of Z, about 1 for correlations)
    // and of the gradient (whose components have variances P_jj).
    t_tolerance_ = 1e-13;
    w_tolerance_ = 1e-12 * std::sqrt(p_.diagonal().maxCoeff());
  }

  int CountPositive(const Eigen::VectorXd& g) {
    std::fill(passive_.begin(), passive_.end(), false);
    t_.setZero();
    w_ = g;
    int steps = 0;
    for (;;) {
      int enter = -1;
      double best = w_tolerance_;
      for (int i = 0; i < m_; ++i) {
        if (!passive_[i] && w_[i] > best) best = w_[i], enter = i;
      }
      if (enter < 0) break;
      passive_[enter] = true;
      bool blocked = false;
      for (bool first = true;; first = false) {
        if (++steps > 100 + 10 * m_) {
          throw std::runtime_error(std::string(kWhat) +
                                   "the projection onto the orthant did not "
                                   "converge");
        }
        SolvePassive(g);
        if (first && s_[enter] <= t_tolerance_) {
          // Rounding let a component in whose gradient is all but 0: it
          // cannot move off its bound, so it stays out (Lawson and Hanson's
          // safeguard against cycling).
          passive_[enter] = false;
          w_[enter] = 0;
          blocked = true;
          break;
        }
        double alpha = 2;  // > 1: every passive component stayed positive
        for (int i = 0; i < m_; ++i) {
          if (passive_[i] && s_[i] <= t_tolerance_) {
            const double gap = t_[i] - s_[i];
            alpha = std::min(alpha, gap > 0 ? t_[i] / gap : 0.0);
          }
        }
        if (alpha > 1) {
          t_ = s_;
          break;
        }
        // Step towards s until the first component reaches 0; drop those.
        t_ += alpha * (s_ - t_);
        bool any = false;
        for (int i = 0; i < m_; ++i) {
          if (passive_[i] && t_[i] <= t_tolerance_) passive_[i] = false;
          if (!passive_[i]) t_[i] = 0;
          any = any || passive_[i];
        }
        if (!any) break;
      }
      if (!blocked) w_.noalias() = g - p_ * t_;
    }
    return static_cast<int>(std::count(passive_.begin(), passive_.end(), true));
  }

 private:
  // s = the minimizer with the passive components free and the others 0:
  // P_FF s_F = g_F by a Cholesky factorization of the principal block.
  void SolvePassive(const Eigen::VectorXd& g) {
    int k = 0;
    for (int i = 0; i < m_; ++i) {
      if (passive_[i]) index_[k++] = i;
    }
    double* a = work_.data();
    for (int r = 0; r < k; ++r) {
      rhs_[r] = g[index_[r]];
      for (int c = 0; c < k; ++c) a[r * k + c] = p_(index_[r], index_[c]);
    }
    for (int c = 0; c < k; ++c) {
      double d = a[c * k + c];
      for (int j = 0; j < c; ++j) d -= a[c * k + j] * a[c * k + j];
      a[c * k + c] = std::sqrt(d);
      for (int r = c + 1; r < k; ++r) {
        double e = a[r * k + c];
        for (int j = 0; j < c; ++j) e -= a[r * k + j] * a[c * k + j];
        a[r * k + c] = e / a[c * k + c];
      }
    }
    for (int r = 0; r < k; ++r) {
      for (int j = 0; j < r; ++j) rhs_[r] -= a[r * k + j] * rhs_[j];
      rhs_[r] /= a[r * k + r];
    }
    for (int r = k - 1; r >= 0; --r) {
      for (int j = r + 1; j < k; ++j) rhs_[r] -= a[j * k + r] * rhs_[j];
      rhs_[r] /= a[r * k + r];
    }
    s_.setZero();
    for (int r = 0; r < k; ++r) s_[index_[r]] = rhs_[r];
  }

  const Eigen::MatrixXd& p_;
  int m_;
  std::vector<bool> passive_;
  Eigen::VectorXd t_, s_, w_;
  std::vector<double> work_, rhs_;
  std::vector<int> index_ = std::vector<int>(m_);
  double t_tolerance_, w_tolerance_;
};

std::vector<double> MonteCarloOfCorrelation(const Eigen::MatrixXd& r, int draws,
                                            std::uint64_t seed) {
  const int m = static_cast<int>(r.rows());
  if (m == 0) return {1.0};
  // Z = L e with R = L L' and e standard normal, so g = P Z = L^-T e.
  const Eigen::MatrixXd l = Eigen::LLT<Eigen::MatrixXd>(r).matrixL();
  const Eigen::MatrixXd precision =
      r.llt().solve(Eigen::MatrixXd::Identity(m, m));
  OrthantProjection projection(precision);
  NormalStream normals(seed);
  std::vector<long long> count(m + 1, 0);
  Eigen::VectorXd e(m), g(m);
  for (int draw = 0; draw < draws; ++draw) {
    for (int i = 0; i < m; ++i) e[i] = normals.Next();
    for (int i = m - 1; i >= 0; --i) {
      double v = e[i];
      for (int j = i + 1; j < m; ++j) v -= l(j, i) * g[j];
      g[i] = v / l(i, i);
    }
    ++count[projection.CountPositive(g)];
  }
  std::vector<double> weights(m + 1);
  for (int k = 0; k <= m; ++k) {
    weights[k] = static_cast<double>(count[k]) / draws;
  }
  return weights;
}

std::string Weight(double w) {
  char buffer[32];
  auto end = std::to_chars(buffer, buffer + sizeof buffer, w,
                           std::chars_format::fixed, 4)
                 .ptr;
  std::string text(buffer, end);
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text;
}

}  // namespace

double ChiBarSquared::Upper(double statistic) const {
  if (std::isnan(statistic)) return statistic;
  if (statistic <= 0) return 1.0;
  double p = 0;
  for (std::size_t k = 0; k < weights.size(); ++k) {
    p += weights[k] *
         ChiSquareTail(statistic, interior_df + static_cast<int>(k));
  }
  return std::min(p, 1.0);
}

std::string ChiBarSquared::Name() const {
  if (weights.size() <= 1) return "chi2(" + std::to_string(interior_df) + ")";
  std::string name = "chi-bar-squared: ";
  for (std::size_t k = 0; k < weights.size(); ++k) {
    if (k > 0) name += " + ";
    name += Weight(weights[k]) + " chi2(" +
            std::to_string(interior_df + static_cast<int>(k)) + ")";
  }
  if (monte_carlo_draws > 0) {
    name += " (Monte Carlo weights from " + std::to_string(monte_carlo_draws) +
            " draws)";
  }
  return name;
}

ChiBarSquared ChiBarSquaredFor(const Eigen::MatrixXd& covariance_of_bounded,
                               const std::vector<int>& direction,
                               int interior_df, int monte_carlo_draws) {
  if (interior_df < 0) {
    throw std::invalid_argument(std::string(kWhat) + "interior df " +
                                std::to_string(interior_df) + " is negative");
  }
  const Eigen::MatrixXd r = TurnedCorrelation(covariance_of_bounded, direction);
  ChiBarSquared d;
  d.interior_df = interior_df;
  const auto m = r.rows();
  if (m == 0) {
    d.weights = {1.0};
  } else if (m == 1) {
    d.weights = {0.5, 0.5};
  } else if (m == 2) {
    // Both estimators admissible with probability P(Z1 > 0, Z2 > 0) = 1/4 +
    // arcsin(rho) / (2 pi) = 1/2 - arccos(rho) / (2 pi); neither when V^-1 Z
    // (correlation -rho) is negative in both, arccos(rho) / (2 pi).
    const double none = std::acos(r(0, 1)) / (2 * std::numbers::pi);
    d.weights = {none, 0.5, std::max(0.5 - none, 0.0)};
  } else {
    if (monte_carlo_draws < 1) {
      throw std::invalid_argument(std::string(kWhat) + "Monte Carlo draws " +
                                  std::to_string(monte_carlo_draws) +
                                  " must be at least 1");
    }
    d.weights =
        MonteCarloOfCorrelation(r, monte_carlo_draws, kChiBarSquaredSeed);
    d.monte_carlo_draws = monte_carlo_draws;
  }
  return d;
}

std::vector<double> ChiBarSquaredMonteCarlo(
    const Eigen::MatrixXd& covariance_of_bounded,
    const std::vector<int>& direction, int draws, std::uint64_t seed) {
  if (draws < 1) {
    throw std::invalid_argument(std::string(kWhat) + "Monte Carlo draws " +
                                std::to_string(draws) + " must be at least 1");
  }
  return MonteCarloOfCorrelation(
      TurnedCorrelation(covariance_of_bounded, direction), draws, seed);
}

}  // namespace segmix::fit
