// Today's straightforward peeling loops, kept as the reference the fast
// kernels of the model library are compared with bit for bit: one sum per
// joint state, every term formed where it is added, children one after
// another. PeelFamily below is the library's PeelFamily on these loops.
#ifndef SEGMIX_TESTS_MODEL_REFERENCE_PEELING_H_
#define SEGMIX_TESTS_MODEL_REFERENCE_PEELING_H_

#include <array>
#include <cmath>
#include <cstdint>
#include <span>

#include "model/extended.h"
#include "model/family_likelihood.h"
#include "model/trait_density.h"

namespace segmix::test::reference {

constexpr std::int32_t G = kMajorGenotypes;
constexpr std::int32_t J = kPolygenicGenotypes;
constexpr std::int32_t kStates = kJointGenotypes;

constexpr std::int32_t State(std::int32_t g, std::int32_t j) {
  return (g - 1) * J + (j - 1);
}

// The nonzero pattern of the two transmission tables for one evaluation.
// major[g1][g2] lists the child genotypes o with M(o | g1, g2) != 0 (the
// connector's genotype in the first slot). poly_lo/poly_hi[j1][j2] bound the
// child polygenic genotypes with T(jc | j1, j2) != 0: the table is zero
// outside a contiguous range, and a zero inside it is harmless.
// second_lo/second_hi[jc][j1] bound the second parent's genotypes j2 with
// T(jc | j1, j2) != 0.
struct Transmission {
  const double* M = nullptr;  // M(o | g1, g2) at (o-1) + 3(g1-1) + 9(g2-1)
  const double* T = nullptr;  // T(jc | j1, j2) at (jc-1) + 7(j1-1) + 49(j2-1)
  std::int32_t major_count[G + 1][G + 1] = {};
  std::int32_t major[G + 1][G + 1][G] = {};
  std::int32_t poly_lo[J + 1][J + 1] = {};
  std::int32_t poly_hi[J + 1][J + 1] = {};
  std::int32_t second_lo[J + 1][J + 1] = {};
  std::int32_t second_hi[J + 1][J + 1] = {};

  double Major(std::int32_t o, std::int32_t g1, std::int32_t g2) const {
    return M[(o - 1) + 3 * (g1 - 1) + 9 * (g2 - 1)];
  }
  double Poly(std::int32_t jc, std::int32_t j1, std::int32_t j2) const {
    return T[(jc - 1) + 7 * (j1 - 1) + 49 * (j2 - 1)];
  }
};

inline void DescribeTransmission(const LikelihoodModel& model,
                                 Transmission& t) {
  t.M = model.quantities.MajorTransmission.data();
  t.T = model.polygenic.PolygenicTransmission.data();
  for (std::int32_t g1 = 1; g1 <= G; ++g1) {
    for (std::int32_t g2 = 1; g2 <= G; ++g2) {
      std::int32_t count = 0;
      for (std::int32_t o = 1; o <= G; ++o) {
        if (t.Major(o, g1, g2) != 0) t.major[g1][g2][count++] = o;
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
      }
      t.poly_lo[a][b] = lo;
      t.poly_hi[a][b] = hi;
      t.second_lo[a][b] = lo2;
      t.second_hi[a][b] = hi2;
    }
  }
}

inline bool AllFinite(const double* w) {
  for (std::int32_t s = 0; s < kStates; ++s) {
    if (!std::isfinite(w[s])) return false;
  }
  return true;
}

// Sum over gc, jc of M(gc | gL, gO) x T(jc | jL, jO) x W(x, gc, jc).
inline Extended ChildSum(const Transmission& t, const double* child,
                         std::int32_t gL, std::int32_t jL, std::int32_t gO,
                         std::int32_t jO) {
  Extended sum = 0;
  const std::int32_t count = t.major_count[gL][gO];
  const std::int32_t lo = t.poly_lo[jL][jO], hi = t.poly_hi[jL][jO];
  for (std::int32_t n = 0; n < count; ++n) {
    const std::int32_t gc = t.major[gL][gO][n];
    const Extended m = t.Major(gc, gL, gO);
    for (std::int32_t jc = lo; jc <= hi; ++jc) {
      sum += m * t.Poly(jc, jL, jO) * child[State(gc, jc)];
    }
  }
  return sum;
}

// Connector L is a parent, O the other one: for every (gL, jL)
// W(L) *= sum over gO, jO of W(O) x prod over children of ChildSum.
inline void PeelOntoParent(const Transmission& t, GenotypeWeights& weights,
                           std::int32_t L, std::int32_t O,
                           std::span<const std::int32_t> children) {
  double* connector = weights.Member(L);
  const double* other = weights.Member(O);
  for (std::int32_t gL = 1; gL <= G; ++gL) {
    for (std::int32_t jL = 1; jL <= J; ++jL) {
      Extended factor = 0;
      for (std::int32_t gO = 1; gO <= G; ++gO) {
        for (std::int32_t jO = 1; jO <= J; ++jO) {
          Extended product = 1;
          for (const std::int32_t x : children) {
            product *= ChildSum(t, weights.Member(x), gL, jL, gO, jO);
          }
          factor += other[State(gO, jO)] * product;
        }
      }
      double& w = connector[State(gL, jL)];
      w = static_cast<double>(w * factor);
    }
  }
}

// Connector L is the first child: for every (gL, jL) W(L) *= sum over
// g1, j1, g2, j2 of W(P1) x W(P2) x M(gL | g1, g2) x T(jL | j1, j2) x prod
// over the other children of their sums given (g1, j1, g2, j2).
inline void PeelOntoChild(const Transmission& t, GenotypeWeights& weights,
                          std::int32_t p1, std::int32_t p2, std::int32_t L,
                          std::span<const std::int32_t> others) {
  double* connector = weights.Member(L);
  const double* first = weights.Member(p1);
  const double* second = weights.Member(p2);
  // Both the parents' product and the other children's product depend on
  // the parents' states alone; formed once, they are the same values the
  // sum would form term by term.
  std::array<Extended, kStates * kStates> parents;
  std::array<Extended, kStates * kStates> siblings;
  for (std::int32_t g1 = 1; g1 <= G; ++g1) {
    for (std::int32_t j1 = 1; j1 <= J; ++j1) {
      for (std::int32_t g2 = 1; g2 <= G; ++g2) {
        for (std::int32_t j2 = 1; j2 <= J; ++j2) {
          const std::size_t pair = State(g1, j1) * kStates + State(g2, j2);
          parents[pair] = static_cast<Extended>(first[State(g1, j1)]) *
                          second[State(g2, j2)];
          Extended product = 1;
          for (const std::int32_t x : others) {
            product *= ChildSum(t, weights.Member(x), g1, j1, g2, j2);
          }
          siblings[pair] = product;
        }
      }
    }
  }
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
              const std::size_t pair = State(g1, j1) * kStates + State(g2, j2);
              Extended term = parents[pair] * m * t.Poly(jL, j1, j2);
              if (!others.empty()) term *= siblings[pair];
              factor += term;
            }
          }
        }
      }
      double& w = connector[State(gL, jL)];
      w = static_cast<double>(w * factor);
    }
  }
}

inline bool PeelFamily(const LikelihoodModel& model, std::int32_t f,
                       GenotypeWeights& weights, double& LL) {
  const FamilyStore& store = model.store;
  Transmission t;
  DescribeTransmission(model, t);

  LL = 0;
  double A = 0;  // running sum of the logarithms of the scale sums
  for (std::int32_t w = store.FirstNuclear(f); w <= store.LastNuclear(f); ++w) {
    const std::span<const std::int32_t> entries = store.NuclearMembers(w);
    // The structure check refuses lists of fewer than two entries and a
    // connector that is a child other than the first; they are not peelable.
    if (entries.size() < 2) return false;
    const std::int32_t p1 = entries[0];
    const std::int32_t p2 = entries[1];
    const bool terminal = store.connector[w] == 0;
    std::int32_t L = terminal ? p1 : store.connector[w];

    // A non-finite weight anywhere in the nuclear family makes every sum of
    // the connector non-finite: the family fails here without the arithmetic.
    for (const std::int32_t k : entries) {
      if (!AllFinite(weights.Member(k))) return false;
    }
    if (L == p1 || L == p2) {
      PeelOntoParent(t, weights, L, L == p1 ? p2 : p1, entries.subspan(2));
    } else {
      if (entries.size() < 3) return false;
      L = entries[2];  // the first child
      PeelOntoChild(t, weights, p1, p2, L, entries.subspan(3));
    }

    // Rescale the connector to sum 1; the logarithm of the scale sum is kept.
    double* connector = weights.Member(L);
    Extended S = 0;
    for (std::int32_t s = 0; s < kStates; ++s) S += connector[s];
    if (S == 0 || !std::isfinite(static_cast<double>(S))) return false;
    A = static_cast<double>(
        A + static_cast<Extended>(std::log(static_cast<double>(S))));
    const Extended inverse = 1 / S;
    Extended rescaled = 0;
    for (std::int32_t s = 0; s < kStates; ++s) {
      connector[s] = static_cast<double>(connector[s] * inverse);
      rescaled += connector[s];
    }
    if (terminal) {
      LL = static_cast<double>(
          LL + static_cast<Extended>(std::log(static_cast<double>(rescaled))));
    }
  }
  LL = static_cast<double>(static_cast<Extended>(A) + LL);
  return true;
}

}  // namespace segmix::test::reference

#endif  // SEGMIX_TESTS_MODEL_REFERENCE_PEELING_H_
