// The peeling's inner loops, arranged for the x87 unit that forms the
// extended products and sums: one dependent chain of additions is bound by
// the latency of an addition, several independent chains overlap. So the
// loops run several sums side by side, each in exactly the order of the
// straightforward loop (g outermost, then j, children in list order), and
// form a factor shared by those sums once:
//   - the children of a nuclear family are summed in lockstep: for a pair of
//     parent states each term's M x T is formed once and multiplied by each
//     child's weight into that child's own sum; with one or two children,
//     two to four parent pairs that differ in the other parent's polygenic
//     genotype run side by side over the union of their ranges;
//   - with symmetric tables a child's sum given (a, b) is the same value as
//     given (b, a) (the same terms in the same order), so the products of the
//     children's sums are formed for one triangle of parent pairs;
//   - children whose weights are the same bits share one sum;
//   - a child whose weights are all 1 (a missing trait value, or a
//     non-proband in a correction pass), or are those a branch without
//     probands leaves (a correction pass again), takes its sums from tables
//     formed once per evaluation (Transmission::ones, peeled_sums); such
//     children under a parent of prior weights give the connector a factor
//     formed once per evaluation as well (ones_factor), and a connector
//     child of such weights under two such parents its weights (onto_child);
//   - onto a child, up to four of its polygenic genotypes run side by side,
//     sharing W(p1) x W(p2) x M;
//   - under Mendelian transmission a child's sums for all 231 parent pairs
//     of the triangle come from seven chains per polygenic pair, since each
//     term is a power of two times T x W (ChainChildSums).
// Terms outside a sum's own range have T = 0: with finite weights and
// factors such a term is +0 or -0, and adding it to a sum that started at +0
// changes no bit (the sum never becomes -0). That is why the callers
// guarantee finite weights and the fast loops demand finite tables and
// sibling products; otherwise the straightforward loop runs.
//
// No function is called inside a pair loop: a call forces every live long
// double through memory. Nothing is allocated; scratch lives on the stack.
#include "model/peel_kernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>

#include "model/extended.h"
#include "model/model_quantities.h"

namespace segmix {

namespace {

constexpr std::int32_t G = kMajorGenotypes;
constexpr std::int32_t J = kPolygenicGenotypes;
constexpr std::int32_t kStates = kJointGenotypes;

using PairTable = Extended[kStates][kStates];

// A child whose sums are in the evaluation's tables: all-1 weights take
// Transmission::ones, the weights peeled[n] take peeled_sums[n] (kPeeled + n).
constexpr std::uint8_t kOnes = 0xFF;
constexpr std::uint8_t kPeeled = 0x80;

const PairTable& KnownSums(const Transmission& t, std::uint8_t known) {
  return known == kOnes ? t.ones : t.peeled_sums[known - kPeeled];
}

// Which sum each child of a nuclear family takes, in child order, when
// children with the same weights share one sum (kRepeat).
struct Repeats {
  // Per child: its sum 0..NC-1, or a table of the evaluation (KnownSums).
  const std::uint8_t* sum_of = nullptr;
  std::size_t children = 0;
};

// Parent pairs (gA, jA, gB, jB0 + k), k < NP, and NC children side by side:
// product[k] *= each child's sum over (gc, jc) of M(gc | gA, gB) x
// T(jc | jA, jB0 + k) x W(child, gc, jc), children in order. With kRepeat
// the NC sums are those of distinct weights, multiplied in as `r` says.
template <int NP, int NC, bool kRepeat>
[[gnu::always_inline]] inline void SumBlock(const Transmission& t,
                                            const double* const* child,
                                            const Repeats& r, std::int32_t gA,
                                            std::int32_t jA, std::int32_t gB,
                                            std::int32_t jB0, bool first,
                                            Extended* product) {
  std::int32_t lo = t.poly_lo[jA][jB0], hi = t.poly_hi[jA][jB0];
  for (int k = 1; k < NP; ++k) {
    lo = std::min(lo, t.poly_lo[jA][jB0 + k]);
    hi = std::max(hi, t.poly_hi[jA][jB0 + k]);
  }
  Extended acc[NP][NC];
  for (int k = 0; k < NP; ++k) {
    for (int c = 0; c < NC; ++c) acc[k][c] = 0;
  }
  // T(jc | jA, jB0 + k) at poly[(jc - 1) + 49 k].
  const double* poly = t.T + 7 * (jA - 1) + 49 * (jB0 - 1);
  const std::int32_t count = t.major_count[gA][gB];
  for (std::int32_t n = 0; n < count; ++n) {
    const std::int32_t gc = t.major[gA][gB][n];
    const Extended m = t.Major(gc, gA, gB);
    for (std::int32_t jc = lo; jc <= hi; ++jc) {
      const std::int32_t s = JointState(gc, jc);
      for (int k = 0; k < NP; ++k) {
        const Extended mt = m * poly[(jc - 1) + 49 * k];
        for (int c = 0; c < NC; ++c) acc[k][c] += mt * child[c][s];
      }
    }
  }
  // The first block starts the product: 1 x a is a, so it is stored
  // without the 1 (an 80-bit load and store cost more than the arithmetic).
  for (int k = 0; k < NP; ++k) {
    if constexpr (kRepeat) {
      Extended sums[NC];  // indexed at run time: kept apart from acc
      for (int c = 0; c < NC; ++c) sums[c] = acc[k][c];
      const std::int32_t sA = JointState(gA, jA), sB = JointState(gB, jB0 + k);
      const auto sum = [&](std::uint8_t d) {
        return d < NC ? sums[d] : KnownSums(t, d)[sA][sB];
      };
      Extended p = sum(r.sum_of[0]);
      for (std::size_t x = 1; x < r.children; ++x) p *= sum(r.sum_of[x]);
      product[k] = p;
    } else {
      Extended p = first ? acc[k][0] : product[k] * acc[k][0];
      for (int c = 1; c < NC; ++c) p *= acc[k][c];
      product[k] = p;
    }
  }
}

// The most children summed side by side: five sums, M x T and the product
// being formed fill the eight x87 registers.
constexpr std::size_t kMostChildren = 5;

// One block of NC children over every parent pair that is formed: NP pairs
// (gA, jA, gB, jB..jB + NP - 1) side by side, fewer at the end of a row.
template <int NP, int NC, bool kRepeat>
void BlockProducts(const Transmission& t, const double* const* child,
                   bool first, PairTable& P, const Repeats& r) {
  for (std::int32_t gA = 1; gA <= G; ++gA) {
    for (std::int32_t jA = 1; jA <= J; ++jA) {
      Extended* row = P[JointState(gA, jA)];
      for (std::int32_t gB = t.symmetric ? gA : 1; gB <= G; ++gB) {
        std::int32_t jB = (t.symmetric && gB == gA) ? jA : 1;
        for (; jB + NP - 1 <= J; jB += NP) {
          SumBlock<NP, NC, kRepeat>(t, child, r, gA, jA, gB, jB, first,
                                    &row[JointState(gB, jB)]);
        }
        // The last J + 1 - jB < NP pairs of the row.
        Extended* rest = &row[JointState(gB, jB)];
        switch (J + 1 - jB) {
          case 1:
            if constexpr (NP > 1)
              SumBlock<1, NC, kRepeat>(t, child, r, gA, jA, gB, jB, first,
                                       rest);
            break;
          case 2:
            if constexpr (NP > 2)
              SumBlock<2, NC, kRepeat>(t, child, r, gA, jA, gB, jB, first,
                                       rest);
            break;
          case 3:
            if constexpr (NP > 3)
              SumBlock<3, NC, kRepeat>(t, child, r, gA, jA, gB, jB, first,
                                       rest);
            break;
          case 4:
            if constexpr (NP > 4)
              SumBlock<4, NC, kRepeat>(t, child, r, gA, jA, gB, jB, first,
                                       rest);
            break;
          case 5:
            if constexpr (NP > 5)
              SumBlock<5, NC, kRepeat>(t, child, r, gA, jA, gB, jB, first,
                                       rest);
            break;
          default:
            break;
        }
      }
    }
  }
}

// One block of nc children (or nc distinct weights with kRepeat), with the
// pairs side by side that the block's size allows. Pairs side by side pad
// their sums with terms whose T is 0, exact only with finite tables.
template <bool kRepeat>
void Block(const Transmission& t, const double* const* child, std::size_t nc,
           bool first, PairTable& P, const Repeats& r) {
  // One child: four pairs side by side; two: two pairs. More pairs or more
  // sums than that do not fit the registers (measured: slower).
  if (t.finite && nc == 1) {
    BlockProducts<4, 1, kRepeat>(t, child, first, P, r);
    return;
  }
  if (t.finite && nc == 2) {
    BlockProducts<2, 2, kRepeat>(t, child, first, P, r);
    return;
  }
  switch (nc) {
    case 1:
      BlockProducts<1, 1, kRepeat>(t, child, first, P, r);
      break;
    case 2:
      BlockProducts<1, 2, kRepeat>(t, child, first, P, r);
      break;
    case 3:
      BlockProducts<1, 3, kRepeat>(t, child, first, P, r);
      break;
    case 4:
      BlockProducts<1, 4, kRepeat>(t, child, first, P, r);
      break;
    default:
      BlockProducts<1, 5, kRepeat>(t, child, first, P, r);
      break;
  }
}

// Most children whose repeated weights are looked for.
constexpr std::size_t kMostRepeating = 64;

// Weights that are all 1: the sum is the evaluation's Transmission::ones.
constexpr double kAllOnes[kStates] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                                      1, 1, 1, 1, 1, 1, 1, 1, 1, 1};

bool AllOnes(const double* w) {
  return std::memcmp(w, kAllOnes, sizeof kAllOnes) == 0;
}

// Copies the upper triangle of P (sA <= sB) to the lower one: with
// symmetric tables the same terms in the same order.
void MirrorUpperTriangle(PairTable& P) {
  for (std::int32_t a = 0; a < kStates; ++a) {
    for (std::int32_t b = 0; b < a; ++b) P[a][b] = P[b][a];
  }
}

// kOnes or kPeeled + n when the evaluation's tables hold the sums of a child
// of weights w, otherwise 0.
std::uint8_t KnownWeights(const Transmission& t, const double* w) {
  const std::int32_t n = KnownChildSums(t, w);
  if (n < 0) return 0;
  return n == 0 ? kOnes : static_cast<std::uint8_t>(kPeeled + n);
}

// Children whose 21 weights are the same bits have the same sum for every
// parent pair (the same operations on the same operands), so that sum is
// formed once; a child whose sums are in the evaluation's tables (all-1
// weights: a missing trait value, or a non-proband in a correction pass; a
// branch without probands peeled onto such a child) takes them from there.
// Fills sum_of and child[] with at most kMostChildren distinct weights
// besides those (none when every child's sums are in the tables); false when
// there are more, or nothing repeats.
bool FindRepeats(const Transmission& t, const GenotypeWeights& weights,
                 std::span<const std::int32_t> children, const double** child,
                 std::uint8_t* sum_of, std::size_t& distinct) {
  if (children.size() > kMostRepeating) return false;
  distinct = 0;
  for (std::size_t x = 0; x < children.size(); ++x) {
    const double* w = weights.Member(children[x]);
    if (const std::uint8_t known = KnownWeights(t, w); known != 0) {
      sum_of[x] = known;
      continue;
    }
    std::size_t d = 0;
    while (d < distinct &&
           std::memcmp(child[d], w, sizeof(double) * kStates) != 0) {
      ++d;
    }
    if (d == distinct) {
      if (distinct == kMostChildren) return false;
      child[distinct++] = w;
    }
    sum_of[x] = static_cast<std::uint8_t>(d);
  }
  return distinct < children.size();
}

// Children whose sums are all in the evaluation's tables: P[sA][sB] is the
// product of the tables' values, in child order.
void KnownProducts(const Transmission& t, const std::uint8_t* sum_of,
                   std::size_t n, PairTable& P) {
  const PairTable* sums[kMostRepeating];
  for (std::size_t x = 0; x < n; ++x) sums[x] = &KnownSums(t, sum_of[x]);
  for (std::int32_t sA = 0; sA < kStates; ++sA) {
    for (std::int32_t sB = t.symmetric ? sA : 0; sB < kStates; ++sB) {
      Extended p = (*sums[0])[sA][sB];
      for (std::size_t x = 1; x < n; ++x) p *= (*sums[x])[sA][sB];
      P[sA][sB] = p;
    }
  }
}

// Children whose sums are in the evaluation's tables and whose products are
// not yet formed: a run of them, in child order, multiplied into P together
// with the next child's sums (one pass over P instead of one per child).
struct KnownRun {
  static constexpr std::size_t kMost = 16;
  const PairTable* sums[kMost] = {};
  std::size_t count = 0;
};

// P[sA][sB] for the product so far (`first`: none yet) times the run's
// tables, in order. With `first` and an empty run: nothing (callers store).
[[gnu::always_inline]] inline Extended RunProduct(bool first,
                                                  const KnownRun& run,
                                                  const PairTable& P,
                                                  std::int32_t sA,
                                                  std::int32_t sB) {
  std::size_t i = 0;
  Extended p = first ? (*run.sums[i++])[sA][sB] : P[sA][sB];
  for (; i < run.count; ++i) p *= (*run.sums[i])[sA][sB];
  return p;
}

// The run multiplied into P's upper triangle on its own, and emptied.
void FlushRun(bool first, KnownRun& run, PairTable& P) {
  if (run.count == 0) return;
  for (std::int32_t sA = 0; sA < kStates; ++sA) {
    for (std::int32_t sB = sA; sB < kStates; ++sB) {
      P[sA][sB] = RunProduct(first, run, P, sA, sB);
    }
  }
  run.count = 0;
}

// Under Mendelian transmission every nonzero M is 1, 1/2 or 1/4, so each
// term of a child's sum, (M x T) x W, is a power of two times the extended
// product T x W: multiplying by a power of two is exact in binary (the
// values here are far from the extended range's ends), and it commutes with
// every rounding of the sum. For a polygenic pair (jA, jB) and the three
// chains over jc
//   R_g = sum of T(jc | jA, jB) x W(g, jc), g = 1, 2, 3,
// the sums of the six major pairs are, term for term and bit for bit,
//   (1, 1): R_1      (1, 3): R_2      (3, 3): R_3
//   (1, 2): 1/2 x (R_1, continued by the terms T x W(2, jc))
//   (2, 3): 1/2 x (R_2, continued by the terms T x W(3, jc))
//   (2, 2): 1/4 x (R_1, continued by 2 x T x W(2, jc), then T x W(3, jc))
// (M(. | 2, 2) is 1/4, 1/2, 1/4: the second terms are 1/4 x 2 T W). So a
// child needs seven chains per pair (jA, jB) instead of 385 terms per jc
// over the triangle, and with symmetric tables (jA, jB) and (jB, jA) give
// the same chains. Each pair of the upper triangle receives the product so
// far (`first`: none) times the run's tables times the child's sum, in
// child order; the run is emptied.
//
template <bool kFirst, bool kRun>
void ChainChildSums(const Transmission& t, const double* w, KnownRun& run,
                    PairTable& P) {
  const double* w1 = w;
  const double* w2 = w + J;
  const double* w3 = w + 2 * J;
  const auto put = [&P, &run](std::int32_t sA, std::int32_t sB, Extended v) {
    if constexpr (kRun) {
      P[sA][sB] = RunProduct(kFirst, run, P, sA, sB) * v;
    } else if constexpr (kFirst) {
      P[sA][sB] = v;
    } else {
      P[sA][sB] *= v;
    }
  };
  for (std::int32_t jA = 1; jA <= J; ++jA) {
    for (std::int32_t jB = jA; jB <= J; ++jB) {
      const std::int32_t lo = t.poly_lo[jA][jB] - 1;
      const std::int32_t hi = t.poly_hi[jA][jB] - 1;
      // T(jc | jA, jB) at poly[jc - 1].
      const double* poly = t.T + 7 * (jA - 1) + 49 * (jB - 1);
      Extended r1 = 0, r2 = 0, r3 = 0;
      for (std::int32_t c = lo; c <= hi; ++c) {
        const Extended p = poly[c];
        r1 += p * w1[c];
        r2 += p * w2[c];
        r3 += p * w3[c];
      }
      Extended c12 = r1, c22 = r1, c23 = r2;
      for (std::int32_t c = lo; c <= hi; ++c) {
        const Extended p = poly[c];
        const Extended x2 = p * w2[c];
        c12 += x2;
        c22 += 2 * x2;
        c23 += p * w3[c];
      }
      for (std::int32_t c = lo; c <= hi; ++c) {
        c22 += static_cast<Extended>(poly[c]) * w3[c];
      }
      const Extended s12 = c12 * Extended{0.5};
      const Extended s22 = c22 * Extended{0.25};
      const Extended s23 = c23 * Extended{0.5};
      const std::int32_t a1 = JointState(1, jA), b1 = JointState(1, jB);
      const std::int32_t a2 = JointState(2, jA), b2 = JointState(2, jB);
      const std::int32_t a3 = JointState(3, jA), b3 = JointState(3, jB);
      put(a1, b1, r1);
      put(a2, b2, s22);
      put(a3, b3, r3);
      put(a1, b2, s12);
      put(a1, b3, r2);
      put(a2, b3, s23);
      if (jA != jB) {
        put(b1, a2, s12);
        put(b1, a3, r2);
        put(b2, a3, s23);
      }
    }
  }
  run.count = 0;
}

// With Mendelian tables (symmetric and finite): every child in order, its
// sums from the evaluation's tables or from ChainChildSums (children of the
// same weights form the same sums again), multiplied into P's upper triangle.
// Tables of consecutive children wait in a run for the next child's pass, or
// for one pass of their own.
void ChainedPairProducts(const Transmission& t, const GenotypeWeights& weights,
                         std::span<const std::int32_t> children, PairTable& P) {
  bool first = true;
  KnownRun run;
  for (const std::int32_t x : children) {
    const double* w = weights.Member(x);
    if (const std::uint8_t known = KnownWeights(t, w); known != 0) {
      if (run.count == KnownRun::kMost) {
        FlushRun(first, run, P);
        first = false;
      }
      run.sums[run.count++] = &KnownSums(t, known);
      continue;
    }
    if (run.count == 0) {
      if (first) {
        ChainChildSums<true, false>(t, w, run, P);
      } else {
        ChainChildSums<false, false>(t, w, run, P);
      }
    } else if (first) {
      ChainChildSums<true, true>(t, w, run, P);
    } else {
      ChainChildSums<false, true>(t, w, run, P);
    }
    first = false;
  }
  FlushRun(first, run, P);
}

// P[sA][sB]: the product over `children` (at least one) of their sums given
// the parent states sA (first slot) and sB. The children go in blocks of
// nearly equal size, at most kMostChildren (six as 3 + 3, not 5 + 1), each
// block multiplying its sums into P in child order. With symmetric tables
// only sA <= sB is formed, and with `mirror` copied to sA > sB: the same
// terms in the same order.
void PairProductTable(const Transmission& t, const GenotypeWeights& weights,
                      std::span<const std::int32_t> children, bool mirror,
                      PairTable& P) {
  const std::size_t n = children.size();
  const double* child[kMostChildren];
  std::uint8_t sum_of[kMostRepeating];
  std::size_t distinct = 0;
  if (t.mendelian) {
    ChainedPairProducts(t, weights, children, P);
  } else if (FindRepeats(t, weights, children, child, sum_of, distinct)) {
    if (distinct == 0) {
      KnownProducts(t, sum_of, n, P);
    } else {
      Block<true>(t, child, distinct, true, P, Repeats{sum_of, n});
    }
  } else {
    const std::size_t blocks = (n + kMostChildren - 1) / kMostChildren;
    const std::size_t per_block =
        blocks == 0 ? kMostChildren : (n + blocks - 1) / blocks;
    for (std::size_t b = 0; b < n; b += per_block) {
      const std::size_t nc = std::min(per_block, n - b);
      for (std::size_t c = 0; c < nc; ++c) {
        child[c] = weights.Member(children[b + c]);
      }
      Block<false>(t, child, nc, b == 0, P, Repeats{});
    }
  }
  if (t.symmetric && mirror) MirrorUpperTriangle(P);
}

// Onto a child, the straightforward loop: for a non-finite sibling product
// or table entry, where the side-by-side sums could turn a left-out 0 term
// into NaN.
void PeelOntoChildInOrder(const Transmission& t, double* connector,
                          const double* first, const double* second,
                          const PairTable* siblings) {
  for (std::int32_t gL = 1; gL <= G; ++gL) {
    for (std::int32_t jL = 1; jL <= J; ++jL) {
      Extended factor = 0;
      for (std::int32_t g1 = 1; g1 <= G; ++g1) {
        for (std::int32_t j1 = 1; j1 <= J; ++j1) {
          const std::int32_t lo = t.second_lo[jL][j1];
          const std::int32_t hi = t.second_hi[jL][j1];
          for (std::int32_t g2 = 1; g2 <= G; ++g2) {
            const double m = t.Major(gL, g1, g2);
            if (m == 0) continue;
            for (std::int32_t j2 = lo; j2 <= hi; ++j2) {
              const Extended parents =
                  static_cast<Extended>(first[JointState(g1, j1)]) *
                  second[JointState(g2, j2)];
              Extended term = parents * m * t.Poly(jL, j1, j2);
              if (siblings != nullptr) {
                term *= (*siblings)[JointState(g1, j1)][JointState(g2, j2)];
              }
              factor += term;
            }
          }
        }
      }
      double& w = connector[JointState(gL, jL)];
      w = static_cast<double>(w * factor);
    }
  }
}

// Onto a child, NB of its polygenic genotypes jL0.. side by side for its
// major genotype gL; W(p1) x W(p2) x M is formed once for them.
template <int NB, bool kSiblings>
[[gnu::always_inline]] inline void ChildStates(
    const Transmission& t, double* connector, const double* first,
    const double* second, const PairTable& siblings, std::int32_t gL,
    std::int32_t jL0) {
  Extended factor[NB];
  for (int k = 0; k < NB; ++k) factor[k] = 0;
  for (std::int32_t g1 = 1; g1 <= G; ++g1) {
    for (std::int32_t j1 = 1; j1 <= J; ++j1) {
      const std::int32_t s1 = JointState(g1, j1);
      std::int32_t lo = t.second_lo[jL0][j1], hi = t.second_hi[jL0][j1];
      for (int k = 1; k < NB; ++k) {
        lo = std::min(lo, t.second_lo[jL0 + k][j1]);
        hi = std::max(hi, t.second_hi[jL0 + k][j1]);
      }
      // T(jL0 + k | j1, j2) at poly[k + 49 (j2 - 1)].
      const double* poly = t.T + (jL0 - 1) + 7 * (j1 - 1);
      const Extended w1 = first[s1];
      for (std::int32_t g2 = 1; g2 <= G; ++g2) {
        const double m = t.Major(gL, g1, g2);
        if (m == 0) continue;
        for (std::int32_t j2 = lo; j2 <= hi; ++j2) {
          const std::int32_t s2 = JointState(g2, j2);
          const Extended pm = w1 * second[s2] * m;
          for (int k = 0; k < NB; ++k) {
            Extended term = pm * poly[k + 49 * (j2 - 1)];
            if constexpr (kSiblings) term *= siblings[s1][s2];
            factor[k] += term;
          }
        }
      }
    }
  }
  for (int k = 0; k < NB; ++k) {
    double& w = connector[JointState(gL, jL0 + k)];
    w = static_cast<double>(w * factor[k]);
  }
}

template <bool kSiblings>
void PeelOntoChildSideBySide(const Transmission& t, double* connector,
                             const double* first, const double* second,
                             const PairTable& siblings) {
  for (std::int32_t gL = 1; gL <= G; ++gL) {
    ChildStates<4, kSiblings>(t, connector, first, second, siblings, gL, 1);
    ChildStates<3, kSiblings>(t, connector, first, second, siblings, gL, 5);
  }
}

// Onto a child: W(connector) *= its factor given the parents' weights and
// the siblings' products (null: no siblings), by the side-by-side loops
// when the tables and the products are finite, else in order.
void PeelOntoChildWeights(const Transmission& t, double* connector,
                          const double* first, const double* second,
                          const PairTable* siblings) {
  bool finite = t.finite;
  if (siblings != nullptr) {
    for (const auto& row : *siblings) {
      for (const Extended s : row) finite &= std::isfinite(s);
    }
  }
  if (!finite) {
    PeelOntoChildInOrder(t, connector, first, second, siblings);
  } else if (siblings == nullptr) {
    PairTable unused;
    PeelOntoChildSideBySide<false>(t, connector, first, second, unused);
  } else {
    PeelOntoChildSideBySide<true>(t, connector, first, second, *siblings);
  }
}

}  // namespace

void DescribeTransmission(const LikelihoodModel& model, Transmission& t,
                          std::int32_t most_children,
                          std::int32_t most_siblings_onto_child) {
  t.ones_children =
      std::clamp(most_children, 0, Transmission::kMostOnesChildren);
  // Unset while the tables are formed: PeelOntoChild must not read them.
  t.onto_child_count = -1;
  t.M = model.quantities.MajorTransmission.data();
  t.T = model.polygenic.PolygenicTransmission.data();
  t.symmetric = true;
  t.finite = true;
  t.mendelian = false;
  t.screening = false;
  for (std::int32_t i = 0; i < G * G * G; ++i)
    t.finite &= std::isfinite(t.M[i]);
  for (std::int32_t i = 0; i < J * J * J; ++i)
    t.finite &= std::isfinite(t.T[i]);
  for (std::int32_t g1 = 1; g1 <= G; ++g1) {
    for (std::int32_t g2 = 1; g2 <= G; ++g2) {
      std::int32_t count = 0;
      for (std::int32_t o = 1; o <= G; ++o) {
        if (t.Major(o, g1, g2) != 0) t.major[g1][g2][count++] = o;
        // Bit for bit: +0 and -0 differ in a product's sign.
        if (std::signbit(t.Major(o, g1, g2)) !=
                std::signbit(t.Major(o, g2, g1)) ||
            !(t.Major(o, g1, g2) == t.Major(o, g2, g1))) {
          t.symmetric = false;
        }
      }
      t.major_count[g1][g2] = count;
    }
  }
  for (std::int32_t a = 1; a <= J; ++a) {
    for (std::int32_t b = 1; b <= J; ++b) {
      // Child range of parents (a, b), and second-parent range of
      // (child a, first parent b). Empty ranges stay lo > hi.
      std::int32_t lo = J + 1, hi = 0, lo2 = J + 1, hi2 = 0;
      for (std::int32_t x = 1; x <= J; ++x) {
        if (t.Poly(x, a, b) != 0) {
          if (lo > J) lo = x;
          hi = x;
        }
        if (t.Poly(a, b, x) != 0) {
          if (lo2 > J) lo2 = x;
          hi2 = x;
        }
        if (std::signbit(t.Poly(x, a, b)) != std::signbit(t.Poly(x, b, a)) ||
            !(t.Poly(x, a, b) == t.Poly(x, b, a))) {
          t.symmetric = false;
        }
      }
      t.poly_lo[a][b] = lo;
      t.poly_hi[a][b] = hi;
      t.second_lo[a][b] = lo2;
      t.second_hi[a][b] = hi2;
    }
  }
  // Bit for bit the Mendelian table (+0 and -0 told apart), symmetric and
  // finite: the conditions of ChainChildSums' Mendelian sums.
  t.mendelian = t.symmetric && t.finite &&
                std::memcmp(t.M, kMendelianTransmission.data(),
                            sizeof(double) * G * G * G) == 0;
  // The sum of a child whose weights are all 1, term for term as any
  // child's: (M x T) x 1 is M x T, so the weight's factor is left out.
  for (std::int32_t gA = 1; gA <= G; ++gA) {
    for (std::int32_t jA = 1; jA <= J; ++jA) {
      for (std::int32_t gB = 1; gB <= G; ++gB) {
        for (std::int32_t jB = 1; jB <= J; ++jB) {
          Extended sum = 0;
          for (std::int32_t n = 0; n < t.major_count[gA][gB]; ++n) {
            const std::int32_t gc = t.major[gA][gB][n];
            const Extended m = t.Major(gc, gA, gB);
            for (std::int32_t jc = t.poly_lo[jA][jB]; jc <= t.poly_hi[jA][jB];
                 ++jc) {
              sum += m * t.Poly(jc, jA, jB);
            }
          }
          t.ones[JointState(gA, jA)][JointState(gB, jB)] = sum;
        }
      }
    }
  }
  // The other parent's prior weights, as PrepareGenotypeWeights forms them
  // for a density of 1, and the connector's factor for n children of all-1
  // weights: the sum over sO of prior(sO) x ones(sL, sO) to the nth power,
  // the power formed as the product of the children's sums in child order.
  for (std::int32_t g = 1; g <= G; ++g) {
    for (std::int32_t j = 1; j <= J; ++j) {
      t.prior[JointState(g, j)] = static_cast<double>(
          Extended{1} * model.quantities.GenotypeFrequency[g] *
          model.polygenic.PolygenicFrequency[j]);
    }
  }
  PairTable power;
  for (std::int32_t sL = 0; sL < kStates; ++sL) {
    for (std::int32_t sO = 0; sO < kStates; ++sO) power[sL][sO] = 1;
  }
  // The powers are also the siblings' products of n children of all-1
  // weights, as PairProductTable forms them (the tables' values multiplied
  // in child order): the connector child of all-1 weights under parents of
  // prior weights with n such siblings, through the loops PeelOntoChild
  // runs.
  const std::int32_t onto_count =
      std::clamp(most_siblings_onto_child, -1, t.ones_children);
  if (onto_count >= 0) {
    std::copy(std::begin(kAllOnes), std::end(kAllOnes), t.onto_child[0]);
    PeelOntoChildWeights(t, t.onto_child[0], t.prior, t.prior, nullptr);
  }
  for (std::int32_t n = 1; n <= t.ones_children; ++n) {
    for (std::int32_t sL = 0; sL < kStates; ++sL) {
      Extended factor = 0;
      for (std::int32_t sO = 0; sO < kStates; ++sO) {
        power[sL][sO] *= t.ones[sL][sO];
        factor += t.prior[sO] * power[sL][sO];
      }
      t.ones_factor[n][sL] = factor;
    }
    if (n <= onto_count) {
      std::copy(std::begin(kAllOnes), std::end(kAllOnes), t.onto_child[n]);
      PeelOntoChildWeights(t, t.onto_child[n], t.prior, t.prior, &power);
    }
  }
  // A child of all-1 weights with such a nuclear family peeled onto it, as
  // PeelOntoParent and PeelFamily leave it, and its sums: the one-child
  // products, through the kernels every child's sums go through.
  for (std::int32_t n = 0; n <= Transmission::kMostOnesChildren; ++n) {
    double* w = t.peeled[n];
    if (n == 0 || n > t.ones_children) {
      std::fill(w, w + kStates, std::numeric_limits<double>::quiet_NaN());
      continue;
    }
    for (std::int32_t s = 0; s < kStates; ++s) {
      w[s] = static_cast<double>(kAllOnes[s] * t.ones_factor[n][s]);
    }
    const Extended S = ConnectorScaleSum(w);
    if (S == 0 || !std::isfinite(static_cast<double>(S))) {
      std::fill(w, w + kStates, std::numeric_limits<double>::quiet_NaN());
      continue;
    }
    RescaleConnector(w, S);
    PairTable& P = t.peeled_sums[n];
    if (t.mendelian) {
      KnownRun none;
      ChainChildSums<true, false>(t, w, none, P);
    } else {
      const double* child[1] = {w};
      Block<false>(t, child, 1, /*first=*/true, P, Repeats{});
    }
    if (t.symmetric) MirrorUpperTriangle(P);
  }
  t.onto_child_count = onto_count;
}

std::int32_t KnownChildSums(const Transmission& t, const double* w) {
  if (AllOnes(w)) return 0;
  for (std::int32_t n = 1; n <= t.ones_children; ++n) {
    if (w[0] == t.peeled[n][0] &&
        std::memcmp(w, t.peeled[n], sizeof t.peeled[n]) == 0) {
      return n;
    }
  }
  return -1;
}

bool KnownParentFactor(const Transmission& t, const GenotypeWeights& weights,
                       std::int32_t O, std::span<const std::int32_t> children) {
  return !children.empty() &&
         children.size() <= static_cast<std::size_t>(t.ones_children) &&
         std::memcmp(weights.Member(O), t.prior, sizeof t.prior) == 0 &&
         std::all_of(children.begin(), children.end(), [&](std::int32_t x) {
           return AllOnes(weights.Member(x));
         });
}

bool KnownChildWeights(const Transmission& t, const GenotypeWeights& weights,
                       std::int32_t p1, std::int32_t p2, std::int32_t L,
                       std::span<const std::int32_t> others) {
  return static_cast<std::int32_t>(others.size()) <= t.onto_child_count &&
         AllOnes(weights.Member(L)) &&
         std::memcmp(weights.Member(p1), t.prior, sizeof t.prior) == 0 &&
         std::memcmp(weights.Member(p2), t.prior, sizeof t.prior) == 0 &&
         std::all_of(others.begin(), others.end(), [&](std::int32_t x) {
           return AllOnes(weights.Member(x));
         });
}

Extended ConnectorScaleSum(const double* connector) {
  Extended S = 0;
  for (std::int32_t s = 0; s < kStates; ++s) S += connector[s];
  return S;
}

Extended RescaleConnector(double* connector, Extended S) {
  const Extended inverse = 1 / S;
  Extended rescaled = 0;
  for (std::int32_t s = 0; s < kStates; ++s) {
    connector[s] = static_cast<double>(connector[s] * inverse);
    rescaled += connector[s];
  }
  return rescaled;
}

void ChildSumProducts(const Transmission& t, const GenotypeWeights& weights,
                      std::span<const std::int32_t> children, PairTable& P) {
  PairProductTable(t, weights, children, /*mirror=*/true, P);
}

void PeelOntoParent(const Transmission& t, GenotypeWeights& weights,
                    std::int32_t L, std::int32_t O,
                    std::span<const std::int32_t> children) {
  double* connector = weights.Member(L);
  const double* other = weights.Member(O);
  if (children.empty()) {  // every product is 1
    for (std::int32_t sL = 0; sL < kStates; ++sL) {
      Extended factor = 0;
      for (std::int32_t sO = 0; sO < kStates; ++sO) {
        factor += other[sO] * Extended{1};
      }
      double& w = connector[sL];
      w = static_cast<double>(w * factor);
    }
    return;
  }
  // Children of all-1 weights and a parent of prior weights: the factors
  // of every such nuclear family with as many children, formed once.
  if (KnownParentFactor(t, weights, O, children)) {
    const Extended* factor = t.ones_factor[children.size()];
    for (std::int32_t sL = 0; sL < kStates; ++sL) {
      double& w = connector[sL];
      w = static_cast<double>(w * factor[sL]);
    }
    return;
  }
  PairTable P;  // with symmetric tables only sL <= sO is formed
  PairProductTable(t, weights, children, /*mirror=*/false, P);
  for (std::int32_t sL = 0; sL < kStates; ++sL) {
    Extended factor = 0;
    std::int32_t sO = 0;
    if (t.symmetric) {
      for (; sO < sL; ++sO) factor += other[sO] * P[sO][sL];
    }
    for (; sO < kStates; ++sO) factor += other[sO] * P[sL][sO];
    double& w = connector[sL];
    w = static_cast<double>(w * factor);
  }
}

void PeelOntoChild(const Transmission& t, GenotypeWeights& weights,
                   std::int32_t p1, std::int32_t p2, std::int32_t L,
                   std::span<const std::int32_t> others) {
  double* connector = weights.Member(L);
  const double* first = weights.Member(p1);
  const double* second = weights.Member(p2);
  // A child of all-1 weights under parents of prior weights, its siblings of
  // all-1 weights too (a correction pass above the probands): the result of
  // the loops below on these very weights, formed once per evaluation.
  if (KnownChildWeights(t, weights, p1, p2, L, others)) {
    std::memcpy(connector, t.onto_child[others.size()], sizeof t.prior);
    return;
  }
  PairTable siblings;
  if (!others.empty()) {
    PairProductTable(t, weights, others, /*mirror=*/true, siblings);
  }
  PeelOntoChildWeights(t, connector, first, second,
                       others.empty() ? nullptr : &siblings);
}

}  // namespace segmix
