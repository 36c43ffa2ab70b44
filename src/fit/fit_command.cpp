// The command in three steps: the command line read into a plan and checked
// against the base table (fit/plan.h), the plan carried out (fit/execute.h),
// the outputs written (fit/outputs.h). Everything that can refuse the command
// line is checked before the output folder is created, so a refused command
// writes nothing.
#include "fit/fit_command.h"

#include <filesystem>
#include <ostream>

#include "cli/command_line.h"
#include "cli/exit_status.h"
#include "cli/output_file.h"
#include "data/capacities.h"
#include "fit/engine.h"
#include "fit/execute.h"
#include "fit/model_series.h"
#include "fit/outputs.h"
#include "fit/plan.h"
#include "fit/progress.h"
#include "fit/report_html.h"
#include "review/check_inputs.h"
#include "textio/termination.h"

namespace segmix::fit {
namespace {

namespace fs = std::filesystem;

using cli::UsageError;

// The input review's warnings (legal input that is almost always a mistake),
// each shown as it is found; input a run refuses is left to the loader, which
// refuses it with segmix's own message and status.
std::vector<std::string> InputWarnings(const fs::path& input,
                                       std::ostream& err) {
  std::vector<std::string> warnings;
  for (const Finding& finding : CheckInputs(input).findings) {
    if (finding.severity != Severity::kWarning) continue;
    std::string where = finding.file;
    if (!finding.place.empty()) {
      where += (where.empty() ? "" : " ") + finding.place;
    }
    warnings.push_back("warning: " + (where.empty() ? "" : where + ": ") +
                       finding.message);
    err << "segmix-fit: " << warnings.back() << "\n";
  }
  return warnings;
}

void WriteOutputs(const FitPlan& plan, const FitReport& report) {
  const auto write = [&](const char* name, const std::string& text) {
    cli::WriteOutputFile(plan.output / name, text, ".segmix-fit.tmp");
  };
  write("models.csv", ModelsCsv(report));
  write("tests.csv", TestsCsv(report));
  write("families.csv", FamiliesCsv(report));
  write("persons.csv", PersonsCsv(report));
  write("fit.json", FitJson(report));
  if (plan.write_report_html) write("report.html", ReportHtml(report));
}

int Run(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
        bool terminal) {
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const FitPlan plan = ParseFitCommandLine(args);
  if (plan.help) {
    out << plan.help_text;
    return cli::kExitDone;
  }
  if (plan.version) {
    const std::string text = VersionText("segmix-fit");
    out << text << (text.empty() || text.back() != '\n' ? "\n" : "");
    return cli::kExitDone;
  }
  std::vector<std::string> warnings = InputWarnings(plan.input, err);
  const Analysis analysis = LoadAnalysis(plan.input);
  const PlannedModels planned = PlanModels(plan, analysis);
  std::vector<cli::MapEntry> ids = ReadIds(analysis);

  fs::create_directories(plan.output);
  Progress progress(err, plan.quiet, terminal);
  const FitReport report = ExecutePlan(
      plan, planned, analysis, std::move(warnings), std::move(ids), progress);
  WriteOutputs(plan, report);
  progress.Finish();
  out << ReportText(report);
  out.flush();
  return cli::kExitDone;
}

}  // namespace

int RunFitCommand(int argc, const char* const* argv, std::ostream& out,
                  std::ostream& err, bool terminal) {
  int status = cli::kExitInternal;
  try {
    status = Run(argc, argv, out, err, terminal);
  } catch (const UsageError& error) {
    err << "segmix-fit: " << error.what() << "\n";
    status = cli::kExitUsage;
  } catch (const ModelError& error) {
    err << "segmix-fit: " << error.what() << "\n";
    status = cli::kExitUsage;
  } catch (const cli::FileError& error) {
    err << "segmix-fit: " << error.what() << "\n";
    status = error.ExitStatus();
  } catch (const RunTermination& termination) {
    err << termination.StderrText();
    status = termination.ExitStatus();
  } catch (const fs::filesystem_error& error) {
    err << "segmix-fit: " << error.what() << "\n";
    status = cli::kExitOutputNotWritten;
  } catch (const std::runtime_error& error) {
    err << "segmix-fit: " << error.what() << "\n";
    status = cli::kExitOutputNotWritten;
  } catch (const std::exception& error) {
    err << "segmix-fit: internal error: " << error.what()
        << ". Please report it with the input files.\n";
    status = cli::kExitInternal;
  }
  err.flush();
  return status;
}

}  // namespace segmix::fit
