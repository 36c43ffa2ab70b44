// The peeled likelihood of one family: PrepareGenotypeWeights fills a vector
// of 21 joint-genotype weights (major 1..3 x polygenic 1..7) per member;
// PeelFamily sums the nuclear families out onto their connectors in stored
// order and returns the natural log-likelihood of the listed members.
//
// Arithmetic: every sum and product is formed in extended precision
// (Extended) and rounded to double only where a value is stored: a weight,
// the running sum of the logarithms of the scale factors, LL.
#ifndef SEGMIX_MODEL_FAMILY_LIKELIHOOD_H_
#define SEGMIX_MODEL_FAMILY_LIKELIHOOD_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "model/trait_density.h"

namespace segmix {

inline constexpr std::int32_t kMajorGenotypes = 3;
inline constexpr std::int32_t kPolygenicGenotypes = 7;
inline constexpr std::int32_t kJointGenotypes =
    kMajorGenotypes * kPolygenicGenotypes;

// Joint state index 0..20 of (g, j), g-major: the order of every sum.
constexpr std::int32_t JointState(std::int32_t g, std::int32_t j) {
  return (g - 1) * kPolygenicGenotypes + (j - 1);
}

// Scratch weights W(k, g, j) of one family and one pass, for member positions
// k = 1..capacity. Sized once (to the largest family); never allocates during
// an evaluation.
class GenotypeWeights {
 public:
  explicit GenotypeWeights(std::int32_t capacity = 0) { Resize(capacity); }
  // Room for positions 1..capacity (a negative capacity counts as 0); all
  // weights 0 and no position marked.
  void Resize(std::int32_t capacity);
  std::int32_t Capacity() const { return capacity_; }
  double& operator()(std::int32_t k, std::int32_t g, std::int32_t j) {
    return w_[Index(k, g, j)];
  }
  double operator()(std::int32_t k, std::int32_t g, std::int32_t j) const {
    return w_[Index(k, g, j)];
  }
  // The 21 weights of member position k, g-major then j.
  double* Member(std::int32_t k) { return &w_[Index(k, 1, 1)]; }
  const double* Member(std::int32_t k) const { return &w_[Index(k, 1, 1)]; }
  // Per position 0..capacity. After PrepareGenotypeWeights(f), Marks()[k] is
  // nonzero exactly for the positions k = 1..n listed in some nuclear family
  // of f (as a parent or as a child).
  std::vector<unsigned char>& Marks() { return marks_; }
  const std::vector<unsigned char>& Marks() const { return marks_; }

 private:
  static std::size_t Index(std::int32_t k, std::int32_t g, std::int32_t j) {
    return static_cast<std::size_t>(k) * kJointGenotypes +
           static_cast<std::size_t>(JointState(g, j));
  }
  std::int32_t capacity_ = 0;
  std::vector<double> w_;
  std::vector<unsigned char> marks_;  // per position: already given its weights
};

// Fills W(k, ., .) for the positions k = 1..n of family f (n its size):
// a child in some nuclear family gets its trait densities alone (its genotype
// distribution comes from its parents); every other member gets density x
// GenotypeFrequency(g) x PolygenicFrequency(j), and a member listed nowhere
// whose trait value is missing gets the prior alone. Marks the listed
// positions (see GenotypeWeights::Marks). In a screening evaluation
// (model.transmission->screening) the densities are
// ScreeningMemberDensities', in double arithmetic.
// Precondition: the store has passed ValidateFamilyStructure. When `weights`
// has less room than the family it is resized (an allocation); callers that
// must not allocate size it beforehand to FamilyStore::LargestFamilySize().
void PrepareGenotypeWeights(const LikelihoodModel& model, std::int32_t f,
                            GenotypeWeights& weights);

// How PeelFamily peels nuclear family w (an index into the store's lists):
// onto a parent L (a terminal family, connector code 0, onto its first
// parent), with O the other parent and `children` all its children; or onto
// its first child L, with parents p1 and p2 and `children` the others. Both
// parents are p1 and p2 either way.
struct NuclearPeel {
  bool onto_parent = false;
  bool terminal = false;
  std::int32_t L = 0, O = 0, p1 = 0, p2 = 0;
  std::span<const std::int32_t> children;
};

// Fills `peel` for nuclear family w. False when the list cannot be peeled
// (fewer than two entries; a child connector without children) or a weight
// of one of its members is not finite: then every sum of the connector
// would be non-finite, and the family fails without the arithmetic.
bool DescribeNuclearPeel(const FamilyStore& store, std::int32_t w,
                         const GenotypeWeights& weights, NuclearPeel& peel);

// Peels the nuclear families of f in stored order, each onto its connector
// (the first parent for a terminal one, code 0), rescaling the connector's
// weights to sum 1 and accumulating the logarithms of the scale sums. LL
// receives the natural log-likelihood of the members listed in the nuclear
// families; members listed nowhere are neither read nor written.
// Returns false when a connector's scale sum is 0 or not finite (or a weight
// entering a nuclear family is not finite, which would make it so), and for
// a list the structure check refuses (fewer than two entries; a child
// connector without children): the family cannot be evaluated and LL is
// meaningless.
// Preconditions: f has at least one nuclear family, PrepareGenotypeWeights(f)
// has just run on `weights` with the same model, and the store has passed
// ValidateFamilyStructure.
bool PeelFamily(const LikelihoodModel& model, std::int32_t f,
                GenotypeWeights& weights, double& LL);

}  // namespace segmix

#endif  // SEGMIX_MODEL_FAMILY_LIKELIHOOD_H_
