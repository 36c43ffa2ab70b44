// Member counts over the selected families, and the no-proband report.
#include "run/member_counts.h"

#include "data/family_weights.h"
#include "textio/statements.h"

namespace segmix {

MemberCounts CountMembers(const ControlSettings& settings,
                          const FamilyStore& store, TextUnits& units) {
  MemberCounts counts;
  for (std::int32_t g = 1; g <= settings.family_count; ++g) {
    const std::int32_t size = store.FamilySize(g);
    if (settings.selection_flags[g] == 0 || size <= 0) continue;
    const std::int32_t first = store.MemberOffset(g) + 1;
    const std::int32_t last = store.MemberOffset(g) + size;
    if (settings.proband_switch != 0) {
      std::int32_t probands = 0;
      for (std::int32_t k = first; k <= last; ++k) {
        if (store.status[k] != 2) ++probands;
      }
      if (probands == 0) {
        WriteStatement record(units, kConsole,
                              "(' No proband in the family',i3)");
        record << g;
        record.End();
      }
    }
    for (std::int32_t k = first; k <= last; ++k) {
      if (CountsAsObserved(store.trait[k])) ++counts.observed;
      if (store.status[k] == 0) ++counts.status0;
    }
  }
  return counts;
}

}  // namespace segmix
