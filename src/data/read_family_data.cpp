// ReadFamilyData: loads iway.dat, the trait file and the covariate files into
// the FamilyStore, stops on a capacity excess, validates the structure and
// derives the family weights, writing the member count and the per-family
// observed counts to the console.
#include "data/read_family_data.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "data/family_store.h"
#include "data/family_weights.h"
#include "data/validate_family_structure.h"
#include "textio/statements.h"
#include "textio/termination.h"

namespace segmix {
namespace {

std::string_view WithoutTrailingBlanks(std::string_view name) {
  const std::size_t end = name.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string_view{}
                                       : name.substr(0, end + 1);
}

// A record's value count from its count field; a count that makes it zero or
// negative reads no values. Formed in 64 bits so that M - 2 cannot overflow.
std::size_t ValueCount(std::int64_t length) {
  return length > 0 ? static_cast<std::size_t>(length) : 0;
}

// Where store index k sits, for messages: "family g, member x" or, for a
// member of no family, nothing. Safe on offsets not yet validated: it reads
// only inside member_offset and names the first family whose range holds k.
std::string MemberPlace(const FamilyStore& s, std::int32_t k) {
  for (std::int32_t g = 1; g <= s.listed_family_count; ++g) {
    const std::int32_t x = k - s.MemberOffset(g);
    if (x >= 1 && x <= s.FamilySize(g)) {
      return " (family " + std::to_string(g) + ", member " + std::to_string(x) +
             ")";
    }
  }
  return "";
}

// Reads the values of one free-form record in order and refuses a value left
// unread: a slash ends the statement and an empty field is a null value, and
// either would leave the value at what the store held before (0), read as a
// proband's status, an offset or an observed trait of 0.
struct ValueCursor {
  enum class Kind : std::uint8_t { kStructure, kTrait, kCovariate };

  ReadStatement& r;
  const FamilyStore& store;
  std::string_view file;
  int record;                 // iway.dat's record number; 0 for the only one
  std::int32_t member_shift;  // value number of store index k is k + this;
                              // -1: the record holds no member values
  Kind kind;
  std::int32_t number = 0;  // values read so far

  template <typename T>
  void operator()(T& value) {
    ++number;
    r >> value;
    if (r.LastOutcome() != ReadStatement::Outcome::kStored) RefuseUnread();
  }

  std::string Place() const {
    std::string place = std::string(file);
    if (record > 0) place += ", record " + std::to_string(record);
    place += ", value " + std::to_string(number);
    if (member_shift >= 0 && number - member_shift >= 1) {
      place += MemberPlace(store, number - member_shift);
    }
    return place;
  }

  [[noreturn]] void RefuseUnread() const {
    const bool slash = r.LastOutcome() == ReadStatement::Outcome::kAfterSlash;
    std::string text =
        Place() + ": no value was read: " +
        (slash ? "a \"/\" ends the record before it"
               : "the field is empty (two commas with nothing between them, a "
                 "comma before the first value, or a repeat such as 3* with "
                 "no value)") +
        ". Every value of this file is required: ";
    switch (kind) {
      case Kind::kStructure:
        text += "write it, and separate values by blanks.";
        break;
      case Kind::kTrait:
        text += "write -999 for a missing trait value.";
        break;
      case Kind::kCovariate:
        text += "write the member's covariate value.";
        break;
    }
    if (!slash && kind != Kind::kStructure) {
      text +=
          " (A decimal comma? A comma separates values: write 10.2, not 10,2.)";
    }
    throw InputRejected(text);
  }
};

// Reads `count` values into values[first], values[first + 1], ...
template <typename T>
void ReadValues(ValueCursor& in, std::vector<T>& values, std::size_t first,
                std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) in(values[first + i]);
}

// The seven records of iway.dat. Each capacity is checked as soon as its
// count is read, so an excess stops the run before anything beyond the
// capacity is stored and before the records that follow are read.
void ReadStructure(TextUnits& units, int unit, FamilyStore& s) {
  using Kind = ValueCursor::Kind;
  constexpr std::string_view kIway = "iway.dat";
  units.Open(unit, kIway, OpenStatus::kOld);
  {  // Record 1: n, member offset(0..n+1).
    ReadStatement r(units, unit);
    ValueCursor in{r, s, kIway, 1, -1, Kind::kStructure};
    in(s.listed_family_count);
    if (s.listed_family_count > N_FAM) {
      StopWithMessage("N_FAM exceed. Correct and recompile",
                      TerminationKind::kCapacity);
    }
    const std::size_t count =
        ValueCount(std::int64_t{s.listed_family_count} + 2);
    s.member_offset.assign(count, 0);
    ReadValues(in, s.member_offset, 0, count);
    r.End();
  }
  {  // Record 2: nuclear-family offset(0..n+1).
    ReadStatement r(units, unit);
    ValueCursor in{r, s, kIway, 2, -1, Kind::kStructure};
    const std::size_t count =
        ValueCount(std::int64_t{s.listed_family_count} + 2);
    s.nuclear_offset.assign(count, 0);
    ReadValues(in, s.nuclear_offset, 0, count);
    r.End();
  }
  {  // Record 3: M, list offset(0..M-1).
    ReadStatement r(units, unit);
    ValueCursor in{r, s, kIway, 3, -1, Kind::kStructure};
    in(s.list_offset_count);
    if (s.list_offset_count > N_WAY) {
      StopWithMessage("N_WAY exceed. Correct and recompile",
                      TerminationKind::kCapacity);
    }
    const std::size_t count = ValueCount(s.list_offset_count);
    s.list_offset.assign(count, 0);
    ReadValues(in, s.list_offset, 0, count);
    r.End();
  }
  {  // Record 4: L, member list(1..L).
    ReadStatement r(units, unit);
    ValueCursor in{r, s, kIway, 4, -1, Kind::kStructure};
    in(s.member_list_length);
    if (s.member_list_length > N_WAY) {
      StopWithMessage("N_WAY exceed. Correct and recompile",
                      TerminationKind::kCapacity);
    }
    const std::size_t count = ValueCount(s.member_list_length);
    s.member_list.assign(count + 1, 0);
    ReadValues(in, s.member_list, 1, count);
    r.End();
  }
  {  // Record 5: connector(1..M-2).
    ReadStatement r(units, unit);
    ValueCursor in{r, s, kIway, 5, -1, Kind::kStructure};
    const std::size_t count = ValueCount(std::int64_t{s.list_offset_count} - 2);
    s.connector.assign(count + 1, 0);
    ReadValues(in, s.connector, 1, count);
    r.End();
  }
  {  // Record 6: S, sex code(1..S).
    ReadStatement r(units, unit);
    ValueCursor in{r, s, kIway, 6, 1, Kind::kStructure};
    in(s.member_count);
    if (s.member_count > N_SIZE) {
      StopWithMessage("N_SIZE exceed. Correct and recompile",
                      TerminationKind::kCapacity);
    }
    const std::size_t count = ValueCount(s.member_count);
    s.sex.assign(count + 1, 0);
    ReadValues(in, s.sex, 1, count);
    r.End();
  }
  {  // Record 7: status code(1..S).
    ReadStatement r(units, unit);
    ValueCursor in{r, s, kIway, 7, 0, Kind::kStructure};
    const std::size_t count = ValueCount(s.member_count);
    s.status.assign(count + 1, 0);
    ReadValues(in, s.status, 1, count);
    r.End();
  }
  units.Close(unit);
}

// One record of S reals from the file `name` into values(1..S). Values left
// over after the last member are ignored (legal free-form input), except
// when the values read show a comma directly between two digits: a file
// written with decimal commas ("10,2") reads two values for each of them, so
// it always has values left over, and every value after the first decimal
// comma belongs to the wrong member.
void ReadMemberValues(TextUnits& units, int unit, std::string_view name,
                      const FamilyStore& s, ValueCursor::Kind kind,
                      std::vector<float>& values) {
  const std::string_view file = WithoutTrailingBlanks(name);
  units.Open(unit, file, OpenStatus::kOld);
  ReadStatement r(units, unit);
  ValueCursor in{r, s, file, 0, 0, kind};
  ReadValues(in, values, 1, ValueCount(s.member_count));
  if (r.CommaBetweenDigits()) {
    const std::string left_over = r.LeftOverValue();
    if (!left_over.empty()) {
      throw InputRejected(
          std::string(file) + ": values are left over after the " +
          std::to_string(s.member_count) + " members' values (the first, \"" +
          left_over + "\", on line " + std::to_string(r.RecordNumber()) +
          "), and a comma stands directly between two digits, which reads as "
          "two values (10,2 is 10 and 2). A decimal comma? Write decimal "
          "points (10.2), and one value per member.");
    }
  }
  r.End();
  units.Close(unit);
}

// A value beyond the 4-byte range reads as an infinity. An infinite trait
// has density 0 and an infinite covariate makes the mean infinite or, with a
// zero coefficient, not a number: either would end the run as a failed
// evaluation with nothing said about the data. A trait value below -998
// marks a missing value however large its magnitude, so -infinity stays one.
void CheckFinite(const FamilyStore& s, std::string_view name,
                 const std::vector<float>& values, bool trait) {
  for (std::int32_t k = 1; k <= s.member_count; ++k) {
    const float v = values[k];
    if (std::isfinite(v) || (trait && v < kMissingTrait)) continue;
    throw InputRejected(
        std::string(WithoutTrailingBlanks(name)) + ", value " +
        std::to_string(k) + MemberPlace(s, k) +
        ": the value lies beyond the range of a 4-byte real (largest magnitude "
        "3.4028235E+38) and reads as infinity. " +
        (trait ? "Give the trait in a smaller unit, or a value below -998 "
                 "(such as -999) for a missing value."
               : "Give the covariate in a smaller unit."));
  }
}

}  // namespace

void ReadFamilyData(TextUnits& units, int unit, std::string_view data_file_name,
                    std::span<const std::string> covariate_file_names,
                    FamilyStore& store) {
  if (covariate_file_names.size() > static_cast<std::size_t>(kCovariateSlots)) {
    throw InputRejected(
        "par.inp: " + std::to_string(covariate_file_names.size()) +
        " covariate files are named, but a member holds at most " +
        std::to_string(kCovariateSlots) +
        " covariate values. Lower the covariate count in par.inp.");
  }
  store = FamilyStore{};
  ReadStructure(units, unit, store);
  // Everything below indexes the store through its offsets: they must be
  // known to lie inside the loaded arrays first.
  ValidateFamilyStructure(store);

  const std::int32_t members = store.member_count;
  {
    WriteStatement w(units, kConsole);
    w << members;
    w.End();
  }

  const std::size_t slots = static_cast<std::size_t>(members) + 1;
  store.trait.assign(slots, 0.0f);
  ReadMemberValues(units, unit, data_file_name, store,
                   ValueCursor::Kind::kTrait, store.trait);
  CheckFinite(store, data_file_name, store.trait, true);
  for (std::size_t q = 1; q < store.covariate.size(); ++q) {
    store.covariate[q].assign(slots, 0.0f);
  }
  for (std::size_t q = 1; q <= covariate_file_names.size(); ++q) {
    ReadMemberValues(units, unit, covariate_file_names[q - 1], store,
                     ValueCursor::Kind::kCovariate, store.covariate[q]);
    CheckFinite(store, covariate_file_names[q - 1], store.covariate[q], false);
  }

  DeriveFamilyWeights(units, store);
}

}  // namespace segmix
