// Maximize: a Hooke-Jeeves pattern search over the free rows of the
// ParameterTable, using function values only. It works in place on value and
// step, calls the objective for every trial point, writes an iteration block
// to unit 2 (max.dat) after every cycle that does not end the search, and its
// failure messages to unit 25 (par.err).
//
// The search itself reports through a MaximizerReport, so that it can run on
// plain functions without any file; UnitReport (max_file.h) is the report
// that writes the records.
#ifndef SEGMIX_MAXIMIZE_MAXIMIZE_H_
#define SEGMIX_MAXIMIZE_MAXIMIZE_H_

#include <cstdint>
#include <functional>

#include "model/parameter_table.h"
#include "textio/text_units.h"

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
MaximizerResult Maximize(std::int32_t parameter_count, ParameterTable& table,
                         const MaximizerSettings& settings,
                         const Objective& objective, TextUnits& units);

// The same search reporting to `report` instead of units 2 and 25.
MaximizerResult Maximize(std::int32_t parameter_count, ParameterTable& table,
                         const MaximizerSettings& settings,
                         const Objective& objective, MaximizerReport& report);

}  // namespace segmix

#endif  // SEGMIX_MAXIMIZE_MAXIMIZE_H_
