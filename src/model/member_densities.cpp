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

// A missing value, and in a correction pass a proband's value, give every
// genotype density 1.
bool DensitiesAreOne(const LikelihoodModel& model, std::int32_t i) {
  return model.store.trait[i] <= kMissingTrait ||
         (model.CorrectionPass == 1 && model.store.status[i] == 2);
}

// The sex class of member i's genotype means: 2 for a woman when Sex is in
// the model, else 1.
std::int32_t SexClass(const LikelihoodModel& model, std::int32_t i) {
  return (model.sex_in_model != 0 && model.store.sex[i] == 2) ? 2 : 1;
}

}  // namespace

void MemberDensities(const LikelihoodModel& model, std::int32_t i,
                     Extended (&density)[kJointGenotypes]) {
  const FamilyStore& store = model.store;
  const ModelQuantities& q = model.quantities;
  const float y = store.trait[i];
  if (DensitiesAreOne(model, i)) {
    std::fill(std::begin(density), std::end(density), Extended{1});
    return;
  }
  const std::int32_t s = SexClass(model, i);
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
  if (DensitiesAreOne(model, i)) {
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
  const std::int32_t s = SexClass(model, i);
  const std::int32_t K = std::min(model.covariate_count, kCoefficientCount);
  double v = 0;
  for (std::int32_t k = 1; k <= K; ++k) {
    v += q.B[k] * static_cast<double>(store.covariate[k][i]);
  }
  // d_j = exp(hp r_j^2) / sqrt(SIG), hp = -1 / (2 SIG), r_j = r + (j - 4) pga:
  // with r_j = r_{j-1} + pga the ratio of neighbours is exp(hp (2 r_j pga +
  // pga^2)), and each ratio is the one before it times c = exp(2 hp pga^2).
  // So each major genotype takes three exponentials instead of seven: its
  // largest density (the j whose mean lies nearest y) and the first ratio
  // on either side. Outward from the largest every ratio is at most 1, so a
  // density that underflows is one whose true value is smaller still. The
  // products carry a few ulps (six steps at most).
  const double hp = -0.5 / q.SIG;
  const double pga = q.pga;
  const double c = std::exp(2 * hp * pga * pga);
  const double inverse_root = 1 / std::sqrt(q.SIG);
  for (std::int32_t g = 1; g <= kMajorGenotypes; ++g) {
    const double r = v + q.GenotypeMean[s][g] - static_cast<double>(y);
    double r_j[kPolygenicGenotypes];
    std::int32_t m = 0;
    for (std::int32_t j = 0; j < kPolygenicGenotypes; ++j) {
      r_j[j] = r + (j - 3) * pga;
      if (std::abs(r_j[j]) < std::abs(r_j[m])) m = j;
    }
    double* d = density + (g - 1) * kPolygenicGenotypes;
    d[m] = std::exp(hp * r_j[m] * r_j[m]);
    double up = std::exp(hp * (2 * r_j[m] * pga + pga * pga));
    for (std::int32_t j = m + 1; j < kPolygenicGenotypes; ++j, up *= c) {
      d[j] = d[j - 1] * up;
    }
    double down = std::exp(hp * (pga * pga - 2 * r_j[m] * pga));
    for (std::int32_t j = m - 1; j >= 0; --j, down *= c) d[j] = d[j + 1] * down;
    for (std::int32_t j = 0; j < kPolygenicGenotypes; ++j) d[j] *= inverse_root;
  }
}

}  // namespace segmix
