// The structure checks of a loaded family store: one row per rule with a
// crafted iway.dat and the exact message it must produce, then rows of
// unusual but legal structures that must load, then the sex-code check.
#include "data/validate_family_structure.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "data/family_store.h"
#include "data_test_support.h"
#include "textio/termination.h"

namespace segmix {
namespace {

using testing::DataDirTest;
using testing::kTwoFamilyIway;

// The two-family example with some records replaced (record numbers 1..7).
std::vector<std::string> TwoFamilies(
    std::vector<std::pair<int, std::string>> changes) {
  std::vector<std::string> records = kTwoFamilyIway;
  for (auto& [record, text] : changes) records[record - 1] = std::move(text);
  return records;
}

// One family of seven: grandparents 1 and 2 with children 3 and 4; 3 and his
// wife 5 with children 6 and 7. `lists` is record 4 after its count (two
// nuclear families of four entries), `connectors` record 5.
std::vector<std::string> ThreeGenerations(const std::string& lists,
                                          const std::string& connectors) {
  return {"1 1 0 7",  "0 0 2",           "4 0 0 4 8",    "8 " + lists,
          connectors, "7 1 2 1 2 2 1 2", "2 2 2 2 2 1 2"};
}

// One family of five with two nuclear families of three entries each.
std::vector<std::string> FiveMembers(const std::string& lists,
                                     const std::string& connectors) {
  return {"1 1 0 5",  "0 0 2",       "4 0 0 3 6", "6 " + lists,
          connectors, "5 1 2 1 1 2", "2 2 1 2 2"};
}

struct RejectRow {
  const char* name;
  std::vector<std::string> records;
  std::string message;
};

const std::string kNotSummed =
    " A member listed in several nuclear families must be the connector of"
    " each of them but the last: change a connector in record 5 or reorder"
    " the nuclear families.";
const std::string kNotOneEntry =
    "; a nuclear family lists its two parents first, then its children."
    " Correct records 3 and 4.";
const std::string kNotAConnector =
    ". Correct record 5, or list a connecting child first among the children.";
const std::string kOutside =
    ". List only positions within the family in record 4.";

const std::vector<RejectRow>& RejectRows() {
  static const std::vector<RejectRow> rows = {
      // Counts.
      {"NegativeListedFamilyCount", TwoFamilies({{1, "-1 0"}, {2, "0"}}),
       "iway.dat, record 1, value 1: the listed family count is -1; it must be"
       " 0 to 604. Correct the first value of record 1."},
      {"StoredFamilyCountAboveListed", TwoFamilies({{1, "2 3 0 4 7"}}),
       "iway.dat, record 1, value 2: the stored family count is 3; it must be 0"
       " to the listed family count 2 (value 1). Correct value 2 of record 1."},
      {"NegativeStoredFamilyCount", TwoFamilies({{1, "2 -1 0 4 7"}}),
       "iway.dat, record 1, value 2: the stored family count is -1; it must be"
       " 0 to the listed family count 2 (value 1). Correct value 2 of record "
       "1."},
      {"ListOffsetCountBelowTwo", TwoFamilies({{3, "1 0"}, {5, ""}}),
       "iway.dat, record 3, value 1: the list-offset count M is 1; it is the"
       " number of nuclear families plus 2, so at least 2. Correct the first"
       " value of record 3."},
      {"NegativeMemberListLength", TwoFamilies({{4, "-1"}}),
       "iway.dat, record 4, value 1: the member-list length is -1; it must be"
       " 0 or more. Correct the first value of record 4."},
      {"NegativeMemberCount", TwoFamilies({{6, "-1"}, {7, ""}}),
       "iway.dat, record 6, value 1: the member count is -1; it must be 0 or"
       " more. Correct the first value of record 6."},
      // Member offsets: non-decreasing within 0..S.
      {"MemberOffsetNegative", TwoFamilies({{1, "2 2 -1 4 7"}}),
       "iway.dat, record 1, value 3: the member offset of family 1 is -1,"
       " outside 0 to 7 (the member count of record 6). Correct record 1."},
      {"MemberOffsetBeyondMemberCount", TwoFamilies({{1, "2 2 0 4 8"}}),
       "iway.dat, record 1, value 5: the closing member offset (the end of"
       " family 2) is 8, outside 0 to 7 (the member count of record 6)."
       " Correct record 1."},
      {"MemberOffsetsDecrease", TwoFamilies({{1, "2 2 4 0 7"}}),
       "iway.dat, record 1, value 4: the member offset of family 2 is 0, below"
       " the member offset of family 1, 4; offsets must not decrease. Correct"
       " record 1."},
      // Nuclear-family offsets: non-decreasing within 0..M-2.
      {"NuclearOffsetNegative", TwoFamilies({{2, "2 -1 1 2"}}),
       "iway.dat, record 2, value 2: the nuclear-family offset of family 1 is"
       " -1, outside 0 to 2 (the nuclear-family count, M - 2 of record 3)."
       " Correct record 2."},
      {"NuclearOffsetBeyondNuclearCount", TwoFamilies({{2, "2 0 1 3"}}),
       "iway.dat, record 2, value 4: the closing nuclear-family offset (the end"
       " of family 2) is 3, outside 0 to 2 (the nuclear-family count, M - 2 of"
       " record 3). Correct record 2."},
      {"NuclearOffsetsDecrease", TwoFamilies({{2, "2 1 0 2"}}),
       "iway.dat, record 2, value 3: the nuclear-family offset of family 2 is"
       " 0, below the nuclear-family offset of family 1, 1; offsets must not"
       " decrease. Correct record 2."},
      // List offsets: non-decreasing within 0..L.
      {"ListOffsetNegative", TwoFamilies({{3, "4 2 -4 4 7"}}),
       "iway.dat, record 3, value 3: the list offset of nuclear family 1 is -4,"
       " outside 0 to 7 (the member-list length of record 4). Correct record"
       " 3."},
      {"ListOffsetBeyondListLength", TwoFamilies({{3, "4 2 0 4 8"}}),
       "iway.dat, record 3, value 5: the closing list offset (the end of"
       " nuclear family 2) is 8, outside 0 to 7 (the member-list length of"
       " record 4). Correct record 3."},
      {"ListOffsetsDecrease", TwoFamilies({{3, "4 2 4 0 7"}}),
       "iway.dat, record 3, value 4: the list offset of nuclear family 2 is 0,"
       " below the list offset of nuclear family 1, 4; offsets must not"
       " decrease. Correct record 3."},
      // Closing offsets equal to their counts: nothing left to no family.
      {"NuclearFamiliesOwnedByNoFamily",
       TwoFamilies({{3, "6 2 0 4 7 7 7"}, {5, "0 0 9 -4"}}),
       "iway.dat, record 2, value 4: the closing nuclear-family offset (the end"
       " of family 2) is 2, but the nuclear-family count (M - 2 of record 3) is"
       " 4: nuclear families 3 to 4 would belong to no family and be left out."
       " Correct record 2 or the count."},
      {"MemberListEntriesOwnedByNoNuclearFamily",
       TwoFamilies({{3, "4 2 0 4 6"}}),
       "iway.dat, record 3, value 5: the closing list offset (the end of"
       " nuclear family 2) is 6, but the member-list length (record 4) is 7:"
       " member-list entries 7 to 7 would belong to no nuclear family and be"
       " left out. Correct record 3 or the count."},
      // Status codes 0, 1 or 2, also of a member in no family.
      {"StatusCodeThree", TwoFamilies({{7, "2 2 3 2 2 2 1"}}),
       "iway.dat, record 7, value 3: family 1, member position 3 has status"
       " code 3. Status codes are 0 (a proband whose family is always"
       " corrected), 1 (a proband) or 2 (not a proband): correct record 7."},
      {"StatusCodeOfAMemberInNoFamily",
       {"1 1 0 2", "0 0 1", "3 0 0 2", "2 1 2", "0", "3 1 2 1", "2 1 -5"},
       "iway.dat, record 7, value 3: member 3 (in no family) has status code"
       " -5. Status codes are 0 (a proband whose family is always corrected),"
       " 1 (a proband) or 2 (not a proband): correct record 7."},
      // At least two entries.
      {"NuclearFamilyWithOneEntry", TwoFamilies({{3, "4 2 0 1 7"}}),
       "iway.dat: family 1, nuclear family 1 has 1 entry (member-list position"
       " 1)" +
           kNotOneEntry},
      {"NuclearFamilyWithNoEntries", TwoFamilies({{3, "4 2 0 0 7"}}),
       "iway.dat: family 1, nuclear family 1 has no entries (its list offsets"
       " are both 0)" +
           kNotOneEntry},
      // Entries: positions 1..size of their own family, each once.
      {"EntryBeyondItsFamily", TwoFamilies({{4, "7 1 2 3 5 1 2 3"}}),
       "iway.dat: family 1, nuclear family 1, entry 4 (record 4, value 5) is"
       " member position 5, outside the family's members 1 to 4" +
           kOutside},
      {"EntryZero", TwoFamilies({{4, "7 1 2 3 4 1 2 0"}}),
       "iway.dat: family 2, nuclear family 2, entry 3 (record 4, value 8) is"
       " member position 0, outside the family's members 1 to 3" +
           kOutside},
      {"EntryNegative", TwoFamilies({{4, "7 -1 2 3 4 1 2 3"}}),
       "iway.dat: family 1, nuclear family 1, entry 1 (record 4, value 2) is"
       " member position -1, outside the family's members 1 to 4" +
           kOutside},
      {"EntryInAFamilyBeyondTheStoredCount",
       TwoFamilies({{1, "2 1 0 4 7"}, {4, "7 1 2 3 4 1 2 4"}}),
       "iway.dat: family 2, nuclear family 2, entry 3 (record 4, value 8) is"
       " member position 4, outside the family's members 1 to 3" +
           kOutside},
      {"EntryTwiceInOneNuclearFamily", TwoFamilies({{4, "7 1 2 3 3 1 2 3"}}),
       "iway.dat: family 1, nuclear family 1, entry 4 (record 4, value 5) lists"
       " member position 3 a second time. A member appears once in a nuclear"
       " family; correct record 4."},
      {"SameMemberAsBothParents", TwoFamilies({{4, "7 1 2 3 4 2 2 3"}}),
       "iway.dat: family 2, nuclear family 2, entry 2 (record 4, value 7) lists"
       " member position 2 a second time. A member appears once in a nuclear"
       " family; correct record 4."},
      // Connectors: 0, a parent or the first child.
      {"ConnectorIsTheSecondChild", TwoFamilies({{5, "4 0"}}),
       "iway.dat: family 1, nuclear family 1 has connector 4 (record 5, value"
       " 1), which is neither 0 (terminal), one of its parents (1, 2) nor its"
       " first child (3)" +
           kNotAConnector},
      {"ConnectorOutsideTheNuclearFamily", TwoFamilies({{5, "0 9"}}),
       "iway.dat: family 2, nuclear family 2 has connector 9 (record 5, value"
       " 2), which is neither 0 (terminal), one of its parents (1, 2) nor its"
       " first child (3)" +
           kNotAConnector},
      {"ConnectorNegative", TwoFamilies({{5, "-1 0"}}),
       "iway.dat: family 1, nuclear family 1 has connector -1 (record 5, value"
       " 1), which is neither 0 (terminal), one of its parents (1, 2) nor its"
       " first child (3)" +
           kNotAConnector},
      {"ChildConnectorOfAChildlessCouple",
       TwoFamilies({{3, "4 2 0 4 6"}, {4, "6 1 2 3 4 1 2"}, {5, "0 3"}}),
       "iway.dat: family 2, nuclear family 2 has connector 3 (record 5, value"
       " 2), which is neither 0 (terminal), one of its parents (1, 2) nor its"
       " first child (it has none)" +
           kNotAConnector},
      // Peeling order.
      {"PeeledOntoAMemberAlreadySummedOut",
       ThreeGenerations("1 2 3 4 3 5 6 7", "0 3"),
       "iway.dat: family 1, nuclear family 2 is peeled onto member position 3,"
       " who was already summed out in the earlier nuclear family 1 (where it"
       " is not the connector). A nuclear family must come before every nuclear"
       " family that contains its connector as another member: reorder the"
       " nuclear families of this family."},
      {"TerminalPeeledOntoAMemberAlreadySummedOut",
       ThreeGenerations("1 2 3 4 3 5 6 7", "1 0"),
       "iway.dat: family 1, nuclear family 2 is peeled onto member position 3,"
       " who was already summed out in the earlier nuclear family 1 (where it"
       " is not the connector). A nuclear family must come before every nuclear"
       " family that contains its connector as another member: reorder the"
       " nuclear families of this family."},
      {"MemberSummedOutTwice", FiveMembers("1 2 3 2 4 5", "0 4"),
       "iway.dat: family 1, nuclear family 2 lists member position 2, who was"
       " already summed out in the earlier nuclear family 1 (where it is not"
       " the connector)." +
           kNotSummed},
      {"ChildSummedOutThenAParent", ThreeGenerations("1 2 3 4 3 5 6 7", "1 5"),
       "iway.dat: family 1, nuclear family 2 lists member position 3, who was"
       " already summed out in the earlier nuclear family 1 (where it is not"
       " the connector)." +
           kNotSummed},
      {"ChildOfTwoNuclearFamilies", FiveMembers("1 2 3 4 5 3", "3 3"),
       "iway.dat: family 1, nuclear family 2: member position 3 is a child here"
       " and already a child in nuclear family 1. A member has one pair of"
       " parents; correct record 4."},
  };
  return rows;
}

class RejectTest : public DataDirTest,
                   public ::testing::WithParamInterface<RejectRow> {};

TEST_P(RejectTest, StopsWithItsMessageBeforeAnyOtherFileIsRead) {
  const RejectRow& row = GetParam();
  WriteFile("iway.dat", Lines(row.records));
  // No trait file: a rejection must come before it is opened.
  const auto outcome = Load();
  EXPECT_TRUE(outcome.rejected) << outcome.stderr_text;
  EXPECT_EQ(outcome.exit_status, kExitRejected);
  EXPECT_EQ(outcome.stderr_text, row.message + "\n");
  EXPECT_EQ(outcome.console, "");
  EXPECT_FALSE(Exists("trait.dat"));
}

INSTANTIATE_TEST_SUITE_P(EveryRule, RejectTest,
                         ::testing::ValuesIn(RejectRows()),
                         [](const ::testing::TestParamInfo<RejectRow>& info) {
                           return std::string(info.param.name);
                         });

// --- Unusual but legal structures
// ---------------------------------------------

struct LoadRow {
  const char* name;
  std::vector<std::string> records;
  std::int32_t members;  // S, for the trait file
};

const std::vector<LoadRow>& LoadRows() {
  static const std::vector<LoadRow> rows = {
      {"TwoFamilyExample", kTwoFamilyIway, 7},
      {"TwoSeparateTerminalNuclearFamilies",
       {"1 1 0 6", "0 0 2", "4 0 0 3 6", "6 1 2 3 4 5 6", "0 0",
        "6 1 2 1 1 2 2", "2 2 1 2 2 2"},
       6},
      {"HusbandOfTwoWivesClosesBoth", FiveMembers("1 2 3 1 4 5", "0 0"), 5},
      {"HusbandPeeledOntoThenClosed", FiveMembers("1 2 3 1 4 5", "1 0"), 5},
      {"MembersOutsideEveryNuclearFamily",
       {"1 1 0 5", "0 0 1", "3 0 0 3", "3 1 2 3", "0", "5 1 2 1 1 2",
        "2 2 1 2 2"},
       5},
      {"FamilyWithoutNuclearFamilies",
       {"1 1 0 3", "0 0 0", "2 0 0", "0", "", "3 1 2 1", "1 2 2"},
       3},
      {"ThreeGenerationsPeeledThroughAChild",
       ThreeGenerations("1 2 3 4 3 5 6 7", "3 0"), 7},
      {"ThreeGenerationsPeeledThroughAParent",
       ThreeGenerations("3 5 6 7 1 2 3 4", "3 0"), 7},
      {"ThreeGenerationsEndingOnTheSpouse",
       ThreeGenerations("1 2 3 4 3 5 6 7", "3 5"), 7},
      {"ConnectorIsTheSecondParent", TwoFamilies({{5, "2 0"}}), 7},
      {"StoredFamilyCountBelowListed", TwoFamilies({{1, "2 1 0 4 7"}}), 7},
      {"StoredFamilyCountZero", TwoFamilies({{1, "2 0 0 4 7"}}), 7},
      {"MembersBeforeTheFirstFamily",
       {"1 1 2 5", "0 0 1", "3 0 0 3", "3 1 2 3", "0", "5 1 2 1 1 2",
        "2 2 1 2 2"},
       5},
      {"EmptyFamilyBetweenFamilies",
       {"3 3 0 4 4 7", "0 0 1 1 2", "4 0 0 4 7", "7 1 2 3 4 1 2 3", "0 0",
        "7 1 2 1 2 1 2 1", "2 2 0 2 2 2 1"},
       7},
      {"SexCodesAreNotCheckedHere", TwoFamilies({{6, "7 0 3 1 2 1 2 -1"}}), 7},
  };
  return rows;
}

class LoadTest : public DataDirTest,
                 public ::testing::WithParamInterface<LoadRow> {};

TEST_P(LoadTest, LoadsAndValidates) {
  const LoadRow& row = GetParam();
  WriteFile("iway.dat", Lines(row.records));
  std::string trait;
  for (std::int32_t k = 0; k < row.members; ++k) trait += "1.25 ";
  WriteFile("trait.dat", trait + "\n");
  const auto outcome = Load();
  ASSERT_EQ(outcome.exit_status, 0) << outcome.stderr_text;
  EXPECT_EQ(outcome.console.substr(0, outcome.console.find('\n') + 1),
            " " + std::to_string(row.members) + "\n");
  // What the likelihood will read lies inside the loaded arrays.
  for (std::int32_t g = 1; g <= store_.StoredFamilyCount(); ++g) {
    const std::int32_t size = store_.FamilySize(g);
    ASSERT_LE(store_.MemberOffset(g) + size, store_.member_count);
    for (std::int32_t w = store_.FirstNuclear(g); w <= store_.LastNuclear(g);
         ++w) {
      ASSERT_LT(static_cast<std::size_t>(w), store_.connector.size());
      for (const std::int32_t x : store_.NuclearMembers(w)) {
        ASSERT_GE(x, 1);
        ASSERT_LE(x, size);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(UnusualButLegal, LoadTest,
                         ::testing::ValuesIn(LoadRows()),
                         [](const ::testing::TestParamInfo<LoadRow>& info) {
                           return std::string(info.param.name);
                         });

// --- Sex codes with Sex in the model
// ------------------------------------------

struct SexRow {
  const char* name;
  const char* sex_record;
  std::vector<std::int32_t> flags;  // [0] unused
  std::int32_t family_count;
  std::string message;  // empty: accepted
};

const std::string kSexAdvice =
    ". With Sex in the model every member of a selected family needs sex code"
    " 1 or 2: correct record 6, or take Sex out of the model.";

const std::vector<SexRow>& SexRows() {
  static const std::vector<SexRow> rows = {
      {"AllOneOrTwo", "7 1 2 1 2 1 2 1", {0, 1, 1}, 2, ""},
      {"ZeroInFamilyOne",
       "7 1 2 0 2 1 2 1",
       {0, 1, 1},
       2,
       "iway.dat, record 6, value 4: family 1, member position 3 has sex code"
       " 0" +
           kSexAdvice},
      {"ThreeInFamilyTwo",
       "7 1 2 1 2 1 2 3",
       {0, 1, 1},
       2,
       "iway.dat, record 6, value 8: family 2, member position 3 has sex code"
       " 3" +
           kSexAdvice},
      {"NegativeInFamilyTwo",
       "7 1 2 1 2 -2 2 1",
       {0, 1, 9},
       2,
       "iway.dat, record 6, value 6: family 2, member position 1 has sex code"
       " -2" +
           kSexAdvice},
      {"UnselectedFamilyIsNotChecked", "7 1 2 0 2 1 2 1", {0, 0, 1}, 2, ""},
      {"FamilyBeyondTheControlCountIsNotChecked",
       "7 1 2 1 2 1 2 3",
       {0, 1, 1},
       1,
       ""},
      {"ControlCountAboveTheListedCount",
       "7 1 2 1 2 1 2 1",
       {0, 1, 1, 1, 1, 1},
       5,
       ""},
      {"FlagsShorterThanTheCount", "7 1 2 1 2 1 2 3", {0, 1}, 2, ""},
  };
  return rows;
}

class SexCodeTest : public DataDirTest,
                    public ::testing::WithParamInterface<SexRow> {};

TEST_P(SexCodeTest, SelectedFamiliesNeedCodeOneOrTwo) {
  const SexRow& row = GetParam();
  WriteFile("iway.dat", Lines(TwoFamilies({{6, row.sex_record}})));
  WriteFile("trait.dat", testing::kTwoFamilyTrait);
  ASSERT_EQ(Load().exit_status, 0);
  if (row.message.empty()) {
    EXPECT_NO_THROW(ValidateSexCodes(store_, row.flags, row.family_count));
    return;
  }
  try {
    ValidateSexCodes(store_, row.flags, row.family_count);
    ADD_FAILURE() << "accepted";
  } catch (const InputRejected& rejected) {
    EXPECT_EQ(rejected.ExitStatus(), kExitRejected);
    EXPECT_EQ(rejected.StderrText(), row.message + "\n");
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, SexCodeTest, ::testing::ValuesIn(SexRows()),
                         [](const ::testing::TestParamInfo<SexRow>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace segmix
