// PrepareGenotypeWeights and PeelFamily against a brute-force sum over joint
// genotype assignments on random small pedigrees, and the invariances the
// peeling must keep: parent order, peeling direction, missing traits, the
// general transmission table at its Mendelian point, rescaled connectors.
#include "model/family_likelihood.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "model_test_support.h"

namespace segmix {
namespace {

using test::BruteForceLikelihood;
using test::BuildStore;
using test::FamilyPlan;
using test::kMissing;
using test::Model;
using test::NuclearSpec;
using test::PedigreeMaker;
using test::Shape;

// Relative agreement to 1e-12 (absolute near 0).
void ExpectClose(double value, long double reference, const char* what) {
  const long double scale = std::max<long double>(1, std::fabs(reference));
  EXPECT_LE(std::fabs(value - reference), 1e-12L * scale)
      << what << ": " << value << " vs " << static_cast<double>(reference);
}

struct Peeled {
  bool ok = false;
  double LL = 0;
  GenotypeWeights weights;
};

Peeled Peel(const FamilyStore& store, const Model& m, std::int32_t f,
            std::int32_t pass = 0) {
  const LikelihoodModel model{store, m.q, m.poly, 0, 0, pass};
  Peeled r;
  r.weights.Resize(store.LargestFamilySize());
  PrepareGenotypeWeights(model, f, r.weights);
  r.ok = PeelFamily(model, f, r.weights, r.LL);
  return r;
}

long double BruteLog(const FamilyStore& store, const Model& m, std::int32_t f,
                     std::int32_t pass = 0) {
  const LikelihoodModel model{store, m.q, m.poly, 0, 0, pass};
  return std::log(BruteForceLikelihood(model, f, /*include_unlisted=*/false));
}

double SumOf(const GenotypeWeights& w, std::int32_t k) {
  long double s = 0;
  for (int i = 0; i < kJointGenotypes; ++i) s += w.Member(k)[i];
  return static_cast<double>(s);
}

// A trio (positions 1, 2 parents; 3 child), all observed.
FamilyPlan Trio(float y1, float y2, float y3) {
  FamilyPlan f;
  f.nuclear = {NuclearSpec{{1, 2, 3}, 0}};
  f.trait = {y1, y2, y3};
  return f;
}

class FamilyLikelihoodTest : public ::testing::Test {
 protected:
  void SetUp() override { m.Set(0.3, 1.0, 0.2, -0.5, 0.15, 0.8); }
  Model m;
};

TEST_F(FamilyLikelihoodTest, RandomPedigreesMatchBruteForce) {
  PedigreeMaker maker(20261207);
  int compared = 0;
  for (int round = 0; round < 4; ++round) {
    for (const Shape shape : test::kShapes) {
      for (const bool general : {false, true}) {
        Model model;
        model.Set(maker.Real(0.05, 0.95), maker.Real(0.5, 1.5),
                  maker.Real(-0.3, 0.5), maker.Real(-1.0, -0.4),
                  maker.Real(0, 0.3), maker.Real(0.3, 2.0));
        if (general) {
          model.SetTransmission(maker.Real(0.6, 1), maker.Real(0.2, 0.8),
                                maker.Real(0, 0.4));
        }
        const int unlisted = maker.Uniform(0, 2);
        const FamilyPlan plan = maker.Make(shape, unlisted, 0.3, 2.0);
        const FamilyStore store = BuildStore({plan});
        ValidateFamilyStructure(store);
        for (const std::int32_t pass : {0, 1}) {
          const Peeled r = Peel(store, model, 1, pass);
          ASSERT_TRUE(r.ok);
          ExpectClose(r.LL, BruteLog(store, model, 1, pass), "LL");
          ++compared;
        }
      }
    }
  }
  EXPECT_EQ(compared, 4 * 7 * 2 * 2);
}

TEST_F(FamilyLikelihoodTest, SeveralFamiliesInOneStoreUseTheirOwnMembers) {
  PedigreeMaker maker(7);
  std::vector<FamilyPlan> plans;
  for (const Shape shape : test::kShapes) {
    plans.push_back(maker.Make(
        shape, maker.Large(shape) ? 0 : maker.Uniform(0, 1), 0.5, 1.5));
  }
  const FamilyStore store = BuildStore(plans);
  ValidateFamilyStructure(store);
  for (std::int32_t f = 1; f <= store.listed_family_count; ++f) {
    const Peeled r = Peel(store, m, f);
    ASSERT_TRUE(r.ok);
    ExpectClose(r.LL, BruteLog(store, m, f), "family");
  }
}

TEST_F(FamilyLikelihoodTest, TrioIsTheFullSumOverItsJointGenotypes) {
  const FamilyStore store = BuildStore({Trio(1.2f, -0.4f, 0.7f)});
  const LikelihoodModel model{store, m.q, m.poly, 0, 0, 0};
  long double sum = 0;  // the 21^3 terms written out
  const auto& M = m.q.MajorTransmission;
  const auto& T = m.poly.PolygenicTransmission;
  for (int g1 = 1; g1 <= 3; ++g1)
    for (int j1 = 1; j1 <= 7; ++j1)
      for (int g2 = 1; g2 <= 3; ++g2)
        for (int j2 = 1; j2 <= 7; ++j2)
          for (int gc = 1; gc <= 3; ++gc)
            for (int jc = 1; jc <= 7; ++jc) {
              sum += static_cast<long double>(m.q.GenotypeFrequency[g1]) *
                     m.poly.PolygenicFrequency[j1] *
                     TraitDensity(model, 1, g1, j1) *
                     m.q.GenotypeFrequency[g2] * m.poly.PolygenicFrequency[j2] *
                     TraitDensity(model, 2, g2, j2) *
                     M[(gc - 1) + 3 * (g1 - 1) + 9 * (g2 - 1)] *
                     T[(jc - 1) + 7 * (j1 - 1) + 49 * (j2 - 1)] *
                     TraitDensity(model, 3, gc, jc);
            }
  ExpectClose(Peel(store, m, 1).LL, std::log(sum), "trio");
}

TEST_F(FamilyLikelihoodTest, ChildlessCoupleIsTwoIndependentSpouses) {
  FamilyPlan f;
  f.nuclear = {NuclearSpec{{2, 1}, 0}};
  f.trait = {0.9f, -1.1f};
  const FamilyStore store = BuildStore({f});
  Peeled r;
  r.weights.Resize(2);
  const LikelihoodModel model{store, m.q, m.poly, 0, 0, 0};
  PrepareGenotypeWeights(model, 1, r.weights);
  const double s1 = SumOf(r.weights, 1), s2 = SumOf(r.weights, 2);
  ASSERT_TRUE(PeelFamily(model, 1, r.weights, r.LL));
  ExpectClose(r.LL, std::log(static_cast<long double>(s1)) + std::log(s2),
              "couple");
}

TEST_F(FamilyLikelihoodTest, AllTraitsMissingGivesZero) {
  PedigreeMaker maker(11);
  for (const Shape shape : test::kShapes) {
    FamilyPlan plan = maker.Make(shape, 1, 0, 1);
    for (float& y : plan.trait) y = kMissing;
    const FamilyStore store = BuildStore({plan});
    for (const bool general : {false, true}) {
      Model model = m;
      if (general) model.SetTransmission(0.9, 0.45, 0.1);
      const Peeled r = Peel(store, model, 1);
      ASSERT_TRUE(r.ok);
      EXPECT_NEAR(r.LL, 0.0, 1e-14) << static_cast<int>(shape);
    }
  }
}

TEST_F(FamilyLikelihoodTest, MendelianTrioWithMissingParentsIsTheChildAlone) {
  const FamilyStore store = BuildStore({Trio(kMissing, kMissing, 0.37f)});
  const LikelihoodModel model{store, m.q, m.poly, 0, 0, 0};
  long double alone = 0;
  for (int g = 1; g <= 3; ++g)
    for (int j = 1; j <= 7; ++j)
      alone += static_cast<long double>(m.q.GenotypeFrequency[g]) *
               m.poly.PolygenicFrequency[j] * TraitDensity(model, 3, g, j);
  ExpectClose(Peel(store, m, 1).LL, std::log(alone), "child alone");
}

TEST_F(FamilyLikelihoodTest, SwappingParentsKeepsTheLikelihood) {
  FamilyPlan a;
  a.nuclear = {NuclearSpec{{1, 2, 3}, 3}, NuclearSpec{{3, 4, 5, 6}, 0}};
  a.trait = {0.4f, 1.9f, -0.2f, 0.8f, 1.1f, kMissing};
  FamilyPlan b = a;
  std::swap(b.nuclear[0].entries[0], b.nuclear[0].entries[1]);
  std::swap(b.nuclear[1].entries[0], b.nuclear[1].entries[1]);
  const FamilyStore sa = BuildStore({a}), sb = BuildStore({b});
  for (const bool general : {false, true}) {
    Model model = m;
    if (general) model.SetTransmission(0.85, 0.4, 0.05);
    const double la = Peel(sa, model, 1).LL, lb = Peel(sb, model, 1).LL;
    EXPECT_NEAR(la, lb, 1e-13 * std::fabs(la));
  }
}

TEST_F(FamilyLikelihoodTest, PeelingTowardsAChildOrAParentAgrees) {
  // Grandparents 1, 2; their children 3 and 4; 3 married to 5 with child 6.
  FamilyPlan down;  // peeled onto child 3 first, closed at 3's family
  down.nuclear = {NuclearSpec{{1, 2, 3, 4}, 3}, NuclearSpec{{3, 5, 6}, 0}};
  down.trait = {1.3f, 0.1f, 0.9f, -0.6f, 0.2f, 1.7f};
  FamilyPlan up = down;  // peeled onto parent 3 first, closed at 1
  up.nuclear = {NuclearSpec{{3, 5, 6}, 3}, NuclearSpec{{1, 2, 3, 4}, 0}};
  const FamilyStore sd = BuildStore({down}), su = BuildStore({up});
  ValidateFamilyStructure(sd);
  ValidateFamilyStructure(su);
  const double ld = Peel(sd, m, 1).LL, lu = Peel(su, m, 1).LL;
  EXPECT_NEAR(ld, lu, 1e-13 * std::fabs(ld));
  ExpectClose(ld, BruteLog(sd, m, 1), "down");
}

TEST_F(FamilyLikelihoodTest, GeneralTableAtOneHalfZeroIsMendelian) {
  Model general = m;
  general.SetTransmission(1, 0.5, 0);
  EXPECT_EQ(general.q.MajorTransmission, kMendelianTransmission);
  PedigreeMaker maker(3);
  for (const Shape shape : test::kShapes) {
    const FamilyStore store = BuildStore({maker.Make(shape, 1, 0.3, 2)});
    EXPECT_EQ(Peel(store, m, 1).LL, Peel(store, general, 1).LL);
  }
}

TEST_F(FamilyLikelihoodTest, NonTerminalConnectorIsRescaledToOne) {
  FamilyPlan f;
  f.nuclear = {NuclearSpec{{1, 2, 3}, 2}, NuclearSpec{{4, 5, 2}, 4}};
  f.trait = {3.1f, 2.2f, -1.5f, 0.5f, 4.0f};
  const FamilyStore store = BuildStore({f});
  const Peeled r = Peel(store, m, 1);
  ASSERT_TRUE(r.ok);
  EXPECT_NEAR(SumOf(r.weights, 2), 1.0, 1e-15);  // rescaled, then summed out
  EXPECT_NEAR(SumOf(r.weights, 4), 1.0, 1e-15);  // last, not terminal
  ExpectClose(r.LL, BruteLog(store, m, 1), "open last");
}

TEST_F(FamilyLikelihoodTest, ChildThatIsAlsoAParentGetsNoPrior) {
  FamilyPlan f;
  f.nuclear = {NuclearSpec{{3, 4, 5}, 3}, NuclearSpec{{1, 2, 3}, 0}};
  f.trait = {0.5f, 0.5f, 0.25f, 0.5f, 0.5f};
  const FamilyStore store = BuildStore({f});
  const LikelihoodModel model{store, m.q, m.poly, 0, 0, 0};
  GenotypeWeights w(5);
  PrepareGenotypeWeights(model, 1, w);
  for (int g = 1; g <= 3; ++g) {
    for (int j = 1; j <= 7; ++j) {
      EXPECT_EQ(w(3, g, j), static_cast<double>(TraitDensity(model, 3, g, j)));
      EXPECT_EQ(w(4, g, j), static_cast<double>(TraitDensity(model, 4, g, j) *
                                                m.q.GenotypeFrequency[g] *
                                                m.poly.PolygenicFrequency[j]));
    }
  }
  for (int k = 1; k <= 5; ++k) EXPECT_NE(w.Marks()[k], 0) << k;
}

TEST_F(FamilyLikelihoodTest, MembersOutsideEveryListKeepPriorTimesDensity) {
  FamilyPlan f;
  f.nuclear = {NuclearSpec{{2, 4, 5}, 0}};
  f.trait = {0.8f, 0.1f, kMissing, 1.4f, -0.9f, -998.0f};
  f.status = {2, 2, 2, 2, 2, 2};
  const FamilyStore store = BuildStore({f});
  for (const std::int32_t pass : {0, 1}) {
    const LikelihoodModel model{store, m.q, m.poly, 0, 0, pass};
    GenotypeWeights w(6);
    PrepareGenotypeWeights(model, 1, w);
    const std::vector<double> before(w.Member(1), w.Member(1) + 6 * 21);
    double LL = 0;
    ASSERT_TRUE(PeelFamily(model, 1, w, LL));
    for (const int k : {1, 3, 6}) {
      EXPECT_EQ(w.Marks()[k], 0) << k;
      for (int g = 1; g <= 3; ++g) {
        for (int j = 1; j <= 7; ++j) {
          const long double prior =
              static_cast<long double>(m.q.GenotypeFrequency[g]) *
              m.poly.PolygenicFrequency[j];
          // Position 1 is observed (its density counts, except for a
          // non-proband in the correction pass); 3 and 6 are missing.
          const long double expected = (k == 1 && pass == 0)
                                           ? TraitDensity(model, 1, g, j) *
                                                 m.q.GenotypeFrequency[g] *
                                                 m.poly.PolygenicFrequency[j]
                                           : prior;
          EXPECT_EQ(w(k, g, j), static_cast<double>(expected)) << k << g << j;
          EXPECT_EQ(w(k, g, j), before[(k - 1) * 21 + (g - 1) * 7 + j - 1]);
        }
      }
    }
  }
}

TEST_F(FamilyLikelihoodTest, UnderflowedConnectorFails) {
  // The child's value is so far out that every density underflows to 0: the
  // connector's scale sum is 0.
  const FamilyStore store = BuildStore({Trio(0.5f, 0.4f, 1.0e6f)});
  EXPECT_FALSE(Peel(store, m, 1).ok);
  // Only in the correction pass does the non-proband drop out.
  FamilyPlan f = Trio(0.5f, 0.4f, 1.0e6f);
  f.status = {1, 2, 2};
  const FamilyStore corrected = BuildStore({f});
  EXPECT_FALSE(Peel(corrected, m, 1, 0).ok);
  const Peeled r = Peel(corrected, m, 1, 1);
  ASSERT_TRUE(r.ok);
  ExpectClose(r.LL, BruteLog(corrected, m, 1, 1), "correction");
}

TEST_F(FamilyLikelihoodTest, NonFiniteWeightFails) {
  // A covariate of +inf with a zero coefficient makes the density NaN.
  FamilyStore store = BuildStore({Trio(0.5f, 0.4f, 0.3f)});
  store.covariate[1][2] = std::numeric_limits<float>::infinity();
  const LikelihoodModel model{store, m.q, m.poly, 1, 0, 0};
  GenotypeWeights w(3);
  PrepareGenotypeWeights(model, 1, w);
  ASSERT_TRUE(std::isnan(w(2, 1, 1)));
  double LL = 0;
  EXPECT_FALSE(PeelFamily(model, 1, w, LL));
}

TEST_F(FamilyLikelihoodTest, ResizeClearsAndPrepareGrowsSmallScratch) {
  GenotypeWeights w(-4);
  EXPECT_EQ(w.Capacity(), 0);
  const FamilyStore store = BuildStore({Trio(0.5f, 0.4f, 0.3f)});
  const LikelihoodModel model{store, m.q, m.poly, 0, 0, 0};
  PrepareGenotypeWeights(model, 1, w);
  EXPECT_EQ(w.Capacity(), 3);
  w.Resize(2);
  EXPECT_EQ(w(2, 3, 7), 0.0);
  EXPECT_EQ(w.Marks()[2], 0);
}

}  // namespace
}  // namespace segmix
