// Parametric bootstrap p-values of the series' likelihood-ratio tests
// (--bootstrap N). For a test of null model M0 within M1, replicate b draws a
// data set from M0's estimates on the observed pedigrees (the conditional
// sampler: every evaluated family given its probands' values, or given that
// they exceed the threshold, the missing pattern kept), fits M0 and then M1
// to it by the screening climb (each from its observed estimates, from the
// other model's maximum moved into its constraints, and from one spread
// start; M1's start from M0's replicate maximum makes T_b >= 0), and takes
// T_b = 2 (ln LH_1 - ln LH_0). The p-value counts the replicates whose
// statistic reaches the observed one:
//
//   p = (1 + #{T_b >= T}) / (N + 1),   Monte Carlo SE sqrt(p (1 - p) / (N +
//   1)),
//
// over the N replicates that could be drawn and fitted (a replicate whose
// draw or null fit fails is recorded and left out of N).
//
// Replicate b's data and fits are a function of (seed, b) alone: its draw
// uses seed ReplicateSeed(seed, b), and the replicates run side by side, one
// per thread, each evaluation on one thread, their results gathered in
// replicate order, so that nothing depends on the thread count.
#ifndef SEGMIX_FIT_BOOTSTRAP_H_
#define SEGMIX_FIT_BOOTSTRAP_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fit/comparisons.h"
#include "fit/engine.h"
#include "fit/progress.h"
#include "fit/series.h"

namespace segmix::fit {

// The draw seed of replicate b (1-based) of a bootstrap seeded with `seed`.
std::uint64_t ReplicateSeed(std::uint64_t seed, int b);

// Draws replicate b of a study seeded with `seed` from `source`'s estimates
// into `data` (a copy of `analysis` with the drawn traits). False when the
// draw failed.
bool DrawReplicate(const Analysis& analysis, const ModelResult& source,
                   std::uint64_t seed, int b, Analysis& data);

// Throws FitStopped naming `where` when a stop signal has come (for work
// off the Progress's thread, which cannot see it there).
void ThrowIfStopped(const std::string& where);

// work(i) for i = 0..n-1, side by side on `threads` threads (0: the
// processors the process may use), each i on one thread; returns when all
// are done. Once a stop signal has come no further i is started and the
// errors are not rethrown (the caller says where it stopped); otherwise the
// first error by i is rethrown.
void ForEachReplicate(int n, int threads,
                      const std::function<void(std::size_t)>& work);

// Fits `null` and then `alternative` to `data` by the screening climb (each
// from its observed estimates, from the other's maximum moved into its
// constraints and from one spread start) into r's ln LHs and statistic
// (ln LHs at or below kFailureThreshold when a fit failed). A stop signal
// ends it between evaluations with FitStopped.
void FitPair(const Analysis& data, const ModelResult& null,
             const ModelResult& alternative, BootstrapReplicate& r);

// One replicate of the test `null` within `alternative`: the draw and both
// fits (ln LHs at or below kFailureThreshold when they failed).
BootstrapReplicate FitReplicate(const Analysis& analysis,
                                const ModelResult& null,
                                const ModelResult& alternative,
                                std::uint64_t seed, int b);

// The replicates numbered in `replicates` (1-based, e.g. 1..N, or one slice
// of them) of the test of `null` within `alternative` (its statistic the
// observed one), with the p-value and SE they give. `threads` as for
// FitSeries. A replicate `earlier` holds (a resumed run's, of the same
// series, test and seed) is taken from it. A stop signal ends every
// replicate between evaluations: the result is then `stopped`, with the
// finished replicates only.
Bootstrap BootstrapTest(
    const Analysis& analysis, const ModelResult& null,
    const ModelResult& alternative, double statistic,
    const std::vector<int>& replicates, std::uint64_t seed, Progress& progress,
    int threads = 0, const std::vector<BootstrapReplicate>* earlier = nullptr);

// p and its SE from replicate statistics (failed ones skipped).
void BootstrapPValue(Bootstrap& bootstrap, double statistic);

}  // namespace segmix::fit

#endif  // SEGMIX_FIT_BOOTSTRAP_H_
