// The polygenic transmission table against hand-derived hypergeometric
// fractions, its invariances, and the factorial and binomial edge values.
#include "model/polygenic.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

namespace segmix {
namespace {

PolygenicTables Built() {
  PolygenicTables t;
  t.PolygenicGenotypeCount = 0;  // the build sets it from the locus count
  BuildPolygenicTransmission(t);
  FillPolygenicFrequency(t);
  return t;
}

double T(const PolygenicTables& t, int o, int a, int b) {
  return t.PolygenicTransmission[o + 7 * a + 49 * b];
}

// Exact small binomial coefficients by Pascal's triangle (0 outside).
std::int64_t Choose(int n, int k) {
  if (k < 0 || k > n || n < 0) return 0;
  std::int64_t c = 1;
  for (int i = 1; i <= k; ++i) c = c * (n - k + i) / i;
  return c;
}

TEST(Factorial, EdgeValues) {
  EXPECT_EQ(Factorial(0), 1.0L);
  EXPECT_EQ(Factorial(-5), 1.0L);
  EXPECT_EQ(Factorial(1), 1.0L);
  EXPECT_EQ(Factorial(6), 720.0L);
  // 25! has a 62-bit odd part: exact in extended precision, not in a double.
  EXPECT_EQ(Factorial(25), 15511210043330985984000000.0L);
  EXPECT_NE(static_cast<Extended>(static_cast<double>(Factorial(25))),
            Factorial(25));
}

TEST(BinomialCoefficient, EdgeValues) {
  struct Row {
    std::int32_t n, k;
    Extended expected;
  };
  const Row rows[] = {
      {3, 3, 1},  {-2, -2, 1}, {0, 0, 1},         {2, 3, 0},
      {-1, 0, 0}, {6, 3, 20},  {6, 0, 1},         {6, 6, 1},
      {4, 2, 6},  {5, 1, 5},   {2, -1, 1.0L / 3},  // k < 0: n! / (n-k)! because
                                                   // (-1)! is 1
  };
  for (const Row& r : rows) {
    EXPECT_EQ(BinomialCoefficient(r.n, r.k), r.expected)
        << "C(" << r.n << ", " << r.k << ")";
  }
}

TEST(PolygenicTransmission, SetsGenotypeCount) {
  EXPECT_EQ(Built().PolygenicGenotypeCount, 7);
}

// A parent with 0 increasing alleles always passes k = 0, so column (x, 0)
// is the gamete distribution G(. | x) itself.
TEST(PolygenicTransmission, GameteTable) {
  const int numer[7][4] = {{20, 0, 0, 0}, {10, 10, 0, 0}, {4, 12, 4, 0},
                           {1, 9, 9, 1},  {0, 4, 12, 4},  {0, 0, 10, 10},
                           {0, 0, 0, 20}};
  const PolygenicTables t = Built();
  const double u = static_cast<double>(1.0L / 20);
  for (int x = 0; x <= 6; ++x) {
    for (int k = 0; k <= 3; ++k) {
      // Hypergeometric count C(x,k) C(6-x,3-k) out of C(6,3) = 20.
      ASSERT_EQ(Choose(x, k) * Choose(6 - x, 3 - k), numer[x][k]);
      const double exact =
          static_cast<double>(static_cast<Extended>(numer[x][k]) * u);
      EXPECT_EQ(T(t, k, x, 0), exact) << "G(" << k << " | " << x << ")";
      EXPECT_DOUBLE_EQ(T(t, k, x, 0), numer[x][k] / 20.0);
    }
    for (int o = 4; o <= 6; ++o) EXPECT_EQ(T(t, o, x, 0), 0.0);
  }
}

TEST(PolygenicTransmission, WorkedColumns) {
  const PolygenicTables t = Built();
  const std::array<double, 7> c33 = {1, 18, 99, 164, 99, 18, 1};
  const std::array<double, 7> c12 = {0.1, 0.4, 0.4, 0.1, 0, 0, 0};
  const std::array<double, 7> c24 = {0, 1, 6, 11, 6, 1, 0};
  for (int o = 0; o <= 6; ++o) {
    EXPECT_DOUBLE_EQ(T(t, o, 3, 3), c33[o] / 400) << o;
    EXPECT_DOUBLE_EQ(T(t, o, 1, 2), c12[o]) << o;
    EXPECT_DOUBLE_EQ(T(t, o, 2, 4), c24[o] / 25) << o;
  }
  // Impossible children are exactly 0.
  for (int o : {4, 5, 6}) EXPECT_EQ(T(t, o, 1, 2), 0.0);
  EXPECT_EQ(T(t, 0, 2, 4), 0.0);
  EXPECT_EQ(T(t, 6, 2, 4), 0.0);
}

TEST(PolygenicTransmission, CornerColumns) {
  const PolygenicTables t = Built();
  for (int o = 0; o <= 6; ++o) {
    EXPECT_EQ(T(t, o, 0, 0), o == 0 ? 1.0 : 0.0) << o;
    EXPECT_EQ(T(t, o, 6, 6), o == 6 ? 1.0 : 0.0) << o;
    EXPECT_EQ(T(t, o, 0, 6), o == 3 ? 1.0 : 0.0) << o;
    EXPECT_EQ(T(t, o, 6, 0), o == 3 ? 1.0 : 0.0) << o;
  }
}

TEST(PolygenicTransmission, SymmetricAndColumnsSumToOne) {
  const PolygenicTables t = Built();
  for (int a = 0; a <= 6; ++a) {
    for (int b = 0; b <= 6; ++b) {
      long double sum = 0;
      for (int o = 0; o <= 6; ++o) {
        EXPECT_EQ(T(t, o, a, b), T(t, o, b, a)) << o << a << b;
        EXPECT_GE(T(t, o, a, b), 0.0);
        sum += T(t, o, a, b);
      }
      EXPECT_NEAR(static_cast<double>(sum), 1.0, 4e-16) << a << b;
    }
  }
}

// Brute force: enumerate the 20 x 20 ordered gamete draws of two parents.
TEST(PolygenicTransmission, MatchesEnumeratedGametes) {
  const PolygenicTables t = Built();
  for (int a = 0; a <= 6; ++a) {
    for (int b = 0; b <= 6; ++b) {
      std::array<int, 7> count{};
      for (int ma = 0; ma < 64; ++ma) {
        if (__builtin_popcount(ma) != 3) continue;
        const int ka = __builtin_popcount(ma & ((1 << a) - 1));
        for (int mb = 0; mb < 64; ++mb) {
          if (__builtin_popcount(mb) != 3) continue;
          ++count[ka + __builtin_popcount(mb & ((1 << b) - 1))];
        }
      }
      for (int o = 0; o <= 6; ++o) {
        EXPECT_NEAR(T(t, o, a, b), count[o] / 400.0, 2e-16) << o << a << b;
      }
    }
  }
}

TEST(PolygenicFrequency, BinomialOverSixtyFour) {
  const PolygenicTables t = Built();
  const double expected[8] = {0, 1, 6, 15, 20, 15, 6, 1};
  EXPECT_EQ(t.PolygenicFrequency[0], 0.0);
  for (int j = 1; j <= 7; ++j) {
    EXPECT_EQ(t.PolygenicFrequency[j], expected[j] / 64) << j;
  }
}

TEST(PolygenicFrequency, PreservedByTransmission) {
  const PolygenicTables t = Built();
  for (int o = 0; o <= 6; ++o) {
    long double sum = 0;
    for (int a = 0; a <= 6; ++a) {
      for (int b = 0; b <= 6; ++b) {
        sum += static_cast<long double>(t.PolygenicFrequency[a + 1]) *
               t.PolygenicFrequency[b + 1] * T(t, o, a, b);
      }
    }
    EXPECT_NEAR(static_cast<double>(sum), t.PolygenicFrequency[o + 1], 1e-16)
        << o;
  }
}

}  // namespace
}  // namespace segmix
