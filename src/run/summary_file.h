// sigma.dat, the summary of a maximization: the observed count, the
// maximizer's counters and final log-likelihood, and the value and final step
// of each of the 15 parameters.
#ifndef SEGMIX_RUN_SUMMARY_FILE_H_
#define SEGMIX_RUN_SUMMARY_FILE_H_

#include <cstdint>

#include "maximize/maximize.h"
#include "model/parameter_table.h"
#include "textio/text_units.h"

namespace segmix {

// Writes the 20 records of the summary to `unit` (open): record 1 the
// observed count, records 2 to 4 the iteration count, the function count and
// ln LH, record 5 a heading, records 6 to 20 "j value step" for the rows
// 1..15 of `parameters`, 34 characters each.
void WriteSummaryFile(TextUnits& units, int unit, std::int32_t observed_count,
                      const MaximizerResult& result,
                      const ParameterTable& parameters);

}  // namespace segmix

#endif  // SEGMIX_RUN_SUMMARY_FILE_H_
