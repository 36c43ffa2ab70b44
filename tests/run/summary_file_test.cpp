// sigma.dat byte for byte: the expected records are written out by hand from
// the record layouts (I4, I6, E20.8, E15.6), not taken from the program.
#include "run/summary_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "run_test_support.h"
#include "textio/text_units.h"

namespace segmix::testing {
namespace {

class SummaryFileTest : public RunDirTest {
 protected:
  // Writes the summary into sigma.dat through unit 2 and returns the file.
  std::string Write(std::int32_t observed, const MaximizerResult& result,
                    const ParameterTable& table) {
    std::ostringstream console;
    TextUnits units(console);
    units.Open(2, "sigma.dat", OpenStatus::kNone);
    WriteSummaryFile(units, 2, observed, result, table);
    units.Close(2);
    EXPECT_EQ(console.str(), "");
    return ReadFile("sigma.dat");
  }
};

TEST_F(SummaryFileTest, TwentyRecordsByHand) {
  ParameterTable table;
  const double values[16] = {0,          0.2,   16.0,      13.0,
                             12.175196,  0.0,   0.3788692, -0.5604771,
                             0.99999996, 1e100, 1e-101,    1234565.0,
                             1234575.0,  -0.0,  -1e-5,     123.4567};
  const double steps[16] = {
      0,     0.05,  0.5,     0.5,   -1.37484e-05, 0.0, 3.0552e-06, 9.16561e-07,
      -0.25, 1e308, -1e-300, 0.125, -0.1875,      2.5, 7.0,        -1234.5};
  for (int j = 1; j <= 15; ++j) {
    table.value[j] = values[j];
    table.step[j] = steps[j];
  }
  // Rows beyond 15 are never written.
  table.value[16] = 99.0;
  const MaximizerResult result{20, 207, -4.39420229};
  const std::string expected =
      "  Number of observed individuals =  14\n"
      "  Number of iteration =  20\n"
      " Number of functions =   207\n"
      "  ln LH =     -0.43942023E+01\n"
      "           Parameter       Step\n"
      "  1    0.200000E+00   0.500000E-01\n"
      "  2    0.160000E+02   0.500000E+00\n"
      "  3    0.130000E+02   0.500000E+00\n"
      "  4    0.121752E+02  -0.137484E-04\n"
      "  5    0.000000E+00   0.000000E+00\n"
      "  6    0.378869E+00   0.305520E-05\n"
      "  7   -0.560477E+00   0.916561E-06\n"
      // 0.99999996 rounds up to 1 and the exponent rises by one.
      "  8    0.100000E+01  -0.250000E+00\n"
      // Exponents of three digits drop the letter.
      "  9    0.100000+101   0.100000+309\n"
      " 10    0.100000-100  -0.100000-299\n"
      // 1234565 and 1234575 are halfway cases: to the even sixth digit.
      " 11    0.123456E+07   0.125000E+00\n"
      " 12    0.123458E+07  -0.187500E+00\n"
      // Minus zero keeps its sign.
      " 13   -0.000000E+00   0.250000E+01\n"
      " 14   -0.100000E-04   0.700000E+01\n"
      " 15    0.123457E+03  -0.123450E+04\n";
  EXPECT_EQ(Write(14, result, table), expected);
}

TEST_F(SummaryFileTest, CounterFieldsAtTheirWidths) {
  ParameterTable table;
  const std::string text = Write(10000, {9999, 999999, 0.0}, table);
  const std::vector<std::string> lines = SplitLines(text);
  ASSERT_EQ(lines.size(), 20u);
  EXPECT_EQ(lines[0], "  Number of observed individuals =****");
  EXPECT_EQ(lines[1], "  Number of iteration =9999");
  EXPECT_EQ(lines[2], " Number of functions =999999");
  EXPECT_EQ(lines[3], "  ln LH =      0.00000000E+00");
  EXPECT_EQ(lines[5], "  1    0.000000E+00   0.000000E+00");

  const std::string wide = Write(-1, {10000, 1000000, 1.0}, table);
  const std::vector<std::string> wide_lines = SplitLines(wide);
  EXPECT_EQ(wide_lines[0], "  Number of observed individuals =  -1");
  EXPECT_EQ(wide_lines[1], "  Number of iteration =****");
  EXPECT_EQ(wide_lines[2], " Number of functions =******");
  EXPECT_EQ(wide_lines[3], "  ln LH =      0.10000000E+01");
}

TEST_F(SummaryFileTest, FailedSearchValuesAsTheyPrint) {
  ParameterTable table;
  const double sentinel = static_cast<double>(-1e18f);
  const std::string text = Write(3, {0, 1, sentinel}, table);
  EXPECT_EQ(SplitLines(text)[3], "  ln LH =     -0.99999998E+18");
}

TEST_F(SummaryFileTest, EveryParameterRecordHas34Characters) {
  // Random values of every magnitude: the record layout never changes.
  std::mt19937_64 bits(20240611);
  std::uniform_int_distribution<int> exponent(-300, 300);
  std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
  for (int round = 0; round < 50; ++round) {
    ParameterTable table;
    for (int j = 1; j <= 15; ++j) {
      table.value[j] = mantissa(bits) * std::pow(10.0, exponent(bits));
      table.step[j] = mantissa(bits) * std::pow(10.0, exponent(bits));
    }
    const std::string text = Write(round, {round, 10 * round, -1.5}, table);
    const std::vector<std::string> lines = SplitLines(text);
    ASSERT_EQ(lines.size(), 20u);
    ASSERT_EQ(text.back(), '\n');
    for (int j = 1; j <= 15; ++j) {
      const std::string& line = lines[4 + j];
      ASSERT_EQ(line.size(), 34u) << line;
      std::string expected(1, ' ');
      expected += EditI(j, 2);
      expected += ' ';
      expected += EditE(table.value[j], 15, 6);
      expected += EditE(table.step[j], 15, 6);
      EXPECT_EQ(line, expected);
    }
  }
}

TEST_F(SummaryFileTest, ReplacesALongerFileOfAnEarlierRun) {
  std::string old;
  for (int i = 0; i < 40; ++i) old += "an older record of some length\n";
  WriteFile("sigma.dat", old);
  ParameterTable table;
  const std::string text = Write(1, {1, 12, -2.0}, table);
  EXPECT_EQ(SplitLines(text).size(), 20u);
  EXPECT_EQ(text.find("older"), std::string::npos);
}

}  // namespace
}  // namespace segmix::testing
