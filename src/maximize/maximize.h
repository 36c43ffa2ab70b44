// Maximize: a Hooke-Jeeves pattern search over the free rows of the
// ParameterTable, using function values only. It works in place on value and
// step, calls the objective for every trial point, writes an iteration block
// to unit 2 (max.dat) after every cycle that does not end the search, and its
// failure messages to unit 25 (par.err).
#ifndef SEGMIX_MAXIMIZE_MAXIMIZE_H_
#define SEGMIX_MAXIMIZE_MAXIMIZE_H_

#include <cstdint>
#include <functional>

#include "model/parameter_table.h"
#include "textio/text_units.h"

namespace segmix {

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

// The objective returns the log-likelihood at the values now in the table
// (it may change fixed rows: ties). Larger is better; <= -1e17 is a failure.
using Objective = std::function<double()>;

// `parameter_count` is n, the rows 1..n handed over (at most 30).
MaximizerResult Maximize(std::int32_t parameter_count, ParameterTable& table,
                         const MaximizerSettings& settings,
                         const Objective& objective, TextUnits& units);

}  // namespace segmix

#endif  // SEGMIX_MAXIMIZE_MAXIMIZE_H_
