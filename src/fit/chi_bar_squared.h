// The chi-bar-squared reference distribution of a likelihood-ratio statistic
// whose null holds some parameters on bounds of their ranges (Self & Liang
// 1987; Kodde & Palm 1986).
//
// Near the null the statistic behaves as the squared distance, in the metric
// of the information, between a normal vector Z ~ N(0, V) (V the covariance
// of the estimators, the inverse information) and the cone of admissible
// moves: the whole space for the interior parameters, a half line for each
// bounded one. The interior parameters add an independent chi2(interior_df);
// the bounded ones add chi2(k), where k is the number of positive components
// of the projection of their part of Z onto the orthant. The weights are the
// probabilities of k = 0..m.
#ifndef SEGMIX_FIT_CHI_BAR_SQUARED_H_
#define SEGMIX_FIT_CHI_BAR_SQUARED_H_

#include <Eigen/Dense>
#include <cstdint>
#include <string>
#include <vector>

namespace segmix::fit {

// The Monte Carlo used for three or more bounded parameters: 200000 draws
// give each weight a standard error of at most 0.0012 (sqrt(1/4 / 200000)).
inline constexpr int kChiBarSquaredDraws = 200000;
inline constexpr std::uint64_t kChiBarSquaredSeed = 19870601;

struct ChiBarSquared {
  int interior_df = 0;
  // weights[k]: probability that k of the m bounded parameters move off
  // their bounds, k = 0..m; they sum to 1.
  std::vector<double> weights{1.0};
  // 0 when the weights are exact (closed form), else the Monte Carlo draws.
  int monte_carlo_draws = 0;

  // P(T >= statistic) = sum_k weights[k] P(chi2(interior_df + k) >= statistic)
  // where chi2(0) is the point mass at 0: 1 for statistic <= 0.
  double Upper(double statistic) const;

  // "chi2(3)" without bounded parameters, else e.g. "chi-bar-squared: 0.3041
  // chi2(1) + 0.5 chi2(2) + 0.1959 chi2(3)", each weight to 4 decimals
  // (trailing zeros dropped) before the chi2 of its degrees of freedom, and
  // " (Monte Carlo weights from N draws)" after Monte Carlo weights. Holds no
  // comma or quote, so it fits a CSV field as it is.
  std::string Name() const;
};

// The distribution for a null that holds m parameters on bounds, with
// interior_df further parameters tested in the interior.
// covariance_of_bounded: the m x m block of the alternative's inverse
// information at the null for the bounded parameters (any units: the weights
// depend on the correlations only). direction[i]: +1 when parameter i's
// admissible side lies above its null value (a lower bound), -1 when below
// (an upper bound). Weights: m = 0, chi2(interior_df); m = 1, 1/2 : 1/2;
// m = 2, arccos(rho)/(2 pi), 1/2, 1/2 - arccos(rho)/(2 pi) with rho = d1 d2
// cov12 / sqrt(cov11 cov22); m >= 3, ChiBarSquaredMonteCarlo with
// monte_carlo_draws draws from kChiBarSquaredSeed.
// Throws std::invalid_argument when the block is not square, not symmetric
// (to a relative 1e-8), not positive definite, or does not match direction,
// when a direction is not +1 or -1, or when interior_df < 0.
ChiBarSquared ChiBarSquaredFor(const Eigen::MatrixXd& covariance_of_bounded,
                               const std::vector<int>& direction,
                               int interior_df,
                               int monte_carlo_draws = kChiBarSquaredDraws);

// The weights (size m + 1) estimated from `draws` draws of Z ~ N(0, V), V the
// turned covariance, each projected exactly onto the orthant in the metric
// V^-1 and its positive components counted: weights[k] = count(k) / draws.
// For any m >= 1, so that the closed forms can be checked against it. The
// draws come from std::mt19937_64 seeded with `seed` and Marsaglia's polar
// transform: the same stream on every platform, and the counts can change
// only for a draw lying within rounding error of a face of the cone.
// Throws std::invalid_argument as ChiBarSquaredFor does, and for draws < 1.
std::vector<double> ChiBarSquaredMonteCarlo(
    const Eigen::MatrixXd& covariance_of_bounded,
    const std::vector<int>& direction, int draws,
    std::uint64_t seed = kChiBarSquaredSeed);

}  // namespace segmix::fit

#endif  // SEGMIX_FIT_CHI_BAR_SQUARED_H_
