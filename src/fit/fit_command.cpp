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
#include "fit/bootstrap_parts.h"
#include "fit/engine.h"
#include "fit/execute.h"
#include "fit/model_series.h"
#include "fit/output_folder.h"
#include "fit/outputs.h"
#include "fit/plan.h"
#include "fit/progress.h"
#include "fit/report_html.h"
#include "fit/stop_signals.h"
#include "fit/transform.h"
#include "review/check_inputs.h"
#include "review/data_review.h"
#include "textio/termination.h"

namespace segmix::fit {
namespace {

namespace fs = std::filesystem;

using cli::UsageError;

std::string FirstLine(const std::string& text) {
  return text.substr(0, text.find('\n'));
}

// The input review's warnings (legal input that is almost always a mistake),
// each shown as it is found; input a run refuses is left to the loader, which
// refuses it with segmix's own message and status. Under a threshold
// correction a corrected family whose observed members are all probands
// does contribute (their values given that they exceed T): that warning is
// left out, as is the advice to transform a skewed trait under --transform.
std::vector<std::string> InputWarnings(const FitPlan& plan, std::ostream& err) {
  std::vector<std::string> warnings;
  for (const Finding& finding : CheckInputs(plan.input).findings) {
    if (finding.severity != Severity::kWarning) continue;
    if (plan.ascertainment.ByThreshold() &&
        finding.message.find(kOnlyProbandsObserved) != std::string::npos) {
      continue;
    }
    if (plan.boxcox && finding.message.starts_with(kSkewedTrait)) continue;
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

void WriteOutputs(const FitPlan& plan, const FitReport& report,
                  const BootstrapPart* slice) {
  const auto write = [&](const char* name, const std::string& text) {
    cli::WriteOutputFile(plan.output / name, text, ".segmix-fit.tmp");
  };
  if (slice != nullptr) write(kPartFileName, PartJson(*slice));
  write("models.csv", ModelsCsv(report));
  write("tests.csv", TestsCsv(report));
  write("families.csv", FamiliesCsv(report));
  write("persons.csv", PersonsCsv(report));
  if (!report.simulation.tests.empty()) {
    write("rejections.csv", RejectionsCsv(report));
  }
  write("fit.json", FitJson(report));
  if (plan.write_report_html) write("report.html", ReportHtml(report));
  // Under a threshold correction each model folder says that its sigma.dat
  // is not segmix's own maximum there.
  const std::string note = AscertainmentNote(report);
  if (note.empty()) return;
  for (const ModelDescription& m : plan.models) {
    if (fs::is_directory(plan.output / m.name)) {
      cli::WriteOutputFile(plan.output / m.name / "ascertainment.txt", note,
                           ".segmix-fit.tmp");
    }
  }
}

// Names directly under --out that the run writes.
std::vector<std::string> OutputEntries(const FitPlan& plan) {
  std::vector<std::string> entries(std::begin(kSummaryFiles),
                                   std::end(kSummaryFiles));
  for (const ModelDescription& m : plan.models) entries.push_back(m.name);
  return entries;
}

// Every file the run reads, absolute.
std::vector<fs::path> InputPaths(const FitPlan& plan,
                                 const Analysis& analysis) {
  std::vector<fs::path> inputs;
  for (const std::string& name : analysis.input_files) {
    inputs.push_back(analysis.directory / name);
  }
  inputs.push_back(analysis.directory / std::string(cli::kMapFileName));
  if (!plan.model_file.empty()) inputs.push_back(plan.model_file);
  if (!plan.ascertainment.file.empty()) {
    inputs.push_back(plan.ascertainment.file);
  }
  return inputs;
}

// The plan of a slice's recorded command line, read in its working folder,
// with the merge's --out, --quiet and --threads. Throws segmix::InputRejected
// when it no longer reads as the options the slices recorded.
FitPlan ReplaySliceCommand(const BootstrapPart& part, const FitPlan& merge) {
  const fs::path here = fs::current_path();
  std::error_code ec;
  fs::current_path(part.working_folder, ec);
  if (ec) {
    throw InputRejected("the slices ran in " + part.working_folder +
                        ", which cannot be entered here (" + ec.message() +
                        "); merge where the slices' paths are valid.");
  }
  FitPlan replay;
  try {
    replay = ParseFitCommandLine(part.args);
  } catch (...) {
    fs::current_path(here);
    throw;
  }
  fs::current_path(here);
  if (AnalysisOptions(replay) != part.options) {
    throw InputRejected(
        "the slices' command line (run in " + part.working_folder +
        ") reads as other options here than when they ran; merge where the "
        "slices ran, with the same model file.");
  }
  replay.output = merge.output;
  replay.quiet = merge.quiet;
  if (merge.threads > 0) replay.threads = merge.threads;
  replay.bootstrap_task = {};
  replay.merge = merge.merge;
  return replay;
}

int RunPlan(const FitPlan& plan, const BootstrapPart* merged, std::ostream& out,
            std::ostream& err, bool terminal) {
  std::vector<std::string> warnings = InputWarnings(plan, err);
  Analysis analysis = LoadAnalysis(plan.input);
  if (plan.ascertainment.ByThreshold()) {
    UseThresholdCorrection(analysis,
                           ThresholdsFor(plan.ascertainment, analysis));
  }
  if (plan.boxcox) UseBoxCox(analysis, plan.shift);
  const PlannedModels planned = PlanModels(plan, analysis);
  CheckBootstrapTests(plan, planned);
  std::vector<cli::MapEntry> ids = ReadIds(analysis);
  std::vector<fs::path> inputs = InputPaths(plan, analysis);
  // What identifies the series, for a --resume of this run; a slice
  // records what it read; the merge reads the same files or none.
  SeriesIdentity identity;
  identity.version = FirstLine(VersionText("segmix-fit"));
  identity.series_options = SeriesOptions(plan);
  identity.inputs = DigestInputs(inputs);
  BootstrapPart slice;
  slice.inputs = identity.inputs;
  if (merged != nullptr) {
    // A file changed or gone, or one the slices did not have (an idmap.dat
    // written since).
    const std::string change = InputChange(merged->inputs, slice.inputs);
    if (!change.empty()) {
      throw InputRejected(
          "the inputs are not those the slices read: " + change +
          "; run the slices again on the current files.");
    }
    for (const fs::path& dir : plan.merge)
      inputs.push_back(dir / kPartFileName);
  }
  CheckOutputFolder(plan.output, OutputEntries(plan), inputs);

  const StopSignals stop_signals;
  OutputFolder folder(plan.output);
  // Read under the folder's lock: no other run is writing it.
  EarlierRun earlier;
  if (plan.resume) earlier = ReadResume(plan.output, identity);
  FitPlan staged = plan;
  staged.output = folder.Staging();
  Progress progress(err, plan.quiet, terminal);
  FitReport report;
  try {
    report = ExecutePlan(staged, planned, analysis, std::move(warnings),
                         std::move(ids), progress, merged,
                         plan.resume ? &earlier : nullptr);
  } catch (const RunTermination& termination) {
    // Every input was read before the series: what the core cannot do now
    // is write a model folder's file.
    if (termination.ExitStatus() != cli::kExitInputUnreadable) throw;
    throw cli::OutputFileError(termination.StderrText());
  }
  report.out = plan.output;
  report.series = identity;
  if (plan.bootstrap_task.Sliced()) {
    slice.version = VersionText("segmix-fit");
    slice.options = AnalysisOptions(plan);
    slice.args = plan.args;
    slice.working_folder = plan.working_folder.string();
    slice.task = plan.bootstrap_task;
    const bool bootstrap = plan.bootstrap > 0;
    slice.replicates = bootstrap ? plan.bootstrap : plan.simulate_replicates;
    slice.seed = bootstrap ? plan.bootstrap_seed : plan.simulate_seed;
    slice.tests = report.slice_tests;
  }
  // A stopped series publishes what it finished; a stopped slice writes no
  // part file, so that a merge cannot take its missing replicates for none.
  const int stop_signal = progress.StopSignal();
  WriteOutputs(
      staged, report,
      plan.bootstrap_task.Sliced() && stop_signal == 0 ? &slice : nullptr);
  folder.Publish();
  progress.Finish();
  for (const std::string& missing : report.missing) {
    err << "segmix-fit: incomplete: " << missing << "\n";
  }
  if (stop_signal != 0) {
    err << "segmix-fit: " << progress.StopText() << "; the models fitted "
        << "before the stop were published in " << plan.output.string()
        << " (fit.json \"complete\": false). Run the command again to fit "
           "the rest, with --resume to reuse what was fitted.\n";
  }
  out << ReportText(report);
  out.flush();
  if (!out) {
    throw cli::OutputFileError(
        "the report could not be written to standard output (the files in " +
        plan.output.string() +
        (stop_signal != 0 ? " hold what was finished)." : " are complete)."));
  }
  if (stop_signal != 0) return cli::ExitStatusForSignal(stop_signal);
  // A model no start could fit: the core refused its starts.
  if (!report.complete) return cli::kExitInputRefused;
  return cli::kExitDone;
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
  if (plan.merge.empty()) return RunPlan(plan, nullptr, out, err, terminal);
  const BootstrapPart merged = MergeParts(plan.merge);
  return RunPlan(ReplaySliceCommand(merged, plan), &merged, out, err, terminal);
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
  } catch (const FitStopped& stop) {
    // A stop after the series (in a bootstrap, a study or a profile).
    err << "segmix-fit: " << stop.what()
        << "; nothing of this run was published: the output folder holds the"
           " earlier run as it was. Run the command again.\n";
    status = cli::ExitStatusForSignal(stop.Signal());
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
