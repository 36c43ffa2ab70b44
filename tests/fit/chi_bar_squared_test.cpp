// The chi-bar-squared weights and tails against closed forms: the chi-square
// tails of 1 to 3 df, the orthant probabilities of two and three normals,
// the binomial weights of independent estimators.
#include "fit/chi_bar_squared.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

namespace segmix::fit {
namespace {

constexpr double kPi = std::numbers::pi;
// 4 standard errors of a weight are at most 0.022: enough to tell a turned
// correlation from an unturned one, and a fraction of a second in all under
// a sanitizer build.
constexpr int kDraws = 8000;

// P(chi2(df) >= x) for df 0..3 in closed form, independent of Boost.
double Tail(double x, int df) {
  if (df == 0) return x > 0 ? 0.0 : 1.0;
  if (df == 2) return std::exp(-x / 2);
  const double odd = std::erfc(std::sqrt(x / 2));
  return df == 1 ? odd : odd + std::sqrt(2 * x / kPi) * std::exp(-x / 2);
}

Eigen::MatrixXd Matrix(int m, std::vector<double> entries) {
  Eigen::MatrixXd a(m, m);
  for (int i = 0; i < m; ++i) {
    for (int j = 0; j < m; ++j) a(i, j) = entries[i * m + j];
  }
  return a;
}

// Every weight within 4 Monte Carlo standard errors of its expectation.
void ExpectWithinMonteCarlo(const std::vector<double>& estimate,
                            const std::vector<double>& expected, int draws) {
  ASSERT_EQ(estimate.size(), expected.size());
  for (std::size_t k = 0; k < expected.size(); ++k) {
    const double se = std::sqrt(expected[k] * (1 - expected[k]) / draws);
    EXPECT_NEAR(estimate[k], expected[k], 4 * se + 1e-12) << "k = " << k;
  }
}

TEST(ChiBarSquared, NoBoundedParameterIsThePlainChiSquare) {
  const ChiBarSquared d = ChiBarSquaredFor(Eigen::MatrixXd(0, 0), {}, 3);
  EXPECT_EQ(d.weights, std::vector<double>{1.0});
  EXPECT_EQ(d.Name(), "chi2(3)");
  EXPECT_NEAR(d.Upper(7.815), 0.05, 1e-4);
}

TEST(ChiBarSquared, OneBoundedParameterIsTheFiftyFiftyMixture) {
  for (int direction : {1, -1}) {
    for (int q : {0, 1, 2}) {
      const ChiBarSquared d =
          ChiBarSquaredFor(Matrix(1, {0.04}), {direction}, q);
      EXPECT_EQ(d.weights, (std::vector<double>{0.5, 0.5}));
      EXPECT_EQ(d.monte_carlo_draws, 0);
      for (double t : {0.01, 0.5, 2.706, 5.0, 12.0}) {
        EXPECT_NEAR(d.Upper(t), 0.5 * Tail(t, q) + 0.5 * Tail(t, q + 1), 1e-13)
            << "q = " << q << ", t = " << t;
      }
    }
  }
  // The classical boundary test: the 10% point of chi2(1) is the 5% point.
  const ChiBarSquared d = ChiBarSquaredFor(Matrix(1, {1}), {1}, 0);
  EXPECT_NEAR(d.Upper(2.706), 0.05, 1e-4);
  EXPECT_EQ(d.Name(), "chi-bar-squared: 0.5 chi2(0) + 0.5 chi2(1)");
}

TEST(ChiBarSquared, TwoBoundedParametersMatchTheMonteCarlo) {
  // Variances 4 and 0.25 check that only the correlation matters.
  for (double rho : {-0.9, -0.3, 0.0, 0.5, 0.95}) {
    for (std::vector<int> direction :
         {std::vector<int>{1, 1}, {1, -1}, {-1, 1}, {-1, -1}}) {
      const Eigen::MatrixXd v = Matrix(2, {4, rho, rho, 0.25});
      const double turned = direction[0] * direction[1] * rho;
      const double none = std::acos(turned) / (2 * kPi);
      const ChiBarSquared d = ChiBarSquaredFor(v, direction, 1);
      SCOPED_TRACE("rho " + std::to_string(rho) + ", directions " +
                   std::to_string(direction[0]) + " " +
                   std::to_string(direction[1]));
      ASSERT_EQ(d.weights.size(), 3u);
      EXPECT_NEAR(d.weights[0], none, 1e-15);
      EXPECT_EQ(d.weights[1], 0.5);
      EXPECT_NEAR(d.weights[2], 0.5 - none, 1e-15);
      // Turning both is no turn, and turning either is the same turn.
      if (direction[0] == 1) {
        ExpectWithinMonteCarlo(ChiBarSquaredMonteCarlo(v, direction, kDraws),
                               d.weights, kDraws);
      }
    }
  }
}

TEST(ChiBarSquared, TwoIndependentBoundedParametersAreBinomial) {
  const ChiBarSquared d = ChiBarSquaredFor(Matrix(2, {2, 0, 0, 3}), {1, -1}, 1);
  EXPECT_NEAR(d.weights[0], 0.25, 1e-15);
  EXPECT_NEAR(d.weights[2], 0.25, 1e-15);
  EXPECT_EQ(d.Name(),
            "chi-bar-squared: 0.25 chi2(1) + 0.5 chi2(2) + 0.25 chi2(3)");
  // rho = -1/3: arccos(rho) / (2 pi) = 0.30409.
  EXPECT_EQ(
      ChiBarSquaredFor(Matrix(2, {1, -1.0 / 3, -1.0 / 3, 1}), {1, 1}, 1).Name(),
      "chi-bar-squared: 0.3041 chi2(1) + 0.5 chi2(2) + 0.1959 chi2(3)");
}

TEST(ChiBarSquared, ThreeBoundedParametersMatchTheOrthantProbabilities) {
  // Independent: binomial(3, 1/2).
  const ChiBarSquared diagonal = ChiBarSquaredFor(
      Matrix(3, {1, 0, 0, 0, 5, 0, 0, 0, 0.2}), {1, -1, 1}, 2, kDraws);
  ExpectWithinMonteCarlo(diagonal.weights, {0.125, 0.375, 0.375, 0.125},
                         kDraws);
  EXPECT_EQ(diagonal.monte_carlo_draws, kDraws);
  EXPECT_NE(diagonal.Name().find("(Monte Carlo weights from 8000 draws)"),
            std::string::npos);

  // Correlated: all three positive with P(Z >= 0) = 1/8 + sum asin(r_ij) /
  // (4 pi) for the turned correlations R; none with the same for V^-1 Z,
  // whose correlations are those of R^-1; odd and even weights sum to 1/2.
  const Eigen::MatrixXd v =
      Matrix(3, {1, 0.5, -0.3, 0.5, 2, 0.2, -0.3, 0.2, 1.5});
  const std::vector<int> direction{1, -1, 1};
  Eigen::MatrixXd r(3, 3);
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      r(i, j) =
          direction[i] * direction[j] * v(i, j) / std::sqrt(v(i, i) * v(j, j));
    }
  }
  const Eigen::MatrixXd p = r.inverse();
  double all = 0.125, none = 0.125;
  for (auto [i, j] : {std::pair{0, 1}, {0, 2}, {1, 2}}) {
    all += std::asin(r(i, j)) / (4 * kPi);
    none += std::asin(p(i, j) / std::sqrt(p(i, i) * p(j, j))) / (4 * kPi);
  }
  ExpectWithinMonteCarlo(ChiBarSquaredMonteCarlo(v, direction, kDraws),
                         {none, 0.5 - all, 0.5 - none, all}, kDraws);
}

TEST(ChiBarSquared, WeightsSumToOneAndTheTailFallsFromOne) {
  const std::vector<ChiBarSquared> cases = {
      ChiBarSquaredFor(Matrix(1, {1}), {-1}, 0),
      ChiBarSquaredFor(Matrix(2, {1, 0.7, 0.7, 1}), {1, -1}, 2),
      ChiBarSquaredFor(Matrix(3, {1, 0.2, 0.1, 0.2, 1, -0.4, 0.1, -0.4, 1}),
                       {1, 1, -1}, 1, kDraws),
      ChiBarSquaredFor(Matrix(4, {1, 0.3, 0, 0, 0.3, 1, 0.3, 0, 0, 0.3, 1, 0.3,
                                  0, 0, 0.3, 1}),
                       {1, 1, 1, 1}, 0, 1000)};
  for (const ChiBarSquared& d : cases) {
    SCOPED_TRACE(d.Name());
    double sum = 0;
    for (double w : d.weights) sum += w;
    EXPECT_NEAR(sum, 1.0, 1e-15);
    EXPECT_EQ(d.Upper(0), 1.0);
    EXPECT_EQ(d.Upper(-0.5), 1.0);
    double previous = 1.0;
    for (double t = 0.25; t <= 30; t += 0.25) {
      const double p = d.Upper(t);
      EXPECT_LT(p, previous) << "t = " << t;
      EXPECT_GT(p, 0.0) << "t = " << t;
      previous = p;
    }
  }
}

TEST(ChiBarSquared, MonteCarloIsPinnedToItsSeed) {
  // Guards the generator and transform: the weights printed in tests.csv
  // must not change with a library or platform.
  const std::vector<double> w = ChiBarSquaredMonteCarlo(
      Matrix(3, {1, 0.4, 0, 0.4, 1, 0.4, 0, 0.4, 1}), {1, 1, 1}, 1000);
  EXPECT_EQ(w, (std::vector<double>{75 / 1000.0, 275 / 1000.0, 459 / 1000.0,
                                    191 / 1000.0}));
  EXPECT_NE(
      w, ChiBarSquaredMonteCarlo(Matrix(3, {1, 0.4, 0, 0.4, 1, 0.4, 0, 0.4, 1}),
                                 {1, 1, 1}, 1000, kChiBarSquaredSeed + 1));
}

TEST(ChiBarSquared, RefusesBlocksWithoutWeights) {
  struct Case {
    Eigen::MatrixXd v;
    std::vector<int> direction;
    std::string message;
  };
  Eigen::MatrixXd not_square(2, 3);
  not_square.setIdentity();
  const std::vector<Case> cases = {
      {not_square, {1, 1}, "2 x 3, not square"},
      {Matrix(2, {1, 0, 0, 1}), {1}, "2 x 2 but 1 directions"},
      {Matrix(2, {1, 0, 0, 1}), {1, 0}, "direction 2 is 0"},
      {Matrix(2, {1, 0.3, 0.2, 1}), {1, 1}, "not symmetric: (1, 2) = 0.3"},
      {Matrix(2, {1, 0, 0, -1}), {1, 1}, "variance of bounded estimator 2"},
      {Matrix(2, {NAN, 0, 0, 1}), {1, 1}, "variance of bounded estimator 1"},
      {Matrix(2, {1, 2, 2, 4}), {1, -1}, "not positive definite"},
      // Each pair valid, the three together not: eigenvalue 1 - 2 * 0.6.
      {Matrix(3, {1, -0.6, -0.6, -0.6, 1, -0.6, -0.6, -0.6, 1}),
       {1, 1, 1},
       "not positive definite"}};
  for (const Case& c : cases) {
    try {
      ChiBarSquaredFor(c.v, c.direction, 1, 10);
      ADD_FAILURE() << "accepted: " << c.message;
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << e.what();
    }
  }
  EXPECT_THROW(ChiBarSquaredFor(Matrix(1, {1}), {1}, -1),
               std::invalid_argument);
  EXPECT_THROW(ChiBarSquaredMonteCarlo(Matrix(1, {1}), {1}, 0),
               std::invalid_argument);
}

}  // namespace
}  // namespace segmix::fit
