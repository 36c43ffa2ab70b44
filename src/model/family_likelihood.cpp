// PrepareGenotypeWeights and PeelFamily: the joint-genotype weights of one
// family and their peeling, nuclear family by nuclear family, onto the
// connectors.
//
// The sums follow a fixed order (leftmost index outermost, g before j,
// children in list order) and each product is formed left to right, so that
// every stored weight is the same double whatever the build. Terms whose
// transmission coefficient is exactly 0 are left out of the sums: with finite
// weights such a term is +0 or -0 and adding it to a sum that starts at +0
// changes nothing, so leaving it out changes no bit. A non-finite weight would
// turn those terms into NaN; it is therefore tested for before a nuclear
// family is peeled, and then the family fails as a non-finite scale sum would.
#include "model/family_likelihood.h"

#include <cmath>
#include <span>

#include "model/extended.h"
#include "model/member_densities.h"
#include "model/peel_kernels.h"
#include "model/screening_peel.h"

namespace segmix {

void GenotypeWeights::Resize(std::int32_t capacity) {
  capacity_ = capacity < 0 ? 0 : capacity;
  const std::size_t positions = static_cast<std::size_t>(capacity_) + 1;
  w_.assign(positions * kJointGenotypes, 0.0);
  marks_.assign(positions, 0);
}

namespace {

constexpr std::int32_t G = kMajorGenotypes;
constexpr std::int32_t J = kPolygenicGenotypes;
constexpr std::int32_t kStates = kJointGenotypes;

// Weight of density x GenotypeFrequency(g) x PolygenicFrequency(j),
// multiplied in that order.
double PriorWeight(Extended density, const LikelihoodModel& model,
                   std::int32_t g, std::int32_t j) {
  return static_cast<double>(density * model.quantities.GenotypeFrequency[g] *
                             model.polygenic.PolygenicFrequency[j]);
}

void SetWeights(const LikelihoodModel& model, std::int32_t store_index,
                bool with_prior, bool screening, double* w) {
  if (screening) {
    double densities[kStates];
    ScreeningMemberDensities(model, store_index, densities);
    for (std::int32_t g = 1; g <= G; ++g) {
      for (std::int32_t j = 1; j <= J; ++j) {
        const double density = densities[JointState(g, j)];
        w[JointState(g, j)] =
            with_prior ? density * model.quantities.GenotypeFrequency[g] *
                             model.polygenic.PolygenicFrequency[j]
                       : density;
      }
    }
    return;
  }
  Extended densities[kStates];
  MemberDensities(model, store_index, densities);
  for (std::int32_t g = 1; g <= G; ++g) {
    for (std::int32_t j = 1; j <= J; ++j) {
      const Extended density = densities[JointState(g, j)];
      w[JointState(g, j)] = with_prior ? PriorWeight(density, model, g, j)
                                       : static_cast<double>(density);
    }
  }
}

bool AllFinite(const double* w) {
  for (std::int32_t s = 0; s < kStates; ++s) {
    if (!std::isfinite(w[s])) return false;
  }
  return true;
}

// PrepareGenotypeWeights, with a screening evaluation's densities when
// `screening` is set.
void PrepareWeights(const LikelihoodModel& model, std::int32_t f,
                    bool screening, GenotypeWeights& weights) {
  const FamilyStore& store = model.store;
  const std::int32_t n = store.FamilySize(f);
  const std::int32_t base = store.MemberOffset(f);
  if (n > weights.Capacity()) weights.Resize(n);
  std::vector<unsigned char>& marked = weights.Marks();
  for (std::int32_t k = 1; k <= n; ++k) marked[k] = 0;
  // Every position 1..n receives all 21 weights below (listed positions as
  // children or parents, the others in the last loop), so nothing needs to
  // be cleared first.
  const std::int32_t first = store.FirstNuclear(f);
  const std::int32_t last = store.LastNuclear(f);

  // Children first: a member who is a child in one nuclear family and a
  // parent in another carries no population prior.
  for (std::int32_t w = first; w <= last; ++w) {
    const std::span<const std::int32_t> entries = store.NuclearMembers(w);
    for (std::size_t e = 2; e < entries.size(); ++e) {
      const std::int32_t x = entries[e];
      marked[x] = 1;
      SetWeights(model, base + x, /*with_prior=*/false, screening,
                 weights.Member(x));
    }
  }
  for (std::int32_t w = first; w <= last; ++w) {
    const std::span<const std::int32_t> entries = store.NuclearMembers(w);
    const std::size_t parents = entries.size() < 2 ? entries.size() : 2;
    for (std::size_t e = 0; e < parents; ++e) {
      const std::int32_t p = entries[e];
      if (marked[p] != 0) continue;
      marked[p] = 1;
      SetWeights(model, base + p, /*with_prior=*/true, screening,
                 weights.Member(p));
    }
  }
  // Members listed nowhere: a missing value contributes the prior alone.
  for (std::int32_t k = 1; k <= n; ++k) {
    if (marked[k] != 0) continue;
    if (store.trait[base + k] > kMissingTrait) {
      SetWeights(model, base + k, /*with_prior=*/true, screening,
                 weights.Member(k));
    } else {
      double* w = weights.Member(k);
      for (std::int32_t g = 1; g <= G; ++g) {
        for (std::int32_t j = 1; j <= J; ++j) {
          w[JointState(g, j)] = static_cast<double>(
              static_cast<Extended>(model.quantities.GenotypeFrequency[g]) *
              model.polygenic.PolygenicFrequency[j]);
        }
      }
    }
  }
}

}  // namespace

bool DescribeNuclearPeel(const FamilyStore& store, std::int32_t w,
                         const GenotypeWeights& weights, NuclearPeel& peel) {
  const std::span<const std::int32_t> entries = store.NuclearMembers(w);
  // The structure check refuses lists of fewer than two entries and a
  // connector that is a child other than the first; they are not peelable.
  if (entries.size() < 2) return false;
  for (const std::int32_t k : entries) {
    if (!AllFinite(weights.Member(k))) return false;
  }
  peel.p1 = entries[0];
  peel.p2 = entries[1];
  peel.terminal = store.connector[w] == 0;
  peel.L = peel.terminal ? peel.p1 : store.connector[w];
  peel.onto_parent = peel.L == peel.p1 || peel.L == peel.p2;
  if (peel.onto_parent) {
    peel.O = peel.L == peel.p1 ? peel.p2 : peel.p1;
    peel.children = entries.subspan(2);
    return true;
  }
  if (entries.size() < 3) return false;
  peel.L = entries[2];  // the first child
  peel.children = entries.subspan(3);
  return true;
}

void PrepareGenotypeWeights(const LikelihoodModel& model, std::int32_t f,
                            GenotypeWeights& weights) {
  const bool screening =
      model.transmission != nullptr && model.transmission->screening;
  PrepareWeights(model, f, screening, weights);
}

namespace {

bool PeelDescribed(const LikelihoodModel& model, const Transmission& t,
                   std::int32_t f, GenotypeWeights& weights, double& LL);

// A caller that brings no description of the transmission: one on this
// frame's stack (about 200 KB), kept off the usual path's frames.
[[gnu::noinline]] bool PeelUndescribed(const LikelihoodModel& model,
                                       std::int32_t f, GenotypeWeights& weights,
                                       double& LL) {
  Transmission t;
  DescribeTransmission(model, t);
  return PeelDescribed(model, t, f, weights, LL);
}

}  // namespace

bool PeelFamily(const LikelihoodModel& model, std::int32_t f,
                GenotypeWeights& weights, double& LL) {
  if (model.transmission == nullptr) {
    return PeelUndescribed(model, f, weights, LL);
  }
  const Transmission& t = *model.transmission;
  if (t.screening) {
    if (ScreeningPeelFamily(model, t, f, weights, LL)) return true;
    // Double arithmetic failed or could not be trusted: the exact peel, on
    // weights prepared again from the exact densities, decides.
    PrepareWeights(model, f, /*screening=*/false, weights);
  }
  return PeelDescribed(model, t, f, weights, LL);
}

namespace {

bool PeelDescribed(const LikelihoodModel& model, const Transmission& t,
                   std::int32_t f, GenotypeWeights& weights, double& LL) {
  const FamilyStore& store = model.store;
  LL = 0;
  double A = 0;  // running sum of the logarithms of the scale sums
  for (std::int32_t w = store.FirstNuclear(f); w <= store.LastNuclear(f); ++w) {
    NuclearPeel n;
    if (!DescribeNuclearPeel(store, w, weights, n)) return false;
    if (n.onto_parent) {
      PeelOntoParent(t, weights, n.L, n.O, n.children);
    } else {
      PeelOntoChild(t, weights, n.p1, n.p2, n.L, n.children);
    }

    // Rescale the connector to sum 1; the logarithm of the scale sum is kept.
    double* connector = weights.Member(n.L);
    const Extended S = ConnectorScaleSum(connector);
    if (S == 0 || !std::isfinite(static_cast<double>(S))) return false;
    A = static_cast<double>(
        A + static_cast<Extended>(std::log(static_cast<double>(S))));
    const Extended rescaled = RescaleConnector(connector, S);
    if (n.terminal) {
      LL = static_cast<double>(
          LL + static_cast<Extended>(std::log(static_cast<double>(rescaled))));
    }
  }
  LL = static_cast<double>(static_cast<Extended>(A) + LL);
  return true;
}

}  // namespace

}  // namespace segmix
