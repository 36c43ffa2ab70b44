// A study's replicates: one draw per replicate, every test's pair fitted to
// it.
#include "fit/simulation.h"

#include <cmath>
#include <limits>

#include "fit/bootstrap.h"

namespace segmix::fit {

std::vector<std::vector<BootstrapReplicate>> SimulateTests(
    const Analysis& analysis, const ModelResult& source,
    const std::vector<std::pair<const ModelResult*, const ModelResult*>>& pairs,
    const std::vector<int>& numbers, std::uint64_t seed, Progress& progress,
    int threads) {
  const int n = static_cast<int>(numbers.size());
  std::vector<std::vector<BootstrapReplicate>> fits(
      pairs.size(), std::vector<BootstrapReplicate>(numbers.size()));
  progress.Note("simulation from " + source.description.name + ": " +
                std::to_string(n) + " data sets, " +
                std::to_string(pairs.size()) + " tests each");
  ForEachReplicate(n, threads, [&](std::size_t i) {
    Analysis data;
    const int b = numbers[i];
    const bool drawn = DrawReplicate(analysis, source, seed, b, data);
    for (std::size_t t = 0; t < pairs.size(); ++t) {
      BootstrapReplicate& r = fits[t][i];
      r.index = b;
      r.drawn = drawn;
      r.null_ln_lh = r.alternative_ln_lh = FailureSentinel;
      if (drawn) FitPair(data, *pairs[t].first, *pairs[t].second, r);
    }
  });
  ThrowIfStopped("in the simulation from " + source.description.name);
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
