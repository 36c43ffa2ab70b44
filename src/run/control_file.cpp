// Reading par.inp. The record layouts are the control file's documented
// format; the range checks protect the tables that the counts and the tie
// indices address (selection flags, covariate names, parameter rows).
#include "run/control_file.h"

#include <stdexcept>
#include <string>

#include "data/family_store.h"
#include "run/unit_numbers.h"
#include "textio/statements.h"
#include "textio/termination.h"

namespace segmix {
namespace {

void CheckFirstRecord(const ControlSettings& settings) {
  const std::string family_count = std::to_string(settings.family_count);
  const std::string covariate_count = std::to_string(settings.covariate_count);
  const std::string n_fam = std::to_string(N_FAM);
  if (settings.family_count > N_FAM) {
    // Splitting the sample over several runs would give each part its own
    // estimates, not the joint ones: the remedy is a larger build.
    throw InputRejected(
        "par.inp, first record: the family count is " + family_count +
            ", above N_FAM = " + n_fam +
            ", the most families this build holds. Rebuild with a larger "
            "capacity (cmake -DSEGMIX_N_FAM=" +
            family_count + ", see \"Larger samples\" in the README).",
        TerminationKind::kCapacity);
  }
  if (settings.family_count < 0) {
    throw InputRejected("par.inp, first record: the family count is " +
                        family_count +
                        ", below 0. Give the number of families whose "
                        "selection flags follow, 0 to " +
                        n_fam + ".");
  }
  if (settings.covariate_count > kMaxCovariates) {
    throw InputRejected(
        "par.inp, first record: the covariate count is " + covariate_count +
        ", above 5: the model has one coefficient, B1 to B5, per covariate. "
        "Give at most 5 covariates.");
  }
  if (settings.covariate_count < 0) {
    throw InputRejected("par.inp, first record: the covariate count is " +
                        covariate_count +
                        ", below 0. Give the number of covariate files "
                        "named after the parameter records, 0 to 5.");
  }
}

void CheckTieIndex(const ParameterTable& parameters, std::int32_t row,
                   std::int32_t parameter_count) {
  const std::int32_t tie = parameters.tie[row];
  if (tie >= 1 && tie <= parameter_count) return;
  std::string record = "parameter record " + std::to_string(row);
  if (row < static_cast<std::int32_t>(kParameterNames.size()) - 1) {
    record += " (" + std::string(ShortParameterName(row)) + ")";
  }
  throw InputRejected(
      "par.inp, " + record + ": the tie index is " + std::to_string(tie) +
      ", not a parameter row 1 to " + std::to_string(parameter_count) +
      ". In columns 1 to 3 give the record's own row number (" +
      std::to_string(row) +
      ") for an independent parameter, or the row whose value it takes.");
}

}  // namespace

void ReadControlFile(TextUnits& units, ControlSettings& settings,
                     ParameterTable& parameters, std::int32_t parameter_count) {
  if (parameter_count < 0 || parameter_count > kParameterRows) {
    throw std::invalid_argument(
        "ReadControlFile: parameter count out of range");
  }
  settings = ControlSettings{};
  settings.covariate_file_names.fill(std::string(kFileNameLength, ' '));
  settings.selection_flags.assign(N_FAM + 1, 0);

  {
    ReadStatement first(units, kControlUnit);
    first >> settings.family_count >> settings.proband_switch;
    first.Text(settings.data_file_name, kFileNameLength);
    first >> settings.covariate_count;
    first.End();
  }
  CheckFirstRecord(settings);

  {
    // One statement for all flags: the layout starts again on a new record
    // after every 20 flags, and a short record leaves its missing flags 0.
    ReadStatement flags(units, kControlUnit, "(20i1)");
    for (std::int32_t g = 1; g <= settings.family_count; ++g) {
      flags >> settings.selection_flags[g];
    }
    flags.End();
  }

  for (std::int32_t j = 1; j <= parameter_count; ++j) {
    ReadStatement record(units, kControlUnit, "(2i3,i2,4E12.5)");
    record >> parameters.tie[j] >> parameters.in_model[j] >>
        parameters.estimate[j] >> parameters.value[j] >> parameters.step[j] >>
        parameters.GL[j] >> parameters.GR[j];
    record.End();
    CheckTieIndex(parameters, j, parameter_count);
  }

  for (std::int32_t i = 1; i <= settings.covariate_count; ++i) {
    ReadStatement name(units, kControlUnit);
    name.Text(settings.covariate_file_names[i], kFileNameLength);
    name.End();
  }
}

}  // namespace segmix
