// The screening climb against closed forms (an interior maximum, one on a
// bound, the ordered means of general transmission), and the series giving
// the same maxima bits whatever its thread count.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>

#include "fit/climb.h"
#include "fit/engine.h"
#include "fit/model_series.h"
#include "fit/progress.h"
#include "fit/series.h"
#include "support/scratch_path.h"

namespace segmix::fit {
namespace {

namespace fs = std::filesystem;

// Rows MU and SIG free with wide bounds; the rest fixed.
ParameterTable TwoRows(double mu, double sig) {
  ParameterTable t;
  for (int r = 1; r <= kParameterCount; ++r) {
    t.tie[r] = r;
    t.in_model[r] = 1;
    t.GL[r] = -10, t.GR[r] = 10;
    t.step[r] = 0.5;
  }
  t.estimate[kMU] = t.estimate[kSIG] = 1;
  t.value[kMU] = mu, t.value[kSIG] = sig;
  t.GL[kSIG] = 0;
  t.in_model[kTr1] = 0;
  return t;
}

TEST(Climb, ReachesTheClosedFormMaxima) {
  // A correlated concave quadratic with its top at MU 1.3, SIG 2.1.
  const auto quadratic = [](const ParameterTable& t) {
    const double a = t.value[kMU] - 1.3, b = t.value[kSIG] - 2.1;
    return -100 - (4 * a * a + 3 * a * b + 2 * b * b);
  };
  const ClimbEnd end = Climb(quadratic, TwoRows(-3, 6), {kMU, kSIG});
  EXPECT_TRUE(end.converged);
  EXPECT_NEAR(end.table.value[kMU], 1.3, 1e-5);
  EXPECT_NEAR(end.table.value[kSIG], 2.1, 1e-5);
  EXPECT_NEAR(end.ln_lh, -100, 1e-9);
  EXPECT_LT(end.evaluations, 60);

  // The top beyond SIG's lower bound 0: SIG is held on it (1e-8 of the range
  // inside) and MU maximizes the section, at 1.3 + 3 * 0.5 * 2.1 / 8.
  const auto beyond = [](const ParameterTable& t) {
    const double a = t.value[kMU] - 1.3, b = t.value[kSIG] + 2.1;
    return -(4 * a * a + 3 * a * b + 2 * b * b);
  };
  const ClimbEnd held = Climb(beyond, TwoRows(0, 3), {kMU, kSIG});
  EXPECT_NEAR(held.table.value[kSIG], 0, 1e-7);
  EXPECT_GT(held.table.value[kSIG], 0);
  EXPECT_NEAR(held.table.value[kMU], 1.3 - 3 * (0 + 2.1) / 8, 1e-5);

  // A start the likelihood refuses ends at once.
  const ClimbEnd refused = Climb([](const ParameterTable&) { return -1e30; },
                                 TwoRows(0, 1), {kMU, kSIG});
  EXPECT_TRUE(refused.failed_start);
  EXPECT_EQ(refused.evaluations, 1);
}

TEST(Climb, KeepsDBelowMuUnderGeneralTransmission) {
  // The top at D 2 > MU 1; the region allows D <= MU only (the gate refuses
  // the rest): the climb ends on D = MU, at the section's top 1.5.
  ParameterTable t = TwoRows(0, 1);
  t.estimate[kSIG] = 0;
  t.estimate[kD] = 1;
  t.value[kMU] = 0.5, t.value[kD] = -1;
  t.in_model[kTr1] = 1;
  const auto f = [](const ParameterTable& p) {
    if (p.value[kD] > p.value[kMU]) return FailureSentinel;
    const double a = p.value[kMU] - 1, b = p.value[kD] - 2;
    return -(a * a + b * b);
  };
  const ClimbEnd end = Climb(f, t, {kMU, kD});
  EXPECT_LE(end.table.value[kD], end.table.value[kMU]);
  EXPECT_NEAR(end.table.value[kMU], 1.5, 1e-5);
  EXPECT_NEAR(end.table.value[kD], 1.5, 1e-5);
}

TEST(Series, SameMaximaForOneThreadAndTwo) {
  const fs::path dir = testing::ScratchPathForCurrentTest("fit_threads_");
  fs::remove_all(dir);
  const Analysis analysis =
      LoadAnalysis(fs::path(SEGMIX_SOURCE_DIR) / "examples" / "small");
  std::vector<ModelDescription> models;
  std::vector<ParameterTable> tables;
  for (const ModelDescription& d : BuiltInModels()) {
    if (d.name != "sporadic" && d.name != "major") continue;
    models.push_back(d);
    tables.push_back(
        ApplyModel(analysis.base, d, analysis.settings.covariate_count));
  }
  // The screening sums under general transmission, whose batches' last
  // climbs also split the families over both threads.
  models.push_back(
      ParseModelLine("transmission Q=free MU=free A=free D=free "
                     "Tr1=in Tr2=in Tr3=in"));
  tables.push_back(ApplyModel(analysis.base, models.back(),
                              analysis.settings.covariate_count));
  std::ostringstream quiet;
  Progress progress(quiet, true, false);
  std::vector<std::vector<ModelResult>> runs;
  for (const int threads : {1, 2}) {
    const fs::path out = dir / std::to_string(threads);
    for (const ModelDescription& d : models)
      fs::create_directories(out / d.name);
    runs.push_back(
        FitSeries(analysis, models, tables, 3, out, progress, threads));
  }
  ASSERT_EQ(runs[0].size(), runs[1].size());
  for (std::size_t m = 0; m < runs[0].size(); ++m) {
    const ModelResult &a = runs[0][m], &b = runs[1][m];
    SCOPED_TRACE(a.description.name);
    ASSERT_TRUE(a.Fitted());
    EXPECT_EQ(a.ln_lh, b.ln_lh);  // the same bits
    EXPECT_EQ(a.best, b.best);
    ASSERT_EQ(a.starts.size(), b.starts.size());
    for (std::size_t s = 0; s < a.starts.size(); ++s) {
      EXPECT_EQ(a.starts[s].evaluations, b.starts[s].evaluations);
      EXPECT_EQ(a.starts[s].outcome.result.final_ln_lh,
                b.starts[s].outcome.result.final_ln_lh);
    }
    for (int r : a.free_rows) {
      EXPECT_EQ(a.estimates.value[r], b.estimates.value[r]);
    }
    EXPECT_EQ(a.se.se, b.se.se);
  }
  if (!::testing::Test::HasFailure()) fs::remove_all(dir);
}

}  // namespace
}  // namespace segmix::fit
