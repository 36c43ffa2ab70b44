// Evaluation outcomes as values: what a likelihood that is not a number
// gives through each gate, and that the observer hears of it only under the
// checked gate and never as a record.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "model/evaluation.h"
#include "model/polygenic.h"
#include "model/sample_likelihood.h"
#include "model_test_support.h"

namespace segmix {
namespace {

struct Counting final : EvaluationObserver {
  void Rejected(const ParameterRejection& r) override {
    rejections.push_back(r);
  }
  void FamilyTerm(std::int32_t, std::int32_t, double) override { ++terms; }
  void Evaluated(double, const ParameterTable&) override { ++lines; }
  std::vector<ParameterRejection> rejections;
  int terms = 0, lines = 0;
};

TEST(EvaluationOutcomeTest, LikelihoodThatIsNotANumberIsARejectedPoint) {
  const PolygenicTables polygenic = BuildPolygenicTables();
  test::FamilyPlan single;
  single.trait = {2.5f};
  single.status = {2};
  const FamilyStore store = test::BuildStore({single, single});
  const std::vector<std::int32_t> flags(N_FAM + 1, 1);
  ParameterTable p;
  for (int j = 1; j <= kParameterCount; ++j) p.tie[j] = j;
  p.value[kQ] = 0.5;
  p.value[kSIG] = 4;
  struct Row {
    double MU;
    bool defined;
  };
  // A fixed MU that is not a number passes every bound test (fixed rows are
  // not tested) and makes every density undefined.
  const Row rows[] = {{2.5, true},
                      {std::numeric_limits<double>::quiet_NaN(), false}};
  for (const Row& row : rows) {
    p.value[kMU] = p.value[kA] = p.value[kD] = row.MU;
    for (const Gate gate : {Gate::kChecked, Gate::kAccepted}) {
      SampleLikelihood sample(p, store, polygenic,
                              SampleSettings{.selection_flags = flags});
      Counting observer;
      const EvaluationOutcome o = sample.Evaluate(gate, &observer);
      if (row.defined) {
        EXPECT_EQ(o.status, EvaluationStatus::kOk);
        EXPECT_EQ(o.ln_lh, 2 * std::log(0.5));
        EXPECT_EQ(observer.terms, 2);
        EXPECT_EQ(observer.lines, 1);
        continue;
      }
      EXPECT_EQ(o.status, EvaluationStatus::kRejectedPoint);
      EXPECT_EQ(o.rejection.kind, RejectionKind::kNotANumber);
      EXPECT_EQ(o.ObjectiveValue(), FailureSentinel);
      EXPECT_EQ(observer.terms, 0);  // no record of an undefined term
      EXPECT_EQ(observer.lines, 0);
      EXPECT_EQ(observer.rejections.size(), gate == Gate::kChecked ? 1u : 0u);
    }
  }
}

}  // namespace
}  // namespace segmix
