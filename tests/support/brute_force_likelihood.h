// The likelihood of one family computed without peeling: the sum, over every
// joint genotype of its members, of founder priors x transmission
// probabilities x trait densities. The tests of the model, of whole runs and
// of simulated data all compare the program's peeled value with this one.
//
// A joint genotype is the state s = 7 (g - 1) + (j - 1) of a major genotype g
// (1..3) and a polygenic genotype j (1..7, j - 1 increasing alleles of 6).
// The sum runs over every joint state of the members who are somebody's
// parent, parents before their children; a member who is nobody's parent is
// summed on its own given its parents' states (or its prior, for a founder),
// since that sum factors out of the joint sum. Partial products that are
// exactly 0 are dropped: they add nothing.
#ifndef SEGMIX_TESTS_SUPPORT_BRUTE_FORCE_LIKELIHOOD_H_
#define SEGMIX_TESTS_SUPPORT_BRUTE_FORCE_LIKELIHOOD_H_

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "model/trait_density.h"

namespace segmix::test {

inline constexpr int kJointStates = 21;  // 3 major x 7 polygenic genotypes
using StateValues = std::array<long double, kJointStates>;

struct GeneticTables {
  StateValues prior{};  // a founder's probability of each joint state
  // The probability of child state c given parent states a and b, at
  // (c * 21 + a) * 21 + b.
  std::vector<long double> transmission =
      std::vector<long double>(kJointStates * kJointStates * kJointStates);

  long double Transmission(int c, int a, int b) const {
    return transmission[(c * kJointStates + a) * kJointStates + b];
  }
};

// The model written down plainly, from nothing of the program: Hardy-Weinberg
// priors Q^2, 2Q(1 - Q), (1 - Q)^2 of the major genotypes and binomial(6, 1/2)
// priors of the polygenic count; a parent of polygenic count x passes k
// increasing alleles in a gamete of 3 drawn from its 6 without replacement,
// and a parent of major genotype g passes the allele genotype 1 carries twice
// with probability pass[g - 1] (Mendelian: 1, 1/2, 0).
GeneticTables PlainGeneticTables(long double Q,
                                 const std::array<long double, 3>& pass = {
                                     1.0L, 0.5L, 0.0L});

// The trait density exp(-(y - mean)^2 / (2 SIG)) / sqrt(SIG) at every joint
// state, with mean = major_mean[g - 1] + shift + (j - 4) pga: `shift` holds
// the sex shift and the covariate terms of the member.
StateValues PlainDensities(long double y,
                           const std::array<long double, 3>& major_mean,
                           long double shift, long double pga, long double SIG);

// One member of a family: its parents' positions in the family's member list
// (both -1 for a founder) and its trait density at every joint state (all 1
// for a member whose trait does not enter).
struct BruteForceMember {
  int father = -1, mother = -1;
  StateValues density;
};

// The sum over every joint state of `members` (see the top of the file).
// Members may come in any order; a member that is its own ancestor, or a
// parent position outside the list, throws std::invalid_argument.
long double BruteForceFamilyLikelihood(
    std::span<const BruteForceMember> members, const GeneticTables& tables);

// The same sum with the program's own model quantities, to check the peeling
// alone: priors GenotypeFrequency x PolygenicFrequency, transmissions
// MajorTransmission x PolygenicTransmission, densities TraitDensity (so the
// correction pass of `model` is honoured). Sums over the members listed in
// family f's nuclear families, with `include_unlisted` also the others; a
// member that is a child in some list has that list's parents, everyone else
// is a founder.
long double BruteForceLikelihood(const LikelihoodModel& model, std::int32_t f,
                                 bool include_unlisted);

}  // namespace segmix::test

#endif  // SEGMIX_TESTS_SUPPORT_BRUTE_FORCE_LIKELIHOOD_H_
