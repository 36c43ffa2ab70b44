// ConditionalSampler: the drawn states' frequencies against the exact
// posteriors of a brute-force enumeration over every member's joint state
// (no peeling), the drawn traits' moments against the closed-form mixtures
// those posteriors imply, the kept values and missing pattern, the
// determinism of a draw, and the truncated draws of the threshold kind
// against the truncated normal's closed-form moments.
#include "model/conditional_sampler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <ostream>
#include <span>
#include <thread>
#include <vector>

#include "model_test_support.h"

namespace segmix {
namespace {

using test::BuildStore;
using test::FamilyPlan;
using test::kMissing;
using test::NuclearSpec;

constexpr int kS = kJointGenotypes;

// The fitted model of every case; one covariate and a sex shift, so that the
// mean formula is exercised.
constexpr double kQ = 0.3, kMU = 2.8, kA = 1.2, kD = 0, kPga = 0.5, kSIG = 0.8,
                 kSexShift = 0.4, kB1 = 0.3;

enum class Shape {
  kNuclear,   // parents 1, 2, children 3, 4, and 5 listed nowhere
  kChain,     // 1 x 2 -> 3, peeled onto 3; 3 x 4 -> 5
  kHalfSibs,  // 1 x 2 -> 3, peeled onto parent 1; 1 x 4 -> 5
};

struct Case {
  const char* name;
  Shape shape;
  int draws;  // fewer where a draw peels two nuclear families
  std::int32_t proband_switch;
  CorrectionKind kind;
  double T;
  std::vector<std::int32_t> status;
  std::vector<float> trait;
};

// clang-format off
const Case kCases[] = {
    // name, shape, draws, proband switch, kind, T, status, trait
    {"values_by_switch", Shape::kNuclear, 20000, 1,
     CorrectionKind::kProbandValues, 0,
     {1, 2, 1, 2, 2}, {3.6f, 0.3f, kMissing, 1.9f, 0.5f}},
    {"values_by_status0", Shape::kChain, 10000, 0,
     CorrectionKind::kProbandValues, 0,
     {2, 2, 0, 2, 1}, {1.0f, kMissing, 3.9f, 0.4f, 3.2f}},
    {"half_sibs", Shape::kHalfSibs, 10000, 1,
     CorrectionKind::kProbandValues, 0,
     {2, 1, 2, 2, 1}, {2.2f, 3.3f, 0.1f, kMissing, 3.0f}},
    {"not_corrected", Shape::kNuclear, 20000, 0,
     CorrectionKind::kProbandValues, 0,
     {1, 2, 1, 2, 1}, {3.6f, 0.3f, kMissing, 1.9f, 0.5f}},
    {"threshold", Shape::kChain, 10000, 1,
     CorrectionKind::kThreshold, 2.5,
     {2, 1, 2, 2, 1}, {1.0f, 2.9f, kMissing, 0.4f, 3.2f}},
};
// clang-format on

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

FamilyPlan PlanOf(const Case& c) {
  FamilyPlan f;
  switch (c.shape) {
    case Shape::kNuclear:
      f.nuclear = {NuclearSpec{{1, 2, 3, 4}, 0}};
      break;
    case Shape::kChain:
      f.nuclear = {NuclearSpec{{1, 2, 3}, 3}, NuclearSpec{{3, 4, 5}, 0}};
      break;
    case Shape::kHalfSibs:
      f.nuclear = {NuclearSpec{{1, 2, 3}, 1}, NuclearSpec{{1, 4, 5}, 0}};
      break;
  }
  f.trait = c.trait;
  f.status = c.status;
  f.sex = {1, 2, 1, 2, 2};
  return f;
}

constexpr float kCovariate[5] = {0.5f, -1.0f, 0.2f, 1.5f, 0.0f};

// The normal's mean of state s (0..20) for member position k (1..5), written
// down from the model: major mean, sex shift, covariate term, polygenic term.
long double MeanOf(int k, int s, const std::vector<std::int32_t>& sex) {
  const long double major[3] = {kMU, kA, kD};
  return major[s / 7] + (sex[k - 1] == 2 ? kSexShift : 0) +
         static_cast<long double>(kB1) * kCovariate[k - 1] +
         (s % 7 - 3) * static_cast<long double>(kPga);
}

// P(state of member k = s | what conditions) by enumerating every joint
// state of the five members (parents before their children in position
// order): founders' priors x transmissions x the conditioning members'
// densities (or threshold probabilities).
std::vector<std::array<long double, kS>> ExactPosteriors(const Case& c,
                                                         const FamilyPlan& f) {
  const test::GeneticTables tables = test::PlainGeneticTables(kQ);
  const bool corrected =
      c.proband_switch != 0 ||
      std::find(c.status.begin(), c.status.end(), 0) != c.status.end();
  int father[6] = {}, mother[6] = {};
  for (const NuclearSpec& w : f.nuclear) {
    for (std::size_t e = 2; e < w.entries.size(); ++e) {
      father[w.entries[e]] = w.entries[0];
      mother[w.entries[e]] = w.entries[1];
    }
  }
  std::array<std::array<long double, kS>, 6> weight;
  for (int k = 1; k <= 5; ++k) {
    const bool conditions =
        corrected && c.trait[k - 1] > -998 && c.status[k - 1] != 2;
    for (int s = 0; s < kS; ++s) {
      const long double mu = MeanOf(k, s, f.sex);
      if (!conditions) {
        weight[k][s] = 1;
      } else if (c.kind == CorrectionKind::kThreshold) {
        weight[k][s] = 0.5L * std::erfc((c.T - mu) / std::sqrt(2.0L * kSIG));
      } else {
        const long double r = c.trait[k - 1] - mu;
        weight[k][s] = std::exp(-r * r / (2 * kSIG));
      }
    }
  }
  std::vector<std::array<long double, kS>> post(6);
  int state[6] = {};
  std::function<void(int, long double)> visit = [&](int k, long double p) {
    if (k == 6) {
      for (int m = 1; m <= 5; ++m) post[m][state[m]] += p;
      return;
    }
    for (int s = 0; s < kS; ++s) {
      const long double t =
          father[k] == 0
              ? tables.prior[s]
              : tables.Transmission(s, state[father[k]], state[mother[k]]);
      if (t == 0 || weight[k][s] == 0) continue;
      state[k] = s;
      visit(k + 1, p * t * weight[k][s]);
    }
  };
  visit(1, 1.0L);
  for (int m = 1; m <= 5; ++m) {
    long double total = 0;
    for (long double v : post[m]) total += v;
    for (long double& v : post[m]) v /= total;
  }
  return post;
}

// Mean and variance of the standard normal truncated below at a.
std::array<long double, 2> TruncatedMoments(long double a) {
  const long double lambda = std::exp(-a * a / 2) /
                             std::sqrt(2 * 3.14159265358979323846L) /
                             (0.5L * std::erfc(a / std::sqrt(2.0L)));
  return {lambda, 1 + a * lambda - lambda * lambda};
}

// What the sampler reads of the settings.
SampleSettings Settings(std::int32_t covariate_count,
                        std::int32_t proband_switch,
                        CorrectionKind kind = CorrectionKind::kProbandValues,
                        std::span<const double> thresholds = {}) {
  SampleSettings settings;
  settings.covariate_count = covariate_count;
  settings.proband_switch = proband_switch;
  settings.correction_kind = kind;
  settings.thresholds = thresholds;
  return settings;
}

struct Moments {
  long double n = 0, sum = 0, sum2 = 0;
};

class ConditionalSamplerTest : public ::testing::TestWithParam<Case> {};

TEST_P(ConditionalSamplerTest, MatchesTheEnumeratedPosteriors) {
  const Case& c = GetParam();
  const FamilyPlan plan = PlanOf(c);
  FamilyStore store = BuildStore({plan});
  for (int k = 1; k <= 5; ++k) store.covariate[1][k] = kCovariate[k - 1];
  test::Model m;
  m.Set(kQ, kMU, kA, kD, kPga, kSIG, kSexShift);
  m.q.B[1] = kB1;
  const std::vector<double> thresholds = {0, c.T};
  const ConditionalSampler sampler(
      store, m.q, m.poly, 1, Settings(1, c.proband_switch, c.kind, thresholds));
  const auto post = ExactPosteriors(c, plan);
  const bool corrected = sampler.Corrected(1);

  const int kDraws = c.draws;
  int major_count[6][3] = {}, poly_count[6][7] = {};
  Moments moments[6];
  for (int r = 0; r < kDraws; ++r) {
    const FamilyDraw d = sampler.Draw(1, 1000 + r);
    ASSERT_TRUE(d.drawn);
    for (int k = 1; k <= 5; ++k) {
      ++major_count[k][d.state[k].g - 1];
      ++poly_count[k][d.state[k].j - 1];
      const float y = d.trait[k], stored = store.trait[k];
      const bool proband = corrected && stored > -998 && c.status[k - 1] != 2;
      if (stored <= -998 || (proband && c.kind != CorrectionKind::kThreshold)) {
        ASSERT_EQ(std::memcmp(&y, &stored, sizeof y), 0) << k;  // kept
        continue;
      }
      if (proband) {
        ASSERT_GT(y, c.T) << k;
      }
      moments[k].n += 1;
      moments[k].sum += y;
      moments[k].sum2 += static_cast<long double>(y) * y;
    }
  }
  // State frequencies: within 4.5 binomial SE (1/N added to p(1 - p) so that
  // a rare cell is not held to an SE near 0).
  const auto expect_frequency = [&](int count, long double p, int k) {
    const long double f = static_cast<long double>(count) / kDraws;
    const long double se = std::sqrt((p * (1 - p) + 1.0L / kDraws) / kDraws);
    EXPECT_LE(std::fabs(f - p), 4.5L * se)
        << "member " << k << " frequency " << f << " exact " << p;
  };
  for (int k = 1; k <= 5; ++k) {
    for (int g = 0; g < 3; ++g) {
      long double p = 0;
      for (int j = 0; j < 7; ++j) p += post[k][g * 7 + j];
      expect_frequency(major_count[k][g], p, k);
    }
    for (int j = 0; j < 7; ++j) {
      long double p = 0;
      for (int g = 0; g < 3; ++g) p += post[k][g * 7 + j];
      expect_frequency(poly_count[k][j], p, k);
    }
  }
  // Drawn traits: the mixture over the exact posteriors of each state's
  // normal (truncated below at T for a threshold proband). The mean within
  // 4.5 SE of its SD; the variance within 4.5 SE from the mixture's fourth
  // central moment.
  for (int k = 1; k <= 5; ++k) {
    if (moments[k].n == 0) continue;
    const bool truncated = c.kind == CorrectionKind::kThreshold && corrected &&
                           c.status[k - 1] != 2;
    long double mean = 0, second = 0;
    std::array<long double, kS> mu{}, var{};
    for (int s = 0; s < kS; ++s) {
      mu[s] = MeanOf(k, s, plan.sex);
      var[s] = kSIG;
      if (truncated) {
        const auto t = TruncatedMoments((c.T - mu[s]) / std::sqrt(kSIG));
        mu[s] += std::sqrt(static_cast<long double>(kSIG)) * t[0];
        var[s] = kSIG * t[1];
      }
      mean += post[k][s] * mu[s];
      second += post[k][s] * (var[s] + mu[s] * mu[s]);
    }
    const long double variance = second - mean * mean;
    // The fourth central moment; for a truncated state its normal value is
    // an approximation, good enough for an SE.
    long double fourth = 0;
    for (int s = 0; s < kS; ++s) {
      const long double d = mu[s] - mean;
      fourth += post[k][s] *
                (d * d * d * d + 6 * d * d * var[s] + 3 * var[s] * var[s]);
    }
    const long double n = moments[k].n;
    const long double m1 = moments[k].sum / n;
    const long double v = moments[k].sum2 / n - m1 * m1;
    EXPECT_LE(std::fabs(m1 - mean), 4.5L * std::sqrt(variance / n))
        << "member " << k << " mean " << m1 << " exact " << mean;
    EXPECT_LE(std::fabs(v - variance),
              4.5L * std::sqrt((fourth - variance * variance) / n))
        << "member " << k << " variance " << v << " exact " << variance;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ConditionalSamplerTest,
                         ::testing::ValuesIn(kCases),
                         [](const auto& info) { return info.param.name; });

TEST(ConditionalSampler, ADrawDependsOnTheSeedAndTheFamilyAlone) {
  const FamilyPlan plan = PlanOf(kCases[0]);
  const FamilyStore store = BuildStore({plan, plan});
  test::Model m;
  m.Set(kQ, kMU, kA, kD, kPga, kSIG);
  const SampleSettings settings = Settings(0, 1);
  const ConditionalSampler sampler(store, m.q, m.poly, 0, settings);
  const auto bits = [](const std::vector<float>& v) {
    std::vector<std::uint32_t> b(v.size());
    std::memcpy(b.data(), v.data(), v.size() * sizeof(float));
    return b;
  };
  const auto first = bits(sampler.DrawFamily(1, 42));
  const auto second = bits(sampler.DrawFamily(2, 42));
  ASSERT_EQ(first.size(), 6u);
  // Another sampler, the families in the other order, one on another thread.
  const ConditionalSampler again(store, m.q, m.poly, 0, settings);
  EXPECT_EQ(bits(again.DrawFamily(2, 42)), second);
  std::vector<std::uint32_t> on_thread;
  std::thread([&] { on_thread = bits(again.DrawFamily(1, 42)); }).join();
  EXPECT_EQ(on_thread, first);
  EXPECT_NE(first, second);  // the same members, another family index
  EXPECT_NE(bits(sampler.DrawFamily(1, 43)), first);
}

// A proband listed nowhere, no major locus (Q = 0: genotype 3 only) and no
// polygenic effect: its draws are the normal N(1, 1.5^2) truncated below at
// T = 1 + 1.5 a.
TEST(ConditionalSampler, ThresholdDrawsAreTheTruncatedNormal) {
  const double a_values[] = {-1.0, 0.7, 6.0, 30.0, 40.0};
  for (const double a : a_values) {
    FamilyPlan single;
    single.trait = {5.0f};
    single.status = {1};
    const FamilyStore store = BuildStore({single});
    test::Model m;
    m.Set(0, 3, 2, 1, 0, 2.25);
    const std::vector<double> thresholds = {0, 1 + 1.5 * a};
    const ConditionalSampler sampler(
        store, m.q, m.poly, 0,
        Settings(0, 1, CorrectionKind::kThreshold, thresholds));
    if (a == 40.0) {  // the threshold probability underflows to 0
      EXPECT_FALSE(sampler.Draw(1, 1).drawn);
      EXPECT_TRUE(sampler.DrawFamily(1, 1).empty());
      continue;
    }
    constexpr int kDraws = 20000;
    long double sum = 0, sum2 = 0, sum4 = 0;
    std::vector<float> y(kDraws);
    for (int r = 0; r < kDraws; ++r) {
      const FamilyDraw d = sampler.Draw(1, r);
      ASSERT_TRUE(d.drawn);
      EXPECT_EQ(d.state[1].g, 3);
      y[r] = d.trait[1];
      ASSERT_GT(y[r], thresholds[1]) << a;
      sum += y[r];
    }
    const long double mean = sum / kDraws;
    for (const float v : y) {
      sum2 += (v - mean) * (v - mean);
      sum4 += std::pow(v - mean, 4.0L);
    }
    const long double var = sum2 / kDraws, m4 = sum4 / kDraws;
    const auto t = TruncatedMoments(a);
    const long double exact_mean = 1 + 1.5L * t[0];
    const long double exact_var = 2.25L * t[1];
    EXPECT_LE(std::fabs(mean - exact_mean),
              4.5L * std::sqrt(exact_var / kDraws))
        << "a " << a << " mean " << mean << " exact " << exact_mean;
    EXPECT_LE(std::fabs(var - exact_var),
              4.5L * std::sqrt((m4 - var * var) / kDraws))
        << "a " << a << " variance " << var << " exact " << exact_var;
  }
}

}  // namespace
}  // namespace segmix
