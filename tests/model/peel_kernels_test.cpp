// The fast peeling kernels against the straightforward loops of
// reference_peeling.h, bit for bit: every weight after every nuclear family,
// every family's log-likelihood, on random weights and random pedigrees with
// 0 to 20 children per nuclear family, both connector kinds, symmetric and
// asymmetric tables, weights that underflow or overflow, non-finite values;
// and a screening evaluation's double-arithmetic peel against the exact one.
#include "model/peel_kernels.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "model/evaluation.h"
#include "model/parameter_table.h"
#include "model/polygenic.h"
#include "model/sample_likelihood.h"
#include "model/screening_peel.h"
#include "model_test_support.h"
#include "reference_peeling.h"

namespace segmix {
namespace {

using test::BuildStore;
using test::FamilyPlan;
using test::kMissing;
using test::Model;
using test::NuclearSpec;
using test::PedigreeMaker;

// Same bits, or both NaN (whose payload the x87 unit picks from its operands).
bool SameWeights(const GenotypeWeights& a, const GenotypeWeights& b,
                 std::string& where) {
  for (std::int32_t k = 1; k <= a.Capacity(); ++k) {
    for (std::int32_t s = 0; s < kJointGenotypes; ++s) {
      const double x = a.Member(k)[s], y = b.Member(k)[s];
      if (std::isnan(x) && std::isnan(y)) continue;
      if (std::memcmp(&x, &y, sizeof x) != 0) {
        where = "position " + std::to_string(k) + " state " +
                std::to_string(s) + ": " + std::to_string(x) + " vs " +
                std::to_string(y);
        return false;
      }
    }
  }
  return true;
}

enum class Table {
  kMendelian,
  kGeneral,
  kAsymmetricMajor,
  kAsymmetricPoly,
  kInfinite
};
// kRepeated: children drawn from three weight vectors, one of them all 1s.
// kPriorOnes: parents of prior weights (a density of 1), children of all 1s
// (every one, or three in four, the others drawn or as a branch without
// probands leaves them): the factors and sums formed once per evaluation.
enum class Weights { kOrdinary, kSparse, kTiny, kHuge, kRepeated, kPriorOnes };

void SetTable(Table table, Model& m) {
  if (table != Table::kMendelian) m.SetTransmission(0.9, 0.45, 0.1);
  if (table == Table::kAsymmetricMajor) {
    double& x = m.q.MajorTransmission[1 + 3 * 0 + 9 * 1];  // M(2 | 1, 2)
    x = std::nextafter(x, 1.0);
  }
  if (table == Table::kAsymmetricPoly) {
    double& x = m.poly.PolygenicTransmission[3 + 7 * 2 + 49 * 4];
    x = std::nextafter(x, 1.0);
  }
  if (table == Table::kInfinite) {
    m.q.MajorTransmission[2 + 3 * 2 + 9 * 2] =
        std::numeric_limits<double>::infinity();
  }
}

double DrawWeight(Weights kind, PedigreeMaker& r) {
  switch (kind) {
    case Weights::kOrdinary:
    case Weights::kRepeated:
    case Weights::kPriorOnes:
      return r.Real(0, 1) * std::pow(10.0, r.Uniform(-3, 0));
    case Weights::kSparse:
      return r.Uniform(0, 1) ? 0.0 : r.Real(0, 1);
    case Weights::kTiny:  // products underflow double, subnormals among them
      return r.Real(0, 1) * std::pow(10.0, -r.Uniform(150, 320));
    case Weights::kHuge:  // many children overflow the extended range
      return r.Real(0, 1) * std::pow(10.0, r.Uniform(250, 307));
  }
  return 0;
}

TEST(PeelKernelsTest, OneNuclearFamilyMatchesTheReferenceLoops) {
  struct Row {
    Table table;
    Weights weights;
    int max_children;
  };
  const Row rows[] = {
      {Table::kMendelian, Weights::kOrdinary, 12},
      {Table::kGeneral, Weights::kOrdinary, 12},
      {Table::kAsymmetricMajor, Weights::kOrdinary, 9},
      {Table::kAsymmetricPoly, Weights::kSparse, 9},
      {Table::kMendelian, Weights::kSparse, 12},
      {Table::kGeneral, Weights::kTiny, 9},
      {Table::kMendelian, Weights::kTiny, 9},
      {Table::kMendelian, Weights::kHuge, 20},
      {Table::kInfinite, Weights::kOrdinary, 6},
      {Table::kMendelian, Weights::kRepeated, 14},
      {Table::kGeneral, Weights::kRepeated, 8},
      {Table::kAsymmetricMajor, Weights::kRepeated, 8},
      {Table::kInfinite, Weights::kRepeated, 8},
      {Table::kMendelian, Weights::kPriorOnes, 18},
      {Table::kGeneral, Weights::kPriorOnes, 18},
      {Table::kAsymmetricPoly, Weights::kPriorOnes, 6},
  };
  PedigreeMaker r(1207);
  for (const Row& row : rows) {
    Model m;
    m.Set(0.3, 1.0, 0.2, -0.5, 0.15, 0.8);
    SetTable(row.table, m);
    const FamilyStore store = BuildStore({});
    const LikelihoodModel model{store, m.q, m.poly, 0, 0, 0};
    Transmission fast;
    // Every table, the one of children peeled onto under prior parents too.
    DescribeTransmission(model, fast, Transmission::kMostOnesChildren,
                         Transmission::kMostOnesChildren);
    EXPECT_EQ(fast.onto_child_count, Transmission::kMostOnesChildren);
    test::reference::Transmission slow;
    test::reference::DescribeTransmission(model, slow);
    EXPECT_EQ(fast.symmetric, row.table != Table::kAsymmetricMajor &&
                                  row.table != Table::kAsymmetricPoly);
    EXPECT_EQ(fast.finite, row.table != Table::kInfinite);
    EXPECT_EQ(fast.mendelian, row.table == Table::kMendelian);
    for (int children = 0; children <= row.max_children; ++children) {
      for (const bool onto_child : {false, true}) {
        if (onto_child && children == 0) continue;
        GenotypeWeights a(2 + children);
        for (std::int32_t k = 1; k <= 2 + children; ++k) {
          for (int s = 0; s < kJointGenotypes; ++s) {
            a.Member(k)[s] = DrawWeight(row.weights, r);
          }
          const int copy = r.Uniform(0, 3);  // 3: keep its own
          if (row.weights == Weights::kRepeated && k > 2 && copy < 3) {
            for (int s = 0; s < kJointGenotypes; ++s) {
              a.Member(k)[s] = copy == 0 ? 1.0 : a.Member(copy)[s];
            }
          }
        }
        if (row.weights == Weights::kPriorOnes) {
          const bool every = r.Uniform(0, 1) == 0;
          for (std::int32_t k = 1; k <= 2 + children; ++k) {
            const int kind = k <= 2 ? 0 : every ? 1 : r.Uniform(0, 7);
            const double* peeled = fast.peeled[r.Uniform(1, 16)];
            for (int s = 0; s < kJointGenotypes; ++s) {
              if (kind == 0) a.Member(k)[s] = fast.prior[s];
              if (kind >= 1 && kind <= 5) a.Member(k)[s] = 1.0;
              if (kind == 6) a.Member(k)[s] = peeled[s];
            }
          }
        }
        const GenotypeWeights start = a;
        GenotypeWeights b = a;
        std::vector<std::int32_t> entries;
        for (std::int32_t k = 1; k <= 2 + children; ++k) entries.push_back(k);
        const std::span<const std::int32_t> e(entries);
        if (onto_child) {
          PeelOntoChild(fast, a, 1, 2, 3, e.subspan(3));
          test::reference::PeelOntoChild(slow, b, 1, 2, 3, e.subspan(3));
        } else {
          const std::int32_t L = r.Uniform(1, 2);
          PeelOntoParent(fast, a, L, 3 - L, e.subspan(2));
          test::reference::PeelOntoParent(slow, b, L, 3 - L, e.subspan(2));
        }
        // The children's products in extended precision, where a difference
        // in the last bit would reach a stored double only now and then.
        if (children > 0 && row.table != Table::kInfinite) {
          Extended P[kJointGenotypes][kJointGenotypes];
          ChildSumProducts(fast, start, e.subspan(2), P);
          int differ = 0;
          for (int sA = 0; sA < kJointGenotypes; ++sA) {
            for (int sB = 0; sB < kJointGenotypes; ++sB) {
              Extended p = 1;
              for (const std::int32_t x : e.subspan(2)) {
                p *= test::reference::ChildSum(slow, start.Member(x),
                                               sA / 7 + 1, sA % 7 + 1,
                                               sB / 7 + 1, sB % 7 + 1);
              }
              differ += std::memcmp(&p, &P[sA][sB], 10) != 0;
            }
          }
          EXPECT_EQ(differ, 0) << "table " << static_cast<int>(row.table)
                               << ", " << children << " children";
        }
        std::string where;
        EXPECT_TRUE(SameWeights(a, b, where))
            << "table " << static_cast<int>(row.table) << ", weights "
            << static_cast<int>(row.weights) << ", " << children
            << " children, onto " << (onto_child ? "child" : "parent") << ", "
            << where;
      }
    }
  }
}

// A random family: a chain of nuclear families, each sharing its connector
// with the next (as a parent, or as a child when it is a child nowhere
// else), 0 to 12 children each, the last terminal; plus members listed in
// no nuclear family.
FamilyPlan ChainFamily(PedigreeMaker& r) {
  FamilyPlan f;
  std::int32_t members = 0;
  std::int32_t link = 0;  // the previous connector
  std::vector<bool> is_child(1, false);
  auto add = [&] {
    is_child.push_back(false);
    return ++members;
  };
  const int count = r.Uniform(1, 4);
  for (int i = 0; i < count; ++i) {
    const bool last = i == count - 1;
    const bool onto_child = !last && r.Uniform(0, 2) == 0;
    const int children = r.Uniform(onto_child ? 1 : 0, 12);
    std::vector<std::int32_t> parents, kids;
    for (int c = 0; c < children; ++c) kids.push_back(add());
    const bool link_as_child =
        link != 0 && !is_child[link] && r.Uniform(0, 2) == 0;
    if (link != 0 && link_as_child) {
      kids.insert(kids.begin() + r.Uniform(onto_child ? 1 : 0,
                                           static_cast<int>(kids.size())),
                  link);
      parents = {add(), add()};
    } else {
      parents = {link != 0 ? link : add(), add()};
      if (r.Uniform(0, 1)) std::swap(parents[0], parents[1]);
    }
    for (const std::int32_t x : kids) is_child[x] = true;
    NuclearSpec w;
    w.entries = parents;
    w.entries.insert(w.entries.end(), kids.begin(), kids.end());
    w.connector = last ? 0 : onto_child ? kids[0] : parents[r.Uniform(0, 1)];
    link = w.connector;
    f.nuclear.push_back(w);
  }
  for (int u = r.Uniform(0, 2); u > 0; --u) add();
  f.trait.resize(members);
  f.status.resize(members);
  f.sex.resize(members);
  for (int k = 0; k < members; ++k) {
    f.trait[k] =
        r.Uniform(0, 4) == 0 ? kMissing : static_cast<float>(r.Real(-2.0, 3.0));
    f.status[k] = r.Uniform(0, 2);
    f.sex[k] = r.Uniform(1, 2);
  }
  return f;
}

TEST(PeelKernelsTest, RandomFamiliesMatchTheReferenceAfterEveryNuclearFamily) {
  struct Row {
    bool general;
    int covariates;
    int sex_in_model;
    int pass;
    double SIG;
    bool infinite_weight;
  };
  const Row rows[] = {
      {false, 0, 0, 0, 0.8, false},  {true, 0, 0, 0, 0.8, false},
      {false, 2, 1, 0, 1.3, false},  {true, 3, 1, 1, 0.5, false},
      {false, 1, 0, 1, 1e-3, false},  // most densities underflow
      {true, 0, 1, 0, 0.8, true},
  };
  PedigreeMaker r(20261207);
  int families = 0;
  for (const Row& row : rows) {
    for (int rep = 0; rep < 8; ++rep) {
      Model m;
      m.Set(r.Real(0.05, 0.95), r.Real(0.5, 1.5), r.Real(-0.3, 0.5),
            r.Real(-1.0, -0.4), r.Real(0, 0.3), row.SIG, r.Real(-0.5, 0.5));
      if (row.general) {
        m.SetTransmission(r.Real(0.6, 1), r.Real(0.2, 0.8), r.Real(0, 0.4));
      }
      for (int k = 1; k <= 5; ++k) m.q.B[k] = r.Real(-1, 1);
      FamilyStore store = BuildStore({ChainFamily(r)});
      ValidateFamilyStructure(store);
      for (int k = 1; k <= row.covariates; ++k) {
        for (float& x : store.covariate[k])
          x = static_cast<float>(r.Real(-2, 2));
      }
      const LikelihoodModel model{
          store, m.q, m.poly, row.covariates, row.sex_in_model, row.pass};
      GenotypeWeights start(store.LargestFamilySize());
      PrepareGenotypeWeights(model, 1, start);
      if (row.infinite_weight) {
        const auto listed = store.NuclearMembers(store.LastNuclear(1));
        start.Member(listed[r.Uniform(0, 1)])[r.Uniform(0, 20)] =
            std::numeric_limits<double>::infinity();
      }

      // Nuclear family by nuclear family, both kernels on the same weights.
      Transmission fast;
      DescribeTransmission(model, fast);
      test::reference::Transmission slow;
      test::reference::DescribeTransmission(model, slow);
      GenotypeWeights a = start;
      for (std::int32_t w = store.FirstNuclear(1); w <= store.LastNuclear(1);
           ++w) {
        const std::span<const std::int32_t> e = store.NuclearMembers(w);
        bool finite = true;
        for (const std::int32_t k : e) {
          finite &= test::reference::AllFinite(a.Member(k));
        }
        if (!finite) break;  // PeelFamily fails before the kernels
        GenotypeWeights b = a;
        const std::int32_t L =
            store.connector[w] == 0 ? e[0] : store.connector[w];
        if (L == e[0] || L == e[1]) {
          const std::int32_t O = L == e[0] ? e[1] : e[0];
          PeelOntoParent(fast, a, L, O, e.subspan(2));
          test::reference::PeelOntoParent(slow, b, L, O, e.subspan(2));
        } else {
          PeelOntoChild(fast, a, e[0], e[1], L, e.subspan(3));
          test::reference::PeelOntoChild(slow, b, e[0], e[1], L, e.subspan(3));
        }
        std::string where;
        ASSERT_TRUE(SameWeights(a, b, where))
            << "row " << (&row - rows) << ", rep " << rep << ", nuclear " << w
            << ", " << where;
        // Rescale as PeelFamily does, to go on with weights of its size.
        double* c = a.Member(L);
        Extended S = 0;
        for (int s = 0; s < kJointGenotypes; ++s) S += c[s];
        if (!(S > 0) || !std::isfinite(static_cast<double>(S))) break;
        for (int s = 0; s < kJointGenotypes; ++s) {
          c[s] = static_cast<double>(c[s] * (1 / S));
        }
      }

      // The whole family: the same verdict, log-likelihood and weights.
      GenotypeWeights x = start, y = start;
      double lx = 0, ly = 0;
      const bool ox = PeelFamily(model, 1, x, lx);
      const bool oy = test::reference::PeelFamily(model, 1, y, ly);
      ASSERT_EQ(ox, oy) << "row " << (&row - rows) << ", rep " << rep;
      if (row.infinite_weight) {
        EXPECT_FALSE(ox);
      }
      if (ox) {
        EXPECT_EQ(std::memcmp(&lx, &ly, sizeof lx), 0) << lx << " vs " << ly;
        std::string where;
        EXPECT_TRUE(SameWeights(x, y, where)) << where;
        ++families;
      }
    }
  }
  EXPECT_GE(families, 30);
}

// Three generations: founders 1 and 2 with one to five children, some of
// whom marry in a spouse and have up to six children (a nuclear family
// peeled onto them), the founders' family last and terminal. One proband,
// everyone else status 2, one trait value in six missing: in the correction
// pass most children have weights of 1 and most branches carry none of the
// proband's information.
FamilyPlan ThreeGenerations(PedigreeMaker& r) {
  FamilyPlan f;
  std::int32_t members = 2;
  NuclearSpec top{{1, 2}, 0};
  const int children = r.Uniform(1, 5);
  for (int c = 0; c < children; ++c) {
    const std::int32_t child = ++members;
    top.entries.push_back(child);
    if (r.Uniform(0, 1) == 0) continue;
    NuclearSpec below{{child, ++members}, child};
    for (int k = r.Uniform(0, 6); k > 0; --k)
      below.entries.push_back(++members);
    f.nuclear.push_back(below);
  }
  f.nuclear.push_back(top);
  f.trait.resize(members);
  for (float& y : f.trait) {
    y = r.Uniform(0, 5) == 0 ? kMissing : static_cast<float>(r.Real(-1, 4));
  }
  f.status.assign(members, 2);
  f.status[r.Uniform(0, members - 1)] = 1;
  return f;
}

// Grandparents 1, 2 with two to five children, peeled onto the first (3),
// who has children with a spouse; the family below terminal. One proband
// among the grandchildren or the other children: in the correction pass
// the upper nuclear family is often prior parents, a connector of all-1
// weights and siblings of all-1 weights.
FamilyPlan OntoChild(PedigreeMaker& r) {
  FamilyPlan f;
  NuclearSpec top{{1, 2}, 3};
  const int children = r.Uniform(2, 5);
  for (int c = 0; c < children; ++c) top.entries.push_back(3 + c);
  std::int32_t members = 2 + children;
  NuclearSpec below{{3, ++members}, 0};
  for (int k = r.Uniform(1, 4); k > 0; --k) below.entries.push_back(++members);
  f.nuclear = {top, below};
  f.trait.resize(members);
  for (float& y : f.trait) {
    y = r.Uniform(0, 5) == 0 ? kMissing : static_cast<float>(r.Real(-1, 4));
  }
  f.status.assign(members, 2);
  const std::int32_t proband =
      r.Uniform(0, 1) == 0 ? members - 1 : r.Uniform(3, 2 + children) - 1;
  f.status[proband] = 1;
  f.trait[proband] = static_cast<float>(r.Real(-1, 4));
  return f;
}

// The whole sample as SampleLikelihood evaluates it (the transmission
// described once, the evaluation's tables) against the reference peeling of
// each pass: every family's weighted term and the sum, bit for bit.
struct FamilyTerms : EvaluationObserver {
  std::vector<double> weighted;
  void FamilyTerm(std::int32_t, std::int32_t, double term) override {
    weighted.push_back(term);
  }
};

// Forty families: three generations, every fourth peeled onto a child.
std::vector<FamilyPlan> MixedPlans(PedigreeMaker& r) {
  std::vector<FamilyPlan> plans;
  for (int g = 0; g < 40; ++g) {
    plans.push_back(g % 4 == 3 ? OntoChild(r) : ThreeGenerations(r));
  }
  return plans;
}

// Q, MU, A, D, pga, SIG, Sex (out), Tr1..Tr3 (in with `general`).
ParameterTable SampleParameters(bool general, double tr1, double tr2,
                                double tr3) {
  ParameterTable p;
  p.value = {0, 0.3, 2.5, 1.5, 0.5, 0.3, 1.1, 0, tr1, tr2, tr3};
  p.GL.fill(-1e3);
  p.GR.fill(1e3);
  for (int j = 1; j <= kParameterCount; ++j) p.tie[j] = j;
  for (int j = kQ; j <= kTr3; ++j) {
    p.in_model[j] = j != kSex && (general || j < kTr1);
  }
  return p;
}

TEST(PeelKernelsTest, SampleTermsMatchTheReferencePeeling) {
  PedigreeMaker r(71207);
  for (const bool general : {false, true}) {
    const std::vector<FamilyPlan> plans = MixedPlans(r);
    const FamilyStore store = BuildStore(plans);
    ValidateFamilyStructure(store);
    const PolygenicTables poly = BuildPolygenicTables();
    ParameterTable p = SampleParameters(general, 0.9, 0.4, 0.15);
    const std::vector<std::int32_t> flags(N_FAM + 1, 1);
    SampleLikelihood sample(
        p, store, poly,
        SampleSettings{.proband_switch = 1, .selection_flags = flags});
    FamilyTerms terms;
    const EvaluationOutcome outcome = sample.Evaluate(Gate::kAccepted, &terms);
    ASSERT_TRUE(outcome.Ok())
        << static_cast<int>(outcome.status) << " family " << outcome.family
        << " kind " << static_cast<int>(outcome.rejection.kind);
    ASSERT_EQ(terms.weighted.size(), plans.size());

    GenotypeWeights weights(store.LargestFamilySize());
    double sum = 0;
    for (std::int32_t g = 1; g <= store.StoredFamilyCount(); ++g) {
      double V[2] = {0, 0};
      for (const std::int32_t pass : {0, 1}) {
        const LikelihoodModel model{store, sample.Quantities(), poly, 0, 0,
                                    pass};
        PrepareGenotypeWeights(model, g, weights);
        ASSERT_TRUE(test::reference::PeelFamily(model, g, weights, V[pass]));
      }
      const double term =
          static_cast<double>(static_cast<Extended>(V[0]) - V[1]);
      const double weighted = static_cast<double>(static_cast<Extended>(term) *
                                                  store.family_weight[g]);
      EXPECT_EQ(std::bit_cast<std::uint64_t>(weighted),
                std::bit_cast<std::uint64_t>(terms.weighted[g - 1]))
          << (general ? "general" : "Mendelian") << ", family " << g;
      sum = static_cast<double>(static_cast<Extended>(sum) + term);
    }
    EXPECT_EQ(std::bit_cast<std::uint64_t>(sum),
              std::bit_cast<std::uint64_t>(outcome.ln_lh));
  }
}

// A screening evaluation peels in double arithmetic: under both kinds of
// transmission every family term is the exact one to within double rounding
// (carried through the peel and the logarithms).
TEST(PeelKernelsTest, ScreeningTermsAreTheExactOnesToRounding) {
  PedigreeMaker r(52711);
  const std::vector<FamilyPlan> plans = MixedPlans(r);
  const FamilyStore store = BuildStore(plans);
  ValidateFamilyStructure(store);
  const PolygenicTables poly = BuildPolygenicTables();
  const std::vector<std::int32_t> flags(N_FAM + 1, 1);
  for (const bool general : {false, true}) {
    ParameterTable p = SampleParameters(general, 0.8, 0.35, 0.05);
    FamilyTerms exact_terms, screening_terms;
    double ln_lh[2];
    int differing = 0;
    for (const bool screening : {false, true}) {
      SampleLikelihood sample(p, store, poly,
                              SampleSettings{.proband_switch = 1,
                                             .selection_flags = flags,
                                             .screening = screening});
      const EvaluationOutcome outcome = sample.Evaluate(
          Gate::kAccepted, screening ? &screening_terms : &exact_terms);
      ASSERT_TRUE(outcome.Ok());
      ln_lh[screening] = outcome.ln_lh;
    }
    ASSERT_EQ(exact_terms.weighted.size(), plans.size());
    for (std::size_t g = 0; g < plans.size(); ++g) {
      const double x = exact_terms.weighted[g], y = screening_terms.weighted[g];
      EXPECT_NEAR(y, x, 1e-13 * std::max(1.0, std::abs(x))) << g + 1;
      differing +=
          std::bit_cast<std::uint64_t>(y) != std::bit_cast<std::uint64_t>(x);
    }
    EXPECT_GT(differing, 0) << "the double peel never ran";
    EXPECT_NEAR(ln_lh[1], ln_lh[0], 1e-12 * std::abs(ln_lh[0]));
  }
}

// Where double arithmetic cannot be trusted the exact peel decides: six
// children whose values lie far out give sums whose product leaves the
// double range while the family's value (rescaled in extended precision)
// does not. The screening term is then the exact one, bit for bit.
TEST(PeelKernelsTest, ScreeningFallsBackToTheExactPeelBeyondDoubleRange) {
  const PolygenicTables poly = BuildPolygenicTables();
  const std::vector<std::int32_t> flags(2, 1);
  int refused = 0;
  for (float far = 16; far <= 21; far += 0.25f) {
    FamilyPlan plan;
    plan.nuclear = {NuclearSpec{{1, 2, 3, 4, 5, 6, 7, 8}, 0}};
    plan.trait = {0.5f, 1.5f, far, far, far, far, far, far};
    const FamilyStore store = BuildStore({plan});
    ValidateFamilyStructure(store);
    ParameterTable p = SampleParameters(false, 1, 0.5, 0);
    double terms[2];
    bool ok[2];
    for (const bool screening : {false, true}) {
      SampleLikelihood sample(
          p, store, poly,
          SampleSettings{.selection_flags = flags, .screening = screening});
      const EvaluationOutcome outcome = sample.Evaluate(Gate::kAccepted);
      ok[screening] = outcome.Ok();
      terms[screening] = outcome.ln_lh;
      if (!screening) continue;
      Transmission t;
      const LikelihoodModel model{store, sample.Quantities(), poly, 0, 0, 0};
      DescribeTransmission(model, t);
      DescribeScreening(t);
      GenotypeWeights weights(store.LargestFamilySize());
      PrepareGenotypeWeights(model, 1, weights);
      double LL = 0;
      if (ok[0] && !ScreeningPeelFamily(model, t, 1, weights, LL)) {
        ++refused;
        EXPECT_EQ(std::bit_cast<std::uint64_t>(terms[1]),
                  std::bit_cast<std::uint64_t>(terms[0]))
            << far;
      }
    }
    EXPECT_EQ(ok[1], ok[0]) << far;
    if (ok[0]) {
      EXPECT_NEAR(terms[1], terms[0], 1e-13 * std::abs(terms[0])) << far;
    }
  }
  EXPECT_GT(refused, 0);
}

}  // namespace
}  // namespace segmix
