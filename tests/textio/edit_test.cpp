// Value editing: every row's expected text is worked out by hand from the
// editing rules, not taken from the program's output.
#include "textio/edit.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "textio_fixture.h"

namespace segmix {
namespace {

using testing::Write;

TEST(OutputEditing, FixedLayoutItems) {
  struct Row {
    std::string got, want;
  };
  const Row rows[] = {
      {Write("(E15.6)", 1.23456789), "   0.123457E+01\n"},
      {Write("(E15.8)", -1234.5678), "-0.12345678E+04\n"},
      {Write("(E15.6)", 0.0), "   0.000000E+00\n"},
      {Write("(E15.6)", -0.0), "  -0.000000E+00\n"},
      // The failure sentinel: -1e18 in single precision widened to double.
      {Write("(e15.8)", static_cast<double>(-1e18f)), "-0.99999998E+18\n"},
      {Write("(E15.6)", 1e100), "   0.100000+101\n"},
      {Write("(E15.6)", 1e-100), "   0.100000E-99\n"},
      {Write("(E15.6)", 1e-101), "   0.100000-100\n"},
      {Write("(E12.5)", 9.999996),
       " 0.10000E+02\n"},  // the carry raises the exponent
      // Halfway cases on exact binary values: 0.125 and 0.375 to two digits.
      {Write("(E10.2)", 0.125), "  0.12E+00\n"},
      {Write("(E10.2)", 0.375), "  0.38E+00\n"},
      // One column too long: the 0 before the point goes; longer: asterisks.
      {Write("(E12.6)", -1.5), "-.150000E+01\n"},
      {Write("(E11.6)", -1.5), "***********\n"},
      {Write("(E20.8)", -123.456), "     -0.12345600E+03\n"},
      {Write("(F8.5)", 0.5), " 0.50000\n"},
      {Write("(F8.5)", 123.4), "********\n"},
      {Write("(F7.5)", 0.5), "0.50000\n"},
      {Write("(F6.5)", 0.5), ".50000\n"},
      {Write("(F7.5)", -0.5), "-.50000\n"},
      {Write("(F8.5)", -0.000001), "-0.00000\n"},
      {Write("(f15.4)", -1234.53125), "     -1234.5312\n"},  // halfway: to even
      {Write("(f15.4)", -1234.53135), "     -1234.5313\n"},
      {Write("(F6.2)", 0.125), "  0.12\n"},
      {Write("(F6.2)", 0.375), "  0.38\n"},
      {Write("(I4)", 12345), "****\n"},
      {Write("(I4)", -12), " -12\n"},
      {Write("(I3)", 0), "  0\n"},
      {Write("(A5)", "ab"), "   ab\n"},
      {Write("(A2)", "abcd"), "ab\n"},
      {Write("(A)", "ab c"), "ab c\n"},
  };
  for (const Row& row : rows) EXPECT_EQ(row.got, row.want);
}

TEST(OutputEditing, LayoutDriving) {
  // Text before the value; the whole record without values; the record
  // ends at the second I2 with no trailing blanks from 3X.
  EXPECT_EQ(Write("(' initial LH=',e15.8)", -1234.5678),
            " initial LH=-0.12345678E+04\n");
  EXPECT_EQ(Write("(10X,' Parameter',7X,'Step')"),
            "           Parameter       Step\n");
  const std::string record =
      Write("(1X,I2,1X,2E15.6,3X,I2,1X,2E15.6)", std::int32_t{3}, 0.5, 0.25);
  EXPECT_EQ(record, "  3    0.500000E+00   0.250000E+00\n");
  EXPECT_EQ(record.size(), 35u);
  // Tabs and blanks are ignored outside quotes, slashes need no commas.
  EXPECT_EQ(
      Write("(1X,' Number of iteration =',I4,\t/' Number of functions =',I6,"
            "/1X,' ln LH =',E20.8)",
            std::int32_t{15}, std::int32_t{147}, -1.5),
      "  Number of iteration =  15\n"
      " Number of functions =   147\n"
      "  ln LH =     -0.15000000E+01\n");
  // Reversion: a new record, the layout from its start.
  EXPECT_EQ(Write("(2I2)", 1, 2, 3), " 1 2\n 3\n");
  EXPECT_EQ(Write("(I 1 2)", 7), "           7\n");
  EXPECT_EQ(Write("('it''s',I1)", 5), "it's5\n");
  EXPECT_EQ(Write("(f15.4,9f8.5)", -12.5, 0.5, 1.0),
            "       -12.5000 0.50000 1.00000\n");
  EXPECT_EQ(Write("(I2,5X)", 1), " 1\n");  // X adds nothing at the end
}

TEST(OutputEditing, FreeForm) {
  struct Row {
    std::string got, want;
  };
  const Row rows[] = {
      {Write("", 0.1), " 0.1\n"},
      {Write("", 1.0e7), " 1.E+7\n"},
      {Write("", 1234567.0), " 1234567.\n"},
      {Write("", 0.001234), " 0.001234\n"},
      {Write("", 1234.5), " 1234.5\n"},
      {Write("", 1000.0), " 1000.\n"},
      {Write("", 1.5), " 1.5\n"},
      {Write("", 12345.0), " 12345.\n"},
      {Write("", 1.5e7), " 1.5E+7\n"},
      {Write("", 1e10), " 1.E+10\n"},
      {Write("", 1.234e-8), " 1.234E-8\n"},
      {Write("", 1.0e-7), " 1.E-7\n"},
      {Write("", 0.0), " 0.\n"},
      {Write("", -2.5), " -2.5\n"},
      {Write("", 0.1f), " 0.1\n"},  // shortest for the 4-byte value
      {Write("", 1.0 / 3.0), " 0.3333333333333333\n"},
      {Write("", 1.0f / 3.0f), " 0.33333334\n"},
      {Write("", std::numeric_limits<double>::denorm_min()), " 5.E-324\n"},
      {Write("", std::numeric_limits<double>::max()),
       " 1.7976931348623157E+308\n"},
      {Write("", "N_izm=", 345, " loop=", 0), " N_izm= 345  loop= 0\n"},
      {Write("", "MAX=", -1), " MAX= -1\n"},
      {Write("", "ab", "cd", 1, "ef"), " abcd 1 ef\n"},
      {Write("", "**** END OF PROGRAM ****"), " **** END OF PROGRAM ****\n"},
  };
  for (const Row& row : rows) EXPECT_EQ(row.got, row.want);
}

TEST(OutputEditing, ShortestDigitsReadBackToTheSameBits) {
  // Property: free-form output read back as E input gives the same value.
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  for (int k = 0; k < 20000; ++k) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    const double value = std::bit_cast<double>(state);
    if (!std::isfinite(value)) continue;
    std::string text = ShortestReal(value);
    double back = 0;
    ASSERT_EQ(ReadRealField(text, 0, false, back), InputResult::kOk) << text;
    ASSERT_EQ(std::bit_cast<std::uint64_t>(back),
              std::bit_cast<std::uint64_t>(value))
        << text;
    const float single =
        std::bit_cast<float>(static_cast<std::uint32_t>(state));
    if (!std::isfinite(single)) continue;
    float single_back = 0;
    text = ShortestReal(single);
    ASSERT_EQ(ReadRealField(text, 0, false, single_back), InputResult::kOk)
        << text;
    ASSERT_EQ(std::bit_cast<std::uint32_t>(single_back),
              std::bit_cast<std::uint32_t>(single))
        << text;
  }
}

// E and F output checked against the C library's printf, an independent
// exact decimal conversion that also rounds halfway cases to even.
std::string PrintfExponent(double value, int width, int digits) {
  char buf[512];
  std::snprintf(buf, sizeof buf, "%.*e", digits - 1, std::fabs(value));
  std::string mantissa;
  const char* p = buf;
  for (; *p != 'e'; ++p) {
    if (*p != '.') mantissa += *p;
  }
  int exponent = std::atoi(p + 1) + 1;
  if (value == 0) exponent = 0;
  char tail[16];
  const int magnitude = std::abs(exponent);
  if (magnitude <= 99) {
    std::snprintf(tail, sizeof tail, "E%c%02d", exponent < 0 ? '-' : '+',
                  magnitude);
  } else {
    std::snprintf(tail, sizeof tail, "%c%03d", exponent < 0 ? '-' : '+',
                  magnitude);
  }
  std::string text =
      std::string(std::signbit(value) ? "-" : "") + "0." + mantissa + tail;
  if (static_cast<int>(text.size()) == width + 1) text.erase(text.find('0'), 1);
  if (static_cast<int>(text.size()) > width) return std::string(width, '*');
  return std::string(width - text.size(), ' ') + text;
}

std::string PrintfFixed(double value, int width, int digits) {
  char buf[512];
  std::snprintf(buf, sizeof buf, "%.*f", digits, value);
  std::string text = buf;
  const std::size_t zero = text[0] == '-' ? 1 : 0;
  if (static_cast<int>(text.size()) == width + 1 &&
      text.compare(zero, 2, "0.") == 0) {
    text.erase(zero, 1);
  }
  if (static_cast<int>(text.size()) > width) return std::string(width, '*');
  return std::string(width - text.size(), ' ') + text;
}

TEST(OutputEditing, ExponentAndFixedAgreeWithPrintfOnRandomValues) {
  struct Item {
    int width, digits;
  };
  const Item e_items[] = {{15, 6}, {15, 8}, {20, 8}, {12, 5}, {11, 4}, {10, 2}};
  const Item f_items[] = {{8, 5}, {15, 4}, {6, 2}, {20, 10}};
  std::uint64_t state = 0x2545F4914F6CDD1Dull;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  for (int k = 0; k < 20000; ++k) {
    const std::uint64_t bits = next();
    double value = 0;
    switch (k % 4) {
      case 0:  // any finite double
        value = std::bit_cast<double>(bits);
        break;
      case 1:  // a 4-byte real, as the trait and covariate files hold
        value = static_cast<double>(
            std::bit_cast<float>(static_cast<std::uint32_t>(bits)));
        break;
      case 2:  // dyadic values with few bits: exact halfway cases abound
        value = static_cast<double>(static_cast<std::int64_t>(bits % 200001) -
                                    100000) /
                static_cast<double>(1ull << (bits >> 60));
        break;
      default:  // log-likelihood-sized values
        value =
            (static_cast<double>(bits >> 11) / 9007199254740992.0 - 0.5) * 1e5;
        break;
    }
    if (!std::isfinite(value)) continue;
    for (const Item& item : e_items) {
      ASSERT_EQ(EditExponent(value, item.width, item.digits),
                PrintfExponent(value, item.width, item.digits))
          << value << " E" << item.width << "." << item.digits;
    }
    if (std::fabs(value) > 1e30) continue;  // only asterisks there
    for (const Item& item : f_items) {
      ASSERT_EQ(EditFixed(value, item.width, item.digits),
                PrintfFixed(value, item.width, item.digits))
          << value << " F" << item.width << "." << item.digits;
    }
  }
}

TEST(InputEditing, IntegerFields) {
  struct Row {
    const char* field;
    InputResult result;
    std::int32_t value;
  };
  const Row rows[] = {
      {"", InputResult::kOk, 0},
      {"   ", InputResult::kOk, 0},
      {" 12", InputResult::kOk, 12},
      {"1 2", InputResult::kOk, 12},
      {"-7", InputResult::kOk, -7},
      {"+7", InputResult::kOk, 7},
      {"-", InputResult::kBad, 0},
      {"1x", InputResult::kBad, 0},
      {"1.", InputResult::kBad, 0},
      {"2147483647", InputResult::kOk, 2147483647},
      {"2147483648", InputResult::kOverflow, 0},
      {"-2147483648", InputResult::kOverflow, 0},
      {"99999999999999999999", InputResult::kOverflow, 0},
  };
  for (const Row& row : rows) {
    std::int32_t value = -99;
    EXPECT_EQ(ReadIntegerField(row.field, false, value), row.result)
        << row.field;
    if (row.result == InputResult::kOk) {
      EXPECT_EQ(value, row.value) << row.field;
    }
  }
  std::int32_t value = 0;
  EXPECT_EQ(ReadIntegerField("-2147483648", true, value), InputResult::kOk);
  EXPECT_EQ(value, std::numeric_limits<std::int32_t>::min());
}

TEST(InputEditing, RealFields) {
  struct Row {
    const char* field;
    int digits;
    InputResult result;
    double value;
  };
  const Row rows[] = {
      {"  1.234E+01", 5, InputResult::kOk, 12.34},
      {"       12340", 5, InputResult::kOk, 0.1234},
      {"     1500000", 5, InputResult::kOk, 15.0},
      {"   1.234D1", 5, InputResult::kOk, 12.34},
      {"   1.234d1", 5, InputResult::kOk, 12.34},
      {"   1.234e 1", 5, InputResult::kOk, 12.34},
      {"   1.234+1", 5, InputResult::kOk, 12.34},
      {"  12340E1", 5, InputResult::kOk, 1.234},
      {"            ", 5, InputResult::kOk, 0.0},
      {"", 5, InputResult::kOk, 0.0},
      {" 1 . 5", 5, InputResult::kOk, 1.5},
      {"-.5", 0, InputResult::kOk, -0.5},
      {"1e400", 0, InputResult::kOk, std::numeric_limits<double>::infinity()},
      {"1e-400", 0, InputResult::kOk, 0.0},
      {"-", 5, InputResult::kBad, 0},
      {".", 5, InputResult::kBad, 0},
      {"1.2.3", 5, InputResult::kBad, 0},
      {"1.5x", 5, InputResult::kBad, 0},
      {"1.5E", 5, InputResult::kBad, 0},
      {"E5", 5, InputResult::kBad, 0},
      {"NaN", 0, InputResult::kBad, 0},
      {"Inf", 0, InputResult::kBad, 0},
  };
  for (const Row& row : rows) {
    double value = -99;
    EXPECT_EQ(ReadRealField(row.field, row.digits, true, value), row.result)
        << row.field;
    if (row.result == InputResult::kOk) {
      EXPECT_EQ(value, row.value) << row.field;
    }
  }
  // A 4-byte real is rounded once, from the decimal text: 16777217 lies
  // halfway between two floats, and 16777217.000001 just above it.
  float single = 0;
  ASSERT_EQ(ReadRealField("16777217.000001", 0, false, single),
            InputResult::kOk);
  EXPECT_EQ(single, 16777218.0f);
  ASSERT_EQ(ReadRealField("3.4028236e38", 0, false, single), InputResult::kOk);
  EXPECT_EQ(single, std::numeric_limits<float>::infinity());
}

}  // namespace
}  // namespace segmix
