// The control file par.inp: ControlSettings and the ParameterTable rows 1..15.
#ifndef SEGMIX_RUN_CONTROL_FILE_H_
#define SEGMIX_RUN_CONTROL_FILE_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "model/parameter_table.h"
#include "textio/text_units.h"

namespace segmix {

struct ControlSettings {
  std::int32_t family_count = 0;    // families the selection flags speak of
  std::int32_t proband_switch = 0;  // nonzero: report and correct every family
  std::string data_file_name = std::string(16, ' ');  // 16 chars, blank-padded
  std::int32_t covariate_count = 0;                   // 0..5
  std::array<std::string, 9> covariate_file_names;    // [1..8], 16 chars each
  // selection_flags[g], g = 1..N_FAM; 0 leaves the family out. Index 0 unused.
  std::vector<std::int32_t> selection_flags;
};

// Reads par.inp from unit 1 (open): the first free-form record, the
// selection flags, `parameter_count` parameter records and the covariate file
// names. Throws TextIoError for an unreadable record and InputRejected for a
// family count outside 0..N_FAM, a covariate count outside 0..5 or a tie
// index outside 1..15.
void ReadControlFile(TextUnits& units, ControlSettings& settings,
                     ParameterTable& parameters,
                     std::int32_t parameter_count = kParameterCount);

}  // namespace segmix

#endif  // SEGMIX_RUN_CONTROL_FILE_H_
