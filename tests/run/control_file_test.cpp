// ReadControlFile on hand-written par.inp files: the first free-form record,
// the selection flags over several records, the fixed columns of the
// parameter records, the covariate file names, and the rows the reader
// rejects (family count, covariate count, tie index) with their messages.
#include "run/control_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "data/family_store.h"
#include "run_test_support.h"
#include "textio/statements.h"
#include "textio/termination.h"
#include "textio/text_units.h"

namespace segmix::testing {
namespace {

// A parameter record in its columns: I3, I3, I2 and four 12-column real
// fields, each field given as the text it holds (right-aligned here).
std::string ParameterRecord(int tie, int in_model, int estimate,
                            const std::string& value, const std::string& step,
                            const std::string& gl, const std::string& gr) {
  return RightAligned(std::to_string(tie), 3) +
         RightAligned(std::to_string(in_model), 3) +
         RightAligned(std::to_string(estimate), 2) + RightAligned(value, 12) +
         RightAligned(step, 12) + RightAligned(gl, 12) + RightAligned(gr, 12);
}

// Fifteen records, row j independent (tie j), in the model, fixed, value j.
std::vector<std::string> PlainParameterRecords() {
  std::vector<std::string> records;
  for (int j = 1; j <= 15; ++j) {
    records.push_back(ParameterRecord(j, 1, 0, std::to_string(j) + ".0", "0.5",
                                      "-100.", "100."));
  }
  return records;
}

struct ControlOutcome {
  ControlSettings settings;
  ParameterTable table;
  int exit_status = 0;  // 0: read completely
  std::string errors;   // the termination's standard-error text
  bool rejected = false;
  bool text_error = false;
  TerminationKind kind = TerminationKind::kStop;
  std::string next_record;  // the free-form record after what was read
};

class ControlFileTest : public RunDirTest {
 protected:
  // Writes par.inp from `records` and reads it; then reads one more
  // free-form character value to see where the reader left the unit.
  ControlOutcome Read(const std::vector<std::string>& records) {
    WriteFile("par.inp", Lines(records));
    return ReadWritten();
  }

  ControlOutcome ReadWritten() {
    ControlOutcome outcome;
    std::ostringstream console;
    TextUnits units(console);
    try {
      units.Open(1, "par.inp", OpenStatus::kOld);
      ReadControlFile(units, outcome.settings, outcome.table);
    } catch (const InputRejected& rejected) {
      outcome.rejected = true;
      outcome.kind = rejected.Kind();
      outcome.exit_status = rejected.ExitStatus();
      outcome.errors = rejected.StderrText();
      return outcome;
    } catch (const TextIoError& error) {
      outcome.text_error = true;
      outcome.kind = error.Kind();
      outcome.exit_status = error.ExitStatus();
      outcome.errors = error.StderrText();
      return outcome;
    }
    try {
      ReadStatement next(units, 1);
      next.Text(outcome.next_record, 12);
      next.End();
    } catch (const TextIoError&) {
      outcome.next_record = "<end of file>";
    }
    EXPECT_EQ(console.str(), "") << "the reader writes nothing";
    return outcome;
  }

  // A control file: first record, flag records, 15 parameter records, then
  // `tail` (covariate names and whatever follows).
  static std::vector<std::string> File(const std::string& first,
                                       const std::vector<std::string>& flags,
                                       const std::vector<std::string>& tail) {
    std::vector<std::string> records{first};
    records.insert(records.end(), flags.begin(), flags.end());
    for (const std::string& r : PlainParameterRecords()) records.push_back(r);
    records.insert(records.end(), tail.begin(), tail.end());
    return records;
  }
};

// --- First record ---------------------------------------------------------

TEST_F(ControlFileTest, FirstRecordFourValuesAndTheRestOfItsLineSkipped) {
  const ControlOutcome o =
      Read(File("3 1 'trait.dat' 0 this is a comment", {"101"}, {"AFTER"}));
  ASSERT_FALSE(o.rejected || o.text_error) << o.errors;
  EXPECT_EQ(o.settings.family_count, 3);
  EXPECT_EQ(o.settings.proband_switch, 1);
  EXPECT_EQ(o.settings.data_file_name, "trait.dat       ");
  EXPECT_EQ(o.settings.covariate_count, 0);
  EXPECT_EQ(o.next_record, "AFTER       ");
}

TEST_F(ControlFileTest, FirstRecordReadsOnIntoTheNextLinesWhenShort) {
  const ControlOutcome o = Read(File("2,", {"0", "'t.dat'", "0", "11"}, {}));
  ASSERT_FALSE(o.rejected || o.text_error) << o.errors;
  EXPECT_EQ(o.settings.family_count, 2);
  EXPECT_EQ(o.settings.proband_switch, 0);
  EXPECT_EQ(o.settings.data_file_name, "t.dat           ");
  EXPECT_EQ(o.settings.covariate_count, 0);
  EXPECT_EQ(o.settings.selection_flags[1], 1);
  EXPECT_EQ(o.settings.selection_flags[2], 1);
  EXPECT_EQ(o.table.value[1], 1.0);
}

struct NameRow {
  const char* written;   // the third value of the first record
  const char* expected;  // the 16-character name
};

class DataFileNameTest : public ControlFileTest,
                         public ::testing::WithParamInterface<NameRow> {};

TEST_P(DataFileNameTest, NameAsRead) {
  const ControlOutcome o =
      Read(File(std::string("1 0 ") + GetParam().written + " 0", {"1"}, {}));
  ASSERT_FALSE(o.rejected || o.text_error) << o.errors;
  EXPECT_EQ(o.settings.data_file_name, GetParam().expected);
  EXPECT_EQ(o.settings.data_file_name.size(), 16u);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DataFileNameTest,
    ::testing::Values(
        NameRow{"trait.dat", "trait.dat       "},
        NameRow{"'trait.dat'", "trait.dat       "},
        NameRow{"\"trait.dat\"", "trait.dat       "},
        // Blanks inside a name need delimiters ...
        NameRow{"'my trait.dat'", "my trait.dat    "},
        NameRow{"\"my trait.dat\"", "my trait.dat    "},
        // ... a doubled delimiter stands for one ...
        NameRow{"'o''neil.dat'", "o'neil.dat      "},
        // ... and 16 characters are kept of a longer name.
        NameRow{"'abcdefghijklmnopqrstuvwxyz'", "abcdefghijklmnop"},
        NameRow{"abcdefghijklmnop", "abcdefghijklmnop"},
        // A slash inside a name needs delimiters too: unquoted, it ends the
        // record's values (the covariate count keeps its 0).
        NameRow{"'sub/trait.dat'", "sub/trait.dat   "},
        NameRow{"sub/trait.dat", "sub             "}));

TEST_F(ControlFileTest, UnquotedNameEndsAtItsFirstBlank) {
  // "my" is the name and "trait.dat" is read as the covariate count, which
  // is not an integer: the layer's report, exit status 2.
  const ControlOutcome o = Read(File("1 0 my trait.dat 0", {"1"}, {}));
  EXPECT_TRUE(o.text_error);
  EXPECT_EQ(o.exit_status, 2);
  EXPECT_NE(o.errors.find("Bad integer for item 4 in list input"),
            std::string::npos)
      << o.errors;
}

// --- Selection flags --------------------------------------------------------

TEST_F(ControlFileTest, FortyFiveFlagsTakeThreeRecordsOfTwentyTwentyFive) {
  const ControlOutcome o =
      Read(File("45 0 t.dat 0",
                {"12345678901234567890", "09876543210987654321", "10203"}, {}));
  ASSERT_FALSE(o.rejected || o.text_error) << o.errors;
  const std::string digits =
      "12345678901234567890"
      "09876543210987654321"
      "10203";
  ASSERT_EQ(o.settings.selection_flags.size(), 605u);
  for (int g = 1; g <= 45; ++g) {
    EXPECT_EQ(o.settings.selection_flags[g], digits[g - 1] - '0') << "g=" << g;
  }
  for (int g = 46; g <= 604; ++g) {
    ASSERT_EQ(o.settings.selection_flags[g], 0) << "g=" << g;
  }
}

TEST_F(ControlFileTest, FlagsConsumeExactlyTheirRecords) {
  // 45 flags: three records, then parameter record 1 at once.
  std::vector<std::string> records{"45 0 t.dat 0", std::string(20, '1'),
                                   std::string(20, '1'), "11111"};
  for (const std::string& r : PlainParameterRecords()) records.push_back(r);
  records.push_back("AFTER");
  const ControlOutcome o = Read(records);
  ASSERT_FALSE(o.rejected || o.text_error) << o.errors;
  EXPECT_EQ(o.table.value[1], 1.0);
  EXPECT_EQ(o.table.value[15], 15.0);
  EXPECT_EQ(o.next_record, "AFTER       ");
}

TEST_F(ControlFileTest, TwentyFlagsOneRecordTwentyOneTwo) {
  for (const int count : {20, 21}) {
    std::vector<std::string> records{std::to_string(count) + " 0 t.dat 0",
                                     std::string(20, '7')};
    if (count == 21) records.push_back("3");
    for (const std::string& r : PlainParameterRecords()) records.push_back(r);
    const ControlOutcome o = Read(records);
    ASSERT_FALSE(o.rejected || o.text_error) << count << ": " << o.errors;
    EXPECT_EQ(o.settings.selection_flags[20], 7);
    EXPECT_EQ(o.settings.selection_flags[21], count == 21 ? 3 : 0);
    EXPECT_EQ(o.table.value[2], 2.0) << count;
  }
}

TEST_F(ControlFileTest, ShortFlagRecordAndBlankColumnsLeaveFamiliesOut) {
  // Family 2's column is blank, family 4's holds 0, families 6 and 7 are
  // past the end of the record.
  const ControlOutcome o = Read(File("7 0 t.dat 0", {"1 90 5"}, {}));
  ASSERT_FALSE(o.rejected || o.text_error) << o.errors;
  const std::vector<int> expected{0, 1, 0, 9, 0, 0, 5, 0, 0};
  for (int g = 1; g <= 8; ++g) {
    EXPECT_EQ(o.settings.selection_flags[g], expected[g]) << "g=" << g;
  }
  EXPECT_EQ(o.table.value[1], 1.0);
}

TEST_F(ControlFileTest, FamilyCountZeroStillConsumesOneFlagRecord) {
  const ControlOutcome o =
      Read(File("0 0 t.dat 0", {"this line is passed over"}, {}));
  ASSERT_FALSE(o.rejected || o.text_error) << o.errors;
  EXPECT_EQ(o.settings.family_count, 0);
  EXPECT_EQ(o.table.tie[1], 1);
  EXPECT_EQ(o.table.value[15], 15.0);
}

// --- Parameter records ------------------------------------------------------

struct RealFieldRow {
  const char* field;  // the 12 columns of the value field
  double expected;
};

class RealFieldTest : public ControlFileTest,
                      public ::testing::WithParamInterface<RealFieldRow> {};

TEST_P(RealFieldTest, ValueFieldReadsAs) {
  std::vector<std::string> records{"1 0 t.dat 0", "1"};
  std::vector<std::string> params = PlainParameterRecords();
  params[3] = "  4  1 1" + std::string(GetParam().field) + "         0.5" +
              "         0.0        20.0";
  ASSERT_EQ(params[3].size(), 56u);
  records.insert(records.end(), params.begin(), params.end());
  const ControlOutcome o = Read(records);
  ASSERT_FALSE(o.rejected || o.text_error) << o.errors;
  EXPECT_EQ(o.table.value[4], GetParam().expected) << GetParam().field;
  EXPECT_EQ(o.table.step[4], 0.5);
  EXPECT_EQ(o.table.GR[4], 20.0);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RealFieldTest,
    ::testing::Values(
        RealFieldRow{"   1.234E+01", 12.34},
        RealFieldRow{"   1.234e+01", 12.34},
        RealFieldRow{"     1.234D1", 12.34},
        RealFieldRow{"    1.234+01", 12.34},  // sign right after the digits
        // No point: the digits are scaled by 10^-5.
        RealFieldRow{"       12340", 0.1234},
        RealFieldRow{"     1500000", 15.0}, RealFieldRow{"          -5", -5e-5},
        RealFieldRow{"     12340E2", 12.34},  // exponent added to the -5
        RealFieldRow{"        15.0", 15.0}, RealFieldRow{"         15.", 15.0},
        RealFieldRow{"       -.125", -0.125},
        RealFieldRow{"            ", 0.0},   // blank field
        RealFieldRow{"  1 2. 5    ", 12.5},  // inner blanks ignored
        RealFieldRow{"0.1         ", 0.1},   // left-aligned
        RealFieldRow{"  1.0000001 ", 1.0000001},
        RealFieldRow{"   1.0E+300 ", 1.0e300}));

TEST_F(ControlFileTest, ParameterRecordColumnsAndIntegerFields) {
  std::vector<std::string> records{"1 0 t.dat 0", "1"};
  std::vector<std::string> params = PlainParameterRecords();
  //            tie  in est  value       step        GL          GR
  params[8] = " 8 -1 2" + std::string("     0.75   ") + "   -0.01    " +
              "  -1.0E+00  " + "   1.0D0    ";
  records.insert(records.end(), params.begin(), params.end());
  const ControlOutcome o = Read(records);
  ASSERT_FALSE(o.rejected || o.text_error) << o.errors;
  EXPECT_EQ(o.table.tie[9], 8);
  EXPECT_EQ(o.table.in_model[9], -1);
  EXPECT_EQ(o.table.estimate[9], 2);
  EXPECT_EQ(o.table.value[9], 0.75);
  EXPECT_EQ(o.table.step[9], -0.01);
  EXPECT_EQ(o.table.GL[9], -1.0);
  EXPECT_EQ(o.table.GR[9], 1.0);
}

TEST_F(ControlFileTest, ShortParameterRecordLeavesMissingFieldsZero) {
  std::vector<std::string> records{"1 0 t.dat 0", "1"};
  std::vector<std::string> params = PlainParameterRecords();
  params[0] = "  1  1 1         0.2";        // value only
  params[1] = "  2";                         // tie index only
  params[2] = "  3  1 1         0.5   0.0";  // step cut inside its field
  records.insert(records.end(), params.begin(), params.end());
  const ControlOutcome o = Read(records);
  ASSERT_FALSE(o.rejected || o.text_error) << o.errors;
  EXPECT_EQ(o.table.value[1], 0.2);
  EXPECT_EQ(o.table.estimate[1], 1);
  EXPECT_EQ(o.table.step[1], 0.0);
  EXPECT_EQ(o.table.GL[1], 0.0);
  EXPECT_EQ(o.table.GR[1], 0.0);
  EXPECT_EQ(o.table.tie[2], 2);
  EXPECT_EQ(o.table.in_model[2], 0);
  EXPECT_EQ(o.table.estimate[2], 0);
  EXPECT_EQ(o.table.value[2], 0.0);
  EXPECT_EQ(o.table.value[3], 0.5);
  EXPECT_EQ(o.table.step[3], 0.0);  // "   0.0" in columns 21..26
  EXPECT_EQ(o.table.value[4], 4.0);
}

TEST_F(ControlFileTest, ColumnsBeyondFiftySixAreIgnored) {
  std::vector<std::string> records{"1 0 t.dat 0", "1"};
  std::vector<std::string> params = PlainParameterRecords();
  params[5] += "  anything here is not read";
  records.insert(records.end(), params.begin(), params.end());
  const ControlOutcome o = Read(records);
  ASSERT_FALSE(o.rejected || o.text_error) << o.errors;
  EXPECT_EQ(o.table.GR[6], 100.0);
}

TEST_F(ControlFileTest, RowsAboveFifteenStayZero) {
  const ControlOutcome o = Read(File("1 0 t.dat 0", {"1"}, {}));
  ASSERT_FALSE(o.rejected || o.text_error) << o.errors;
  for (int j = 16; j <= kParameterRows; ++j) {
    EXPECT_EQ(o.table.tie[j], 0);
    EXPECT_EQ(o.table.value[j], 0.0);
    EXPECT_EQ(o.table.step[j], 0.0);
  }
}

TEST_F(ControlFileTest, BadRealFieldIsATextError) {
  std::vector<std::string> records{"1 0 t.dat 0", "1"};
  std::vector<std::string> params = PlainParameterRecords();
  params[0] = "  1  1 1        abc ";
  records.insert(records.end(), params.begin(), params.end());
  const ControlOutcome o = Read(records);
  EXPECT_TRUE(o.text_error);
  EXPECT_EQ(o.exit_status, 2);
  EXPECT_NE(o.errors.find("Bad value during floating point read"),
            std::string::npos)
      << o.errors;
  EXPECT_NE(o.errors.find("(Unit 1 \"par.inp\")"), std::string::npos)
      << o.errors;
}

TEST_F(ControlFileTest, MissingParameterRecordIsEndOfFile) {
  std::vector<std::string> records{"1 0 t.dat 0", "1"};
  std::vector<std::string> params = PlainParameterRecords();
  params.pop_back();
  records.insert(records.end(), params.begin(), params.end());
  const ControlOutcome o = Read(records);
  EXPECT_TRUE(o.text_error);
  EXPECT_EQ(o.exit_status, 2);
  EXPECT_NE(o.errors.find("segmix runtime error: End of file"),
            std::string::npos)
      << o.errors;
}

// --- Covariate file names ---------------------------------------------------

TEST_F(ControlFileTest, CovariateNamesOnePerRecordCutTo16) {
  const ControlOutcome o =
      Read(File("1 0 t.dat 3", {"1"},
                {"age.dat rest of this record is skipped",
                 "'a name with blanks.dat' and more",
                 "'a_very_long_covariate_name.dat'", "AFTER"}));
  ASSERT_FALSE(o.rejected || o.text_error) << o.errors;
  EXPECT_EQ(o.settings.covariate_count, 3);
  EXPECT_EQ(o.settings.covariate_file_names[1], "age.dat         ");
  EXPECT_EQ(o.settings.covariate_file_names[2], "a name with blan");
  EXPECT_EQ(o.settings.covariate_file_names[3], "a_very_long_cova");
  for (int i = 4; i <= 8; ++i) {
    EXPECT_EQ(o.settings.covariate_file_names[i], std::string(16, ' '));
  }
  EXPECT_EQ(o.next_record, "AFTER       ");
}

TEST_F(ControlFileTest, CovariateCountZeroReadsNothingMore) {
  // The file may end right after the 15th parameter record ...
  const ControlOutcome ends = Read(File("1 0 t.dat 0", {"1"}, {}));
  ASSERT_FALSE(ends.rejected || ends.text_error) << ends.errors;
  EXPECT_EQ(ends.next_record, "<end of file>");
  for (int i = 1; i <= 8; ++i) {
    EXPECT_EQ(ends.settings.covariate_file_names[i], std::string(16, ' '));
  }
  // ... and what follows it is left where it is.
  const ControlOutcome more =
      Read(File("1 0 t.dat 0", {"1"}, {"age.dat", "x.dat"}));
  ASSERT_FALSE(more.rejected || more.text_error) << more.errors;
  EXPECT_EQ(more.next_record, "age.dat     ");
  EXPECT_EQ(more.settings.covariate_file_names[1], std::string(16, ' '));
}

TEST_F(ControlFileTest, MissingCovariateNameIsEndOfFile) {
  const ControlOutcome o = Read(File("1 0 t.dat 2", {"1"}, {"age.dat"}));
  EXPECT_TRUE(o.text_error);
  EXPECT_EQ(o.exit_status, 2);
}

// --- Rejected values --------------------------------------------------------

struct CountRow {
  const char* first;         // the first record
  const char* message_part;  // must appear in the message ("" = accepted)
};

class CountLimitTest : public ControlFileTest,
                       public ::testing::WithParamInterface<CountRow> {};

TEST_P(CountLimitTest, AcceptedOrRejectedBeforeReadingOn) {
  const CountRow& row = GetParam();
  if (*row.message_part == '\0') {
    // Accepted: the rest of the file is read, with as many flag records as
    // the count needs (at least one) and five covariate names.
    int family_count = 0;
    std::istringstream(row.first) >> family_count;
    const int flag_records = family_count <= 0 ? 1 : (family_count + 19) / 20;
    std::vector<std::string> records{row.first};
    for (int r = 0; r < flag_records; ++r) {
      records.push_back(std::string(20, '1'));
    }
    for (const std::string& p : PlainParameterRecords()) records.push_back(p);
    for (int i = 0; i < 5; ++i) records.push_back("c.dat");
    const ControlOutcome o = Read(records);
    EXPECT_FALSE(o.rejected || o.text_error) << row.first << ": " << o.errors;
    return;
  }
  // Rejected: only the first record is in the file, so anything read after
  // it would end in "End of file" instead of the rejection.
  const ControlOutcome o = Read({row.first});
  EXPECT_TRUE(o.rejected) << row.first << ": " << o.errors;
  EXPECT_EQ(o.exit_status, 1);
  EXPECT_EQ(o.errors.rfind("par.inp, first record: ", 0), 0u) << o.errors;
  EXPECT_NE(o.errors.find(row.message_part), std::string::npos) << o.errors;
  EXPECT_EQ(o.errors.back(), '\n');
  EXPECT_EQ(o.errors.find('\n'), o.errors.size() - 1) << "one line";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CountLimitTest,
    ::testing::Values(
        CountRow{"604 0 t.dat 0", ""}, CountRow{"0 0 t.dat 0", ""},
        CountRow{"605 0 t.dat 0", "the family count is 605, above N_FAM = 604"},
        CountRow{"2147483647 0 t.dat 0",
                 "the family count is 2147483647, above N_FAM = 604"},
        CountRow{"-1 0 t.dat 0", "the family count is -1, below 0"},
        CountRow{"1 0 t.dat 5", ""},
        CountRow{"1 0 t.dat 6", "the covariate count is 6, above 5"},
        CountRow{"1 0 t.dat 8", "the covariate count is 8, above 5"},
        CountRow{"1 0 t.dat -1", "the covariate count is -1, below 0"},
        // Both wrong: the family count is reported.
        CountRow{"605 0 t.dat 9", "the family count is 605"}));

struct TieRow {
  int row;
  int tie;
  bool accepted;
};

class TieIndexTest : public ControlFileTest,
                     public ::testing::WithParamInterface<TieRow> {};

TEST_P(TieIndexTest, TieIndexWithinOneToFifteen) {
  const TieRow& row = GetParam();
  std::vector<std::string> records{"1 0 t.dat 0", "1"};
  std::vector<std::string> params = PlainParameterRecords();
  params[row.row - 1] =
      ParameterRecord(row.tie, 1, 0, "1.0", "0.5", "0.0", "2.0");
  // A rejected record is the last one in the file: the rejection must come
  // before the next record is read.
  const int kept = row.accepted ? 15 : row.row;
  records.insert(records.end(), params.begin(), params.begin() + kept);
  const ControlOutcome o = Read(records);
  if (row.accepted) {
    ASSERT_FALSE(o.rejected || o.text_error) << o.errors;
    EXPECT_EQ(o.table.tie[row.row], row.tie);
    return;
  }
  EXPECT_TRUE(o.rejected) << o.errors;
  EXPECT_EQ(o.exit_status, 1);
  const std::string name(
      kParameterNames[row.row].substr(0, kParameterNames[row.row].find(' ')));
  const std::string expected =
      "par.inp, parameter record " + std::to_string(row.row) + " (" + name +
      "): the tie index is " + std::to_string(row.tie) +
      ", not a parameter row 1 to 15. In columns 1 to 3 give the record's "
      "own row number (" +
      std::to_string(row.row) +
      ") for an independent parameter, or the row whose value it takes.\n";
  EXPECT_EQ(o.errors, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TieIndexTest,
    ::testing::Values(TieRow{1, 1, true}, TieRow{15, 15, true},
                      TieRow{1, 15, true}, TieRow{15, 1, true},
                      TieRow{4, 2, true}, TieRow{1, 0, false},
                      TieRow{7, 16, false}, TieRow{15, 16, false},
                      TieRow{3, -1, false}, TieRow{12, 999, false},
                      TieRow{6, -99, false}));

TEST_F(ControlFileTest, BlankTieFieldReadsZeroAndIsRejected) {
  std::vector<std::string> records{"1 0 t.dat 0", "1"};
  std::vector<std::string> params = PlainParameterRecords();
  params[9] = "      1 0         0.5";
  records.insert(records.end(), params.begin(), params.end());
  const ControlOutcome o = Read(records);
  EXPECT_TRUE(o.rejected);
  EXPECT_NE(o.errors.find("parameter record 10 (Tr3): the tie index is 0"),
            std::string::npos)
      << o.errors;
}

TEST_F(ControlFileTest, RejectedFamilyCountMessageInFull) {
  const ControlOutcome o = Read({"605 1 trait.dat 0"});
  EXPECT_EQ(o.errors,
            "par.inp, first record: the family count is 605, above N_FAM = "
            "604, the most families this build holds. Rebuild with a larger "
            "capacity (cmake -DSEGMIX_N_FAM=605, see \"Larger samples\" in "
            "the README).\n");
  EXPECT_EQ(o.kind, TerminationKind::kCapacity);
}

// Each refusal carries its kind, and the kind decides the exit status.
TEST_F(ControlFileTest, RefusalsCarryTheirKind) {
  const struct {
    const char* first_record;
    TerminationKind kind;
    int exit_status;
  } rows[] = {
      {"605 1 trait.dat 0", TerminationKind::kCapacity, 1},
      {"-1 1 trait.dat 0", TerminationKind::kInconsistent, 1},
      {"4 1 trait.dat 6", TerminationKind::kInconsistent, 1},
      {"x 1 trait.dat 0", TerminationKind::kMalformed, 2},
  };
  for (const auto& row : rows) {
    const ControlOutcome o = Read({row.first_record});
    EXPECT_EQ(o.kind, row.kind) << row.first_record;
    EXPECT_EQ(o.exit_status, row.exit_status) << row.first_record;
  }
  std::filesystem::remove("par.inp");
  EXPECT_EQ(ReadWritten().kind, TerminationKind::kUnreadable);
}

TEST_F(ControlFileTest, MissingControlFileIsTheOpenReport) {
  // No par.inp at all: the open with status old fails.
  const ControlOutcome o = ReadWritten();
  EXPECT_TRUE(o.text_error);
  EXPECT_EQ(o.exit_status, 2);
  EXPECT_NE(o.errors.find(" file: \"par.inp\"\n"), std::string::npos)
      << o.errors;
  EXPECT_NE(o.errors.find("segmix runtime error: No such file or directory"),
            std::string::npos)
      << o.errors;
}

}  // namespace
}  // namespace segmix::testing
