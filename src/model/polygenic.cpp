// The polygenic transmission table and population frequencies. Each value is
// rounded to double where the table stores it, and nowhere else: the
// intermediate products and sums are kept in extended precision, so the
// stored tables are the same bits in every build.
#include "model/polygenic.h"

#include <algorithm>
#include <array>
#include <stdexcept>

namespace segmix {

Extended Factorial(std::int32_t n) {
  Extended result = 1;
  for (std::int32_t i = 1; i <= n; ++i) result *= static_cast<Extended>(i);
  return result;
}

Extended BinomialCoefficient(std::int32_t n, std::int32_t k) {
  if (n == k) return 1;
  if (n < k) return 0;
  // n! and k! are stored as doubles before the division; the denominator
  // (n-k)! * k! is formed in extended precision and stored as a double too.
  const double fn = static_cast<double>(Factorial(n));
  const double fk = static_cast<double>(Factorial(k));
  const double d = static_cast<double>(Factorial(n - k) * fk);
  return static_cast<Extended>(fn) / d;
}

namespace {

// The gamete table and the child-genotype ranges below are written for three
// loci; the tables of PolygenicTables have no room for more.
constexpr std::int32_t kLoci = 3;
constexpr std::int32_t kGenotypes = 2 * kLoci + 1;

void RequireThreeLoci(const PolygenicTables& tables) {
  if (tables.PolygenicLocusCount != kLoci) {
    throw std::logic_error("the polygenic model is built for 3 loci");
  }
}

}  // namespace

void BuildPolygenicTransmission(PolygenicTables& tables) {
  RequireThreeLoci(tables);
  const std::int32_t n = tables.PolygenicLocusCount;
  tables.PolygenicGenotypeCount = 2 * n + 1;

  const double u = static_cast<double>(1 / BinomialCoefficient(2 * n, n));

  // G[x][k]: probability that a parent with x increasing alleles passes a
  // gamete with k of them (hypergeometric: 3 of 6 alleles without
  // replacement). Impossible cells come out 0 from BinomialCoefficient.
  std::array<std::array<double, kLoci + 1>, kGenotypes> G{};
  for (std::int32_t x = 0; x <= 2 * n; ++x) {
    for (std::int32_t k = 0; k <= n; ++k) {
      const double first = static_cast<double>(BinomialCoefficient(x, k));
      G[x][k] = static_cast<double>(static_cast<Extended>(first) *
                                    BinomialCoefficient(2 * n - x, n - k) * u);
    }
  }

  // T(o | a, b) = sum over k of G(k | a) G(o - k | b). Only the child
  // genotypes the parents can produce are written; the rest stay 0.
  auto& T = tables.PolygenicTransmission;
  for (std::int32_t a = 0; a <= 2 * n; ++a) {
    for (std::int32_t b = 0; b <= 2 * n; ++b) {
      const std::int32_t low = std::max(a - kLoci, 0) + std::max(b - kLoci, 0);
      const std::int32_t high = std::min(a, kLoci) + std::min(b, kLoci);
      for (std::int32_t o = low; o <= high; ++o) {
        Extended sum = 0;
        for (std::int32_t k = 0; k <= kLoci && k <= a && k <= o; ++k) {
          if (o - k > kLoci) continue;
          sum += static_cast<Extended>(G[a][k]) * G[b][o - k];
        }
        T[o + 7 * a + 49 * b] = static_cast<double>(sum);
      }
    }
  }
}

void FillPolygenicFrequency(PolygenicTables& tables) {
  const std::int32_t N = tables.PolygenicGenotypeCount;
  if (N != kGenotypes) {
    throw std::logic_error("PolygenicGenotypeCount must be 7");
  }
  // 0.5 to the power N - 1 in single precision: exactly 1/64.
  float h = 1.0f;
  for (std::int32_t i = 1; i <= N - 1; ++i) h *= 0.5f;
  for (std::int32_t k = 0; k <= N - 1; ++k) {
    tables.PolygenicFrequency[k + 1] = static_cast<double>(
        BinomialCoefficient(N - 1, k) * static_cast<double>(h));
  }
}

PolygenicTables BuildPolygenicTables() {
  PolygenicTables tables;
  tables.PolygenicLocusCount = 3;
  tables.PolygenicGenotypeCount = 7;
  BuildPolygenicTransmission(tables);
  FillPolygenicFrequency(tables);
  return tables;
}

}  // namespace segmix
