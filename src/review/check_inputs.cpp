// The check follows the run's sequence, leaving out the evaluations: the
// control file, the run's own load of the family data with its validators and
// counts, the gate of the starting point and the check of the steps. Each
// stage that a run would stop at ends the check with the run's own status and
// message.
#include "review/check_inputs.h"

#include <optional>
#include <sstream>
#include <system_error>

#include "cli/exit_status.h"
#include "model/evaluation.h"
#include "review/control_file_review.h"
#include "review/data_review.h"
#include "review/free_form_scan.h"
#include "run/analysis.h"
#include "run/control_file.h"
#include "run/recorded_fit.h"
#include "run/unit_numbers.h"
#include "textio/termination.h"

namespace segmix {
namespace {

// The run's gate for its starting point and its check of the steps, without
// the evaluation between them: a refusal with what the run writes about it
// (par.err and the console, both kept in memory).
void CheckStart(const Analysis& analysis, CheckReport& report) {
  const std::optional<ParameterRejection> rejection =
      StartRejection(analysis, analysis.parameters);
  if (!rejection) return;
  const RejectionText message = RejectionMessageParts(*rejection);
  std::string text =
      "segmix-check: a run refuses the starting point of par.inp (exit "
      "status " +
      std::to_string(kExitRejected) + ").\n";
  if (!message.par_err.empty()) {
    text += "It writes to par.err:\n" + message.par_err;
  }
  if (!message.console.empty()) {
    text += "It writes on the console:\n" + message.console;
  }
  report.refusal = Refusal{kExitRejected, text};
}

void CheckIn(const std::filesystem::path& dir, CheckReport& report) {
  std::ostringstream console;  // the run's console report: not shown
  TextUnits units(console, dir);
  // par.inp alone first, so that its findings stand even when the family
  // data are refused.
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
  ReviewControlText(ReadRecords(units.PathOf("par.inp")), settings, parameters,
                    report);
  ReviewParameters(settings, parameters, report);

  // Then the whole load exactly as the run does it.
  std::optional<Analysis> analysis;
  try {
    analysis.emplace(LoadAnalysis(units));
  } catch (const RunTermination& termination) {
    report.refusal =
        Refusal{termination.ExitStatus(), termination.StderrText()};
    return;
  }
  ReviewDataFiles(dir, analysis->settings, analysis->store, report);
  ReviewFamilies(analysis->settings, analysis->store, report);
  ReviewTrait(analysis->settings, analysis->store, report);
  CheckStart(*analysis, report);
}

}  // namespace

CheckReport CheckInputs(const std::filesystem::path& dir) {
  CheckReport report;
  try {
    // The folder itself first: every name below is opened inside it.
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec)) {
      if (!ec) ec = std::make_error_code(std::errc::not_a_directory);
      if (!std::filesystem::exists(dir)) {
        ec = std::make_error_code(std::errc::no_such_file_or_directory);
      }
      throw std::filesystem::filesystem_error("segmix-check", dir, ec);
    }
    CheckIn(dir, report);
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
        Refusal{cli::kExitInternal,
                std::string("segmix-check: internal error: ") + failure.what() +
                    ". Please report it with the input files.\n"};
  }
  return report;
}

}  // namespace segmix
