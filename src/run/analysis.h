// The core as a library: load an analysis (control file, family data,
// polygenic tables) once, then fit parameter tables to it from any number of
// starting points. The program's run (run_sequence.h) is one load and one
// RecordedFit (recorded_fit.h), which steps through a Fit.
//
//   TextUnits units(console, "my/analysis");     // the loaders' console lines
//   const Analysis analysis = LoadAnalysis(units);
//   ParameterTable table = analysis.parameters;  // or another start
//   const RunOutcome fit = RecordedFit(analysis, table, units, RunFiles{});
//   if (fit.end == RunEnd::kCompleted) use(fit.search.final_ln_lh);
#ifndef SEGMIX_RUN_ANALYSIS_H_
#define SEGMIX_RUN_ANALYSIS_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <source_location>
#include <vector>

#include "data/family_store.h"
#include "maximize/maximize.h"
#include "model/evaluation.h"
#include "model/model_quantities.h"
#include "model/parameter_table.h"
#include "model/sample_likelihood.h"
#include "model/trait_density.h"
#include "run/control_file.h"
#include "run/member_counts.h"
#include "textio/text_units.h"

namespace segmix {

// The correction pass of a fit's likelihood (sample_likelihood.h). Nothing
// in par.inp sets it and the program's run keeps the default, the
// proband-value kind. A caller above this layer may set the threshold kind
// in Analysis::correction before it makes any Fit (or RecordedFit) of the
// analysis; every evaluation of those fits (the start, each trial of the
// search, the final pass) then uses it.
struct CorrectionSetting {
  CorrectionKind kind = CorrectionKind::kProbandValues;
  // Under kThreshold, thresholds[g] is the threshold of family index
  // g = 1..stored family count ([0] is not read), as
  // SampleSettings::thresholds; a fit's likelihood throws
  // std::invalid_argument when a family it visits has none or a NaN one.
  std::vector<double> thresholds;
};

// Everything a fit reads besides its parameter table. Read-only once loaded;
// a Fit keeps references into it, so it must outlive them.
struct Analysis {
  ControlSettings settings;
  // The table of par.inp with every left-out component switched off
  // (SwitchOffLeftOutComponents): the starting point of the program's run.
  ParameterTable parameters;
  FamilyStore store;  // loaded and checked, with its family weights
  PolygenicTables polygenic;
  MemberCounts
      counts;  // observed and status-0 members of the selected families
  CorrectionSetting correction;  // the program's, unless a caller sets it
};

// Loads the analysis in the units' directory (TextUnits, where relative
// names are opened) as the program does: par.inp on unit 1 (opened here, as
// an existing file, unless the caller has opened it already), the control
// file, the family data and its checks (the sex codes when Sex is in the
// model), and the member counts. The family data reader and the counts write
// their console records (member count, "g c" lines, "No proband" lines, then
// "N_izm= ... loop= ...") to the units' console. Throws what
// ReadControlFile and ReadFamilyData throw; `where`, the caller's place, is
// what the error report of a par.inp that cannot be opened names.
Analysis LoadAnalysis(TextUnits& units, std::source_location where =
                                            std::source_location::current());

// What the likelihood reads of an analysis (the span of thresholds points
// into analysis.correction).
SampleSettings SampleSettingsOf(const Analysis& analysis,
                                std::int32_t worker_count = 0);

// The search settings of the program: 1e-10 and 1e-5 as single-precision
// values widened to double, contraction 0.5, 500 cycles, blocks reported.
MaximizerSettings ProgramMaximizerSettings();

// One fit of `table` to `analysis`, step by step, for RecordedFit, which
// opens and closes the run's files between the steps. Start, then
// CheckSteps, Search and FinalPass, each at most once, in this order.
class Fit {
 public:
  Fit(const Analysis& analysis, ParameterTable& table,
      std::int32_t worker_count = 0);

  // The starting point through the checked gate (ties applied, values moved
  // off their bounds, Q lowered where the model says so).
  EvaluationOutcome Start(EvaluationObserver* observer = nullptr);
  // After a successful Start: the first free row whose step the search would
  // lose (kStepLost, see FirstLostStepRow), or nothing.
  std::optional<ParameterRejection> CheckSteps() const;
  // The pattern search; every trial goes through the accepted gate, and a
  // failed evaluation is FailureSentinel to the search. `before_evaluation`,
  // when given, is called before every evaluation (it may throw to end the
  // search).
  MaximizerResult Search(EvaluationObserver* observer = nullptr,
                         MaximizerReport* report = nullptr,
                         const std::function<void()>& before_evaluation = {});
  // One more evaluation through the checked gate at the estimates.
  EvaluationOutcome FinalPass(EvaluationObserver* observer = nullptr);

 private:
  ParameterTable& table_;
  MaximizerSettings maximizer_settings_;
  SampleLikelihood sample_;
};

// What a fit refuses of `table` as its start before evaluating anything: the
// checked gate (bounds, variance, order of the means, frequencies) and then
// the step check. `table` is a copy: the ties and moves the gate makes stay
// here. Nothing when the start would be evaluated.
std::optional<ParameterRejection> StartRejection(const Analysis& analysis,
                                                 ParameterTable table);

// True when a start ends the fit: a failed evaluation, or a log-likelihood at
// or below the single-precision -1e17 (-99999998430674944).
bool StartFailed(const EvaluationOutcome& start);

}  // namespace segmix

#endif  // SEGMIX_RUN_ANALYSIS_H_
