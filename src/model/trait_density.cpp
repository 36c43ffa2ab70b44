// TraitDensity: the normal density of one member's trait value around the
// mean of its joint genotype, in the program's unnormalised form, and the
// threshold kind's probability of a trait above the family's threshold.
#include "model/trait_density.h"

#include <algorithm>
#include <cmath>

namespace segmix {

namespace {

// There are five covariate coefficients, B1..B5; a larger covariate count
// cannot enter the mean (the control file reader refuses one).
constexpr std::int32_t kCoefficientCount = 5;

}  // namespace

Extended TraitDensity(const LikelihoodModel& model, std::int32_t i,
                      std::int32_t g, std::int32_t j) {
  const FamilyStore& store = model.store;
  const ModelQuantities& q = model.quantities;
  const float y = store.trait[i];

  // Missing value, and a non-proband during the correction pass: the trait
  // value drops out of the likelihood.
  if (y <= kMissingTrait) return 1;
  if (model.CorrectionPass == 1 && store.status[i] == 2) return 1;

  // Only sex code 2 selects the second sex class; any other code (the data
  // reader admits only 1 and 2) is read as class 1.
  const std::int32_t s = (model.sex_in_model != 0 && store.sex[i] == 2) ? 2 : 1;

  // Each product of a double coefficient and a single-precision covariate is
  // formed and summed in extended precision.
  const std::int32_t K = std::min(model.covariate_count, kCoefficientCount);
  Extended v = 0;
  for (std::int32_t k = 1; k <= K; ++k) {
    v += static_cast<Extended>(q.B[k]) * store.covariate[k][i];
  }

  const Extended mu =
      (v + q.GenotypeMean[s][g]) + static_cast<Extended>(j - 4) * q.pga;
  if (model.CorrectionPass == 1 &&
      model.correction_kind == CorrectionKind::kThreshold) {
    return ThresholdProbability(
        model.threshold, mu,
        std::sqrt(static_cast<Extended>(2) * static_cast<Extended>(q.SIG)));
  }
  const Extended r = mu - static_cast<Extended>(y);
  // SIG is a variance; the factor is the single-precision -0.5, exact.
  const double e =
      static_cast<double>((r * r / q.SIG) * static_cast<Extended>(-0.5f));
  return std::exp(e) / std::sqrt(static_cast<Extended>(q.SIG));
}

Extended ThresholdProbability(double T, Extended mu, Extended root) {
  const double z = static_cast<double>((static_cast<Extended>(T) - mu) / root);
  return static_cast<Extended>(std::erfc(z)) * static_cast<Extended>(0.5);
}

}  // namespace segmix
