// The distributions of PortableRandom and the portable logarithm.
#include "simulate/portable_random.h"

#include <cmath>
#include <limits>

namespace segmix::simulate {

double PortableLog(double x) {
  // x = m * 2^e exactly; moving m into [sqrt(1/2), sqrt(2)) keeps
  // |z| = |m - 1| / (m + 1) below 0.1716, where the odd series of atanh
  // z + z^3/3 + z^5/5 + ... has shrunk below 1e-17 relative after 11 terms.
  int e = 0;
  double m = std::frexp(x, &e);
  if (m < 0.70710678118654752440) {
    m *= 2;
    --e;
  }
  const double z = (m - 1) / (m + 1);
  const double z2 = z * z;
  double term = z;
  double sum = 0;
  for (int k = 1; k <= 27; k += 2) {
    sum += term / k;
    term *= z2;
  }
  // ln 2 split so that e * kLn2High is exact for |e| < 2^11.
  constexpr double kLn2High = 0.693147180369123816490;  // 0x1.62e42fee00000p-1
  constexpr double kLn2Low = 1.90821492927058770002e-10;  // ln 2 - kLn2High
  return e * kLn2High + (2 * sum + e * kLn2Low);
}

double PortableRandom::Uniform() {
  return static_cast<double>(engine_() >> 11) * 0x1.0p-53;
}

double PortableRandom::OpenUniform() {
  return (static_cast<double>(engine_() >> 11) + 0.5) * 0x1.0p-53;
}

std::uint64_t PortableRandom::Below(std::uint64_t n) {
  // Outputs from `limit` on would make the low residues more likely.
  const std::uint64_t limit = std::numeric_limits<std::uint64_t>::max() / n * n;
  std::uint64_t r = engine_();
  while (r >= limit) r = engine_();
  return r % n;
}

double PortableRandom::Normal() {
  while (true) {
    const double u = 2 * Uniform() - 1;
    const double v = 2 * Uniform() - 1;
    const double s = u * u + v * v;
    if (s >= 1 || s == 0) continue;
    return u * std::sqrt(-2 * PortableLog(s) / s);
  }
}

std::int64_t PortableRandom::Poisson(double mean) {
  std::int64_t count = 0;
  double time = -PortableLog(OpenUniform());
  while (time <= mean) {
    ++count;
    time -= PortableLog(OpenUniform());
  }
  return count;
}

int PortableRandom::Hypergeometric(int total, int successes, int draws) {
  int drawn = 0;
  for (int i = 0; i < draws; ++i) {
    const int left = total - i;
    if (static_cast<int>(Below(static_cast<std::uint64_t>(left))) < successes) {
      ++drawn;
      --successes;
    }
  }
  return drawn;
}

int PortableRandom::Binomial(int n, double p) {
  int count = 0;
  for (int i = 0; i < n; ++i) count += Chance(p) ? 1 : 0;
  return count;
}

}  // namespace segmix::simulate
