// The maximizer's records on real units: the iteration block on max.dat and
// the two messages on par.err, byte for byte. Expected records are written
// out by hand from the layouts, column by column, not taken from a run.
#include "run/max_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "maximize/maximize.h"
#include "model/parameter_table.h"
#include "textio/text_units.h"

namespace segmix {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t begin = 0;
  for (std::size_t end; (end = text.find('\n', begin)) != std::string::npos;
       begin = end + 1) {
    lines.push_back(text.substr(begin, end - begin));
  }
  EXPECT_EQ(begin, text.size()) << "last record without its line feed";
  return lines;
}

// Columns of "(1X,I2,1X,2E15.6,3X,I2,1X,2E15.6)": 1 + 2 + 1 + 30 + 3 + 2 + 1 +
// 30 = 70 characters.
std::string Row(const std::string& i, const std::string& value_i,
                const std::string& step_i, const std::string& k,
                const std::string& value_k, const std::string& step_k) {
  return " " + i + " " + value_i + step_i + "   " + k + " " + value_k + step_k;
}
const std::string kZero = "   0.000000E+00";  // E15.6 of 0: 3 blanks + 12
// 8X 'parameter' 7X 'step' 15X 'parameter' 7X 'step'.
const std::string kHeading =
    std::string(8, ' ') + "parameter" + std::string(7, ' ') + "step" +
    std::string(15, ' ') + "parameter" + std::string(7, ' ') + "step";
std::string ZeroRow(int i) {
  std::string a = std::to_string(i);
  a.insert(a.begin(), 2 - a.size(), ' ');  // I2
  return Row(a, kZero, kZero, std::to_string(i + 10), kZero, kZero);
}

// A temporary directory with max.dat on unit 2 and par.err on unit 25.
class MaxFileTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = testing::TempDir() + "segmix_max_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path MaxDat() const { return dir_ / "max.dat"; }
  fs::path ParErr() const { return dir_ / "par.err"; }
  void OpenBoth(TextUnits& units) {
    units.Open(kResultUnit, MaxDat().string(), OpenStatus::kNone);
    units.Open(kErrorUnit, ParErr().string(), OpenStatus::kNone);
  }

  // The worked example: -(x - 1)^2 from 0, step 0.25, bounds -10 and 10.
  MaximizerResult RunParabola(std::int32_t print_switch,
                              std::int32_t parameter_count = 1) {
    std::ostringstream console;
    TextUnits units(console);
    OpenBoth(units);
    UnitReport report(units);
    table_.estimate[1] = 1;
    table_.value[1] = 0;
    table_.step[1] = 0.25;
    table_.GL[1] = -10;
    table_.GR[1] = 10;
    MaximizerSettings settings;
    settings.print_switch = print_switch;
    const MaximizerResult result = Maximize(
        parameter_count, table_, settings,
        [&] { return -(table_.value[1] - 1) * (table_.value[1] - 1); },
        &report);
    units.CloseAll();
    EXPECT_EQ(console.str(), "");
    return result;
  }

  fs::path dir_;
  ParameterTable table_;
};

TEST_F(MaxFileTest, IterationBlockByteExact) {
  ParameterTable table;
  table.value[1] = 0.5;
  table.step[1] = -0.1875;
  table.value[2] = 1234565;  // halfway at 6 digits: even 6 stays
  table.step[2] = 1234575;   // halfway at 6 digits: odd 7 goes up
  table.value[10] = 12345.678;
  table.value[11] = -0.001;
  table.step[11] = 6.1104074120521545e-06;
  table.value[15] = 2.5;
  table.step[15] = -1e-5;
  table.value[21] = 99;  // positions above 20 are not shown
  {
    std::ostringstream console;
    TextUnits units(console);
    OpenBoth(units);
    UnitReport report(units);
    // ln LH halfway at 8 digits: even 8 stays.
    WriteIterationBlock(units, kResultUnit, 7, 123, -123456785.0, table);
    units.CloseAll();
  }
  const std::vector<std::string> expected = {
      " number of iterations =   7",
      " number of functions =   123",
      " ln LH =     -0.12345678E+09",
      kHeading,
      Row(" 1", "   0.500000E+00", "  -0.187500E+00", "11", "  -0.100000E-02",
          "   0.611041E-05"),
      Row(" 2", "   0.123456E+07", "   0.123458E+07", "12", kZero, kZero),
      ZeroRow(3),
      ZeroRow(4),
      Row(" 5", kZero, kZero, "15", "   0.250000E+01", "  -0.100000E-04"),
      ZeroRow(6),
      ZeroRow(7),
      ZeroRow(8),
      ZeroRow(9),
      Row("10", "   0.123457E+05", kZero, "20", kZero, kZero),
  };
  EXPECT_EQ(Lines(Slurp(MaxDat())), expected);
  EXPECT_EQ(expected[4].size(), 70u);
  EXPECT_EQ(kHeading.size(), 63u);
  EXPECT_EQ(Slurp(ParErr()), "");
}

TEST_F(MaxFileTest, FailureRecords) {
  {
    std::ostringstream console;
    TextUnits units(console);
    OpenBoth(units);
    UnitReport report(units);
    WriteMaximizerFailure(units, kErrorUnit,
                          MaximizerFailure::kTooManyParameters);
    WriteMaximizerFailure(units, kErrorUnit,
                          MaximizerFailure::kMaximumNotFound);
    units.CloseAll();
  }
  EXPECT_EQ(Slurp(ParErr()),
            " Number of estimated param.>30\n MAXIMUM NOT FOUND\n");
}

// The worked example on max.dat: 14 blocks of 14 records, the first three
// with the figures of the search's first three cycles.
TEST_F(MaxFileTest, WorkedExampleOnMaxDat) {
  const MaximizerResult r = RunParabola(1);
  EXPECT_EQ(r.iteration_count, 15);
  EXPECT_EQ(r.function_count, 147);
  const std::vector<std::string> lines = Lines(Slurp(MaxDat()));
  ASSERT_EQ(lines.size(), 14u * 14u);

  struct Head {
    const char* iterations;
    const char* functions;
    const char* ln_lh;
    const char* value;
    const char* step;
  };
  const Head heads[] = {
      {"   1", "     4", "     -0.25000000E+00", "   0.500000E+00",
       "  -0.187500E+00"},
      {"   2", "     6", "     -0.15625000E-01", "   0.112500E+01",
       "  -0.281250E+00"},
      {"   3", "    19", "     -0.15625000E-01", "   0.112543E+01",
       "   0.140625E+00"},
  };
  for (int b = 0; b < 3; ++b) {
    SCOPED_TRACE(b + 1);
    std::vector<std::string> expected = {
        std::string(" number of iterations =") + heads[b].iterations,
        std::string(" number of functions =") + heads[b].functions,
        std::string(" ln LH =") + heads[b].ln_lh,
        kHeading,
        Row(" 1", heads[b].value, heads[b].step, "11", kZero, kZero),
    };
    for (int i = 2; i <= 10; ++i) expected.push_back(ZeroRow(i));
    const std::vector<std::string> block(lines.begin() + 14 * b,
                                         lines.begin() + 14 * (b + 1));
    EXPECT_EQ(block, expected);
  }
  for (int b = 0; b < 14; ++b) {
    const std::string count = b + 1 < 10 ? "   " : "  ";
    EXPECT_EQ(lines[14 * b],
              " number of iterations =" + count + std::to_string(b + 1));
    EXPECT_EQ(lines[14 * b + 3], kHeading);
  }
  EXPECT_EQ(Slurp(ParErr()), "");
}

// Print switch 0: max.dat is opened but never written, so a file left by an
// earlier run keeps its content; -1 writes the blocks like 1.
TEST_F(MaxFileTest, PrintSwitch) {
  const std::string old = "left by an earlier run\nsecond record\n";
  std::ofstream(MaxDat(), std::ios::binary) << old;
  const MaximizerResult r = RunParabola(0);
  EXPECT_EQ(r.function_count, 147);
  EXPECT_EQ(Slurp(MaxDat()), old);

  RunParabola(-1);
  const std::vector<std::string> lines = Lines(Slurp(MaxDat()));
  ASSERT_EQ(lines.size(), 14u * 14u);
  EXPECT_EQ(lines[0], " number of iterations =   1");
  EXPECT_EQ(lines[14 * 13], " number of iterations =  14");
}

// n = 31: the message on par.err, no evaluation, max.dat untouched; n = 30
// searches as usual.
TEST_F(MaxFileTest, ParameterCount) {
  const MaximizerResult r31 = RunParabola(1, 31);
  EXPECT_EQ(r31.function_count, 0);
  EXPECT_EQ(Slurp(ParErr()), " Number of estimated param.>30\n");
  EXPECT_EQ(Slurp(MaxDat()), "");

  fs::remove(ParErr());
  const MaximizerResult r30 = RunParabola(1, 30);
  EXPECT_EQ(r30.function_count, 147);
  EXPECT_EQ(Slurp(ParErr()), "");
  EXPECT_EQ(Lines(Slurp(MaxDat())).size(), 14u * 14u);
}

// Both ways a search ends without a maximum write the same record once.
TEST_F(MaxFileTest, MaximumNotFound) {
  {
    std::ostringstream console;
    TextUnits units(console);
    OpenBoth(units);
    UnitReport report(units);
    ParameterTable table;
    table.estimate[1] = 1;
    table.step[1] = 0.25;
    const MaximizerResult r = Maximize(
        1, table, MaximizerSettings{},
        [] { return static_cast<double>(FailureSentinel); }, &report);
    units.CloseAll();
    EXPECT_EQ(r.function_count, 1);
    EXPECT_EQ(r.final_ln_lh, FailureSentinel);
  }
  EXPECT_EQ(Slurp(ParErr()), " MAXIMUM NOT FOUND\n");
  EXPECT_EQ(Slurp(MaxDat()), "");

  {
    std::ostringstream console;
    TextUnits units(console);
    OpenBoth(units);
    UnitReport report(units);
    ParameterTable table;
    table.estimate[1] = 1;
    table.step[1] = 0.25;
    table.GL[1] = -10;
    table.GR[1] = 10;
    MaximizerSettings settings;
    settings.iteration_limit = 2;
    const MaximizerResult r = Maximize(
        1, table, settings,
        [&] { return -(table.value[1] - 1) * (table.value[1] - 1); }, &report);
    units.CloseAll();
    EXPECT_EQ(r.iteration_count, 3);
    EXPECT_EQ(r.function_count, 19);
  }
  EXPECT_EQ(Slurp(ParErr()), " MAXIMUM NOT FOUND\n");
  EXPECT_EQ(Lines(Slurp(MaxDat())).size(), 2u * 14u);
}

}  // namespace
}  // namespace segmix
