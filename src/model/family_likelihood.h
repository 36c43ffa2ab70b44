// The peeled likelihood of one family: PrepareGenotypeWeights fills a vector
// of 21 joint-genotype weights (major 1..3 x polygenic 1..7) per member;
// PeelFamily sums the nuclear families out onto their connectors in stored
// order and returns the natural log-likelihood of the listed members.
#ifndef SEGMIX_MODEL_FAMILY_LIKELIHOOD_H_
#define SEGMIX_MODEL_FAMILY_LIKELIHOOD_H_

#include <cstdint>
#include <vector>

#include "model/trait_density.h"

namespace segmix {

// Scratch weights W(k, g, j) of one family and one pass, for member positions
// k = 1..capacity. Sized once (to the largest family); never allocates during
// an evaluation.
class GenotypeWeights {
 public:
  explicit GenotypeWeights(std::int32_t capacity = 0) { Resize(capacity); }
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
  std::vector<unsigned char>& Marks() { return marks_; }

 private:
  static std::size_t Index(std::int32_t k, std::int32_t g, std::int32_t j) {
    return static_cast<std::size_t>(k) * 21 + (g - 1) * 7 + (j - 1);
  }
  std::int32_t capacity_ = 0;
  std::vector<double> w_;
  std::vector<unsigned char> marks_;  // per position: already given its weights
};

void PrepareGenotypeWeights(const LikelihoodModel& model, std::int32_t f,
                            GenotypeWeights& weights);

// Returns false when a connector's scale sum is 0 or not finite: the family
// cannot be evaluated (LL is then meaningless).
bool PeelFamily(const LikelihoodModel& model, std::int32_t f,
                GenotypeWeights& weights, double& LL);

}  // namespace segmix

#endif  // SEGMIX_MODEL_FAMILY_LIKELIHOOD_H_
