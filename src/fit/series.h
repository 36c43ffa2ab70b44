// Fitting a series of models: for each model every start (base values, warm
// starts from the maxima of the models nested in it and of those it is nested
// in, spread starts), the best kept with segmix's files in the model's folder,
// then the standard errors there. Rounds of starts from nested models' maxima
// follow until no maximum moves, so that a model's maximum is at least that
// of every model nested in it, whatever order they were fitted in.
#ifndef SEGMIX_FIT_SERIES_H_
#define SEGMIX_FIT_SERIES_H_

#include <filesystem>
#include <string>
#include <vector>

#include "fit/engine.h"
#include "fit/model_series.h"
#include "fit/progress.h"
#include "fit/standard_errors.h"

namespace segmix::fit {

// Starts within this many ln LH units of the best count as agreeing.
inline constexpr double kAgreement = 0.01;

struct StartRecord {
  std::string origin;    // "base", "from MODEL", "spread S"
  ParameterTable start;  // as read back from its par.inp
  FitOutcome outcome;    // outcome.table: where the start ended
  long evaluations = 0;
  std::filesystem::path folder;  // its scratch folder while the series runs
};

// A maximum the starts of a model reached: starts within kAgreement of each
// other count as one.
struct Maximum {
  double ln_lh = 0;
  int starts = 0;
};

struct ModelResult {
  ModelDescription description;
  ParameterTable model;  // the model's table with the base values
  std::vector<int> free_rows;
  std::vector<StartRecord> starts;
  int best = -1;  // index into starts; -1: every start was refused
  ParameterTable estimates;
  double ln_lh = 0;
  double ln_lh_constants = 0;  // with the normal densities' constants
  double aic = 0, bic = 0;
  int agreeing = 0;
  std::vector<Maximum> maxima;        // distinct maxima, best first
  std::vector<std::string> warnings;  // about the search, for the report
  StandardErrors se;
  bool Fitted() const { return best >= 0; }
  bool Converged() const { return Fitted() && starts[best].outcome.converged; }
};

// ln(2 pi)/2 times the observed members counted in a family's first pass but
// not in its correction pass, summed over the evaluated families.
double DensityConstant(const Analysis& analysis);

// Fits `models` (tables already applied) in the order given, writing each
// model's folder under `out`. `spread` is the number of spread starts.
std::vector<ModelResult> FitSeries(
    const Analysis& analysis, const std::vector<ModelDescription>& descriptions,
    const std::vector<ParameterTable>& tables, int spread,
    const std::filesystem::path& out, Progress& progress);

}  // namespace segmix::fit

#endif  // SEGMIX_FIT_SERIES_H_
