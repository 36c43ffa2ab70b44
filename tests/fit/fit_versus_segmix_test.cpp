// segmix-fit's model folders against segmix itself: for each model of a short
// series on the small example, segmix run on the folder's par.inp (beside the
// example's data) writes exactly the folder's max.dat, par.err, sigma.dat and
// LH_fam.dat, and its standard output is the folder's console.txt (also
// under --transform boxcox, with the folder's transformed trait file). Both
// come from the one run sequence; this pins that no layer above it adds, drops
// or reorders a record. Short enough for the sanitizer build.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "fit/fit_command.h"
#include "support/scratch_path.h"

namespace segmix::fit {
namespace {

namespace fs = std::filesystem;

std::string Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs segmix in `run` (which holds par.inp and the small example's data);
// returns sigma.dat's ln LH.
double SegmixLnLh(const fs::path& example, const fs::path& run) {
  for (const char* data : {"iway.dat", "trait.dat", "age.dat"}) {
    fs::copy(example / data, run / data, fs::copy_options::overwrite_existing);
  }
  const std::string command = "cd '" + run.string() + "' && '" + SEGMIX_BINARY +
                              "' > stdout.txt 2> stderr.txt";
  if (std::system(command.c_str()) != 0) return 0;
  std::istringstream sigma(Contents(run / "sigma.dat"));
  std::string line;
  for (int k = 0; k < 4; ++k) std::getline(sigma, line);
  return std::stod(line.substr(line.find('=') + 1));
}

TEST(FitVersusSegmix, ProfileEndpointFixedInParInpDropsTheLevel) {
  const fs::path dir = testing::ScratchPathForCurrentTest("fit_profile_");
  fs::remove_all(dir);
  fs::create_directories(dir);
  const fs::path example = fs::path(SEGMIX_SOURCE_DIR) / "examples" / "small";
  const std::string out = (dir / "out").string();
  const char* argv[] = {"segmix-fit", example.c_str(), "--out", out.c_str(),
                        "--quiet",    "--models",      "major", "--profile",
                        "D",          "--starts",      "1"};
  std::ostringstream report, err;
  ASSERT_EQ(RunFitCommand(11, argv, report, err, false), 0) << err.str();
  const auto json = nlohmann::json::parse(Contents(dir / "out" / "fit.json"));
  const auto& profile = json.at("profiles").at(0);
  ASSERT_FALSE(profile.at("lower_reaches_bound").get<bool>());
  const double lower = profile.at("lower").get<double>();

  // major's own par.inp started at its estimates (the level is a drop from
  // the maximum, not from wherever one start ends), with D (row 4, line 6)
  // fixed at the endpoint: each row keeps its tie and in-model columns, D's
  // estimate flag becomes 0, the value is written in 12 columns.
  std::istringstream par(Contents(dir / "out" / "major" / "par.inp"));
  std::vector<std::string> lines;
  for (std::string line; std::getline(par, line);) lines.push_back(line);
  const auto& estimates = json.at("models").at(0).at("estimates");
  const struct {
    const char* name;
    int row;
  } rows[] = {{"Q", 1}, {"MU", 2}, {"A", 3}, {"D", 4}, {"SIG", 6}, {"B1", 11}};
  for (const auto& [name, row] : rows) {
    const bool end = row == 4;
    char value[32];
    std::snprintf(value, sizeof value, "%12.8f",
                  end ? lower : estimates.at(name).get<double>());
    std::string& line = lines[static_cast<std::size_t>(row) + 1];
    line = line.substr(0, 6) + (end ? " 0" : line.substr(6, 2)) + value +
           line.substr(20);
  }
  const fs::path run = dir / "segmix";
  fs::create_directories(run);
  std::ofstream(run / "par.inp") << [&] {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
  }();
  const double maximum = SegmixLnLh(example, dir / "out" / "major");
  const double at_end = SegmixLnLh(example, run);
  // Half the 95% point of chi-square with 1 df.
  EXPECT_NEAR(maximum - at_end, 1.920729, 0.005);
  if (!::testing::Test::HasFailure()) fs::remove_all(dir);
}

// Under --transform boxcox the folder also holds the transformed trait file
// its par.inp names, and the model's ln LH is sigma.dat's plus the Jacobian
// term (lambda - 1) S of fit.json.
TEST(FitVersusSegmix, EveryModelFolderIsWhatSegmixWritesForItsParInp) {
  for (const bool boxcox : {false, true}) {
    SCOPED_TRACE(boxcox ? "boxcox" : "plain");
    const fs::path dir = testing::ScratchPathForCurrentTest("fit_vs_segmix_");
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path example = fs::path(SEGMIX_SOURCE_DIR) / "examples" / "small";
    const fs::path out = dir / "out";
    // The small example has no room for pga (bounds 0 .. 0): the models
    // without it, one with ties (A=MU D=MU) and one without.
    const char* models[] = {"sporadic", "major"};
    const std::string out_text = out.string();
    std::vector<const char*> argv = {
        "segmix-fit",     example.c_str(), "--out",
        out_text.c_str(), "--quiet",       "--models",
        "sporadic,major", "--starts",      "1"};
    if (boxcox) argv.insert(argv.end(), {"--transform", "boxcox"});
    std::ostringstream report, err;
    ASSERT_EQ(RunFitCommand(static_cast<int>(argv.size()), argv.data(), report,
                            err, false),
              0)
        << err.str();
    const auto json = nlohmann::json::parse(Contents(out / "fit.json"));
    EXPECT_EQ(
        Contents(out / "report.html").find("The trait is shown transformed") !=
            std::string::npos,
        boxcox);

    for (const char* model : models) {
      SCOPED_TRACE(model);
      const fs::path folder = out / model;
      ASSERT_TRUE(fs::exists(folder / "par.inp"));
      EXPECT_EQ(fs::exists(folder / "trait-boxcox.dat"), boxcox);
      const fs::path run = dir / (std::string("segmix-") + model);
      fs::create_directories(run);
      for (const char* data : {"iway.dat", "trait.dat", "age.dat"}) {
        fs::copy(example / data, run / data);
      }
      fs::copy(folder / "par.inp", run / "par.inp");
      if (boxcox)
        fs::copy(folder / "trait-boxcox.dat", run / "trait-boxcox.dat");
      const std::string command = "cd '" + run.string() + "' && '" +
                                  SEGMIX_BINARY +
                                  "' > ../stdout.txt 2> ../stderr.txt";
      ASSERT_EQ(std::system(command.c_str()), 0)
          << Contents(dir / "stderr.txt");
      for (const char* file :
           {"max.dat", "par.err", "sigma.dat", "LH_fam.dat"}) {
        EXPECT_EQ(Contents(folder / file), Contents(run / file)) << file;
      }
      EXPECT_FALSE(Contents(folder / "sigma.dat").empty());
      EXPECT_EQ(Contents(folder / "console.txt"), Contents(dir / "stdout.txt"));
      if (!boxcox) continue;
      const auto& m = json.at("models").at(model == models[0] ? 0 : 1);
      const double lambda = m.at("estimates").at("lambda");
      std::istringstream sigma(Contents(run / "sigma.dat"));
      std::string line;
      for (int k = 0; k < 4; ++k) std::getline(sigma, line);
      const double core = std::stod(line.substr(line.find('=') + 1));
      const double log_sum = json.at("transform").at("log_sum");
      EXPECT_NEAR(m.at("ln_lh").get<double>(), core + (lambda - 1) * log_sum,
                  1e-3);  // sigma.dat's ln LH has 4 decimals
    }
    if (!::testing::Test::HasFailure()) fs::remove_all(dir);
  }
}

}  // namespace
}  // namespace segmix::fit
