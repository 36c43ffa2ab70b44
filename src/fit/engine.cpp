// The adapter between segmix-fit and the core. It loads with the core's
// loader and fits with the core's Fit, in the order of segmix's run sequence
// (start, step check, search, summary, final pass) and with its records, so
// that a fit here and a segmix run on the same par.inp give the same bits and
// files.
#include "fit/engine.h"

#include <cmath>
#include <fstream>
#include <limits>
#include <ostream>
#include <span>
#include <sstream>
#include <streambuf>

#include "model/evaluation.h"
#include "model/family_likelihood.h"
#include "model/sample_likelihood.h"
#include "model/trait_density.h"
#include "run/evaluation_records.h"
#include "run/max_file.h"
#include "run/summary_file.h"
#include "textio/statements.h"

namespace segmix::fit {
namespace {

constexpr int kResultUnit = 2;
constexpr int kFamilyUnit = 3;
constexpr int kErrorUnit = 25;
constexpr ParameterRow kSwitchable[] = {kB1, kB2, kB3, kB4, kB5, kPga, kSex};

// Swallows what it is given: the console of silent evaluations.
class NullBuffer final : public std::streambuf {
 protected:
  int overflow(int c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// segmix switches the left-out components off right after reading par.inp;
// sigma.dat shows the table so, and every start read back here gets the same.
void SwitchOffLeftOutComponents(ParameterTable& parameters) {
  for (const ParameterRow row : kSwitchable) {
    if (parameters.in_model[row] == 0) parameters.value[row] = 0;
  }
}

bool Observed(float trait) { return trait > kMissingTrait; }

std::string Trimmed(const std::string& name) {
  const auto end = name.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : name.substr(0, end + 1);
}

// Forwards the search's records to the unit files when there are any, and
// remembers whether the search ended without a maximum.
class RecordingReport final : public MaximizerReport {
 public:
  RecordingReport(TextUnits& units, bool write)
      : unit_report_(units), write_(write) {}
  void IterationBlock(std::int32_t iterations, std::int32_t functions,
                      double ln_lh, const ParameterTable& table) override {
    if (write_)
      unit_report_.IterationBlock(iterations, functions, ln_lh, table);
  }
  void Failure(MaximizerFailure failure) override {
    failed_ = true;
    if (write_) unit_report_.Failure(failure);
  }
  bool failed() const { return failed_; }

 private:
  UnitReport unit_report_;
  bool write_;
  bool failed_ = false;
};

// Passes the search's evaluation records on (when there is a run's record
// keeper) and keeps the best ln LH for the progress line.
class BestObserver final : public EvaluationObserver {
 public:
  explicit BestObserver(EvaluationObserver* inner) : inner_(inner) {}
  void Rejected(const ParameterRejection& rejection) override {
    if (inner_ != nullptr) inner_->Rejected(rejection);
  }
  void FamilyTerm(std::int32_t g, std::int32_t size, double term) override {
    if (inner_ != nullptr) inner_->FamilyTerm(g, size, term);
  }
  void Evaluated(double ln_lh, const ParameterTable& table) override {
    if (ln_lh > best_) best_ = ln_lh;
    if (inner_ != nullptr) inner_->Evaluated(ln_lh, table);
  }
  double best() const { return best_; }

 private:
  EvaluationObserver* inner_;
  double best_ = -std::numeric_limits<double>::infinity();
};

void WriteConsoleRecord(TextUnits& units, const char* text,
                        std::int32_t value) {
  WriteStatement record(units, kConsole);
  record << text << value;
  record.End();
}

}  // namespace

Analysis LoadAnalysis() {
  Analysis analysis;
  analysis.directory = std::filesystem::current_path();
  std::ostringstream console;
  TextUnits units(console);
  analysis.core = segmix::LoadAnalysis(units);
  {
    WriteStatement record(units, kConsole);
    record << "N_izm=" << analysis.core.counts.observed
           << " loop=" << analysis.core.counts.status0;
    record.End();
  }
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

FitOutcome RunFit(const Analysis& analysis, const ParameterTable& start,
                  const FitFiles* files, const EvaluationProgress& progress) {
  FitOutcome outcome;
  outcome.table = start;
  ParameterTable& table = outcome.table;
  SwitchOffLeftOutComponents(table);

  NullBuffer null_buffer;
  std::ostream null_console(&null_buffer);
  std::ofstream console_file;
  if (files != nullptr) {
    console_file.open(files->console, std::ios::binary | std::ios::trunc);
    console_file << analysis.load_console;
  }
  std::ostream& console = files != nullptr
                              ? static_cast<std::ostream&>(console_file)
                              : null_console;
  TextUnits units(console);
  if (files != nullptr) {
    units.Open(kErrorUnit, files->par_err.string(), OpenStatus::kReplace);
  }
  // Silent fits keep no records at all.
  RunRecords records(units, /*family_records=*/false);
  EvaluationObserver* keeper = files != nullptr ? &records : nullptr;

  Fit fit(analysis.core, table);
  WriteConsoleRecord(units, "MAX=", -1);
  const EvaluationOutcome first = fit.Start(keeper);
  outcome.initial_ln_lh = first.ObjectiveValue();
  {
    WriteStatement record(units, kConsole, "(' initial LH=',e15.8)");
    record << outcome.initial_ln_lh;
    record.End();
  }
  bool refused = StartFailed(first);
  if (!refused) {
    if (const auto lost_step = fit.CheckSteps()) {
      if (files != nullptr) WriteParameterRejection(units, *lost_step);
      refused = true;
    }
  }
  if (refused) {
    outcome.start_rejected = true;
    outcome.result.final_ln_lh = outcome.initial_ln_lh;
    units.CloseAll();
    return outcome;
  }

  if (files != nullptr) {
    units.Open(kResultUnit, files->max_file.string(), OpenStatus::kReplace);
  }
  RecordingReport report(units, files != nullptr);
  BestObserver observer(keeper);
  std::int64_t evaluations = 0;
  outcome.result = fit.Search(&observer, &report, [&] {
    // Called before each evaluation: report the ones done so far.
    if (progress && evaluations > 0) progress(evaluations, observer.best());
    ++evaluations;
  });
  outcome.converged = !report.failed();
  if (files == nullptr) return outcome;

  units.Close(kResultUnit);
  units.Open(kResultUnit, files->sigma_file.string(), OpenStatus::kNone);
  WriteSummaryFile(units, kResultUnit, analysis.counts.observed, outcome.result,
                   table);
  units.Close(kResultUnit);

  // The final pass may move a value lying on a bound; the estimates are the
  // ones sigma.dat shows.
  const ParameterTable estimates = table;
  units.Open(kFamilyUnit, files->family_file.string(), OpenStatus::kNone);
  RunRecords final_records(units, /*family_records=*/true);
  fit.FinalPass(&final_records);
  units.Close(kFamilyUnit);
  units.Close(kErrorUnit);
  {
    WriteStatement record(units, kConsole);
    record << "**** END OF PROGRAM ****";
    record.End();
  }
  units.CloseAll();
  table = estimates;
  return outcome;
}

struct Evaluator::Impl {
  Impl(const Analysis& a, const ParameterTable& model)
      : analysis(a),
        table(model),
        sample(table, a.core.store, a.core.polygenic,
               SampleSettingsOf(a.core)) {}
  const Analysis& analysis;
  ParameterTable table;
  SampleLikelihood sample;
};

Evaluator::Evaluator(const Analysis& analysis, const ParameterTable& model)
    : impl_(std::make_unique<Impl>(analysis, model)) {}

Evaluator::~Evaluator() = default;

double Evaluator::Evaluate(const ParameterTable& table) {
  impl_->table = table;
  ++evaluations_;
  return impl_->sample.Evaluate(Gate::kAccepted).ObjectiveValue();
}

std::vector<std::array<double, 3>> Evaluator::GenotypePosteriors(
    const ParameterTable& table, std::int32_t g) {
  std::vector<std::array<double, 3>> posteriors;
  if (Evaluate(table) <= kFailureThreshold) return posteriors;
  const Analysis& a = impl_->analysis;
  const FamilyStore& store = a.core.store;
  const std::int32_t n = store.FamilySize(g);
  if (n <= 0) return posteriors;
  const LikelihoodModel model{store,
                              impl_->sample.Quantities(),
                              a.core.polygenic,
                              a.settings.covariate_count,
                              impl_->table.in_model[kSex],
                              0};
  GenotypeWeights weights(store.LargestFamilySize());
  PrepareGenotypeWeights(model, g, weights);
  const std::vector<unsigned char> listed = weights.Marks();
  const bool has_nuclear = store.LastNuclear(g) >= store.FirstNuclear(g);
  posteriors.assign(static_cast<std::size_t>(n) + 1, {0, 0, 0});
  for (std::int32_t k = 1; k <= n; ++k) {
    std::array<long double, 3> log_lh{};
    if (listed[k] == 0 || !has_nuclear) {
      // A member listed in no nuclear family enters by its own weights only.
      PrepareGenotypeWeights(model, g, weights);
      for (int G = 1; G <= 3; ++G) {
        long double s = 0;
        for (int j = 1; j <= kPolygenicGenotypes; ++j) s += weights(k, G, j);
        log_lh[G - 1] = s > 0 ? std::log(static_cast<double>(s))
                              : -std::numeric_limits<long double>::infinity();
      }
    } else {
      // Fix the member's major genotype by zeroing the others, and peel.
      for (int G = 1; G <= 3; ++G) {
        PrepareGenotypeWeights(model, g, weights);
        for (int other = 1; other <= 3; ++other) {
          if (other == G) continue;
          for (int j = 1; j <= kPolygenicGenotypes; ++j)
            weights(k, other, j) = 0;
        }
        double LL = 0;
        log_lh[G - 1] = PeelFamily(model, g, weights, LL)
                            ? static_cast<long double>(LL)
                            : -std::numeric_limits<long double>::infinity();
      }
    }
    long double top = std::max({log_lh[0], log_lh[1], log_lh[2]});
    if (!std::isfinite(static_cast<double>(top))) return {};
    long double total = 0;
    std::array<long double, 3> e{};
    for (int G = 0; G < 3; ++G) {
      e[G] = std::exp(static_cast<double>(log_lh[G] - top));
      total += e[G];
    }
    for (int G = 0; G < 3; ++G) {
      posteriors[k][G] = static_cast<double>(e[G] / total);
    }
  }
  return posteriors;
}

}  // namespace segmix::fit
