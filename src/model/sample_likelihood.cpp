// SampleLikelihood: the parameter gate, the family loop with its
// ascertainment correction, and the records handed to the observer.
//
// Arithmetic: each member sum is accumulated in extended precision; the pass
// value, the family term and the result are doubles, each update formed in
// extended precision from the stored operands and rounded once.
#include "model/sample_likelihood.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <stdexcept>
#include <string>

#include "model/extended.h"
#include "model/parameter_checks.h"
#include "model/screening_peel.h"

namespace segmix {

namespace {

// A member sum at or below the single-precision 1e-17 means the member's
// weights underflowed: the family cannot be evaluated.
constexpr Extended kMemberSumFloor = static_cast<Extended>(1e-17f);

// Below this many families the threads cost more than they save.
constexpr std::size_t kFamiliesPerWorker = 4;

std::int32_t WorkersFor(std::size_t families, std::int32_t requested) {
  if (requested > 0) return requested;
  const std::size_t useful = families / kFamiliesPerWorker;
  const std::size_t machine =
      static_cast<std::size_t>(WorkerPool::MachineWorkers());
  return static_cast<std::int32_t>(
      std::max<std::size_t>(1, std::min(useful, machine)));
}

std::vector<std::int32_t> EvaluatedFamilies(const FamilyStore& store,
                                            const SampleSettings& settings) {
  std::vector<std::int32_t> families;
  const std::int32_t family_count = store.StoredFamilyCount();
  for (std::int32_t g = 1; g <= family_count; ++g) {
    const bool selected =
        static_cast<std::size_t>(g) < settings.selection_flags.size() &&
        settings.selection_flags[g] != 0;
    const double weight =
        static_cast<std::size_t>(g) < store.family_weight.size()
            ? store.family_weight[g]
            : 0.0;
    if (selected && weight != 0) families.push_back(g);
  }
  return families;
}

std::int32_t MostChildren(const FamilyStore& store,
                          const std::vector<std::int32_t>& families) {
  std::size_t most = 0;
  for (const std::int32_t g : families) {
    for (std::int32_t w = store.FirstNuclear(g); w <= store.LastNuclear(g);
         ++w) {
      const std::size_t entries = store.NuclearMembers(w).size();
      if (entries > 2) most = std::max(most, entries - 2);
    }
  }
  return static_cast<std::int32_t>(
      std::min<std::size_t>(most, Transmission::kMostOnesChildren));
}

// The most siblings of a connector child (a nuclear family peeled onto its
// first child, as PeelFamily decides) in those families, -1 for none: how far
// the evaluation's table of such children goes.
std::int32_t MostSiblingsOntoChild(const FamilyStore& store,
                                   const std::vector<std::int32_t>& families) {
  std::int32_t most = -1;
  for (const std::int32_t g : families) {
    for (std::int32_t w = store.FirstNuclear(g); w <= store.LastNuclear(g);
         ++w) {
      const std::span<const std::int32_t> entries = store.NuclearMembers(w);
      const std::int32_t L = store.connector[w];
      if (entries.size() < 3 || L == 0 || L == entries[0] || L == entries[1]) {
        continue;
      }
      most = std::max(most, static_cast<std::int32_t>(entries.size()) - 3);
    }
  }
  return std::min(most, Transmission::kMostOnesChildren);
}

// Under the threshold kind every visited family needs a threshold that is a
// number; the families are as EvaluatedFamilies lists them.
const std::vector<std::int32_t>& CheckThresholds(
    const std::vector<std::int32_t>& families, const SampleSettings& settings) {
  if (settings.correction_kind != CorrectionKind::kThreshold) return families;
  for (const std::int32_t g : families) {
    if (static_cast<std::size_t>(g) >= settings.thresholds.size()) {
      throw std::invalid_argument("no threshold for family " +
                                  std::to_string(g));
    }
    if (std::isnan(settings.thresholds[g])) {
      throw std::invalid_argument("the threshold of family " +
                                  std::to_string(g) + " is not a number");
    }
  }
  return families;
}

}  // namespace

SampleLikelihood::SampleLikelihood(ParameterTable& parameters,
                                   const FamilyStore& store,
                                   const PolygenicTables& polygenic,
                                   SampleSettings settings)
    : parameters_(parameters),
      store_(store),
      polygenic_(polygenic),
      settings_(settings),
      evaluated_(CheckThresholds(EvaluatedFamilies(store, settings), settings)),
      most_children_(MostChildren(store, evaluated_)),
      most_siblings_onto_child_(MostSiblingsOntoChild(store, evaluated_)),
      outcomes_(evaluated_.size()),
      pool_(WorkersFor(evaluated_.size(), settings.worker_count)),
      weights_(static_cast<std::size_t>(pool_.WorkerCount()),
               GenotypeWeights(store.LargestFamilySize())) {}

EvaluationStatus SampleLikelihood::Pass(std::int32_t g,
                                        std::int32_t correction_pass,
                                        GenotypeWeights& weights, double& V,
                                        bool& has_status0) const {
  V = 0;
  const std::int32_t n = store_.FamilySize(g);
  if (n <= 0) return EvaluationStatus::kOk;

  const LikelihoodModel model{store_,
                              quantities_,
                              polygenic_,
                              settings_.covariate_count,
                              parameters_.in_model[kSex],
                              correction_pass,
                              &transmission_,
                              settings_.correction_kind,
                              ThresholdOf(g)};
  PrepareGenotypeWeights(model, g, weights);
  const std::int32_t base = store_.MemberOffset(g);
  for (std::int32_t k = 1; k <= n; ++k) {
    if (store_.status[base + k] == 0) has_status0 = true;
  }

  if (store_.LastNuclear(g) >= store_.FirstNuclear(g)) {
    if (!PeelFamily(model, g, weights, V)) {
      return EvaluationStatus::kPeelingFailed;
    }
  }

  // One member term for each position listed in no nuclear family (the
  // listed ones are already in the peeled value), in ascending order.
  const std::vector<unsigned char>& listed = weights.Marks();
  for (std::int32_t m = 1; m <= n; ++m) {
    if (listed[m] != 0) continue;
    const double* w = weights.Member(m);
    Extended S = 0;
    for (std::int32_t s = 0; s < kJointGenotypes; ++s) S += w[s];
    if (S <= kMemberSumFloor) return EvaluationStatus::kMemberUnderflow;
    V = static_cast<double>(
        V + static_cast<Extended>(std::log(static_cast<double>(S))));
  }
  return EvaluationStatus::kOk;
}

double SampleLikelihood::ThresholdOf(std::int32_t g) const {
  return settings_.correction_kind == CorrectionKind::kThreshold
             ? settings_.thresholds[static_cast<std::size_t>(g)]
             : 0.0;
}

SampleLikelihood::FamilyOutcome SampleLikelihood::EvaluateFamily(
    std::int32_t g, GenotypeWeights& weights) const {
  FamilyOutcome outcome;
  bool has_status0 = false;
  double V = 0;
  outcome.status = Pass(g, 0, weights, V, has_status0);
  if (outcome.status != EvaluationStatus::kOk) return outcome;
  outcome.term = V;
  if (settings_.proband_switch == 0 && !has_status0) return outcome;
  outcome.correction_pass = 1;
  outcome.status = Pass(g, 1, weights, V, has_status0);
  if (outcome.status != EvaluationStatus::kOk) return outcome;
  outcome.term = static_cast<double>(static_cast<Extended>(outcome.term) - V);
  return outcome;
}

void SampleLikelihood::FamilyTask(void* context, std::int32_t index,
                                  std::int32_t worker) {
  auto& self = *static_cast<SampleLikelihood*>(context);
  self.outcomes_[index] = self.EvaluateFamily(
      self.evaluated_[index], self.weights_[static_cast<std::size_t>(worker)]);
}

EvaluationOutcome SampleLikelihood::Evaluate(Gate gate,
                                             EvaluationObserver* observer) {
  EvaluationOutcome result;
  const auto refuse = [&](const ParameterRejection& rejection) {
    if (gate == Gate::kChecked && observer != nullptr) {
      observer->Rejected(rejection);
    }
    result.status = EvaluationStatus::kRejectedPoint;
    result.ln_lh = FailureSentinel;
    result.rejection = rejection;
    return result;
  };
  if (const auto rejection = AdmitParameters(
          gate, parameters_, settings_.covariate_count, quantities_)) {
    return refuse(*rejection);
  }

  DescribeTransmission(
      LikelihoodModel{store_, quantities_, polygenic_,
                      settings_.covariate_count, parameters_.in_model[kSex]},
      transmission_, most_children_, most_siblings_onto_child_);
  transmission_.screening = settings_.screening && transmission_.finite;
  if (transmission_.screening) DescribeScreening(transmission_);
  pool_.Run(static_cast<std::int32_t>(evaluated_.size()), &FamilyTask, this);

  // The terms in family order: the first failure ends the evaluation, after
  // the families before it.
  double sum = 0;
  std::size_t end = evaluated_.size();
  for (std::size_t index = 0; index < evaluated_.size(); ++index) {
    const FamilyOutcome& outcome = outcomes_[index];
    correction_pass_ = outcome.correction_pass;
    if (outcome.status != EvaluationStatus::kOk) {
      result.status = outcome.status;
      result.family = evaluated_[index];
      end = index;
      break;
    }
    sum = static_cast<double>(static_cast<Extended>(sum) + outcome.term);
  }

  // Terms that are not numbers never reach a record.
  const bool undefined = std::isnan(sum);
  if (observer != nullptr && !undefined) {
    for (std::size_t index = 0; index < end; ++index) {
      const std::int32_t g = evaluated_[index];
      observer->FamilyTerm(
          g, store_.FamilySize(g),
          static_cast<double>(static_cast<Extended>(outcomes_[index].term) *
                              store_.family_weight[g]));
    }
  }
  if (result.status != EvaluationStatus::kOk) {
    result.ln_lh = FailureSentinel;
    return result;
  }
  if (undefined) {
    return refuse(ParameterRejection{RejectionKind::kNotANumber, 0, sum, 0, 0});
  }
  result.ln_lh = sum;
  if (observer != nullptr) observer->Evaluated(sum, parameters_);
  return result;
}

}  // namespace segmix
