// segmix-fit's first step: the command line read into a plan, and the plan
// checked against the data set's base table. Everything that can refuse the
// command (options, the model file, model names, comparisons, profiles, the
// models' changes against par.inp) is refused here, before anything is
// fitted or written.
#ifndef SEGMIX_FIT_PLAN_H_
#define SEGMIX_FIT_PLAN_H_

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fit/engine.h"
#include "fit/model_series.h"
#include "model/parameter_table.h"

namespace segmix::fit {

// How the correction pass of every corrected family conditions on its
// probands (--ascertainment). kProbandValues is segmix's own correction; the
// threshold kinds give each observed proband P(trait > T) in place of its
// density (fit::UseThresholdCorrection).
struct Ascertainment {
  enum class Kind { kProbandValues, kThreshold, kThresholdFile };
  Kind kind = Kind::kProbandValues;
  double threshold = 0;        // kThreshold: T of every family
  std::filesystem::path file;  // kThresholdFile: absolute
  std::string file_as_given;   // kThresholdFile: as on the command line
  struct Line {
    std::int32_t family = 0;  // family index, as in LH_fam.dat
    double threshold = 0;
    int line = 0;  // 1-based, for messages
  };
  std::vector<Line> lines;  // kThresholdFile: the file's, in its order
  bool ByThreshold() const { return kind != Kind::kProbandValues; }
};

// --bootstrap-task i/K: slice `index` of `count` (replicates index,
// index + count, ...); count 0: every replicate.
struct BootstrapTask {
  int index = 0, count = 0;
  bool Sliced() const { return count > 0; }
};

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
  std::vector<int> profile_rows;  // parameter rows 1..15, or kLambda
  std::string profile_model;      // empty: the best by AIC
  std::string posterior_model;    // empty: the best with a major locus
  bool quiet = false;
  bool write_report_html = true;
  Ascertainment ascertainment;
  // --bootstrap: replicates per test (0: none), the tests (labels or
  // NULL:ALTERNATIVE; empty: every test of the table) and the seed.
  int bootstrap = 0;
  std::vector<std::string> bootstrap_tests;
  std::uint64_t bootstrap_seed = 1;
  // --simulate-from M --replicates R: a power or calibration study drawn
  // from M's estimates (fit/simulation.h), seeded by --simulate-seed.
  std::string simulate_from;
  int simulate_replicates = 0;
  std::uint64_t simulate_seed = 1;
  // Slices the bootstrap's replicates or the study's data sets.
  BootstrapTask bootstrap_task;
  bool boxcox = false;          // --transform boxcox
  std::optional<double> shift;  // --shift; empty: DefaultShift
  // --merge DIR...: the slices' output folders, absolute (the analysis is
  // then the one their part files recorded; only --out, --quiet and
  // --threads may be given beside it).
  std::vector<std::filesystem::path> merge;
  // --resume: reuse the climbs of the run stopped in --out (fit/resume.h).
  bool resume = false;
  // The arguments as given, and the working folder they were given in: a
  // slice's part file records them so that --merge can read the same plan.
  std::vector<std::string> args;
  std::filesystem::path working_folder;
};

// The options that fix an analysis's results, as one canonical text: the
// data folder, the models with their definitions, starts, tests, profiles,
// the posterior model, the report switch, the ascertainment, the transform
// and the bootstrap's N, tests and seed (not --out, --threads, --quiet or
// --bootstrap-task, which do not change a result).
std::string AnalysisOptions(const FitPlan& plan);

// The options that fix the series' fits, as one canonical text: the data
// folder, the model file, the models with their definitions, the starts,
// the ascertainment and the transform. A resumed run must have the stopped
// run's; the tests, profiles, bootstrap and study may differ.
std::string SeriesOptions(const FitPlan& plan);

// Reads `args` (without the program name). Throws cli::UsageError (nothing
// to fit: exit status 3) for a bad option, an unknown model, parameter or
// comparison, and ModelError for a bad model file line; cli::InputFileError
// for a model file that cannot be read. Options never take the positional
// folder as a value.
FitPlan ParseFitCommandLine(const std::vector<std::string>& args);

// The thresholds of `ascertainment` for UseThresholdCorrection: [g] per
// family index g = 1..stored count of `analysis` ([0] not read). A family
// that is not corrected and has no line gets -infinity (never read). Throws
// segmix::InputRejected (exit status 1), naming the file, line and value and
// what to do, for a line of a family index the data set does not have, a
// corrected family without a line, and a corrected family with an observed
// proband below its threshold (its correction would condition on an event
// that did not happen).
std::vector<double> ThresholdsFor(const Ascertainment& ascertainment,
                                  const Analysis& analysis);

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
