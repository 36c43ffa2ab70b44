// Accessors of FamilyStore. They define what "a family's members" and "a
// family's nuclear families" mean for every reader of the store, including
// families beyond the listed count (no members, no nuclear families).
#include "data/family_store.h"

#include <algorithm>

namespace segmix {

std::int32_t FamilyStore::StoredFamilyCount() const {
  return member_offset.empty() ? 0 : member_offset[0];
}

std::int32_t FamilyStore::MemberOffset(std::int32_t g) const {
  if (g < 1 || g > listed_family_count) return 0;
  return member_offset[g];
}

std::int32_t FamilyStore::FamilySize(std::int32_t g) const {
  if (g < 1 || g > listed_family_count) return 0;
  return std::max(0, member_offset[g + 1] - member_offset[g]);
}

std::int32_t FamilyStore::FirstNuclear(std::int32_t g) const {
  if (g < 1 || g > listed_family_count) return 1;
  return nuclear_offset[g] + 1;
}

std::int32_t FamilyStore::LastNuclear(std::int32_t g) const {
  if (g < 1 || g > listed_family_count) return 0;
  return nuclear_offset[g + 1];
}

std::span<const std::int32_t> FamilyStore::NuclearMembers(
    std::int32_t w) const {
  const std::int32_t first = list_offset[w] + 1;
  const std::int32_t last = list_offset[w + 1];
  if (last < first) return {};
  return std::span<const std::int32_t>(member_list)
      .subspan(first, last - first + 1);
}

std::int32_t FamilyStore::LargestFamilySize() const {
  std::int32_t largest = 0;
  for (std::int32_t g = 1; g <= listed_family_count; ++g) {
    largest = std::max(largest, FamilySize(g));
  }
  return largest;
}

}  // namespace segmix
