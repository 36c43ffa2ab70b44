// The committed example under examples/simulated: segmix-simulate and
// segmix-prep reproduce its files byte for byte from the commands recorded
// in it, and the program's estimates on it land near the truth it was drawn
// from.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "cli/command_line.h"
#include "simulate/simulate_command.h"
#include "support/companion_test_support.h"

namespace segmix::simulate {
namespace {

using prep::testing::ReadFile;
using prep::testing::RunPrep;
using prep::testing::ScratchDir;

const std::filesystem::path kExample =
    std::filesystem::path(SEGMIX_SOURCE_DIR) / "examples" / "simulated";

// The words after `prefix` on the table's comment line that starts with it.
std::vector<std::string> RecordedArguments(const std::string& table,
                                           const std::string& prefix) {
  std::istringstream lines(table);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.starts_with(prefix)) continue;
    std::istringstream words(line.substr(prefix.size()));
    std::vector<std::string> args;
    for (std::string w; words >> w;) args.push_back(w);
    return args;
  }
  return {};
}

TEST(Example, TableIsReproducedFromItsRecordedCommand) {
  const std::string table = ReadFile(kExample / "table.txt");
  std::vector<std::string> args =
      RecordedArguments(table, "# segmix-simulate ");
  const std::vector<std::string> truth = RecordedArguments(table, "# truth: ");
  ASSERT_FALSE(args.empty());
  ASSERT_FALSE(truth.empty());
  args.insert(args.end(), truth.begin(), truth.end());
  std::ostringstream out, err;
  ASSERT_EQ(RunSimulateCommand(args, out, err), cli::kExitDone) << err.str();
  EXPECT_EQ(out.str(), table);
}

TEST(Example, FilesAreWhatPrepWritesFromTheTable) {
  ScratchDir dir;
  std::filesystem::copy_file(kExample / "table.txt", dir / "table.txt");
  const auto result =
      RunPrep({"--covariates", "cov1", (dir / "table.txt").string(),
               dir.Path().string()});
  ASSERT_EQ(result.status, cli::kExitDone) << result.err;
  for (const char* name :
       {"iway.dat", "trait.dat", "cov1.dat", "par.inp", "idmap.dat"}) {
    EXPECT_EQ(ReadFile(dir / name), ReadFile(kExample / name)) << name;
  }
}

// Estimate of each row of sigma.dat (records 6 to 20: "j value step").
std::vector<double> Estimates(const std::string& sigma) {
  std::istringstream lines(sigma);
  std::string line;
  std::vector<double> values(16, 0.0);
  for (int record = 1; std::getline(lines, line); ++record) {
    if (record < 6) continue;
    std::istringstream fields(line);
    int row = 0;
    double value = 0;
    if (fields >> row >> value && row >= 1 && row <= 15) values[row] = value;
  }
  return values;
}

TEST(Example, EstimatesLandNearTheTruth) {
  ScratchDir dir;
  for (const char* name : {"iway.dat", "trait.dat", "cov1.dat", "par.inp"}) {
    std::filesystem::copy_file(kExample / name, dir / name);
  }
  const std::string command = "cd '" + dir.Path().string() + "' && '" +
                              std::string(SEGMIX_BINARY) +
                              "' > console.txt 2> error.txt";
  ASSERT_EQ(std::system(command.c_str()), 0) << ReadFile(dir / "error.txt");
  const std::vector<double> v = Estimates(ReadFile(dir / "sigma.dat"));
  // Truth: Q 0.2, MU 3, A 1.5, D 0, SIG 1, B1 0.8; windows of about three
  // standard errors for 200 ascertained families.
  EXPECT_NEAR(v[1], 0.2, 0.05);
  EXPECT_NEAR(v[2], 3.0, 0.3);
  EXPECT_NEAR(v[3], 1.5, 0.3);
  EXPECT_NEAR(v[4], 0.0, 0.25);
  EXPECT_NEAR(v[6], 1.0, 0.2);
  EXPECT_NEAR(v[11], 0.8, 0.1);
  // Left out of the model: switched off at 0.
  EXPECT_EQ(v[5], 0.0);
  EXPECT_EQ(v[7], 0.0);
  // One LH_fam.dat record per family.
  const std::string families = ReadFile(dir / "LH_fam.dat");
  EXPECT_EQ(std::count(families.begin(), families.end(), '\n'), 200);
}

}  // namespace
}  // namespace segmix::simulate
