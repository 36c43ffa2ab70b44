// The run's own decisions, in-process: where the initial log-likelihood ends
// the run, and RunProgram's way of turning every early end into an exit
// status and a report while the units are flushed first.
#include "run/run_sequence.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>

#include "model/parameter_table.h"
#include "pedigree_data.h"
#include "run_test_support.h"

namespace segmix::testing {
namespace {

TEST(InitialEvaluationFailedTest, ThresholdIsTheSinglePrecisionMinus1e17) {
  constexpr double kThreshold = -99999998430674944.0;
  ASSERT_EQ(kThreshold, static_cast<double>(-1e17f));
  const double just_above = std::nextafter(kThreshold, 0.0);
  ASSERT_EQ(just_above, -99999998430674928.0);
  struct Row {
    double value;
    bool stops;
  };
  const Row rows[] = {
      {kThreshold, true},
      {just_above, false},
      {std::nextafter(kThreshold, -1e300), true},
      {-1e17, true},  // the double -1e17 lies below the float's value
      {-999999984306749440.0, true},  // the failure sentinel
      {-std::numeric_limits<double>::infinity(), true},
      {-std::numeric_limits<double>::max(), true},
      {-9e16, false},
      {-1e6, false},
      {0.0, false},
      {-0.0, false},
      {std::numeric_limits<double>::infinity(), false},
      {std::numeric_limits<double>::quiet_NaN(), false},  // goes on
  };
  for (const Row& row : rows) {
    EXPECT_EQ(InitialEvaluationFailed(row.value), row.stops) << row.value;
  }
}

class RunProgramTest : public RunDirTest {};

TEST_F(RunProgramTest, MissingControlFileGivesTheReportAndStatusTwo) {
  std::ostringstream out, err;
  EXPECT_EQ(RunProgram(out, err), 2);
  EXPECT_EQ(out.str(), "");
  EXPECT_NE(err.str().find(" file: \"par.inp\"\nsegmix runtime error: No such "
                           "file or directory\n"),
            std::string::npos)
      << err.str();
}

TEST_F(RunProgramTest, InProcessRunWritesWhatTheProgramWrites) {
  // A data set of one trio and no free parameter: in-process and as a
  // process, the console and the result files are the same bytes.
  ControlFile control;
  control.flags = {1};
  control.proband_switch = 1;
  for (int j = 1; j <= 15; ++j) {
    control.model.tie[j] = j;
    control.model.in_model[j] = 1;
    control.model.gr[j] = 100.0;
  }
  control.model.value[1] = 0.2;
  control.model.value[2] = 12.0;
  control.model.value[3] = 11.0;
  control.model.value[4] = 10.0;
  control.model.value[6] = 2.0;
  control.model.in_model[8] = 0;
  DataSet data;
  data.families.push_back(
      {{{1, 2, 11.5f, {}}, {2, 2, 10.5f, {}}, {2, 1, 12.5f, {}}},
       {{1, 2, {3}, 0}}});
  WriteControlFile(control);
  WriteDataFiles(data, control);

  std::ostringstream out, err;
  ASSERT_EQ(RunProgram(out, err), 0) << err.str();
  EXPECT_EQ(err.str(), "");
  const std::string sigma = ReadFile("sigma.dat");
  const std::string families = ReadFile("LH_fam.dat");
  std::filesystem::remove("sigma.dat");
  std::filesystem::remove("LH_fam.dat");
  std::filesystem::remove("max.dat");

  const ProgramRun run = RunProgramHere();
  ASSERT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.console, out.str());
  EXPECT_EQ(ReadFile("sigma.dat"), sigma);
  EXPECT_EQ(ReadFile("LH_fam.dat"), families);

  const double ln_lh =
      static_cast<double>(SampleLogLikelihoodByBruteForce(data, control).ln_lh);
  EXPECT_NE(out.str().find(" initial LH=" + EditE(ln_lh, 15, 8) + "\n"),
            std::string::npos)
      << out.str();
}

TEST_F(RunProgramTest, RejectedStartReturnsOneAndFlushesParErr) {
  ControlFile control;
  control.flags = {1};
  for (int j = 1; j <= 15; ++j) {
    control.model.tie[j] = j;
    control.model.gr[j] = 1.0;
  }
  control.model.value[1] = 0.5;
  control.model.value[6] = 2.0;  // SIG above its upper bound 1
  control.model.estimate[6] = 1;
  DataSet data;
  data.families.push_back({{{1, 1, 1.0f, {}}}, {}});
  WriteControlFile(control);
  WriteDataFiles(data, control);
  std::ostringstream out, err;
  EXPECT_EQ(RunProgram(out, err), 1);
  EXPECT_EQ(err.str(), "");
  EXPECT_EQ(ReadFile("par.err"),
            " ERROR OF INITIAL PARAMETER VALUE:\n"
            "        SIG= 0.2000E+01\n"
            "   GL= 0.0000E+00 GR= 0.1000E+01\n");
  EXPECT_EQ(out.str(),
            " 1\n 1 1\n N_izm= 1  loop= 0\n MAX= -1\n"
            " initial LH=-0.99999998E+18\n");
}

}  // namespace
}  // namespace segmix::testing
