// SampleLogLikelihood: the parameter gate, the family loop with its
// ascertainment correction, the evaluation line and the LH_fam.dat records.
//
// Arithmetic: each member sum is accumulated in extended precision; the pass
// value, the family term and the result are doubles, each update formed in
// extended precision from the stored operands and rounded once.
#include "model/sample_likelihood.h"

#include <cmath>

#include "model/extended.h"
#include "model/parameter_checks.h"
#include "textio/statements.h"

namespace segmix {

namespace {

constexpr int kFamilyUnit = 3;  // LH_fam.dat

// s + 1e18 <= 0 with the single-precision 1e18 (999999984306749440): the
// parameter checks rejected the point.
bool Rejected(double status) {
  return static_cast<Extended>(status) + static_cast<Extended>(1e18f) <= 0;
}

// A member sum at or below the single-precision 1e-17 means the member's
// weights underflowed: the family cannot be evaluated.
constexpr Extended kMemberSumFloor = static_cast<Extended>(1e-17f);

}  // namespace

SampleLikelihood::SampleLikelihood(ParameterTable& parameters,
                                   const FamilyStore& store,
                                   const PolygenicTables& polygenic,
                                   SampleSettings settings, TextUnits& units)
    : parameters_(parameters),
      store_(store),
      polygenic_(polygenic),
      settings_(settings),
      units_(units),
      weights_(store.LargestFamilySize()) {}

bool SampleLikelihood::Pass(std::int32_t g, double& V, bool& has_status0) {
  V = 0;
  const std::int32_t n = store_.FamilySize(g);
  if (n <= 0) return true;

  const LikelihoodModel model{store_,
                              quantities_,
                              polygenic_,
                              settings_.covariate_count,
                              parameters_.in_model[kSex],
                              correction_pass_};
  PrepareGenotypeWeights(model, g, weights_);
  const std::int32_t base = store_.MemberOffset(g);
  for (std::int32_t k = 1; k <= n; ++k) {
    if (store_.status[base + k] == 0) has_status0 = true;
  }

  if (store_.LastNuclear(g) >= store_.FirstNuclear(g)) {
    if (!PeelFamily(model, g, weights_, V)) return false;
  }

  // One member term for each position listed in no nuclear family (the
  // listed ones are already in the peeled value), in ascending order.
  const std::vector<unsigned char>& listed = weights_.Marks();
  for (std::int32_t m = 1; m <= n; ++m) {
    if (listed[m] != 0) continue;
    const double* w = weights_.Member(m);
    Extended S = 0;
    for (std::int32_t s = 0; s < kJointGenotypes; ++s) S += w[s];
    if (S <= kMemberSumFloor) return false;
    V = static_cast<double>(
        V + static_cast<Extended>(std::log(static_cast<double>(S))));
  }
  return true;
}

double SampleLikelihood::SampleLogLikelihood() {
  const double status =
      RunMode == 1 ? AcceptParameters(parameters_, settings_.covariate_count,
                                      quantities_)
                   : CheckParameters(parameters_, settings_.covariate_count,
                                     quantities_, units_);
  if (Rejected(status)) return FailureSentinel;

  double result = 0;
  const std::int32_t family_count = store_.StoredFamilyCount();
  for (std::int32_t g = 1; g <= family_count; ++g) {
    const bool selected =
        static_cast<std::size_t>(g) < settings_.selection_flags.size() &&
        settings_.selection_flags[g] != 0;
    const double weight =
        static_cast<std::size_t>(g) < store_.family_weight.size()
            ? store_.family_weight[g]
            : 0.0;
    if (!selected || weight == 0) continue;

    correction_pass_ = 0;
    double term = 0;
    bool has_status0 = false;
    for (;;) {
      double V = 0;
      if (!Pass(g, V, has_status0)) return FailureSentinel;
      if (correction_pass_ == 0) {
        term = V;
        if (settings_.proband_switch == 0 && !has_status0) break;
        correction_pass_ = 1;
      } else {
        term = static_cast<double>(static_cast<Extended>(term) - V);
        break;
      }
    }
    result = static_cast<double>(static_cast<Extended>(result) + term);

    if (RunMode == 2) {
      WriteStatement record(units_, kFamilyUnit);
      record << g << store_.FamilySize(g)
             << static_cast<double>(static_cast<Extended>(term) * weight);
      record.End();
    }
  }

  WriteStatement line(units_, kConsole, "(f15.4,9f8.5)");
  line << result << parameters_.value[kQ] << parameters_.value[kMU]
       << parameters_.value[kA] << parameters_.value[kD]
       << parameters_.value[kSIG];
  line.End();
  return result;
}

}  // namespace segmix
