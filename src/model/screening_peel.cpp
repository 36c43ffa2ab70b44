// The screening peel's loops. The products of children's sums are kept in
// polygenic blocks, B[jA][jB][gA][gB] for parent states (gA, jA) in the
// first slot of M and T and (gB, jB): a child's nine sums for one polygenic
// pair are then one contiguous row, formed and multiplied in lanes side by
// side. With symmetric tables a child's sum given (b, a) is its sum given
// (a, b), so only the blocks jA <= jB are formed; block (jB, jA) is the
// transpose of block (jA, jB).
//
// The evaluation's tables for children of known weights (all 1: a missing
// value or a non-proband in a correction pass; a branch without probands
// peeled onto such a child) and for whole nuclear families of them
// (Transmission::ones, peeled_sums, ones_factor, onto_child) are the exact
// peel's, read here rounded to double.
#include "model/screening_peel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <span>

namespace segmix {
namespace {

constexpr std::int32_t G = kMajorGenotypes;
constexpr std::int32_t J = kPolygenicGenotypes;
constexpr std::int32_t kStates = kJointGenotypes;
constexpr std::int32_t kPairs = G * G;

// A scale sum below this may come from weights that underflowed into the
// subnormal range, where a double keeps too few digits.
constexpr double kSmallestScaleSum = 1e-280;

struct PairBlocks {
  double b[J][J][kPairs];  // b[jA - 1][jB - 1][3 (gA - 1) + (gB - 1)]
};

// The value of state pair ((gA, jA), (gB, jB)) in blocks formed by the
// loops below: with symmetric tables block (jB, jA) is not formed, and is
// the transpose of block (jA, jB).
double At(const Transmission& t, const PairBlocks& P, std::int32_t gA,
          std::int32_t jA, std::int32_t gB, std::int32_t jB) {
  if (t.symmetric && jA > jB) {
    return P.b[jB - 1][jA - 1][3 * (gB - 1) + (gA - 1)];
  }
  return P.b[jA - 1][jB - 1][3 * (gA - 1) + (gB - 1)];
}

// The evaluation's sums of a child of weights w (Transmission::known_sums),
// null when it has none.
const double (*KnownSums(const Transmission& t, const double* w))[J][kPairs] {
  const std::int32_t n = KnownChildSums(t, w);
  return n < 0 ? nullptr : t.known_sums[n];
}

// B *= the child's sums (`first`: B = them), for weights w.
void MultiplyChildSums(const Transmission& t, const double* w, bool first,
                       PairBlocks& P) {
  // M(o | gA, gB) at m[o - 1][3 (gA - 1) + (gB - 1)].
  const auto& m = t.major_by_pair;
  if (const auto known = KnownSums(t, w); known != nullptr) {
    for (std::int32_t jA = 1; jA <= J; ++jA) {
      for (std::int32_t jB = t.symmetric ? jA : 1; jB <= J; ++jB) {
        const double* v = known[jA - 1][jB - 1];
        double* row = P.b[jA - 1][jB - 1];
        if (first) {
          std::copy(v, v + kPairs, row);
        } else {
          for (std::int32_t k = 0; k < kPairs; ++k) row[k] *= v[k];
        }
      }
    }
    return;
  }
  for (std::int32_t jA = 1; jA <= J; ++jA) {
    for (std::int32_t jB = t.symmetric ? jA : 1; jB <= J; ++jB) {
      // T(jc | jA, jB) at poly[jc - 1].
      const double* poly = t.T + 7 * (jA - 1) + 49 * (jB - 1);
      double r0 = 0, r1 = 0, r2 = 0;
      for (std::int32_t c = t.poly_lo[jA][jB] - 1; c < t.poly_hi[jA][jB]; ++c) {
        r0 += poly[c] * w[c];
        r1 += poly[c] * w[J + c];
        r2 += poly[c] * w[2 * J + c];
      }
      double v[kPairs];
      for (std::int32_t k = 0; k < kPairs; ++k) {
        v[k] = m[0][k] * r0 + m[1][k] * r1 + m[2][k] * r2;
      }
      double* row = P.b[jA - 1][jB - 1];
      if (first) {
        std::copy(v, v + kPairs, row);
      } else {
        for (std::int32_t k = 0; k < kPairs; ++k) row[k] *= v[k];
      }
    }
  }
}

void ChildProducts(const Transmission& t, const GenotypeWeights& weights,
                   std::span<const std::int32_t> children, PairBlocks& P) {
  bool first = true;
  for (const std::int32_t c : children) {
    MultiplyChildSums(t, weights.Member(c), first, P);
    first = false;
  }
}

// W(L, sL) *= sum over sO of W(O, sO) x P(sL, sO).
void OntoParent(const Transmission& t, GenotypeWeights& weights, std::int32_t L,
                std::int32_t O, std::span<const std::int32_t> children) {
  double* connector = weights.Member(L);
  const double* other = weights.Member(O);
  if (children.empty()) {
    double factor = 0;
    for (std::int32_t sO = 0; sO < kStates; ++sO) factor += other[sO];
    for (std::int32_t sL = 0; sL < kStates; ++sL) connector[sL] *= factor;
    return;
  }
  if (KnownParentFactor(t, weights, O, children)) {
    const Extended* factor = t.ones_factor[children.size()];
    for (std::int32_t sL = 0; sL < kStates; ++sL) {
      connector[sL] *= static_cast<double>(factor[sL]);
    }
    return;
  }
  PairBlocks P;
  ChildProducts(t, weights, children, P);
  double factor[kStates] = {};
  for (std::int32_t jL = 1; jL <= J; ++jL) {
    for (std::int32_t jO = 1; jO <= J; ++jO) {
      for (std::int32_t gL = 1; gL <= G; ++gL) {
        double sum = 0;
        for (std::int32_t gO = 1; gO <= G; ++gO) {
          sum += other[JointState(gO, jO)] * At(t, P, gL, jL, gO, jO);
        }
        factor[JointState(gL, jL)] += sum;
      }
    }
  }
  for (std::int32_t sL = 0; sL < kStates; ++sL) connector[sL] *= factor[sL];
}

// W(L, gL, jL) *= sum over (j1, j2) of T(jL | j1, j2) x u(gL, j1, j2),
// u = sum over (g1, g2) of M(gL | g1, g2) x W(p1) x W(p2) x the siblings'
// products.
void OntoChild(const Transmission& t, GenotypeWeights& weights, std::int32_t p1,
               std::int32_t p2, std::int32_t L,
               std::span<const std::int32_t> others) {
  double* connector = weights.Member(L);
  const double* first = weights.Member(p1);
  const double* second = weights.Member(p2);
  if (KnownChildWeights(t, weights, p1, p2, L, others)) {
    std::memcpy(connector, t.onto_child[others.size()], sizeof t.prior);
    return;
  }
  PairBlocks P;
  if (!others.empty()) ChildProducts(t, weights, others, P);
  double factor[kStates] = {};
  for (std::int32_t j1 = 1; j1 <= J; ++j1) {
    for (std::int32_t j2 = 1; j2 <= J; ++j2) {
      double q[kPairs];
      for (std::int32_t g1 = 1; g1 <= G; ++g1) {
        for (std::int32_t g2 = 1; g2 <= G; ++g2) {
          const double parents =
              first[JointState(g1, j1)] * second[JointState(g2, j2)];
          q[3 * (g1 - 1) + (g2 - 1)] =
              others.empty() ? parents : parents * At(t, P, g1, j1, g2, j2);
        }
      }
      double u[G];
      for (std::int32_t g = 0; g < G; ++g) {
        double s = 0;
        for (std::int32_t k = 0; k < kPairs; ++k)
          s += t.major_by_pair[g][k] * q[k];
        u[g] = s;
      }
      // T(jL | j1, j2) at poly[jL - 1].
      const double* poly = t.T + 7 * (j1 - 1) + 49 * (j2 - 1);
      for (std::int32_t c = t.poly_lo[j1][j2] - 1; c < t.poly_hi[j1][j2]; ++c) {
        for (std::int32_t g = 0; g < G; ++g)
          factor[g * J + c] += poly[c] * u[g];
      }
    }
  }
  for (std::int32_t s = 0; s < kStates; ++s) connector[s] *= factor[s];
}

}  // namespace

void DescribeScreening(Transmission& t) {
  for (std::int32_t o = 1; o <= G; ++o) {
    for (std::int32_t a = 1; a <= G; ++a) {
      for (std::int32_t b = 1; b <= G; ++b) {
        t.major_by_pair[o - 1][3 * (a - 1) + (b - 1)] = t.Major(o, a, b);
      }
    }
  }
  for (std::int32_t n = 0; n <= t.ones_children; ++n) {
    const Extended(&sums)[kStates][kStates] =
        n == 0 ? t.ones : t.peeled_sums[n];
    for (std::int32_t jA = 1; jA <= J; ++jA) {
      for (std::int32_t jB = 1; jB <= J; ++jB) {
        for (std::int32_t gA = 1; gA <= G; ++gA) {
          for (std::int32_t gB = 1; gB <= G; ++gB) {
            t.known_sums[n][jA - 1][jB - 1][3 * (gA - 1) + (gB - 1)] =
                static_cast<double>(
                    sums[JointState(gA, jA)][JointState(gB, jB)]);
          }
        }
      }
    }
  }
}

bool ScreeningPeelFamily(const LikelihoodModel& model, const Transmission& t,
                         std::int32_t f, GenotypeWeights& weights, double& LL) {
  const FamilyStore& store = model.store;
  LL = 0;
  double A = 0;  // the sum of the logarithms of the scale sums
  for (std::int32_t w = store.FirstNuclear(f); w <= store.LastNuclear(f); ++w) {
    NuclearPeel n;
    if (!DescribeNuclearPeel(store, w, weights, n)) return false;
    if (n.onto_parent) {
      OntoParent(t, weights, n.L, n.O, n.children);
    } else {
      OntoChild(t, weights, n.p1, n.p2, n.L, n.children);
    }
    double* connector = weights.Member(n.L);
    double S = 0;
    for (std::int32_t s = 0; s < kStates; ++s) S += connector[s];
    if (!(S >= kSmallestScaleSum) || !std::isfinite(S)) return false;
    A += std::log(S);
    const double inverse = 1 / S;
    double rescaled = 0;
    for (std::int32_t s = 0; s < kStates; ++s) {
      connector[s] *= inverse;
      rescaled += connector[s];
    }
    if (n.terminal) LL += std::log(rescaled);
  }
  LL += A;
  return true;
}

}  // namespace segmix
