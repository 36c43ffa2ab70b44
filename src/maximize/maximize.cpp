// The pattern search. Each cycle makes an exploratory move along every free
// row in turn, then a pattern move that extrapolates from the previous base
// point and is pulled back toward it while it fails.
//
// Arithmetic: the point and the steps are doubles, stored after every step of
// the procedure; the expressions that form them, and the tests, are evaluated
// in extended precision, so each stored value is rounded once from the
// extended result. Several constants are single-precision values widened to
// double, and are used with exactly those values.
#include "maximize/maximize.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "model/extended.h"

namespace segmix {
namespace {

// A bound-clamped pattern point keeps this far inside the bound; as a double
// the clearance survives only for bounds of magnitude up to 0.125.
constexpr double kBoundClearance = static_cast<double>(1e-17f);
// A free row whose step is below this counts as converged.
constexpr double kAbsoluteStepTolerance = static_cast<double>(1e-6f);
// Pattern trials before the pattern move is given up.
constexpr int kPatternTrials = 10;

bool IsFree(const ParameterTable& table, std::int32_t row) {
  return table.estimate[row] != 0;
}

// The exploratory move's arithmetic when both trials fail, stored as it
// stores it: where the value lands after the step is taken and undone.
double ValueAfterFailedExploration(double start, double step) {
  double value = static_cast<double>(Extended{start} - step);
  value = static_cast<double>(Extended{value} + 2.0L * step);
  const double reversed = static_cast<double>(Extended{step} * -0.5L);
  return static_cast<double>(Extended{value} + 2.0L * reversed);
}

}  // namespace

MaximizerResult Maximize(std::int32_t parameter_count, ParameterTable& table,
                         const MaximizerSettings& settings,
                         const Objective& objective, MaximizerReport* report) {
  const std::int32_t n = parameter_count;
  MaximizerResult result;
  if (n <= 0) return result;
  if (n > kMaximizerRows) {
    if (report != nullptr)
      report->Failure(MaximizerFailure::kTooManyParameters);
    return result;
  }

  result.iteration_count = 0;
  result.function_count = 1;  // the evaluation at the start point, below

  // The sum of the flags, not the number of free rows: a flag of 2 counts
  // twice. Summed in 64 bits so that no flag value can overflow it.
  std::int64_t free_total = 0;
  std::array<double, kMaximizerRows + 1> base{};  // row 0 unused
  for (std::int32_t i = 1; i <= n; ++i) {
    free_total += table.estimate[i];
    base[i] = table.value[i];
  }

  double reference = objective();
  // Written as a negated comparison so that a not-a-number start, against
  // which no trial could ever win, also counts as failed.
  if (!(reference > kFailureThreshold)) {
    // The search cannot start. Reported like an exhausted search, so that
    // the summary does not pass off the start point as a maximum, and the
    // log-likelihood recorded is the one of the point left in the table.
    if (report != nullptr) report->Failure(MaximizerFailure::kMaximumNotFound);
    result.final_ln_lh = reference;
    return result;
  }

  double previous = FailureSentinel;  // reference at the start of the cycle
  double trial = reference;           // value of the latest evaluation
  bool halving = false;               // set after a failed pattern move

  const auto evaluate = [&] {
    ++result.function_count;
    return objective();
  };
  // The point returned and its log-likelihood: the last trial point, unless
  // its evaluation failed outright; then the base point, whose value is the
  // reference (the exploratory move ended there).
  const auto settle = [&] {
    if (trial > FailureSentinel) {
      result.final_ln_lh = trial;
    } else {
      result.final_ln_lh = reference;
      for (std::int32_t i = 1; i <= n; ++i) table.value[i] = base[i];
    }
  };

  for (;;) {
    // Exploratory move: v - s, then v + s; a tie with the reference fails.
    for (std::int32_t i = 1; i <= n; ++i) {
      if (!IsFree(table, i)) continue;
      double& value = table.value[i];
      double& step = table.step[i];
      if (halving) step = static_cast<double>(Extended{step} * 0.5L);
      value = static_cast<double>(Extended{value} - step);
      trial = evaluate();
      if (trial > reference) {
        step = static_cast<double>(Extended{step} * 1.5L);
        reference = trial;
        continue;
      }
      value = static_cast<double>(Extended{value} + 2.0L * step);
      step = static_cast<double>(Extended{step} * -0.5L);
      trial = evaluate();
      if (trial > reference) {
        step = static_cast<double>(Extended{step} * 1.5L);
        reference = trial;
        continue;
      }
      // Back to the start value; the step keeps its halved, reversed size.
      value = static_cast<double>(Extended{value} + 2.0L * step);
    }

    // Pattern point: the exploratory displacement once more from the new
    // base, held inside a bound that it would reach in the direction moved.
    for (std::int32_t i = 1; i <= n; ++i) {
      if (!IsFree(table, i)) continue;
      const Extended value = table.value[i];
      const Extended displacement = value - base[i];
      Extended target = 2.0L * value - base[i];
      if (displacement > 0 && target >= table.GR[i]) {
        target = Extended{table.GR[i]} - kBoundClearance;
      }
      if (displacement < 0 && target <= table.GL[i]) {
        target = Extended{table.GL[i]} + kBoundClearance;
      }
      base[i] = table.value[i];
      table.value[i] = static_cast<double>(target);
    }

    // Pattern trials, contracting toward the base point after each failure.
    bool pattern_succeeded = false;
    const Extended c = settings.contraction_factor;
    for (int k = 1; k <= kPatternTrials; ++k) {
      trial = evaluate();
      if (trial > reference) {
        pattern_succeeded = true;
        break;
      }
      for (std::int32_t i = 1; i <= n; ++i) {
        if (!IsFree(table, i)) continue;
        table.value[i] =
            static_cast<double>(c * table.value[i] + (1.0L - c) * base[i]);
      }
    }
    if (pattern_succeeded) {
      // Improvement test against the previous cycle.
      if (Extended{trial} - previous - settings.improvement_tolerance < 0) {
        break;
      }
      halving = false;
    } else {
      // One more evaluation at the contracted point; its value stands,
      // better or not.
      trial = evaluate();
      halving = true;
    }

    // Step test: every free row's step small, relative to its value or
    // absolutely. Rows are counted once whatever their flag.
    std::int64_t converged = 0;
    for (std::int32_t i = 1; i <= n; ++i) {
      if (!IsFree(table, i)) continue;
      const Extended step = std::fabs(Extended{table.step[i]});
      const Extended relative =
          std::fabs(Extended{settings.step_tolerance} * table.value[i]);
      if (step <= relative || step < kAbsoluteStepTolerance) ++converged;
    }
    if (converged >= free_total) break;

    ++result.iteration_count;
    if (result.iteration_count > settings.iteration_limit) {
      if (report != nullptr)
        report->Failure(MaximizerFailure::kMaximumNotFound);
      // The summary shows the point left in the table, so the log-likelihood
      // recorded is that point's, and a failed last trial is not passed off
      // as an estimate.
      settle();
      return result;
    }
    if (settings.print_switch != 0 && report != nullptr) {
      report->IterationBlock(result.iteration_count, result.function_count,
                             trial > reference ? trial : reference, table);
    }

    // A failed pattern move may lower the reference: the next cycle starts
    // from the contracted point and its value.
    if (trial > kFailureThreshold) reference = trial;
    previous = reference;
  }

  settle();
  ++result.iteration_count;
  return result;
}

std::int32_t FirstLostStepRow(std::int32_t parameter_count,
                              const ParameterTable& table,
                              const MaximizerSettings& settings) {
  const std::int32_t n = std::min(parameter_count, kMaximizerRows);
  for (std::int32_t i = 1; i <= n; ++i) {
    if (!IsFree(table, i)) continue;
    const double start = table.value[i];
    const double back = ValueAfterFailedExploration(start, table.step[i]);
    // Rounding alone leaves the value within a few units in its last place;
    // a miss the search could still resolve as a step does no harm.
    const Extended miss = std::fabs(Extended{back} - start);
    const Extended tolerance =
        std::max(std::fabs(Extended{settings.step_tolerance} * start),
                 Extended{kAbsoluteStepTolerance});
    if (!(miss <= tolerance)) return i;
  }
  return 0;
}

}  // namespace segmix
