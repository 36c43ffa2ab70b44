// TraitDensity: closed-form values, the missing-value and correction-pass
// rules, the sex class and the extended-precision covariate term.
#include "model/trait_density.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace segmix {
namespace {

class TraitDensityTest : public ::testing::Test {
 protected:
  // One member per store index 1..5, all observed at y = 1.5, non-probands.
  void SetUp() override {
    const int S = 5;
    store.member_count = S;
    store.trait.assign(S + 1, 1.5f);
    store.status.assign(S + 1, 2);
    store.sex.assign(S + 1, 1);
    for (auto& column : store.covariate) column.assign(S + 1, 0.0f);
    q.SIG = 1;
    SetMeans(1.5, 0.5, -0.5, 0);
  }
  void SetMeans(double mu, double a, double d, double sex) {
    const double m[4] = {0, mu, a, d};
    for (int g = 1; g <= 3; ++g) {
      q.GenotypeMean[1][g] = m[g];
      q.GenotypeMean[2][g] = m[g] + sex;
    }
  }
  Extended Density(int i, int g, int j) {
    const LikelihoodModel model{store, q,       poly, K, sex_flag,
                                pass,  nullptr, kind, T};
    return TraitDensity(model, i, g, j);
  }
  // The unnormalised density of a residual r that is exact in double.
  Extended Expected(double r) const {
    const double e =
        static_cast<double>(static_cast<Extended>(r) * r / q.SIG * -0.5L);
    return std::exp(e) / std::sqrt(static_cast<Extended>(q.SIG));
  }

  FamilyStore store;
  ModelQuantities q;
  PolygenicTables poly;
  std::int32_t K = 0, sex_flag = 0, pass = 0;
  CorrectionKind kind = CorrectionKind::kProbandValues;
  double T = 0;  // the threshold under kThreshold
};

TEST_F(TraitDensityTest, MeanOfUnitVarianceGivesExactlyOne) {
  EXPECT_EQ(Density(1, 1, 4), 1.0L);  // no 1/sqrt(2 pi)
}

TEST_F(TraitDensityTest, VarianceFourResidualTwo) {
  q.SIG = 4;
  store.trait[1] = 3.5f;  // r = 1.5 - 3.5 = -2
  EXPECT_EQ(Density(1, 1, 4), static_cast<Extended>(std::exp(-0.5)) / 2);
  store.trait[1] = -0.5f;  // r = +2
  EXPECT_EQ(Density(1, 1, 4), static_cast<Extended>(std::exp(-0.5)) / 2);
}

TEST_F(TraitDensityTest, GenotypeAndPolygenicShifts) {
  q.pga = 0.25;
  store.trait[1] = 0.0f;
  for (int g = 1; g <= 3; ++g) {
    for (int j = 1; j <= 7; ++j) {
      const double mu = q.GenotypeMean[1][g] + (j - 4) * 0.25;  // exact
      EXPECT_EQ(Density(1, g, j), Expected(mu)) << g << j;
    }
  }
}

TEST_F(TraitDensityTest, ZeroPgaMakesPolygenicGenotypeIrrelevant) {
  store.trait[1] = 0.3f;
  const Extended middle = Density(1, 2, 4);
  for (int j = 1; j <= 7; ++j) EXPECT_EQ(Density(1, 2, j), middle) << j;
}

TEST_F(TraitDensityTest, MissingValueIsOneForEveryGenotype) {
  store.trait[1] = -998.0f;
  store.trait[2] = -1.0e6f;
  q.pga = 1;
  for (int i : {1, 2}) {
    for (int g = 1; g <= 3; ++g) {
      for (int j = 1; j <= 7; ++j) EXPECT_EQ(Density(i, g, j), 1.0L);
    }
  }
  store.trait[3] = -997.99f;  // observed: far out in the tail
  EXPECT_EQ(Density(3, 1, 4), 0.0L);
}

TEST_F(TraitDensityTest, CorrectionPassDropsNonProbandsOnly) {
  store.trait.assign(6, 3.5f);
  store.status[1] = 0;
  store.status[2] = 1;
  store.status[3] = 2;
  const Extended ordinary = Expected(-2.0);
  ASSERT_NE(ordinary, 1.0L);
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(Density(i, 1, 4), ordinary) << i;
  pass = 1;
  EXPECT_EQ(Density(1, 1, 4), ordinary);
  EXPECT_EQ(Density(2, 1, 4), ordinary);
  EXPECT_EQ(Density(3, 1, 4), 1.0L);
}

// Under the threshold kind the correction pass gives an observed member of
// status other than 2 the probability 1 - Phi((T - mu) / sqrt(SIG)) of a
// trait above T, whatever its value; the first pass, non-probands and
// missing values are as under the other kind. Mean 1.5 (g 1, j 4), SIG 4.
TEST_F(TraitDensityTest, ThresholdKindGivesTheExceedanceProbability) {
  q.SIG = 4;
  kind = CorrectionKind::kThreshold;
  const long double upper1 = 0.158655253931457051414767454368L;  // 1-Phi(1)
  struct Row {
    std::int32_t status, pass;
    float y;
    double T;
    long double expected;
  };
  for (const Row& row : {
           Row{1, 1, 1.5f, 1.5, 0.5L},         // T at the mean: exactly 1/2
           Row{0, 1, -3.0f, 3.5, upper1},      // one sd above; y does not enter
           Row{1, 1, 9.0f, -0.5, 1 - upper1},  // one sd below
           Row{1, 1, 1.5f, -1e6, 1.0L},        // far below: exactly 1
           Row{1, 1, 1.5f, 81.5, 0.0L},        // 40 sd above: underflows to 0
           Row{2, 1, 1.5f, 3.5, 1.0L},         // a non-proband
           Row{1, 1, -998.0f, 3.5, 1.0L},      // a missing value
           Row{1, 0, 1.5f, 3.5, 0.5L},         // first pass: the density, 1/2
       }) {
    store.status[1] = row.status;
    store.trait[1] = row.y;
    pass = row.pass;
    T = row.T;
    const long double got = Density(1, 1, 4);
    EXPECT_NEAR(got, row.expected, 1e-15L * row.expected)
        << "status " << row.status << ", pass " << row.pass << ", T " << T;
  }
}

TEST_F(TraitDensityTest, SexClass) {
  SetMeans(1.5, 0.5, -0.5, 1.0);
  store.trait.assign(6, 2.5f);
  store.sex[2] = 2;
  store.sex[3] = 3;  // not a valid code: read as class 1
  store.sex[4] = 0;
  const Extended class1 = Expected(-1.0), class2 = Expected(0.0);
  for (int i = 1; i <= 4; ++i) EXPECT_EQ(Density(i, 1, 4), class1) << i;
  sex_flag = 1;
  EXPECT_EQ(Density(1, 1, 4), class1);
  EXPECT_EQ(Density(2, 1, 4), class2);
  EXPECT_EQ(Density(3, 1, 4), class1);
  EXPECT_EQ(Density(4, 1, 4), class1);
}

// The products B(k) X(k, i) are formed in extended precision: with these
// values the double-precision products would give a different exponent.
TEST_F(TraitDensityTest, CovariateTermInExtendedPrecision) {
  SetMeans(0, 0, 0, 0);
  store.trait[1] = 0.0f;
  q.B[1] = 0.1;
  q.B[2] = 1.0 / 3;
  store.covariate[1][1] = 0.7f;
  store.covariate[2][1] = 0.9f;
  K = 2;
  const Extended v =
      static_cast<Extended>(0.1) * 0.7f + static_cast<Extended>(1.0 / 3) * 0.9f;
  const double e = static_cast<double>(v * v / 1.0 * -0.5L);
  EXPECT_EQ(Density(1, 1, 4), static_cast<Extended>(std::exp(e)));

  const double vd =
      0.1 * static_cast<double>(0.7f) + (1.0 / 3) * static_cast<double>(0.9f);
  const double ed = static_cast<double>(static_cast<Extended>(vd) * vd * -0.5L);
  EXPECT_NE(e, ed) << "values chosen to separate the two precisions";
}

TEST_F(TraitDensityTest, CovariatesBeyondCountAreNotRead) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  q.B.fill(1.0);
  for (int k = 1; k <= 8; ++k) store.covariate[k][1] = nan;
  K = 0;
  EXPECT_EQ(Density(1, 1, 4), 1.0L);
  K = -3;
  EXPECT_EQ(Density(1, 1, 4), 1.0L);
  // Only B1..B5 exist: a count above 5 uses the first five.
  for (int k = 1; k <= 5; ++k) store.covariate[k][1] = 0.0f;
  K = 8;
  EXPECT_EQ(Density(1, 1, 4), 1.0L);
}

}  // namespace
}  // namespace segmix
