// The table of fuzz targets, by corpus folder name.
#include "fuzz/fuzz_targets.h"

namespace segmix::fuzz {

std::span<const Target> Targets() {
  static constexpr Target kTargets[] = {
      {"layout", FuzzLayout},
      {"free_form", FuzzFreeForm},
      {"control_file", FuzzControlFile},
      {"family_data", FuzzFamilyData},
#ifdef SEGMIX_FUZZ_HAVE_TOOLS
      {"pedigree_table", FuzzPedigreeTable},
#endif
  };
  return kTargets;
}

}  // namespace segmix::fuzz
