// From a checked pedigree table to the program's input files: iway.dat, the
// trait file, one file per covariate, a par.inp template and the map file
// from family index and member position back to the table's ids.
//
// PrepareData builds everything in memory and runs the program's own
// structure validator on the result; WritePreparedFiles then writes the
// files, all or none.
#ifndef SEGMIX_PREP_PREPARED_DATA_H_
#define SEGMIX_PREP_PREPARED_DATA_H_

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "cli/map_file.h"
#include "data/family_store.h"
#include "model/parameter_table.h"
#include "prep/pedigree_table.h"
#include "prep/peeling_plan.h"
#include "run/control_file.h"

namespace segmix::prep {

inline constexpr std::string_view kStructureFileName = "iway.dat";
inline constexpr std::string_view kControlFileName = "par.inp";
using cli::kMapFileName;
using cli::MapEntry;
using cli::ReadMapFile;
inline constexpr std::string_view kDefaultTraitFileName = "trait.dat";
// "cov1.dat" .. "cov5.dat": the file of covariate q (1-based) when its
// column's name does not make one.
std::string CovariateFileName(int q);

// The covariate files of `columns`, in order: each named after its column
// ("age" -> "age.dat") when that is a plain name of at most 16 characters
// (letters, digits, dots, underscores, hyphens) that no other input or
// result file of the directory has (compared in any case, `trait_file`
// included), else CovariateFileName(q).
std::vector<std::string> CovariateFileNames(
    const std::vector<std::string>& columns, std::string_view trait_file);

// The value written to the trait file for a missing trait: below -998, so
// the program neither counts it as observed nor gives it a density.
inline constexpr float kMissingWritten = -999.0f;

// A prepared file of the program's own failing its own checks: a fault of
// segmix-prep, not of the table.
class InternalFault : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

struct PrepOptions {
  std::vector<std::string> covariates;  // column names, at most 5, B1.. order
  std::string trait_file = std::string(kDefaultTraitFileName);
  std::int32_t proband_switch = 1;  // written into par.inp
  PeelOptions peel;
};

// The observed trait values of the whole table (counts with n - 1).
struct TraitSummary {
  std::int32_t observed = 0;
  double mean = 0;
  double variance = 0;  // 0 with fewer than 2 values
  double min = 0;
  double max = 0;
};

struct PreparedData {
  std::string source;         // the table's name
  FamilyStore store;          // everything but the family weights
  std::vector<MapEntry> map;  // in store order
  ControlSettings control;
  ParameterTable parameters;  // rows 1..15 of the template
  std::vector<std::string> covariate_columns;
  TraitSummary trait;
  std::int32_t outside_count = 0;  // members listed in no nuclear family
};

// Builds the structure (BuildPedigreeFamilies, PlanPeeling per family), the
// member values and the control template, then validates the structure with
// ValidateFamilyStructure. Throws InputRejected for a table that cannot be
// prepared (its problems listed) or has no observed trait value, and
// InternalFault if the validator refuses the structure built.
//
// Template: Q, MU, A, D and SIG in the model and estimated, started from the
// observed trait mean m and standard deviation s (Q 0.2; MU m + 1.5 s,
// A m + 0.5 s, D m - 0.5 s, bounds the observed range widened on each side
// by its width or 2 s, whichever is larger; SIG s^2 / 2 within 0 and 4 s^2;
// s = 1 when the observed values do not vary); pga, Sex and Tr1..Tr3 out
// of the model and fixed, with values and bounds ready for switching them in
// (pga 0.2 s in 0..2 s, Sex 0 in -2 s..2 s, Tr1..Tr3 1, 0.5, 0 in 0..1);
// B1..BK of the K covariates in the model from 0 within +-10 s / sd(x); the
// unused coefficients out. Values are rounded to 3 significant digits.
PreparedData PrepareData(const PedigreeTable& table,
                         const PrepOptions& options);

// The names of the files WritePreparedFiles writes, in writing order.
std::vector<std::string> OutputFileNames(const PreparedData& data);

// Writes the files into `directory` (created if missing) through temporary
// files renamed into place only when all are written. Throws
// cli::OutputFileError, having written nothing, when a file of that name exists
// and `overwrite` is false, or when a file cannot be written.
void WritePreparedFiles(const PreparedData& data,
                        const std::filesystem::path& directory, bool overwrite);

}  // namespace segmix::prep

#endif  // SEGMIX_PREP_PREPARED_DATA_H_
