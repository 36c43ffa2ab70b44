// Random numbers that are the same on every platform for a given seed.
//
// The engine is std::mt19937_64, whose output sequence the C++ standard fixes
// exactly. The standard's distributions (std::normal_distribution and the
// rest) are not fixed: each library draws them its own way, so the same seed
// gives different data with libstdc++ and libc++. Every distribution here is
// therefore written out, from the engine's 64-bit outputs and IEEE double
// arithmetic only: no library exp, log or cos, whose last bits may differ
// between mathematical libraries (the logarithm is our own, below).
#ifndef SEGMIX_SIMULATE_PORTABLE_RANDOM_H_
#define SEGMIX_SIMULATE_PORTABLE_RANDOM_H_

#include <cstdint>
#include <random>

namespace segmix::simulate {

// Natural logarithm of a positive finite x from frexp and the series
// ln m = 2 atanh((m - 1) / (m + 1)), m in [sqrt(1/2), sqrt(2)); within
// 1e-15 relative of the correctly rounded value (a few units in the last
// place, ample for drawing random numbers), and the same bits
// wherever double arithmetic is IEEE (no fused multiply-add: the build
// disables contraction).
double PortableLog(double x);

class PortableRandom {
 public:
  explicit PortableRandom(std::uint64_t seed) : engine_(seed) {}

  std::uint64_t Next() { return engine_(); }
  // Uniform in [0, 1): the top 53 bits of one output.
  double Uniform();
  // Uniform in (0, 1): never 0, so its logarithm is finite.
  double OpenUniform();
  // Uniform on 0..n-1 (n >= 1), without modulo bias (rejection).
  std::uint64_t Below(std::uint64_t n);
  // True with probability p.
  bool Chance(double p) { return Uniform() < p; }
  // Standard normal, by Marsaglia's polar method (one value per accepted
  // pair; the second is dropped so that each call is independent of the
  // previous one's parity).
  double Normal();
  // Poisson with the given mean (>= 0): arrivals of a unit-rate process
  // within `mean`, from exponential gaps -ln U.
  std::int64_t Poisson(double mean);
  // Number of successes among `draws` items drawn without replacement from
  // `total` items of which `successes` are successes.
  int Hypergeometric(int total, int successes, int draws);
  // Binomial(n, p) as n trials.
  int Binomial(int n, double p);

 private:
  std::mt19937_64 engine_;
};

}  // namespace segmix::simulate

#endif  // SEGMIX_SIMULATE_PORTABLE_RANDOM_H_
