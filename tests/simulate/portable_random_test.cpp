// PortableRandom: the engine is the standard's mt19937_64 (its fixed
// outputs), the logarithm is accurate, and each distribution has the moments
// and probabilities it should. Every test uses a fixed seed, so its counts are
// the same on every run.
#include "simulate/portable_random.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>

namespace segmix::simulate {
namespace {

TEST(PortableRandom, EngineIsTheStandardMersenneTwister) {
  // The standard fixes the 10000th output of a default-seeded mt19937_64.
  PortableRandom random(5489);
  std::uint64_t value = 0;
  for (int i = 0; i < 10000; ++i) value = random.Next();
  EXPECT_EQ(value, 9981545732273789042ull);
}

TEST(PortableRandom, UniformIsTheTop53BitsOfOneOutput) {
  // The first output of mt19937_64 seeded with 5489 is
  // 14514284786278117030; its top 53 bits over 2^53.
  PortableRandom random(5489);
  EXPECT_EQ(random.Uniform(),
            static_cast<double>(14514284786278117030ull >> 11) * 0x1.0p-53);
  PortableRandom open(5489);
  EXPECT_EQ(
      open.OpenUniform(),
      (static_cast<double>(14514284786278117030ull >> 11) + 0.5) * 0x1.0p-53);
}

TEST(PortableLog, ExactWhereTheAnswerIsExact) {
  EXPECT_EQ(PortableLog(1.0), 0.0);
}

TEST(PortableLog, WithinAFewUnitsInTheLastPlaceOfTheLibraryLog) {
  const double values[] = {2.0,
                           0.5,
                           10.0,
                           0.1,
                           1e-300,
                           1e300,
                           0x1p-1074,
                           0x1.fffffffffffffp1023,
                           0.70710678118654752,
                           1.4142135623730951,
                           0.9999999999999999,
                           1.0000000000000002,
                           3.0,
                           7.5e-5,
                           123456.789};
  for (const double x : values) {
    const double expected = std::log(x);
    const double ulp = std::nextafter(std::fabs(expected),
                                      std::numeric_limits<double>::infinity()) -
                       std::fabs(expected);
    EXPECT_NEAR(PortableLog(x), expected, 8 * ulp) << x;
  }
  // A sweep over (0, 1], where the simulator takes its logarithms.
  PortableRandom random(7);
  double worst = 0;
  for (int i = 0; i < 100000; ++i) {
    const double x = random.OpenUniform();
    const double expected = std::log(x);
    worst = std::max(worst, std::fabs(PortableLog(x) - expected) /
                                std::max(std::fabs(expected), 1e-300));
  }
  EXPECT_LT(worst, 1e-15);
}

TEST(PortableRandom, UniformStaysInItsInterval) {
  PortableRandom random(11);
  for (int i = 0; i < 100000; ++i) {
    const double u = random.Uniform();
    ASSERT_GE(u, 0.0);
    ASSERT_LT(u, 1.0);
    const double v = random.OpenUniform();
    ASSERT_GT(v, 0.0);
    ASSERT_LT(v, 1.0);
  }
}

TEST(PortableRandom, BelowIsUniform) {
  PortableRandom random(3);
  std::array<int, 6> counts{};
  const int draws = 60000;
  for (int i = 0; i < draws; ++i) ++counts[random.Below(6)];
  for (const int c : counts) EXPECT_NEAR(c, draws / 6, 300);  // ~3.3 sd
  EXPECT_EQ(random.Below(1), 0u);
}

TEST(PortableRandom, NormalMomentsAndTails) {
  PortableRandom random(1);
  const int n = 200000;
  double sum = 0, squares = 0, fourth = 0;
  int within_one = 0;
  for (int i = 0; i < n; ++i) {
    const double z = random.Normal();
    sum += z;
    squares += z * z;
    fourth += z * z * z * z;
    within_one += std::fabs(z) < 1 ? 1 : 0;
  }
  EXPECT_NEAR(sum / n, 0.0, 0.01);
  EXPECT_NEAR(squares / n, 1.0, 0.01);
  EXPECT_NEAR(fourth / n, 3.0, 0.06);
  EXPECT_NEAR(static_cast<double>(within_one) / n, 0.682689, 0.004);
}

TEST(PortableRandom, PoissonMeanVarianceAndZeroClass) {
  PortableRandom random(5);
  const int n = 100000;
  double sum = 0, squares = 0;
  int zeros = 0;
  for (int i = 0; i < n; ++i) {
    const double k = static_cast<double>(random.Poisson(1.5));
    sum += k;
    squares += k * k;
    zeros += k == 0 ? 1 : 0;
  }
  const double mean = sum / n;
  EXPECT_NEAR(mean, 1.5, 0.015);
  EXPECT_NEAR(squares / n - mean * mean, 1.5, 0.03);
  EXPECT_NEAR(static_cast<double>(zeros) / n, std::exp(-1.5), 0.005);
  EXPECT_EQ(random.Poisson(0.0), 0);
}

TEST(PortableRandom, HypergeometricGameteOfAParentWithThreeOfSix) {
  // A parent with 3 increasing alleles of 6 passes k of them in a gamete of
  // 3: C(3,k) C(3,3-k) / C(6,3) = 1/20, 9/20, 9/20, 1/20.
  PortableRandom random(9);
  std::array<int, 4> counts{};
  const int n = 100000;
  for (int i = 0; i < n; ++i) ++counts[random.Hypergeometric(6, 3, 3)];
  EXPECT_NEAR(counts[0], n / 20, 250);
  EXPECT_NEAR(counts[1], 9 * n / 20, 500);
  EXPECT_NEAR(counts[2], 9 * n / 20, 500);
  EXPECT_NEAR(counts[3], n / 20, 250);
  // The extremes are certain.
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(random.Hypergeometric(6, 0, 3), 0);
    EXPECT_EQ(random.Hypergeometric(6, 6, 3), 3);
  }
}

TEST(PortableRandom, BinomialMean) {
  PortableRandom random(13);
  double sum = 0;
  const int n = 50000;
  for (int i = 0; i < n; ++i) sum += random.Binomial(6, 0.5);
  EXPECT_NEAR(sum / n, 3.0, 0.02);
  EXPECT_EQ(random.Binomial(2, 0.0), 0);
  EXPECT_EQ(random.Binomial(2, 1.0), 2);
}

TEST(PortableRandom, SameSeedSameStream) {
  PortableRandom a(42), b(42), c(43);
  bool differs = false;
  for (int i = 0; i < 100; ++i) {
    const double x = a.Normal();
    EXPECT_EQ(x, b.Normal());
    differs |= x != c.Normal();
  }
  EXPECT_TRUE(differs);
}

}  // namespace
}  // namespace segmix::simulate
