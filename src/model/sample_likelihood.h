// SampleLikelihood: the objective of a fit. For the current contents of the
// ParameterTable it evaluates the natural log-likelihood of all selected
// families, each conditioned on its probands (ascertainment correction), and
// returns the outcome as a value: the log-likelihood, or why there is none
// (a rejected point, a member's weights that underflowed, a pedigree that
// could not be peeled). It writes nothing; an optional EvaluationObserver
// receives the records of the evaluation.
#ifndef SEGMIX_MODEL_SAMPLE_LIKELIHOOD_H_
#define SEGMIX_MODEL_SAMPLE_LIKELIHOOD_H_

#include <cstdint>
#include <span>
#include <vector>

#include "data/family_store.h"
#include "model/evaluation.h"
#include "model/family_likelihood.h"
#include "model/model_quantities.h"
#include "model/parameter_table.h"
#include "model/peel_kernels.h"
#include "model/trait_density.h"
#include "model/worker_pool.h"

namespace segmix {

// What the sample log-likelihood reads of the control file.
struct SampleSettings {
  std::int32_t covariate_count = 0;
  std::int32_t proband_switch = 0;  // nonzero: every family is corrected
  // selection_flags[g] nonzero: family g takes part; families beyond the span
  // do not.
  std::span<const std::int32_t> selection_flags;
  // Threads that evaluate families side by side; 0: the machine's hardware
  // threads (fewer for small samples). Results do not depend on it.
  std::int32_t worker_count = 0;
  // How a corrected family's correction pass conditions on its probands
  // (trait_density.h). The program's runs keep the default.
  CorrectionKind correction_kind = CorrectionKind::kProbandValues;
  // Read under kThreshold only: thresholds[g] is the threshold T_g of family
  // index g = 1..stored family count, 1-based as the store's families are
  // (thresholds[0] is not read). Every family the evaluation visits needs
  // an entry that is not NaN; -infinity makes its correction term 0.
  std::span<const double> thresholds{};
  // A search's screening evaluations: with finite transmission tables each
  // family is peeled in double arithmetic with the tables factored
  // (screening_peel.h), and its densities formed in double arithmetic too,
  // in a quarter of the exact evaluation's time or less; exactly where
  // double arithmetic fails. A family's value then equals the exact
  // one to double rounding (a relative 1e-15 or so), not bit for bit. Only
  // for searches whose end points an exact run polishes; the program's runs
  // keep the default.
  bool screening = false;
};

class SampleLikelihood {
 public:
  // Keeps references to its arguments (and the spans of selection flags and
  // thresholds); sizes its scratch weights once, to the store's largest
  // family. The store must have passed ValidateFamilyStructure. Under
  // CorrectionKind::kThreshold, throws std::invalid_argument when a family
  // the evaluation visits has no threshold or a NaN one.
  SampleLikelihood(ParameterTable& parameters, const FamilyStore& store,
                   const PolygenicTables& polygenic, SampleSettings settings);

  // One evaluation at the values now in the table, admitted by `gate`
  // (parameter_checks.h). A refused point is kRejectedPoint with what was
  // refused; the observer hears of it (Rejected) under the kChecked gate
  // only. Then, for g = 1..stored family count with a nonzero selection flag
  // and a nonzero family weight, the family term is the pass value V, minus
  // the V of a correction pass when the proband switch is nonzero or the
  // family has a status-0 member; V = the peeled value + ln(sum of the 21
  // weights) of every member listed in no nuclear family. ln LH is the
  // unweighted sum of the family terms.
  //
  // The correction pass gives each status-2 member and each missing value 1
  // and each other member, under kProbandValues, its density: the family term
  // is ln L(family) - ln L(probands' values), and the densities' missing
  // 1/sqrt(2 pi) factors cancel between the passes except for the observed
  // non-probands'. Under kThreshold it gives each such member its
  // probability of a trait above the family's threshold: the term is
  // ln L(family) - ln P(probands exceed T_g), and since the threshold
  // probabilities are true probabilities, ln L(family) keeps the whole
  // offset of -ln(2 pi) / 2 per observed member. That offset depends on the
  // data alone, the same for every model fitted to one data set, so
  // differences of log-likelihoods (likelihood-ratio tests) are unaffected;
  // it differs from the kProbandValues offset, so values of the two kinds
  // are not compared with each other.
  //
  // The first family in family order whose member sum is at or below the
  // single-precision 1e-17 (kMemberUnderflow) or that PeelFamily cannot
  // evaluate (kPeelingFailed) ends the evaluation, and `family` names it. A
  // sum that is not a number is kRejectedPoint (kNotANumber; Rejected under
  // kChecked). Under kThreshold a threshold so far above a family's means
  // that its probands' probabilities reach 0 is such a failure.
  //
  // The observer receives FamilyTerm(g, n_g, term x weight) for every
  // evaluated family before the one that failed (none when those terms sum
  // to something that is not a number), and Evaluated(ln LH, table) after a
  // successful evaluation. Families are evaluated side by side on the
  // machine's hardware threads and their terms summed in family order
  // afterwards, so the outcome and the records are the same bits for any
  // number of threads. Allocates nothing (beyond what the observer does).
  EvaluationOutcome Evaluate(Gate gate, EvaluationObserver* observer = nullptr);

  const ModelQuantities& Quantities() const { return quantities_; }
  std::int32_t CorrectionPass() const { return correction_pass_; }

 private:
  // What one family's evaluation leaves for the ordered sum.
  struct FamilyOutcome {
    double term = 0;
    EvaluationStatus status = EvaluationStatus::kOk;
    std::int32_t correction_pass = 0;  // the flag's value when it ended
  };

  // One pass over family g with the given correction flag, on `weights`:
  // V receives the pass value; has_status0 is set when a member has status
  // code 0. Not kOk when the family cannot be evaluated.
  EvaluationStatus Pass(std::int32_t g, std::int32_t correction_pass,
                        GenotypeWeights& weights, double& V,
                        bool& has_status0) const;
  // T_g under the threshold kind (checked at construction), else 0.
  double ThresholdOf(std::int32_t g) const;
  // The family term of family g (first pass minus correction pass).
  FamilyOutcome EvaluateFamily(std::int32_t g, GenotypeWeights& weights) const;
  static void FamilyTask(void* context, std::int32_t index,
                         std::int32_t worker);

  ParameterTable& parameters_;
  const FamilyStore& store_;
  const PolygenicTables& polygenic_;
  SampleSettings settings_;
  ModelQuantities quantities_;
  // The transmission tables of the evaluation, described once for all its
  // families (read-only while they are evaluated).
  Transmission transmission_;
  std::int32_t correction_pass_ = 0;
  // The families an evaluation visits: selected, with a nonzero weight.
  // Neither changes during a run, so the list is made once.
  std::vector<std::int32_t> evaluated_;
  // The most children of a nuclear family in those families, at most
  // Transmission::kMostOnesChildren: how far the evaluation's tables go.
  std::int32_t most_children_ = 0;
  // The most siblings of a child that a nuclear family is peeled onto, -1
  // for none: how far the evaluation's table of such children goes.
  std::int32_t most_siblings_onto_child_ = -1;
  std::vector<FamilyOutcome> outcomes_;  // one slot per evaluated family
  WorkerPool pool_;
  std::vector<GenotypeWeights> weights_;  // one per worker
};

}  // namespace segmix

#endif  // SEGMIX_MODEL_SAMPLE_LIKELIHOOD_H_
