// The checks of par.inp that need its raw text or only the values read from
// it: how the first record's values were written, the selection flag
// records, the columns of every parameter record, records after the last one
// read, and the parameters' steps, bounds and ties.
#ifndef SEGMIX_CHECK_CONTROL_FILE_REVIEW_H_
#define SEGMIX_CHECK_CONTROL_FILE_REVIEW_H_

#include <cstddef>
#include <string>
#include <vector>

#include "model/parameter_table.h"
#include "review/findings.h"
#include "run/control_file.h"

namespace segmix {

// `records` are par.inp's lines (ReadRecords); `settings` and `parameters`
// what ReadControlFile read from them (it must have succeeded). Adds a
// warning for: a value of the first record or a covariate file name left
// unset by a slash or an empty field; a proband switch other than 0 or 1;
// blank flag columns and flags beyond a flag record's count; in a parameter
// record, a real written without a decimal point that reads otherwise, a
// blank field of a parameter in use, a blank inside a field; records after
// the last one read.
void ReviewControlText(const std::vector<std::string>& records,
                       const ControlSettings& settings,
                       const ParameterTable& parameters, CheckReport& report);

// Adds a warning for an estimated parameter with step 0, GL >= GR, a step
// larger than GR - GL, or a start within one step of a bound; an estimated
// parameter that has no effect on the likelihood; and a tie to a row that is
// itself tied. Rows 1..kParameterCount, before the run applies any tie.
void ReviewParameters(const ControlSettings& settings,
                      const ParameterTable& parameters, CheckReport& report);

// "parameter record 4 (D)".
std::string ParameterRecordName(int row);

}  // namespace segmix

#endif  // SEGMIX_CHECK_CONTROL_FILE_REVIEW_H_
