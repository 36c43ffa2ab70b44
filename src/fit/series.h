// Fitting a series of models: for each model every start (base values, warm
// starts from the maxima of the models nested in it and of those it is nested
// in, spread starts) is climbed to its maximum by the quasi-Newton screening
// search (climb.h), side by side on the usable processors, one start per
// thread; the best end point is polished by segmix's own fit (its pattern
// search from there, with short steps), whose files go into the model's
// folder. Rounds of starts from nested models' maxima follow until no maximum
// moves, so that a model's maximum is at least that of every model nested in
// it, whatever order they were fitted in; then the standard errors of every
// model, their Hessian's points evaluated side by side. Nothing depends on
// the thread count: each start's climb and each point is one thread's work,
// a batch of starts only sees the maxima of the batches before it, and the
// results are gathered in start order.
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
  // outcome.table: where the start ended; for a climb, its result counts
  // (function_count: evaluations, iteration_count: quasi-Newton steps).
  FitOutcome outcome;
  long evaluations = 0;
  std::filesystem::path folder;  // its scratch folder while the series runs
  // Index into the model's starts when this climb was stopped heading to
  // that start's maximum (it counts as reaching it); -1 otherwise.
  int joined = -1;
  // The outcome is a screening climb's (not segmix's fit of a start the
  // climb could not take): what a resumed run may reuse.
  bool climbed = false;
};

// The climbs of an earlier run of the same series (--resume), by model. A
// climb is a function of the data, the model, its start and the maxima
// already known to the model, which are its earlier starts' ends; so, the
// run being deterministic, a start at the same position of the model's
// starts with the same values has the same climb, and reusing it gives the
// bits a fresh climb would.
struct ClimbMemo {
  struct Climb {
    std::string model, origin;
    int position = 0;  // index into the model's starts
    ParameterTable::Column<double> start{}, end{};
    double initial_ln_lh = 0, ln_lh = 0;
    long evaluations = 0;
    int function_count = 0, iterations = 0;
    bool converged = false;
    int joined = -1;
  };
  std::vector<Climb> climbs;
  // The climb of `record` (origin and start values as queued) at `position`
  // of `model`'s starts; null when the earlier run has none.
  const Climb* Find(const std::string& model, int position,
                    const StartRecord& record) const;
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
  // segmix's fit from the best start's end point, with short steps (origin
  // "polish of START"): the model folder's par.inp and files, and the
  // estimates. Its outcome.refusal and converged are the model's; its
  // family terms are also the best start's outcome.family_terms.
  StartRecord polish;
  ParameterTable estimates;
  double ln_lh = 0;
  double ln_lh_constants = 0;  // with the normal densities' constants
  double aic = 0, bic = 0;
  int agreeing = 0;
  std::vector<Maximum> maxima;        // distinct maxima, best first
  std::vector<std::string> warnings;  // about the search, for the report
  StandardErrors se;
  // Not empty when a stop signal ended the series before this model's fit
  // finished: why (FitStopped's text, the signal and where). Such a model
  // is not fitted and its folder is removed.
  std::string stopped;
  bool Fitted() const { return best >= 0; }
  bool Converged() const { return Fitted() && polish.outcome.converged; }
};

// ln(2 pi)/2 times the observed members counted in a family's first pass but
// not in its correction pass, summed over the evaluated families.
double DensityConstant(const Analysis& analysis);

// Fits `models` (tables already applied) in the order given, writing each
// model's folder under `out`. `spread` is the number of spread starts;
// `threads` the threads to use (0: the processors the process may use).
// A stop signal (FitStopped from `progress`) is taken in: the models whose
// fits finished keep them (and get their standard errors), the model being
// fitted and the later ones are left unfitted with `stopped` saying why and
// their folders removed; a stop in the nesting rounds keeps every model's
// last finished fit. progress.StopSignal() then says that the series was
// stopped. With `memo`, a climb it holds is taken from it instead of being
// climbed again (the results are the same; the count reused is noted).
std::vector<ModelResult> FitSeries(
    const Analysis& analysis, const std::vector<ModelDescription>& descriptions,
    const std::vector<ParameterTable>& tables, int spread,
    const std::filesystem::path& out, Progress& progress, int threads = 0,
    const ClimbMemo* memo = nullptr);

// The steps of the polish at a climb's end point x: 1e-4 |x|, at least 1e-5,
// ten times the pattern search's own tolerances, so that it converges in a
// few cycles from a point that is already a maximum.
double PolishStep(double x);

}  // namespace segmix::fit

#endif  // SEGMIX_FIT_SERIES_H_
