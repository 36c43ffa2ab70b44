// The bundled example (examples/small) run as a user runs it: copied into a
// scratch directory, the program started there. The console report up to the
// initial log-likelihood is derived from the files themselves (member counts,
// family weights, the no-proband records) and from the brute-force
// likelihood; the rest of the run is checked for its layouts and against the
// brute force at the estimates.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "pedigree_data.h"
#include "run_test_support.h"

namespace segmix::testing {
namespace {

class ExampleRunTest : public RunDirTest {
 protected:
  void SetUp() override {
    RunDirTest::SetUp();
    const std::filesystem::path example =
        std::filesystem::path(SEGMIX_SOURCE_DIR) / "examples" / "small";
    for (const auto& entry : std::filesystem::directory_iterator(example)) {
      std::filesystem::copy(entry.path(), dir_ / entry.path().filename());
    }
    control_ = ReadControlFileBack("par.inp");
    data_ = ReadDataFilesBack(control_);
  }

  // The console records before the first evaluation, from the files.
  std::vector<std::string> ConsoleHead() const {
    int members = 0;
    for (const TestFamily& f : data_.families) {
      members += static_cast<int>(f.members.size());
    }
    std::vector<std::string> head{" " + std::to_string(members)};
    for (int g = 1; g <= data_.stored_family_count; ++g) {
      int observed = 0;
      for (const TestMember& m : data_.families[g - 1].members) {
        observed += m.trait >= -998.0f;
      }
      if (observed > 0) {
        head.push_back(" " + std::to_string(g) + " " +
                       std::to_string(observed));
      }
    }
    int observed = 0, status0 = 0;
    for (int g = 1; g <= static_cast<int>(control_.flags.size()); ++g) {
      if (control_.flags[g - 1] == 0 ||
          g > static_cast<int>(data_.families.size())) {
        continue;
      }
      const TestFamily& f = data_.families[g - 1];
      if (f.members.empty()) continue;
      bool proband = false;
      for (const TestMember& m : f.members) {
        proband |= m.status != 2;
        observed += m.trait >= -998.0f;
        status0 += m.status == 0;
      }
      if (control_.proband_switch != 0 && !proband) {
        head.push_back(" No proband in the family" + EditI(g, 3));
      }
    }
    head.push_back(" N_izm= " + std::to_string(observed) +
                   "  loop= " + std::to_string(status0));
    head.push_back(" MAX= -1");
    return head;
  }

  ControlFile control_;
  DataSet data_;
};

TEST_F(ExampleRunTest, InitialEvaluationMatchesTheBruteForce) {
  const ProgramRun run = RunProgramHere();
  ASSERT_EQ(run.exit_status, 0) << run.errors;
  EXPECT_EQ(run.errors, "");

  const double initial = static_cast<double>(
      SampleLogLikelihoodByBruteForce(data_, control_).ln_lh);
  const TestModel model = Effective(
      control_.model, static_cast<int>(control_.covariate_files.size()));
  std::vector<std::string> head = ConsoleHead();
  std::string line = EditF(initial, 15, 4);
  for (int j : {1, 2, 3, 4, 6}) line += EditF(model.value[j], 8, 5);
  head.push_back(line);
  head.push_back(" initial LH=" + EditE(initial, 15, 8));
  const std::vector<std::string> lines = SplitLines(run.console);
  ASSERT_GT(lines.size(), head.size());
  for (std::size_t i = 0; i < head.size(); ++i) {
    EXPECT_EQ(lines[i], head[i]) << "console record " << i + 1;
  }
  EXPECT_EQ(lines.back(), " **** END OF PROGRAM ****");
}

TEST_F(ExampleRunTest, EstimatesAreABruteForceMaximum) {
  const ProgramRun run = RunProgramHere();
  ASSERT_EQ(run.exit_status, 0) << run.errors;
  EXPECT_EQ(ReadFile("par.err"), "");

  const std::vector<std::string> sigma = SplitLines(ReadFile("sigma.dat"));
  ASSERT_EQ(sigma.size(), 20u);
  std::smatch m;
  ASSERT_TRUE(std::regex_match(
      sigma[3], m, std::regex(R"(  ln LH = *(-?0\.\d{8}E[+-]\d\d))")));
  const double reported = std::strtod(m[1].str().c_str(), nullptr);
  ControlFile at = control_;
  const std::regex parameter(
      R"( ( \d|\d\d) ( *-?0\.\d{6}E[+-]\d\d)( *-?0\.\d{6}E[+-]\d\d))");
  std::vector<int> free_rows;
  for (int j = 1; j <= 15; ++j) {
    ASSERT_EQ(sigma[4 + j].size(), 34u);
    ASSERT_TRUE(std::regex_match(sigma[4 + j], m, parameter)) << sigma[4 + j];
    if (control_.model.estimate[j] != 0 && control_.model.tie[j] == j) {
      at.model.value[j] = std::strtod(m[2].str().c_str(), nullptr);
      free_rows.push_back(j);
    }
  }
  ASSERT_FALSE(free_rows.empty());
  const double best =
      static_cast<double>(SampleLogLikelihoodByBruteForce(data_, at).ln_lh);
  EXPECT_NEAR(best, reported, 1e-4);
  for (int j : free_rows) {
    for (double sign : {-1.0, 1.0}) {
      ControlFile moved = at;
      const double h = 0.01 * std::max(std::fabs(at.model.value[j]), 0.1);
      moved.model.value[j] += sign * h;
      if (moved.model.value[j] <= control_.model.gl[j] ||
          moved.model.value[j] >= control_.model.gr[j]) {
        continue;
      }
      EXPECT_LT(static_cast<double>(
                    SampleLogLikelihoodByBruteForce(data_, moved).ln_lh),
                best)
          << "row " << j << " moved by " << sign * h;
    }
  }
}

}  // namespace
}  // namespace segmix::testing
