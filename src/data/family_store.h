// FamilyStore: the pedigree structure and the members' observations, loaded
// once by ReadFamilyData from iway.dat, the trait file and the covariate
// files, and read-only afterwards.
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
#include "textio/text_units.h"

namespace segmix {

inline constexpr int kCovariateSlots = 8;      // covariate values per member

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

// Loads the store and validates its structure (right after the seven
// iway.dat records, before any other file is opened). `data_file_name` and
// the covariate file names are the 16-character, blank-padded names of the
// control file (trailing blanks are not part of a name); one covariate file
// is read per name, at most kCovariateSlots. Every file is opened on unit 2
// as an existing file and closed before the next. Writes the member count
// line and one "g c" line per family with observed members to the console.
// Throws StopRequest (exit 1) on a capacity excess, as soon as the count is
// read and before any value after it; TextIoError (exit 2) on a missing or
// unreadable file; InputRejected (exit 1) on an inconsistent structure, more
// covariate files than slots, a trait value beyond the 4-byte range (it
// reads as +infinity; one below -998, -infinity included, is missing) or an
// infinite covariate value. Storage is sized to the counts read.
void ReadFamilyData(TextUnits& units, std::string_view data_file_name,
                    std::span<const std::string> covariate_file_names,
                    FamilyStore& store);

// The last step of ReadFamilyData. For g = 1..stored family count: a family
// with members of whom c > 0 have a trait value of at least -998 (a value
// that is not a number is not counted) gets family_weight[g] = 1/c and the
// free-form console line "g c"; every other family keeps weight 0 and gets
// no line. family_weight is resized to [0..N_FAM] and zeroed first. The
// store must have passed ValidateFamilyStructure and hold its trait values.
void DeriveFamilyWeights(TextUnits& units, FamilyStore& store);

}  // namespace segmix

#endif  // SEGMIX_DATA_FAMILY_STORE_H_
