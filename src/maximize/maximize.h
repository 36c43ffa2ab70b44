// Maximize: a Hooke-Jeeves pattern search over the free rows of the
// ParameterTable, using function values only. It works in place on value and
// step, calls the objective for every trial point, and reports an iteration
// block after every cycle that does not end the search, and its failures,
// through a MaximizerReport (none: silent). It writes no file itself; the
// run layer's UnitReport (run/max_file.h) writes max.dat and par.err.
#ifndef SEGMIX_MAXIMIZE_MAXIMIZE_H_
#define SEGMIX_MAXIMIZE_MAXIMIZE_H_

#include <cstdint>
#include <functional>

#include "model/parameter_table.h"

namespace segmix {

// The largest parameter count the search accepts.
inline constexpr std::int32_t kMaximizerRows = 30;
static_assert(kMaximizerRows <= kParameterRows);

struct MaximizerSettings {
  double improvement_tolerance = static_cast<double>(1e-10f);
  double contraction_factor = 0.5;
  double step_tolerance = static_cast<double>(1e-5f);
  std::int32_t iteration_limit = 500;
  std::int32_t print_switch = 1;  // nonzero: write iteration blocks
};

struct MaximizerResult {
  std::int32_t iteration_count = 0;
  std::int32_t function_count = 0;
  double final_ln_lh = 0;  // "ln LH" of sigma.dat
};

// The objective returns the log-likelihood (natural log) at the values now in
// the table; it may change fixed rows (ties). Larger is better; a value at or
// below kFailureThreshold is a failed evaluation (FailureSentinel for a point
// outside its bounds). Called once per trial point, never re-entered.
using Objective = std::function<double()>;

// The two ways a search ends without a maximum.
enum class MaximizerFailure {
  kTooManyParameters,  // n > 30: no evaluation made
  kMaximumNotFound,    // iteration limit exceeded, or a start that failed
};

// Receives what the search reports, in the order it happens.
class MaximizerReport {
 public:
  virtual ~MaximizerReport() = default;
  // After a cycle that does not end the search, when the print switch is
  // nonzero. `ln_lh` is the better of the last trial and the reference value;
  // `table` holds the current values and steps.
  virtual void IterationBlock(std::int32_t iteration_count,
                              std::int32_t function_count, double ln_lh,
                              const ParameterTable& table) = 0;
  virtual void Failure(MaximizerFailure failure) = 0;
};

// `parameter_count` is n, the rows 1..n handed over. Rows with a nonzero
// estimate flag are moved, starting from their values with their signed
// steps; only the pattern move looks at GL and GR. The other rows keep their
// values unless the objective changes them.
//
// - n <= 0: returns at once, all zero.
// - n > 30: reports kTooManyParameters; all zero, no evaluation.
// - A first evaluation at or below kFailureThreshold, or not a number:
//   reports kMaximumNotFound; counts 0 and 1, that value as final_ln_lh,
//   the table unchanged.
// - More cycles than settings.iteration_limit: reports kMaximumNotFound.
//
// Whenever an evaluation was made, on return the table holds the point whose
// log-likelihood is `final_ln_lh`: the last trial point, or the base point
// when that trial returned FailureSentinel or less. Steps are left as last
// adapted. `function_count` counts every call of the objective;
// `iteration_count` is the number of the cycle in which the search ended
// (iteration_limit + 1 after kMaximumNotFound, 0 after a failed start).
// `report` may be null: the search is then silent.
MaximizerResult Maximize(std::int32_t parameter_count, ParameterTable& table,
                         const MaximizerSettings& settings,
                         const Objective& objective, MaximizerReport* report);

// The first of the rows 1..n with a nonzero estimate flag whose step is so
// large that the search's own arithmetic loses the value it steps from: the
// exploratory move (v - s, then + 2s, then the step halved and reversed and
// the move undone) replayed in that arithmetic misses v by more than the
// search's convergence tolerances (settings.step_tolerance relative to v, or
// the absolute 1e-6). 0 when every row comes back. Ordinary steps, even
// larger than the bound range, come back; a step of 1e30 from 10.5 does not.
std::int32_t FirstLostStepRow(std::int32_t parameter_count,
                              const ParameterTable& table,
                              const MaximizerSettings& settings);

}  // namespace segmix

#endif  // SEGMIX_MAXIMIZE_MAXIMIZE_H_
