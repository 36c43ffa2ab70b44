// The trait density of one member given its major and polygenic genotype:
// exp(-(y - mu)^2 / (2 SIG)) / sqrt(SIG), SIG a variance, with no factor
// 1/sqrt(2 pi). A missing value (y <= -998), and a non-proband (status 2)
// during the correction pass, contribute 1. In the correction pass of the
// threshold kind an observed proband contributes, in place of its density,
// the probability that its trait exceeds the family's threshold.
#ifndef SEGMIX_MODEL_TRAIT_DENSITY_H_
#define SEGMIX_MODEL_TRAIT_DENSITY_H_

#include <cstdint>

#include "data/family_store.h"
#include "model/extended.h"
#include "model/model_quantities.h"

namespace segmix {

struct Transmission;  // model/peel_kernels.h

// How the correction pass of a corrected family conditions on its probands
// (the members whose status code is not 2 and whose trait value is
// observed).
enum class CorrectionKind : std::int32_t {
  // Each proband's trait density: the family term is the log-likelihood of
  // the family given its probands' values. The program's own kind.
  kProbandValues = 0,
  // Each proband's probability of a trait above the family's threshold T,
  // 1 - Phi((T - mu) / sqrt(SIG)) for the mean mu of its joint genotype:
  // the family term is the log-likelihood of the family given that its
  // probands exceed T.
  kThreshold = 1,
};

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
  // Read only while CorrectionPass is 1: the kind of the correction pass,
  // and under kThreshold the threshold T of the family being evaluated.
  CorrectionKind correction_kind = CorrectionKind::kProbandValues;
  double threshold = 0;
};

// i: store index; g: major genotype 1..3; j: polygenic genotype 1..7.
// Under CorrectionKind::kThreshold during the correction pass, an observed
// member of status code other than 2 gets ThresholdProbability in place of
// its density (missing values and status 2 still give 1).
Extended TraitDensity(const LikelihoodModel& model, std::int32_t i,
                      std::int32_t g, std::int32_t j);

// The probability that a normal trait of mean mu and variance SIG exceeds T,
// given root = sqrt(2 SIG) formed in extended precision:
// 1 - Phi((T - mu) / sqrt(SIG)) = erfc((T - mu) / root) / 2, which keeps its
// relative precision far into the upper tail (no 1 - Phi cancellation).
//
// Precision: as the density's exponent, the argument is formed in extended
// precision and rounded once to double for the library function, std::erfc
// on doubles (deterministic for a given C library, as std::exp is). Unlike
// the density, whose last step (the division by sqrt(SIG)) is extended, the
// term is that double itself, halved exactly in extended precision (so a
// subnormal erfc loses nothing): it carries the precision of a double, a few
// units in its last place. Double also gives it the range of the density:
// both reach 0 about 38.5 standard deviations from the mean.
Extended ThresholdProbability(double T, Extended mu, Extended root);

}  // namespace segmix

#endif  // SEGMIX_MODEL_TRAIT_DENSITY_H_
