// segmix-check on damaged or suspicious inputs: each row edits one file of a
// clean data set (the small example with every member observed) and names a
// fragment of the finding it must give and the exit status. Then the bundled
// examples, and the layout of the report.
#include "review/check_inputs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "cli/exit_status.h"
#include "review/data_review.h"
#include "review/findings.h"
#include "support/scratch_path.h"

namespace segmix {
namespace {

namespace fs = std::filesystem;

const std::map<std::string, std::string>& CleanFiles() {
  static const std::map<std::string, std::string> files = {
      {"par.inp",
       "4 1 'trait.dat' 1\n"
       "1111\n"
       "  1  1 0         0.2        0.05       0.001       0.999\n"
       "  2  1 0        16.0         0.5         5.0        25.0\n"
       "  3  1 0        13.0         0.5         5.0        25.0\n"
       "  4  1 1        10.5         0.5         5.0        13.0\n"
       "  5  0 0         0.0         0.0         0.0         0.0\n"
       "  6  1 1         2.0         0.5         0.1        20.0\n"
       "  7  1 0         0.5         0.0        -5.0         5.0\n"
       "  8  0 0         1.0         0.0         0.0         1.0\n"
       "  9  0 0         0.5         0.0         0.0         1.0\n"
       " 10  0 0         0.0         0.0         0.0         1.0\n"
       " 11  1 1         0.0         0.1        -2.0         2.0\n"
       " 12  0 0         0.0         0.0         0.0         0.0\n"
       " 13  0 0         0.0         0.0         0.0         0.0\n"
       " 14  0 0         0.0         0.0         0.0         0.0\n"
       " 15  0 0         0.0         0.0         0.0         0.0\n"
       "age.dat\n"},
      {"iway.dat",
       "4 4 0 5 13 17 19\n"
       "0 0 1 3 4 5\n"
       "7 0 0 5 9 13 16 18\n"
       "18 1 2 3 4 5 1 2 3 4 3 5 6 7 1 2 3 1 2\n"
       "0 3 0 0 0\n"
       "19 1 2 1 2 1 1 2 1 2 2 1 2 1 1 2 2 1 1 2\n"
       "2 2 0 2 2 2 2 2 2 2 1 2 2 2 2 1 2 2 1\n"},
      {"trait.dat",
       "10.2 11.5 14.8 12.9 10.7 -999 -999 13.4 11.2 9.8 14.1 12.6 10.9 9.6 "
       "-999 11.8 10.4 10.1 12.3\n"},
      {"age.dat",
       "4.8 4.6 2.1 1.9 1.5 7.2 7.0 4.5 4.1 4.3 1.8 1.4 3.9 5.0 4.9 2.2 3.0 "
       "6.1 5.8\n"},
  };
  return files;
}

// Every finding on one line ("warning: file place: message"), unwrapped, and
// the refusal's text: what a row's fragment is looked for in.
std::string Flat(const CheckReport& report) {
  std::string text;
  for (const Finding& f : report.findings) {
    text += (f.severity == Severity::kInfo ? "info: " : "warning: ") + f.file +
            " " + f.place + ": " + f.message + "\n";
  }
  if (report.refusal) text += report.refusal->text;
  return text + FormatReport(report);
}

constexpr const char* kTraitLine =
    "10.2 11.5 14.8 12.9 10.7 -999 -999 13.4 11.2 9.8 14.1 12.6 10.9 9.6 -999 "
    "11.8 10.4 10.1 12.3\n";
constexpr const char* kTwoPointLine =
    "10 10 11 10 10 -999 -999 10 10 10 11 10 10 10 -999 11 10 10 11\n";

struct Row {
  const char* label;
  const char* file;
  const char* from;  // replaced (first occurrence); empty: `to` is appended
  const char* to;
  const char* fragment;
  int status;
};

const Row kRows[] = {
    {"clean", "trait.dat", "", "", "segmix-check: no warnings", 0},
    {"bound_without_point", "par.inp", "10.5         0.5         5.0",
     "10.5         0.5         -10",
     "parameter record 4 (D), line 6, columns 33-44: GL is written \"-10\" "
     "without a decimal point and reads as -0.0001 (a field without a point "
     "has 5 implied decimals); write \"-10.0\" if you mean -10.",
     1},
    {"bounds_equal", "par.inp",
     "  4  1 1        10.5         0.5         5.0        13.0",
     "  4  1 2        10.5         0.5        10.5        10.5",
     "GL (10.5) is not below GR (10.5)", 1},
    {"step_above_range", "par.inp", "10.5         0.5", "10.5        10.0",
     "the step (10) is larger than the bound range GR - GL (8)", 1},
    {"start_near_bound", "par.inp", "        10.5         0.5",
     "        12.8         0.5",
     "the starting value 12.8 lies within one step (0.5) of its upper bound GR "
     "= 13",
     1},
    {"estimated_step_zero", "par.inp", "10.5         0.5", "10.5         0.0",
     "parameter record 4 (D): the parameter is estimated but its step is 0", 1},
    {"tie_to_tied_row", "par.inp", "  2  1 0        16.0",
     "  3  1 0        16.0", "",
     1},  // filled in below: row 2 and 3 both edited
    {"family_count_below_iway", "par.inp", "4 1 'trait.dat' 1\n1111",
     "3 1 'trait.dat' 1\n111",
     "par.inp first record: the family count is 3, below the 4 families of "
     "iway.dat: the last 1 (family 4) are left out",
     1},
    {"no_family_selected", "par.inp", "1111", "0000", "no family is selected",
     1},
    {"blank_flag", "par.inp", "1111", "11 1",
     "flag record 1, line 2: the flag of family 3 is blank", 1},
    {"slash_in_first_record", "par.inp", "'trait.dat' 1", "'trait.dat' /",
     "first record, line 1, column 17: a slash ends the record before the "
     "covariate count, which is left 0",
     1},
    {"empty_field_in_first_record", "par.inp", "4 1 'trait.dat' 1",
     "4,,'trait.dat',1",
     "an empty field stands for the proband switch, which is left 0", 1},
    {"proband_switch_two", "par.inp", "4 1 'trait.dat'", "4 2 'trait.dat'",
     "the proband switch is 2: any value but 0 corrects every family", 1},
    {"par_inp_goes_on", "par.inp", "", "extra.dat\n",
     "par.inp line 19: the file goes on after the last record", 1},
    {"blank_inside_field", "par.inp", "        10.5  ", "       1 0.5  ",
     "the value is written \"1 0.5\" with a blank inside", 1},
    {"short_parameter_record", "par.inp",
     "10.5         0.5         5.0        13.0", "10.5         0.5",
     "parameter record 4 (D), line 6, columns 33-44: GL is missing (the record "
     "ends at column 32) and reads as 0",
     1},
    {"estimated_out_of_model", "par.inp", " 12  0 0         0.0         0.0",
     " 12  1 1         0.0         0.1",
     "parameter record 12 (B2): the parameter is estimated (columns 7-8) "
     "although "
     "it is out of the model: the covariate count in the first record is 1",
     1},
    {"left_out_row_tied", "par.inp", "  5  0 0         0.0",
     " 11  0 0         0.0",
     "parameter record 5 (pga): the record's in-model flag (columns 4-6) is 0, "
     "but it is tied to row 11: a run sets it to 0 at the start and then gives "
     "it row 11's value at every evaluation",
     1},
    {"tied_to_left_out_row", "par.inp", " 11  1 1         0.0         0.1",
     "  5  1 1         0.0         0.1",
     "parameter record 11 (B1): the record is tied to row 5, whose in-model "
     "flag (columns 4-6) is 0",
     1},
    {"left_out_row_estimated", "par.inp",
     "  5  0 0         0.0         0.0         0.0         0.0",
     "  5  0 1         0.0         0.1        -1.0         1.0",
     "its in-model flag (columns 4-6) is 0: a run sets it to 0 at the start, "
     "then the search moves it and the likelihood uses the value it moves to",
     1},
    {"trait_values_left_over", "trait.dat", "10.1 12.3", "10.1 12.3 9.9 9.7",
     "trait.dat line 1: 2 values follow the record's last value (value 19)", 1},
    {"iway_lines_left_over", "iway.dat", "", "1 2 3\n",
     "iway.dat line 8: 3 values stand after the file's last record", 1},
    {"slash_in_trait_file", "trait.dat", "10.4 10.1", "10.4 / 10.1",
     "trait.dat, value 18 (family 4, member 1): no value was read: a \"/\" "
     "ends the record before it",
     1},
    {"stored_below_listed", "iway.dat", "4 4 0", "4 3 0",
     "the stored family count (the first member offset) is 3, below the 4 "
     "families listed",
     1},
    {"all_observed_are_probands", "iway.dat", "2 2 1 2 2 1\n", "1 1 1 1 2 1\n",
     "family 3: every observed member is a proband", 1},
    {"no_proband", "iway.dat", "2 2 1 2 2 1\n", "2 2 2 2 2 1\n",
     "family 3 has no proband (every status code is 2)", 1},
    {"status_code_nine", "iway.dat", "2 2 1 2 2 1\n", "2 2 9 2 2 1\n",
     "family 3, member position 3 has status code 9", 1},
    {"no_observed_member", "trait.dat", "10.1 12.3", "-999 -999",
     "family 4 has no observed member", 1},
    {"missing_code_nine", "trait.dat", "10.2 11.5", "-9 -9",
     "trait.dat value 1 (family 1, member 1): the trait value -9 appears 2 "
     "times",
     1},
    {"exactly_minus_998", "trait.dat", "10.2 11.5", "-998 11.5",
     "the trait value is -998", 1},
    {"skewed_trait", "trait.dat", "10.1 12.3", "40 60",
     "skewness can make a major locus out of a polygenic trait", 1},
    // Twelve observed 10s and four 11s (the probands, members 3, 11, 16 and
    // 19): a two-point sample with p = 1/4 at the upper point, so m2 = p q =
    // 3/16, m3 = p q (q - p) = 3/32 and g1 = (q - p) / sqrt(p q) = 2 / sqrt(3)
    // = 1.1547; excess kurtosis (1 - 6 p q) / (p q) = -2/3.
    {"skewness_worked_example", "trait.dat", kTraitLine, kTwoPointLine,
     "16 observed trait values in the analysed families: mean 10.2, standard "
     "deviation 0.433, skewness 1.15, excess kurtosis -0.667.",
     1},
    {"skewness_worked_example_warns", "trait.dat", kTraitLine, kTwoPointLine,
     "trait.dat : the trait's skewness is 1.15 (over 16 observed values)", 1},
    {"probands_above_median", "trait.dat", kTraitLine, kTwoPointLine,
     "every proband's trait is at least 11 (4 probands), above the median 10 "
     "of the 12 observed non-probands of the corrected families",
     1},
    // The float 10.8 (10.80000019) lies above the median of the twelve
    // non-probands, (10.7f + 10.9f) / 2 = 10.79999971, which must then not
    // be shown as 10.8.
    {"proband_just_above_median", "trait.dat", "10.1 12.3", "10.1 10.8",
     "every proband's trait is at least 10.8 (4 probands), above the median "
     "10.7999997 of the 12",
     0},
    {"two_values_no_skewness", "trait.dat", kTraitLine,
     "10.2 -999 -999 -999 -999 -999 -999 -999 -999 -999 -999 -999 -999 -999 "
     "-999 -999 -999 -999 12.3\n",
     "2 observed trait values in the analysed families: too few for the "
     "trait's shape (no skewness below 3 values).",
     1},
    {"missing_trait_file", "par.inp", "'trait.dat'", "'nofile.dat'",
     "No such file or directory", 2},
    {"start_outside_bounds", "par.inp", "        10.5         0.5",
     "        14.0         0.5", "ERROR OF INITIAL PARAMETER VALUE", 1},
    {"step_lost", "par.inp", "        10.5         0.5",
     "        10.5     1.0E+30",
     "STEP= 0.1000E+31 is so large that the search loses the value it steps "
     "from",
     1},
    {"tie_index_refused", "par.inp", "  4  1 1", " 44  1 1",
     "the tie index is 44", 1},
    // The one evaluation at the start: a run exits 1 with this text.
    {"start_underflows", "par.inp",
     "  6  1 1         2.0         0.5         0.1",
     "  6  1 1     0.00001         0.5         0.0",
     "It writes on standard error:\nsegmix: the starting values give no "
     "likelihood: family 1 of iway.dat failed first",
     1},
    // Evaluated, but no search point passes: a run ends MAXIMUM NOT FOUND.
    {"q_fixed_at_one", "par.inp", "  1  1 0         0.2",
     "  1  1 0         1.0",
     "parameter record 1 (Q): the parameter is fixed at 1, on a bound of its "
     "range: the start is evaluated, but the search's gate refuses every "
     "point",
     1},
};

class CheckRowTest : public ::testing::TestWithParam<Row> {};

TEST_P(CheckRowTest, GivesFindingAndStatus) {
  const Row& row = GetParam();
  const fs::path dir = testing::ScratchPathForCurrentTest("segmix_check_");
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::map<std::string, std::string> files = CleanFiles();
  std::string fragment = row.fragment;
  if (std::string(row.label) == "tie_to_tied_row") {
    // MU takes A's value, and A takes D's.
    std::string& par = files["par.inp"];
    par.replace(par.find("  3  1 0        13.0"), 20, "  4  1 0        13.0");
    fragment =
        "parameter record 2 (MU): the record is tied to row 3, which is "
        "itself tied to row 4";
  }
  std::string& text = files[row.file];
  if (std::string(row.from).empty()) {
    text += row.to;
  } else {
    const std::size_t at = text.find(row.from);
    ASSERT_NE(at, std::string::npos) << row.from;
    text.replace(at, std::string(row.from).size(), row.to);
  }
  for (const auto& [name, contents] : files) {
    std::ofstream(dir / name, std::ios::binary) << contents;
  }

  const CheckReport report = CheckInputs(dir);
  const std::string flat = Flat(report);
  EXPECT_NE(flat.find(fragment), std::string::npos) << flat;
  EXPECT_EQ(report.ExitStatus(), row.status) << flat;
  // The check writes nothing in the folder it reads.
  std::size_t entries = 0;
  for (const auto& entry : fs::directory_iterator(dir))
    entries += entry.is_regular_file();
  EXPECT_EQ(entries, files.size());
  if (!HasFailure()) fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Inputs, CheckRowTest, ::testing::ValuesIn(kRows),
                         [](const auto& info) {
                           return std::string(info.param.label);
                         });

// What the bundled examples say: the small set has one family without an
// observed trait (on purpose, see its README); the simulated set is clean.
TEST(CheckExamplesTest, SmallWarnsOfItsUnobservedFamilySimulatedIsClean) {
  const fs::path examples = fs::path(SEGMIX_SOURCE_DIR) / "examples";
  const CheckReport small = CheckInputs(examples / "small");
  ASSERT_EQ(small.WarningCount(), 1) << FormatReport(small);
  EXPECT_EQ(
      small.findings[0].message.rfind("family 4 has no observed member", 0),
      0u);
  EXPECT_EQ(small.ExitStatus(), 1);
  const CheckReport simulated = CheckInputs(examples / "simulated");
  EXPECT_EQ(simulated.ExitStatus(), 0) << FormatReport(simulated);
  ASSERT_EQ(simulated.findings.size(), 2u);
  EXPECT_EQ(simulated.findings[0].severity, Severity::kInfo);
  EXPECT_EQ(
      simulated.findings[0].message.rfind("1884 observed trait values", 0), 0u);
  // Drawn with probands above 2.5 (its README); the figures as a separate
  // reading of iway.dat and trait.dat gives them.
  EXPECT_EQ(simulated.findings[1].severity, Severity::kInfo);
  EXPECT_EQ(simulated.findings[1].message.rfind(
                "every proband's trait is at least 2.501 (200 probands), "
                "above the median 0.835 of the 1684 observed non-probands",
                0),
            0u);
  // It names the correction that conditions on exceeding the threshold.
  const std::string& note = simulated.findings[1].message;
  EXPECT_NE(note.find("; if they were selected because their trait exceeded "
                      "a threshold T, segmix-fit's --ascertainment "
                      "threshold=T conditions on that exactly."),
            std::string::npos)
      << note;
}

// The threshold note stays away when a proband lies at or below the
// non-probands' median, and where no family is corrected (proband switch 0,
// no status code 0: the status codes then play no part in the run).
TEST(CheckProbandTraitsTest, NoNoteForALowProbandOrUncorrectedFamilies) {
  const std::string note = "every proband's trait";
  for (const bool uncorrected : {false, true}) {
    const fs::path dir = testing::ScratchPathForCurrentTest(
        uncorrected ? "segmix_check_uncorrected_" : "segmix_check_low_");
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::map<std::string, std::string> files = CleanFiles();
    if (uncorrected) {
      files["par.inp"].replace(0, 17, "4 0 'trait.dat' 1");
      std::string& iway = files["iway.dat"];
      iway.replace(iway.find("2 2 0 2"), 7, "2 2 1 2");
    } else {
      // Member 19, a proband, at 10.5: below the non-probands' median 10.8.
      std::string& trait = files["trait.dat"];
      trait.replace(trait.find("12.3"), 4, "10.5");
    }
    for (const auto& [name, contents] : files) {
      std::ofstream(dir / name, std::ios::binary) << contents;
    }
    const std::string flat = Flat(CheckInputs(dir));
    EXPECT_EQ(flat.find(note), std::string::npos) << flat;
    EXPECT_NE(flat.find("observed trait values"), std::string::npos) << flat;
    if (!HasFailure()) fs::remove_all(dir);
  }
}

// |g1| above 0.2 warns once it is beyond twice its normal-sample standard
// error sqrt(6 (n - 2) / ((n + 1) (n + 3))), and beyond 1 at any size.
TEST(CheckSkewnessTest, WarnsAbovePointTwoBeyondSamplingNoise) {
  struct Case {
    double skewness;
    std::size_t count;
    bool warns;
  };
  const Case cases[] = {
      {0.201, 10000, true}, {0.199, 10000, false}, {-0.201, 10000, true},
      {0.15, 2000, false},  {-0.3, 2000, true},  // 2 SE = 0.1094
      {0.45, 100, false},   {0.5, 100, true},    // 2 SE = 0.4755
      {0.99, 16, false},    {1.01, 16, true},    // 2 SE = 1.0199
      {5.0, 2, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SkewnessWarrantsWarning(c.skewness, c.count), c.warns)
        << c.skewness << " over " << c.count;
  }
}

TEST(CheckReportTest, WrapsEachFindingAndCountsWarnings) {
  CheckReport report;
  report.Add(
      Severity::kWarning, "par.inp",
      "parameter record 4 (D), line 6, columns 33-44",
      "GL is written \"-10\" without a decimal point and reads as -0.0001; "
      "write \"-10.0\" if you mean -10.");
  report.Add(Severity::kInfo, "trait.dat", "", "3 values.");
  EXPECT_EQ(FormatReport(report),
            "warning: par.inp parameter record 4 (D), line 6, columns 33-44: "
            "GL is written\n"
            "         \"-10\" without a decimal point and reads as -0.0001; "
            "write \"-10.0\" if\n"
            "         you mean -10.\n"
            "info: trait.dat: 3 values.\n"
            "segmix-check: 1 warning\n");
  report.refusal = Refusal{2, "x\n"};
  EXPECT_EQ(report.ExitStatus(), 2);
  EXPECT_NE(
      FormatReport(report).find("a run refuses this input (exit status 2)"),
      std::string::npos);
}

TEST(CheckReportTest, FamilyListsNamesFiveThenCounts) {
  EXPECT_EQ(FamilyList({4}), "family 4");
  EXPECT_EQ(FamilyList({1, 2, 5}), "families 1, 2 and 5");
  EXPECT_EQ(FamilyList({1, 2, 3, 4, 5, 6}), "families 1, 2, 3, 4, 5 and 6");
  EXPECT_EQ(FamilyList({1, 2, 3, 4, 5, 6, 7}),
            "families 1, 2, 3, 4, 5 and 2 more");
}

TEST(CheckCommandTest, VersionHelpAndUsage) {
  std::ostringstream out, err;
  const char* version[] = {"segmix-check", "--version"};
  EXPECT_EQ(RunCheckCommand(2, version, out, err), 0);
  EXPECT_EQ(out.str().rfind("segmix-check ", 0), 0u);
  const char* help[] = {"segmix-check", "--help"};
  EXPECT_EQ(RunCheckCommand(2, help, out, err), 0);
  EXPECT_NE(out.str().find("Exit status"), std::string::npos);
  const char* extra[] = {"segmix-check", "a", "b"};
  EXPECT_EQ(RunCheckCommand(3, extra, out, err), cli::kExitUsage);
  EXPECT_NE(err.str().find("Usage"), std::string::npos);
}

}  // namespace
}  // namespace segmix
