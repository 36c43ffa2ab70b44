// SampleLikelihood::Evaluate: the family loop against the brute force, the
// rules for selection, weights and the correction pass, the failures
// (rejected point, member sum at the floor, unpeelable family) as outcome
// values, the observer's records (formatted here as the program formats its
// evaluation line and LH_fam.dat records, into strings: no file), and no
// allocation per family.
#include "model/sample_likelihood.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <new>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "model/polygenic.h"
#include "model_test_support.h"
#include "textio/statements.h"
#include "textio/text_units.h"

// Every allocation of this test program is counted, so that a test can show
// that an evaluation allocates nothing beyond its two text statements.
namespace {
std::size_t allocations = 0;
}  // namespace

void* operator new(std::size_t size) {
  ++allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
// GCC pairs the free() below with every inlined new-expression and warns;
// operator new above is the allocation function it pairs with.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace segmix {
namespace {

using test::BruteForceLikelihood;
using test::BuildStore;
using test::FamilyPlan;
using test::kMissing;
using test::NuclearSpec;

// The records of an evaluation as the program lays them out, each on its own
// text units' console: the evaluation line, and (when `family` is given) the
// free-form record of each family. Rejections are kept as values.
class TextRecords final : public EvaluationObserver {
 public:
  TextRecords(TextUnits& console, TextUnits* family)
      : console_(console), family_(family) {}
  void Rejected(const ParameterRejection& rejection) override {
    rejections.push_back(rejection);
  }
  void FamilyTerm(std::int32_t g, std::int32_t size, double term) override {
    if (family_ == nullptr) return;
    WriteStatement record(*family_, kConsole);
    record << g << size << term;
    record.End();
  }
  void Evaluated(double ln_lh, const ParameterTable& t) override {
    WriteStatement line(console_, kConsole, "(f15.4,9f8.5)");
    line << ln_lh << t.value[kQ] << t.value[kMU] << t.value[kA] << t.value[kD]
         << t.value[kSIG];
    line.End();
  }
  std::vector<ParameterRejection> rejections;

 private:
  TextUnits& console_;
  TextUnits* family_;
};

// One member listed nowhere.
FamilyPlan Single(float y, std::int32_t status = 2) {
  FamilyPlan f;
  f.trait = {y};
  f.status = {status};
  return f;
}

class SampleLikelihoodTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BuildPolygenicTransmission(poly_);
    FillPolygenicFrequency(poly_);
    for (int j = 1; j <= kParameterCount; ++j) {
      p_.tie[j] = j;
      p_.in_model[j] = 1;
      p_.GL[j] = -1000;
      p_.GR[j] = 1000;
    }
    p_.in_model[kTr1] = 0;
    p_.in_model[kSex] = 0;
    // The closed-form point: every mean 2.5, SIG 4, Q 1/2. A member observed
    // at 2.5 has density exp(0)/2 = 1/2 for every genotype, and every prior
    // product is exact, so such a member's term is ln(1/2).
    SetValues(0.5, 2.5, 2.5, 2.5, 0, 4);
    flags_.assign(N_FAM + 1, 1);
    flags_[0] = 0;
  }
  void SetValues(double Q, double MU, double A, double D, double pga,
                 double SIG) {
    const double v[] = {Q, MU, A, D, pga, SIG};
    for (int j = 0; j < 6; ++j) p_.value[j + 1] = v[j];
  }
  // One evaluation as the program makes it in each of its phases: the start
  // (kChecked), the search (kAccepted) and the final pass (kChecked with the
  // family records). FailureSentinel for any failure.
  enum class Phase { kStart, kSearch, kFinal };
  double Evaluate(const FamilyStore& store, Phase phase = Phase::kStart) {
    SampleLikelihood sample(p_, store, poly_,
                            SampleSettings{.covariate_count = 0,
                                           .proband_switch = proband_switch_,
                                           .selection_flags = flags_,
                                           .correction_kind = kind_,
                                           .thresholds = thresholds_});
    TextRecords records(units_,
                        phase == Phase::kFinal ? &family_units_ : nullptr);
    outcome_ = sample.Evaluate(
        phase == Phase::kSearch ? Gate::kAccepted : Gate::kChecked, &records);
    rejections_ = records.rejections;
    return outcome_.ObjectiveValue();
  }
  // The final pass: the result and the LH_fam.dat records.
  std::string FinalPass(const FamilyStore& store, double* result = nullptr) {
    family_.str("");
    const double r = Evaluate(store, Phase::kFinal);
    if (result != nullptr) *result = r;
    return family_.str();
  }
  // Brute-force ln L of every family of the store, with all members, in the
  // first pass (index 0) and the correction pass (index 1).
  std::vector<std::array<long double, 2>> BrutePasses(
      const FamilyStore& store) {
    test::Model m;
    m.Set(p_.value[kQ], p_.value[kMU], p_.value[kA], p_.value[kD],
          p_.value[kPga], p_.value[kSIG]);
    std::vector<std::array<long double, 2>> passes(store.StoredFamilyCount() +
                                                   1);
    for (std::int32_t g = 1; g <= store.StoredFamilyCount(); ++g) {
      if (store.family_weight[g] == 0) continue;
      for (const std::int32_t pass : {0, 1}) {
        const LikelihoodModel model{store, m.q, m.poly, 0, 0, pass};
        passes[g][pass] = std::log(BruteForceLikelihood(model, g, true));
      }
    }
    return passes;
  }
  // The sample value from them: for every selected family of nonzero weight,
  // the first pass minus, when the family is corrected, the correction pass.
  long double Expected(const FamilyStore& store,
                       const std::vector<std::array<long double, 2>>& passes) {
    long double total = 0;
    for (std::int32_t g = 1; g <= store.StoredFamilyCount(); ++g) {
      if (flags_[g] == 0 || store.family_weight[g] == 0) continue;
      bool status0 = false;
      for (std::int32_t k = 1; k <= store.FamilySize(g); ++k) {
        status0 |= store.status[store.MemberOffset(g) + k] == 0;
      }
      total += passes[g][0];
      if (proband_switch_ != 0 || status0) total -= passes[g][1];
    }
    return total;
  }
  long double Expected(const FamilyStore& store) {
    return Expected(store, BrutePasses(store));
  }

  std::ostringstream console_;
  TextUnits units_{console_};
  std::ostringstream family_;
  TextUnits family_units_{family_};
  EvaluationOutcome outcome_;
  std::vector<ParameterRejection> rejections_;
  PolygenicTables poly_;
  ParameterTable p_;
  std::vector<std::int32_t> flags_;
  std::int32_t proband_switch_ = 0;
  CorrectionKind kind_ = CorrectionKind::kProbandValues;
  std::vector<double> thresholds_;  // T_g at index g
};

TEST_F(SampleLikelihoodTest, NoFamiliesGiveZeroAndStillAnEvaluationLine) {
  EXPECT_EQ(Evaluate(BuildStore({})), 0.0);
  flags_.assign(N_FAM + 1, 0);  // families present, none selected
  EXPECT_EQ(Evaluate(BuildStore({Single(2.5f), Single(1.0f)})), 0.0);
  const std::string line =
      "         0.0000 0.50000 2.50000 2.50000 2.50000 4.00000\n";
  EXPECT_EQ(console_.str(), line + line);
}

TEST_F(SampleLikelihoodTest, FinalPassRecordsByHand) {
  FamilyPlan corrected;  // two members listed nowhere, one of status 0
  corrected.trait = {2.5f, 2.5f};
  corrected.status = {0, 2};
  FamilyPlan with_missing;  // ln(1/2) twice, and ln 1 for the missing one
  with_missing.trait = {2.5f, kMissing, 2.5f};
  const FamilyStore store = BuildStore(
      {Single(2.5f), corrected, Single(kMissing), Single(2.5f), with_missing});
  flags_[4] = 0;
  double result = 0;
  // Family 1: ln(1/2) x weight 1. Family 2: 2 ln(1/2) - ln(1/2) (in the
  // correction pass the status-2 member drops out), x weight 1/2. Family 3
  // has weight 0 and family 4 is not selected: no records. Family 5:
  // 2 ln(1/2) x weight 1/2.
  EXPECT_EQ(FinalPass(store, &result),
            " 1 1 -0.6931471805599453\n"
            " 2 2 -0.34657359027997264\n"
            " 5 3 -0.6931471805599453\n");
  // The unweighted sum: ln(1/2) + ln(1/2) + 2 ln(1/2), exact in doubles.
  EXPECT_EQ(result, 4 * std::log(0.5));
  EXPECT_EQ(console_.str(),
            "        -2.7726 0.50000 2.50000 2.50000 2.50000 4.00000\n");
}

TEST_F(SampleLikelihoodTest, RandomSamplesMatchBruteForce) {
  test::PedigreeMaker maker(5150);
  for (int round = 0; round < 3; ++round) {
    std::vector<FamilyPlan> plans;
    for (const test::Shape shape : test::kShapes) {
      const int unlisted = maker.Large(shape) ? 0 : maker.Uniform(0, 1);
      plans.push_back(maker.Make(shape, unlisted, 0.4, 2.0));
    }
    plans.push_back(Single(kMissing));
    const FamilyStore store = BuildStore(plans);
    ValidateFamilyStructure(store);
    SetValues(maker.Real(0.1, 0.9), maker.Real(0.8, 1.5), maker.Real(0.0, 0.7),
              maker.Real(-1.0, -0.1), maker.Real(0.0, 0.3),
              maker.Real(0.5, 2.0));
    for (int g = 1; g <= static_cast<int>(plans.size()); ++g) {
      flags_[g] = maker.Uniform(0, 3) != 0;
    }
    const auto passes = BrutePasses(store);
    for (const std::int32_t proband_switch : {0, 1}) {
      proband_switch_ = proband_switch;
      const long double expected = Expected(store, passes);
      const double result = Evaluate(store);
      EXPECT_LE(std::fabs(result - expected),
                1e-12L * std::max<long double>(1, std::fabs(expected)))
          << round << " " << proband_switch << ": " << result;
    }
  }
}

TEST_F(SampleLikelihoodTest, CorrectionPassRule) {
  // One member at 2.5 (density 1/2 when it counts) listed nowhere with a
  // second, non-proband member at 2.5. Corrected, the non-proband's term is
  // all that is left: ln(1/2).
  FamilyPlan f;
  f.trait = {2.5f, 2.5f};
  struct Row {
    std::int32_t proband_switch, status1;
    double expected;
  };
  const double half = std::log(0.5);
  for (const Row& row :
       {Row{0, 1, 2 * half},                   // no status 0: not corrected
        Row{0, 2, 2 * half}, Row{0, 0, half},  // status 0 forces it
        Row{1, 1, half},                       // the switch forces it
        Row{1, 2, 2 * half}}) {                // no proband: nothing left
    f.status = {row.status1, 2};
    proband_switch_ = row.proband_switch;
    EXPECT_EQ(Evaluate(BuildStore({f})), row.expected)
        << row.proband_switch << " " << row.status1;
  }
}

// The threshold kind against a plain enumeration that shares nothing with the
// program: two parents and two children (a trio's worth of peeling) and a
// member listed nowhere, with the program-free genetic tables, densities by
// formula and the exceedance probabilities by erfcl. The family term is
// ln P(family) - ln P(probands exceed T).
TEST_F(SampleLikelihoodTest, ThresholdCorrectionMatchesPlainEnumeration) {
  using test::BruteForceMember;
  using test::StateValues;
  kind_ = CorrectionKind::kThreshold;
  struct Row {
    double Q, MU, A, D, pga, SIG, T;
    std::int32_t proband_switch;
    std::vector<std::int32_t> status;
  };
  const Row rows[] = {
      {0.3, 3.0, 2.0, 1.0, 0.25, 1.2, 1.0, 1, {2, 2, 2, 1, 2}},  // one child
      {0.7, 1.5, 0.5, -0.5, 0.4, 0.6, 3.0, 0, {2, 2, 2, 0, 2}},  // upper tail
      {0.7, 1.5, 0.5, -0.5, 0.4, 0.6, 6.0, 0, {2, 2, 2, 0, 2}},  // far tail
      {0.5, 2.0, 2.0, 0.0, 0.0, 2.0, 2.2, 1, {1, 2, 2, 1, 2}},   // two probands
      {0.2, 2.5, 1.0, 0.5, 0.3, 0.9, 1.8, 1, {2, 2, 1, 2, 1}},   // and unlisted
  };
  FamilyPlan f;
  f.nuclear = {NuclearSpec{{1, 2, 3, 4}, 0}};
  f.trait = {2.0f, 3.1f, 2.4f, 2.9f, 1.7f};
  double worst = 0;
  for (const Row& row : rows) {
    f.status = row.status;
    const FamilyStore store = BuildStore({f});
    SetValues(row.Q, row.MU, row.A, row.D, row.pga, row.SIG);
    thresholds_ = {0, row.T};
    proband_switch_ = row.proband_switch;

    const auto tables = test::PlainGeneticTables(row.Q);
    const std::array<long double, 3> means = {row.MU, row.A, row.D};
    std::vector<BruteForceMember> family(5), probands(5);
    for (int k = 0; k < 5; ++k) {
      family[k].density =
          test::PlainDensities(f.trait[k], means, 0, row.pga, row.SIG);
      StateValues& p = probands[k].density;
      for (int s = 0; s < test::kJointStates; ++s) {
        const long double mean = means[s / 7] + (s % 7 - 3) * row.pga;
        p[s] =
            row.status[k] == 2
                ? 1.0L
                : 0.5L * std::erfc((row.T - mean) / std::sqrt(2.0L * row.SIG));
      }
    }
    for (auto* members : {&family, &probands}) {
      for (int child : {2, 3}) {
        (*members)[child].father = 0;
        (*members)[child].mother = 1;
      }
    }
    const long double expected =
        std::log(test::BruteForceFamilyLikelihood(family, tables)) -
        std::log(test::BruteForceFamilyLikelihood(probands, tables));
    const double result = Evaluate(store);
    ASSERT_EQ(outcome_.status, EvaluationStatus::kOk);
    const long double relative = std::fabs((result - expected) / expected);
    worst = std::max(worst, static_cast<double>(relative));
    EXPECT_LE(relative, 1e-12L) << (&row - rows) << ": " << result << " vs "
                                << static_cast<double>(expected);
    // The correction matters: the first kind's term differs.
    kind_ = CorrectionKind::kProbandValues;
    EXPECT_GT(std::fabs(Evaluate(store) - result), 1e-3);
    kind_ = CorrectionKind::kThreshold;
  }
  std::ostringstream figure;
  figure << std::scientific << worst;
  RecordProperty("worst_relative_difference", figure.str());
}

// Members that give 1 under the threshold kind: a proband whose value is
// missing, everybody when T lies far below every mean, and a non-proband.
// With no proband term left the family term is the uncorrected value.
TEST_F(SampleLikelihoodTest, ThresholdCorrectionTermsOfOne) {
  FamilyPlan f;  // a trio and a member listed nowhere
  f.nuclear = {NuclearSpec{{1, 2, 3}, 0}};
  f.trait = {2.0f, 3.1f, 2.4f, 1.7f};
  SetValues(0.3, 3.0, 2.0, 1.0, 0.25, 1.2);
  struct Row {
    float y3;
    std::vector<std::int32_t> status;
    double T;
  };
  for (const Row& row : {Row{kMissing, {2, 2, 1, 2}, 2.0},  // missing value
                         Row{2.4f, {1, 2, 0, 1}, -1e6},     // T far down
                         Row{2.4f, {2, 2, 2, 2}, 2.0}}) {   // status 2 alone
    f.trait[2] = row.y3;
    f.status = row.status;
    thresholds_ = {0, row.T};
    // The reference: the same family uncorrected (all status 2, no switch).
    FamilyPlan reference = f;
    reference.status = {};
    kind_ = CorrectionKind::kProbandValues;
    proband_switch_ = 0;
    const double expected = Evaluate(BuildStore({reference}));
    ASSERT_TRUE(std::isfinite(expected));
    kind_ = CorrectionKind::kThreshold;
    proband_switch_ = 1;
    EXPECT_NEAR(Evaluate(BuildStore({f})), expected, 1e-14) << row.T;
  }
}

TEST_F(SampleLikelihoodTest, ThresholdKindNeedsAThresholdPerFamily) {
  const FamilyStore store = BuildStore({Single(2.5f, 1), Single(2.5f, 1)});
  kind_ = CorrectionKind::kThreshold;
  thresholds_ = {0, 1.0};  // none for family 2
  EXPECT_THROW(Evaluate(store), std::invalid_argument);
  thresholds_ = {0, 1.0, std::nan("")};
  EXPECT_THROW(Evaluate(store), std::invalid_argument);
  flags_[2] = 0;  // a family that is not evaluated needs none
  thresholds_ = {0, 2.5};
  proband_switch_ = 1;
  EXPECT_EQ(Evaluate(store), std::log(0.5) - std::log(0.5));
}

TEST_F(SampleLikelihoodTest, SelectionFlagsAndWeights) {
  const FamilyStore store =
      BuildStore({Single(2.5f), Single(2.5f), Single(kMissing)});
  const double half = std::log(0.5);
  EXPECT_EQ(Evaluate(store), 2 * half);
  flags_[1] = 0;
  EXPECT_EQ(Evaluate(store), half);
  flags_[1] = 7;     // any nonzero digit selects
  flags_.resize(2);  // families beyond the flags are not selected
  EXPECT_EQ(Evaluate(store), half);
}

TEST_F(SampleLikelihoodTest, StoredFamilyCountLimitsTheLoop) {
  FamilyStore store = BuildStore({Single(2.5f), Single(2.5f)});
  store.member_offset[0] = 1;
  EXPECT_EQ(Evaluate(store), std::log(0.5));
}

TEST_F(SampleLikelihoodTest, PeeledAndUnlistedMembersTogether) {
  // A trio plus two members listed nowhere placed before and between the
  // listed ones: each unlisted one contributes once, the listed ones only
  // through the peeled value.
  FamilyPlan f;
  f.nuclear = {NuclearSpec{{2, 4, 5}, 0}};
  f.trait = {2.5f, 1.0f, 3.0f, 2.0f, 0.5f};
  f.status = {2, 1, 2, 2, 2};
  const FamilyStore store = BuildStore({f});
  SetValues(0.3, 2.0, 1.0, 0.0, 0.2, 1.5);
  const long double expected = Expected(store);
  EXPECT_NEAR(Evaluate(store), static_cast<double>(expected),
              1e-12 * std::fabs(static_cast<double>(expected)));
}

TEST_F(SampleLikelihoodTest, MemberSumAtTheFloorFails) {
  // Q = 1 gives the priors (1, 0, 0). With SIG = 2^112 and y = 0 the density
  // of genotype 1 is exp(e) 2^-56 with e = -MU^2 / 2^113; MU is chosen so that
  // exp(e) = 1e-17f x 2^56 exactly. The 7 weights 1e-17f x C(6, j-1)/64 are
  // then exact and sum exactly to the floor, 1e-17f.
  const double v = std::ldexp(static_cast<double>(1e-17f), 56);
  const double SIG = std::ldexp(1.0, 112);
  auto e_of = [&](double mu) {
    const Extended r = static_cast<Extended>(mu);
    return static_cast<double>((r * r / SIG) * static_cast<Extended>(-0.5f));
  };
  double mu = std::ldexp(std::sqrt(-2 * std::log(v)), 56) * (1 - 1e-12);
  ASSERT_GT(std::exp(e_of(mu)), v);
  while (std::exp(e_of(mu)) > v) mu = std::nextafter(mu, 1e300);
  ASSERT_EQ(std::exp(e_of(mu)), v) << "no MU reaches the floor exactly";
  SetValues(1, mu, 0, 0, 0, SIG);

  test::Model m;
  m.Set(1, mu, 0, 0, 0, SIG);
  const FamilyStore store = BuildStore({Single(0.0f)});
  const LikelihoodModel model{store, m.q, m.poly, 0, 0, 0};
  ASSERT_EQ(TraitDensity(model, 1, 1, 4), static_cast<Extended>(1e-17f));

  EXPECT_EQ(Evaluate(store), FailureSentinel);
  EXPECT_EQ(outcome_.status, EvaluationStatus::kMemberUnderflow);
  EXPECT_EQ(outcome_.family, 1);
  EXPECT_EQ(console_.str(), "");
  // One step closer to the data and the sum is just above the floor.
  p_.value[kMU] = std::nextafter(mu, 0.0);
  ASSERT_GT(std::exp(e_of(p_.value[kMU])), v);
  const double result = Evaluate(store);
  EXPECT_NEAR(result, std::log(static_cast<double>(1e-17f)), 1e-12);
  EXPECT_NE(console_.str(), "");
}

TEST_F(SampleLikelihoodTest, FailureInRunModeTwoKeepsEarlierRecords) {
  // Family 2's member lies so far out that its member sum is 0.
  const FamilyStore store =
      BuildStore({Single(2.5f), Single(1.0e6f), Single(2.5f)});
  double result = 0;
  EXPECT_EQ(FinalPass(store, &result), " 1 1 -0.6931471805599453\n");
  EXPECT_EQ(result, FailureSentinel);
  EXPECT_EQ(outcome_.status, EvaluationStatus::kMemberUnderflow);
  EXPECT_EQ(outcome_.family, 2);
  EXPECT_EQ(console_.str(), "");
}

TEST_F(SampleLikelihoodTest, UnpeelableFamilyFails) {
  FamilyPlan trio;
  trio.nuclear = {NuclearSpec{{1, 2, 3}, 0}};
  trio.trait = {2.5f, 2.5f, 1.0e6f};  // the connector's scale sum is 0
  EXPECT_EQ(Evaluate(BuildStore({Single(2.5f), trio})), FailureSentinel);
  EXPECT_EQ(outcome_.status, EvaluationStatus::kPeelingFailed);
  EXPECT_EQ(outcome_.family, 2);
  EXPECT_EQ(console_.str(), "");
}

TEST_F(SampleLikelihoodTest, RejectedPointWritesNothing) {
  const FamilyStore store = BuildStore({Single(2.5f)});
  p_.estimate[kQ] = 1;
  p_.GL[kQ] = 0.5;  // on the bound: the search rejects it, silently
  EXPECT_EQ(Evaluate(store, Phase::kSearch), FailureSentinel);
  EXPECT_EQ(outcome_.status, EvaluationStatus::kRejectedPoint);
  EXPECT_TRUE(rejections_.empty());
  EXPECT_EQ(console_.str(), "");

  p_.value[kQ] = 1.5;  // above its bound: the start reports it
  p_.GL[kQ] = 0;
  p_.GR[kQ] = 1;
  EXPECT_EQ(Evaluate(store, Phase::kStart), FailureSentinel);
  EXPECT_EQ(console_.str(), "");
  ASSERT_EQ(rejections_.size(), 1u);
  EXPECT_EQ(rejections_[0].kind, RejectionKind::kBound);
  EXPECT_EQ(rejections_[0].row, kQ);
  EXPECT_EQ(rejections_[0].value, 1.5);
  EXPECT_EQ(rejections_[0].lower, 0.0);
  EXPECT_EQ(rejections_[0].upper, 1.0);
}

TEST_F(SampleLikelihoodTest, EvaluationLineFieldsOverflowToAsterisks) {
  SetValues(0.5, 100, 0, -10, 0, 4);
  Evaluate(BuildStore({}));
  SetValues(0.5, 99.999994, 0, -9.999994, 0, 4);
  Evaluate(BuildStore({}));
  EXPECT_EQ(console_.str(),
            "         0.0000 0.50000******** 0.00000******** 4.00000\n"
            "         0.0000 0.5000099.99999 0.00000-9.99999 4.00000\n");
}

TEST_F(SampleLikelihoodTest, EvaluationLineShowsTiedValues) {
  p_.tie[kD] = kA;  // D takes A's value before anything is written
  p_.value[kA] = 1.25;
  p_.value[kD] = 0;
  Evaluate(BuildStore({}));
  EXPECT_EQ(console_.str(),
            "         0.0000 0.50000 2.50000 1.25000 1.25000 4.00000\n");
}

TEST_F(SampleLikelihoodTest, GeneralTransmissionAtItsMendelianPoint) {
  FamilyPlan f;
  f.nuclear = {NuclearSpec{{1, 2, 3}, 3}, NuclearSpec{{3, 4, 5}, 0}};
  f.trait = {2.0f, 3.1f, 2.4f, kMissing, 1.7f};
  f.status = {2, 2, 1, 2, 2};
  const FamilyStore store = BuildStore({f});
  SetValues(0.3, 3.0, 2.0, 1.0, 0.25, 1.2);
  const double mendelian = Evaluate(store);
  p_.in_model[kTr1] = 1;
  p_.value[kTr1] = 1;
  p_.value[kTr2] = 0.5;
  p_.value[kTr3] = 0;
  EXPECT_EQ(Evaluate(store), mendelian);
}

TEST_F(SampleLikelihoodTest, PeelingAllocatesNothing) {
  test::PedigreeMaker maker(99);
  std::vector<FamilyPlan> plans;
  for (const test::Shape shape : test::kShapes) {
    plans.push_back(maker.Make(shape, 1, 0.4, 2.0));
  }
  const FamilyStore store = BuildStore(plans);
  test::Model m;
  m.Set(0.3, 1.0, 0.5, 0.0, 0.2, 1.0);
  GenotypeWeights weights(store.LargestFamilySize());
  const LikelihoodModel model{store, m.q, m.poly, 0, 0, 0};
  const std::size_t before = allocations;
  for (std::int32_t f = 1; f <= store.listed_family_count; ++f) {
    PrepareGenotypeWeights(model, f, weights);
    double LL = 0;
    EXPECT_TRUE(PeelFamily(model, f, weights, LL));
  }
  EXPECT_EQ(allocations, before);
}

TEST_F(SampleLikelihoodTest, ThreadCountChangesNoBit) {
  // Families of every shape, corrected, evaluated by 1, 2 and 5 workers: the
  // same result, the same LH_fam.dat, the same console, to the bit.
  test::PedigreeMaker maker(2024);
  std::vector<FamilyPlan> plans;
  for (int k = 0; k < 6; ++k) {
    for (const test::Shape shape : test::kShapes) {
      plans.push_back(maker.Make(shape, k % 3, 0.3, 2.0));
    }
  }
  const FamilyStore store = BuildStore(plans);
  SetValues(0.3, 3.0, 2.0, 1.0, 0.4, 1.5);
  proband_switch_ = 1;
  std::string want_file, want_console;
  double want = 0;
  for (const std::int32_t workers : {1, 2, 5}) {
    console_.str("");
    family_.str("");
    SampleLikelihood sample(p_, store, poly_,
                            SampleSettings{.proband_switch = proband_switch_,
                                           .selection_flags = flags_,
                                           .worker_count = workers});
    TextRecords records(units_, &family_units_);
    const double got = sample.Evaluate(Gate::kChecked, &records).ln_lh;
    if (workers == 1) {
      want = got;
      want_file = family_.str();
      want_console = console_.str();
      EXPECT_NE(want_file, "");
      continue;
    }
    EXPECT_EQ(std::bit_cast<std::uint64_t>(got),
              std::bit_cast<std::uint64_t>(want))
        << workers;
    EXPECT_EQ(family_.str(), want_file) << workers;
    EXPECT_EQ(console_.str(), want_console) << workers;
  }
}

TEST_F(SampleLikelihoodTest, EvaluationAllocatesNothingOnceWarm) {
  // The first evaluation parses the evaluation line's layout and sizes the
  // statement's buffers; later ones reuse them. The console is a stream whose
  // buffer never grows, so every allocation counted is the evaluation's own.
  struct NullBuffer : std::streambuf {
    int overflow(int c) override { return c; }
  } null_buffer;
  std::ostream null_console(&null_buffer);
  TextUnits units(null_console);
  const std::vector<double> thresholds(31, 2.0);
  for (const int n : {1, 30}) {
    for (const CorrectionKind kind :
         {CorrectionKind::kProbandValues, CorrectionKind::kThreshold}) {
      const FamilyStore store =
          BuildStore(std::vector<FamilyPlan>(n, Single(2.5f, 0)));
      SampleLikelihood sample(p_, store, poly_,
                              SampleSettings{.selection_flags = flags_,
                                             .correction_kind = kind,
                                             .thresholds = thresholds});
      TextRecords records(units, nullptr);
      sample.Evaluate(Gate::kAccepted, &records);
      const std::size_t before = allocations;
      sample.Evaluate(Gate::kAccepted, &records);
      sample.Evaluate(Gate::kAccepted, &records);
      sample.Evaluate(Gate::kAccepted);  // silent
      EXPECT_EQ(allocations - before, 0u) << n << " families";
    }
  }
}

TEST_F(SampleLikelihoodTest, CorrectionPassFlagIsLeftAtItsLastValue) {
  FamilyPlan f = Single(2.5f, 0);
  const FamilyStore store = BuildStore({f});
  SampleLikelihood sample(p_, store, poly_,
                          SampleSettings{.selection_flags = flags_});
  EXPECT_EQ(sample.Evaluate(Gate::kChecked).ln_lh, 0.0);  // its own proband: 0
  EXPECT_EQ(sample.CorrectionPass(), 1);
}

}  // namespace
}  // namespace segmix
