// The check follows the run's sequence up to its search: the control file,
// the run's own load of the family data with its validators and counts, the
// gate of the starting point, its one evaluation and the check of the steps.
// Each
// stage that a run would stop at ends the check with the run's own status and
// message.
#include "review/check_inputs.h"

#include <optional>
#include <sstream>
#include <system_error>

#include "cli/exit_status.h"
#include "model/evaluation.h"
#include "model/parameter_checks.h"
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

// A refusal of the start with what a run writes about it: par.err and the
// console (both kept in memory) for a refused point or step, standard error
// for a start whose evaluation failed.
void RefuseStart(const std::optional<ParameterRejection>& rejection,
                 const std::string& failure_text, CheckReport& report) {
  std::string text =
      "segmix-check: a run refuses the starting point of par.inp (exit "
      "status " +
      std::to_string(kExitRejected) + ").\n";
  if (rejection) {
    const RejectionText message = RejectionMessageParts(*rejection);
    if (!message.par_err.empty()) {
      text += "It writes to par.err:\n" + message.par_err;
    }
    if (!message.console.empty()) {
      text += "It writes on the console:\n" + message.console;
    }
  }
  if (!failure_text.empty()) {
    text += "It writes on standard error:\n" + failure_text;
  }
  report.refusal = Refusal{kExitRejected, text};
}

// The row whose value `row` takes: itself, or the row it is tied to.
int TieRoot(const ParameterTable& p, int row) {
  return p.tie[row] >= 1 && p.tie[row] <= kParameterCount ? p.tie[row] : row;
}

// The start as the run takes it: the checked gate, the one evaluation at
// the start, then the check of the steps, each refusal as the run gives it.
// Then the search's gate at the start: when it refuses a value that nothing
// estimates (a parameter fixed on a bound of its range, such as Q = 1), the
// search can move to no point at all, and a run ends with MAXIMUM NOT FOUND.
void CheckStart(const Analysis& analysis, CheckReport& report) {
  ParameterTable table = analysis.parameters;
  SwitchOffLeftOutComponents(table);
  Fit fit(analysis, table);
  const EvaluationOutcome start = fit.Start();
  if (StartFailed(start)) {
    std::optional<ParameterRejection> rejection;
    if (start.status == EvaluationStatus::kRejectedPoint) {
      rejection = start.rejection;
    }
    RefuseStart(rejection, StartFailureText(start), report);
    return;
  }
  if (const std::optional<ParameterRejection> lost = fit.CheckSteps()) {
    RefuseStart(lost, "", report);
    return;
  }
  ParameterTable searched = table;
  ModelQuantities quantities;
  const std::optional<ParameterRejection> refused =
      AcceptParameters(searched, analysis.settings.covariate_count, quantities);
  if (!refused || refused->row < 1 || refused->row > kParameterCount) return;
  const int row = refused->row;
  if (table.estimate[TieRoot(table, row)] != 0) return;  // the search moves it
  std::string reason;
  switch (refused->kind) {
    case RejectionKind::kFrequency:
      reason =
          "it makes the allele frequency P1 = " + NumberText(refused->value) +
          ", which the search needs strictly between 0 and 1";
      break;
    case RejectionKind::kNotProbability:
      reason = "the value is not a probability";
      break;
    case RejectionKind::kVariance:
      reason = "a residual variance must be above 0";
      break;
    case RejectionKind::kMeanOrder:
      reason = "D lies above MU";
      break;
    default:
      reason = "the search keeps every value strictly inside its bounds";
  }
  report.Add(Severity::kWarning, "par.inp", ParameterRecordName(row),
             "the parameter is fixed at " + NumberText(table.value[row]) +
                 ", on a bound of its range: the start is evaluated, but "
                 "the search's gate refuses every point with this value (" +
                 reason +
                 "), so a run ends with MAXIMUM NOT FOUND and ln LH "
                 "-0.99999998E+18 in sigma.dat (exit status 0). Fix it "
                 "strictly inside its range, or estimate it.");
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
  ReviewProbandTraits(analysis->settings, analysis->store, report);
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
