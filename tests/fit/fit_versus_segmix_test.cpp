// segmix-fit's model folders against segmix itself: for each model of a short
// series on the small example, segmix run on the folder's par.inp (beside the
// example's data) writes exactly the folder's max.dat, par.err, sigma.dat and
// LH_fam.dat, and its standard output is the folder's console.txt. Both come
// from the one run sequence; this pins that no layer above it adds, drops or
// reorders a record. Short enough for the sanitizer build.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

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

TEST(FitVersusSegmix, EveryModelFolderIsWhatSegmixWritesForItsParInp) {
  const fs::path dir = testing::ScratchPathForCurrentTest("fit_vs_segmix_");
  fs::remove_all(dir);
  fs::create_directories(dir);
  const fs::path example = fs::path(SEGMIX_SOURCE_DIR) / "examples" / "small";
  const fs::path out = dir / "out";
  // The small example has no room for pga (bounds 0 .. 0): the models
  // without it, one with ties (A=MU D=MU) and one without.
  const char* models[] = {"sporadic", "major"};
  const std::string out_text = out.string();
  const char* argv[] = {"segmix-fit",     example.c_str(), "--out",
                        out_text.c_str(), "--quiet",       "--models",
                        "sporadic,major", "--starts",      "1"};
  std::ostringstream report, err;
  ASSERT_EQ(RunFitCommand(9, argv, report, err, false), 0) << err.str();

  for (const char* model : models) {
    SCOPED_TRACE(model);
    const fs::path folder = out / model;
    ASSERT_TRUE(fs::exists(folder / "par.inp"));
    const fs::path run = dir / (std::string("segmix-") + model);
    fs::create_directories(run);
    for (const char* data : {"iway.dat", "trait.dat", "age.dat"}) {
      fs::copy(example / data, run / data);
    }
    fs::copy(folder / "par.inp", run / "par.inp");
    const std::string command = "cd '" + run.string() + "' && '" +
                                SEGMIX_BINARY +
                                "' > ../stdout.txt 2> ../stderr.txt";
    ASSERT_EQ(std::system(command.c_str()), 0) << Contents(dir / "stderr.txt");
    for (const char* file : {"max.dat", "par.err", "sigma.dat", "LH_fam.dat"}) {
      EXPECT_EQ(Contents(folder / file), Contents(run / file)) << file;
    }
    EXPECT_FALSE(Contents(folder / "sigma.dat").empty());
    EXPECT_EQ(Contents(folder / "console.txt"), Contents(dir / "stdout.txt"));
  }
  if (!::testing::Test::HasFailure()) fs::remove_all(dir);
}

}  // namespace
}  // namespace segmix::fit
