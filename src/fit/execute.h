// segmix-fit's second step: the plan carried out on a loaded data set. Fits
// the series, picks the best model, computes the tests, the profiles, the
// best model's family terms and the posteriors, and returns them all as
// values; it writes only the model folders (segmix's own files, through the
// series). The caller writes the summaries (fit/outputs.h).
#ifndef SEGMIX_FIT_EXECUTE_H_
#define SEGMIX_FIT_EXECUTE_H_

#include <filesystem>
#include <string>
#include <vector>

#include "cli/map_file.h"
#include "fit/bootstrap_parts.h"
#include "fit/engine.h"
#include "fit/fit_report.h"
#include "fit/plan.h"
#include "fit/progress.h"
#include "fit/resume.h"

namespace segmix::fit {

// idmap.dat of `analysis`'s folder, checked against its families: empty when
// there is none. Throws cli::InputFileError when it cannot be read and
// segmix::InputRejected (naming the file and line) when it is not a map file
// or names a family position the data set does not have (a map of another
// data set).
std::vector<cli::MapEntry> ReadIds(const Analysis& analysis);

// The test table's standard tests: (label, null, alternative).
struct StandardTest {
  const char* label;
  const char* null_model;
  const char* alternative;
};
inline constexpr StandardTest kStandardTests[] = {
    {"major locus", "polygenic", "mixed"},
    {"polygenic component", "major", "mixed"},
    {"Mendelian transmission", "mixed", "general-tau"},
    {"no transmission", "equal-tau", "general-tau"},
    {"dominance", "mixed-dominant", "mixed"},
    {"recessivity", "mixed-recessive", "mixed"},
};

// True when `name` (of --bootstrap-tests) names the test: its label or
// "NULL:ALTERNATIVE".
bool NamesTest(const std::string& name, const std::string& label,
               const std::string& null_model, const std::string& alternative);

// Throws cli::UsageError for a --bootstrap-tests name that names no test of
// the plan's table.
void CheckBootstrapTests(const FitPlan& plan, const PlannedModels& planned);

// Runs `plan` (models as `planned` applied them) on `analysis`, model folders
// under plan.output (which must exist). `input_warnings` are the input
// review's, kept for the report. With `merged` (--merge), the bootstrapped
// tests take their replicates from it instead of drawing them; throws
// segmix::InputRejected when this run's tests or observed statistics are
// not the parts'. With `earlier` (--resume), the series reuses its climbs
// and the bootstraps their finished replicates.
FitReport ExecutePlan(const FitPlan& plan, const PlannedModels& planned,
                      const Analysis& analysis,
                      std::vector<std::string> input_warnings,
                      std::vector<cli::MapEntry> ids, Progress& progress,
                      const BootstrapPart* merged = nullptr,
                      const EarlierRun* earlier = nullptr);

}  // namespace segmix::fit

#endif  // SEGMIX_FIT_EXECUTE_H_
