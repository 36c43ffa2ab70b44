// Which trait values count as observed, and the family weights derived from
// them: one rule for the program, its counts and its companion programs.
#ifndef SEGMIX_DATA_FAMILY_WEIGHTS_H_
#define SEGMIX_DATA_FAMILY_WEIGHTS_H_

#include <cstdint>
#include <vector>

#include "data/family_store.h"
#include "textio/text_units.h"

namespace segmix {

// A trait value counted as observed by the counts and the family weights: at
// least -998 (a value that is not a number is not). The likelihood treats a
// value at or below -998 as missing, so -998 itself is counted but has
// density 1.
inline bool CountsAsObserved(float trait) { return trait >= kMissingTrait; }

// The members of family g whose trait value counts as observed; 0 for a
// family with no members. The store must have passed ValidateFamilyStructure.
std::int32_t ObservedMemberCount(const FamilyStore& store, std::int32_t g);

// The family weights [0..N_FAM]: for g = 1..stored family count, 1/c when
// family g has c > 0 observed members, else 0; every other entry 0. Pure: a
// function of the store's offsets and trait values only. The store must have
// passed ValidateFamilyStructure.
std::vector<double> FamilyWeights(const FamilyStore& store);

// The last step of ReadFamilyData. For g = 1..stored family count: a family
// with members of whom c > 0 have a trait value of at least -998 (a value
// that is not a number is not counted) gets family_weight[g] = 1/c and the
// free-form console line "g c"; every other family keeps weight 0 and gets
// no line. family_weight is resized to [0..N_FAM] and zeroed first. The
// store must have passed ValidateFamilyStructure and hold its trait values.
void DeriveFamilyWeights(TextUnits& units, FamilyStore& store);

}  // namespace segmix

#endif  // SEGMIX_DATA_FAMILY_WEIGHTS_H_
