// MajorGenotypePosteriors against the direct method: fix one member's major
// genotype (zero its other weights), peel the whole family, three peels per
// member, and normalise the three likelihoods. Hand-built pedigree shapes
// under the Mendelian and general transmission tables, and random shapes.
#include "model/genotype_posteriors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "model/family_likelihood.h"
#include "model_test_support.h"

namespace segmix {
namespace {

using test::BuildStore;
using test::FamilyPlan;
using test::kMissing;
using test::Model;
using Rows = std::vector<std::array<double, 3>>;

// The direct method; a member listed nowhere enters by its own weights.
Rows FixedGenotypePeels(const LikelihoodModel& model, std::int32_t f) {
  const std::int32_t n = model.store.FamilySize(f);
  GenotypeWeights w(n);
  PrepareGenotypeWeights(model, f, w);
  const std::vector<unsigned char> listed = w.Marks();
  Rows rows(static_cast<std::size_t>(n) + 1, {0, 0, 0});
  for (std::int32_t k = 1; k <= n; ++k) {
    std::array<long double, 3> log_lh{};
    for (int g = 1; g <= 3; ++g) {
      PrepareGenotypeWeights(model, f, w);
      long double own = 0;
      for (int j = 1; j <= kPolygenicGenotypes; ++j) {
        own += w(k, g, j);
        for (int other = 1; other <= 3; ++other) {
          if (other != g && listed[k] != 0) w(k, other, j) = 0;
        }
      }
      double LL = 0;
      const bool ok = listed[k] == 0 ? own > 0 : PeelFamily(model, f, w, LL);
      log_lh[g - 1] = !ok ? -std::numeric_limits<long double>::infinity()
                      : listed[k] == 0 ? std::log(own)
                                       : LL;
    }
    const long double top = std::max({log_lh[0], log_lh[1], log_lh[2]});
    if (!std::isfinite(top)) return {};
    long double total = 0;
    for (const long double l : log_lh) total += std::exp(l - top);
    for (int g = 0; g < 3; ++g) {
      rows[k][g] = static_cast<double>(std::exp(log_lh[g] - top) / total);
    }
  }
  return rows;
}

FamilyPlan Plan(decltype(FamilyPlan::nuclear) nuclear,
                std::vector<float> trait) {
  FamilyPlan f;
  f.nuclear = std::move(nuclear);
  f.trait = std::move(trait);
  return f;
}

struct Shape {
  const char* name;
  FamilyPlan plan;
};

const std::vector<Shape>& Shapes() {
  static const std::vector<Shape> shapes = {
      {"trio", Plan({{{1, 2, 3}, 0}}, {1.2f, -0.4f, 0.7f})},
      {"childless couple", Plan({{{1, 2}, 0}}, {1.2f, -0.4f})},
      {"second parent connector", Plan({{{1, 2, 3, 4}, 2}}, {1.5f, 0, 1, 2})},
      {"three generations, child connectors",
       Plan({{{1, 2, 3, 8}, 3}, {{3, 4, 5}, 5}, {{5, 6, 7}, 0}},
            {0.9f, 0.1f, 1.4f, -0.3f, 2.1f, 0.5f, 1.7f, 0.2f})},
      {"three generations, parent connectors",
       Plan({{{5, 6, 7}, 5}, {{4, 3, 5}, 3}, {{1, 2, 3, 8}, 0}},
            {0.9f, 0.1f, 1.4f, -0.3f, 2.1f, 0.5f, 1.7f, 0.2f})},
      // Member 1 is the connector of two marriages, then a child of 6 and 7;
      // 9 is the root of a marriage it is the connector of, then terminal.
      {"multiple marriages", Plan({{{1, 2, 3}, 1},
                                   {{4, 1, 5, 10}, 1},
                                   {{6, 7, 1, 8}, 6},
                                   {{9, 6, 11}, 9},
                                   {{9, 12}, 0}},
                                  {2.0f, 0.4f, 1.9f, 0.3f, 2.2f, -0.1f, 0.8f,
                                   1.1f, 0.6f, 1.3f, 0.0f, 1.0f})},
      // A trio, a couple with two children and an unlisted member.
      {"two pedigrees and an outsider",
       Plan({{{1, 2, 3}, 0}, {{5, 4, 6, 7}, 0}},
            {1.2f, -0.4f, 0.7f, 1.9f, 0.2f, 1.6f, 2.4f, 0.5f})},
      {"missing traits",
       Plan({{{1, 2, 3, 4}, 3}, {{3, 5, 6}, 0}},
            {kMissing, kMissing, 1.3f, kMissing, kMissing, 2.0f, kMissing})},
      {"no nuclear family", Plan({}, {1.0f, kMissing, -0.5f})},
  };
  return shapes;
}

struct Table {
  const char* name;
  double tr1, tr2, tr3;  // tr1 < 0: the Mendelian table as it is
};
constexpr Table kTables[] = {{"Mendelian", -1, 0, 0},
                             {"Tr 1, 0.5, 0", 1, 0.5, 0},
                             {"Tr 1, 0.3, 0", 1, 0.3, 0},
                             {"Tr 0.9, 0.45, 0.1", 0.9, 0.45, 0.1}};

void ExpectSameRows(const Rows& rows, const Rows& reference,
                    const std::string& where) {
  ASSERT_EQ(rows.size(), reference.size()) << where;
  double worst = 0;
  for (std::size_t k = 1; k < rows.size(); ++k) {
    for (int g = 0; g < 3; ++g) {
      worst = std::max(worst, std::fabs(rows[k][g] - reference[k][g]));
    }
  }
  EXPECT_LE(worst, 1e-12) << where;
}

Rows TwoPasses(const FamilyStore& store, const LikelihoodModel& model,
               std::int32_t f) {
  MajorGenotypePosteriors posteriors(store);
  Rows rows = {{7, 7, 7}};
  const bool ok = posteriors.Compute(model, f, rows);
  EXPECT_EQ(ok, !rows.empty());
  return rows;
}

TEST(MajorGenotypePosteriors, MatchTheFixedGenotypePeels) {
  for (const Table& table : kTables) {
    Model m;
    m.Set(0.3, 1.0, 0.2, -0.5, 0.15, 0.8);
    if (table.tr1 >= 0) m.SetTransmission(table.tr1, table.tr2, table.tr3);
    for (const Shape& shape : Shapes()) {
      const FamilyStore store = BuildStore({shape.plan});
      ValidateFamilyStructure(store);
      const LikelihoodModel model{store, m.q, m.poly, 0, 0, 0};
      const Rows reference = FixedGenotypePeels(model, 1);
      ASSERT_FALSE(reference.empty()) << shape.name;
      ExpectSameRows(TwoPasses(store, model, 1), reference,
                     std::string(shape.name) + ", " + table.name);
    }
  }
}

// One scratch serves families of different shapes one after another.
TEST(MajorGenotypePosteriors, RandomShapesInOneStore) {
  test::PedigreeMaker maker(20261209);
  std::vector<FamilyPlan> plans;
  for (int round = 0; round < 3; ++round) {
    for (const test::Shape shape : test::kShapes) {
      plans.push_back(maker.Make(shape, maker.Uniform(0, 2), 0.5, 2.0));
    }
  }
  const FamilyStore store = BuildStore(plans);
  ValidateFamilyStructure(store);
  Model m;
  m.Set(0.2, 1.5, 0.4, -1.0, 0.3, 0.5);
  m.SetTransmission(0.8, 0.5, 0.05);
  const LikelihoodModel model{store, m.q, m.poly, 0, 0, 0};
  MajorGenotypePosteriors posteriors(store);
  for (std::int32_t f = 1; f <= store.listed_family_count; ++f) {
    Rows rows;
    ASSERT_TRUE(posteriors.Compute(model, f, rows));
    ExpectSameRows(rows, FixedGenotypePeels(model, f),
                   "family " + std::to_string(f));
  }
}

// A density that underflows for every genotype leaves nothing to normalise:
// both methods give no rows, and a member outside every nuclear family fails
// the family the same way.
TEST(MajorGenotypePosteriors, AFamilyThatCannotBeEvaluatedHasNoRows) {
  Model m;
  m.Set(0.3, 1.0, 0.2, -0.5, 0.15, 0.8);
  for (const FamilyPlan& plan :
       {Plan({{{1, 2, 3}, 0}}, {1.0f, 1e4f, 0.5f}),
        Plan({{{1, 2, 3}, 0}}, {1.0f, 0.2f, 0.5f, 1e4f})}) {
    const FamilyStore store = BuildStore({plan});
    const LikelihoodModel model{store, m.q, m.poly, 0, 0, 0};
    EXPECT_TRUE(FixedGenotypePeels(model, 1).empty());
    EXPECT_TRUE(TwoPasses(store, model, 1).empty());
  }
}

}  // namespace
}  // namespace segmix
