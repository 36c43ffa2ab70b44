// The fit entry point used as a new caller uses it: load an example once,
// fit silently from several starts, and get the program's own numbers; a
// left-out component is zeroed once when a table is handed over, and from
// then on its value acts as the table holds it; a silent fit writes no file.
#include "run/analysis.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <set>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <utility>
#include <vector>

#include "model/parameter_checks.h"
#include "model/sample_likelihood.h"
#include "run/recorded_fit.h"
#include "run_test_support.h"

namespace segmix::testing {
namespace {

std::uint64_t Bits(double x) { return std::bit_cast<std::uint64_t>(x); }

class AnalysisTest : public RunDirTest {
 protected:
  // The example's files in the working directory; returns their names.
  std::set<std::string> CopyExample(const std::string& name) {
    std::set<std::string> names;
    const auto example =
        std::filesystem::path(SEGMIX_SOURCE_DIR) / "examples" / name;
    for (const auto& entry : std::filesystem::directory_iterator(example)) {
      std::filesystem::copy(entry.path(), dir_ / entry.path().filename());
      names.insert(entry.path().filename().string());
    }
    return names;
  }
  std::set<std::string> DirectoryNames() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }
  // Loaded with the loaders' console lines thrown away.
  static Analysis LoadSilently() {
    struct NullBuffer : std::streambuf {
      int overflow(int c) override { return c; }
    } null_buffer;
    std::ostream null_console(&null_buffer);
    TextUnits units(null_console);
    return LoadAnalysis(units);
  }
  // A silent fit (no console, no file), as a library caller makes it.
  static RunOutcome FitSilently(const Analysis& analysis, ParameterTable& table,
                                EvaluationObserver* observer = nullptr) {
    struct NullBuffer : std::streambuf {
      int overflow(int c) override { return c; }
    } null_buffer;
    std::ostream null_console(&null_buffer);
    TextUnits units(null_console);
    RunHooks hooks;
    hooks.observer = observer;
    return RecordedFit(analysis, table, units, RunFiles{}, hooks);
  }
};

TEST_F(AnalysisTest, SimulatedExampleFromThreeStartsSilently) {
  const std::set<std::string> inputs = CopyExample("simulated");
  const Analysis analysis = LoadSilently();

  // Two other starts first, then the program's own start: what came before
  // must not change it. segmix on this example reports ln LH -1294.222918,
  // 35 iterations and 514 evaluations.
  {
    // Near the maximum, with small steps: the same maximum.
    ParameterTable table = analysis.parameters;
    const ParameterRow rows[] = {kQ, kMU, kA, kD, kSIG, kB1};
    const double values[] = {0.19, 2.95, 1.62, 0.08, 1.05, 0.80};
    for (int k = 0; k < 6; ++k) {
      table.value[rows[k]] = values[k];
      table.step[rows[k]] *= 0.01;
    }
    const RunOutcome fit = FitSilently(analysis, table);
    ASSERT_EQ(fit.end, RunEnd::kCompleted);
    EXPECT_NEAR(fit.search.final_ln_lh, -1294.222918, 1e-4);
    EXPECT_TRUE(fit.final_pass.Ok());
  }
  {
    // SIG far too small: every pedigree underflows; the first is named.
    ParameterTable table = analysis.parameters;
    table.value[kSIG] = 1e-30;
    table.estimate[kSIG] = 0;
    const RunOutcome fit = FitSilently(analysis, table);
    EXPECT_EQ(fit.end, RunEnd::kStartRefused);
    EXPECT_EQ(fit.start.status, EvaluationStatus::kPeelingFailed);
    EXPECT_EQ(fit.start.family, 1);
    EXPECT_EQ(fit.search.function_count, 0);
    // The reason segmix gives on standard error travels with the outcome.
    EXPECT_NE(fit.failure_text.find("family 1 of iway.dat failed first"),
              std::string::npos)
        << fit.failure_text;
  }

  ParameterTable table = analysis.parameters;
  const RunOutcome fit = FitSilently(analysis, table);
  ASSERT_EQ(fit.end, RunEnd::kCompleted);
  EXPECT_TRUE(fit.start.Ok());
  EXPECT_EQ(EditE(fit.start.ln_lh, 15, 8), "-0.16431772E+04");
  EXPECT_EQ(fit.search.iteration_count, 35);
  EXPECT_EQ(fit.search.function_count, 514);
  EXPECT_NEAR(fit.search.final_ln_lh, -1294.222918, 5e-7);
  EXPECT_EQ(EditE(fit.search.final_ln_lh, 20, 8), "     -0.12942229E+04");
  // The estimates as sigma.dat shows them.
  EXPECT_EQ(EditE(table.value[kQ], 15, 6), "   0.188056E+00");
  EXPECT_EQ(EditE(table.value[kD], 15, 6), "   0.690071E-01");
  EXPECT_EQ(EditE(table.value[kB1], 15, 6), "   0.817971E+00");
  ASSERT_TRUE(fit.final_pass.Ok());
  EXPECT_EQ(Bits(fit.final_pass.ln_lh), Bits(fit.search.final_ln_lh));

  // Silent: no result file, no par.err.
  EXPECT_EQ(DirectoryNames(), inputs);
}

// Records the evaluation lines' values, to compare fits bit for bit.
class LnLhRecorder final : public EvaluationObserver {
 public:
  void Evaluated(double ln_lh, const ParameterTable&) override {
    values.push_back(Bits(ln_lh));
  }
  std::vector<std::uint64_t> values;
};

TEST_F(AnalysisTest, LeftOutPgaIsZeroedOnceThenActsAsTheTableHoldsIt) {
  CopyExample("small");  // pga is out of its model
  const Analysis analysis = LoadSilently();
  ASSERT_EQ(analysis.parameters.in_model[kPga], 0);
  ASSERT_EQ(analysis.parameters.value[kPga], 0.0);
  ParameterTable with_pga = analysis.parameters;
  with_pga.value[kPga] = 0.75;  // a value the load never saw

  // Handed to the fit, it is switched off first: the same evaluations.
  ParameterTable plain = analysis.parameters;
  LnLhRecorder plain_lines, pga_lines;
  const RunOutcome a = FitSilently(analysis, plain, &plain_lines);
  const RunOutcome b = FitSilently(analysis, with_pga, &pga_lines);
  ASSERT_EQ(a.end, RunEnd::kCompleted);
  ASSERT_EQ(b.end, RunEnd::kCompleted);
  EXPECT_EQ(Bits(a.search.final_ln_lh), Bits(b.search.final_ln_lh));
  EXPECT_EQ(a.search.function_count, b.search.function_count);
  EXPECT_EQ(plain_lines.values, pga_lines.values);

  // Inside an evaluation the in-model flag of pga plays no part: a value a
  // tie or the search gave it enters the likelihood through either gate.
  for (const Gate gate : {Gate::kChecked, Gate::kAccepted}) {
    ParameterTable p0 = plain, out = plain;
    out.value[kPga] = 0.5;
    ParameterTable in = out;
    in.in_model[kPga] = 1;
    SampleLikelihood s0(p0, analysis.store, analysis.polygenic,
                        SampleSettingsOf(analysis));
    SampleLikelihood s_out(out, analysis.store, analysis.polygenic,
                           SampleSettingsOf(analysis));
    SampleLikelihood s_in(in, analysis.store, analysis.polygenic,
                          SampleSettingsOf(analysis));
    const EvaluationOutcome o0 = s0.Evaluate(gate);
    const EvaluationOutcome o_out = s_out.Evaluate(gate);
    const EvaluationOutcome o_in = s_in.Evaluate(gate);
    ASSERT_TRUE(o0.Ok() && o_out.Ok() && o_in.Ok());
    EXPECT_NE(Bits(o_out.ln_lh), Bits(o0.ln_lh));
    EXPECT_EQ(Bits(o_out.ln_lh), Bits(o_in.ln_lh));
    EXPECT_EQ(s_out.Quantities().pga, 0.5);
  }
}

// Re-evaluates every evaluation of a fit at its point with a likelihood of
// the threshold kind made here, and keeps both values.
class ThresholdReplay final : public EvaluationObserver {
 public:
  ThresholdReplay(const Analysis& analysis, std::vector<double> thresholds)
      : analysis_(analysis), thresholds_(std::move(thresholds)) {}
  void Evaluated(double ln_lh, const ParameterTable& table) override {
    ParameterTable point = table;
    SampleSettings settings = SampleSettingsOf(analysis_, 1);
    settings.correction_kind = CorrectionKind::kThreshold;
    settings.thresholds = thresholds_;
    SampleLikelihood sample(point, analysis_.store, analysis_.polygenic,
                            settings);
    seen.push_back(Bits(ln_lh));
    replayed.push_back(Bits(sample.Evaluate(Gate::kAccepted).ln_lh));
  }
  std::vector<std::uint64_t> seen, replayed;

 private:
  const Analysis& analysis_;
  std::vector<double> thresholds_;
};

TEST_F(AnalysisTest, ThresholdCorrectionReachesEveryEvaluationOfAFit) {
  CopyExample("small");
  Analysis analysis = LoadSilently();
  ASSERT_EQ(analysis.correction.kind, CorrectionKind::kProbandValues);
  ParameterTable program_table = analysis.parameters;
  const RunOutcome program = FitSilently(analysis, program_table);
  ASSERT_EQ(program.end, RunEnd::kCompleted);

  // Thresholds near the trait's middle, a different one per family.
  std::vector<double> thresholds(analysis.store.StoredFamilyCount() + 1);
  for (std::size_t g = 1; g < thresholds.size(); ++g) {
    thresholds[g] = 9.0 + 0.5 * static_cast<double>(g % 4);
  }
  analysis.correction = {CorrectionKind::kThreshold, thresholds};
  ThresholdReplay replay(analysis, thresholds);
  ParameterTable table = analysis.parameters;
  const RunOutcome fit = FitSilently(analysis, table, &replay);
  ASSERT_EQ(fit.end, RunEnd::kCompleted);
  // The start, every completed trial and the final pass, each the
  // threshold kind's value at its point.
  EXPECT_GT(replay.seen.size(), 100u);
  EXPECT_EQ(replay.seen, replay.replayed);
  EXPECT_NE(Bits(fit.search.final_ln_lh), Bits(program.search.final_ln_lh));

  analysis.correction.thresholds.resize(1);  // no family has one
  ParameterTable again = analysis.parameters;
  EXPECT_THROW(FitSilently(analysis, again), std::invalid_argument);
}

TEST_F(AnalysisTest, StepsTheSearchWouldLoseRefuseTheFit) {
  CopyExample("small");
  const Analysis analysis = LoadSilently();
  ParameterTable table = analysis.parameters;
  table.step[kD] = 1e30;  // D = 10.5 in [5, 13]
  const RunOutcome fit = FitSilently(analysis, table);
  EXPECT_EQ(fit.end, RunEnd::kStepRefused);
  ASSERT_TRUE(fit.rejection.has_value());
  EXPECT_EQ(fit.rejection->kind, RejectionKind::kStepLost);
  EXPECT_EQ(fit.rejection->row, kD);
  EXPECT_EQ(fit.rejection->step, 1e30);
  EXPECT_EQ(fit.search.function_count, 0);  // nothing searched
  // The message a run writes to par.err, from memory.
  const std::string message = RejectionMessage(*fit.rejection);
  EXPECT_EQ(
      message.rfind(" ERROR OF INITIAL PARAMETER VALUE:\n        D  =", 0), 0u)
      << message;
}

}  // namespace
}  // namespace segmix::testing
