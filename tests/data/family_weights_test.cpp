// FamilyWeights, the one rule for every family weight: 1/c for c members
// counted as observed (trait at least -998, not a number excluded), 0 for a
// family with none, for a family beyond the stored count and for every entry
// above it; sized to the capacity.
#include "data/family_weights.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace segmix {
namespace {

// A store of families listed one after another, their members' traits only.
FamilyStore StoreOf(const std::vector<std::vector<float>>& families,
                    std::int32_t stored) {
  FamilyStore s;
  s.listed_family_count = static_cast<std::int32_t>(families.size());
  s.member_offset.assign(families.size() + 2, 0);
  s.member_offset[0] = stored;
  s.trait.assign(1, 0.0f);
  for (std::size_t g = 0; g < families.size(); ++g) {
    s.member_offset[g + 1] = static_cast<std::int32_t>(s.trait.size()) - 1;
    s.trait.insert(s.trait.end(), families[g].begin(), families[g].end());
  }
  s.member_offset[families.size() + 1] =
      static_cast<std::int32_t>(s.trait.size()) - 1;
  s.member_count = s.member_offset[families.size() + 1];
  return s;
}

TEST(FamilyWeightsTest, OneOverTheObservedCount) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  struct Row {
    std::vector<float> traits;
    double weight;
  };
  const Row rows[] = {
      {{1.5f, 2.5f, 3.5f}, 1.0 / 3},
      {{-998.0f, -999.0f}, 1.0},         // -998 itself counts
      {{-998.5f, -999.0f}, 0.0},         // nobody observed
      {{nan, 4.0f}, 1.0},                // not a number does not count
      {{}, 0.0},                         // no members
      {{inf, 0.0f, -1.0f, 7.0f}, 0.25},  // any value at least -998
  };
  std::vector<std::vector<float>> families;
  for (const Row& row : rows) families.push_back(row.traits);
  families.push_back({1.0f});  // listed but beyond the stored count
  const FamilyStore store = StoreOf(families, std::size(rows));

  const std::vector<double> weights = FamilyWeights(store);
  ASSERT_EQ(weights.size(), static_cast<std::size_t>(N_FAM) + 1);
  EXPECT_EQ(weights[0], 0.0);
  for (std::size_t g = 1; g <= std::size(rows); ++g) {
    EXPECT_EQ(weights[g], rows[g - 1].weight) << "family " << g;
    EXPECT_EQ(ObservedMemberCount(store, static_cast<std::int32_t>(g)) > 0,
              rows[g - 1].weight > 0);
  }
  EXPECT_EQ(weights[std::size(rows) + 1], 0.0);
  EXPECT_EQ(FamilyWeights(store), weights);  // a function of the store alone
}

}  // namespace
}  // namespace segmix
