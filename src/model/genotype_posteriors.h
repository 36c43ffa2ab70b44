// Every member's major-genotype posterior in one family, from one pass up the
// family's nuclear families (the peeling, which leaves each member's
// "anterior" weights: its own and what its descendants' side passed onto it)
// and one pass down (which brings each member the "posterior" message from
// the rest of the pedigree). Linear in the family's size, where fixing each
// member's genotype in turn and peeling the whole family is quadratic.
#ifndef SEGMIX_MODEL_GENOTYPE_POSTERIORS_H_
#define SEGMIX_MODEL_GENOTYPE_POSTERIORS_H_

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "data/family_store.h"
#include "model/trait_density.h"

namespace segmix {

// Scratch for the posteriors of the families of one store, sized once at
// construction (to the largest family and the largest nuclear family); one
// object serves one thread at a time.
class MajorGenotypePosteriors {
 public:
  explicit MajorGenotypePosteriors(const FamilyStore& store);
  ~MajorGenotypePosteriors();
  MajorGenotypePosteriors(const MajorGenotypePosteriors&) = delete;
  MajorGenotypePosteriors& operator=(const MajorGenotypePosteriors&) = delete;

  // posteriors[k][g - 1] = P(major genotype g | the family's data) for the
  // member positions k = 1..n of family f (row 0 unused), under `model` as
  // PrepareGenotypeWeights and PeelFamily read it (the caller picks the
  // pass; a member's posterior is meant for the first, CorrectionPass 0):
  // - a member listed in some nuclear family: its share of the likelihood of
  //   the listed members, as PeelFamily computes it with the member's other
  //   two major genotypes given weight 0, summed over its polygenic genotype
  //   and normalised over g;
  // - a member listed in none, and every member of a family without nuclear
  //   families: its own weights W(k, g, .) summed over j and normalised.
  // Returns false, with `posteriors` empty, when the family has no members
  // or cannot be evaluated: PeelFamily fails on it, a member's three
  // weighted sums are all 0 or one is not finite, or a message from the
  // rest of the pedigree vanishes or overflows.
  //
  // Arithmetic: sums and products in extended precision; every message and
  // running product is rescaled to sum 1, so that no depth of pedigree
  // underflows. The values agree with the fixed-genotype peels to rounding,
  // not bit for bit: the fixed-genotype peels difference log-likelihoods
  // rounded to double, whose error grows with the family (measured: 4e-16 on
  // families of up to 12 members, 7e-14 on one of 500).
  // Preconditions: the store is `model.store`, has passed
  // ValidateFamilyStructure (the peeling order is what makes one pass down
  // enough), and f is one of its families. A family larger than the store's
  // largest, or with a larger nuclear family, makes the scratch grow.
  bool Compute(const LikelihoodModel& model, std::int32_t f,
               std::vector<std::array<double, 3>>& posteriors);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace segmix

#endif  // SEGMIX_MODEL_GENOTYPE_POSTERIORS_H_
