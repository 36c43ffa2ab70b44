// A study's replicates: one draw per replicate, every test's pair fitted to
// it.
#include "fit/simulation.h"

#include <cmath>
#include <exception>
#include <limits>

#include "fit/bootstrap.h"
#include "model/worker_pool.h"

namespace segmix::fit {

std::vector<std::vector<BootstrapReplicate>> SimulateTests(
    const Analysis& analysis, const ModelResult& source,
    const std::vector<std::pair<const ModelResult*, const ModelResult*>>& pairs,
    const std::vector<int>& numbers, std::uint64_t seed, Progress& progress,
    int threads) {
  const int n = static_cast<int>(numbers.size());
  std::vector<std::vector<BootstrapReplicate>> fits(
      pairs.size(), std::vector<BootstrapReplicate>(numbers.size()));
  struct Context {
    const Analysis* analysis;
    const ModelResult* source;
    const std::vector<std::pair<const ModelResult*, const ModelResult*>>* pairs;
    const std::vector<int>* numbers;
    std::uint64_t seed;
    std::vector<std::vector<BootstrapReplicate>>* fits;
    std::vector<std::exception_ptr> errors;
  } context{&analysis, &source, &pairs, &numbers, seed, &fits, {}};
  context.errors.resize(numbers.size());
  progress.Note("simulation from " + source.description.name + ": " +
                std::to_string(n) + " data sets, " +
                std::to_string(pairs.size()) + " tests each");
  WorkerPool pool(threads > 0 ? threads : UsableProcessors());
  pool.Run(
      n,
      [](void* c, std::int32_t index, std::int32_t) {
        Context& ctx = *static_cast<Context*>(c);
        const auto i = static_cast<std::size_t>(index);
        if (StopRequested() != 0) return;  // the data sets left are dropped
        try {
          Analysis data;
          const int b = (*ctx.numbers)[i];
          const bool drawn =
              DrawReplicate(*ctx.analysis, *ctx.source, ctx.seed, b, data);
          for (std::size_t t = 0; t < ctx.pairs->size(); ++t) {
            BootstrapReplicate& r = (*ctx.fits)[t][i];
            r.index = b;
            r.drawn = drawn;
            r.null_ln_lh = r.alternative_ln_lh = FailureSentinel;
            if (drawn) {
              FitPair(data, *(*ctx.pairs)[t].first, *(*ctx.pairs)[t].second, r);
            }
          }
        } catch (...) {
          ctx.errors[i] = std::current_exception();
        }
      },
      &context);
  ThrowIfStopped("in the simulation from " + source.description.name);
  for (const std::exception_ptr& e : context.errors) {
    if (e) std::rethrow_exception(e);
  }
  return fits;
}

void CountRejections(
    SimulatedTest& test,
    const std::function<double(const BootstrapReplicate&)>& p_value) {
  test.p_values.clear();
  test.usable = test.rejected_5 = test.rejected_1 = 0;
  for (const BootstrapReplicate& r : test.replicates) {
    if (!r.Usable()) {
      test.p_values.push_back(std::numeric_limits<double>::quiet_NaN());
      continue;
    }
    const double p = p_value(r);
    test.p_values.push_back(p);
    ++test.usable;
    test.rejected_5 += p < 0.05;
    test.rejected_1 += p < 0.01;
  }
}

}  // namespace segmix::fit
