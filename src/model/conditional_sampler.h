// ConditionalSampler: a replicate of one family's trait values drawn from a
// fitted model, with the family's pedigree, covariates, missing pattern and
// ascertainment kept, for parametric bootstraps and simulation studies on
// the observed pedigrees.
//
// What is drawn, for family g (its members at positions k = 1..n):
// - A member whose trait value is missing (at or below kMissingTrait) stays
//   missing: its stored value is returned unchanged.
// - A corrected family is one the sample likelihood gives a correction pass:
//   the proband switch is nonzero or a member has status code 0. Its
//   probands are its observed members whose status code is not 2. Under
//   CorrectionKind::kProbandValues the joint states (major genotype g,
//   polygenic genotype j) of all members are drawn from their distribution
//   given the probands' trait values and everyone's covariates (the observed
//   values of the other members do not condition the draw), the probands'
//   values are returned unchanged and every other observed member's trait is
//   drawn from the normal density of its drawn state. This is the
//   distribution the family term ln L(family) - ln L(probands' values)
//   describes.
// - Under CorrectionKind::kThreshold the probands are drawn too: the states
//   given that each proband's trait exceeds the family's threshold T, then
//   each proband's trait from the normal of its state truncated below at T
//   (ln L(family) - ln P(probands exceed T)).
// - A family that is not corrected conditions on nothing: the states are
//   drawn from the genetic model alone and every observed member's trait
//   from the normal of its state.
// The normal of state (g, j) for the member at store index i has the mean
// and variance of TraitDensity: mean = sum_k B_k x covariate_k(i) +
// GenotypeMean[s][g] + (j - 4) x pga, with s the member's sex class, and
// variance SIG.
//
// Method. The states are drawn member by member, each from its exact
// distribution given the conditioning values and the states already drawn
// (by the chain rule the joint draw is exact). First, in position order, the
// members who are not leaves (a leaf: a child in some nuclear family who is
// nobody's parent). For such a member listed in some nuclear family the
// family is peeled (PeelFamily) with the member restricted to each major
// genotype in turn (the other genotypes' weights set to 0, as are all but
// the drawn state of every member already drawn); the genotype is drawn in
// proportion to those likelihoods, then the polygenic genotype the same way
// among the 7 states of the drawn major genotype: 10 peels. A member listed
// in no nuclear family is independent of the others and is drawn from its
// own 21 weights. Then, in position order, the leaves: a leaf meets the rest
// of the family through its parents alone, so given their drawn states
// (g1, j1), (g2, j2) (first and second parent of its list) its distribution
// is M(g | g1, g2) x T(j | j1, j2) x its own weights, without peeling. Then
// the traits, in position order.
//
// Every drawn trait is conditioned on staying above the missing code (the
// normal truncated below at kMissingTrait as well), so that the missing
// pattern is kept; that truncation matters only for means within a few
// standard deviations of -998. A drawn value is stored as float, the
// precision of trait values; a value that would round to the lower bound or
// below it (T, or the missing code) becomes the smallest float above it.
//
// Determinism. The draw is a function of (seed, g) and the model alone,
// whatever thread draws it and in whatever order families are drawn: each
// family has its own std::mt19937_64 (its sequence is fixed by the C++
// standard), seeded with a splitmix64 mix of seed and g. Uniforms are formed
// here from the top 53 bits of its output and normals by the Box-Muller
// transform (truncated normals by rejection from it, or in the upper tail by
// inverting the tail probability with Newton steps on its logarithm), not by
// the library's distributions, whose algorithms the standard leaves open.
// The bits then depend only on the C library's log, cos, exp and erfc, as
// the likelihood's do.
#ifndef SEGMIX_MODEL_CONDITIONAL_SAMPLER_H_
#define SEGMIX_MODEL_CONDITIONAL_SAMPLER_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "data/family_store.h"
#include "model/model_quantities.h"
#include "model/sample_likelihood.h"

namespace segmix {

struct Transmission;  // model/peel_kernels.h

// A member's drawn joint state: major genotype g (1..3) and polygenic
// genotype j (1..7); 0 for neither drawn.
struct MemberState {
  std::int32_t g = 0;
  std::int32_t j = 0;
};

struct FamilyDraw {
  // False when the family cannot be drawn at this model: its conditioning
  // values have likelihood 0 (for instance a threshold so far above the
  // means that the probands' probabilities underflow) or it cannot be peeled.
  // trait then holds the stored values and state is all 0.
  bool drawn = false;
  std::vector<float> trait;        // positions 1..n; [0] unused
  std::vector<MemberState> state;  // positions 1..n; [0] unused
};

class ConditionalSampler {
 public:
  // `quantities` are the fitted model's, as CheckParameters derives them from
  // its estimates (copied); `sex_in_model` the in-model flag of Sex. From
  // `settings` the sampler reads the covariate count, the proband switch, the
  // correction kind and (under kThreshold) the thresholds, indexed by family
  // as SampleSettings describes; it keeps references to the store, the
  // polygenic tables and the thresholds' span, which must outlive it. The
  // store must have passed ValidateFamilyStructure.
  ConditionalSampler(const FamilyStore& store,
                     const ModelQuantities& quantities,
                     const PolygenicTables& polygenic,
                     std::int32_t sex_in_model, SampleSettings settings);
  ~ConditionalSampler();
  ConditionalSampler(const ConditionalSampler&) = delete;
  ConditionalSampler& operator=(const ConditionalSampler&) = delete;

  // Whether family g gets a correction pass (see the top of the file).
  bool Corrected(std::int32_t g) const;

  // One draw of family g (1..stored family count) for replicate `seed`.
  // Safe to call from several threads at once. Under kThreshold, throws
  // std::invalid_argument when a corrected family has no threshold or a NaN
  // one. A family without members gives empty-bodied vectors (size 1).
  FamilyDraw Draw(std::int32_t g, std::uint64_t seed) const;
  // The traits of Draw(g, seed); empty when the family cannot be drawn.
  std::vector<float> DrawFamily(std::int32_t g, std::uint64_t seed) const;

 private:
  const FamilyStore& store_;
  const ModelQuantities quantities_;
  const PolygenicTables& polygenic_;
  const std::int32_t sex_in_model_;
  const SampleSettings settings_;
  // Described once from the quantities; read-only while families are drawn.
  std::unique_ptr<Transmission> transmission_;
};

}  // namespace segmix

#endif  // SEGMIX_MODEL_CONDITIONAL_SAMPLER_H_
