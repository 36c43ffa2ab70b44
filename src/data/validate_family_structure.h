// The checks of a loaded FamilyStore that everything reading it relies on:
// the pedigree structure, and the sex codes when Sex is in the model.
#ifndef SEGMIX_DATA_VALIDATE_FAMILY_STRUCTURE_H_
#define SEGMIX_DATA_VALIDATE_FAMILY_STRUCTURE_H_

#include <cstdint>
#include <span>

#include "data/family_store.h"

namespace segmix {

// Checks the structure of a loaded store before any likelihood reads it:
// monotone offsets within their arrays, at least two entries per nuclear
// family, entries that are positions of their own family, connectors that are
// 0, a parent or the first child, and a peeling order. Throws InputRejected
// naming iway.dat, the family (and nuclear family) and the offending value.
//
// In detail: n >= 0, M >= 2, L >= 0, S >= 0; stored family count 0..n;
// member offsets 1..n+1 non-decreasing within 0..S; nuclear-family offsets
// 1..n+1 non-decreasing within 0..M-2; list offsets 1..M-1 non-decreasing
// within 0..L. For every nuclear family owned by a family: at least two
// entries, each a position 1..size of that family, none listed twice; the
// connector is 0 (peeled onto the first parent), a parent or the first child;
// no member is a child in two nuclear families; and the peeling order holds:
// in stored order a member is first the connector of any number of nuclear
// families, then summed out (listed but not the connector) in at most one,
// and appears in none after that. Nuclear families owned by no family, and
// members listed in no nuclear family, are allowed. After it returns, every
// accessor above reads inside the loaded arrays.
void ValidateFamilyStructure(const FamilyStore& store);

// With Sex in the model the trait density picks its means by sex code, so
// every member of a selected family (g = 1..family_count with
// selection_flags[g] nonzero; index 0 unused; families beyond the span are
// not selected) must have sex code 1 or 2. Throws InputRejected naming
// iway.dat record 6, the family, the member position and the code. The store
// must have passed ValidateFamilyStructure.
void ValidateSexCodes(const FamilyStore& store,
                      std::span<const std::int32_t> selection_flags,
                      std::int32_t family_count);

}  // namespace segmix

#endif  // SEGMIX_DATA_VALIDATE_FAMILY_STRUCTURE_H_
