// The inner loops of the peeling: the transmission tables' nonzero pattern
// for one evaluation and the two peels of one nuclear family, onto a parent
// and onto a child. PeelFamily drives them; the model tests compare them bit
// for bit with straightforward loops.
//
// Every value they store is the one the straightforward loops store: each
// extended product keeps its operands and their order, each sum its order.
// The speed comes from forming shared factors once and from running several
// independent sums side by side (see peel_kernels.cpp). A screening
// evaluation peels in double arithmetic instead (screening_peel.h).
#ifndef SEGMIX_MODEL_PEEL_KERNELS_H_
#define SEGMIX_MODEL_PEEL_KERNELS_H_

#include <cstdint>
#include <span>

#include "model/extended.h"
#include "model/family_likelihood.h"
#include "model/trait_density.h"

namespace segmix {

// The nonzero pattern of the two transmission tables for one evaluation.
// major[g1][g2] lists the child genotypes o with M(o | g1, g2) != 0 (the
// connector's genotype in the first slot). poly_lo/poly_hi[j1][j2] bound the
// child polygenic genotypes with T(jc | j1, j2) != 0: the table is zero
// outside a contiguous range, and a zero inside it is harmless.
// second_lo/second_hi[jc][j1] bound the second parent's genotypes j2 with
// T(jc | j1, j2) != 0. `symmetric`: both tables are the same bits with the
// parents swapped, so a child's sum given (a, b) equals its sum given (b, a).
// `finite`: no entry of either table is infinite or NaN. ones[sA][sB]: the
// sum of a child whose 21 weights are all exactly 1 (a density of 1 and
// nothing peeled onto it: a missing trait value, or a non-proband in the
// correction pass) given the parent states sA (first slot) and sB, formed as
// every child's sum is, term for term; such a child's sum is that value
// whatever its family, so it is formed once per evaluation.
// prior: the weights of a member with density 1 who is no child (a
// non-proband parent in a correction pass, a parent whose trait value is
// missing), GenotypeFrequency(g) x PolygenicFrequency(j). ones_factor[n][sL]:
// the factor onto a parent of n children of all-1 weights when the other
// parent's weights are `prior` (the same for every such nuclear family).
struct Transmission {
  static constexpr std::int32_t G = kMajorGenotypes;
  static constexpr std::int32_t J = kPolygenicGenotypes;
  const double* M = nullptr;  // M(o | g1, g2) at (o-1) + 3(g1-1) + 9(g2-1)
  const double* T = nullptr;  // T(jc | j1, j2) at (jc-1) + 7(j1-1) + 49(j2-1)
  bool symmetric = false;
  bool finite = false;
  // M is the Mendelian table, bit for bit, and both tables are symmetric and
  // finite: a child's sums follow from three chains per polygenic pair.
  bool mendelian = false;
  // A screening evaluation (SampleSettings::screening) with finite tables:
  // PeelFamily peels in double arithmetic (screening_peel.h), exactly only
  // where that fails. DescribeTransmission leaves it false; only
  // SampleLikelihood sets it, after the tables are formed.
  bool screening = false;
  std::int32_t major_count[G + 1][G + 1] = {};
  std::int32_t major[G + 1][G + 1][G] = {};
  std::int32_t poly_lo[J + 1][J + 1] = {};
  std::int32_t poly_hi[J + 1][J + 1] = {};
  std::int32_t second_lo[J + 1][J + 1] = {};
  std::int32_t second_hi[J + 1][J + 1] = {};
  Extended ones[kJointGenotypes][kJointGenotypes] = {};
  static constexpr std::int32_t kMostOnesChildren = 16;
  std::int32_t ones_children = 0;  // the tables below are formed for n <= it
  double prior[kJointGenotypes] = {};
  Extended ones_factor[kMostOnesChildren + 1][kJointGenotypes] = {};
  // peeled[n], n >= 1: the weights of a child of all-1 weights once the
  // nuclear family below it (a spouse of prior weights, n children of all-1
  // weights) is peeled onto it and rescaled as PeelFamily rescales a
  // connector: a branch without probands in a correction pass. Not numbers
  // where that rescaling fails, for n = 0 and beyond ones_children.
  // peeled_sums[n]: such a child's sums given each parent pair, as `ones`.
  double peeled[kMostOnesChildren + 1][kJointGenotypes] = {};
  Extended peeled_sums[kMostOnesChildren + 1][kJointGenotypes]
                      [kJointGenotypes] = {};
  // onto_child[n], n <= onto_child_count: the weights of a connector child of
  // all-1 weights once PeelOntoChild has peeled onto it its parents of prior
  // weights and n siblings of all-1 weights (not yet rescaled): a correction
  // pass above the probands. -1: none formed.
  std::int32_t onto_child_count = -1;
  double onto_child[kMostOnesChildren + 1][kJointGenotypes] = {};
  // A screening evaluation's tables in the screening peel's order, formed by
  // DescribeScreening: major_by_pair[o - 1][3 (gA - 1) + (gB - 1)] is
  // M(o | gA, gB); known_sums[n][jA - 1][jB - 1][3 (gA - 1) + (gB - 1)] is
  // `ones` (n = 0) or peeled_sums[n] (n = 1..ones_children) rounded to
  // double.
  double major_by_pair[G][G * G] = {};
  double known_sums[kMostOnesChildren + 1][J][J][G * G] = {};

  double Major(std::int32_t o, std::int32_t g1, std::int32_t g2) const {
    return M[(o - 1) + 3 * (g1 - 1) + 9 * (g2 - 1)];
  }
  double Poly(std::int32_t jc, std::int32_t j1, std::int32_t j2) const {
    return T[(jc - 1) + 7 * (j1 - 1) + 49 * (j2 - 1)];
  }
};

// The scale sum of a connector's 21 weights (added in state order), and the
// rescaling by it: each weight becomes w x (1 / S) rounded to double; returns
// the sum of the rescaled weights. PeelFamily's arithmetic, shared with the
// tables above. Precondition of RescaleConnector: S is finite and not 0.
Extended ConnectorScaleSum(const double* connector);
Extended RescaleConnector(double* connector, Extended S);

// Fills `t` from the model's two tables and priors. It depends on nothing else,
// so one description serves every family of an evaluation (LikelihoodModel's
// `transmission`). The tables indexed by a number of children are formed up
// to most_children (at most kMostOnesChildren): a caller that knows its
// sample's largest nuclear family spares the rest. onto_child is formed up
// to most_siblings_onto_child (and most_children), none when it is
// negative: the most siblings of a connector child in the caller's sample.
void DescribeTransmission(
    const LikelihoodModel& model, Transmission& t,
    std::int32_t most_children = Transmission::kMostOnesChildren,
    std::int32_t most_siblings_onto_child = -1);

// The evaluation's tables for children of known weights, for the peels and
// screening_peel.h. KnownChildSums: 0 when a child of weights w takes its
// sums from `ones` (all 1), n >= 1 when from peeled_sums[n] (the weights
// peeled[n]), -1 when neither. KnownParentFactor: a nuclear family peeled
// onto a parent whose other parent O has `prior` weights and whose children
// (at least one, at most ones_children) all have all-1 weights, so that the
// connector's factor is ones_factor[children.size()]. KnownChildWeights: a
// nuclear family peeled onto its first child L whose parents have `prior`
// weights and whose children (L and at most onto_child_count others) all
// have all-1 weights, so that L's weights become onto_child[others.size()].
std::int32_t KnownChildSums(const Transmission& t, const double* w);
bool KnownParentFactor(const Transmission& t, const GenotypeWeights& weights,
                       std::int32_t O, std::span<const std::int32_t> children);
bool KnownChildWeights(const Transmission& t, const GenotypeWeights& weights,
                       std::int32_t p1, std::int32_t p2, std::int32_t L,
                       std::span<const std::int32_t> others);

// Connector L is a parent, O the other one: for every joint state (gL, jL)
// W(L) *= sum over (gO, jO) of W(O) x prod over children x (in list order)
// of sum over (gc, jc) of M(gc | gL, gO) x T(jc | jL, jO) x W(x, gc, jc).
// Precondition: every weight of L, O and the children is finite.
void PeelOntoParent(const Transmission& t, GenotypeWeights& weights,
                    std::int32_t L, std::int32_t O,
                    std::span<const std::int32_t> children);

// Connector L is the first child of parents p1, p2: for every (gL, jL)
// W(L) *= sum over (g1, j1, g2, j2) of W(p1) x W(p2) x M(gL | g1, g2) x
// T(jL | j1, j2) x prod over the other children of their sums given the
// parents' states.
// Precondition: every weight of p1, p2, L and the others is finite.
void PeelOntoChild(const Transmission& t, GenotypeWeights& weights,
                   std::int32_t p1, std::int32_t p2, std::int32_t L,
                   std::span<const std::int32_t> others);

// P[sA][sB], sA = State(gA, jA), sB = State(gB, jB) (g-major, 0..20): the
// product, in child order, of each child's sum over (gc, jc) of
// M(gc | gA, gB) x T(jc | jA, jB) x W(child, gc, jc). The values both peels
// use, for the tests. Precondition: at least one child; finite weights.
void ChildSumProducts(const Transmission& t, const GenotypeWeights& weights,
                      std::span<const std::int32_t> children,
                      Extended (&P)[kJointGenotypes][kJointGenotypes]);

}  // namespace segmix

#endif  // SEGMIX_MODEL_PEEL_KERNELS_H_
