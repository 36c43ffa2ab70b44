// Reading segmix-fit's command line into a plan and checking the plan against
// the base table. Option values are parsed by the strict parsers of src/cli
// (CLI11's own integer conversion reads "010" as octal and takes hex).
#include "fit/plan.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <set>

#include "cli/command_line.h"

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
    if (ShortParameterName(r) == name) return r;
  }
  return 0;
}

bool Contains(const std::vector<int>& rows, int row) {
  return std::find(rows.begin(), rows.end(), row) != rows.end();
}

constexpr const char* kFooter =
    "Models (fitted in this order): sporadic, polygenic, major, mixed, "
    "mixed-dominant, mixed-recessive, general-tau, equal-tau; then the "
    "model file's.\nOutputs in --out: the report on standard output, "
    "models.csv, tests.csv, fit.json, families.csv, persons.csv, report.html "
    "and one folder per model with segmix's files.\nExit status: 0 done; 1 "
    "input refused; 2 an input file or folder could not be read; 3 bad "
    "command line or model file (nothing written); 4 an output could not be "
    "written; 5 a fault of the program.";

}  // namespace

FitPlan ParseFitCommandLine(const std::vector<std::string>& args) {
  FitPlan plan;
  CLI::App app{
      "segmix-fit: the whole segregation analysis of a segmix data set in one "
      "command: a series of nested models, several starts each, standard "
      "errors, likelihood-ratio tests, AIC and BIC.",
      "segmix-fit"};
  cli::PrepareCommandLine(app);
  std::string dir = ".", out_dir, models_list, model_file, profile_list;
  std::string starts_text, threads_text;
  bool no_report = false;
  app.add_flag("-h,--help", plan.help, "print this text and stop");
  app.add_option("DIR", dir,
                 "folder holding par.inp and the data files (default .)");
  app.add_option("--out", out_dir, "output folder (default DIR/fit)");
  app.add_option("--models", models_list,
                 "comma-separated models to fit (default: all)");
  app.add_option("--model-file", model_file,
                 "file of user models, one per line");
  app.add_option("--starts", starts_text,
                 "spread starts per model, 0 to 100 (default 4)")
      ->type_name("N");
  app.add_option("--threads", threads_text,
                 "threads, 1 to 1024 (default: the processors this process "
                 "may use, from its CPU affinity and cgroup quota)")
      ->type_name("N");
  std::vector<std::string> compares;
  // One value per occurrence, every occurrence kept: a vector option would
  // otherwise swallow the positional folder after it.
  app.add_option("--compare", compares,
                 "NULL:ALTERNATIVE, a further test (repeatable)")
      ->expected(1)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_option("--profile", profile_list,
                 "parameters for profile intervals, e.g. Q,pga");
  app.add_option("--profile-model", plan.profile_model,
                 "model for --profile (default: best by AIC)");
  app.add_option("--posterior-model", plan.posterior_model,
                 "model of persons.csv's genotype posteriors (default: the "
                 "best by AIC that has a major locus)");
  app.add_flag("--no-report", no_report, "do not write report.html");
  app.add_flag("--quiet", plan.quiet, "no progress on standard error");
  app.add_flag("--version", plan.version, "print the version and stop");
  app.footer(kFooter);
  cli::ParseCommandLine(app, args, "segmix-fit", "argument");
  if (plan.help) {
    plan.help_text = app.help();
    return plan;
  }
  if (plan.version) return plan;
  if (!starts_text.empty()) {
    plan.spread_starts = static_cast<int>(
        cli::ParseIntegerOption("--starts", starts_text, 0, 100));
  }
  if (!threads_text.empty()) {
    plan.threads = static_cast<int>(
        cli::ParseIntegerOption("--threads", threads_text, 1, 1024));
  }
  plan.write_report_html = !no_report;

  // Models: the built-in series, then the model file's, in that order.
  std::vector<ModelDescription> all = BuiltInModels();
  if (!model_file.empty()) {
    plan.model_file = fs::absolute(model_file);
    const std::vector<ModelDescription> user = ReadModelFile(model_file);
    all.insert(all.end(), user.begin(), user.end());
  }
  if (models_list.empty()) {
    plan.models = all;
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
      if (wanted.count(s.name) != 0) plan.models.push_back(s);
    }
  }
  auto fitted = [&](const std::string& name) {
    return std::any_of(
        plan.models.begin(), plan.models.end(),
        [&](const ModelDescription& s) { return s.name == name; });
  };
  for (const std::string& pair : compares) {
    const auto colon = pair.find(':');
    if (colon == std::string::npos) {
      throw UsageError("--compare " + pair + ": write NULL:ALTERNATIVE");
    }
    const std::string a = pair.substr(0, colon), b = pair.substr(colon + 1);
    for (const std::string& name : {a, b}) {
      if (!fitted(name)) {
        throw UsageError("--compare " + pair + ": model '" + name +
                         "' is not fitted");
      }
    }
    plan.compares.emplace_back(a, b);
  }
  for (const std::string& name : NameList(profile_list)) {
    const int row = RowNamed(name);
    if (row == 0) {
      throw UsageError("--profile: unknown parameter '" + name + "'");
    }
    plan.profile_rows.push_back(row);
  }
  if (!plan.profile_model.empty() && !fitted(plan.profile_model)) {
    throw UsageError("--profile-model: model '" + plan.profile_model +
                     "' is not fitted");
  }
  if (!plan.posterior_model.empty() && !fitted(plan.posterior_model)) {
    throw UsageError("--posterior-model: model '" + plan.posterior_model +
                     "' is not fitted");
  }

  plan.input = fs::absolute(dir);
  if (!fs::is_directory(plan.input)) {
    throw cli::InputFileError("DIR " + dir +
                              " is not a folder; give the folder that holds"
                              " par.inp.");
  }
  plan.output = out_dir.empty() ? plan.input / "fit" : fs::absolute(out_dir);
  return plan;
}

int PlannedModels::Index(const FitPlan& plan, const std::string& name) const {
  for (std::size_t i = 0; i < plan.models.size(); ++i) {
    if (plan.models[i].name == name) return static_cast<int>(i);
  }
  return -1;
}

PlannedModels PlanModels(const FitPlan& plan, const Analysis& analysis) {
  PlannedModels planned;
  for (const ModelDescription& description : plan.models) {
    try {
      planned.tables.push_back(ApplyModel(analysis.base, description,
                                          analysis.settings.covariate_count));
    } catch (const ModelError& error) {
      throw UsageError(error.what());
    }
  }
  auto table = [&](const std::string& name) -> const ParameterTable& {
    return planned.tables[static_cast<std::size_t>(planned.Index(plan, name))];
  };
  for (const auto& [a, b] : plan.compares) {
    const std::string option = "--compare " + a + ":" + b + ": ";
    if (!NestedIn(table(a), table(b))) {
      throw UsageError(option + a + " is not nested in " + b);
    }
    if (FreeRows(table(b)).size() <= FreeRows(table(a)).size()) {
      throw UsageError(option + b + " has no parameter more than " + a +
                       " (0 degrees of freedom): there is nothing to test");
    }
  }
  if (!plan.profile_model.empty()) {
    const std::vector<int> free = FreeRows(table(plan.profile_model));
    for (int row : plan.profile_rows) {
      if (!Contains(free, row)) {
        throw UsageError("--profile: " + std::string(ShortParameterName(row)) +
                         " is not free in model " + plan.profile_model);
      }
    }
  }
  if (!plan.posterior_model.empty() &&
      !HasMajorLocus(table(plan.posterior_model))) {
    throw UsageError("--posterior-model: model " + plan.posterior_model +
                     " has no major locus, so its posteriors are the prior;"
                     " name a model with one");
  }
  return planned;
}

}  // namespace segmix::fit
