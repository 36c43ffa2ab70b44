// The trait density of one member given its major and polygenic genotype:
// exp(-(y - mu)^2 / (2 SIG)) / sqrt(SIG), SIG a variance, with no factor
// 1/sqrt(2 pi). A missing value (y <= -998), and a non-proband (status 2)
// during the correction pass, contribute 1.
#ifndef SEGMIX_MODEL_TRAIT_DENSITY_H_
#define SEGMIX_MODEL_TRAIT_DENSITY_H_

#include <cstdint>

#include "data/family_store.h"
#include "model/extended.h"
#include "model/model_quantities.h"

namespace segmix {

struct Transmission;  // model/peel_kernels.h

// What the density and the family likelihood read for one evaluation.
struct LikelihoodModel {
  const FamilyStore& store;
  const ModelQuantities& quantities;
  const PolygenicTables& polygenic;
  std::int32_t covariate_count = 0;  // K: covariates entering the mean
  std::int32_t sex_in_model = 0;     // in-model flag of Sex
  std::int32_t CorrectionPass = 0;   // 1 during a family's correction pass
  // The transmission tables described once for the evaluation (filled by
  // DescribeTransmission from these quantities); null: PeelFamily describes
  // them itself.
  const Transmission* transmission = nullptr;
};

// i: store index; g: major genotype 1..3; j: polygenic genotype 1..7.
Extended TraitDensity(const LikelihoodModel& model, std::int32_t i,
                      std::int32_t g, std::int32_t j);

}  // namespace segmix

#endif  // SEGMIX_MODEL_TRAIT_DENSITY_H_
