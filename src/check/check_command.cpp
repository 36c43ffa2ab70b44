// segmix-check's command line: one optional folder, --help and --version.
#include <CLI/CLI.hpp>
#include <ostream>
#include <string>

#include "cli/command_line.h"
#include "cli/exit_status.h"
#include "data/capacities.h"
#include "review/check_inputs.h"

namespace segmix {
namespace {

constexpr const char* kDescription =
    "segmix-check: reads the inputs of a segmix run in DIR (default: the "
    "working directory) exactly as segmix reads them: par.inp, iway.dat, the "
    "trait file and the covariate files. It evaluates nothing and writes "
    "nothing there. It reports every suspicious thing it finds, one block per "
    "finding with the file, record and columns and what to write instead, "
    "then a line counting the warnings.";

constexpr const char* kFooter =
    "Exit status: 0 nothing suspicious (information lines only); 1 warnings; "
    "otherwise the status a run of segmix would end with on this input (2 "
    "for a missing or malformed text file or folder, 1 for data or a "
    "starting point it refuses), with segmix's own message on standard "
    "error; 3 bad command line; 4 the report could not be written to "
    "standard output; 5 a fault of segmix-check.";

}  // namespace

int RunCheckCommand(int argc, const char* const* argv, std::ostream& out,
                    std::ostream& err) {
  CLI::App app(kDescription, "segmix-check");
  app.footer(kFooter);
  std::string dir = ".";
  bool version = false;
  app.add_option("DIR", dir, "folder holding par.inp and the data files");
  app.add_flag("--version", version, "print the version and the capacities");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    out << app.help();
    return cli::FinishStandardOutput(out, err, "segmix-check", "the help text",
                                     cli::kExitDone);
  } catch (const CLI::ParseError& failure) {
    err << "segmix-check: " << failure.what() << "\n" << app.help();
    return cli::kExitUsage;
  }
  if (version) {
    out << VersionText("segmix-check");
    return cli::FinishStandardOutput(out, err, "segmix-check", "the version",
                                     cli::kExitDone);
  }
  const CheckReport report = CheckInputs(dir);
  out << FormatReport(report);
  if (report.refusal) {
    err << report.refusal->text;
    err.flush();
  }
  return cli::FinishStandardOutput(out, err, "segmix-check", "the report",
                                   report.ExitStatus());
}

}  // namespace segmix
