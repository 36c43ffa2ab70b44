// Test support for the family and sample likelihood: building a FamilyStore
// from short family descriptions, model quantities from parameter values and
// random pedigrees. The brute-force likelihood they are checked with is
// support/brute_force_likelihood.h.
#ifndef SEGMIX_TESTS_MODEL_MODEL_TEST_SUPPORT_H_
#define SEGMIX_TESTS_MODEL_MODEL_TEST_SUPPORT_H_

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include "data/family_store.h"
#include "data/validate_family_structure.h"
#include "model/extended.h"
#include "model/model_quantities.h"
#include "model/polygenic.h"
#include "model/trait_density.h"
#include "support/brute_force_likelihood.h"

namespace segmix::test {

inline constexpr float kMissing = -999.0f;

struct NuclearSpec {
  std::vector<std::int32_t> entries;  // parents, then children (positions)
  std::int32_t connector = 0;         // 0: terminal
};

// One family; per-member vectors are indexed by position - 1.
struct FamilyPlan {
  std::vector<NuclearSpec> nuclear;
  std::vector<float> trait;
  std::vector<std::int32_t> status;  // default 2
  std::vector<std::int32_t> sex;     // default 1
  std::int32_t Size() const { return static_cast<std::int32_t>(trait.size()); }
};

// A store laid out as the data reader lays it out, with the family weights
// (1 / members whose trait is at least -998, or 0).
inline FamilyStore BuildStore(const std::vector<FamilyPlan>& families) {
  FamilyStore s;
  const auto n = static_cast<std::int32_t>(families.size());
  s.listed_family_count = n;
  s.member_offset.assign(n + 2, 0);
  s.nuclear_offset.assign(n + 2, 0);
  s.member_offset[0] = n;
  s.list_offset.push_back(0);
  s.member_list.push_back(0);
  s.connector.push_back(0);
  s.sex.push_back(0);
  s.status.push_back(0);
  s.trait.push_back(0);
  std::int32_t members = 0, nuclear = 0, listed = 0;
  for (std::int32_t g = 1; g <= n; ++g) {
    const FamilyPlan& f = families[g - 1];
    s.member_offset[g] = members;
    s.nuclear_offset[g] = nuclear;
    for (const NuclearSpec& w : f.nuclear) {
      s.list_offset.push_back(listed);
      for (std::int32_t x : w.entries) s.member_list.push_back(x);
      listed += static_cast<std::int32_t>(w.entries.size());
      s.connector.push_back(w.connector);
      ++nuclear;
    }
    for (std::int32_t k = 0; k < f.Size(); ++k) {
      s.trait.push_back(f.trait[k]);
      s.status.push_back(
          k < static_cast<std::int32_t>(f.status.size()) ? f.status[k] : 2);
      s.sex.push_back(k < static_cast<std::int32_t>(f.sex.size()) ? f.sex[k]
                                                                  : 1);
    }
    members += f.Size();
  }
  s.member_offset[n + 1] = members;
  s.nuclear_offset[n + 1] = nuclear;
  s.list_offset.push_back(listed);
  s.list_offset_count = nuclear + 2;
  s.member_list_length = listed;
  s.member_count = members;
  for (auto& column : s.covariate) column.assign(members + 1, 0.0f);
  s.family_weight.assign(N_FAM + 1, 0.0);
  for (std::int32_t g = 1; g <= n; ++g) {
    std::int32_t observed = 0;
    for (float y : families[g - 1].trait) observed += (y >= -998.0f);
    if (observed > 0) s.family_weight[g] = 1.0 / observed;
  }
  return s;
}

// Model quantities for the given values, as the parameter checks derive them.
struct Model {
  ModelQuantities q;
  PolygenicTables poly;

  Model() {
    BuildPolygenicTransmission(poly);
    FillPolygenicFrequency(poly);
  }
  void Set(double Q, double MU, double A, double D, double pga, double SIG,
           double sex_shift = 0) {
    const Extended t = 1 - static_cast<Extended>(Q);
    const Extended p3 = t * t, p2 = (2 * t) * Q;
    q.GenotypeFrequency = {0, static_cast<double>((1 - p2) - p3),
                           static_cast<double>(p2), static_cast<double>(p3)};
    const double m[4] = {0, MU, A, D};
    for (int g = 1; g <= 3; ++g) {
      q.GenotypeMean[1][g] = m[g];
      q.GenotypeMean[2][g] = m[g] + sex_shift;
    }
    q.pga = pga;
    q.SIG = SIG;
  }
  // The general transmission table from T(i), the probability that a parent
  // of major genotype i transmits the allele genotype 1 carries twice.
  void SetTransmission(double t1, double t2, double t3) {
    const Extended T[4] = {0, t1, t2, t3};
    for (int g1 = 1; g1 <= 3; ++g1) {
      for (int g2 = 1; g2 <= 3; ++g2) {
        const Extended a = T[g1], b = T[g2];
        const Extended o[4] = {0, a * b, a * (1 - b) + b * (1 - a),
                               (1 - a) * (1 - b)};
        for (int c = 1; c <= 3; ++c) {
          q.MajorTransmission[(c - 1) + 3 * (g1 - 1) + 9 * (g2 - 1)] =
              static_cast<double>(o[c]);
        }
      }
    }
  }
};

// Random pedigree shapes; labels 1..K are listed members (at most 6), then
// `unlisted` members listed nowhere, all placed at shuffled positions.
enum class Shape {
  kNuclear,        // two parents, 0..3 children, terminal
  kThroughChild,   // grandparents peeled onto their child, then its family
  kThroughParent,  // a family peeled onto a parent, then the grandparents'
  kHalfSibs,       // one parent in two nuclear families
  kTwoTerminal,    // a trio and a childless couple, each terminal
  kChain,          // three generations, peeled down onto children twice
  kOpenLast,       // one nuclear family whose connector is not 0
};
inline constexpr Shape kShapes[] = {Shape::kNuclear,       Shape::kThroughChild,
                                    Shape::kThroughParent, Shape::kHalfSibs,
                                    Shape::kTwoTerminal,   Shape::kChain,
                                    Shape::kOpenLast};

class PedigreeMaker {
 public:
  explicit PedigreeMaker(std::uint64_t seed) : rng_(seed) {}
  // The shapes whose listed members number 6 (with an optional sibling);
  // the brute force over them and more members gets slow.
  static bool Large(Shape shape) {
    return shape == Shape::kThroughChild || shape == Shape::kThroughParent;
  }
  std::mt19937_64& Rng() { return rng_; }
  int Uniform(int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(rng_);
  }
  double Real(double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng_);
  }

  // Traits drawn around `centre` with spread `spread`; a fifth missing.
  FamilyPlan Make(Shape shape, int unlisted, double centre, double spread) {
    std::vector<NuclearSpec> lists;
    int K = 0;
    auto nf = [&](std::vector<std::int32_t> parents,
                  std::vector<std::int32_t> children, std::int32_t connector) {
      if (Uniform(0, 1)) std::swap(parents[0], parents[1]);
      // A connecting child stays first; the others are shuffled.
      const bool child_connector =
          connector != 0 && connector != parents[0] && connector != parents[1];
      std::shuffle(children.begin() + (child_connector ? 1 : 0), children.end(),
                   rng_);
      NuclearSpec w;
      w.entries = parents;
      w.entries.insert(w.entries.end(), children.begin(), children.end());
      w.connector = connector;
      lists.push_back(w);
    };
    switch (shape) {
      case Shape::kNuclear: {
        const int c = Uniform(0, 3);
        std::vector<std::int32_t> kids;
        for (int i = 0; i < c; ++i) kids.push_back(3 + i);
        nf({1, 2}, kids, 0);
        K = 2 + c;
        break;
      }
      case Shape::kThroughChild: {
        const bool sib = Uniform(0, 1);
        std::vector<std::int32_t> kids = {3};
        if (sib) kids.push_back(4);
        nf({1, 2}, kids, 3);
        nf({3, 5}, {6}, 0);
        K = 6;
        break;
      }
      case Shape::kThroughParent: {
        const bool sib = Uniform(0, 1);
        nf({3, 5}, {6}, 3);
        std::vector<std::int32_t> kids = {3};
        if (sib) kids.push_back(4);
        nf({1, 2}, kids, 0);
        K = 6;
        break;
      }
      case Shape::kHalfSibs:
        nf({1, 2}, {3}, 1);
        nf({1, 4}, {5}, 0);
        K = 5;
        break;
      case Shape::kTwoTerminal:
        nf({1, 2}, {3}, 0);
        nf({4, 5}, {}, 0);
        K = 5;
        break;
      case Shape::kChain:
        nf({1, 2}, {3}, 3);
        nf({3, 4}, {5}, 5);
        K = 5;
        break;
      case Shape::kOpenLast: {
        const int c = Uniform(1, 2);
        std::vector<std::int32_t> kids;
        for (int i = 0; i < c; ++i) kids.push_back(3 + i);
        const std::int32_t connector = Uniform(0, 1) ? 2 : 3;
        nf({1, 2}, kids, connector);
        K = 2 + c;
        break;
      }
    }
    // Missing labels (a shape with an optional sibling) become unlisted.
    const int total = K + unlisted;
    std::vector<std::int32_t> position(total + 1);
    std::iota(position.begin() + 1, position.end(), 1);
    std::shuffle(position.begin() + 1, position.end(), rng_);
    FamilyPlan f;
    for (NuclearSpec& w : lists) {
      for (std::int32_t& x : w.entries) x = position[x];
      if (w.connector != 0) w.connector = position[w.connector];
    }
    f.nuclear = lists;
    f.trait.resize(total);
    f.status.resize(total);
    f.sex.resize(total);
    for (int k = 0; k < total; ++k) {
      f.trait[k] = Uniform(0, 4) == 0
                       ? kMissing
                       : static_cast<float>(centre + Real(-spread, spread));
      f.status[k] = Uniform(0, 2);
      f.sex[k] = Uniform(1, 2);
    }
    return f;
  }

 private:
  std::mt19937_64 rng_;
};

}  // namespace segmix::test

#endif  // SEGMIX_TESTS_MODEL_MODEL_TEST_SUPPORT_H_
