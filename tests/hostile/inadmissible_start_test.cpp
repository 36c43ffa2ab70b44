// Starting points that are not admissible, one table row each, run as the
// whole program (in-process) on the small example with one file changed: a
// frequency or transmission probability outside 0..1 (fixed, tied or
// estimated), a step the search would lose, and starts whose likelihood
// underflows. Each row gives the exit status and what par.err, the console
// and standard error must say; no output of any row may hold a value that is
// not a number.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "run/run_sequence.h"
#include "support/scratch_path.h"

namespace segmix {
namespace {

namespace fs = std::filesystem;

const fs::path kExample = fs::path(SEGMIX_SOURCE_DIR) / "examples" / "small";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A parameter record of par.inp, "(2i3,i2,4E12.5)" with the reals as text.
std::string Record(int tie, int in_model, int estimate, const char* value,
                   const char* step, const char* gl, const char* gr) {
  char line[80];
  std::snprintf(line, sizeof line, "%3d%3d%2d%12s%12s%12s%12s", tie, in_model,
                estimate, value, step, gl, gr);
  return line;
}

struct Row {
  const char* name;
  const char* file;  // the file changed
  int line;          // its 0-based line replaced
  std::string text;
  int exit_status;
  const char* par_err_has;  // "" : par.err empty
  const char* stderr_has;   // "" : standard error empty
};

const std::string kRejectedStart = " initial LH=-0.99999998E+18\n";

const Row kRows[] = {
    {"Q fixed above 1", "par.inp", 2,
     Record(1, 1, 0, "1.5", "0.05", "0.001", "0.999"), 1,
     "        Q  = 0.1500E+01\n   Q is an allele frequency and must lie in "
     "0..1",
     ""},
    {"Q tied to D", "par.inp", 2,
     Record(4, 1, 0, "0.2", "0.05", "0.001", "0.999"), 1,
     "        Q  = 0.1050E+02\n   Q is an allele frequency", ""},
    {"Tr1 in the model fixed at 2", "par.inp", 9,
     Record(8, 1, 0, "2.0", "0.0", "0.0", "1.0"), 1,
     "        Tr1= 0.2000E+01\n   Tr1 is a transmission probability", ""},
    {"a step of 1e30", "par.inp", 5,
     Record(4, 1, 1, "10.5", "1.0E+30", "5.0", "13.0"), 1,
     "        D  = 0.1050E+02\n   STEP= 0.1000E+31 is so large that the search "
     "loses the value it steps from: give the D record a smaller step in "
     "par.inp\n",
     ""},
    {"a trait of 1e30", "trait.dat", 0,
     "1e30 11.5 14.8 12.9 10.7 -999 -999 13.4 11.2 9.8 14.1 12.6 10.9 9.6 -999 "
     "11.8 10.4 -999 -999",
     1, "", "family 1 of iway.dat failed first"},
    {"SIG fixed at 1e-30", "par.inp", 7,
     Record(6, 1, 0, "1.0E-30", "0.5", "0.1", "20.0"), 1, "", "failed first"},
    // Bounds wider than 0..1: the search's trials below 0 are rejected like
    // points outside their bounds, and no evaluation line shows NaN.
    {"Q estimated within -1 and 2", "par.inp", 2,
     Record(1, 1, 1, "0.2", "0.3", "-1.0", "2.0"), 0, "", ""},
};

class InadmissibleStart : public ::testing::TestWithParam<Row> {};

TEST_P(InadmissibleStart, IsRefusedWithItsReason) {
  const Row& row = GetParam();
  const fs::path dir = testing::ScratchPathForCurrentTest("segmix_start_");
  fs::remove_all(dir);
  fs::create_directories(dir);
  for (const auto& entry : fs::directory_iterator(kExample)) {
    fs::copy(entry.path(), dir / entry.path().filename());
  }
  {
    std::istringstream in(ReadFile(dir / row.file));
    std::string text, line;
    for (int i = 0; std::getline(in, line); ++i) {
      text += (i == row.line ? row.text : line) + "\n";
    }
    std::ofstream(dir / row.file, std::ios::binary | std::ios::trunc) << text;
  }

  const fs::path previous = fs::current_path();
  fs::current_path(dir);
  std::ostringstream out, err;
  const int status = RunProgram(out, err);
  fs::current_path(previous);

  EXPECT_EQ(status, row.exit_status) << err.str();
  const std::string par_err = ReadFile(dir / "par.err");
  if (*row.par_err_has == '\0') {
    EXPECT_EQ(par_err, "");
  } else {
    EXPECT_NE(par_err.find(row.par_err_has), std::string::npos) << par_err;
  }
  if (*row.stderr_has == '\0') {
    EXPECT_EQ(err.str(), "");
  } else {
    EXPECT_NE(err.str().find(row.stderr_has), std::string::npos) << err.str();
  }
  std::vector<std::string> outputs = {out.str(), par_err};
  if (row.exit_status == 0) {
    for (const char* result : {"max.dat", "sigma.dat", "LH_fam.dat"}) {
      outputs.push_back(ReadFile(dir / result));
    }
  } else {
    // A refused start writes no result file; the console's last record is
    // the initial log-likelihood (the failure sentinel unless the start
    // itself was fine).
    for (const char* result : {"max.dat", "sigma.dat", "LH_fam.dat"}) {
      EXPECT_FALSE(fs::exists(dir / result)) << result;
    }
    if (std::string(row.name) != "a step of 1e30") {
      EXPECT_TRUE(out.str().ends_with(kRejectedStart)) << out.str();
    }
  }
  for (const std::string& text : outputs) {
    EXPECT_EQ(text.find("NaN"), std::string::npos) << text;
    EXPECT_EQ(text.find("nan"), std::string::npos) << text;
  }
  if (!HasFailure()) fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Rows, InadmissibleStart, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) {
                           std::string name = info.param.name;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c)))
                               c = '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace segmix
