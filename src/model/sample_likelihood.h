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
  // Keeps references to its arguments; sizes its scratch weights once.
  SampleLikelihood(ParameterTable& parameters, const FamilyStore& store,
                   const PolygenicTables& polygenic, SampleSettings settings,
                   TextUnits& units);

  // -1: initial evaluation, 1: maximization, 2: final pass (writes LH_fam.dat).
  std::int32_t RunMode = 0;

  double SampleLogLikelihood();

  const ModelQuantities& Quantities() const { return quantities_; }
  std::int32_t CorrectionPass() const { return correction_pass_; }

 private:
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
