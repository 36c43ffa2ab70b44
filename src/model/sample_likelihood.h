// SampleLogLikelihood: the objective of the run. For the current contents of
// the ParameterTable it returns the natural log-likelihood of all selected
// families, each conditioned on its probands (ascertainment correction), or
// FailureSentinel for a rejected point or a failed family. Every completed
// evaluation writes its evaluation line to the console; in run mode 2 one
// record per evaluated family goes to unit 3 (LH_fam.dat).
#ifndef SEGMIX_MODEL_SAMPLE_LIKELIHOOD_H_
#define SEGMIX_MODEL_SAMPLE_LIKELIHOOD_H_

#include <cstdint>
#include <span>

#include "data/family_store.h"
#include "model/family_likelihood.h"
#include "model/model_quantities.h"
#include "model/parameter_table.h"
#include "textio/text_units.h"

namespace segmix {

// What the sample log-likelihood reads of the control file.
struct SampleSettings {
  std::int32_t covariate_count = 0;
  std::int32_t proband_switch = 0;  // nonzero: every family is corrected
  // selection_flags[g] nonzero: family g takes part; families beyond the span
  // do not.
  std::span<const std::int32_t> selection_flags;
};

class SampleLikelihood {
 public:
  // Keeps references to its arguments (and the span of selection flags);
  // sizes its scratch weights once, to the store's largest family. The store
  // must have passed ValidateFamilyStructure.
  SampleLikelihood(ParameterTable& parameters, const FamilyStore& store,
                   const PolygenicTables& polygenic, SampleSettings settings,
                   TextUnits& units);

  // -1: initial evaluation, 1: maximization, 2: final pass (writes LH_fam.dat).
  std::int32_t RunMode = 0;

  // One evaluation at the values now in the table. The gate is
  // AcceptParameters in run mode 1 and CheckParameters otherwise (which may
  // write par.err on unit 25 and the console); a rejected point returns
  // FailureSentinel and writes nothing more. Then, for g = 1..stored family
  // count with a nonzero selection flag and a nonzero family weight, the
  // family term is the pass value V, minus the V of a correction pass when
  // the proband switch is nonzero or the family has a status-0 member;
  // V = the peeled value + ln(sum of the 21 weights) of every member listed
  // in no nuclear family. The result is the unweighted sum of the family
  // terms (natural log). A member sum at or below the single-precision 1e-17,
  // or a family PeelFamily cannot evaluate, returns FailureSentinel at once
  // with no evaluation line (records already written stay). Otherwise the
  // evaluation line "(f15.4,9f8.5)" (result, Q, MU, A, D, SIG) goes to the
  // console, and in run mode 2 each evaluated family first writes the
  // free-form record "g n_g term x weight" to unit 3, which must be open.
  // Allocates nothing but what the two text statements need.
  double SampleLogLikelihood();

  const ModelQuantities& Quantities() const { return quantities_; }
  std::int32_t CorrectionPass() const { return correction_pass_; }

 private:
  // One pass over family g with the current correction_pass_: V receives the
  // pass value; has_status0 is set when a member has status code 0. False
  // when the family cannot be evaluated.
  bool Pass(std::int32_t g, double& V, bool& has_status0);

  ParameterTable& parameters_;
  const FamilyStore& store_;
  const PolygenicTables& polygenic_;
  SampleSettings settings_;
  TextUnits& units_;
  ModelQuantities quantities_;
  GenotypeWeights weights_;
  std::int32_t correction_pass_ = 0;
};

}  // namespace segmix

#endif  // SEGMIX_MODEL_SAMPLE_LIKELIHOOD_H_
