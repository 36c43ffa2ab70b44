// Left-out components in whole runs. A run sets a left-out row (in-model flag
// 0 among pga, Sex, B1..B5) to 0 once, when par.inp is read; ties and the
// search then act on the table as it stands. So inside an evaluation the
// in-model flag of pga or of a coefficient plays no part, and two par.inp
// files that differ only in that flag give the same bytes in every file,
// while the flag still zeroes a starting value.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "run_test_support.h"

namespace segmix::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kResultFiles[] = {"par.err", "max.dat", "sigma.dat",
                                        "LH_fam.dat"};
// Where sigma.dat stands in RunWith's list: status, console, errors, files.
constexpr std::size_t kSigma = 3 + 2;

// One parameter record of par.inp: its row and its text (tie index first).
struct Row {
  int row;
  std::string text;
};

// examples/small with two covariates (age twice) and rows replaced.
std::string SmallControlFile(const std::vector<Row>& rows) {
  std::string text = "4 1 'trait.dat' 2\n1111\n";
  const std::string defaults[16] = {
      "",
      "  1  1 0         0.2        0.05       0.001       0.999",
      "  2  1 0        16.0         0.5         5.0        25.0",
      "  3  1 0        13.0         0.5         5.0        25.0",
      "  4  1 1        10.5         0.5         5.0        13.0",
      "  5  0 0         0.0         0.0         0.0         0.0",
      "  6  1 1         2.0         0.5         0.1        20.0",
      "  7  1 0         0.5         0.0        -5.0         5.0",
      "  8  0 0         1.0         0.0         0.0         1.0",
      "  9  0 0         0.5         0.0         0.0         1.0",
      " 10  0 0         0.0         0.0         0.0         1.0",
      " 11  1 1         0.5         0.1        -2.0         2.0",
      " 12  1 0         0.0         0.0         0.0         0.0",
      " 13  0 0         0.0         0.0         0.0         0.0",
      " 14  0 0         0.0         0.0         0.0         0.0",
      " 15  0 0         0.0         0.0         0.0         0.0"};
  for (int j = 1; j <= 15; ++j) {
    std::string row = defaults[j];
    for (const Row& replaced : rows) {
      if (replaced.row == j) row = replaced.text;
    }
    text += row + "\n";
  }
  return text + "age.dat\nage.dat\n";
}

class LeftOutRowsTest : public RunDirTest {
 protected:
  // Runs the program on examples/small's data with `control` as par.inp in
  // a folder of its own; returns the console and every result file.
  std::vector<std::string> RunWith(const std::string& name,
                                   const std::string& control) {
    const fs::path folder = dir_ / name;
    fs::create_directories(folder);
    const fs::path example = fs::path(SEGMIX_SOURCE_DIR) / "examples/small";
    for (const char* data : {"iway.dat", "trait.dat", "age.dat"}) {
      fs::copy(example / data, folder / data);
    }
    fs::current_path(folder);
    WriteFile("par.inp", control);
    const ProgramRun run = RunProgramHere();
    std::vector<std::string> outputs = {std::to_string(run.exit_status),
                                        run.console, run.errors};
    for (const char* file : kResultFiles) outputs.push_back(ReadFile(file));
    fs::current_path(dir_);
    return outputs;
  }
};

struct FlagCase {
  const char* name;
  Row left_out;  // the row with in-model flag 0
  Row in_model;  // the same row with in-model flag 1
};

TEST_F(LeftOutRowsTest, InModelFlagOfATiedOrEstimatedRowChangesNoByte) {
  const FlagCase cases[] = {
      // B2 tied to B1 (0.5 at the start): B2 = B1 enters covariate 2's term.
      {"tied coefficient",
       {12, " 11  0 0         0.0         0.0         0.0         0.0"},
       {12, " 11  1 0         0.0         0.0         0.0         0.0"}},
      // pga estimated from 0: the search moves it and the likelihood uses it.
      {"estimated pga",
       {5, "  5  0 1         0.0         0.1        -5.0         5.0"},
       {5, "  5  1 1         0.0         0.1        -5.0         5.0"}},
  };
  for (const FlagCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto out = RunWith("out", SmallControlFile({c.left_out}));
    const auto in = RunWith("in", SmallControlFile({c.in_model}));
    ASSERT_EQ(out[0], "0") << out[2];
    EXPECT_EQ(out, in);
    // And the row does act: without it the search ends elsewhere.
    const auto plain = RunWith("plain", SmallControlFile({}));
    EXPECT_NE(out[kSigma], plain[kSigma]);
    fs::remove_all(dir_ / "out");
    fs::remove_all(dir_ / "in");
    fs::remove_all(dir_ / "plain");
  }
}

TEST_F(LeftOutRowsTest, LeftOutStartingValueIsZeroedOnce) {
  // pga fixed at 0.7 but out of the model: a run starts, and stays, at 0.
  const auto out = RunWith(
      "out",
      SmallControlFile(
          {{5, "  5  0 0         0.7         0.0         0.0         0.0"}}));
  const auto zero = RunWith(
      "zero",
      SmallControlFile(
          {{5, "  5  1 0         0.0         0.0         0.0         0.0"}}));
  ASSERT_EQ(out[0], "0") << out[2];
  EXPECT_EQ(out, zero);
}

}  // namespace
}  // namespace segmix::testing
