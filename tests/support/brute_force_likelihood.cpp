// The brute-force family likelihood (see brute_force_likelihood.h).
#include "support/brute_force_likelihood.h"

#include <cmath>
#include <functional>
#include <stdexcept>

#include "data/family_store.h"
#include "model/extended.h"
#include "model/model_quantities.h"
#include "model/polygenic.h"

namespace segmix::test {
namespace {

constexpr int kStates = kJointStates;

// Binomial coefficient as an exact small integer.
long double Choose(int n, int k) {
  if (k < 0 || k > n) return 0;
  long double c = 1;
  for (int i = 1; i <= k; ++i) c = c * (n - k + i) / i;
  return c;
}

}  // namespace

GeneticTables PlainGeneticTables(long double Q,
                                 const std::array<long double, 3>& pass) {
  GeneticTables t;
  const long double major_prior[3] = {Q * Q, 2 * Q * (1 - Q),
                                      (1 - Q) * (1 - Q)};
  long double major[3][3][3];  // [child][g1][g2], genotypes from 0
  for (int a = 0; a < 3; ++a) {
    for (int b = 0; b < 3; ++b) {
      major[0][a][b] = pass[a] * pass[b];
      major[1][a][b] = pass[a] * (1 - pass[b]) + pass[b] * (1 - pass[a]);
      major[2][a][b] = (1 - pass[a]) * (1 - pass[b]);
    }
  }
  // A parent with x increasing alleles among 6 passes k of them in a gamete
  // of 3 drawn without replacement.
  long double gamete[7][4];
  for (int x = 0; x <= 6; ++x) {
    for (int k = 0; k <= 3; ++k) {
      gamete[x][k] = Choose(x, k) * Choose(6 - x, 3 - k) / Choose(6, 3);
    }
  }
  long double poly[7][7][7] = {};  // [child][a][b], counts from 0
  for (int a = 0; a <= 6; ++a) {
    for (int b = 0; b <= 6; ++b) {
      for (int ka = 0; ka <= 3; ++ka) {
        for (int kb = 0; kb <= 3; ++kb) {
          poly[ka + kb][a][b] += gamete[a][ka] * gamete[b][kb];
        }
      }
    }
  }
  for (int s = 0; s < kStates; ++s) {
    t.prior[s] = major_prior[s / 7] * (Choose(6, s % 7) / 64.0L);
  }
  for (int c = 0; c < kStates; ++c) {
    for (int a = 0; a < kStates; ++a) {
      for (int b = 0; b < kStates; ++b) {
        t.transmission[(c * kStates + a) * kStates + b] =
            major[c / 7][a / 7][b / 7] * poly[c % 7][a % 7][b % 7];
      }
    }
  }
  return t;
}

StateValues PlainDensities(long double y,
                           const std::array<long double, 3>& major_mean,
                           long double shift, long double pga,
                           long double SIG) {
  StateValues d;
  for (int s = 0; s < kStates; ++s) {
    const long double mean = major_mean[s / 7] + shift + (s % 7 - 3) * pga;
    const long double r = y - mean;
    d[s] = std::exp(-r * r / (2 * SIG)) / std::sqrt(SIG);
  }
  return d;
}

long double BruteForceFamilyLikelihood(
    std::span<const BruteForceMember> members, const GeneticTables& tables) {
  const int n = static_cast<int>(members.size());
  std::vector<bool> is_parent(n, false);
  for (const BruteForceMember& m : members) {
    if ((m.father < 0) != (m.mother < 0) || m.father >= n || m.mother >= n) {
      throw std::invalid_argument("brute force: a parent outside the family");
    }
    if (m.father >= 0) is_parent[m.father] = is_parent[m.mother] = true;
  }
  // The parents, each after its own parents (who are parents too).
  std::vector<int> order;
  std::vector<bool> placed(n, false);
  for (bool progress = true; progress;) {
    progress = false;
    for (int k = 0; k < n; ++k) {
      if (!is_parent[k] || placed[k]) continue;
      const BruteForceMember& m = members[k];
      if (m.father >= 0 && !(placed[m.father] && placed[m.mother])) continue;
      placed[k] = true;
      order.push_back(k);
      progress = true;
    }
  }
  for (int k = 0; k < n; ++k) {
    if (is_parent[k] && !placed[k]) {
      throw std::invalid_argument("brute force: a member is its own ancestor");
    }
  }
  // Everyone else factors out: founders with their prior-weighted sum, and
  // children with their own sum for every pair of parent states.
  long double founders = 1;
  std::vector<int> leaves;
  std::vector<std::vector<long double>> leaf_sum;
  for (int k = 0; k < n; ++k) {
    if (is_parent[k]) continue;
    const BruteForceMember& m = members[k];
    if (m.father < 0) {
      long double sum = 0;
      for (int s = 0; s < kStates; ++s) sum += tables.prior[s] * m.density[s];
      founders *= sum;
      continue;
    }
    std::vector<long double> sums(kStates * kStates);
    for (int a = 0; a < kStates; ++a) {
      for (int b = 0; b < kStates; ++b) {
        long double sum = 0;
        for (int c = 0; c < kStates; ++c) {
          sum += tables.Transmission(c, a, b) * m.density[c];
        }
        sums[a * kStates + b] = sum;
      }
    }
    leaves.push_back(k);
    leaf_sum.push_back(std::move(sums));
  }
  std::vector<int> state(n, 0);
  long double total = 0;
  std::function<void(std::size_t, long double)> visit =
      [&](std::size_t depth, long double product) {
        if (depth == order.size()) {
          for (std::size_t i = 0; i < leaves.size(); ++i) {
            const BruteForceMember& m = members[leaves[i]];
            product *= leaf_sum[i][state[m.father] * kStates + state[m.mother]];
          }
          total += product;
          return;
        }
        const int k = order[depth];
        const BruteForceMember& m = members[k];
        for (int s = 0; s < kStates; ++s) {
          const long double factor =
              m.father < 0
                  ? tables.prior[s]
                  : tables.Transmission(s, state[m.father], state[m.mother]);
          if (factor == 0) continue;
          state[k] = s;
          visit(depth + 1, product * factor * m.density[s]);
        }
      };
  visit(0, 1.0L);
  return founders * total;
}

long double BruteForceLikelihood(const LikelihoodModel& model, std::int32_t f,
                                 bool include_unlisted) {
  const FamilyStore& s = model.store;
  const std::int32_t n = s.FamilySize(f), base = s.MemberOffset(f);
  // Family positions 1..n; father[k] = 0: no parents in any list.
  std::vector<std::int32_t> father(n + 1, 0), mother(n + 1, 0);
  std::vector<bool> listed(n + 1, false);
  for (std::int32_t w = s.FirstNuclear(f); w <= s.LastNuclear(f); ++w) {
    const auto e = s.NuclearMembers(w);
    for (std::size_t i = 0; i < e.size(); ++i) {
      listed[e[i]] = true;
      if (i >= 2) {
        father[e[i]] = e[0];
        mother[e[i]] = e[1];
      }
    }
  }
  // The members summed over, numbered from 0 in family order.
  std::vector<int> index(n + 1, -1);
  std::vector<BruteForceMember> members;
  for (std::int32_t k = 1; k <= n; ++k) {
    if (!(listed[k] || include_unlisted)) continue;
    index[k] = static_cast<int>(members.size());
    BruteForceMember m;
    for (int g = 1; g <= 3; ++g) {
      for (int j = 1; j <= 7; ++j) {
        m.density[(g - 1) * 7 + j - 1] = TraitDensity(model, base + k, g, j);
      }
    }
    members.push_back(m);
  }
  for (std::int32_t k = 1; k <= n; ++k) {
    if (index[k] < 0 || father[k] == 0) continue;
    members[index[k]].father = index[father[k]];
    members[index[k]].mother = index[mother[k]];
  }
  GeneticTables tables;
  const ModelQuantities& q = model.quantities;
  const PolygenicTables& poly = model.polygenic;
  for (int st = 0; st < kStates; ++st) {
    const int g = st / 7 + 1, j = st % 7 + 1;
    tables.prior[st] = static_cast<Extended>(q.GenotypeFrequency[g]) *
                       poly.PolygenicFrequency[j];
  }
  for (int c = 0; c < kStates; ++c) {
    for (int a = 0; a < kStates; ++a) {
      for (int b = 0; b < kStates; ++b) {
        const int gc = c / 7, ga = a / 7, gb = b / 7;
        const int jc = c % 7, ja = a % 7, jb = b % 7;
        tables.transmission[(c * kStates + a) * kStates + b] =
            static_cast<Extended>(q.MajorTransmission[gc + 3 * ga + 9 * gb]) *
            poly.PolygenicTransmission[jc + 7 * ja + 49 * jb];
      }
    }
  }
  return BruteForceFamilyLikelihood(members, tables);
}

}  // namespace segmix::test
