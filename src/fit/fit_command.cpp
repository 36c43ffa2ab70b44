// The command. Everything that can refuse the command line (options, model
// file, model names, comparisons, the models' changes against par.inp) is
// checked before the output folder is created, so a refused command writes
// nothing.
#include "fit/fit_command.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <set>
#include <sstream>

#include "cli/command_line.h"
#include "cli/exit_status.h"
#include "cli/output_file.h"
#include "data/capacities.h"
#include "fit/comparisons.h"
#include "fit/engine.h"
#include "fit/model_series.h"
#include "fit/outputs.h"
#include "fit/profile.h"
#include "fit/progress.h"
#include "fit/series.h"
#include "fit/standard_errors.h"
#include "review/check_inputs.h"
#include "textio/termination.h"

namespace segmix::fit {
namespace {

namespace fs = std::filesystem;

using cli::UsageError;

// The names of a comma-separated list, blanks around them dropped; an empty
// piece ("mixed,,major", a trailing comma) names nothing.
std::vector<std::string> NameList(std::string_view text) {
  std::vector<std::string> names = cli::SplitList(text, ',');
  std::erase(names, std::string());
  return names;
}

int RowNamed(const std::string& name) {
  for (int r = 1; r <= kParameterCount; ++r) {
    std::string_view n = kParameterNames[r];
    if (n.substr(0, n.find(' ')) == name) return r;
  }
  return 0;
}

struct StandardTest {
  const char* label;
  const char* null_model;
  const char* alternative;
};

constexpr StandardTest kStandardTests[] = {
    {"major locus", "polygenic", "mixed"},
    {"polygenic component", "major", "mixed"},
    {"Mendelian transmission", "mixed", "general-tau"},
    {"no transmission", "equal-tau", "general-tau"},
    {"dominance", "mixed-dominant", "mixed"},
    {"recessivity", "mixed-recessive", "mixed"},
};

int Run(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
        bool terminal) {
  CLI::App app{
      "segmix-fit: the whole segregation analysis of a segmix data set in one "
      "command: a series of nested models, several starts each, standard "
      "errors, likelihood-ratio tests, AIC and BIC."};
  std::string dir = ".";
  std::string out_dir, models_list, model_file, profile_list, profile_model;
  std::vector<std::string> compares;
  int starts = 4;
  bool quiet = false, version = false;
  app.add_option("DIR", dir,
                 "folder holding par.inp and the data files (default .)");
  app.add_option("--out", out_dir, "output folder (default DIR/fit)");
  app.add_option("--models", models_list,
                 "comma-separated models to fit (default: all)");
  app.add_option("--model-file", model_file,
                 "file of user models, one per line");
  app.add_option("--starts", starts, "spread starts per model (default 4)")
      ->check(CLI::Range(0, 100));
  app.add_option("--compare", compares,
                 "NULL:ALTERNATIVE, a further test (repeatable)");
  app.add_option("--profile", profile_list,
                 "parameters for profile intervals, e.g. Q,pga");
  app.add_option("--profile-model", profile_model,
                 "model for --profile (default: best by AIC)");
  app.add_flag("--quiet", quiet, "no progress on standard error");
  app.add_flag("--version", version, "print the version and stop");
  app.footer(
      "Models (fitted in this order): sporadic, polygenic, major, mixed, "
      "mixed-dominant, mixed-recessive, general-tau, equal-tau; then the "
      "model file's.\nOutputs in --out: the report on standard output, "
      "models.csv, tests.csv, fit.json, families.csv, persons.csv and one "
      "folder per model with segmix's files.\nExit status: 0 done; 1 input "
      "refused; 2 an input file or folder could not be read; 3 bad command "
      "line or "
      "model file (nothing written); 4 an output could not be written; 5 a "
      "fault of the program.");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    out << app.help();
    return cli::kExitDone;
  } catch (const CLI::ParseError& error) {
    err << "segmix-fit: " << error.what()
        << "\nRun segmix-fit --help for the options.\n";
    return cli::kExitUsage;
  }
  if (version) {
    const std::string text = VersionText("segmix-fit");
    out << text << (text.empty() || text.back() != '\n' ? "\n" : "");
    return cli::kExitDone;
  }

  // Models: the built-in series, then the model file's, in that order.
  std::vector<ModelDescription> all = BuiltInModels();
  if (!model_file.empty()) {
    const std::vector<ModelDescription> user = ReadModelFile(model_file);
    all.insert(all.end(), user.begin(), user.end());
  }
  std::vector<ModelDescription> chosen;
  if (models_list.empty()) {
    chosen = all;
  } else {
    std::set<std::string> wanted;
    for (const std::string& name : NameList(models_list)) {
      const bool known = std::any_of(
          all.begin(), all.end(),
          [&](const ModelDescription& s) { return s.name == name; });
      if (!known) {
        throw UsageError(
            "--models: unknown model '" + name + "'" +
            (model_file.empty() ? " (user models need --model-file)" : ""));
      }
      wanted.insert(name);
    }
    for (const ModelDescription& s : all) {
      if (wanted.count(s.name) != 0) chosen.push_back(s);
    }
  }
  auto has_model = [&](const std::string& name) {
    return std::any_of(
        chosen.begin(), chosen.end(),
        [&](const ModelDescription& s) { return s.name == name; });
  };
  std::vector<std::pair<std::string, std::string>> extra_tests;
  for (const std::string& pair : compares) {
    const auto colon = pair.find(':');
    if (colon == std::string::npos) {
      throw UsageError("--compare " + pair + ": write NULL:ALTERNATIVE");
    }
    const std::string a = pair.substr(0, colon), b = pair.substr(colon + 1);
    for (const std::string& name : {a, b}) {
      if (!has_model(name)) {
        throw UsageError("--compare " + pair + ": model '" + name +
                         "' is not fitted");
      }
    }
    extra_tests.emplace_back(a, b);
  }
  std::vector<int> profile_rows;
  for (const std::string& name : NameList(profile_list)) {
    const int row = RowNamed(name);
    if (row == 0)
      throw UsageError("--profile: unknown parameter '" + name + "'");
    profile_rows.push_back(row);
  }
  if (!profile_model.empty() && !has_model(profile_model)) {
    throw UsageError("--profile-model: model '" + profile_model +
                     "' is not fitted");
  }

  const fs::path input = fs::absolute(dir);
  if (!fs::is_directory(input)) {
    throw cli::InputFileError("DIR " + dir +
                              " is not a folder; give the folder that holds"
                              " par.inp.");
  }
  const fs::path output =
      out_dir.empty() ? input / "fit" : fs::absolute(out_dir);
  // segmix-check's review first: its warnings (legal input that is almost
  // always a mistake) are shown; input a run refuses is left to the loader
  // below, which refuses it with segmix's own message and status.
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
  const Analysis analysis = LoadAnalysis(input);

  std::vector<ParameterTable> tables;
  for (const ModelDescription& description : chosen) {
    try {
      tables.push_back(ApplyModel(analysis.base, description,
                                  analysis.settings.covariate_count));
    } catch (const ModelError& error) {
      throw UsageError(error.what());
    }
  }
  for (const auto& [a, b] : extra_tests) {
    const auto ia = std::find_if(chosen.begin(), chosen.end(),
                                 [&](auto& s) { return s.name == a; });
    const auto ib = std::find_if(chosen.begin(), chosen.end(),
                                 [&](auto& s) { return s.name == b; });
    if (!NestedIn(tables[ia - chosen.begin()], tables[ib - chosen.begin()])) {
      throw UsageError("--compare " + a + ":" + b + ": " + a +
                       " is not nested in " + b);
    }
  }
  for (int row : profile_rows) {
    (void)row;  // checked against the model once it is known
  }

  fs::create_directories(output);
  Progress progress(err, quiet, terminal);
  FitReport report;
  report.analysis = &analysis;
  report.out = output;
  report.input_warnings = warnings;
  {
    const std::string text = VersionText("segmix-fit");
    report.version = text.substr(0, text.find('\n'));
  }
  report.models = FitSeries(analysis, chosen, tables, starts, output, progress);

  for (std::size_t i = 0; i < report.models.size(); ++i) {
    const ModelResult& m = report.models[i];
    if (m.Fitted() && (report.best_model < 0 ||
                       m.aic < report.models[report.best_model].aic)) {
      report.best_model = static_cast<int>(i);
    }
  }
  auto find = [&](const std::string& name) -> const ModelResult* {
    for (const ModelResult& m : report.models) {
      if (m.description.name == name && m.Fitted()) return &m;
    }
    return nullptr;
  };
  auto add_test = [&](const std::string& label, const std::string& a,
                      const std::string& b) {
    const ModelResult* null_model = find(a);
    const ModelResult* alternative = find(b);
    if (null_model == nullptr || alternative == nullptr) return;
    Comparison test = Compare(label, a, null_model->ln_lh, null_model->model,
                              static_cast<int>(null_model->free_rows.size()), b,
                              alternative->ln_lh, alternative->model,
                              static_cast<int>(alternative->free_rows.size()),
                              &alternative->se);
    // Without a major locus the genotype means are equal and Q has no
    // effect: no chi-square law holds for this test.
    if (label == "major locus") {
      test.note += (test.note.empty() ? "" : "; ") +
                   std::string(
                       "Q is not identified under the null: the "
                       "chi2 reference is only approximate");
    }
    report.tests.push_back(test);
  };
  for (const StandardTest& t : kStandardTests)
    add_test(t.label, t.null_model, t.alternative);
  for (const auto& [a, b] : extra_tests) add_test(a + " within " + b, a, b);

  if (!profile_rows.empty()) {
    const ModelResult* m =
        profile_model.empty()
            ? (report.best_model >= 0 ? &report.models[report.best_model]
                                      : nullptr)
            : find(profile_model);
    if (m == nullptr) {
      progress.Note("warning: no fitted model for --profile");
    } else {
      for (int row : profile_rows) {
        if (std::find(m->free_rows.begin(), m->free_rows.end(), row) ==
            m->free_rows.end()) {
          progress.Note("warning: --profile: " +
                        std::string(kParameterNames[row].substr(0, 3)) +
                        " is not free in model " + m->description.name +
                        "; skipped");
          continue;
        }
        report.profiles.push_back(
            ProfileParameter(analysis, *m, row, progress));
      }
    }
  }
  report.seconds = progress.Elapsed();

  std::string idmap;
  {
    std::ifstream in(input / "idmap.dat");
    std::stringstream text;
    text << in.rdbuf();
    idmap = text.str();
  }
  cli::WriteOutputFile(output / "models.csv", ModelsCsv(report),
                       ".segmix-fit.tmp");
  cli::WriteOutputFile(output / "tests.csv", TestsCsv(report),
                       ".segmix-fit.tmp");
  cli::WriteOutputFile(output / "families.csv", FamiliesCsv(report, idmap),
                       ".segmix-fit.tmp");
  cli::WriteOutputFile(output / "persons.csv", PersonsCsv(report, idmap),
                       ".segmix-fit.tmp");
  cli::WriteOutputFile(output / "fit.json", FitJson(report), ".segmix-fit.tmp");
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
