// The records of sigma.dat. The layouts are the file's documented format,
// kept byte for byte so that tools reading older summaries keep working.
#include "run/summary_file.h"

#include "textio/statements.h"

namespace segmix {

// The counters' layout holds a tab character after "I4,"; layout strings
// skip it like a blank, so it adds nothing to the records.
constexpr char kCountersLayout[] =
    "(1X,' Number of iteration =',I4,\t/' Number of functions =',I6,"
    "/1X,' ln LH =',E20.8)";

void WriteSummaryFile(TextUnits& units, int unit, std::int32_t observed_count,
                      const MaximizerResult& result,
                      const ParameterTable& parameters) {
  {
    WriteStatement record(units, unit,
                          "('  Number of observed individuals =',I4)");
    record << observed_count;
    record.End();
  }
  {
    WriteStatement records(units, unit, kCountersLayout);
    records << result.iteration_count << result.function_count
            << result.final_ln_lh;
    records.End();
  }
  {
    WriteStatement heading(units, unit, "(10X,' Parameter',7X,'Step')");
    heading.End();
  }
  // The layout has room for two parameters per record, but with three values
  // the output stops at its second I2: one parameter per record, 34 columns.
  for (std::int32_t j = 1; j <= kParameterCount; ++j) {
    WriteStatement record(units, unit, "(1X,I2,1X,2E15.6,3X,I2,1X,2E15.6)");
    record << j << parameters.value[j] << parameters.step[j];
    record.End();
  }
}

}  // namespace segmix
