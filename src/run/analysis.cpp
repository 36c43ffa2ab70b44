// Loading an analysis and fitting a table to it: the order of the steps is
// the program's, so a silent fit gives the program's numbers exactly.
#include "run/analysis.h"

#include <span>
#include <string>

#include "data/read_family_data.h"
#include "data/validate_family_structure.h"
#include "model/parameter_checks.h"
#include "model/polygenic.h"
#include "run/unit_numbers.h"
#include "textio/statements.h"

namespace segmix {

Analysis LoadAnalysis(TextUnits& units, std::source_location where) {
  Analysis analysis;
  if (!units.IsOpen(kControlUnit)) {
    units.Open(kControlUnit, "par.inp", OpenStatus::kOld, where);
  }
  ReadControlFile(units, analysis.settings, analysis.parameters,
                  kParameterCount);
  units.Close(kControlUnit);

  SwitchOffLeftOutComponents(analysis.parameters);
  analysis.polygenic = BuildPolygenicTables();

  const ControlSettings& settings = analysis.settings;
  ReadFamilyData(units, kDataUnit, settings.data_file_name,
                 std::span<const std::string>(settings.covariate_file_names)
                     .subspan(1, settings.covariate_count),
                 analysis.store);
  // ReadFamilyData has checked the structure itself. The sex codes matter
  // only when Sex is in the model, where the trait density picks its means
  // by them: check them before anything is counted or evaluated.
  if (analysis.parameters.in_model[kSex] != 0) {
    ValidateSexCodes(analysis.store, settings.selection_flags,
                     settings.family_count);
  }
  analysis.counts = CountMembers(settings, analysis.store, units);
  WriteStatement record(units, kConsole);
  record << "N_izm=" << analysis.counts.observed
         << " loop=" << analysis.counts.status0;
  record.End();
  return analysis;
}

SampleSettings SampleSettingsOf(const Analysis& analysis,
                                std::int32_t worker_count) {
  return SampleSettings{.covariate_count = analysis.settings.covariate_count,
                        .proband_switch = analysis.settings.proband_switch,
                        .selection_flags = analysis.settings.selection_flags,
                        .worker_count = worker_count,
                        .correction_kind = analysis.correction.kind,
                        .thresholds = analysis.correction.thresholds};
}

MaximizerSettings ProgramMaximizerSettings() {
  MaximizerSettings settings;
  settings.improvement_tolerance = static_cast<double>(1e-10f);
  settings.contraction_factor = 0.5;
  settings.step_tolerance = static_cast<double>(1e-5f);
  settings.iteration_limit = 500;
  settings.print_switch = 1;
  return settings;
}

Fit::Fit(const Analysis& analysis, ParameterTable& table,
         std::int32_t worker_count)
    : table_(table),
      maximizer_settings_(ProgramMaximizerSettings()),
      sample_(table, analysis.store, analysis.polygenic,
              SampleSettingsOf(analysis, worker_count)) {}

EvaluationOutcome Fit::Start(EvaluationObserver* observer) {
  return sample_.Evaluate(Gate::kChecked, observer);
}

namespace {

// The first free row whose step the search would lose, as a refusal.
std::optional<ParameterRejection> LostStep(const ParameterTable& table,
                                           const MaximizerSettings& settings) {
  const std::int32_t row = FirstLostStepRow(kParameterCount, table, settings);
  if (row == 0) return std::nullopt;
  ParameterRejection rejection{RejectionKind::kStepLost, row, table.value[row],
                               table.GL[row], table.GR[row]};
  rejection.step = table.step[row];
  return rejection;
}

}  // namespace

std::optional<ParameterRejection> Fit::CheckSteps() const {
  return LostStep(table_, maximizer_settings_);
}

std::optional<ParameterRejection> StartRejection(const Analysis& analysis,
                                                 ParameterTable table) {
  SwitchOffLeftOutComponents(table);
  ModelQuantities quantities;
  if (auto rejection = CheckParameters(table, analysis.settings.covariate_count,
                                       quantities)) {
    return rejection;
  }
  return LostStep(table, ProgramMaximizerSettings());
}

MaximizerResult Fit::Search(EvaluationObserver* observer,
                            MaximizerReport* report,
                            const std::function<void()>& before_evaluation) {
  return Maximize(
      kParameterCount, table_, maximizer_settings_,
      [this, observer, &before_evaluation] {
        if (before_evaluation) before_evaluation();
        return sample_.Evaluate(Gate::kAccepted, observer).ObjectiveValue();
      },
      report);
}

EvaluationOutcome Fit::FinalPass(EvaluationObserver* observer) {
  return sample_.Evaluate(Gate::kChecked, observer);
}

bool StartFailed(const EvaluationOutcome& start) {
  return !start.Ok() || start.ln_lh <= kFailureThreshold;
}

}  // namespace segmix
