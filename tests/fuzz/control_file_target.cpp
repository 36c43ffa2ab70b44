// Fuzz target: the control file reader and the parameter gate that first
// reads the table it fills.
#include <cstdlib>
#include <sstream>

#include "data/family_store.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_targets.h"
#include "model/model_quantities.h"
#include "model/parameter_checks.h"
#include "run/control_file.h"
#include "run/evaluation_records.h"
#include "textio/termination.h"
#include "textio/text_units.h"

namespace segmix::fuzz {
namespace {

constexpr int kControlUnit = 1;
constexpr int kErrorUnit = 25;

// What ReadControlFile promises about a table it returns.
void CheckContract(const ControlSettings& settings,
                   const ParameterTable& parameters) {
  if (settings.family_count < 0 || settings.family_count > N_FAM) std::abort();
  if (settings.covariate_count < 0 ||
      settings.covariate_count > kMaxCovariates) {
    std::abort();
  }
  if (settings.data_file_name.size() != kFileNameLength) std::abort();
  for (const std::string& name : settings.covariate_file_names) {
    if (name.size() != kFileNameLength) std::abort();
  }
  if (settings.selection_flags.size() < static_cast<std::size_t>(N_FAM) + 1) {
    std::abort();
  }
  for (int row = 1; row <= kParameterCount; ++row) {
    if (parameters.tie[row] < 1 || parameters.tie[row] > kParameterCount) {
      std::abort();
    }
  }
}

}  // namespace

int FuzzControlFile(const std::uint8_t* data, std::size_t size) {
  const auto path = ScratchDirectory() / "par.inp";
  WriteFile(path, AsText(data, size));
  std::ostringstream console;
  TextUnits units(console);
  try {
    units.Open(kControlUnit, path.string(), OpenStatus::kOld);
    units.Open(kErrorUnit, (ScratchDirectory() / "par.err").string(),
               OpenStatus::kNone);
    ControlSettings settings;
    ParameterTable parameters;
    ReadControlFile(units, settings, parameters);
    CheckContract(settings, parameters);
    ModelQuantities quantities;
    ParameterTable accepted = parameters;
    AcceptParameters(accepted, settings.covariate_count, quantities);
    if (const auto rejection =
            CheckParameters(parameters, settings.covariate_count, quantities)) {
      WriteParameterRejection(units, *rejection);
    }
  } catch (const RunTermination&) {
  }
  return 0;
}

}  // namespace segmix::fuzz
