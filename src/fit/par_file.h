// par.inp as segmix-fit writes it for every start: the control settings of
// the analysis and one parameter table, with every real in a 12-column field
// that segmix reads back as exactly the value written when the value allows
// it. Reading the text back with segmix's reader gives the table a fit
// actually starts from, so that segmix run on the file repeats the fit.
#ifndef SEGMIX_FIT_PAR_FILE_H_
#define SEGMIX_FIT_PAR_FILE_H_

#include <filesystem>
#include <string>

#include "model/parameter_table.h"
#include "run/control_file.h"

namespace segmix::fit {

// The text of `value` in at most 12 columns, with a decimal point (a field
// without one is scaled by 1e-5 on input): the shortest digits that convert
// back to `value` when they fit, else the value rounded to as many
// significant digits as fit.
std::string Field12(double value);

// The whole control file: the first record, the selection flags, the 15
// parameter records ("(2i3,i2,4E12.5)", each followed by its name after
// column 56) and the covariate file names.
std::string ParInpText(const ControlSettings& settings,
                       const ParameterTable& table);

// Writes `text` to `path` and reads it back with segmix's control-file
// reader: the table segmix would start from. Throws RunTermination when the
// reader refuses it (it cannot for text made by ParInpText).
ParameterTable WriteAndReadBack(const std::filesystem::path& path,
                                const std::string& text);

}  // namespace segmix::fit

#endif  // SEGMIX_FIT_PAR_FILE_H_
