// FamilyStore: the pedigree structure and the members' observations, loaded
// once by ReadFamilyData (data/read_family_data.h) from iway.dat, the trait
// file and the covariate files, and read-only afterwards. Its checks are in
// data/validate_family_structure.h, its weights in data/family_weights.h.
//
// Indexing follows the data files: families g = 1..n, nuclear families
// w = 1..M-2, member-list entries 1..L, members by store index k = 1..S.
// Index 0 of each array holds what the file holds there (member_offset[0] is
// the stored family count) or is unused. A member's member position within
// its family is its store index minus the family's member offset.
#ifndef SEGMIX_DATA_FAMILY_STORE_H_
#define SEGMIX_DATA_FAMILY_STORE_H_

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "data/capacities.h"

namespace segmix {

inline constexpr int kCovariateSlots = 8;  // covariate values per member

// Trait values at or above this are observed for the counts and weights;
// the likelihood treats values at or below it as missing.
inline constexpr float kMissingTrait = -998.0f;

struct FamilyStore {
  std::int32_t listed_family_count = 0;  // n
  std::vector<std::int32_t>
      member_offset;  // [0..n+1]; [0] = stored family count
  std::vector<std::int32_t> nuclear_offset;  // [0..n+1]; [0] unused
  std::int32_t list_offset_count = 0;        // M
  std::vector<std::int32_t> list_offset;     // [0..M-1]; [0] unused
  std::int32_t member_list_length = 0;       // L
  std::vector<std::int32_t> member_list;     // [1..L]; member positions
  std::vector<std::int32_t> connector;       // [1..M-2]; 0 = terminal
  std::int32_t member_count = 0;             // S
  std::vector<std::int32_t> sex;             // [1..S]
  std::vector<std::int32_t> status;          // [1..S]; 2 = not a proband
  std::vector<float> trait;                  // [1..S]
  // covariate[q][k], q = 1..8, k = 1..S; slots above the covariate count are 0.
  std::array<std::vector<float>, kCovariateSlots + 1> covariate;
  std::vector<double> family_weight;  // [0..N_FAM]; 1/observed or 0

  // Families the sample log-likelihood runs over (member_offset[0]).
  std::int32_t StoredFamilyCount() const;
  // Family g's member offset and size; a family beyond the listed count, or
  // whose next offset is not larger than its own, has no members.
  std::int32_t MemberOffset(std::int32_t g) const;
  std::int32_t FamilySize(std::int32_t g) const;
  // Family g's nuclear families are FirstNuclear(g)..LastNuclear(g)
  // (empty when LastNuclear < FirstNuclear, and for g beyond n).
  std::int32_t FirstNuclear(std::int32_t g) const;
  std::int32_t LastNuclear(std::int32_t g) const;
  // Nuclear family w's entries: parents first, then the children.
  std::span<const std::int32_t> NuclearMembers(std::int32_t w) const;
  // The largest family size: what the likelihood's scratch is sized for.
  std::int32_t LargestFamilySize() const;
};

}  // namespace segmix

#endif  // SEGMIX_DATA_FAMILY_STORE_H_
