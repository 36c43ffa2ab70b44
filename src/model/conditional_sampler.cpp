// ConditionalSampler: the member-by-member draw of the joint states with the
// peeled likelihood as the oracle of each conditional distribution, and the
// traits given the states (see conditional_sampler.h).
#include "model/conditional_sampler.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <span>
#include <stdexcept>
#include <string>

#include "model/extended.h"
#include "model/family_likelihood.h"
#include "model/peel_kernels.h"
#include "model/trait_density.h"

namespace segmix {

namespace {

constexpr std::int32_t G = kMajorGenotypes;
constexpr std::int32_t J = kPolygenicGenotypes;
constexpr std::int32_t kStates = kJointGenotypes;
constexpr std::int32_t kCoefficientCount = 5;  // B1..B5, as TraitDensity
constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kPi = 3.14159265358979323846;

std::uint64_t SplitMix64(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

std::uint64_t FamilySeed(std::uint64_t seed, std::int32_t g) {
  return SplitMix64(SplitMix64(seed) ^
                    static_cast<std::uint64_t>(static_cast<std::uint32_t>(g)));
}

// The random numbers of one family's draw.
class Random {
 public:
  explicit Random(std::uint64_t seed) : engine_(seed) {}
  // Uniform on [0, 1): the top 53 bits of one output.
  double Uniform() { return static_cast<double>(engine_() >> 11) * 0x1p-53; }
  // Uniform on (0, 1].
  double PositiveUniform() {
    return static_cast<double>((engine_() >> 11) + 1) * 0x1p-53;
  }
  // Standard normal by Box-Muller, the cosine branch only.
  double Normal() {
    const double u1 = PositiveUniform();
    const double u2 = Uniform();
    return std::sqrt(-2 * std::log(u1)) * std::cos(2 * kPi * u2);
  }

 private:
  std::mt19937_64 engine_;
};

// ln P(Z > z) for a standard normal Z. Below 25 from erfc, which keeps its
// relative precision in the upper tail; above, where erfc heads for
// underflow, from the asymptotic series of the Mills ratio,
// P(Z > z) = phi(z) / z x (1 - 1/z^2 + 3/z^4 - 15/z^6 + ...), whose first
// omitted term is below 1e-15 there.
double LogUpperTail(double z) {
  if (z < 25) return std::log(0.5 * std::erfc(z / std::sqrt(2.0)));
  const double r = 1 / (z * z);
  double term = 1, series = 0;
  for (int n = 1; n <= 7; ++n) {
    term *= -(2 * n - 1) * r;
    series += term;
  }
  return -0.5 * z * z - std::log(z) - 0.5 * std::log(2 * kPi) +
         std::log1p(series);
}

// A standard normal conditioned on exceeding a. For a <= 0 by rejection from
// the normal (acceptance at least 1/2); above, by inverting the tail:
// z solves ln P(Z > z) = ln u + ln P(Z > a) for a uniform u in (0, 1]. The
// logarithm of the tail is concave and decreasing, so Newton's steps from
// z = a (left of the root) overshoot once and then fall monotonically onto
// it; each step's slope is -phi(z) / P(Z > z), formed from the logarithms so
// that nothing underflows however far the tail.
double NormalAbove(double a, Random& random) {
  if (!(a > 0)) {
    for (;;) {
      const double z = random.Normal();
      if (z > a) return z;
    }
  }
  const double target = std::log(random.PositiveUniform()) + LogUpperTail(a);
  const double log_root_2pi = 0.5 * std::log(2 * kPi);
  double z = a;
  for (int step = 0; step < 200; ++step) {
    const double log_tail = LogUpperTail(z);
    const double log_phi = -0.5 * z * z - log_root_2pi;
    const double delta = (log_tail - target) * std::exp(log_tail - log_phi);
    z += delta;
    if (!(std::fabs(delta) > 4e-16 * std::max(1.0, std::fabs(z)))) break;
  }
  return std::max(z, a);
}

// A normal trait of mean mu and standard deviation sigma conditioned on
// exceeding `lower`, stored as float: a value that rounds to `lower` or
// below becomes the smallest float above it.
float TraitAbove(Extended mu, double sigma, double lower, Random& random) {
  const double m = static_cast<double>(mu);
  const double a = (lower - m) / sigma;
  const double y = m + sigma * NormalAbove(a, random);
  float stored = static_cast<float>(y);
  if (!(static_cast<double>(stored) > lower)) {
    stored = static_cast<float>(lower);
    while (!(static_cast<double>(stored) > lower)) {
      stored = std::nextafter(stored, std::numeric_limits<float>::infinity());
    }
  }
  return stored;
}

// Draws an index 0..count-1 in proportion to exp(log_weight); -infinity is
// weight 0. -1 when every weight is 0 (or a logarithm is not a number).
std::int32_t DrawIndex(const double* log_weight, std::int32_t count,
                       Random& random) {
  double top = -kInfinity;
  for (std::int32_t c = 0; c < count; ++c) {
    if (std::isnan(log_weight[c])) return -1;
    top = std::max(top, log_weight[c]);
  }
  if (!std::isfinite(top)) return -1;
  std::array<double, kStates> weight{};
  double total = 0;
  for (std::int32_t c = 0; c < count; ++c) {
    weight[c] = std::exp(log_weight[c] - top);
    total += weight[c];
  }
  const double u = random.Uniform() * total;
  double cumulative = 0;
  std::int32_t last = -1;
  for (std::int32_t c = 0; c < count; ++c) {
    if (weight[c] <= 0) continue;
    cumulative += weight[c];
    last = c;
    if (u < cumulative) return c;
  }
  return last;  // u at the rounded-off end of the sum
}

// Keeps state `keep` of member k's weights and sets the others to 0.
void Restrict(GenotypeWeights& weights, std::int32_t k, std::int32_t keep) {
  double* w = weights.Member(k);
  for (std::int32_t s = 0; s < kStates; ++s) {
    if (s != keep) w[s] = 0;
  }
}

// Copies the weights of positions 1..n.
void CopyWeights(const GenotypeWeights& from, GenotypeWeights& to,
                 std::int32_t n) {
  for (std::int32_t k = 1; k <= n; ++k) {
    std::copy(from.Member(k), from.Member(k) + kStates, to.Member(k));
  }
}

}  // namespace

ConditionalSampler::ConditionalSampler(const FamilyStore& store,
                                       const ModelQuantities& quantities,
                                       const PolygenicTables& polygenic,
                                       std::int32_t sex_in_model,
                                       SampleSettings settings)
    : store_(store),
      quantities_(quantities),
      polygenic_(polygenic),
      sex_in_model_(sex_in_model),
      settings_(settings),
      transmission_(std::make_unique<Transmission>()) {
  DescribeTransmission(
      LikelihoodModel{store_, quantities_, polygenic_,
                      settings_.covariate_count, sex_in_model_},
      *transmission_);
}

ConditionalSampler::~ConditionalSampler() = default;

bool ConditionalSampler::Corrected(std::int32_t g) const {
  if (settings_.proband_switch != 0) return true;
  const std::int32_t n = store_.FamilySize(g);
  const std::int32_t base = store_.MemberOffset(g);
  for (std::int32_t k = 1; k <= n; ++k) {
    if (store_.status[base + k] == 0) return true;
  }
  return false;
}

std::vector<float> ConditionalSampler::DrawFamily(std::int32_t g,
                                                  std::uint64_t seed) const {
  FamilyDraw draw = Draw(g, seed);
  if (!draw.drawn) return {};
  return std::move(draw.trait);
}

FamilyDraw ConditionalSampler::Draw(std::int32_t g, std::uint64_t seed) const {
  const FamilyStore& store = store_;
  const std::int32_t n = std::max(store.FamilySize(g), 0);
  const std::int32_t base = store.MemberOffset(g);
  FamilyDraw out;
  out.trait.assign(static_cast<std::size_t>(n) + 1, 0.0f);
  out.state.assign(static_cast<std::size_t>(n) + 1, MemberState{});
  for (std::int32_t k = 1; k <= n; ++k) out.trait[k] = store.trait[base + k];
  if (n == 0) {
    out.drawn = true;
    return out;
  }

  const bool corrected = Corrected(g);
  const bool threshold_kind =
      corrected && settings_.correction_kind == CorrectionKind::kThreshold;
  double T = -kInfinity;
  if (threshold_kind) {
    if (static_cast<std::size_t>(g) >= settings_.thresholds.size()) {
      throw std::invalid_argument("no threshold for family " +
                                  std::to_string(g));
    }
    T = settings_.thresholds[static_cast<std::size_t>(g)];
    if (std::isnan(T)) {
      throw std::invalid_argument("the threshold of family " +
                                  std::to_string(g) + " is not a number");
    }
  }
  // The correction pass's weights are the conditioning ones: the probands'
  // densities (or threshold probabilities) and 1 for everyone else.
  const LikelihoodModel model{store,
                              quantities_,
                              polygenic_,
                              settings_.covariate_count,
                              sex_in_model_,
                              1,
                              transmission_.get(),
                              settings_.correction_kind,
                              threshold_kind ? T : 0.0};
  auto is_proband = [&](std::int32_t k) {
    return corrected && store.trait[base + k] > kMissingTrait &&
           store.status[base + k] != 2;
  };

  // The structure: child_in[k], the nuclear family listing k as a child (0
  // for none); parent[k], whether k is a parent in some list.
  std::vector<std::int32_t> child_in(static_cast<std::size_t>(n) + 1, 0);
  std::vector<unsigned char> parent(static_cast<std::size_t>(n) + 1, 0);
  for (std::int32_t w = store.FirstNuclear(g); w <= store.LastNuclear(g); ++w) {
    const std::span<const std::int32_t> entries = store.NuclearMembers(w);
    for (std::size_t e = 0; e < entries.size(); ++e) {
      if (e < 2) {
        parent[entries[e]] = 1;
      } else {
        child_in[entries[e]] = w;
      }
    }
  }

  GenotypeWeights fixed(n);
  GenotypeWeights work(n);
  PrepareGenotypeWeights(model, g, fixed);
  if (!corrected) {
    // Nothing conditions: a density of 1 for everyone, so that a member who
    // is a child carries 1 and every other member its prior, formed as
    // PrepareGenotypeWeights forms them for a density of 1.
    for (std::int32_t k = 1; k <= n; ++k) {
      double* w = fixed.Member(k);
      for (std::int32_t gk = 1; gk <= G; ++gk) {
        for (std::int32_t j = 1; j <= J; ++j) {
          w[JointState(gk, j)] =
              child_in[k] != 0
                  ? 1.0
                  : static_cast<double>(Extended{1} *
                                        quantities_.GenotypeFrequency[gk] *
                                        polygenic_.PolygenicFrequency[j]);
        }
      }
    }
  }
  const std::vector<unsigned char> listed = fixed.Marks();

  // ln L with member k restricted to the states s of `states` (the others
  // drawn so far already restricted in `fixed`); -infinity when that is
  // impossible or the peel fails.
  auto restricted_log_lh = [&](std::int32_t k,
                               std::span<const std::int32_t> states) {
    const double* own = fixed.Member(k);
    bool any = false;
    for (const std::int32_t s : states) any = any || own[s] != 0;
    if (!any) return -kInfinity;
    CopyWeights(fixed, work, n);
    double* w = work.Member(k);
    std::array<double, kStates> kept{};
    for (const std::int32_t s : states) kept[s] = w[s];
    std::fill(w, w + kStates, 0.0);
    for (const std::int32_t s : states) w[s] = kept[s];
    double LL = 0;
    return PeelFamily(model, g, work, LL) ? LL : -kInfinity;
  };

  // A leaf (a child in a list who is nobody's parent) meets the rest of the
  // family through its parents alone: once they are drawn, its distribution
  // is M(g | g1, g2) T(j | j1, j2) x its own weights, with no peeling. So
  // the other members are drawn first, in position order, then the leaves.
  const auto leaf = [&](std::int32_t k) {
    return listed[k] != 0 && parent[k] == 0 && child_in[k] != 0;
  };
  const auto log_of = [](double v) {
    return !std::isfinite(v) ? std::numeric_limits<double>::quiet_NaN()
           : v > 0           ? std::log(v)
                             : -kInfinity;
  };
  Random random(FamilySeed(seed, g));
  for (const bool leaves : {false, true}) {
    for (std::int32_t k = 1; k <= n; ++k) {
      if (leaf(k) != leaves) continue;
      std::int32_t state = -1;
      const double* own = fixed.Member(k);
      if (listed[k] == 0) {
        // Independent of the rest of the family: its own weights.
        double log_w[kStates];
        for (std::int32_t s = 0; s < kStates; ++s) log_w[s] = log_of(own[s]);
        state = DrawIndex(log_w, kStates, random);
      } else if (leaves) {
        const std::span<const std::int32_t> entries =
            store.NuclearMembers(child_in[k]);
        const MemberState a = out.state[entries[0]];
        const MemberState b = out.state[entries[1]];
        double log_w[kStates];
        for (std::int32_t gk = 1; gk <= G; ++gk) {
          const double m =
              quantities_
                  .MajorTransmission[(gk - 1) + 3 * (a.g - 1) + 9 * (b.g - 1)];
          for (std::int32_t j = 1; j <= J; ++j) {
            const double t =
                polygenic_.PolygenicTransmission[(j - 1) + 7 * (a.j - 1) +
                                                 49 * (b.j - 1)];
            log_w[JointState(gk, j)] = log_of(m * t * own[JointState(gk, j)]);
          }
        }
        state = DrawIndex(log_w, kStates, random);
      } else {
        double log_major[G];
        for (std::int32_t gk = 1; gk <= G; ++gk) {
          std::array<std::int32_t, J> states{};
          for (std::int32_t j = 1; j <= J; ++j) {
            states[j - 1] = JointState(gk, j);
          }
          log_major[gk - 1] = restricted_log_lh(k, states);
        }
        const std::int32_t major = DrawIndex(log_major, G, random);
        if (major >= 0) {
          double log_poly[J];
          for (std::int32_t j = 1; j <= J; ++j) {
            const std::int32_t s = JointState(major + 1, j);
            log_poly[j - 1] = restricted_log_lh(k, std::span(&s, 1));
          }
          const std::int32_t poly = DrawIndex(log_poly, J, random);
          if (poly >= 0) state = JointState(major + 1, poly + 1);
        }
      }
      if (state < 0) {
        out.state.assign(out.state.size(), MemberState{});
        return out;
      }
      Restrict(fixed, k, state);
      out.state[k] = MemberState{state / J + 1, state % J + 1};
    }
  }

  // The traits given the states.
  const double sigma = std::sqrt(quantities_.SIG);
  const std::int32_t K = std::min(settings_.covariate_count, kCoefficientCount);
  for (std::int32_t k = 1; k <= n; ++k) {
    const std::int32_t i = base + k;
    if (!(store.trait[i] > kMissingTrait)) continue;  // stays missing
    const bool proband = is_proband(k);
    if (proband && !threshold_kind) continue;  // kept as observed
    // TraitDensity's mean of the drawn state.
    const std::int32_t sex_class =
        (sex_in_model_ != 0 && store.sex[i] == 2) ? 2 : 1;
    Extended v = 0;
    for (std::int32_t c = 1; c <= K; ++c) {
      v += static_cast<Extended>(quantities_.B[c]) * store.covariate[c][i];
    }
    const MemberState s = out.state[k];
    const Extended mu = (v + quantities_.GenotypeMean[sex_class][s.g]) +
                        static_cast<Extended>(s.j - 4) * quantities_.pga;
    const double lower = proband
                             ? std::max(T, static_cast<double>(kMissingTrait))
                             : static_cast<double>(kMissingTrait);
    out.trait[k] = TraitAbove(mu, sigma, lower, random);
  }
  out.drawn = true;
  return out;
}

}  // namespace segmix
