// Variance components against closed forms worked by hand, against the
// variance of the model's own 21 joint genotypes (the major-locus
// frequencies and means the parameter gate derives, the polygenic binomial
// frequencies), and their SEs against a delta computed with central
// differences from a given covariance.
#include "fit/variance_components.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "model/model_quantities.h"
#include "model/parameter_checks.h"
#include "model/polygenic.h"

namespace segmix::fit {
namespace {

enum Component { kMajor, kPolygenic, kResidual, kTotal, kH2Major, kH2Poly };

struct Point {
  double q, mu, a, d, pga, sig;
};

// Rows 1..15 independent; Q .. SIG estimated and in the model, the rest
// fixed and out (Mendelian transmission, no sex effect).
ParameterTable Table(const Point& p) {
  ParameterTable t;
  for (int r = 1; r <= kParameterCount; ++r) {
    t.tie[r] = r;
    t.in_model[r] = r <= kSIG ? 1 : 0;
    t.estimate[r] = r <= kSIG ? 1 : 0;
    t.GL[r] = -100;
    t.GR[r] = 100;
  }
  t.GL[kQ] = 0;
  t.GR[kQ] = 1;
  t.GL[kSIG] = 0;
  const double v[] = {p.q, p.mu, p.a, p.d, p.pga, p.sig};
  for (int r = kQ; r <= kSIG; ++r) t.value[r] = v[r - kQ];
  return t;
}

// A tied row keeps a stale value: only its master's may count.
void Tie(ParameterTable& t, int row, int master) {
  t.tie[row] = master;
  t.estimate[row] = 0;
  t.value[row] = 99;
}

struct Case {
  std::string name;
  Point point;
  std::vector<std::pair<int, int>> ties;
  double major;  // worked by hand
};

// Dominant (A = MU): genotypes 1 and 2 against 3 of frequency r = (1-Q)^2,
// r(1-r)(MU-D)^2. Recessive (A = D): Q^2(1-Q^2)(MU-D)^2. Additive
// (A midway): 2Q(1-Q)((MU-D)/2)^2.
const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"half", {0.5, 2, 1, 0, 0, 1}, {}, 0.5},
      {"additive", {0.2, 3, 2, 1, 0.8, 1.3}, {}, 0.32},
      {"additive off centre", {0.3, 1.5, 0.25, -1, 0.4, 2}, {}, 0.65625},
      {"dominant", {0.2, 2, 0, 0.5, 0.8, 1}, {{kA, kMU}}, 0.64 * 0.36 * 2.25},
      {"recessive", {0.2, 2, 0, 0.5, 0.8, 1}, {{kA, kD}}, 0.04 * 0.96 * 2.25},
      {"one mean", {0.3, 1, 0, 0, 0.8, 1}, {{kA, kMU}, {kD, kMU}}, 0},
  };
  return cases;
}

ParameterTable TableOf(const Case& c) {
  ParameterTable t = Table(c.point);
  for (auto [row, master] : c.ties) Tie(t, row, master);
  return t;
}

TEST(VarianceComponents, ClosedForms) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    const auto v = VarianceComponents(TableOf(c), {}, {});
    ASSERT_EQ(v.size(), 6u);
    for (int k = 0; k < 6; ++k) {
      EXPECT_EQ(v[k].name, std::string(kVarianceComponentNames[k]));
      EXPECT_TRUE(std::isnan(v[k].se));
    }
    const double poly = 1.5 * c.point.pga * c.point.pga;
    const double total = c.major + poly + c.point.sig;
    EXPECT_NEAR(v[kMajor].estimate, c.major, 1e-14);
    EXPECT_NEAR(v[kPolygenic].estimate, poly, 1e-14);
    EXPECT_EQ(v[kResidual].estimate, c.point.sig);
    EXPECT_NEAR(v[kTotal].estimate, total, 1e-14);
    EXPECT_NEAR(v[kH2Major].estimate, c.major / total, 1e-14);
    EXPECT_NEAR(v[kH2Poly].estimate, poly / total, 1e-14);
  }
  EXPECT_EQ(VarianceComponents(TableOf(Cases()[0]), {}, {})[kMajor].estimate,
            0.5);
}

// The trait variance of an unrelated person under the model, by enumerating
// the 21 joint genotypes with the frequencies and means the likelihood
// itself uses, plus the residual SIG.
TEST(VarianceComponents, EqualTheVarianceOfTheModelsJointGenotypes) {
  const PolygenicTables tables = BuildPolygenicTables();
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    ParameterTable t = TableOf(c);
    ModelQuantities mq;
    ASSERT_FALSE(CheckParameters(t, 0, mq).has_value());
    double mean = 0, square = 0, major_mean = 0, major_square = 0;
    double poly_mean = 0, poly_square = 0;
    for (int g = 1; g <= 3; ++g) {
      const double mg = mq.GenotypeMean[1][g];
      major_mean += mq.GenotypeFrequency[g] * mg;
      major_square += mq.GenotypeFrequency[g] * mg * mg;
      for (int j = 1; j <= 7; ++j) {
        const double shift = (j - 4) * mq.pga;
        const double f = mq.GenotypeFrequency[g] * tables.PolygenicFrequency[j];
        mean += f * (mg + shift);
        square += f * (mg + shift) * (mg + shift);
        if (g == 1) {
          poly_mean += tables.PolygenicFrequency[j] * shift;
          poly_square += tables.PolygenicFrequency[j] * shift * shift;
        }
      }
    }
    const auto v = VarianceComponents(TableOf(c), {}, {});
    EXPECT_NEAR(v[kMajor].estimate, major_square - major_mean * major_mean,
                1e-13);
    EXPECT_NEAR(v[kPolygenic].estimate, poly_square - poly_mean * poly_mean,
                1e-13);
    EXPECT_NEAR(v[kTotal].estimate, square - mean * mean + mq.SIG, 1e-13);
  }
}

// C = L L' with a lower triangle of assorted entries: positive definite.
std::vector<std::vector<double>> Covariance(int n) {
  std::vector<std::vector<double>> l(n, std::vector<double>(n, 0));
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j <= i; ++j) {
      l[i][j] =
          i == j ? 0.05 + 0.02 * i : 0.01 * (1 + (3 * i + 7 * j) % 5) - 0.03;
    }
  }
  std::vector<std::vector<double>> c(n, std::vector<double>(n, 0));
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      for (int k = 0; k < n; ++k) c[i][j] += l[i][k] * l[j][k];
    }
  }
  return c;
}

// sqrt(g' C g) with g by central differences in each row of `rows`,
// moving the rows tied to it along.
std::vector<double> BruteForceSe(const ParameterTable& t,
                                 const std::vector<int>& rows,
                                 const std::vector<std::vector<double>>& c) {
  const std::size_t n = rows.size();
  std::vector<std::vector<double>> g(6, std::vector<double>(n));
  for (std::size_t a = 0; a < n; ++a) {
    const double h = 1e-5 * std::max(1.0, std::abs(t.value[rows[a]]));
    std::vector<double> at[2];
    for (int side = 0; side < 2; ++side) {
      ParameterTable moved = t;
      for (int r = 1; r <= kParameterCount; ++r) {
        if (r == rows[a] || moved.tie[r] == rows[a]) {
          moved.value[r] = t.value[rows[a]] + (side == 0 ? h : -h);
        }
      }
      for (const auto& comp : VarianceComponents(moved, {}, {})) {
        at[side].push_back(comp.estimate);
      }
    }
    for (int k = 0; k < 6; ++k) g[k][a] = (at[0][k] - at[1][k]) / (2 * h);
  }
  std::vector<double> se(6);
  for (int k = 0; k < 6; ++k) {
    double s = 0;
    for (std::size_t a = 0; a < n; ++a) {
      for (std::size_t b = 0; b < n; ++b) s += g[k][a] * c[a][b] * g[k][b];
    }
    se[k] = std::sqrt(s);
  }
  return se;
}

TEST(VarianceComponents, SesAreTheDeltaOfCentralDifferences) {
  struct SeCase {
    std::string name;
    Point point;
    std::vector<std::pair<int, int>> ties;
    std::vector<int> rows;
  };
  const std::vector<SeCase> cases = {
      {"all free, an unrelated row",
       {0.3, 1.5, 0.6, -1, 0.4, 2},
       {},
       {kQ, kMU, kA, kD, kPga, kSIG, kB1}},
      {"dominant",
       {0.2, 2, 0, 0.5, 0.8, 1},
       {{kA, kMU}},
       {kQ, kMU, kD, kPga, kSIG}},
      {"recessive",
       {0.7, 2, 0, 0.5, 0.8, 1},
       {{kA, kD}},
       {kQ, kMU, kD, kPga, kSIG}},
      {"Q and pga at a bound",
       {0.4, 1, 0.2, 0.1, 0.3, 0.5},
       {},
       {kMU, kA, kD, kSIG}},
  };
  for (const SeCase& c : cases) {
    SCOPED_TRACE(c.name);
    ParameterTable t = Table(c.point);
    for (auto [row, master] : c.ties) Tie(t, row, master);
    const auto cov = Covariance(static_cast<int>(c.rows.size()));
    const auto v = VarianceComponents(t, c.rows, cov);
    for (int r = 1; r <= kParameterCount; ++r) {
      if (t.tie[r] != r) t.value[r] = t.value[t.tie[r]];
    }
    const std::vector<double> brute = BruteForceSe(t, c.rows, cov);
    for (int k = 0; k < 6; ++k) {
      SCOPED_TRACE(v[k].name);
      if (brute[k] == 0) {  // depends on no row of the covariance
        EXPECT_TRUE(std::isnan(v[k].se));
      } else {
        EXPECT_NEAR(v[k].se, brute[k], 1e-7 * brute[k]);
      }
    }
  }
}

TEST(VarianceComponents, RowsTheComponentsDoNotDependOnGiveNoSe) {
  // A tied row is no free parameter; one mean makes the major-locus
  // variance 0 at every point; a left-out pga is no part of the model.
  ParameterTable dominant = Table({0.2, 2, 0, 0.5, 0.8, 1});
  Tie(dominant, kA, kMU);
  for (const auto& comp : VarianceComponents(dominant, {kA}, {{1.0}})) {
    EXPECT_TRUE(std::isnan(comp.se)) << comp.name;
  }
  ParameterTable one = TableOf(Cases().back());
  const auto v = VarianceComponents(one, {kQ, kMU, kSIG}, Covariance(3));
  EXPECT_TRUE(std::isnan(v[kMajor].se));
  EXPECT_TRUE(std::isnan(v[kH2Major].se));
  EXPECT_GT(v[kTotal].se, 0);
  // A left-out pga counts 0 whatever value the row holds.
  ParameterTable out = Table({0.3, 2, 1, 0, 0.7, 1});
  out.in_model[kPga] = 0;
  const auto w = VarianceComponents(out, {kPga, kSIG}, Covariance(2));
  EXPECT_EQ(w[kPolygenic].estimate, 0);
  EXPECT_EQ(w[kH2Poly].estimate, 0);
  EXPECT_TRUE(std::isnan(w[kPolygenic].se));
  EXPECT_TRUE(std::isnan(w[kH2Poly].se));
}

TEST(VarianceComponents, NoCovarianceGivesEstimatesWithoutSes) {
  const ParameterTable t = TableOf(Cases()[1]);
  StandardErrors failed;
  failed.rows = {kQ, kMU};
  failed.covariance = Covariance(2);
  failed.problem = "the Hessian is not negative definite";
  const auto with = VarianceComponents(t, {kQ, kMU}, Covariance(2));
  const auto without = VarianceComponents(t, failed);
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(without[k].estimate, with[k].estimate);
    EXPECT_TRUE(std::isnan(without[k].se));
  }
  failed.problem.clear();
  EXPECT_EQ(VarianceComponents(t, failed)[kMajor].se, with[kMajor].se);
  EXPECT_THROW(VarianceComponents(t, {kQ, kMU}, Covariance(3)),
               std::invalid_argument);
  EXPECT_THROW(VarianceComponents(t, {0}, {{1.0}}), std::invalid_argument);
}

}  // namespace
}  // namespace segmix::fit
