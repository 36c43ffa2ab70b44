// MajorGenotypePosteriors: the two passes over a family's nuclear families.
//
// The likelihood of the listed members is a product of factors: each
// member's weights W(x) as PrepareGenotypeWeights leaves them, and for each
// nuclear family w the transmission of its children,
// prod over children c of K(sc | sA, sB), K = M(gc | gA, gB) x T(jc | jA, jB)
// with (sA, sB) the parents' joint states (the connector in the first slot
// when it is a parent, as PeelFamily orders them; both tables are symmetric
// in practice). The peeling order makes these factors a tree: a member is
// the connector of some nuclear families, then summed out in at most one
// (call it the member's "home"), and nothing after; a member summed out
// nowhere is a root.
//
// Pass up: the peel itself, on the same kernels, leaving in W(x) the
// member's weights times every message passed onto it, and keeping for each
// nuclear family the connector's weights just before it was peeled.
// Pass down, in reverse order: a member's "outer" vector is the message its
// home sends it (all ones for a root) times the messages of the nuclear
// families peeled onto it that come later in stored order. For nuclear
// family w with connector L, L's vector of everything but w is its weights
// before w times its outer vector; every other member x of w is summed out
// in w, so its final W(x) is everything below it. From these, every
// member's message from w (the sum over all other members' states of the
// product of everything but its own vector) gives x's posterior (its vector
// times that message) and starts x's outer vector; L's message extends L's
// outer vector for the nuclear families before w.
//
// Messages of one nuclear family without division (zeros are legal): with
// f_c(sA, sB) = sum over sc of K(sc | sA, sB) V(c)[sc] and F = prod of f_c,
// a parent's message is the sum over the other parent of V x F; a child's is
// sum over (sA, sB) of V(A) V(B) x (product of the other children's f, from
// running prefix and stored suffix products) x K(sc | sA, sB).
#include "model/genotype_posteriors.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <span>

#include "model/extended.h"
#include "model/family_likelihood.h"
#include "model/peel_kernels.h"

namespace segmix {
namespace {

constexpr std::int32_t G = kMajorGenotypes;
constexpr std::int32_t J = kPolygenicGenotypes;
constexpr std::int32_t kStates = kJointGenotypes;
constexpr std::int32_t kPairs = kStates * kStates;  // (sA, sB) at sA * 21 + sB

bool AllFinite(const double* w) {
  for (std::int32_t s = 0; s < kStates; ++s) {
    if (!std::isfinite(w[s])) return false;
  }
  return true;
}

// Rescales v[0..20] to sum 1; false when the sum is 0 or not finite.
bool Normalise(Extended* v) {
  Extended sum = 0;
  for (std::int32_t s = 0; s < kStates; ++s) sum += v[s];
  if (!(sum > 0) || !std::isfinite(static_cast<double>(sum))) return false;
  const Extended inverse = 1 / sum;
  for (std::int32_t s = 0; s < kStates; ++s) v[s] *= inverse;
  return true;
}

}  // namespace

struct MajorGenotypePosteriors::Impl {
  // Room for families of up to `members` members and nuclear families of up
  // to `children` children.
  void Reserve(std::int32_t members, std::int32_t nuclear,
               std::int32_t children) {
    if (members > weights.Capacity()) weights.Resize(members);
    const auto positions = static_cast<std::size_t>(weights.Capacity()) + 1;
    outer.resize(positions * kStates);
    summed.resize(positions);
    done.resize(positions);
    const auto lists = static_cast<std::size_t>(std::max(nuclear, 0));
    if (before.size() < lists * kStates) {
      before.resize(lists * kStates);
      connector.resize(lists);
    }
    const auto kids = static_cast<std::size_t>(std::max(children, 0));
    if (suffix.size() < (kids + 1) * kPairs) {
      factor.resize(kids * kPairs);
      suffix.resize((kids + 1) * kPairs);
      vectors.resize((kids + 2) * kStates);
      messages.resize((kids + 2) * kStates);
    }
  }

  // The nonzero K(sc | sA, sB) of the model's tables, pair by pair.
  void DescribeCoefficients(const LikelihoodModel& model) {
    const double* M = model.quantities.MajorTransmission.data();
    const double* T = model.polygenic.PolygenicTransmission.data();
    std::size_t count = 0;
    for (std::int32_t sA = 0; sA < kStates; ++sA) {
      for (std::int32_t sB = 0; sB < kStates; ++sB) {
        const std::int32_t gA = sA / J, jA = sA % J, gB = sB / J, jB = sB % J;
        pair_begin[sA * kStates + sB] = static_cast<std::int32_t>(count);
        for (std::int32_t gc = 0; gc < G; ++gc) {
          for (std::int32_t jc = 0; jc < J; ++jc) {
            const Extended k = static_cast<Extended>(M[gc + 3 * gA + 9 * gB]) *
                               T[jc + 7 * jA + 49 * jB];
            if (k == 0) continue;
            coefficient[count] = k;
            child_state[count] = gc * J + jc;
            ++count;
          }
        }
      }
    }
    pair_begin[kPairs] = static_cast<std::int32_t>(count);
  }

  // The messages of one nuclear family of `m` entries from the vectors V of
  // its entries (vectors[e * 21], list order): the first slot is entry `a`,
  // the second entry `b` (0 and 1 in some order), children are entries 2 on.
  // Leaves each entry's message, rescaled to sum 1, in messages[e * 21].
  bool Messages(std::size_t m, std::size_t a, std::size_t b) {
    const std::size_t kids = m - 2;
    // f_c for every child, and the products of f over children c..last.
    Extended* tail = &suffix[kids * kPairs];
    std::fill(tail, tail + kPairs, Extended{1});
    for (std::size_t c = kids; c-- > 0;) {
      const Extended* v = &vectors[(2 + c) * kStates];
      Extended* f = &factor[c * kPairs];
      Extended* here = &suffix[c * kPairs];
      const Extended* next = here + kPairs;
      for (std::int32_t q = 0; q < kPairs; ++q) {
        Extended sum = 0;
        for (std::int32_t e = pair_begin[q]; e < pair_begin[q + 1]; ++e) {
          sum += coefficient[e] * v[child_state[e]];
        }
        f[q] = sum;
        here[q] = sum * next[q];
      }
    }
    const Extended* vA = &vectors[a * kStates];
    const Extended* vB = &vectors[b * kStates];
    Extended* mA = &messages[a * kStates];
    Extended* mB = &messages[b * kStates];
    std::fill(mB, mB + kStates, Extended{0});
    for (std::int32_t sA = 0; sA < kStates; ++sA) {
      const Extended* F = &suffix[static_cast<std::size_t>(sA) * kStates];
      Extended sum = 0;
      for (std::int32_t sB = 0; sB < kStates; ++sB) {
        sum += vB[sB] * F[sB];
        mB[sB] += vA[sA] * F[sB];
      }
      mA[sA] = sum;
    }
    if (!Normalise(mA) || !Normalise(mB)) return false;
    std::fill(prefix, prefix + kPairs, Extended{1});
    for (std::size_t c = 0; c < kids; ++c) {
      Extended* mc = &messages[(2 + c) * kStates];
      std::fill(mc, mc + kStates, Extended{0});
      const Extended* rest = &suffix[(c + 1) * kPairs];
      for (std::int32_t q = 0; q < kPairs; ++q) {
        const Extended w =
            vA[q / kStates] * vB[q % kStates] * prefix[q] * rest[q];
        if (w == 0) continue;
        for (std::int32_t e = pair_begin[q]; e < pair_begin[q + 1]; ++e) {
          mc[child_state[e]] += w * coefficient[e];
        }
      }
      if (!Normalise(mc)) return false;
      const Extended* f = &factor[c * kPairs];
      for (std::int32_t q = 0; q < kPairs; ++q) prefix[q] *= f[q];
    }
    return true;
  }

  GenotypeWeights weights;
  Transmission transmission;
  std::int32_t pair_begin[kPairs + 1] = {};
  Extended coefficient[kPairs * kStates] = {};
  std::int32_t child_state[kPairs * kStates] = {};
  Extended prefix[kPairs] = {};
  std::vector<Extended> outer;          // 21 per position
  std::vector<unsigned char> summed;    // per position: summed out somewhere
  std::vector<unsigned char> done;      // per position: a root's posterior set
  std::vector<double> before;           // 21 per nuclear family of the family
  std::vector<std::int32_t> connector;  // per nuclear family of the family
  std::vector<Extended> factor;         // f_c, kPairs per child
  std::vector<Extended> suffix;         // kPairs per child, and one of ones
  std::vector<Extended> vectors;        // V, 21 per entry
  std::vector<Extended> messages;       // 21 per entry
};

MajorGenotypePosteriors::MajorGenotypePosteriors(const FamilyStore& store)
    : impl_(std::make_unique<Impl>()) {
  std::int32_t nuclear = 0;
  std::size_t entries = 2;
  for (std::int32_t g = 1; g <= store.listed_family_count; ++g) {
    nuclear =
        std::max(nuclear, store.LastNuclear(g) - store.FirstNuclear(g) + 1);
    for (std::int32_t w = store.FirstNuclear(g); w <= store.LastNuclear(g);
         ++w) {
      entries = std::max(entries, store.NuclearMembers(w).size());
    }
  }
  impl_->Reserve(store.LargestFamilySize(), nuclear,
                 static_cast<std::int32_t>(entries) - 2);
}

MajorGenotypePosteriors::~MajorGenotypePosteriors() = default;

bool MajorGenotypePosteriors::Compute(
    const LikelihoodModel& model, std::int32_t f,
    std::vector<std::array<double, 3>>& posteriors) {
  Impl& s = *impl_;
  const FamilyStore& store = model.store;
  posteriors.clear();
  const std::int32_t n = store.FamilySize(f);
  if (n <= 0) return false;
  const std::int32_t first = store.FirstNuclear(f);
  const std::int32_t last = store.LastNuclear(f);
  std::size_t entries = 2;
  for (std::int32_t w = first; w <= last; ++w) {
    entries = std::max(entries, store.NuclearMembers(w).size());
  }
  s.Reserve(n, last - first + 1, static_cast<std::int32_t>(entries) - 2);
  PrepareGenotypeWeights(model, f, s.weights);
  const std::vector<unsigned char>& listed = s.weights.Marks();
  posteriors.assign(static_cast<std::size_t>(n) + 1, {0, 0, 0});
  auto fail = [&posteriors] {
    posteriors.clear();
    return false;
  };

  // A member outside every nuclear family enters by its own weights. These
  // are the fixed-genotype method's numbers to the bit: the logarithm of each
  // sum, as a peel's LL would be, then the softmax.
  for (std::int32_t k = 1; k <= n; ++k) {
    if (listed[k] != 0) continue;
    std::array<long double, 3> log_lh{};
    for (std::int32_t g = 1; g <= G; ++g) {
      Extended sum = 0;
      for (std::int32_t j = 1; j <= J; ++j) sum += s.weights(k, g, j);
      log_lh[g - 1] = sum > 0 ? std::log(static_cast<double>(sum))
                              : -std::numeric_limits<Extended>::infinity();
    }
    const Extended top = std::max({log_lh[0], log_lh[1], log_lh[2]});
    if (!std::isfinite(static_cast<double>(top))) return fail();
    Extended total = 0;
    std::array<Extended, 3> e{};
    for (std::int32_t g = 0; g < G; ++g) {
      e[g] = std::exp(static_cast<double>(log_lh[g] - top));
      total += e[g];
    }
    for (std::int32_t g = 0; g < G; ++g) {
      posteriors[k][g] = static_cast<double>(e[g] / total);
    }
  }
  if (last < first) return true;

  const Transmission* t = model.transmission;
  if (t == nullptr) {
    DescribeTransmission(model, s.transmission,
                         static_cast<std::int32_t>(entries) - 2);
    t = &s.transmission;
  }
  s.DescribeCoefficients(model);

  // Pass up: PeelFamily's loop, keeping each connector's weights before its
  // nuclear family and where each member is summed out.
  for (std::int32_t k = 1; k <= n; ++k) s.summed[k] = 0;
  for (std::int32_t w = first; w <= last; ++w) {
    const std::span<const std::int32_t> list = store.NuclearMembers(w);
    if (list.size() < 2) return fail();
    const std::int32_t p1 = list[0], p2 = list[1];
    std::int32_t L = store.connector[w] == 0 ? p1 : store.connector[w];
    for (const std::int32_t x : list) {
      if (!AllFinite(s.weights.Member(x))) return fail();
    }
    const bool onto_parent = L == p1 || L == p2;
    if (!onto_parent) {
      if (list.size() < 3) return fail();
      L = list[2];
    }
    double* weights_L = s.weights.Member(L);
    std::copy(weights_L, weights_L + kStates,
              &s.before[static_cast<std::size_t>(w - first) * kStates]);
    s.connector[w - first] = L;
    for (const std::int32_t x : list) {
      if (x != L) s.summed[x] = 1;
    }
    if (onto_parent) {
      PeelOntoParent(*t, s.weights, L, L == p1 ? p2 : p1, list.subspan(2));
    } else {
      PeelOntoChild(*t, s.weights, p1, p2, L, list.subspan(3));
    }
    const Extended S = ConnectorScaleSum(weights_L);
    if (S == 0 || !std::isfinite(static_cast<double>(S))) return fail();
    RescaleConnector(weights_L, S);
  }

  // The posterior of member x from its vector and its message.
  auto posterior = [&](std::int32_t x, const Extended* v, const Extended* m) {
    std::array<Extended, 3> sum{};
    for (std::int32_t g = 0; g < G; ++g) {
      for (std::int32_t j = 0; j < J; ++j) {
        sum[g] += v[g * J + j] * m[g * J + j];
      }
    }
    const Extended total = sum[0] + sum[1] + sum[2];
    if (!(total > 0) || !std::isfinite(static_cast<double>(total))) {
      return false;
    }
    for (std::int32_t g = 0; g < G; ++g) {
      posteriors[x][g] = static_cast<double>(sum[g] / total);
    }
    return true;
  };

  // Pass down.
  for (std::int32_t k = 1; k <= n; ++k) {
    std::fill_n(&s.outer[static_cast<std::size_t>(k) * kStates], kStates,
                Extended{1});
    s.done[k] = 0;
  }
  for (std::int32_t w = last; w >= first; --w) {
    const std::span<const std::int32_t> list = store.NuclearMembers(w);
    const std::int32_t L = s.connector[w - first];
    const double* before =
        &s.before[static_cast<std::size_t>(w - first) * kStates];
    Extended* outer_L = &s.outer[static_cast<std::size_t>(L) * kStates];
    for (std::size_t e = 0; e < list.size(); ++e) {
      Extended* v = &s.vectors[e * kStates];
      if (list[e] == L) {
        for (std::int32_t q = 0; q < kStates; ++q)
          v[q] = before[q] * outer_L[q];
      } else {
        const double* own = s.weights.Member(list[e]);
        for (std::int32_t q = 0; q < kStates; ++q) v[q] = own[q];
      }
    }
    const std::size_t a = L == list[1] ? 1 : 0;
    if (!s.Messages(list.size(), a, 1 - a)) return fail();
    for (std::size_t e = 0; e < list.size(); ++e) {
      const std::int32_t x = list[e];
      const Extended* m = &s.messages[e * kStates];
      Extended* outer_x = &s.outer[static_cast<std::size_t>(x) * kStates];
      if (x == L) {
        if (s.summed[L] == 0 && s.done[L] == 0) {
          if (!posterior(L, &s.vectors[e * kStates], m)) return fail();
          s.done[L] = 1;
        }
        for (std::int32_t q = 0; q < kStates; ++q) outer_x[q] *= m[q];
        if (!Normalise(outer_x)) return fail();
      } else {
        if (!posterior(x, &s.vectors[e * kStates], m)) return fail();
        std::copy(m, m + kStates, outer_x);
      }
    }
  }
  return true;
}

}  // namespace segmix
