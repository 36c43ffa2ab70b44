// The control file par.inp: ControlSettings and the ParameterTable rows
// 1..15. ReadControlFile reads its four parts (the first free-form record, the
// selection flags, the parameter records, the covariate file names) from an
// open unit and rejects the values that would make the run read or write
// outside its tables.
#ifndef SEGMIX_RUN_CONTROL_FILE_H_
#define SEGMIX_RUN_CONTROL_FILE_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "model/parameter_table.h"
#include "textio/text_units.h"

namespace segmix {

// Width of the data file name and of each covariate file name.
inline constexpr std::size_t kFileNameLength = 16;
// Most covariates the model carries: one coefficient B1..B5 each.
inline constexpr std::int32_t kMaxCovariates = 5;

struct ControlSettings {
  std::int32_t family_count = 0;    // families the selection flags speak of
  std::int32_t proband_switch = 0;  // nonzero: report and correct every family
  std::string data_file_name =
      std::string(kFileNameLength, ' ');  // blank-padded
  std::int32_t covariate_count = 0;       // 0..5
  // [1..8], 16 characters each; entries 1..covariate_count are filled, the
  // others are all blanks. Index 0 unused.
  std::array<std::string, 9> covariate_file_names;
  // selection_flags[g], g = 1..N_FAM; 0 leaves the family out. Index 0 and
  // the families above family_count are 0.
  std::vector<std::int32_t> selection_flags;
};

// Reads par.inp from unit 1 (open, positioned at its start): the first
// free-form record, the selection flags ("(20i1)", family_count items), the
// `parameter_count` parameter records ("(2i3,i2,4E12.5)", rows 1..n) and one
// free-form record per covariate file name. Leaves the unit open and replaces
// all of `settings`.
//
// Throws TextIoError for an unreadable record (end of file, a value that does
// not parse) and InputRejected, before anything that depends on the value is
// read, for a family count outside 0..N_FAM, a covariate count outside 0..5 or
// a tie index outside 1..parameter_count.
// Precondition: 0 <= parameter_count <= kParameterRows.
void ReadControlFile(TextUnits& units, ControlSettings& settings,
                     ParameterTable& parameters,
                     std::int32_t parameter_count = kParameterCount);

}  // namespace segmix

#endif  // SEGMIX_RUN_CONTROL_FILE_H_
