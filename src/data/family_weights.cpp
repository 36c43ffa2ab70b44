// The family weights and the console line of each weighted family.
#include "data/family_weights.h"

#include <algorithm>
#include <cstddef>

#include "textio/statements.h"

namespace segmix {

std::int32_t ObservedMemberCount(const FamilyStore& store, std::int32_t g) {
  const std::int32_t size = store.FamilySize(g);
  const std::int32_t base = store.MemberOffset(g);
  std::int32_t observed = 0;
  for (std::int32_t x = 1; x <= size; ++x) {
    if (CountsAsObserved(store.trait[base + x])) ++observed;
  }
  return observed;
}

std::vector<double> FamilyWeights(const FamilyStore& store) {
  // Sized to the capacity, not the stored count: readers index it by any
  // family number up to N_FAM.
  std::vector<double> weights(static_cast<std::size_t>(N_FAM) + 1, 0.0);
  const std::int32_t last =
      std::min<std::int32_t>(store.StoredFamilyCount(), N_FAM);
  for (std::int32_t g = 1; g <= last; ++g) {
    const std::int32_t observed = ObservedMemberCount(store, g);
    if (observed > 0) weights[g] = 1.0 / static_cast<double>(observed);
  }
  return weights;
}

void DeriveFamilyWeights(TextUnits& units, FamilyStore& store) {
  store.family_weight = FamilyWeights(store);
  for (std::int32_t g = 1; g <= store.StoredFamilyCount(); ++g) {
    if (store.family_weight[g] == 0) continue;
    WriteStatement w(units, kConsole);
    w << g << ObservedMemberCount(store, g);
    w.End();
  }
}

}  // namespace segmix
