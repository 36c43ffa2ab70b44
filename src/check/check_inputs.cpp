// The check follows the run's sequence up to its first evaluation: the
// control file, the family data with their validators, the member counts and
// the parameter checks of the starting point. Each stage that a run would
// stop at ends the check with the run's own status and message.
#include "check/check_inputs.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <span>
#include <sstream>
#include <system_error>

#include "check/control_file_review.h"
#include "check/data_review.h"
#include "check/free_form_scan.h"
#include "data/family_store.h"
#include "model/model_quantities.h"
#include "model/parameter_checks.h"
#include "run/control_file.h"
#include "run/member_counts.h"
#include "textio/termination.h"

namespace segmix {
namespace {

constexpr int kControlUnit = 1;
constexpr int kErrorUnit = 25;

// Makes `dir` the working directory for its lifetime.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const std::filesystem::path& dir)
      : saved_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~WorkingDirectory() {
    std::error_code ignored;
    std::filesystem::current_path(saved_, ignored);
  }
  WorkingDirectory(const WorkingDirectory&) = delete;
  WorkingDirectory& operator=(const WorkingDirectory&) = delete;

 private:
  std::filesystem::path saved_;
};

// A scratch file outside the checked folder, removed with its owner: where
// the parameter checks write the par.err messages of a refused start.
class ScratchFile {
 public:
  ScratchFile() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "segmix-check-XXXXXX")
            .string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0)
      throw std::system_error(errno, std::generic_category(), "mkstemp");
    ::close(fd);
    path_ = pattern;
  }
  ~ScratchFile() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

std::string FileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)),
                     std::istreambuf_iterator<char>());
}

// The run zeroes the components left out of the model before anything else.
void SwitchOffLeftOutComponents(ParameterTable& parameters) {
  for (const ParameterRow row : {kB1, kB2, kB3, kB4, kB5, kPga, kSex}) {
    if (parameters.in_model[row] == 0) parameters.value[row] = 0;
  }
}

// The run's parameter checks of the starting point, with par.err diverted to
// a scratch file: a refusal with what the run would write there (and on the
// console) when they reject it.
void CheckStart(ParameterTable parameters, std::int32_t covariate_count,
                CheckReport& report) {
  SwitchOffLeftOutComponents(parameters);
  const ScratchFile par_err;
  std::ostringstream console;
  double status = 0;
  {
    TextUnits units(console);
    units.Open(kErrorUnit, par_err.Path().string(), OpenStatus::kNone);
    ModelQuantities quantities;
    status = CheckParameters(parameters, covariate_count, quantities, units);
    units.CloseAll();
  }
  if (status > kFailureThreshold) return;
  std::string text =
      "segmix-check: a run refuses the starting point of par.inp (exit "
      "status " +
      std::to_string(kExitRejected) + ").\n";
  const std::string errors = FileText(par_err.Path());
  if (!errors.empty()) text += "It writes to par.err:\n" + errors;
  if (!console.str().empty())
    text += "It writes on the console:\n" + console.str();
  report.refusal = Refusal{kExitRejected, text};
}

void CheckIn(CheckReport& report) {
  std::ostringstream console;  // the run's console report: not shown
  TextUnits units(console);
  ControlSettings settings;
  ParameterTable parameters;
  try {
    units.Open(kControlUnit, "par.inp", OpenStatus::kOld);
    ReadControlFile(units, settings, parameters, kParameterCount);
    units.Close(kControlUnit);
  } catch (const RunTermination& termination) {
    report.refusal =
        Refusal{termination.ExitStatus(), termination.StderrText()};
    return;
  }
  ReviewControlText(ReadRecords("par.inp"), settings, parameters, report);
  ReviewParameters(settings, parameters, report);

  FamilyStore store;
  try {
    ReadFamilyData(
        units, settings.data_file_name,
        std::span<const std::string>(settings.covariate_file_names)
            .subspan(1, static_cast<std::size_t>(settings.covariate_count)),
        store);
    if (parameters.in_model[kSex] != 0) {
      ValidateSexCodes(store, settings.selection_flags, settings.family_count);
    }
    CountMembers(settings, store, units);
  } catch (const RunTermination& termination) {
    report.refusal =
        Refusal{termination.ExitStatus(), termination.StderrText()};
    return;
  }
  ReviewDataFiles(settings, store, report);
  ReviewFamilies(settings, store, report);
  ReviewTrait(settings, store, report);
  CheckStart(parameters, settings.covariate_count, report);
}

}  // namespace

CheckReport CheckInputs(const std::filesystem::path& dir) {
  CheckReport report;
  try {
    const WorkingDirectory in(dir);
    CheckIn(report);
  } catch (const std::filesystem::filesystem_error& failure) {
    report.refusal =
        Refusal{kExitTextIo, "segmix-check: cannot work in \"" + dir.string() +
                                 "\": " + failure.code().message() +
                                 ". Give the folder that holds par.inp.\n"};
  } catch (const std::bad_alloc&) {
    report.refusal = Refusal{
        kExitRejected,
        "segmix-check: out of memory: the input needs more storage than this "
        "machine can give. Check the counts in par.inp and iway.dat.\n"};
  } catch (const std::exception& failure) {
    report.refusal =
        Refusal{kExitRejected,
                std::string("segmix-check: internal error: ") + failure.what() +
                    ". Please report it with the input files.\n"};
  }
  return report;
}

}  // namespace segmix
