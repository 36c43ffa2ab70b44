// Power and calibration studies (--simulate-from M --replicates R): R data
// sets drawn from model M's estimates on the observed pedigrees (the
// bootstrap's conditional sampler: the missing pattern kept, corrected
// families given their probands), each fitted by every test's null and
// alternative as a bootstrap replicate is (fit/bootstrap.h), and each test's
// rejection rate at 5% and 1% under the reference law of the observed table
// (its chi2 or chi-bar-squared mixture, with the mixture's weights from the
// observed fit). Drawn from a test's null, the rates are its size (the
// calibration of its reference law); drawn from a model where the null is
// false, its power. Replicate r's draw is a function of (seed, r) alone and
// is shared by every test, so the study slices and merges as the bootstrap
// does.
#ifndef SEGMIX_FIT_SIMULATION_H_
#define SEGMIX_FIT_SIMULATION_H_

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "fit/comparisons.h"
#include "fit/engine.h"
#include "fit/progress.h"
#include "fit/series.h"

namespace segmix::fit {

// One test's replicates in a study.
struct SimulatedTest {
  std::size_t test = 0;  // index into the report's tests
  std::vector<BootstrapReplicate> replicates;
  std::vector<double> p_values;  // per replicate; NaN when not usable
  int usable = 0, rejected_5 = 0, rejected_1 = 0;  // p < 0.05, p < 0.01
};

struct Simulation {
  std::string model;  // empty: no study
  std::uint64_t seed = 0;
  int replicates = 0;  // R asked for
  std::vector<SimulatedTest> tests;
};

// The tests' pairs (null, alternative) fitted to replicates `numbers` drawn
// from `source`: [pair][replicate], replicates in the order of `numbers`.
// Replicates run side by side, one per thread (`threads` as for FitSeries).
// A stop signal throws FitStopped: no partial study is returned.
std::vector<std::vector<BootstrapReplicate>> SimulateTests(
    const Analysis& analysis, const ModelResult& source,
    const std::vector<std::pair<const ModelResult*, const ModelResult*>>& pairs,
    const std::vector<int>& numbers, std::uint64_t seed, Progress& progress,
    int threads = 0);

// Each usable replicate's p-value by `p_value` and the rejection counts.
void CountRejections(
    SimulatedTest& test,
    const std::function<double(const BootstrapReplicate&)>& p_value);

}  // namespace segmix::fit

#endif  // SEGMIX_FIT_SIMULATION_H_
