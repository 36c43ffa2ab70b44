// ValidateFamilyStructure and ValidateSexCodes: the consistency checks that
// make a loaded FamilyStore safe to index and its peeled likelihood a real
// pedigree likelihood. Every rule reports the first violation it meets as
// InputRejected naming iway.dat, the record, the family (and nuclear family),
// the offending value and what to change.
//
// Why the peeling rules are what they are. Peeling nuclear family w onto its
// connector L multiplies into L's weights the sum over the genotypes of every
// other entry of w; those entries are summed out there, so every factor that
// involves them (their own weights, including what earlier nuclear families
// passed onto them, and their transmission from their parents) must already
// be in hand and must not be needed again. Hence, for each member, in stored
// order: the nuclear families that are peeled onto it come first, then at
// most one in which it is summed out, and nothing after that. A member who is
// only ever a connector keeps rescaled weights summing to 1, so it is summed
// out implicitly and a connector that no later nuclear family uses is
// harmless; a terminal nuclear family peels onto its first parent like any
// other. A member who is a child in two nuclear families would be given two
// pairs of parents, and an entry listed twice in one nuclear family would
// enter its sum twice: both describe no pedigree and are rejected.
#include "data/validate_family_structure.h"

#include <cstdint>
#include <string>
#include <vector>

#include "data/family_store.h"
#include "textio/termination.h"

namespace segmix {
namespace {

using std::to_string;

[[noreturn]] void Reject(const std::string& text) { throw InputRejected(text); }

std::string FamilyAt(std::int32_t g, std::int32_t w) {
  return "iway.dat: family " + to_string(g) + ", nuclear family " +
         to_string(w);
}

void CheckCounts(const FamilyStore& s) {
  const std::int32_t n = s.listed_family_count;
  if (n < 0) {
    Reject("iway.dat, record 1, value 1: the listed family count is " +
           to_string(n) + "; it must be 0 to " + to_string(N_FAM) +
           ". Correct the first value of record 1.");
  }
  if (s.list_offset_count < 2) {
    Reject("iway.dat, record 3, value 1: the list-offset count M is " +
           to_string(s.list_offset_count) +
           "; it is the number of nuclear families plus 2, so at least 2."
           " Correct the first value of record 3.");
  }
  if (s.member_list_length < 0) {
    Reject("iway.dat, record 4, value 1: the member-list length is " +
           to_string(s.member_list_length) +
           "; it must be 0 or more. Correct the first value of record 4.");
  }
  if (s.member_count < 0) {
    Reject("iway.dat, record 6, value 1: the member count is " +
           to_string(s.member_count) +
           "; it must be 0 or more. Correct the first value of record 6.");
  }
  const std::int32_t stored = s.StoredFamilyCount();
  if (stored < 0 || stored > n) {
    Reject("iway.dat, record 1, value 2: the stored family count is " +
           to_string(stored) + "; it must be 0 to the listed family count " +
           to_string(n) + " (value 1). Correct value 2 of record 1.");
  }
}

// The kinds of offset list, and what offset i of each stands for: the start
// of unit i ("family 3", "nuclear family 7") or, at the last index, the end
// of the unit before it.
struct OffsetKind {
  const char* kind;  // "member", "nuclear-family", "list"
  const char* unit;  // "family", "nuclear family"
};

std::string OffsetName(const OffsetKind& k, std::int32_t i, std::int32_t last) {
  if (i == last) {
    return std::string("the closing ") + k.kind + " offset (the end of " +
           k.unit + " " + to_string(i - 1) + ")";
  }
  return std::string("the ") + k.kind + " offset of " + k.unit + " " +
         to_string(i);
}

// Checks offsets[1..last] to be non-decreasing within 0..limit. Value
// `value_shift` + i of the record holds offsets[i].
void CheckOffsets(const std::vector<std::int32_t>& offsets, std::int32_t last,
                  std::int32_t limit, int record, int value_shift,
                  const OffsetKind& unit, const std::string& limit_name) {
  for (std::int32_t i = 1; i <= last; ++i) {
    const std::int32_t v = offsets[i];
    const std::string where = "iway.dat, record " + to_string(record) +
                              ", value " + to_string(i + value_shift) + ": " +
                              OffsetName(unit, i, last) + " is " + to_string(v);
    if (v < 0 || v > limit) {
      Reject(where + ", outside 0 to " + to_string(limit) + " (" + limit_name +
             "). Correct record " + to_string(record) + ".");
    }
    if (i > 1 && v < offsets[i - 1]) {
      Reject(where + ", below " + OffsetName(unit, i - 1, last) + ", " +
             to_string(offsets[i - 1]) +
             "; offsets must not decrease."
             " Correct record " +
             to_string(record) + ".");
    }
  }
}

// The closing offset, offsets[last], must equal its count: everything the
// count announces belongs to some family (or nuclear family).
void CheckClosingOffset(const std::vector<std::int32_t>& offsets,
                        std::int32_t last, std::int32_t count, int record,
                        int value_shift, const OffsetKind& unit,
                        const std::string& count_name, const char* items,
                        const char* owner) {
  if (last < 1 || offsets[last] == count) return;
  Reject("iway.dat, record " + to_string(record) + ", value " +
         to_string(last + value_shift) + ": " + OffsetName(unit, last, last) +
         " is " + to_string(offsets[last]) + ", but " + count_name + " is " +
         to_string(count) + ": " + items + " " + to_string(offsets[last] + 1) +
         " to " + to_string(count) + " would belong to no " + owner +
         " and be left out. Correct record " + to_string(record) +
         " or the count.");
}

// Status codes: 2 marks a member who is not a proband, 1 a proband and 0 a
// proband whose family is corrected even with the proband switch at 0. Any
// other code would silently count as a proband.
void CheckStatusCodes(const FamilyStore& s) {
  for (std::int32_t k = 1; k <= s.member_count; ++k) {
    const std::int32_t code = s.status[k];
    if (code >= 0 && code <= 2) continue;
    std::string place;
    for (std::int32_t g = 1; g <= s.listed_family_count; ++g) {
      const std::int32_t x = k - s.MemberOffset(g);
      if (x >= 1 && x <= s.FamilySize(g)) {
        place = "family " + to_string(g) + ", member position " + to_string(x);
        break;
      }
    }
    if (place.empty()) place = "member " + to_string(k) + " (in no family)";
    Reject("iway.dat, record 7, value " + to_string(k) + ": " + place +
           " has status code " + to_string(code) +
           ". Status codes are 0 (a proband whose family is always"
           " corrected), 1 (a proband) or 2 (not a proband): correct record"
           " 7.");
  }
}

// Per-member bookkeeping over the whole store, indexed by store index; the
// families' store ranges are disjoint once the member offsets are monotone,
// so one pass needs no resetting between families.
struct MemberMarks {
  std::vector<std::int32_t> seen_in;    // last nuclear family listing it
  std::vector<std::int32_t> child_in;   // nuclear family where it is a child
  std::vector<std::int32_t> summed_in;  // nuclear family where it is summed out
};

void CheckNuclearFamily(const FamilyStore& s, std::int32_t g, std::int32_t w,
                        MemberMarks& marks) {
  const std::int32_t size = s.FamilySize(g);
  const std::int32_t base = s.MemberOffset(g);
  const std::span<const std::int32_t> entries = s.NuclearMembers(w);
  const std::int32_t count = static_cast<std::int32_t>(entries.size());
  if (count < 2) {
    const std::string held =
        count == 0 ? " has no entries (its list offsets are both " +
                         to_string(s.list_offset[w]) + ")"
                   : " has 1 entry (member-list position " +
                         to_string(s.list_offset[w + 1]) + ")";
    Reject(FamilyAt(g, w) + held +
           "; a nuclear family lists its two parents first, then its"
           " children. Correct records 3 and 4.");
  }
  for (std::int32_t i = 0; i < count; ++i) {
    const std::int32_t x = entries[i];
    const std::string entry = FamilyAt(g, w) + ", entry " + to_string(i + 1) +
                              " (record 4, value " +
                              to_string(s.list_offset[w] + i + 2) + ")";
    if (x < 1 || x > size) {
      Reject(entry + " is member position " + to_string(x) +
             ", outside the family's members 1 to " + to_string(size) +
             ". List only positions within the family in record 4.");
    }
    if (marks.seen_in[base + x] == w) {
      Reject(entry + " lists member position " + to_string(x) +
             " a second time. A member appears once in a nuclear family;"
             " correct record 4.");
    }
    marks.seen_in[base + x] = w;
  }
  const std::int32_t code = s.connector[w];
  const bool is_connector_entry = code == 0 || code == entries[0] ||
                                  code == entries[1] ||
                                  (count >= 3 && code == entries[2]);
  if (!is_connector_entry) {
    Reject(FamilyAt(g, w) + " has connector " + to_string(code) +
           " (record 5, value " + to_string(w) +
           "), which is neither 0 (terminal), one of its parents (" +
           to_string(entries[0]) + ", " + to_string(entries[1]) + ") nor its" +
           (count >= 3 ? " first child (" + to_string(entries[2]) + ")"
                       : " first child (it has none)") +
           ". Correct record 5, or list a connecting child first among the"
           " children.");
  }
  const std::int32_t peeled_onto = code == 0 ? entries[0] : code;
  for (std::int32_t i = 0; i < count; ++i) {
    const std::int32_t x = entries[i];
    const std::int32_t k = base + x;
    if (i >= 2) {
      if (marks.child_in[k] != 0) {
        Reject(FamilyAt(g, w) + ": member position " + to_string(x) +
               " is a child here and already a child in nuclear family " +
               to_string(marks.child_in[k]) +
               ". A member has one pair of parents; correct record 4.");
      }
      marks.child_in[k] = w;
    }
    if (marks.summed_in[k] != 0) {
      const std::string earlier = to_string(marks.summed_in[k]);
      if (x == peeled_onto) {
        Reject(FamilyAt(g, w) + " is peeled onto member position " +
               to_string(x) +
               ", who was already summed out in the earlier"
               " nuclear family " +
               earlier +
               " (where it is not the"
               " connector). A nuclear family must come before every nuclear"
               " family that contains its connector as another member:"
               " reorder the nuclear families of this family.");
      }
      Reject(FamilyAt(g, w) + " lists member position " + to_string(x) +
             ", who was already summed out in the earlier nuclear family " +
             earlier +
             " (where it is not the connector). A member listed"
             " in several nuclear families must be the connector of each of"
             " them but the last: change a connector in record 5 or reorder"
             " the nuclear families.");
    }
  }
  for (std::int32_t i = 0; i < count; ++i) {
    if (entries[i] != peeled_onto) marks.summed_in[base + entries[i]] = w;
  }
}

}  // namespace

void ValidateFamilyStructure(const FamilyStore& s) {
  CheckCounts(s);
  const std::int32_t n = s.listed_family_count;
  const std::int32_t nuclear_count = s.list_offset_count - 2;
  // Record 1: index 0 is the stored family count, offsets are 1..n+1 and
  // value 1 of the record is n itself, so offset i is value i + 2.
  CheckOffsets(s.member_offset, n + 1, s.member_count, 1, 2,
               {"member", "family"}, "the member count of record 6");
  CheckOffsets(s.nuclear_offset, n + 1, nuclear_count, 2, 1,
               {"nuclear-family", "family"},
               "the nuclear-family count, M - 2 of record 3");
  CheckOffsets(s.list_offset, s.list_offset_count - 1, s.member_list_length, 3,
               2, {"list", "nuclear family"},
               "the member-list length of record 4");
  // A closing offset below its count would leave the nuclear families (or
  // member-list entries) after it to no family: the tail of the last family
  // would silently drop out of its likelihood.
  CheckClosingOffset(s.nuclear_offset, n + 1, nuclear_count, 2, 1,
                     {"nuclear-family", "family"},
                     "the nuclear-family count (M - 2 of record 3)",
                     "nuclear families", "family");
  CheckClosingOffset(s.list_offset, s.list_offset_count - 1,
                     s.member_list_length, 3, 2, {"list", "nuclear family"},
                     "the member-list length (record 4)", "member-list entries",
                     "nuclear family");

  MemberMarks marks;
  const std::size_t members = static_cast<std::size_t>(s.member_count) + 1;
  marks.seen_in.assign(members, 0);
  marks.child_in.assign(members, 0);
  marks.summed_in.assign(members, 0);
  for (std::int32_t g = 1; g <= n; ++g) {
    for (std::int32_t w = s.FirstNuclear(g); w <= s.LastNuclear(g); ++w) {
      CheckNuclearFamily(s, g, w, marks);
    }
  }
  CheckStatusCodes(s);
}

void ValidateSexCodes(const FamilyStore& store,
                      std::span<const std::int32_t> selection_flags,
                      std::int32_t family_count) {
  for (std::int32_t g = 1; g <= family_count; ++g) {
    if (static_cast<std::size_t>(g) >= selection_flags.size()) break;
    if (selection_flags[g] == 0) continue;
    const std::int32_t base = store.MemberOffset(g);
    for (std::int32_t x = 1; x <= store.FamilySize(g); ++x) {
      const std::int32_t code = store.sex[base + x];
      if (code != 1 && code != 2) {
        Reject("iway.dat, record 6, value " + to_string(base + x + 1) +
               ": family " + to_string(g) + ", member position " +
               to_string(x) + " has sex code " + to_string(code) +
               ". With Sex in the model every member of a selected family"
               " needs sex code 1 or 2: correct record 6, or take Sex out of"
               " the model.");
      }
    }
  }
}

}  // namespace segmix
