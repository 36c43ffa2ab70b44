// The built program run in temporary directories. A tiny data set of five
// listed families (a trio, a three-generation pedigree peeled through a child,
// a single member outside every nuclear family, a couple with no observed
// member, an unselected family) and one family more in the control file than
// listed. Expected outputs come from the record layouts and from the
// brute-force likelihood of pedigree_data.h, never from the program.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "pedigree_data.h"
#include "run_test_support.h"

namespace segmix::testing {
namespace {

DataSet TinyData() {
  DataSet data;
  // Family 1: a trio whose child is the proband.
  data.families.push_back(
      {{{1, 2, 11.2f, {4.1f}}, {2, 2, 9.6f, {3.9f}}, {1, 1, 13.0f, {1.5f}}},
       {{1, 2, {3}, 0}}});
  // Family 2: grandparents 1, 2 with their son 3 (peeled onto him, the first
  // child); 3 and his wife 4 with their daughter 5, a status-0 proband; 6 a
  // relative outside every nuclear family. The grandmother is unobserved.
  data.families.push_back({{{1, 2, 10.4f, {6.1f}},
                            {2, 2, -999.0f, {6.0f}},
                            {1, 2, 12.1f, {3.8f}},
                            {2, 2, 9.9f, {3.7f}},
                            {2, 0, 14.2f, {1.1f}},
                            {1, 2, 11.0f, {3.5f}}},
                           {{1, 2, {3}, 3}, {3, 4, {5}, 0}}});
  // Family 3: one proband, no nuclear family.
  data.families.push_back({{{2, 1, 12.0f, {2.0f}}}, {}});
  // Family 4: a childless couple, neither observed, neither a proband.
  data.families.push_back(
      {{{1, 2, -999.0f, {5.0f}}, {2, 2, -999.5f, {5.0f}}}, {{1, 2, {}, 0}}});
  // Family 5: observed, but left out by its selection flag.
  data.families.push_back(
      {{{1, 2, 10.0f, {4.0f}}, {2, 2, 11.0f, {4.0f}}, {2, 1, 12.0f, {1.0f}}},
       {{1, 2, {3}, 0}}});
  return data;
}

// Q, MU, A, D, pga, SIG, Sex, Tr1..Tr3, B1..B5. B2..B5 are out of the model
// with nonzero values: the run sets them to 0. Tr1..Tr3 are out of the model
// and keep their values.
ControlFile TinyControl() {
  ControlFile c;
  c.flags = {1, 1, 1, 1, 0, 1};  // 6 families, one more than listed
  c.proband_switch = 1;
  c.covariate_files = {"age.dat"};
  TestModel& m = c.model;
  struct Row {
    int in_model;
    double value, step, gl, gr;
  };
  const Row rows[16] = {{},
                        {1, 0.3, 0.05, 0.01, 0.99},
                        {1, 14.0, 0.5, 5.0, 25.0},
                        {1, 12.0, 0.5, 5.0, 25.0},
                        {1, 10.0, 0.5, 5.0, 25.0},
                        {1, 0.4, 0.1, 0.0, 2.0},
                        {1, 1.5, 0.5, 0.1, 20.0},
                        {1, 0.5, 0.25, -5.0, 5.0},
                        {0, 1.0, 0.0, 0.0, 1.0},
                        {0, 0.5, 0.0, 0.0, 1.0},
                        {0, 0.0, 0.0, 0.0, 1.0},
                        {1, 0.1, 0.05, -2.0, 2.0},
                        {0, 0.7, 0.0, 0.0, 0.0},
                        {0, 0.7, 0.0, 0.0, 0.0},
                        {0, -0.7, 0.0, 0.0, 0.0},
                        {0, 0.7, 0.0, 0.0, 0.0}};
  for (int j = 1; j <= 15; ++j) {
    m.tie[j] = j;
    m.in_model[j] = rows[j].in_model;
    m.estimate[j] = 0;
    m.value[j] = rows[j].value;
    m.step[j] = rows[j].step;
    m.gl[j] = rows[j].gl;
    m.gr[j] = rows[j].gr;
  }
  return c;
}

// The evaluation line "(f15.4,9f8.5)": result, Q, MU, A, D, SIG.
std::string EvaluationLine(double ln_lh, const TestModel& m) {
  std::string line = EditF(ln_lh, 15, 4);
  for (int j : {1, 2, 3, 4, 6}) line += EditF(m.value[j], 8, 5);
  return line;
}

std::string ParameterRecordLine(int j, double value, double step) {
  std::string line(1, ' ');
  line += EditI(j, 2);
  line += ' ';
  line += EditE(value, 15, 6);
  line += EditE(step, 15, 6);
  return line;
}

// The console records written before the first evaluation, for the tiny set.
std::vector<std::string> TinyConsoleHead() {
  return {" 15",
          " 1 3",
          " 2 5",
          " 3 1",
          " 5 3",
          " No proband in the family  4",
          " N_izm= 9  loop= 1",
          " MAX= -1"};
}

class EndToEndTest : public RunDirTest {
 protected:
  void WriteTiny(const ControlFile& control) {
    WriteControlFile(control);
    WriteDataFiles(TinyData(), control);
  }
};

TEST_F(EndToEndTest, NoFreeParameterRunByteExact) {
  const ControlFile control = TinyControl();
  WriteTiny(control);
  const ProgramRun run = RunProgramHere();
  ASSERT_EQ(run.exit_status, 0) << run.errors << run.console;
  EXPECT_EQ(run.errors, "");

  const SampleValue expected =
      SampleLogLikelihoodByBruteForce(TinyData(), control);
  const double ln_lh = static_cast<double>(expected.ln_lh);
  const TestModel model = Effective(control.model, 1);
  ASSERT_EQ(model.value[12], 0.0);
  ASSERT_EQ(model.value[8], 1.0);

  // Console: 1 initial evaluation, 12 by the search (10 failed pattern
  // trials, one more at the contracted point, after the first), 1 final.
  std::vector<std::string> console = TinyConsoleHead();
  const std::string line = EvaluationLine(ln_lh, model);
  console.push_back(line);
  console.push_back(" initial LH=" + EditE(ln_lh, 15, 8));
  for (int i = 0; i < 13; ++i) console.push_back(line);
  console.push_back(" **** END OF PROGRAM ****");
  EXPECT_EQ(run.console, Lines(console));

  std::vector<std::string> sigma = {
      "  Number of observed individuals =   9", "  Number of iteration =   1",
      " Number of functions =    12", "  ln LH =" + EditE(ln_lh, 20, 8),
      "           Parameter       Step"};
  for (int j = 1; j <= 15; ++j) {
    sigma.push_back(ParameterRecordLine(j, model.value[j], model.step[j]));
  }
  EXPECT_EQ(ReadFile("sigma.dat"), Lines(sigma));

  // LH_fam.dat: families 1, 2, 3 (4 has no observed member, 5 is not
  // selected, 6 has no members). Family 3's only member is a proband, so
  // both passes are the same and its term is exactly 0.
  const std::vector<std::string> records = SplitLines(ReadFile("LH_fam.dat"));
  ASSERT_EQ(records.size(), 3u);
  ASSERT_EQ(expected.records.size(), 3u);
  const std::regex record(R"( (\d+) (\d+) (-?\d+\.\d*(E[+-]\d+)?))");
  for (std::size_t i = 0; i < 2; ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(records[i], m, record)) << records[i];
    EXPECT_EQ(std::stoi(m[1]), expected.records[i].g);
    EXPECT_EQ(std::stoi(m[2]), expected.records[i].n);
    const double value = std::strtod(m[3].str().c_str(), nullptr);
    const double want = static_cast<double>(expected.records[i].weighted);
    EXPECT_NEAR(value, want, 1e-12 * std::fabs(want)) << records[i];
  }
  EXPECT_EQ(records[2], " 3 1 0.");

  // The search made no iteration block; par.err was opened and left empty.
  EXPECT_TRUE(Exists("max.dat"));
  EXPECT_EQ(ReadFile("max.dat"), "");
  EXPECT_TRUE(Exists("par.err"));
  EXPECT_EQ(ReadFile("par.err"), "");
}

TEST_F(EndToEndTest, ProbandSwitchZeroCorrectsOnlyTheStatusZeroFamily) {
  ControlFile control = TinyControl();
  control.proband_switch = 0;
  WriteTiny(control);
  const ProgramRun run = RunProgramHere();
  ASSERT_EQ(run.exit_status, 0) << run.errors;
  const SampleValue expected =
      SampleLogLikelihoodByBruteForce(TinyData(), control);
  const double ln_lh = static_cast<double>(expected.ln_lh);
  std::vector<std::string> head = TinyConsoleHead();
  head.erase(head.begin() + 5);  // no "No proband" record with the switch off
  head.push_back(EvaluationLine(ln_lh, Effective(control.model, 1)));
  head.push_back(" initial LH=" + EditE(ln_lh, 15, 8));
  EXPECT_EQ(run.console.substr(0, Lines(head).size()), Lines(head));
  // Family 3 is no longer corrected: its term is its own log-likelihood.
  const std::vector<std::string> records = SplitLines(ReadFile("LH_fam.dat"));
  ASSERT_EQ(records.size(), 3u);
  const double family3 = std::strtod(records[2].substr(5).c_str(), nullptr);
  EXPECT_NE(family3, 0.0);
  EXPECT_NEAR(family3, static_cast<double>(expected.records[2].weighted),
              1e-12);
}

TEST_F(EndToEndTest, FreeRunReachesTheBruteForceMaximum) {
  ControlFile control = TinyControl();
  for (int j : {2, 4, 6}) control.model.estimate[j] = 1;  // MU, D, SIG
  WriteTiny(control);
  const ProgramRun run = RunProgramHere();
  ASSERT_EQ(run.exit_status, 0) << run.errors;
  EXPECT_EQ(run.errors, "");
  EXPECT_EQ(ReadFile("par.err"), "") << "the search finished normally";

  // Console: the head and the initial evaluation exactly.
  const SampleValue start =
      SampleLogLikelihoodByBruteForce(TinyData(), control);
  std::vector<std::string> head = TinyConsoleHead();
  head.push_back(EvaluationLine(static_cast<double>(start.ln_lh),
                                Effective(control.model, 1)));
  head.push_back(" initial LH=" +
                 EditE(static_cast<double>(start.ln_lh), 15, 8));
  const std::vector<std::string> lines = SplitLines(run.console);
  ASSERT_GT(lines.size(), head.size() + 2);
  for (std::size_t i = 0; i < head.size(); ++i) EXPECT_EQ(lines[i], head[i]);
  EXPECT_EQ(lines.back(), " **** END OF PROGRAM ****");
  for (std::size_t i = head.size(); i + 1 < lines.size(); ++i) {
    ASSERT_EQ(lines[i].size(), 55u) << "evaluation line: " << lines[i];
  }

  // sigma.dat: the layouts, and the counters it reports.
  const std::vector<std::string> sigma = SplitLines(ReadFile("sigma.dat"));
  ASSERT_EQ(sigma.size(), 20u);
  EXPECT_EQ(sigma[0], "  Number of observed individuals =   9");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(
      sigma[1], m, std::regex(R"(  Number of iteration =( *\d+))")));
  ASSERT_EQ(m[1].length(), 4);
  const int iterations = std::stoi(m[1]);
  ASSERT_TRUE(std::regex_match(sigma[2], m,
                               std::regex(R"( Number of functions =( *\d+))")));
  ASSERT_EQ(m[1].length(), 6);
  const int functions = std::stoi(m[1]);
  ASSERT_TRUE(std::regex_match(
      sigma[3], m, std::regex(R"(  ln LH = *(-?0\.\d{8}E[+-]\d\d))")));
  ASSERT_EQ(sigma[3].size(), 29u);
  const double reported = std::strtod(m[1].str().c_str(), nullptr);
  EXPECT_EQ(sigma[4], "           Parameter       Step");
  EXPECT_GE(iterations, 2);
  EXPECT_LE(lines.size() - head.size() - 1,
            static_cast<std::size_t>(functions) + 1);

  // The estimates as sigma.dat shows them; the fixed rows exactly as given.
  TestModel estimated = Effective(control.model, 1);
  const std::regex parameter(
      R"( ( \d|\d\d) ( *-?0\.\d{6}E[+-]\d\d)( *-?0\.\d{6}E[+-]\d\d))");
  for (int j = 1; j <= 15; ++j) {
    const std::string& record = sigma[4 + j];
    ASSERT_EQ(record.size(), 34u) << record;
    ASSERT_TRUE(std::regex_match(record, m, parameter)) << record;
    EXPECT_EQ(std::stoi(m[1]), j);
    if (control.model.estimate[j] == 0) {
      EXPECT_EQ(record,
                ParameterRecordLine(j, estimated.value[j], estimated.step[j]));
    } else {
      estimated.value[j] = std::strtod(m[2].str().c_str(), nullptr);
    }
  }

  // max.dat: one block of 14 lines for every cycle but the finishing one.
  const std::vector<std::string> max = SplitLines(ReadFile("max.dat"));
  ASSERT_EQ(max.size(), 14u * (iterations - 1));
  for (int i = 1; i < iterations; ++i) {
    EXPECT_EQ(max[14 * (i - 1)], " number of iterations =" + EditI(i, 4));
  }

  // LH_fam.dat at the final point adds up to the reported ln LH.
  const std::vector<std::string> records = SplitLines(ReadFile("LH_fam.dat"));
  ASSERT_EQ(records.size(), 3u);
  const double weights[3] = {3, 5, 1};
  double total = 0;
  for (int i = 0; i < 3; ++i) {
    const std::size_t value_at = records[i].find(' ', 3);
    total += std::strtod(records[i].c_str() + value_at, nullptr) * weights[i];
  }
  EXPECT_NEAR(total, reported, 1e-7 * std::fabs(reported));
  EXPECT_EQ(lines[lines.size() - 2].substr(0, 15), EditF(total, 15, 4));

  // The brute force at the reported point (six digits) gives the reported
  // log-likelihood, and moving any free parameter away lowers it.
  ControlFile at = control;
  at.model = estimated;
  const double at_estimate = static_cast<double>(
      SampleLogLikelihoodByBruteForce(TinyData(), at).ln_lh);
  EXPECT_NEAR(at_estimate, reported, 1e-4);
  EXPECT_GT(at_estimate, static_cast<double>(start.ln_lh) + 0.5)
      << "the search improved on the start";
  for (int j : {2, 4, 6}) {
    for (double sign : {-1.0, 1.0}) {
      ControlFile moved = at;
      const double h = 0.01 * std::max(std::fabs(estimated.value[j]), 0.1);
      moved.model.value[j] += sign * h;
      if (moved.model.value[j] <= control.model.gl[j] ||
          moved.model.value[j] >= control.model.gr[j]) {
        continue;
      }
      const double there = static_cast<double>(
          SampleLogLikelihoodByBruteForce(TinyData(), moved).ln_lh);
      EXPECT_LT(there, at_estimate) << "row " << j << " moved by " << sign * h;
    }
  }
}

// A par.err left by an earlier run would read as this run's messages: every
// run empties it when it opens it.
TEST_F(EndToEndTest, EarlierParErrIsEmptiedByARunThatWritesNothingToIt) {
  const ControlFile control = TinyControl();
  WriteTiny(control);
  WriteFile("par.err", " ERROR OF INITIAL PARAMETER VALUE:\n from before\n");
  const ProgramRun run = RunProgramHere();
  ASSERT_EQ(run.exit_status, 0) << run.errors;
  EXPECT_EQ(ReadFile("par.err"), "");
}

TEST_F(EndToEndTest, RejectedStartExitsOneWithTheBoundMessage) {
  ControlFile control = TinyControl();
  control.model.estimate[6] = 1;
  control.model.value[6] = 0.5;
  control.model.gl[6] = 1.0;
  control.model.gr[6] = 20.0;
  WriteTiny(control);
  const ProgramRun run = RunProgramHere();
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.errors, "");
  std::vector<std::string> console = TinyConsoleHead();
  console.push_back(" initial LH=-0.99999998E+18");
  EXPECT_EQ(run.console, Lines(console));
  EXPECT_EQ(ReadFile("par.err"),
            " ERROR OF INITIAL PARAMETER VALUE:\n"
            "        SIG= 0.5000E+00\n"
            "   GL= 0.1000E+01 GR= 0.2000E+02\n");
  EXPECT_FALSE(Exists("max.dat"));
  EXPECT_FALSE(Exists("sigma.dat"));
  EXPECT_FALSE(Exists("LH_fam.dat"));
}

TEST_F(EndToEndTest, RejectedStartLeavesEarlierResultFilesUntouched) {
  ControlFile control = TinyControl();
  control.model.estimate[1] = 1;
  control.model.value[1] = 0.995;  // above GR 0.99
  WriteTiny(control);
  WriteFile("max.dat", "old max\n");
  WriteFile("sigma.dat", "old sigma\n");
  WriteFile("LH_fam.dat", "old families\n");
  WriteFile("par.err",
            "an old message that is longer than the new one\n"
            "and a second line\nand a third\nand a fourth\n");
  const ProgramRun run = RunProgramHere();
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(ReadFile("max.dat"), "old max\n");
  EXPECT_EQ(ReadFile("sigma.dat"), "old sigma\n");
  EXPECT_EQ(ReadFile("LH_fam.dat"), "old families\n");
  // par.err is cut after the new message.
  EXPECT_EQ(ReadFile("par.err"),
            " ERROR OF INITIAL PARAMETER VALUE:\n"
            "        Q  = 0.9950E+00\n"
            "   GL= 0.1000E-01 GR= 0.9900E+00\n");
}

TEST_F(EndToEndTest, MeanOrderRejectedOnTheConsole) {
  ControlFile control = TinyControl();
  control.model.value[4] = 15.0;  // D above MU = 14
  WriteTiny(control);
  const ProgramRun run = RunProgramHere();
  EXPECT_EQ(run.exit_status, 1);
  std::vector<std::string> console = TinyConsoleHead();
  console.push_back("  ERROR OF INITIAL PARAMETER VALUE:");
  console.push_back(" 15. > 14.");
  console.push_back(" initial LH=-0.99999998E+18");
  EXPECT_EQ(run.console, Lines(console));
  EXPECT_EQ(ReadFile("par.err"), "");
  EXPECT_FALSE(Exists("sigma.dat"));
}

TEST_F(EndToEndTest, MissingControlFileReportsAndExitsTwo) {
  WriteDataFiles(TinyData(), TinyControl());
  const ProgramRun run = RunProgramHere();
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(run.console, "");
  const std::vector<std::string> report = SplitLines(run.errors);
  ASSERT_EQ(report.size(), 2u) << run.errors;
  EXPECT_TRUE(std::regex_match(
      report[0],
      std::regex(
          R"(At line \d+ of file src/run/run_sequence\.cpp file: "par\.inp")")))
      << report[0];
  EXPECT_EQ(report[1], "segmix runtime error: No such file or directory");
  EXPECT_FALSE(Exists("par.err")) << "par.inp is opened first";
  EXPECT_FALSE(Exists("sigma.dat"));
}

TEST_F(EndToEndTest, TruncatedControlFileReportsEndOfFile) {
  const ControlFile control = TinyControl();
  WriteTiny(control);
  std::string text = ReadFile("par.inp");
  // Keep the first record, the flags and 10 parameter records.
  std::size_t cut = 0;
  for (int line = 0; line < 12; ++line) cut = text.find('\n', cut) + 1;
  WriteFile("par.inp", text.substr(0, cut));
  const ProgramRun run = RunProgramHere();
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(run.console, "");
  const std::vector<std::string> report = SplitLines(run.errors);
  ASSERT_EQ(report.size(), 2u) << run.errors;
  EXPECT_TRUE(std::regex_match(
      report[0],
      std::regex(
          R"(At line \d+ of file src/run/control_file\.cpp \(Unit 1 "par\.inp"\))")))
      << report[0];
  EXPECT_EQ(report[1], "segmix runtime error: End of file");
  EXPECT_EQ(ReadFile("par.err"), "");
}

struct RejectedControlRow {
  const char* name;
  int family_count;     // entries of the flags, 0 keeps the tiny set's
  int covariate_count;  // -1 keeps the tiny set's
  int tie_row, tie;     // tie_row 0 keeps every tie
  const char* message;
};

class RejectedControlTest
    : public EndToEndTest,
      public ::testing::WithParamInterface<RejectedControlRow> {};

TEST_P(RejectedControlTest, ExitOneWithItsMessageAndNoResultFile) {
  const RejectedControlRow& row = GetParam();
  ControlFile control = TinyControl();
  WriteDataFiles(TinyData(), control);
  if (row.family_count > 0) control.flags.assign(row.family_count, 1);
  if (row.tie_row > 0) control.model.tie[row.tie_row] = row.tie;
  WriteControlFile(control);
  if (row.covariate_count >= 0) {
    std::string text = ReadFile("par.inp");
    const std::size_t end = text.find('\n');
    text.replace(end - 1, 1, std::to_string(row.covariate_count));
    WriteFile("par.inp", text);
  }
  const ProgramRun run = RunProgramHere();
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.console, "");
  EXPECT_NE(run.errors.find(row.message), std::string::npos) << run.errors;
  EXPECT_EQ(run.errors.back(), '\n');
  EXPECT_FALSE(Exists("max.dat"));
  EXPECT_FALSE(Exists("sigma.dat"));
  EXPECT_FALSE(Exists("LH_fam.dat"));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RejectedControlTest,
    ::testing::Values(
        RejectedControlRow{"families", 605, -1, 0, 0,
                           "par.inp, first record: the family count is 605, "
                           "above N_FAM = 604"},
        RejectedControlRow{"covariates", 0, 6, 0, 0,
                           "par.inp, first record: the covariate count is 6, "
                           "above 5"},
        RejectedControlRow{"tie", 0, -1, 9, 16,
                           "par.inp, parameter record 9 (Tr2): the tie index "
                           "is 16, not a parameter row 1 to 15."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EndToEndTest, SexCodesCheckedForSelectedFamiliesWhenSexIsInTheModel) {
  DataSet data = TinyData();
  data.families[4].members[1].sex = 0;  // family 5, not selected
  ControlFile control = TinyControl();
  WriteControlFile(control);
  WriteDataFiles(data, control);
  EXPECT_EQ(RunProgramHere().exit_status, 0) << "family 5 is left out";

  data.families[1].members[3].sex = 3;  // family 2, member position 4
  WriteDataFiles(data, control);
  const ProgramRun rejected = RunProgramHere();
  EXPECT_EQ(rejected.exit_status, 1);
  EXPECT_NE(rejected.errors.find("family 2, member position 4 has sex code 3"),
            std::string::npos)
      << rejected.errors;
  EXPECT_EQ(rejected.console.find("N_izm"), std::string::npos)
      << "refused before the members are counted";

  control.model.in_model[7] = 0;  // Sex out of the model: codes not used
  WriteControlFile(control);
  EXPECT_EQ(RunProgramHere().exit_status, 0);
}

TEST_F(EndToEndTest, CapacityStopExitsOne) {
  const ControlFile control = TinyControl();
  WriteTiny(control);
  std::string iway = ReadFile("iway.dat");
  iway.replace(0, iway.find(' '), "605");
  WriteFile("iway.dat", iway);
  const ProgramRun run = RunProgramHere();
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.errors, "STOP N_FAM exceed. Correct and recompile\n");
  EXPECT_EQ(run.console, "");
  EXPECT_FALSE(Exists("sigma.dat"));
}

TEST_F(EndToEndTest, MissingTraitFileReportsTheOpen) {
  const ControlFile control = TinyControl();
  WriteTiny(control);
  std::filesystem::remove("trait.dat");
  const ProgramRun run = RunProgramHere();
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_NE(run.errors.find(" file: \"trait.dat\"\nsegmix runtime error: No "
                            "such file or directory\n"),
            std::string::npos)
      << run.errors;
  EXPECT_FALSE(Exists("trait.dat")) << "not created by the failed open";
}

TEST_F(EndToEndTest, BrokenStructureIsRefusedBeforeAnyLikelihood) {
  DataSet data = TinyData();
  data.families[0].nuclear[0].connector = 7;  // not a member of the trio
  const ControlFile control = TinyControl();
  WriteControlFile(control);
  WriteDataFiles(data, control);
  const ProgramRun run = RunProgramHere();
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_NE(run.errors.find("iway.dat"), std::string::npos) << run.errors;
  EXPECT_EQ(run.console.find("initial LH"), std::string::npos);
  EXPECT_FALSE(Exists("sigma.dat"));
}

}  // namespace
}  // namespace segmix::testing
