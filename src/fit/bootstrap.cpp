// The bootstrap's replicates: a draw, two fits by the screening climb, and
// the count that gives the p-value.
#include "fit/bootstrap.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <memory>

#include "fit/climb.h"
#include "fit/model_series.h"
#include "fit/starts.h"
#include "model/parameter_checks.h"
#include "model/worker_pool.h"
#include "run/analysis.h"

namespace segmix::fit {
namespace {

// splitmix64's finalizer: distinct, well-mixed seeds for nearby inputs.
std::uint64_t Mix(std::uint64_t x) {
  x += 0x9e3779b97f4a7c15ULL;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

// The best climb of `model` on `data` from `starts`; the failure sentinel
// when none could be climbed. Screening arithmetic: it moves ln LH by about
// 1e-13 here, far inside the climb's own convergence.
double BestClimb(const Analysis& data, const ParameterTable& model,
                 const std::vector<ParameterTable>& starts,
                 ParameterTable* best_table) {
  Evaluator evaluator(data, model, 1, Arithmetic::kScreening);
  const std::vector<int> rows = FreeRows(model);
  double best = FailureSentinel;
  for (const ParameterTable& from : starts) {
    ParameterTable start = from;
    SwitchOffLeftOutComponents(start);
    if (StartRejection(data.core, start)) continue;
    // A stop signal ends the replicate between evaluations; the caller
    // (on the main thread) says where the run was.
    const ClimbEnd end = Climb(
        [&](const ParameterTable& t) {
          if (const int signal = StopRequested(); signal != 0) {
            throw FitStopped(signal, "in a replicate");
          }
          return evaluator.Evaluate(t);
        },
        start, rows);
    if (end.failed_start || !(end.ln_lh > best)) continue;
    best = end.ln_lh;
    if (best_table != nullptr) *best_table = end.table;
  }
  return best;
}

}  // namespace

void ThrowIfStopped(const std::string& where) {
  if (const int signal = StopRequested(); signal != 0) {
    throw FitStopped(signal, where);
  }
}

void ForEachReplicate(int n, int threads,
                      const std::function<void(std::size_t)>& work) {
  std::vector<std::exception_ptr> errors(static_cast<std::size_t>(n));
  struct Context {
    const std::function<void(std::size_t)>* work;
    std::vector<std::exception_ptr>* errors;
  } context{&work, &errors};
  WorkerPool pool(threads > 0 ? threads : UsableProcessors());
  pool.Run(
      n,
      [](void* c, std::int32_t index, std::int32_t) {
        const Context& ctx = *static_cast<const Context*>(c);
        const auto i = static_cast<std::size_t>(index);
        if (StopRequested() != 0) return;
        try {
          (*ctx.work)(i);
        } catch (...) {
          (*ctx.errors)[i] = std::current_exception();
        }
      },
      &context);
  if (StopRequested() != 0) return;
  for (const std::exception_ptr& e : errors) {
    if (e) std::rethrow_exception(e);
  }
}

std::uint64_t ReplicateSeed(std::uint64_t seed, int b) {
  return Mix(Mix(seed) + static_cast<std::uint64_t>(b));
}

void FitPair(const Analysis& data, const ModelResult& null,
             const ModelResult& alternative, BootstrapReplicate& r) {
  r.null_ln_lh = r.alternative_ln_lh = FailureSentinel;
  ParameterTable null_best = null.estimates;
  r.null_ln_lh =
      BestClimb(data, null.model,
                {null.estimates, WarmStart(null.model, alternative.estimates),
                 SpreadStart(null.model, 1, data.trait_mean, data.trait_sd)},
                &null_best);
  if (!(r.null_ln_lh > kFailureThreshold)) return;
  r.alternative_ln_lh = BestClimb(
      data, alternative.model,
      {alternative.estimates, WarmStart(alternative.model, null_best),
       SpreadStart(alternative.model, 1, data.trait_mean, data.trait_sd)},
      nullptr);
  // The alternative's climb from the null's maximum cannot end below it
  // but by the climb's inset from a bound the null holds a row on (1e-8 of
  // the range, a change of ln LH below 1e-6): such a statistic is 0.
  if (r.Usable()) {
    r.statistic = std::max(0.0, 2 * (r.alternative_ln_lh - r.null_ln_lh));
  }
}

bool DrawReplicate(const Analysis& analysis, const ModelResult& source,
                   std::uint64_t seed, int b, Analysis& data) {
  data = analysis;  // the replicate's traits in its own store
  Evaluator drawer(analysis, source.estimates, 1);
  return drawer.DrawTraits(source.estimates, ReplicateSeed(seed, b),
                           data.core.store.trait);
}

BootstrapReplicate FitReplicate(const Analysis& analysis,
                                const ModelResult& null,
                                const ModelResult& alternative,
                                std::uint64_t seed, int b) {
  BootstrapReplicate r;
  r.index = b;
  r.null_ln_lh = r.alternative_ln_lh = FailureSentinel;
  Analysis data;
  r.drawn = DrawReplicate(analysis, null, seed, b, data);
  if (r.drawn) FitPair(data, null, alternative, r);
  return r;
}

void BootstrapPValue(Bootstrap& bootstrap, double statistic) {
  bootstrap.usable = bootstrap.reaching = 0;
  // Statistics below kZeroStatistic are 0, the observed one and the
  // replicates' alike: each is rounding noise about a maximum on the null.
  const auto zeroed = [](double t) { return t < kZeroStatistic ? 0.0 : t; };
  for (const BootstrapReplicate& r : bootstrap.replicates) {
    if (!r.Usable()) continue;
    ++bootstrap.usable;
    if (zeroed(r.statistic) >= zeroed(statistic)) ++bootstrap.reaching;
  }
  const double n = bootstrap.usable;
  bootstrap.p_value = (1 + bootstrap.reaching) / (n + 1);
  bootstrap.se =
      std::sqrt(bootstrap.p_value * (1 - bootstrap.p_value) / (n + 1));
}

Bootstrap BootstrapTest(const Analysis& analysis, const ModelResult& null,
                        const ModelResult& alternative, double statistic,
                        const std::vector<int>& replicates, std::uint64_t seed,
                        Progress& progress, int threads,
                        const std::vector<BootstrapReplicate>* earlier) {
  const int n = static_cast<int>(replicates.size());
  Bootstrap bootstrap;
  bootstrap.seed = seed;
  bootstrap.replicates.resize(static_cast<std::size_t>(n));
  // Replicate b is a function of (seed, b) and the two fits: an earlier
  // run's, of the same series, is the one this run would draw and fit.
  std::vector<char> finished(static_cast<std::size_t>(n), 0);
  int reused = 0;
  for (int i = 0; earlier != nullptr && i < n; ++i) {
    for (const BootstrapReplicate& r : *earlier) {
      if (r.index != replicates[static_cast<std::size_t>(i)]) continue;
      bootstrap.replicates[static_cast<std::size_t>(i)] = r;
      finished[static_cast<std::size_t>(i)] = 1;
      ++reused;
      break;
    }
  }
  progress.Note("bootstrap " + null.description.name + " within " +
                alternative.description.name + ": " + std::to_string(n) +
                " replicates" +
                (earlier != nullptr ? ", " + std::to_string(reused) +
                                          " of them reused from the earlier run"
                                    : ""));
  ForEachReplicate(n, threads, [&](std::size_t i) {
    if (finished[i] != 0) return;
    bootstrap.replicates[i] =
        FitReplicate(analysis, null, alternative, seed, replicates[i]);
    finished[i] = 1;
  });
  if (StopRequested() != 0) {
    std::vector<BootstrapReplicate> done;
    for (int i = 0; i < n; ++i) {
      if (finished[static_cast<std::size_t>(i)] != 0) {
        done.push_back(bootstrap.replicates[static_cast<std::size_t>(i)]);
      }
    }
    bootstrap.replicates = std::move(done);
    bootstrap.stopped = true;
    return bootstrap;
  }
  BootstrapPValue(bootstrap, statistic);
  return bootstrap;
}

}  // namespace segmix::fit
