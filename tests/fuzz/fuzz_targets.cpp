// The table of fuzz targets, by corpus folder name.
#include "fuzz/fuzz_targets.h"

namespace segmix::fuzz {

std::span<const Target> Targets() {
  static constexpr Target kTargets[] = {
      {"layout", FuzzLayout},
      {"free_form", FuzzFreeForm},
      {"control_file", FuzzControlFile},
      {"family_data", FuzzFamilyData},
      {"pedigree_table", FuzzPedigreeTable},
  };
  return kTargets;
}

}  // namespace segmix::fuzz
