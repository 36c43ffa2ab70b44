// The member counts of a run: how many members of the selected families are
// observed (trait value at least -998) and how many have status code 0, with
// the console report of selected families that have no proband.
#ifndef SEGMIX_RUN_MEMBER_COUNTS_H_
#define SEGMIX_RUN_MEMBER_COUNTS_H_

#include <cstdint>

#include "data/family_store.h"
#include "run/control_file.h"
#include "textio/text_units.h"

namespace segmix {

struct MemberCounts {
  std::int32_t observed =
      0;  // "N_izm=" on the console, first record of sigma.dat
  std::int32_t status0 = 0;  // " loop=" on the console
};

// Walks families 1..settings.family_count (the control file's count, not the
// store's), skipping a family whose selection flag is 0 or that has no
// members. With a nonzero proband switch, a family none of whose members has
// a status code other than 2 gets the console record
// "(' No proband in the family',i3)" and is counted all the same. A trait
// value that is not a number is not observed.
MemberCounts CountMembers(const ControlSettings& settings,
                          const FamilyStore& store, TextUnits& units);

}  // namespace segmix

#endif  // SEGMIX_RUN_MEMBER_COUNTS_H_
