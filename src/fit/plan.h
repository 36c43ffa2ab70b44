// segmix-fit's first step: the command line read into a plan, and the plan
// checked against the data set's base table. Everything that can refuse the
// command (options, the model file, model names, comparisons, profiles, the
// models' changes against par.inp) is refused here, before anything is
// fitted or written.
#ifndef SEGMIX_FIT_PLAN_H_
#define SEGMIX_FIT_PLAN_H_

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "fit/engine.h"
#include "fit/model_series.h"
#include "model/parameter_table.h"

namespace segmix::fit {

// What one segmix-fit command asks for, as given (names checked against the
// models it fits; nothing yet against the data).
struct FitPlan {
  bool help = false, version = false;    // print and stop
  std::string help_text;                 // the --help page
  std::filesystem::path input;           // absolute: the data folder
  std::filesystem::path output;          // absolute: --out, default input/fit
  std::filesystem::path model_file;      // absolute; empty: none
  std::vector<ModelDescription> models;  // to fit, in fitting order
  int spread_starts = 4;
  int threads = 0;  // --threads; 0: the processors the process may use
  // Further tests (--compare), as (null, alternative) model names.
  std::vector<std::pair<std::string, std::string>> compares;
  std::vector<int> profile_rows;  // parameter rows 1..15
  std::string profile_model;      // empty: the best by AIC
  std::string posterior_model;    // empty: the best with a major locus
  bool quiet = false;
  bool write_report_html = true;
};

// Reads `args` (without the program name). Throws cli::UsageError (nothing
// to fit: exit status 3) for a bad option, an unknown model, parameter or
// comparison, and ModelError for a bad model file line; cli::InputFileError
// for a model file that cannot be read. Options never take the positional
// folder as a value.
FitPlan ParseFitCommandLine(const std::vector<std::string>& args);

// The plan's models as tables of `analysis` (its base with each model's
// changes), in the plan's order.
struct PlannedModels {
  std::vector<ParameterTable> tables;
  int Index(const FitPlan& plan, const std::string& name) const;
};

// Applies the plan's models to the base table and checks what needs the
// tables: every comparison's null nested in its alternative with at least
// one degree of freedom, every profiled parameter free in the profile model
// (when one is named), the posterior model with a major locus. Throws
// cli::UsageError naming the option and the reason.
PlannedModels PlanModels(const FitPlan& plan, const Analysis& analysis);

}  // namespace segmix::fit

#endif  // SEGMIX_FIT_PLAN_H_
