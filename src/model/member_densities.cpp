// MemberDensities: TraitDensity's expression, term for term, with the parts
// that do not depend on the genotypes hoisted out of the 21 evaluations.
// Hoisting changes no value: each hoisted quantity is the same operation on
// the same operands, formed once instead of 21 times.
#include "model/member_densities.h"

#include <algorithm>
#include <cmath>

namespace segmix {

namespace {

constexpr std::int32_t kCoefficientCount = 5;  // B1..B5, as TraitDensity

}  // namespace

void MemberDensities(const LikelihoodModel& model, std::int32_t i,
                     Extended (&density)[kJointGenotypes]) {
  const FamilyStore& store = model.store;
  const ModelQuantities& q = model.quantities;
  const float y = store.trait[i];
  if (y <= kMissingTrait ||
      (model.CorrectionPass == 1 && store.status[i] == 2)) {
    std::fill(std::begin(density), std::end(density), Extended{1});
    return;
  }
  const std::int32_t s = (model.sex_in_model != 0 && store.sex[i] == 2) ? 2 : 1;
  const std::int32_t K = std::min(model.covariate_count, kCoefficientCount);
  Extended v = 0;
  for (std::int32_t k = 1; k <= K; ++k) {
    v += static_cast<Extended>(q.B[k]) * store.covariate[k][i];
  }
  if (model.CorrectionPass == 1 &&
      model.correction_kind == CorrectionKind::kThreshold) {
    const Extended root =
        std::sqrt(static_cast<Extended>(2) * static_cast<Extended>(q.SIG));
    for (std::int32_t g = 1; g <= kMajorGenotypes; ++g) {
      const Extended base = v + q.GenotypeMean[s][g];
      for (std::int32_t j = 1; j <= kPolygenicGenotypes; ++j) {
        const Extended mu = base + static_cast<Extended>(j - 4) * q.pga;
        density[(g - 1) * kPolygenicGenotypes + (j - 1)] =
            ThresholdProbability(model.threshold, mu, root);
      }
    }
    return;
  }
  // Three passes, so that neither the exponents' divisions nor the
  // densities' wait on a library call: a call forces every live long double
  // through memory.
  double e[kJointGenotypes];
  for (std::int32_t g = 1; g <= kMajorGenotypes; ++g) {
    const Extended base = v + q.GenotypeMean[s][g];
    for (std::int32_t j = 1; j <= kPolygenicGenotypes; ++j) {
      const Extended mu = base + static_cast<Extended>(j - 4) * q.pga;
      const Extended r = mu - static_cast<Extended>(y);
      e[(g - 1) * kPolygenicGenotypes + (j - 1)] =
          static_cast<double>((r * r / q.SIG) * static_cast<Extended>(-0.5f));
    }
  }
  double x[kJointGenotypes];
  for (std::int32_t k = 0; k < kJointGenotypes; ++k) x[k] = std::exp(e[k]);
  const Extended root = std::sqrt(static_cast<Extended>(q.SIG));
  for (std::int32_t k = 0; k < kJointGenotypes; ++k) density[k] = x[k] / root;
}

void ScreeningMemberDensities(const LikelihoodModel& model, std::int32_t i,
                              double (&density)[kJointGenotypes]) {
  const FamilyStore& store = model.store;
  const ModelQuantities& q = model.quantities;
  const float y = store.trait[i];
  if (y <= kMissingTrait ||
      (model.CorrectionPass == 1 && store.status[i] == 2)) {
    std::fill(std::begin(density), std::end(density), 1.0);
    return;
  }
  if (model.CorrectionPass == 1 &&
      model.correction_kind == CorrectionKind::kThreshold) {
    Extended exact[kJointGenotypes];
    MemberDensities(model, i, exact);
    for (std::int32_t k = 0; k < kJointGenotypes; ++k) {
      density[k] = static_cast<double>(exact[k]);
    }
    return;
  }
  const std::int32_t s = (model.sex_in_model != 0 && store.sex[i] == 2) ? 2 : 1;
  const std::int32_t K = std::min(model.covariate_count, kCoefficientCount);
  double v = 0;
  for (std::int32_t k = 1; k <= K; ++k) {
    v += q.B[k] * static_cast<double>(store.covariate[k][i]);
  }
  const double half_precision = -0.5 / q.SIG;
  double e[kJointGenotypes];
  for (std::int32_t g = 1; g <= kMajorGenotypes; ++g) {
    const double base = v + q.GenotypeMean[s][g] - static_cast<double>(y);
    for (std::int32_t j = 1; j <= kPolygenicGenotypes; ++j) {
      const double r = base + (j - 4) * q.pga;
      e[(g - 1) * kPolygenicGenotypes + (j - 1)] = r * r * half_precision;
    }
  }
  const double inverse_root = 1 / std::sqrt(q.SIG);
  for (std::int32_t k = 0; k < kJointGenotypes; ++k) {
    density[k] = std::exp(e[k]) * inverse_root;
  }
}

}  // namespace segmix
