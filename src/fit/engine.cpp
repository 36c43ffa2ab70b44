// The adapter between segmix-fit and the core. It loads with the core's
// loader and fits with the core's RecordedFit, the sequence segmix's own run
// steps through, so that a fit here and a segmix run on the same par.inp give
// the same bits and files.
#include "fit/engine.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <optional>
#include <ostream>
#include <span>
#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <utility>

#include "fit/transform.h"
#include "model/conditional_sampler.h"
#include "model/evaluation.h"
#include "model/genotype_posteriors.h"
#include "model/sample_likelihood.h"
#include "model/trait_density.h"
#include "run/recorded_fit.h"
#include "textio/text_units.h"

namespace segmix::fit {
namespace {

// Swallows what it is given: the console of silent fits.
class NullBuffer final : public std::streambuf {
 protected:
  int overflow(int c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

bool Observed(float trait) { return trait > kMissingTrait; }

std::string Trimmed(const std::string& name) {
  const auto end = name.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : name.substr(0, end + 1);
}

// Keeps the best ln LH of the search for the progress line and the family
// terms of the final pass for families.csv.
class FitObserver final : public EvaluationObserver {
 public:
  explicit FitObserver(std::int32_t family_count)
      : family_terms_(static_cast<std::size_t>(family_count) + 1,
                      std::numeric_limits<double>::quiet_NaN()) {}
  void FamilyTerm(std::int32_t g, std::int32_t, double term) override {
    if (final_pass_ && g >= 1 &&
        g < static_cast<std::int32_t>(family_terms_.size())) {
      family_terms_[static_cast<std::size_t>(g)] = term;
    }
  }
  void Evaluated(double ln_lh, const ParameterTable&) override {
    if (ln_lh > best_) best_ = ln_lh;
  }
  void BeginFinalPass() { final_pass_ = true; }
  double best() const { return best_; }
  std::vector<double>& family_terms() { return family_terms_; }

 private:
  std::vector<double> family_terms_;
  bool final_pass_ = false;
  double best_ = -std::numeric_limits<double>::infinity();
};

}  // namespace

Analysis LoadAnalysis(const std::filesystem::path& directory) {
  Analysis analysis;
  analysis.directory = std::filesystem::absolute(directory);
  std::ostringstream console;
  TextUnits units(console, analysis.directory);
  analysis.core = segmix::LoadAnalysis(units);
  units.CloseAll();
  analysis.load_console = console.str();
  analysis.settings = analysis.core.settings;
  analysis.base = analysis.core.parameters;
  analysis.counts = analysis.core.counts;
  const ControlSettings& settings = analysis.settings;

  analysis.input_files = {"par.inp", "iway.dat",
                          Trimmed(settings.data_file_name)};
  for (int q = 1; q <= settings.covariate_count; ++q) {
    analysis.input_files.push_back(Trimmed(settings.covariate_file_names[q]));
  }

  const FamilyStore& store = analysis.core.store;
  const std::int32_t n = store.StoredFamilyCount();
  analysis.families.assign(static_cast<std::size_t>(n) + 1, FamilyFacts{});
  long double sum = 0, sum2 = 0;
  std::int64_t count = 0;
  for (std::int32_t g = 1; g <= n; ++g) {
    FamilyFacts& f = analysis.families[g];
    f.index = g;
    f.members = store.FamilySize(g);
    f.selected =
        g < static_cast<std::int32_t>(settings.selection_flags.size()) &&
        settings.selection_flags[g] != 0;
    f.weight = g < static_cast<std::int32_t>(store.family_weight.size())
                   ? store.family_weight[g]
                   : 0;
    f.evaluated = f.selected && f.weight != 0 && f.members > 0;
    bool has_status0 = false;
    std::int32_t observed_probands = 0;
    const std::int32_t base = store.MemberOffset(g);
    for (std::int32_t k = 1; k <= f.members; ++k) {
      const float y = store.trait[base + k];
      const std::int32_t status = store.status[base + k];
      if (status == 0) has_status0 = true;
      if (status != 2) ++f.probands;
      if (!Observed(y)) continue;
      ++f.observed;
      if (status != 2) ++observed_probands;
      if (f.evaluated) {
        sum += y;
        sum2 += static_cast<long double>(y) * y;
        ++count;
      }
    }
    f.corrected = f.evaluated && (settings.proband_switch != 0 || has_status0);
    f.constant_members =
        f.corrected ? f.observed - observed_probands : f.observed;
  }
  if (count > 1) {
    analysis.trait_mean = static_cast<double>(sum / count);
    const long double var = (sum2 - sum * sum / count) / (count - 1);
    analysis.trait_sd = var > 0 ? std::sqrt(static_cast<double>(var)) : 1.0;
  }
  return analysis;
}

void UseThresholdCorrection(Analysis& analysis,
                            std::vector<double> thresholds) {
  const std::int32_t n = analysis.core.store.StoredFamilyCount();
  if (thresholds.size() != static_cast<std::size_t>(n) + 1) {
    throw std::invalid_argument(
        std::to_string(thresholds.size()) + " thresholds for " +
        std::to_string(n) + " families (entry [0] is not read but counted)");
  }
  for (std::int32_t g = 1; g <= n; ++g) {
    if (analysis.families[g].evaluated && std::isnan(thresholds[g])) {
      throw std::invalid_argument("the threshold of family " +
                                  std::to_string(g) + " is not a number");
    }
  }
  analysis.core.correction = {CorrectionKind::kThreshold,
                              std::move(thresholds)};
  for (FamilyFacts& f : analysis.families) {
    if (f.corrected) f.constant_members = f.observed;
  }
}

FitOutcome RunFit(const Analysis& analysis, const ParameterTable& start,
                  const FitFiles* files, const EvaluationProgress& progress,
                  int threads) {
  FitOutcome outcome;
  outcome.table = start;

  NullBuffer null_buffer;
  std::ostream null_console(&null_buffer);
  std::ofstream console_file;
  RunFiles run_files;  // silent unless there are files
  if (files != nullptr) {
    console_file.open(files->console, std::ios::binary | std::ios::trunc);
    console_file << analysis.load_console;
    run_files = RunFiles{.console = true,
                         .par_err = files->par_err.string(),
                         .max_file = files->max_file.string(),
                         .sigma_file = files->sigma_file.string(),
                         .family_file = files->family_file.string()};
  }
  std::ostream& console = files != nullptr
                              ? static_cast<std::ostream&>(console_file)
                              : null_console;
  TextUnits units(console, analysis.directory);
  FitObserver observer(analysis.core.store.StoredFamilyCount());
  RunHooks hooks;
  hooks.observer = &observer;
  hooks.checkpoint = [&](RunPoint point, std::int32_t evaluations) {
    if (point == RunPoint::kBeforeEvaluation && progress && evaluations > 0) {
      progress(evaluations, observer.best());
    }
    if (point == RunPoint::kAfterSummary) observer.BeginFinalPass();
  };
  const RunOutcome run = RecordedFit(analysis.core, outcome.table, units,
                                     run_files, hooks, threads);
  units.CloseAll();

  outcome.initial_ln_lh = run.initial_ln_lh;
  if (run.end != RunEnd::kCompleted) {
    outcome.start_rejected = true;
    outcome.result.final_ln_lh = outcome.initial_ln_lh;
    outcome.refusal = !run.failure_text.empty() ? run.failure_text
                      : run.rejection ? RejectionMessage(*run.rejection)
                                      : std::string();
    return outcome;
  }
  outcome.result = run.search;
  outcome.converged = run.converged;
  // The estimates are the ones sigma.dat shows (the final pass may move a
  // value lying on a bound).
  outcome.table = run.estimates;
  if (files != nullptr)
    outcome.family_terms = std::move(observer.family_terms());
  return outcome;
}

struct Evaluator::Impl {
  Impl(const Analysis& a, const ParameterTable& model, int threads,
       Arithmetic arithmetic)
      : analysis(a),
        table(model),
        own_store(a.transform.boxcox ? std::optional<FamilyStore>(a.core.store)
                                     : std::nullopt),
        thresholds(a.transform.boxcox ? a.core.correction.thresholds
                                      : std::vector<double>()),
        sample(table, own_store ? *own_store : a.core.store, a.core.polygenic,
               Settings(a, threads, arithmetic)) {}
  SampleSettings Settings(const Analysis& a, int threads,
                          Arithmetic arithmetic) const {
    SampleSettings settings = SampleSettingsOf(a.core, threads);
    if (own_store) settings.thresholds = thresholds;
    settings.screening = arithmetic == Arithmetic::kScreening;
    return settings;
  }
  const FamilyStore& Store() const {
    return own_store ? *own_store : analysis.core.store;
  }
  // ln LH at `t`: the transformed values at its lambda first.
  double Evaluate(const ParameterTable& t) {
    table = t;
    if (!own_store) return sample.Evaluate(Gate::kAccepted).ObjectiveValue();
    const double lambda = t.value[kLambda];
    if (!(lambda == current_lambda)) {
      current_lambda = std::numeric_limits<double>::quiet_NaN();
      if (!TransformTrait(analysis, lambda, own_store->trait, thresholds)) {
        return FailureSentinel;
      }
      current_lambda = lambda;
    }
    const double ln_lh = sample.Evaluate(Gate::kAccepted).ObjectiveValue();
    if (ln_lh <= kFailureThreshold) return ln_lh;
    return ln_lh + JacobianTerm(analysis, lambda);
  }
  const Analysis& analysis;
  ParameterTable table;
  std::optional<FamilyStore> own_store;  // transformed: z at current_lambda
  std::vector<double> thresholds;        // own_store's, on the scale of z
  double current_lambda = std::numeric_limits<double>::quiet_NaN();
  SampleLikelihood sample;
  std::unique_ptr<MajorGenotypePosteriors> posteriors;  // made on first use
  std::int64_t posteriors_evaluation = -1;  // evaluations_ at its last one
};

Evaluator::Evaluator(const Analysis& analysis, const ParameterTable& model,
                     int threads, Arithmetic arithmetic)
    : impl_(std::make_unique<Impl>(analysis, model, threads, arithmetic)) {}

Evaluator::~Evaluator() = default;

double Evaluator::Evaluate(const ParameterTable& table) {
  ++evaluations_;
  return impl_->Evaluate(table);
}

namespace {

// The same table to the bit (so -0 and 0 differ, and NaN equals itself).
bool SameTable(const ParameterTable& a, const ParameterTable& b) {
  auto same = [](const auto& x, const auto& y) {
    return std::memcmp(x.data(), y.data(), sizeof(x)) == 0;
  };
  return same(a.tie, b.tie) && same(a.in_model, b.in_model) &&
         same(a.estimate, b.estimate) && same(a.value, b.value) &&
         same(a.step, b.step) && same(a.GL, b.GL) && same(a.GR, b.GR);
}

}  // namespace

std::vector<std::array<double, 3>> Evaluator::GenotypePosteriors(
    const ParameterTable& table, std::int32_t g) {
  std::vector<std::array<double, 3>> posteriors;
  // The families of one table share its evaluation: the posteriors read
  // only the model quantities it left, and no evaluation has run since.
  if (evaluations_ != impl_->posteriors_evaluation ||
      !SameTable(table, impl_->table)) {
    if (Evaluate(table) <= kFailureThreshold) return posteriors;
    impl_->posteriors_evaluation = evaluations_;
  }
  const Analysis& a = impl_->analysis;
  const FamilyStore& store = impl_->Store();
  if (store.FamilySize(g) <= 0) return posteriors;
  const LikelihoodModel model{store,
                              impl_->sample.Quantities(),
                              a.core.polygenic,
                              a.settings.covariate_count,
                              impl_->table.in_model[kSex],
                              0};
  // One pass up and one down per family; the scratch serves every family.
  if (!impl_->posteriors) {
    impl_->posteriors = std::make_unique<MajorGenotypePosteriors>(store);
  }
  impl_->posteriors->Compute(model, g, posteriors);
  return posteriors;
}

bool Evaluator::DrawTraits(const ParameterTable& table, std::uint64_t seed,
                           std::vector<float>& trait) {
  if (impl_->own_store || Evaluate(table) <= kFailureThreshold) return false;
  const Analysis& a = impl_->analysis;
  const FamilyStore& store = a.core.store;
  const ConditionalSampler sampler(
      store, impl_->sample.Quantities(), a.core.polygenic,
      impl_->table.in_model[kSex], impl_->Settings(a, 1, Arithmetic::kExact));
  trait = store.trait;
  for (const FamilyFacts& f : a.families) {
    if (f.index == 0 || !f.evaluated) continue;
    const FamilyDraw draw = sampler.Draw(f.index, seed);
    if (!draw.drawn) return false;
    const std::int32_t base = store.MemberOffset(f.index);
    for (std::int32_t k = 1; k <= f.members; ++k) {
      trait[static_cast<std::size_t>(base + k)] = draw.trait[k];
    }
  }
  return true;
}

}  // namespace segmix::fit
