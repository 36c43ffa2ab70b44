// ReadFamilyData: the seven iway.dat records, the trait and covariate files,
// the console lines, the family weights, the capacity stops and the ways a
// data file can fail to be read. Expected outputs are derived by hand from
// the record layouts.
#include "data/read_family_data.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "data/family_store.h"
#include "data/family_weights.h"
#include "data_test_support.h"
#include "textio/text_units.h"

namespace segmix {
namespace {

using testing::DataDirTest;
using testing::kTwoFamilyIway;
using testing::kTwoFamilyTrait;

// n integers "first first+step ..." separated by blanks.
std::string Sequence(int count, int first, int step) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    if (i > 0) text += ' ';
    text += std::to_string(first + i * step);
  }
  return text;
}

// `count` copies of `value` separated by blanks.
std::string Repeat(int count, const std::string& value) {
  std::string text;
  text.reserve(static_cast<std::size_t>(count) * (value.size() + 1));
  for (int i = 0; i < count; ++i) {
    if (i > 0) text += ' ';
    text += value;
  }
  return text;
}

class ReadFamilyDataTest : public DataDirTest {};

// --- The two-family example ---------------------------------------------

TEST_F(ReadFamilyDataTest, TwoFamilyExampleConsoleAndWeights) {
  WriteFile("iway.dat", Lines(kTwoFamilyIway));
  WriteFile("trait.dat", kTwoFamilyTrait);
  const auto outcome = Load("trait.dat       ");  // 16 characters, padded
  ASSERT_EQ(outcome.exit_status, 0) << outcome.stderr_text;
  // Member count, then "g c" for each family with observed members: family 1
  // has 12.5, 13.1, 14.0 observed and -999 missing; family 2 has 11.0 and
  // 10.4 observed.
  EXPECT_EQ(outcome.console, " 7\n 1 3\n 2 2\n");
  ASSERT_EQ(store_.family_weight.size(), static_cast<std::size_t>(N_FAM) + 1);
  EXPECT_EQ(store_.family_weight[1], 1.0 / 3.0);
  EXPECT_EQ(store_.family_weight[2], 0.5);
  EXPECT_EQ(store_.family_weight[3], 0.0);
  EXPECT_EQ(store_.family_weight[N_FAM], 0.0);
}

TEST_F(ReadFamilyDataTest, TwoFamilyExampleStoreContents) {
  WriteFile("iway.dat", Lines(kTwoFamilyIway));
  WriteFile("trait.dat", kTwoFamilyTrait);
  ASSERT_EQ(Load().exit_status, 0);
  const FamilyStore& s = store_;
  EXPECT_EQ(s.listed_family_count, 2);
  EXPECT_EQ(s.member_offset, (std::vector<std::int32_t>{2, 0, 4, 7}));
  EXPECT_EQ(s.StoredFamilyCount(), 2);
  EXPECT_EQ(s.nuclear_offset, (std::vector<std::int32_t>{2, 0, 1, 2}));
  EXPECT_EQ(s.list_offset_count, 4);
  EXPECT_EQ(s.list_offset, (std::vector<std::int32_t>{2, 0, 4, 7}));
  EXPECT_EQ(s.member_list_length, 7);
  EXPECT_EQ(s.member_list, (std::vector<std::int32_t>{0, 1, 2, 3, 4, 1, 2, 3}));
  EXPECT_EQ(s.connector, (std::vector<std::int32_t>{0, 0, 0}));
  EXPECT_EQ(s.member_count, 7);
  EXPECT_EQ(s.sex, (std::vector<std::int32_t>{0, 1, 2, 1, 2, 1, 2, 1}));
  EXPECT_EQ(s.status, (std::vector<std::int32_t>{0, 2, 2, 0, 2, 2, 2, 1}));
  EXPECT_EQ(s.trait, (std::vector<float>{0.0f, 12.5f, 13.1f, 14.0f, -999.0f,
                                         11.0f, -999.0f, 10.4f}));
  for (int q = 1; q <= kCovariateSlots; ++q) {
    EXPECT_EQ(s.covariate[q], std::vector<float>(8, 0.0f)) << "slot " << q;
  }
  // Accessors: sizes, member offsets, nuclear-family ranges, entries.
  EXPECT_EQ(s.FamilySize(1), 4);
  EXPECT_EQ(s.FamilySize(2), 3);
  EXPECT_EQ(s.MemberOffset(2), 4);
  EXPECT_EQ(s.FirstNuclear(2), 2);
  EXPECT_EQ(s.LastNuclear(2), 2);
  const auto second = s.NuclearMembers(2);
  EXPECT_EQ(std::vector<std::int32_t>(second.begin(), second.end()),
            (std::vector<std::int32_t>{1, 2, 3}));
  EXPECT_EQ(s.LargestFamilySize(), 4);
  // Families beyond the listed count have no members and no nuclear family.
  EXPECT_EQ(s.FamilySize(3), 0);
  EXPECT_EQ(s.MemberOffset(3), 0);
  EXPECT_LT(s.LastNuclear(3), s.FirstNuclear(3));
  EXPECT_EQ(s.FamilySize(N_FAM), 0);
  EXPECT_EQ(s.FamilySize(0), 0);
}

// --- Record boundaries, line ends, values ----------------------------------

TEST_F(ReadFamilyDataTest, RecordEndingMidLineIgnoresTheRestOfItsLine) {
  std::vector<std::string> records = kTwoFamilyIway;
  records[0] += " 99 not numbers";  // record 2 starts on the next line
  records[2] += " 5 6";
  records[6] += " trailing words";
  WriteFile("iway.dat", Lines(records));
  WriteFile("trait.dat", "12.5 13.1 14.0 -999 11.0 -999 10.4 8.0 rest\n");
  const auto outcome = Load();
  ASSERT_EQ(outcome.exit_status, 0) << outcome.stderr_text;
  EXPECT_EQ(outcome.console, " 7\n 1 3\n 2 2\n");
  EXPECT_EQ(store_.list_offset, (std::vector<std::int32_t>{2, 0, 4, 7}));
}

TEST_F(ReadFamilyDataTest, RecordReadsOnAcrossLines) {
  // Record 4 over three lines, the trait record over two.
  std::vector<std::string> records = kTwoFamilyIway;
  records[3] = "7\n1 2 3 4\n1 2 3";
  WriteFile("iway.dat", Lines(records));
  WriteFile("trait.dat", "12.5 13.1 14.0\n-999 11.0 -999 10.4\n");
  const auto outcome = Load();
  ASSERT_EQ(outcome.exit_status, 0) << outcome.stderr_text;
  EXPECT_EQ(outcome.console, " 7\n 1 3\n 2 2\n");
  EXPECT_EQ(store_.member_list,
            (std::vector<std::int32_t>{0, 1, 2, 3, 4, 1, 2, 3}));
}

TEST_F(ReadFamilyDataTest, CrLfLineEndsReadLikeLf) {
  std::string iway;
  for (const std::string& r : kTwoFamilyIway) iway += r + "\r\n";
  WriteFile("iway.dat", iway);
  WriteFile("trait.dat", "12.5 13.1 14.0 -999 11.0 -999 10.4\r\n");
  WriteFile("cov.dat", "1 2 3 4 5 6 7\r\n");
  const auto outcome = Load("trait.dat", {"cov.dat"});
  ASSERT_EQ(outcome.exit_status, 0) << outcome.stderr_text;
  EXPECT_EQ(outcome.console, " 7\n 1 3\n 2 2\n");
  EXPECT_EQ(store_.status[7], 1);
  EXPECT_EQ(store_.trait[7], 10.4f);
  EXPECT_EQ(store_.covariate[1][7], 7.0f);
}

TEST_F(ReadFamilyDataTest, EmptyRecordsStillPassOverOneLine) {
  // n = 0, M = 2 (no nuclear family), L = 0, S = 0: record 5, record 7 and the
  // trait record read no values, and each passes over one (empty) line.
  WriteFile("iway.dat", Lines({"0 0 0", "0 0", "2 0 0", "0", "", "0", ""}));
  WriteFile("trait.dat", "\n");
  const auto outcome = Load();
  ASSERT_EQ(outcome.exit_status, 0) << outcome.stderr_text;
  EXPECT_EQ(outcome.console, " 0\n");
  EXPECT_EQ(store_.StoredFamilyCount(), 0);
  EXPECT_EQ(store_.LargestFamilySize(), 0);
}

TEST_F(ReadFamilyDataTest, MissingEmptyLineShiftsRecordsAndFailsAtEndOfFile) {
  // Without the line for record 5, record 5 passes over record 6's line and
  // record 6 finds no value before the end of the file: the read fails.
  WriteFile("iway.dat", Lines({"0 0 0", "0 0", "2 0 0", "0", "0", ""}));
  WriteFile("trait.dat", "\n");
  const auto outcome = Load();
  EXPECT_TRUE(outcome.text_error);
  EXPECT_EQ(outcome.exit_status, kExitTextIo);
  EXPECT_NE(outcome.stderr_text.find("End of file"), std::string::npos)
      << outcome.stderr_text;
}

// --- Observed members and weights -------------------------------------------

TEST_F(ReadFamilyDataTest, MinusNineNineEightIsObservedAndBelowItIsMissing) {
  // One family of four: -998 counts, -998.5 and -999 do not, 0 does.
  WriteFile("iway.dat", Lines({"1 1 0 4", "0 0 1", "3 0 0 4", "4 1 2 3 4", "0",
                               "4 1 2 1 2", "2 2 1 2"}));
  WriteFile("trait.dat", "-998 -998.5 0 -999\n");
  const auto outcome = Load();
  ASSERT_EQ(outcome.exit_status, 0) << outcome.stderr_text;
  EXPECT_EQ(outcome.console, " 4\n 1 2\n");
  EXPECT_EQ(store_.family_weight[1], 0.5);
  EXPECT_EQ(store_.trait[1], -998.0f);
  EXPECT_EQ(store_.trait[2], -998.5f);
}

TEST_F(ReadFamilyDataTest, OnlyFamiliesWithObservedMembersGetALine) {
  // Family 1 all missing: weight 0 and no line; family 2 has one observed.
  WriteFile("iway.dat", Lines(kTwoFamilyIway));
  WriteFile("trait.dat", "-999 -999 -1000 -999 -999 5 -999\n");
  const auto outcome = Load();
  ASSERT_EQ(outcome.exit_status, 0) << outcome.stderr_text;
  EXPECT_EQ(outcome.console, " 7\n 2 1\n");
  EXPECT_EQ(store_.family_weight[1], 0.0);
  EXPECT_EQ(store_.family_weight[2], 1.0);
}

TEST_F(ReadFamilyDataTest, StoredFamilyCountLimitsTheWeights) {
  // n = 2 but only family 1 is stored: family 2 is loaded, checked and
  // counted elsewhere, but gets no weight and no line here.
  std::vector<std::string> records = kTwoFamilyIway;
  records[0] = "2 1 0 4 7";
  WriteFile("iway.dat", Lines(records));
  WriteFile("trait.dat", kTwoFamilyTrait);
  const auto outcome = Load();
  ASSERT_EQ(outcome.exit_status, 0) << outcome.stderr_text;
  EXPECT_EQ(outcome.console, " 7\n 1 3\n");
  EXPECT_EQ(store_.family_weight[1], 1.0 / 3.0);
  EXPECT_EQ(store_.family_weight[2], 0.0);
  EXPECT_EQ(store_.FamilySize(2), 3);
}

TEST_F(ReadFamilyDataTest, EmptyFamiliesGetNoLine) {
  // Families 1 and 3 have no members (offsets equal), family 2 has two.
  WriteFile("iway.dat", Lines({"3 3 0 0 2 2", "0 0 0 1 1", "3 0 0 2", "2 1 2",
                               "0", "2 1 2", "1 2"}));
  WriteFile("trait.dat", "3.5 4.5\n");
  const auto outcome = Load();
  ASSERT_EQ(outcome.exit_status, 0) << outcome.stderr_text;
  EXPECT_EQ(outcome.console, " 2\n 2 2\n");
  EXPECT_EQ(store_.FamilySize(1), 0);
  EXPECT_EQ(store_.FamilySize(3), 0);
  EXPECT_EQ(store_.family_weight[2], 0.5);
}

TEST_F(ReadFamilyDataTest, TraitThatIsNotANumberIsNotCounted) {
  WriteFile("iway.dat", Lines(kTwoFamilyIway));
  WriteFile("trait.dat", kTwoFamilyTrait);
  ASSERT_EQ(Load().exit_status, 0);
  // The files cannot carry one, but the counting rule must not count it.
  store_.trait[1] = std::numeric_limits<float>::quiet_NaN();
  store_.trait[5] = std::numeric_limits<float>::quiet_NaN();
  store_.trait[7] = std::numeric_limits<float>::quiet_NaN();
  std::ostringstream console;
  {
    TextUnits units(console);
    DeriveFamilyWeights(units, store_);
    units.CloseAll();
  }
  EXPECT_EQ(console.str(), " 1 2\n");
  EXPECT_EQ(store_.family_weight[1], 0.5);
  EXPECT_EQ(store_.family_weight[2], 0.0);
}

// --- Covariates
// ---------------------------------------------------------------

TEST_F(ReadFamilyDataTest, CovariateFilesFillTheirSlotsInOrder) {
  WriteFile("iway.dat", Lines(kTwoFamilyIway));
  WriteFile("trait.dat", kTwoFamilyTrait);
  WriteFile("age.dat", "41 39 12 10 50 48 20\n");
  WriteFile("bmi.dat", "24.5 22.0 18.25 17.5 30.0 27.5 21.0\n");
  // Names as the control file holds them: 16 characters, blank-padded.
  const auto outcome =
      Load("trait.dat       ", {"age.dat         ", "bmi.dat         "});
  ASSERT_EQ(outcome.exit_status, 0) << outcome.stderr_text;
  EXPECT_EQ(outcome.console, " 7\n 1 3\n 2 2\n");
  EXPECT_EQ(store_.covariate[1],
            (std::vector<float>{0, 41, 39, 12, 10, 50, 48, 20}));
  EXPECT_EQ(store_.covariate[2],
            (std::vector<float>{0, 24.5f, 22.0f, 18.25f, 17.5f, 30.0f, 27.5f,
                                21.0f}));
  for (int q = 3; q <= kCovariateSlots; ++q) {
    EXPECT_EQ(store_.covariate[q], std::vector<float>(8, 0.0f)) << "slot " << q;
  }
  EXPECT_FALSE(Exists("age.dat         "));
}

TEST_F(ReadFamilyDataTest, MoreCovariateFilesThanSlotsAreRejected) {
  WriteFile("iway.dat", Lines(kTwoFamilyIway));
  WriteFile("trait.dat", kTwoFamilyTrait);
  const std::vector<std::string> names(9, "c.dat");
  const auto outcome = Load("trait.dat", names);
  EXPECT_TRUE(outcome.rejected);
  EXPECT_EQ(outcome.exit_status, kExitRejected);
  EXPECT_EQ(outcome.stderr_text,
            "par.inp: 9 covariate files are named, but a member holds at most"
            " 8 covariate values. Lower the covariate count in par.inp.\n");
  EXPECT_EQ(outcome.console, "");
}

// --- Files that cannot be read
// ------------------------------------------------

TEST_F(ReadFamilyDataTest, MissingIwayDatIsAnErrorReport) {
  const auto outcome = Load();
  EXPECT_TRUE(outcome.text_error);
  EXPECT_EQ(outcome.exit_status, kExitTextIo);
  EXPECT_NE(outcome.stderr_text.find("file: \"iway.dat\""), std::string::npos)
      << outcome.stderr_text;
  EXPECT_NE(outcome.stderr_text.find(std::strerror(ENOENT)), std::string::npos)
      << outcome.stderr_text;
  EXPECT_EQ(outcome.console, "");
  EXPECT_FALSE(Exists("iway.dat"));  // opened as an existing file: not created
}

TEST_F(ReadFamilyDataTest, MissingTraitFileIsAnErrorReportAfterTheCountLine) {
  WriteFile("iway.dat", Lines(kTwoFamilyIway));
  const auto outcome = Load("trait.dat       ");
  EXPECT_TRUE(outcome.text_error);
  EXPECT_EQ(outcome.exit_status, kExitTextIo);
  EXPECT_NE(outcome.stderr_text.find("file: \"trait.dat\""), std::string::npos)
      << outcome.stderr_text;
  EXPECT_NE(outcome.stderr_text.find(std::strerror(ENOENT)), std::string::npos);
  EXPECT_EQ(outcome.console, " 7\n");
  EXPECT_FALSE(Exists("trait.dat"));
}

TEST_F(ReadFamilyDataTest, MissingCovariateFileIsAnErrorReport) {
  WriteFile("iway.dat", Lines(kTwoFamilyIway));
  WriteFile("trait.dat", kTwoFamilyTrait);
  WriteFile("age.dat", "1 2 3 4 5 6 7\n");
  const auto outcome = Load("trait.dat", {"age.dat", "height.dat"});
  EXPECT_TRUE(outcome.text_error);
  EXPECT_NE(outcome.stderr_text.find("file: \"height.dat\""), std::string::npos)
      << outcome.stderr_text;
  EXPECT_FALSE(Exists("height.dat"));
}

TEST_F(ReadFamilyDataTest, ShortTraitFileFailsAtEndOfFile) {
  WriteFile("iway.dat", Lines(kTwoFamilyIway));
  WriteFile("trait.dat", "12.5 13.1 14.0\n");
  const auto outcome = Load();
  EXPECT_TRUE(outcome.text_error);
  EXPECT_EQ(outcome.exit_status, kExitTextIo);
  EXPECT_NE(outcome.stderr_text.find("(Unit 2 \"trait.dat\")"),
            std::string::npos)
      << outcome.stderr_text;
  EXPECT_NE(outcome.stderr_text.find("End of file"), std::string::npos);
}

TEST_F(ReadFamilyDataTest, NonIntegerInIwayDatFails) {
  std::vector<std::string> records = kTwoFamilyIway;
  records[5] = "7 1 2 1.5 2 1 2 1";
  WriteFile("iway.dat", Lines(records));
  WriteFile("trait.dat", kTwoFamilyTrait);
  const auto outcome = Load();
  EXPECT_TRUE(outcome.text_error);
  EXPECT_NE(outcome.stderr_text.find("(Unit 2 \"iway.dat\")"),
            std::string::npos)
      << outcome.stderr_text;
  EXPECT_NE(outcome.stderr_text.find("Bad integer for item 4 in list input"),
            std::string::npos)
      << outcome.stderr_text;
}

// --- Capacities
// ---------------------------------------------------------------

// Every capacity stop: the exact stderr text, exit status 1, nothing on the
// console, and no file read past the count that breaks the capacity (the
// values that follow it are not numbers, and would fail if read).
void ExpectCapacityStop(const testing::LoadOutcome& outcome,
                        const std::string& limit) {
  EXPECT_TRUE(outcome.capacity_stop) << outcome.stderr_text;
  EXPECT_EQ(outcome.exit_status, kExitRejected);
  EXPECT_EQ(outcome.stderr_text,
            "STOP " + limit + " exceed. Correct and recompile\n");
  EXPECT_EQ(outcome.console, "");
}

TEST_F(ReadFamilyDataTest, SixHundredFourFamiliesAreAccepted) {
  // One member per family: offsets 0, 1, ..., 604.
  WriteFile("iway.dat",
            Lines({"604 604 " + Sequence(605, 0, 1), Repeat(606, "0"), "2 0 0",
                   "0", "", "604 " + Repeat(604, "1"), Repeat(604, "2")}));
  WriteFile("trait.dat", Repeat(604, "1.5") + "\n");
  const auto outcome = Load();
  ASSERT_EQ(outcome.exit_status, 0) << outcome.stderr_text;
  std::string expected = " 604\n";
  for (int g = 1; g <= 604; ++g) {
    expected.append(" ").append(std::to_string(g)).append(" 1\n");
  }
  EXPECT_EQ(outcome.console, expected);
  EXPECT_EQ(store_.family_weight[604], 1.0);
  EXPECT_EQ(store_.FamilySize(604), 1);
  EXPECT_EQ(store_.MemberOffset(604), 603);
}

TEST_F(ReadFamilyDataTest, SixHundredFiveFamiliesStopBeforeRecordTwo) {
  WriteFile("iway.dat", Lines({"605 x", "not a record", "x"}));
  ExpectCapacityStop(Load(), "N_FAM");
  EXPECT_TRUE(store_.member_offset.empty());
}

TEST_F(ReadFamilyDataTest, TwoMillionListOffsetsAreAccepted) {
  // M = 2000000: 1999998 nuclear families, all empty; the closing offset of
  // record 2 must reach the nuclear-family count.
  WriteFile("iway.dat",
            Lines({"0 0 0", "0 1999998", "2000000 " + Repeat(2000000, "0"), "0",
                   Repeat(1999998, "0"), "0", ""}));
  WriteFile("trait.dat", "\n");
  const auto outcome = Load();
  ASSERT_EQ(outcome.exit_status, 0) << outcome.stderr_text;
  EXPECT_EQ(outcome.console, " 0\n");
  EXPECT_EQ(store_.list_offset.size(), 2000000u);
  EXPECT_EQ(store_.connector.size(), 1999999u);
}

TEST_F(ReadFamilyDataTest, TwoMillionAndOneListOffsetsStopBeforeTheirValues) {
  WriteFile("iway.dat", Lines({"0 0 0", "0 0", "2000001 x", "x", "x"}));
  ExpectCapacityStop(Load(), "N_WAY");
  EXPECT_TRUE(store_.list_offset.empty());
}

TEST_F(ReadFamilyDataTest, TwoMillionListEntriesAreAccepted) {
  // L = 2000000 entries and no nuclear family (M = 2); the closing offset of
  // record 3 must reach the member-list length.
  WriteFile("iway.dat",
            Lines({"0 0 0", "0 0", "2 0 2000000",
                   "2000000 " + Repeat(2000000, "1"), "", "0", ""}));
  WriteFile("trait.dat", "\n");
  const auto outcome = Load();
  ASSERT_EQ(outcome.exit_status, 0) << outcome.stderr_text;
  EXPECT_EQ(outcome.console, " 0\n");
  EXPECT_EQ(store_.member_list.size(), 2000001u);
  EXPECT_EQ(store_.member_list[2000000], 1);
}

TEST_F(ReadFamilyDataTest, TwoMillionAndOneListEntriesStopBeforeTheirValues) {
  // M = 3, so record 5 would read one value from the "x" line.
  WriteFile("iway.dat",
            Lines({"0 0 0", "0 0", "3 0 0 0", "2000001 x", "x", "x"}));
  ExpectCapacityStop(Load(), "N_WAY");
  EXPECT_TRUE(store_.member_list.empty());
  EXPECT_TRUE(store_.connector.empty());
}

TEST_F(ReadFamilyDataTest, TwentyFiveThousandMembersAreAccepted) {
  WriteFile("iway.dat",
            Lines({"1 1 0 25000", "0 0 0", "2 0 0", "0", "",
                   "25000 " + Repeat(25000, "2"), Repeat(25000, "2")}));
  WriteFile("trait.dat", Repeat(24999, "2.5") + " -999\n");
  const auto outcome = Load();
  ASSERT_EQ(outcome.exit_status, 0) << outcome.stderr_text;
  EXPECT_EQ(outcome.console, " 25000\n 1 24999\n");
  EXPECT_EQ(store_.family_weight[1], 1.0 / 24999.0);
  EXPECT_EQ(store_.trait.size(), 25001u);
  EXPECT_EQ(store_.trait[25000], -999.0f);
}

TEST_F(ReadFamilyDataTest,
       TwentyFiveThousandAndOneMembersStopBeforeRecordSeven) {
  WriteFile("iway.dat",
            Lines({"1 1 0 0", "0 0 0", "2 0 0", "0", "", "25001 x", "x"}));
  ExpectCapacityStop(Load(), "N_SIZE");
  EXPECT_TRUE(store_.sex.empty());
  EXPECT_TRUE(store_.status.empty());
}

}  // namespace
}  // namespace segmix
