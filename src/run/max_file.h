// The search's records: the 14-line iteration block on unit 2 (max.dat) and
// the two failure messages on unit 25 (par.err), and UnitReport, the
// MaximizerReport through which the run writes them.
#ifndef SEGMIX_RUN_MAX_FILE_H_
#define SEGMIX_RUN_MAX_FILE_H_

#include <cstdint>

#include "maximize/maximize.h"
#include "model/parameter_table.h"
#include "run/unit_numbers.h"
#include "textio/text_units.h"

namespace segmix {

// Writes one iteration block to `unit`: three lines of counts and ln LH, a
// heading, and ten lines showing positions 1 to 20 of the table, position i
// beside position i + 10. `table` must have at least 20 rows (it has 30).
void WriteIterationBlock(TextUnits& units, int unit,
                         std::int32_t iteration_count,
                         std::int32_t function_count, double ln_lh,
                         const ParameterTable& table);

// Writes the one-record message of `failure` to `unit`.
void WriteMaximizerFailure(TextUnits& units, int unit,
                           MaximizerFailure failure);

// Blocks to unit 2, failures to unit 25; both units must be open when the
// search writes to them.
class UnitReport final : public MaximizerReport {
 public:
  explicit UnitReport(TextUnits& units) : units_(units) {}
  void IterationBlock(std::int32_t iteration_count, std::int32_t function_count,
                      double ln_lh, const ParameterTable& table) override {
    WriteIterationBlock(units_, kResultUnit, iteration_count, function_count,
                        ln_lh, table);
  }
  void Failure(MaximizerFailure failure) override {
    WriteMaximizerFailure(units_, kErrorUnit, failure);
  }

 private:
  TextUnits& units_;
};

}  // namespace segmix

#endif  // SEGMIX_RUN_MAX_FILE_H_
