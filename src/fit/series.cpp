// The series loop. Every start is climbed on silent evaluations (its par.inp
// is written to a scratch folder of its own only to read back the table
// segmix would start from); the best end point of a model is polished by
// segmix's fit with files in a scratch folder, whose files are renamed into
// the model's folder, so a folder never holds a mixture of fits. After the
// first pass over the models, rounds of starts from the maxima of nested
// models (in both directions) bring every pair in order.
#include "fit/series.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <numbers>
#include <set>

#include "fit/climb.h"
#include "fit/comparisons.h"
#include "fit/par_file.h"
#include "fit/starts.h"
#include "fit/transform.h"
#include "model/parameter_checks.h"
#include "model/worker_pool.h"

namespace segmix::fit {
namespace {

namespace fs = std::filesystem;

// ln LH units within which two maxima count as the same (label swaps).
constexpr double kLabelTie = 1e-4;
// Within this, a model's maximum is as high as a nested model's.
constexpr double kNestingTolerance = 1e-6;
// Another maximum this close to the best makes the best one doubtful.
constexpr double kCloseMaximum = 2.0;
// Rounds of nesting starts at most; each round only adds starts from maxima
// that changed since they were last tried.
constexpr int kNestingRounds = 6;
// A start whose climb ends no higher than this above the published maximum
// does not replace it: a new polish would move nothing that matters.
constexpr double kNewBest = 1e-7;
// Spread starts climbed side by side in one batch: the next batch's climbs
// may stop where they head for a maximum this one reached. A fixed number,
// not the thread count, so that the results do not depend on it.
constexpr int kBatchStarts = 2;

constexpr const char* kModelFiles[] = {
    "par.inp",    "max.dat",     "par.err",       "sigma.dat",
    "LH_fam.dat", "console.txt", "transform.txt", kTransformedTraitFile};

// Two starts of one model that a climb cannot tell apart: every free row
// within kSameStart of its step (the climb's unit; its smallest difference
// step is 1e-6 of one), the other rows the same values. Such a start would
// climb to the same end, so it is run once.
constexpr double kSameStart = 1e-7;

bool SameStart(const ParameterTable& model, const std::vector<int>& free_rows,
               const ParameterTable& a, const ParameterTable& b) {
  std::array<bool, kParameterRows + 1> free{};
  for (const int r : free_rows) free[r] = true;
  for (int r = 1; r <= kParameterRows; ++r) {
    if (r > kParameterCount && r != kLambda) continue;
    if (!free[r]) {
      if (a.value[r] != b.value[r]) return false;
      continue;
    }
    const double unit = model.step[r] != 0 ? std::abs(model.step[r])
                                           : 0.01 * (model.GR[r] - model.GL[r]);
    if (!(std::abs(a.value[r] - b.value[r]) <= kSameStart * unit)) return false;
  }
  return true;
}

bool Usable(const FitOutcome& o) {
  return !o.start_rejected && o.result.final_ln_lh > kFailureThreshold;
}

// General transmission with at least one of Tr1..Tr3 estimated.
bool EstimatesTransmission(const ParameterTable& model) {
  if (model.in_model[kTr1] == 0) return false;
  for (int r = kTr1; r <= kTr3; ++r) {
    if (model.estimate[r] != 0 && model.tie[r] == r) return true;
  }
  return false;
}

bool Ordered(const FitOutcome& o) {
  return o.table.value[kD] <= o.table.value[kMU];
}

// The ln LH a start counts with: a joined climb's that of the maximum it was
// heading to.
double Reached(const ModelResult& result, const StartRecord& s) {
  return s.joined >= 0 ? result.starts[s.joined].outcome.result.final_ln_lh
                       : s.outcome.result.final_ln_lh;
}

// How many usable starts reached the best climbed maximum (within
// kAgreement).
int AgreeingWithBest(const ModelResult& result) {
  double top = -INFINITY;
  for (const StartRecord& s : result.starts) {
    if (Usable(s.outcome)) top = std::max(top, Reached(result, s));
  }
  int count = 0;
  for (const StartRecord& s : result.starts) {
    if (Usable(s.outcome) && Reached(result, s) >= top - kAgreement) ++count;
  }
  return count;
}

// A start waiting in a batch: where its record goes, and the maxima its
// climb may join (indices into the model's starts).
struct Pending {
  StartRecord record;
  std::vector<int> known;
  int position = 0;  // where the record goes in the model's starts
};

// The fitting of one series: owns the scratch folders and the threads.
class SeriesFit {
 public:
  SeriesFit(const Analysis& analysis, int model_count, const fs::path& out,
            Progress& progress, int threads, const ClimbMemo* memo)
      : analysis_(analysis),
        memo_(memo),
        model_count_(model_count),
        out_(out),
        progress_(progress),
        constant_(DensityConstant(analysis)),
        polish_settings_(analysis.settings),
        threads_(threads > 0 ? threads : UsableProcessors()),
        pool_(threads_) {
    if (analysis.transform.boxcox) {
      polish_settings_.data_file_name = kTransformedTraitFile;
    }
  }

  ~SeriesFit() {
    for (const fs::path& work : works_) {
      std::error_code ignored;
      fs::remove_all(work, ignored);
    }
  }
  SeriesFit(const SeriesFit&) = delete;
  SeriesFit& operator=(const SeriesFit&) = delete;

  // Adds `table` as a start of model `m` to the batch; skipped when the same
  // values were started before. True when it was added.
  bool Queue(int m, ModelResult& result, const std::string& origin,
             const ParameterTable& table) {
    const std::size_t n =
        result.starts.size() + batch_.size() + skipped_[m] + 1;
    const fs::path dir = WorkFolder(result) / ("start-" + std::to_string(n));
    fs::create_directories(dir);
    Pending pending;
    pending.record.origin = origin;
    pending.record.start = WriteAndReadBack(
        dir / "par.inp", ParInpText(analysis_.settings, table));
    KeepLambdaRow(pending.record.start, table);
    pending.record.folder = dir;
    const auto same = [&](const StartRecord& done) {
      return SameStart(result.model, result.free_rows, done.start,
                       pending.record.start);
    };
    if (std::any_of(result.starts.begin(), result.starts.end(), same) ||
        std::any_of(batch_.begin(), batch_.end(),
                    [&](const Pending& p) { return same(p.record); })) {
      fs::remove_all(dir);
      ++skipped_[m];
      return false;
    }
    // The climbs of this batch may stop at the maxima of earlier batches
    // only, so that the batch's starts can run in any order.
    for (std::size_t s = 0; s < result.starts.size(); ++s) {
      const StartRecord& done = result.starts[s];
      if (Usable(done.outcome) && done.joined < 0) {
        pending.known.push_back(static_cast<int>(s));
      }
    }
    pending.position = static_cast<int>(result.starts.size() + batch_.size());
    batch_.push_back(std::move(pending));
    return true;
  }

  // Climbs the batch's starts side by side and adds them to model `m`'s
  // starts in the order queued. True when there were any.
  bool RunBatch(int m, ModelResult& result) {
    if (batch_.empty()) return false;
    struct Context {
      SeriesFit* self;
      ModelResult* result;
      std::vector<std::unique_ptr<Evaluator>> evaluators;
      // The batch's last climb, once every other one has finished, splits
      // its families over all the threads instead: the same values (an
      // evaluation does not depend on its thread count), the other threads
      // no longer idle. unfinished counts the climbs not yet finished,
      // those not yet begun among them, so at 1 no other climb can use it.
      std::unique_ptr<Evaluator> wide;
      std::atomic<std::size_t> unfinished{0};
      std::vector<std::exception_ptr> errors;
    } context{this, &result, {}, {}, {}, {}};
    for (int w = 0; w < pool_.WorkerCount(); ++w) {
      context.evaluators.push_back(std::make_unique<Evaluator>(
          analysis_, result.model, 1, Arithmetic::kScreening));
    }
    if (threads_ > 1) {
      context.wide = std::make_unique<Evaluator>(
          analysis_, result.model, threads_, Arithmetic::kScreening);
    }
    context.unfinished = batch_.size();
    context.errors.resize(batch_.size());
    pool_.Run(
        static_cast<std::int32_t>(batch_.size()),
        [](void* c, std::int32_t index, std::int32_t worker) {
          Context& ctx = *static_cast<Context*>(c);
          Evaluator& own = *ctx.evaluators[worker];
          const auto evaluate = [&](const ParameterTable& t) {
            Evaluator& e =
                ctx.wide && ctx.unfinished.load() == 1 ? *ctx.wide : own;
            return e.Evaluate(t);
          };
          try {
            ctx.self->ClimbStart(*ctx.result, ctx.self->batch_[index],
                                 evaluate);
          } catch (...) {
            ctx.errors[index] = std::current_exception();
          }
          --ctx.unfinished;
        },
        &context);
    std::vector<Pending> batch = std::move(batch_);
    batch_.clear();
    for (const std::exception_ptr& e : context.errors) {
      if (e) std::rethrow_exception(e);
    }
    for (Pending& p : batch) {
      const int n = static_cast<int>(result.starts.size()) + 1;
      progress_.Begin(m + 1, model_count_, result.description.name, n, n);
      progress_.EndStart(p.record.evaluations,
                         p.record.outcome.result.final_ln_lh);
      fs::remove_all(p.record.folder);
      result.starts.push_back(std::move(p.record));
    }
    return true;
  }

  // Picks the best start; when it is a new one, its end point is polished
  // into the model's folder.
  void Settle(int m, ModelResult& result) {
    const int previous = result.best;
    int best = -1;
    for (std::size_t s = 0; s < result.starts.size(); ++s) {
      const StartRecord& st = result.starts[s];
      if (!Usable(st.outcome) || st.joined >= 0) continue;
      if (best < 0 || st.outcome.result.final_ln_lh >
                          result.starts[best].outcome.result.final_ln_lh) {
        best = static_cast<int>(s);
      }
    }
    // Among starts that tie (label swaps give the same likelihood), keep one
    // whose means are in the order segmix's gate wants (D not above MU), so
    // that its final pass and LH_fam.dat are not refused; and the one already
    // published unless a start climbed clearly above it, so that a round
    // changes nothing it need not.
    if (best >= 0) {
      const double top = result.starts[best].outcome.result.final_ln_lh;
      for (std::size_t s = 0; s < result.starts.size(); ++s) {
        const StartRecord& st = result.starts[s];
        if (!Ordered(result.starts[best].outcome) && Ordered(st.outcome) &&
            Usable(st.outcome) && st.joined < 0 &&
            st.outcome.result.final_ln_lh >= top - kLabelTie) {
          best = static_cast<int>(s);
        }
      }
      if (previous >= 0 && best != previous && result.Fitted() &&
          Ordered(result.polish.outcome) &&
          result.starts[best].outcome.result.final_ln_lh <=
              result.ln_lh + kNewBest) {
        best = previous;
      }
    }
    if (best >= 0 && best != previous) Polish(m, result, best);
    CountMaxima(result);
  }

  // The standard errors of every fitted model, the Hessians' points
  // evaluated side by side.
  void StandardErrorsOf(ModelResult& result) {
    if (!result.Fitted()) return;
    std::vector<std::unique_ptr<Evaluator>> evaluators;
    for (int w = 0; w < pool_.WorkerCount(); ++w) {
      evaluators.push_back(
          std::make_unique<Evaluator>(analysis_, result.estimates, 1));
    }
    result.se = ComputeStandardErrors(
        [&](const std::vector<ParameterTable>& points) {
          std::vector<double> values(points.size());
          struct Context {
            const std::vector<ParameterTable>* points;
            std::vector<double>* values;
            std::vector<std::unique_ptr<Evaluator>>* evaluators;
          } context{&points, &values, &evaluators};
          pool_.Run(
              static_cast<std::int32_t>(points.size()),
              [](void* c, std::int32_t index, std::int32_t worker) {
                Context& ctx = *static_cast<Context*>(c);
                (*ctx.values)[index] =
                    (*ctx.evaluators)[worker]->Evaluate((*ctx.points)[index]);
              },
              &context);
          return values;
        },
        result.estimates, result.free_rows);
  }

  int Reused() const { return reused_; }

 private:
  fs::path WorkFolder(const ModelResult& result) {
    const fs::path work = out_ / result.description.name / ".work";
    if (works_.insert(work).second) {
      fs::remove_all(work);
      fs::create_directories(work);
    }
    return work;
  }

  // One start's climb (on a worker thread: touches only `pending` and reads
  // the model's earlier starts). A start the fit would refuse, or whose first
  // evaluation fails, goes through segmix's fit, silently, for the reason as
  // segmix gives it.
  void ClimbStart(const ModelResult& result, Pending& pending,
                  const LogLikelihood& evaluate) {
    StartRecord& record = pending.record;
    ParameterTable start = record.start;
    SwitchOffLeftOutComponents(start);
    const auto refused_fit = [&] {
      record.outcome =
          RunTransformedFit(analysis_, record.start, nullptr, {}, 1);
      record.evaluations = record.outcome.result.function_count;
    };
    if (StartRejection(analysis_.core, start)) {
      refused_fit();
      return;
    }
    if (memo_ != nullptr) {
      const ClimbMemo::Climb* done =
          memo_->Find(result.description.name, pending.position, record);
      if (done != nullptr) {
        FitOutcome& o = record.outcome;
        o.table = start;
        o.table.value = done->end;
        o.initial_ln_lh = done->initial_ln_lh;
        o.result.final_ln_lh = done->ln_lh;
        o.result.function_count = done->function_count;
        o.result.iteration_count = done->iterations;
        o.converged = done->converged;
        record.evaluations = done->evaluations;
        record.joined = done->joined;
        record.climbed = true;
        ++reused_;
        return;
      }
    }
    std::vector<KnownMaximum> known;
    for (const int s : pending.known) {
      known.push_back({result.starts[s].outcome.table,
                       result.starts[s].outcome.result.final_ln_lh});
    }
    const ClimbEnd end = Climb(evaluate, start, result.free_rows, known);
    if (end.failed_start) {
      refused_fit();
      return;
    }
    FitOutcome& o = record.outcome;
    o.table = end.table;
    o.initial_ln_lh = end.initial_ln_lh;
    o.result.final_ln_lh = end.ln_lh;
    o.result.function_count = static_cast<std::int32_t>(end.evaluations);
    o.result.iteration_count = end.iterations;
    o.converged = end.converged || end.joined >= 0;
    record.evaluations = end.evaluations;
    if (end.joined >= 0) record.joined = pending.known[end.joined];
    record.climbed = true;
  }

  // segmix's fit from start `best`'s end point with the polish's steps;
  // its files go into the model's folder. When it is refused, the fit from
  // the start itself (the search with the model's own steps) instead.
  void Polish(int m, ModelResult& result, int best) {
    const fs::path work = WorkFolder(result);
    const StartRecord& from = result.starts[best];
    ParameterTable table = from.outcome.table;
    for (const int r : result.free_rows) {
      table.step[r] = PolishStep(table.value[r]);
      // A row the climb left at its bound (1e-8 of the range inside) starts
      // at the closest value par.inp can hold inside the bound, with a step
      // of half the distance towards it (the search tries value - step
      // first), so that the search can take it nearer still; on the bound
      // itself the start's gate would move it 1e-6 inside.
      const double range = table.GR[r] - table.GL[r];
      for (const int side : {-1, 1}) {
        const double bound = side < 0 ? table.GL[r] : table.GR[r];
        if (!(std::abs(table.value[r] - bound) <= 1e-7 * range)) continue;
        for (int digits = 13; digits >= 7; --digits) {
          const double v = bound - side * std::pow(10.0, -digits) * range;
          const double written = std::strtod(Field12(v).c_str(), nullptr);
          if ((written - bound) * side < 0) {
            table.value[r] = written;
            table.step[r] = side * 0.5 * std::abs(bound - written);
            break;
          }
        }
      }
    }
    const auto fit = [&](const ParameterTable& start,
                         const std::string& origin) {
      const fs::path dir = work / ("polish-" + std::to_string(++polishes_));
      fs::create_directories(dir);
      StartRecord record;
      record.origin = origin;
      record.folder = dir;
      record.start = WriteAndReadBack(dir / "par.inp",
                                      ParInpText(polish_settings_, start));
      KeepLambdaRow(record.start, start);
      progress_.Begin(m + 1, model_count_, result.description.name + ", polish",
                      best + 1, static_cast<int>(result.starts.size()));
      const FitFiles files{dir / "max.dat", dir / "par.err", dir / "sigma.dat",
                           dir / "LH_fam.dat", dir / "console.txt"};
      record.outcome = RunTransformedFit(
          analysis_, record.start, &files,
          [&](std::int64_t e, double b) { progress_.Evaluation(e, b); },
          threads_);
      record.evaluations = record.outcome.result.function_count;
      progress_.EndStart(record.evaluations, record.outcome.result.final_ln_lh);
      return record;
    };
    StartRecord polish = fit(table, "polish of " + from.origin);
    if (!Usable(polish.outcome)) {
      polish = fit(from.start, "refit of " + from.origin);
      if (!Usable(polish.outcome)) return;  // keeps what was published
    }
    result.best = best;
    // The best start's record carries the family terms of the model's final
    // pass, as when it was itself the model's fit.
    result.starts[best].outcome.family_terms = polish.outcome.family_terms;
    result.polish = polish;
    result.estimates = polish.outcome.table;
    result.ln_lh = polish.outcome.result.final_ln_lh;
    result.ln_lh_constants = result.ln_lh - constant_;
    const int k = static_cast<int>(result.free_rows.size());
    result.aic = Aic(result.ln_lh_constants, k);
    result.bic = Bic(result.ln_lh_constants, k, analysis_.counts.observed);
    const fs::path folder = out_ / result.description.name;
    for (const char* name : kModelFiles) {
      const fs::path source = polish.folder / name;
      if (fs::exists(source)) {
        fs::rename(source, folder / name);
      } else {
        fs::remove(folder / name);  // an earlier polish's file of that name
      }
    }
    fs::remove_all(polish.folder);
  }

  // The distinct maxima the starts reached (ln LH more than kAgreement
  // apart), best first, and how many starts agree with the best; a joined
  // start counts at the maximum it was heading to.
  static void CountMaxima(ModelResult& result) {
    std::vector<double> ends;
    for (const StartRecord& s : result.starts) {
      if (Usable(s.outcome)) ends.push_back(Reached(result, s));
    }
    std::sort(ends.begin(), ends.end(), std::greater<double>());
    result.maxima.clear();
    for (const double e : ends) {
      if (result.maxima.empty() ||
          result.maxima.back().ln_lh - e > kAgreement) {
        result.maxima.push_back({e, 1});
      } else {
        ++result.maxima.back().starts;
      }
    }
    result.agreeing = result.maxima.empty() ? 0 : result.maxima[0].starts;
  }

  const Analysis& analysis_;
  const ClimbMemo* memo_;
  std::atomic<int> reused_{0};  // climbs taken from memo_
  int model_count_;
  fs::path out_;
  Progress& progress_;
  double constant_;
  // The model folder's par.inp names the file its fit read: the transformed
  // trait file under a transform.
  ControlSettings polish_settings_;
  int threads_;
  WorkerPool pool_;
  std::vector<Pending> batch_;
  std::set<fs::path> works_;
  std::map<int, std::size_t> skipped_;
  int polishes_ = 0;
};

}  // namespace

const ClimbMemo::Climb* ClimbMemo::Find(const std::string& model, int position,
                                        const StartRecord& record) const {
  for (const Climb& c : climbs) {
    if (c.model != model || c.position != position ||
        c.origin != record.origin) {
      continue;
    }
    // The same bits, row by row (a NaN never matches: such a climb is
    // climbed again).
    bool same = true;
    for (int r = 1; r <= kParameterRows; ++r) {
      same &= c.start[r] == record.start.value[r];
    }
    if (same) return &c;
  }
  return nullptr;
}

double PolishStep(double x) { return std::max(1e-4 * std::abs(x), 1e-5); }

double DensityConstant(const Analysis& analysis) {
  long count = 0;
  for (const FamilyFacts& f : analysis.families) {
    if (f.evaluated) count += f.constant_members;
  }
  return 0.5 * std::log(2 * std::numbers::pi) * static_cast<double>(count);
}

std::vector<ModelResult> FitSeries(
    const Analysis& analysis, const std::vector<ModelDescription>& descriptions,
    const std::vector<ParameterTable>& tables, int spread, const fs::path& out,
    Progress& progress, int threads, const ClimbMemo* memo) {
  const int n = static_cast<int>(descriptions.size());
  SeriesFit series(analysis, n, out, progress, threads, memo);
  std::vector<ModelResult> results(descriptions.size());
  // Which maximum of model o each model was last started from: a nesting
  // start is run again only when o's maximum has moved.
  std::vector<std::map<int, double>> tried(descriptions.size());
  const auto related = [&](int a, int b) {
    return a != b && (NestedIn(results[a].model, results[b].model) ||
                      NestedIn(results[b].model, results[a].model));
  };
  // Starts of model m from the maxima of the fitted models it is nested in
  // or that are nested in it, moved into m's constraints.
  const auto nesting_starts = [&](int m) {
    for (int o = 0; o < n; ++o) {
      if (!related(m, o) || !results[o].Fitted()) continue;
      const auto it = tried[m].find(o);
      if (it != tried[m].end() && it->second == results[o].ln_lh) continue;
      tried[m][o] = results[o].ln_lh;
      series.Queue(m, results[m], "from " + results[o].description.name,
                   WarmStart(results[m].model, results[o].estimates));
      if (EstimatesTransmission(results[m].model) &&
          HasMajorLocus(results[o].model)) {
        series.Queue(
            m, results[m],
            "from " + results[o].description.name + ", labels swapped",
            WarmStart(results[m].model, SwappedLabels(results[o].estimates)));
      }
    }
  };

  for (int m = 0; m < n; ++m) {
    ModelResult& result = results[m];
    result.description = descriptions[m];
    result.model = tables[m];
    result.free_rows = FreeRows(result.model);
  }
  // A stop signal ends the first pass at model `current`: its fit and the
  // later ones are not finished (Settle publishes a model's fit only when its
  // polish has finished, and nothing after that can throw), the earlier
  // ones are.
  int current = 0;
  try {
    for (; current < n; ++current) {
      const int m = current;
      ModelResult& result = results[m];
      // The base and the warm starts first: the spread starts may then stop
      // where they head for a maximum those reached.
      series.Queue(m, result, "base", result.model);
      nesting_starts(m);
      series.RunBatch(m, result);
      for (int s = 1; s <= spread; ++s) {
        series.Queue(m, result, "spread " + std::to_string(s),
                     SpreadStart(result.model, s, analysis.trait_mean,
                                 analysis.trait_sd));
        if (s % kBatchStarts == 0 || s == spread) series.RunBatch(m, result);
      }
      // A best maximum that only one start reached may not be the top: as many
      // spread starts again, a batch at a time, until a second one reaches it.
      for (int s = spread + 1; s <= 2 * spread; ++s) {
        if (s % kBatchStarts == 1 && AgreeingWithBest(result) >= 2) break;
        series.Queue(m, result, "spread " + std::to_string(s),
                     SpreadStart(result.model, s, analysis.trait_mean,
                                 analysis.trait_sd));
        if (s % kBatchStarts == 0 || s == 2 * spread)
          series.RunBatch(m, result);
      }
      series.Settle(m, result);
    }
  } catch (const FitStopped& stop) {
    progress.TakeStop(stop);
    for (int m = current; m < n; ++m) {
      results[m].stopped = m == current ? std::string(stop.what())
                                        : "not started: the series was " +
                                              std::string(stop.what());
    }
  }
  // Rounds until no maximum moved: a model fitted before one it is nested
  // in, or below a model nested in it, is started again from there.
  // A stop signal here keeps every model's last finished fit (a Polish that
  // is stopped changes nothing); the starts the stopped round added to the
  // model it was refitting are dropped, so that its maxima and agreeing
  // starts are those of the fit it keeps.
  int refitting = -1;
  std::size_t kept_starts = 0;
  try {
    for (int round = 0; round < kNestingRounds && progress.StopSignal() == 0;
         ++round) {
      bool moved = false;
      for (int m = 0; m < n; ++m) {
        const double before =
            results[m].Fitted() ? results[m].ln_lh : -INFINITY;
        refitting = m;
        kept_starts = results[m].starts.size();
        nesting_starts(m);
        if (!series.RunBatch(m, results[m])) continue;
        series.Settle(m, results[m]);
        moved |= results[m].Fitted() && results[m].ln_lh != before;
      }
      if (!moved) break;
    }
  } catch (const FitStopped& stop) {
    progress.TakeStop(stop);
    if (refitting >= 0) results[refitting].starts.resize(kept_starts);
  }
  for (ModelResult& result : results) series.StandardErrorsOf(result);
  if (memo != nullptr) {
    progress.Note("resumed: " + std::to_string(series.Reused()) + " of " +
                  std::to_string(memo->climbs.size()) +
                  " climbs of the earlier run reused");
  }
  // A model the stop left unfitted publishes no folder: what its scratch
  // folders held is not a fit.
  for (const ModelResult& result : results) {
    if (!result.stopped.empty()) fs::remove_all(out / result.description.name);
  }

  for (int m = 0; m < n; ++m) {
    ModelResult& result = results[m];
    const std::string& name = result.description.name;
    if (!result.stopped.empty()) {
      continue;  // fit.json's missing says why
    }
    if (!result.Fitted()) {
      result.warnings.push_back(
          "every start was refused or failed; see its starts in fit.json");
    } else {
      if (result.agreeing < 2 && result.starts.size() > 1) {
        result.warnings.push_back(
            "only one start reached the best ln LH; the maximum may be local");
      }
      if (result.maxima.size() > 1 &&
          result.maxima[0].ln_lh - result.maxima[1].ln_lh < kCloseMaximum) {
        result.warnings.push_back("another maximum, ln LH " +
                                  std::to_string(result.maxima[1].ln_lh) +
                                  ", lies within 2 units of the best");
      }
      for (int o = 0; o < n; ++o) {
        if (o == m || !results[o].Fitted() ||
            !NestedIn(results[o].model, result.model)) {
          continue;
        }
        if (result.ln_lh < results[o].ln_lh - kNestingTolerance) {
          result.warnings.push_back(
              "its maximum lies below that of " + results[o].description.name +
              ", which is nested in it: the search has not found the top");
        }
      }
    }
    for (const std::string& w : result.warnings) {
      progress.Note("warning: model " + name + ": " + w);
    }
  }
  return results;
}

}  // namespace segmix::fit
