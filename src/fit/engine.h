// The one place where segmix-fit meets the core: loading an analysis (control
// file, family data, polygenic tables), running one fit exactly as segmix runs
// it (gate at the start, pattern search, summary and family files), silent
// evaluations of the sample ln LH, and the per-person major-genotype
// posteriors from the peeled family likelihood. Everything above this file
// works on ParameterTable values and plain results only.
#ifndef SEGMIX_FIT_ENGINE_H_
#define SEGMIX_FIT_ENGINE_H_

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "data/family_store.h"
#include "maximize/maximize.h"
#include "model/model_quantities.h"
#include "model/parameter_table.h"
#include "run/analysis.h"
#include "run/control_file.h"
#include "run/member_counts.h"

namespace segmix::fit {

// Per family of the store, what the report shows beside its ln LH.
struct FamilyFacts {
  std::int32_t index = 0;  // g, as in LH_fam.dat
  std::int32_t members = 0;
  std::int32_t observed = 0;  // trait value above -998: enters the density
  std::int32_t probands = 0;  // status code other than 2
  bool selected = false;      // selection flag nonzero
  bool evaluated = false;     // selected and with a nonzero family weight
  bool corrected = false;     // evaluated with a correction pass
  double weight = 0;          // the family weight of LH_fam.dat
  // Observed members whose density enters the first pass but not the
  // correction pass: each carries one factor 1/sqrt(2 pi) segmix leaves out
  // (under UseThresholdCorrection, every observed member).
  std::int32_t constant_members = 0;
};

// The trait transformation of segmix-fit's --transform (fit/transform.h).
struct TraitTransform {
  bool boxcox = false;
  double shift = 0;  // c, added to every observed value
  // S: ln(y + c) summed over the members whose density counts in the
  // likelihood (FamilyFacts::constant_members, member by member).
  long double log_sum = 0;
  std::int64_t counted = 0;  // how many members S sums over
};

struct Analysis {
  std::filesystem::path directory;  // where par.inp and the data were read
  segmix::Analysis core;     // what the core fits; must not move once in use
  ControlSettings settings;  // copies of the core's, for the layers above
  ParameterTable base;       // as read, left-out components zeroed (as segmix)
  MemberCounts counts;
  std::string load_console;  // segmix's console text up to the N_izm line
  std::vector<FamilyFacts> families;  // [0] unused; 1..stored count
  double trait_mean = 0;  // over the observed members of evaluated families
  double trait_sd = 1;
  std::vector<std::string> input_files;  // names read, relative to directory
  TraitTransform transform;              // set by UseBoxCox
};

// Reads par.inp, the data files and the tables from `directory` with
// segmix's own loader (names in par.inp are relative to it; the working
// directory is not changed); throws RunTermination (segmix's messages and
// exit statuses) for bad input. Nothing is written.
Analysis LoadAnalysis(const std::filesystem::path& directory);

// Conditions every corrected family of `analysis` on its probands' traits
// exceeding a threshold instead of on their values (the likelihood's
// CorrectionKind::kThreshold): thresholds[g] for family index
// g = 1..stored family count, [0] not read. Every RunFit and Evaluator made
// afterwards (and so the climbs, polishes, profiles and standard errors
// above them) uses it, and FamilyFacts::constant_members follow it: the
// threshold probabilities being true probabilities, every observed member
// of a corrected family then carries its 1/sqrt(2 pi). Call it before any
// of them; segmix's own path never does. Throws std::invalid_argument,
// changing nothing, unless `thresholds` holds one entry per stored family
// besides [0] and none of an evaluated family is NaN.
void UseThresholdCorrection(Analysis& analysis, std::vector<double> thresholds);

// Where a fit writes segmix's files; all paths absolute. Empty: not written.
struct FitFiles {
  std::filesystem::path max_file, par_err, sigma_file, family_file, console;
};

struct FitOutcome {
  ParameterTable table;  // at the maximum (or the start when it failed)
  double initial_ln_lh = 0;
  MaximizerResult result;
  bool start_rejected = false;  // the gate refused the start: no search
  // Why, as segmix says it: its standard-error text, or the par.err (or
  // console) message of the refused point.
  std::string refusal;
  bool converged = false;  // the search ended normally
  // With files: each family's weighted term of the final pass, as LH_fam.dat
  // holds it ([g], 1..stored count; NaN for a family not evaluated).
  std::vector<double> family_terms;
};

// Called after every evaluation of a search with the count so far and the
// best ln LH seen.
using EvaluationProgress = std::function<void(std::int64_t, double)>;

// One fit from `start` exactly as segmix runs par.inp holding `start`
// (segmix's own RecordedFit): the checked gate at the start and the step
// check, the pattern search with segmix's settings, the summary file and the
// final pass, with segmix's records in `files` (none when null). The results
// are the same bits segmix gives, whatever `threads` (the workers that
// evaluate the families side by side; 0: the processors the process may use).
FitOutcome RunFit(const Analysis& analysis, const ParameterTable& start,
                  const FitFiles* files, const EvaluationProgress& progress,
                  int threads = 0);

// Silent evaluations of the sample ln LH for tables of one model (ties and
// in-model flags as in `model`): the search's gate, nothing written. `threads`
// as for RunFit; one Evaluator is used by one thread at a time. On a
// transformed analysis it reads the trait at each table's kLambda from a
// store of its own (rewritten when lambda changes) and adds the Jacobian
// term; a lambda whose values TransformTrait refuses is a refused point.
//
// kExact evaluations are the bits segmix's search would see. kScreening ones
// (SampleSettings::screening) are formed in double arithmetic and differ
// from them by double rounding (about 1e-13 in ln LH) at a quarter of the
// time or less: for climbs whose end points a RunFit polishes, and for
// statistics read off climbs whose own tolerance is far coarser.
enum class Arithmetic { kExact, kScreening };

class Evaluator {
 public:
  Evaluator(const Analysis& analysis, const ParameterTable& model,
            int threads = 0, Arithmetic arithmetic = Arithmetic::kExact);
  ~Evaluator();
  // ln LH at the values of `table`; at or below kFailureThreshold when the
  // point is refused or fails.
  double Evaluate(const ParameterTable& table);

  // P(major genotype 1..3 | the family's data) for every member position of
  // family g, from the first pass (the proband correction does not depend on
  // one member's genotype). `table` must be accepted by Evaluate. Rows are
  // member positions 1..n ([0] unused). Empty when the family cannot be
  // evaluated.
  std::vector<std::array<double, 3>> GenotypePosteriors(
      const ParameterTable& table, std::int32_t g);

  // A replicate of the data drawn from the model at `table` (which Evaluate
  // must accept) on the observed pedigrees (model/conditional_sampler.h):
  // every evaluated family's traits given its probands' values (or, under
  // the threshold correction, given that they exceed the threshold), the
  // missing pattern kept. `trait` gets the store's trait vector with the
  // drawn values; other families keep theirs. A function of `seed` alone.
  // False when the point is refused or a family cannot be drawn there. Not
  // for a transformed analysis (it would draw z).
  bool DrawTraits(const ParameterTable& table, std::uint64_t seed,
                  std::vector<float>& trait);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::int64_t evaluations_ = 0;  // Evaluate calls, for the posteriors' reuse
};

}  // namespace segmix::fit

#endif  // SEGMIX_FIT_ENGINE_H_
