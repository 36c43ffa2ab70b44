// The maximizer's records on max.dat and par.err: each record is one write
// statement through its layout string, so columns, widths and the E editing
// of values are the record layer's.
#include "run/max_file.h"

#include <cstdint>

#include "textio/statements.h"

namespace segmix {
namespace {

// The tab between "I4," and "/" is part of this layout string; layout strings
// skip tabs like blanks, so it leaves no trace in the record.
constexpr const char* kCountsLayout =
    "(1X,'number of iterations =',I4,\t/' number of functions =',I6,"
    "/1X,'ln LH =',E20.8)";
constexpr const char* kHeadingLayout =
    "(8X,'parameter',7X,'step',15X,'parameter',7X,'step')";
constexpr const char* kRowLayout = "(1X,I2,1X,2E15.6,3X,I2,1X,2E15.6)";

constexpr int kBlockLines = 10;  // positions i and i + 10 on line i

}  // namespace

void WriteIterationBlock(TextUnits& units, int unit,
                         std::int32_t iteration_count,
                         std::int32_t function_count, double ln_lh,
                         const ParameterTable& table) {
  static_assert(2 * kBlockLines <= kParameterRows);
  {
    WriteStatement w(units, unit, kCountsLayout);
    w << iteration_count << function_count << ln_lh;
    w.End();
  }
  {
    WriteStatement w(units, unit, kHeadingLayout);
    w.End();
  }
  for (std::int32_t i = 1; i <= kBlockLines; ++i) {
    const std::int32_t k = i + kBlockLines;
    WriteStatement w(units, unit, kRowLayout);
    w << i << table.value[i] << table.step[i] << k << table.value[k]
      << table.step[k];
    w.End();
  }
}

void WriteMaximizerFailure(TextUnits& units, int unit,
                           MaximizerFailure failure) {
  const char* layout = failure == MaximizerFailure::kTooManyParameters
                           ? "(' Number of estimated param.>30')"
                           : "(1X,'MAXIMUM NOT FOUND')";
  WriteStatement w(units, unit, layout);
  w.End();
}

}  // namespace segmix
