// segmix-fit on data with a known answer: standard errors against the normal
// closed forms, posterior genotype probabilities against the sum over a
// trio's genotypes written out by hand, the threshold correction's fit of a
// sample above a threshold against the truncated normal's maximum, and the
// Box-Cox transformation's likelihood, maximum and SE against the Box-Cox
// normal's closed forms.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "fit/climb.h"
#include "fit/engine.h"
#include "fit/profile.h"
#include "fit/series.h"
#include "fit/standard_errors.h"
#include "fit/starts.h"
#include "fit/transform.h"
#include "run/pedigree_data.h"
#include "support/scratch_path.h"

namespace segmix::fit {
namespace {

namespace fs = std::filesystem;
using segmix::testing::ControlFile;
using segmix::testing::DataSet;
using segmix::testing::TestFamily;
using segmix::testing::TestMember;

// Works in a scratch folder for the test's lifetime.
class InScratch {
 public:
  InScratch()
      : old_(fs::current_path()),
        dir_(testing::ScratchPathForCurrentTest("fit_")) {
    fs::create_directories(dir_);
    fs::current_path(dir_);
  }
  ~InScratch() {
    fs::current_path(old_);
    fs::remove_all(dir_);
  }

 private:
  fs::path old_, dir_;
};

// Q MU A D pga SIG Sex Tr1 Tr2 Tr3 B1..B5: ties, flags, values and bounds.
void SetRow(ControlFile& c, int r, int tie, int in, int est, double v,
            double step, double gl, double gr) {
  auto& m = c.model;
  m.tie[r] = tie, m.in_model[r] = in, m.estimate[r] = est;
  m.value[r] = v, m.step[r] = step, m.gl[r] = gl, m.gr[r] = gr;
}

ControlFile Control(int families, double Q, double MU, double A, double D,
                    double SIG, int estimate) {
  ControlFile c;
  c.flags.assign(families, 1);
  const int a_tie = estimate != 0 ? 2 : 3, d_tie = estimate != 0 ? 2 : 4;
  SetRow(c, 1, 1, 1, 0, Q, 0.05, 0, 1);
  SetRow(c, 2, 2, 1, estimate, MU, 0.3, -20, 20);
  SetRow(c, 3, a_tie, 1, 0, A, 0.3, -20, 20);
  SetRow(c, 4, d_tie, 1, 0, D, 0.3, -20, 20);
  SetRow(c, 5, 5, 0, 0, 0, 0.1, 0, 5);
  SetRow(c, 6, 6, 1, estimate, SIG, 0.3, 0, 50);
  SetRow(c, 7, 7, 0, 0, 0, 0.1, -5, 5);
  SetRow(c, 8, 8, 0, 0, 1, 0.05, 0, 1);
  SetRow(c, 9, 9, 0, 0, 0.5, 0.05, 0, 1);
  SetRow(c, 10, 10, 0, 0, 0, 0.05, 0, 1);
  for (int r = 11; r <= 15; ++r) SetRow(c, r, r, 0, 0, 0, 0, 0, 0);
  return c;
}

// Unrelated singletons without probands: no correction, and with A and D
// tied to MU the model is one normal sample, whose observed information at
// the maximum gives SE(MU) = sqrt(SIG/n) and SE(SIG) = SIG sqrt(2/n).
TEST(StandardErrors, MatchTheNormalClosedFormsOnSingletons) {
  for (const int n : {150, 400}) {
    InScratch scratch;
    std::mt19937 random(20261207 + n);
    std::normal_distribution<double> normal(2.0, std::sqrt(1.5));
    DataSet data;
    for (int i = 0; i < n; ++i) {
      TestFamily f;
      f.members.push_back(
          TestMember{1, 2, static_cast<float>(normal(random)), {}});
      data.families.push_back(f);
    }
    const ControlFile control = Control(n, 0.5, 1.0, 1.0, 1.0, 1.0, 1);
    segmix::testing::WriteControlFile(control);
    segmix::testing::WriteDataFiles(data, control);
    const Analysis analysis = LoadAnalysis(fs::current_path());
    const FitOutcome fit = RunFit(analysis, analysis.base, nullptr, {});
    ASSERT_TRUE(fit.converged);
    EXPECT_NEAR(fit.table.value[kMU], analysis.trait_mean, 1e-3);
    Evaluator evaluator(analysis, fit.table);
    const StandardErrors se = ComputeStandardErrors(
        [&](const ParameterTable& t) { return evaluator.Evaluate(t); },
        fit.table, {kMU, kSIG});
    ASSERT_TRUE(se.negative_definite) << se.problem;
    ASSERT_EQ(se.rows, (std::vector<int>{kMU, kSIG}));
    const double sig = fit.table.value[kSIG];
    EXPECT_NEAR(se.se[0] / std::sqrt(sig / n), 1, 0.01) << n;
    EXPECT_NEAR(se.se[1] / (sig * std::sqrt(2.0 / n)), 1, 0.01) << n;
    EXPECT_NEAR(se.correlation[0][1], 0, 0.05);
    EXPECT_LT(se.step_disagreement, 0.01);

    // The profile of MU maximizes SIG at SIG(mu) = SIG + (mu - MU)^2, so
    // ln LH falls by n/2 ln(1 + d^2/SIG): the interval is MU +- d with
    // d = sqrt(SIG (exp(2 x 1.9207/n) - 1)).
    ModelResult model;
    model.description.name = "normal";
    model.model = analysis.base;
    model.estimates = fit.table;
    model.ln_lh = fit.result.final_ln_lh;
    model.free_rows = {kMU, kSIG};
    model.se = se;
    std::ostringstream quiet;
    Progress progress(quiet, true, false);
    const Profile profile = ProfileParameter(analysis, model, kMU, progress);
    // The exact maximum: the sample mean and the ML variance.
    const double mean = analysis.trait_mean;
    const double sig_ml = analysis.trait_sd * analysis.trait_sd * (n - 1) / n;
    const double d =
        std::sqrt(sig_ml * (std::exp(2 * 1.9207294103470459 / n) - 1));
    EXPECT_NEAR(profile.lower, mean - d, 1e-3 * d) << n;
    EXPECT_NEAR(profile.upper, mean + d, 1e-3 * d) << n;
    EXPECT_FALSE(profile.lower_at_bound || profile.upper_at_bound);
  }
}

// The truncated normal's log-likelihood of singletons, each observed above
// T: sum of ln phi((y - mu) / sigma) / sigma - ln(1 - Phi((T - mu) / sigma)).
long double TruncatedNormalLnL(const std::vector<long double>& y, double T,
                               long double mu, long double SIG) {
  long double sum = 0;
  const long double pi = 3.141592653589793238462643383279503L;
  for (const long double v : y) {
    sum += -0.5L * std::log(2 * pi * SIG) - (v - mu) * (v - mu) / (2 * SIG) -
           std::log(0.5L * std::erfc((T - mu) / std::sqrt(2 * SIG)));
  }
  return sum;
}

// Golden-section search for the maximum of a unimodal f on [lo, hi], one
// evaluation per step, to about 1e-12 of the interval.
template <class F>
long double GoldenMax(F f, long double lo, long double hi) {
  const long double r = (std::sqrt(5.0L) - 1) / 2;
  long double a = lo, b = hi, c = b - r * (b - a), d = a + r * (b - a);
  long double fc = f(c), fd = f(d);
  for (int k = 0; k < 60; ++k) {
    if (fc > fd) {
      b = d, d = c, fd = fc, c = b - r * (b - a), fc = f(c);
    } else {
      a = c, c = d, fc = fd, d = a + r * (b - a), fd = f(d);
    }
  }
  return (a + b) / 2;
}

// Singletons, each its own proband (status 0), drawn from N(2, 1.5) and kept
// above T = 1: under the threshold correction the sample is a truncated
// normal. ln LH plus the 2 pi constants is its log-likelihood at any point,
// and the fit's maximum is its maximum (found here by golden sections),
// near the truth, where the plain mean is off by sigma phi(a) / (1 - Phi(a)).
TEST(ThresholdCorrection, SingletonsAboveAThresholdFitATruncatedNormal) {
  InScratch scratch;
  const int n = 600;  // within N_FAM
  const double T = 1.0, mu = 2.0, SIG = 1.5;
  std::mt19937 random(20261208);
  std::normal_distribution<double> normal(mu, std::sqrt(SIG));
  DataSet data;
  while (static_cast<int>(data.families.size()) < n) {
    const float v = static_cast<float>(normal(random));
    if (v <= T) continue;
    TestFamily f;
    f.members.push_back(TestMember{1, 0, v, {}});
    data.families.push_back(f);
  }
  const ControlFile control = Control(n, 0.5, 1.5, 1.5, 1.5, 1.0, 1);
  segmix::testing::WriteControlFile(control);
  segmix::testing::WriteDataFiles(data, control);
  Analysis analysis = LoadAnalysis(fs::current_path());
  std::vector<long double> y;  // the values as stored
  for (int g = 1; g <= n; ++g) y.push_back(analysis.core.store.trait[g]);

  EXPECT_THROW(UseThresholdCorrection(analysis, std::vector<double>(n, T)),
               std::invalid_argument);
  UseThresholdCorrection(analysis, std::vector<double>(n + 1, T));
  Evaluator evaluator(analysis, analysis.base);
  const long double at_start = TruncatedNormalLnL(y, T, 1.5, 1.0);
  EXPECT_NEAR(evaluator.Evaluate(analysis.base) - DensityConstant(analysis),
              at_start, 1e-12L * std::fabs(at_start));

  const auto best_sig = [&](long double m) {
    return GoldenMax(
        [&](long double s) { return TruncatedNormalLnL(y, T, m, s); }, 0.3L,
        6.0L);
  };
  const long double mu_ml = GoldenMax(
      [&](long double m) { return TruncatedNormalLnL(y, T, m, best_sig(m)); },
      0.0L, 4.0L);
  const long double sig_ml = best_sig(mu_ml);
  const FitOutcome fit = RunFit(analysis, analysis.base, nullptr, {});
  ASSERT_TRUE(fit.converged);
  EXPECT_NEAR(fit.table.value[kMU], mu_ml, 1e-4);
  EXPECT_NEAR(fit.table.value[kSIG], sig_ml, 1e-4);
  EXPECT_NEAR(fit.result.final_ln_lh - DensityConstant(analysis),
              TruncatedNormalLnL(y, T, mu_ml, sig_ml), 1e-6);
  EXPECT_NEAR(mu_ml, mu, 0.2);
  EXPECT_NEAR(sig_ml, SIG, 0.3);
  EXPECT_GT(analysis.trait_mean - mu, 0.35);  // expected bias 0.44
}

// Singletons with log-normal traits, every other one its own proband
// (status 0, so corrected). A corrected singleton's term is f(y)/f(y) = 1
// for any transformation (its Jacobian factor cancels); the others' is the
// Box-Cox normal density phi((z - mu)/sigma)/sigma (y + c)^(lambda - 1). So
// ln LH is the closed form over the uncorrected half, the joint maximum over
// lambda is that of the closed-form profile -m/2 ln var(z) + (lambda - 1)
// sum ln y, and lambda's SE is that profile's curvature.
TEST(BoxCox, SingletonsGiveTheBoxCoxNormalsLikelihoodMaximumAndSE) {
  InScratch scratch;
  const int n = 400;
  std::mt19937 random(20261209);
  std::normal_distribution<double> normal(0.5, 0.3);
  DataSet data;
  for (int i = 0; i < n; ++i) {
    TestFamily f;
    const float y = static_cast<float>(std::exp(normal(random)));
    f.members.push_back(TestMember{1, i % 2 == 0 ? 0 : 2, y, {}});
    data.families.push_back(f);
  }
  const ControlFile control = Control(n, 0.5, 1.0, 1.0, 1.0, 1.0, 1);
  segmix::testing::WriteControlFile(control);
  segmix::testing::WriteDataFiles(data, control);
  Analysis analysis = LoadAnalysis(fs::current_path());
  UseBoxCox(analysis, 0.0);
  std::vector<long double> y;  // the uncorrected members' values as stored
  for (int g = 2; g <= n; g += 2) y.push_back(analysis.core.store.trait[g]);
  const long double m = static_cast<long double>(y.size());
  long double log_sum = 0;
  for (const long double v : y) log_sum += std::log(v);
  EXPECT_EQ(analysis.transform.counted, n / 2);
  EXPECT_NEAR(static_cast<double>(analysis.transform.log_sum),
              static_cast<double>(log_sum), 1e-12);

  const auto z_of = [](long double v, long double lambda) {
    return lambda == 0 ? std::log(v) : (std::pow(v, lambda) - 1) / lambda;
  };
  ParameterTable t = analysis.base;
  AddLambdaRow(analysis, t);
  Evaluator evaluator(analysis, t);
  for (const double lambda : {1.0, 0.5, 0.0, -0.7}) {
    t.value[kMU] = 0.4, t.value[kSIG] = 0.5, t.value[kLambda] = lambda;
    long double expected = (lambda - 1) * log_sum;
    for (const long double v : y) {
      const long double z = static_cast<float>(z_of(v, lambda));
      expected -= 0.5L * std::log(0.5L) + (z - 0.4L) * (z - 0.4L) / (2 * 0.5L);
    }
    EXPECT_NEAR(evaluator.Evaluate(t), static_cast<double>(expected), 1e-6)
        << lambda;
  }

  // The profile over lambda, mu and SIG at their closed-form maxima.
  const auto profile = [&](long double lambda) {
    long double sum = 0, sum2 = 0;
    for (const long double v : y) {
      const long double z = z_of(v, lambda);
      sum += z, sum2 += z * z;
    }
    const long double var = sum2 / m - (sum / m) * (sum / m);
    return -m / 2 * std::log(var) - m / 2 + (lambda - 1) * log_sum;
  };
  const long double lambda_ml = GoldenMax(profile, -2.0L, 2.0L);
  const ClimbEnd end =
      Climb([&](const ParameterTable& at) { return evaluator.Evaluate(at); },
            ParameterTable(t), {kMU, kSIG, kLambda});
  ASSERT_TRUE(end.converged);
  EXPECT_NEAR(end.table.value[kLambda], lambda_ml, 2e-3);
  EXPECT_NEAR(end.ln_lh, profile(lambda_ml), 1e-5);
  EXPECT_NEAR(lambda_ml, 0, 0.15);  // log-normal: the truth is lambda = 0

  ParameterTable at_maximum = end.table;  // with a polish's short steps
  for (const int r : {int{kMU}, int{kSIG}, kLambda}) at_maximum.step[r] = 1e-5;
  const StandardErrors se = ComputeStandardErrors(
      [&](const ParameterTable& at) { return evaluator.Evaluate(at); },
      at_maximum, {kMU, kSIG, kLambda});
  ASSERT_TRUE(se.negative_definite) << se.problem;
  ASSERT_EQ(se.rows, (std::vector<int>{kMU, kSIG, kLambda}));
  const long double h = 1e-3L;
  const long double curvature =
      (profile(lambda_ml + h) - 2 * profile(lambda_ml) +
       profile(lambda_ml - h)) /
      (h * h);
  EXPECT_NEAR(se.se[2] * std::sqrt(-curvature), 1, 0.01);
  EXPECT_LT(se.step_disagreement, 0.01);
}

// On pedigrees (the small example, corrected families), lambda = 1 and
// c = 0 is the plain trait moved by -1: with the means moved too, the same
// ln LH (its values, all in [8, 16), move exactly in 4-byte reals).
TEST(BoxCox, AtLambdaOneIsThePlainLikelihood) {
  const fs::path small = fs::path(SEGMIX_SOURCE_DIR) / "examples" / "small";
  const Analysis plain = LoadAnalysis(small);
  Analysis transformed = LoadAnalysis(small);
  UseBoxCox(transformed, 0.0);
  ParameterTable t = transformed.base;
  AddLambdaRow(transformed, t);
  for (const int r : {int{kMU}, int{kA}, int{kD}}) {
    t.value[r] = plain.base.value[r] - 1;
  }
  Evaluator a(plain, plain.base), b(transformed, t);
  const double expected = a.Evaluate(plain.base);
  ASSERT_GT(expected, kFailureThreshold);
  EXPECT_NEAR(b.Evaluate(t), expected, 1e-12 * std::fabs(expected));
}

// A trio (father 1, mother 2, child 3) and a member listed in no nuclear
// family (4), no polygenic component: the posterior of each member's major
// genotype by the plain sum over the three listed members' genotypes.
TEST(GenotypePosteriors, MatchTheSumOverATriosGenotypes) {
  InScratch scratch;
  const double Q = 0.3, mean[4] = {0, 3.0, 1.5, 0.0}, SIG = 1.0;
  const float y[5] = {0, 2.1f, -0.3f, 1.7f, 2.6f};
  DataSet data;
  TestFamily f;
  for (int k = 1; k <= 4; ++k)
    f.members.push_back(TestMember{k == 2 ? 2 : 1, 2, y[k], {}});
  f.nuclear.push_back({1, 2, {3}, 0});
  data.families.push_back(f);
  const ControlFile control = Control(1, Q, mean[1], mean[2], mean[3], SIG, 0);
  segmix::testing::WriteControlFile(control);
  segmix::testing::WriteDataFiles(data, control);
  const Analysis analysis = LoadAnalysis(fs::current_path());
  Evaluator evaluator(analysis, analysis.base);
  const auto posteriors = evaluator.GenotypePosteriors(analysis.base, 1);
  ASSERT_EQ(posteriors.size(), 5u);

  const double prior[4] = {0, Q * Q, 2 * Q * (1 - Q), (1 - Q) * (1 - Q)};
  const double pass[4] = {0, 1, 0.5, 0};  // P(parent passes allele 1)
  auto density = [&](int k, int g) {
    const double d = y[k] - mean[g];
    return std::exp(-d * d / (2 * SIG));
  };
  auto child = [&](int o, int g1, int g2) {
    const double t1 = pass[g1], t2 = pass[g2];
    return o == 1   ? t1 * t2
           : o == 2 ? t1 * (1 - t2) + t2 * (1 - t1)
                    : (1 - t1) * (1 - t2);
  };
  double joint[4][4] = {};  // [member 1..3][genotype]
  double total = 0;
  for (int g1 = 1; g1 <= 3; ++g1) {
    for (int g2 = 1; g2 <= 3; ++g2) {
      for (int g3 = 1; g3 <= 3; ++g3) {
        const double p = prior[g1] * prior[g2] * child(g3, g1, g2) *
                         density(1, g1) * density(2, g2) * density(3, g3);
        joint[1][g1] += p, joint[2][g2] += p, joint[3][g3] += p;
        total += p;
      }
    }
  }
  double lone = 0;
  for (int g = 1; g <= 3; ++g) lone += prior[g] * density(4, g);
  for (int g = 1; g <= 3; ++g) {
    for (int k = 1; k <= 3; ++k) {
      EXPECT_NEAR(posteriors[k][g - 1], joint[k][g] / total, 1e-12)
          << k << " " << g;
    }
    EXPECT_NEAR(posteriors[4][g - 1], prior[g] * density(4, g) / lone, 1e-12)
        << g;
  }
}

// Relabelling genotypes 1 and 3 (Q as 1 - Q, MU and D exchanged, Tr1..Tr3 as
// 1 - Tr3, 1 - Tr2, 1 - Tr1) leaves the likelihood as it is; SwappedLabels
// keeps D <= MU, which changes nothing when MU = D. Three generations, so
// that founders and descendants carry the transmission both ways.
TEST(SwappedLabels, LeaveTheLikelihoodOfGeneralTransmissionAsItIs) {
  InScratch scratch;
  const float y[7] = {0, 2.1f, -0.3f, 1.7f, 0.4f, 2.6f, 1.2f};
  DataSet data;
  TestFamily f;
  for (int k = 1; k <= 6; ++k) {
    f.members.push_back(TestMember{k % 2 == 0 ? 2 : 1, 2, y[k], {}});
  }
  f.nuclear.push_back({3, 4, {5, 6}, 3});  // peeled onto member 3
  f.nuclear.push_back({1, 2, {3}, 0});
  data.families.push_back(f);
  ControlFile control = Control(1, 0.3, 1.0, 2.5, 1.0, 1.0, 0);
  SetRow(control, 8, 8, 1, 0, 0.9, 0.05, 0, 1);
  SetRow(control, 9, 9, 1, 0, 0.4, 0.05, 0, 1);
  SetRow(control, 10, 10, 1, 0, 0.15, 0.05, 0, 1);
  segmix::testing::WriteControlFile(control);
  segmix::testing::WriteDataFiles(data, control);
  const Analysis analysis = LoadAnalysis(fs::current_path());
  Evaluator evaluator(analysis, analysis.base);
  const double plain = evaluator.Evaluate(analysis.base);
  const ParameterTable swapped = SwappedLabels(analysis.base);
  EXPECT_DOUBLE_EQ(swapped.value[kQ], 0.7);
  EXPECT_DOUBLE_EQ(swapped.value[kTr1], 0.85);
  EXPECT_DOUBLE_EQ(swapped.value[kTr3], 0.1);
  ASSERT_GT(plain, kFailureThreshold);
  EXPECT_NEAR(evaluator.Evaluate(swapped), plain, 1e-12 * std::fabs(plain));
}

}  // namespace
}  // namespace segmix::fit
