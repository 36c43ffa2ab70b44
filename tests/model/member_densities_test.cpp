// MemberDensities against TraitDensity, bit for bit, on random members and
// parameter points: covariates, both sex classes, both passes, missing
// values, non-probands, residuals whose density underflows; both correction
// kinds, the threshold kind's probabilities included.
#include "model/member_densities.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace segmix {
namespace {

TEST(MemberDensitiesTest, SameBitsAsTraitDensityOneByOne) {
  struct Row {
    int covariates, sex_in_model, pass;
    double SIG, spread;  // residual variance; spread of the trait values
    CorrectionKind kind = CorrectionKind::kProbandValues;
    double T = 0;  // threshold under kThreshold
  };
  constexpr CorrectionKind kThreshold = CorrectionKind::kThreshold;
  const Row rows[] = {{0, 0, 0, 1.0, 3},
                      {2, 1, 0, 0.7, 3},
                      {5, 1, 1, 2.5, 3},
                      {3, 0, 1, 1e-4, 50},
                      {1, 1, 0, 1e6, 1e4},
                      {0, 1, 1, 0.3, 1e3},
                      {2, 1, 0, 0.7, 3, kThreshold, 0.5},  // first pass
                      {5, 1, 1, 2.5, 3, kThreshold, 0.5},
                      {3, 0, 1, 1e-4, 50, kThreshold, -0.2},
                      {1, 1, 1, 1e6, 1e4, kThreshold, 3e3},
                      {0, 1, 1, 0.05, 3, kThreshold, 9}};  // underflowing tail
  std::mt19937_64 rng(42);
  std::uniform_real_distribution<double> u(-1, 1);
  const int S = 40;
  for (const Row& row : rows) {
    FamilyStore store;
    store.member_count = S;
    store.trait.assign(S + 1, 0);
    store.status.assign(S + 1, 2);
    store.sex.assign(S + 1, 1);
    for (auto& column : store.covariate) column.assign(S + 1, 0);
    for (int i = 1; i <= S; ++i) {
      store.trait[i] =
          i % 7 == 0 ? -999.0f : static_cast<float>(row.spread * u(rng));
      store.status[i] = static_cast<int>(rng() % 3);
      store.sex[i] = 1 + static_cast<int>(rng() % 2);
      for (int k = 1; k <= 5; ++k) {
        store.covariate[k][i] = static_cast<float>(2 * u(rng));
      }
    }
    ModelQuantities q;
    for (int s = 1; s <= 2; ++s) {
      for (int g = 1; g <= 3; ++g) q.GenotypeMean[s][g] = 2 * u(rng);
    }
    for (int k = 1; k <= 5; ++k) q.B[k] = u(rng);
    q.pga = 0.5 * u(rng);
    q.SIG = row.SIG;
    PolygenicTables poly;
    const LikelihoodModel model{
        store,    q,       poly,     row.covariates, row.sex_in_model,
        row.pass, nullptr, row.kind, row.T};
    for (int i = 1; i <= S; ++i) {
      Extended all[kJointGenotypes];
      MemberDensities(model, i, all);
      for (int g = 1; g <= 3; ++g) {
        for (int j = 1; j <= 7; ++j) {
          const Extended one = TraitDensity(model, i, g, j);
          const Extended x = all[(g - 1) * 7 + (j - 1)];
          EXPECT_EQ(std::memcmp(&one, &x, 10), 0)
              << "row " << (&row - rows) << ", member " << i << ", g " << g
              << ", j " << j;
        }
      }
    }
  }
}

}  // namespace
}  // namespace segmix
