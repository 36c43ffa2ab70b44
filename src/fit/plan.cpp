// Reading segmix-fit's command line into a plan and checking the plan against
// the base table. Option values are parsed by the strict parsers of src/cli
// (CLI11's own integer conversion reads "010" as octal and takes hex).
#include "fit/plan.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "cli/command_line.h"
#include "cli/input_file.h"
#include "data/family_store.h"
#include "fit/transform.h"
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
    if (ShortParameterName(r) == name) return r;
  }
  return name == "lambda" ? kLambda : 0;
}

bool Contains(const std::vector<int>& rows, int row) {
  return std::find(rows.begin(), rows.end(), row) != rows.end();
}

// The blank-separated fields of `line` before a '#' (a comment to the end
// of the line); a carriage return counts as a blank.
std::vector<std::string> Fields(std::string_view line) {
  line = line.substr(0, line.find('#'));
  std::vector<std::string> fields;
  std::size_t i = 0;
  while (true) {
    i = line.find_first_not_of(" \t\r", i);
    if (i == std::string_view::npos) break;
    const std::size_t end =
        std::min(line.find_first_of(" \t\r", i), line.size());
    fields.emplace_back(line.substr(i, end - i));
    i = end;
  }
  return fields;
}

// The threshold file: one line per family, "INDEX VALUE" (blank lines and
// '#' comments skipped). A bad line is refused with the file, the line and
// its text, as a bad model file line is (nothing fitted, exit status 3).
std::vector<Ascertainment::Line> ReadThresholdFile(const fs::path& path) {
  std::ifstream in;
  cli::OpenInputFile(in, path.string(), "the --ascertainment threshold file");
  std::vector<Ascertainment::Line> lines;
  std::map<std::int32_t, int> seen;  // family index -> line
  int number = 0;
  for (std::string line;
       cli::ReadLineCapped(in, line, path.string(), number + 1);) {
    ++number;
    const std::vector<std::string> fields = Fields(line);
    if (fields.empty()) continue;
    const std::string place =
        path.string() + ":" + std::to_string(number) + ": ";
    if (fields.size() != 2) {
      throw UsageError(place + "'" + line.substr(0, 80) + "' has " +
                       std::to_string(fields.size()) +
                       " fields; write the family index (as in LH_fam.dat and"
                       " families.csv) and its threshold, e.g. '12 2.5'.");
    }
    Ascertainment::Line entry;
    entry.line = number;
    try {
      entry.family = static_cast<std::int32_t>(
          cli::ParseIntegerOption("the family index", fields[0], 1,
                                  std::numeric_limits<std::int32_t>::max()));
      entry.threshold = cli::ParseRealOption("the threshold", fields[1]);
    } catch (const UsageError& error) {
      throw UsageError(place + error.what() +
                       " Write the family index and its threshold, e.g. "
                       "'12 2.5'.");
    }
    const auto [at, fresh] = seen.emplace(entry.family, number);
    if (!fresh) {
      throw UsageError(place + "family index " + fields[0] +
                       " already has a threshold on line " +
                       std::to_string(at->second) +
                       "; give each family one line.");
    }
    lines.push_back(entry);
  }
  if (in.bad()) {
    throw cli::InputFileError(path.string() + ": reading failed part way.");
  }
  return lines;
}

constexpr const char* kAscertainmentKinds =
    "proband-values, threshold=T or threshold-file=F";

Ascertainment ParseAscertainment(const std::string& text) {
  Ascertainment a;
  const auto equals = text.find('=');
  const std::string kind = text.substr(0, equals);
  const std::string value =
      equals == std::string::npos ? std::string() : text.substr(equals + 1);
  if (kind == "proband-values" && equals == std::string::npos) return a;
  if (kind == "threshold" && equals != std::string::npos) {
    a.kind = Ascertainment::Kind::kThreshold;
    a.threshold = cli::ParseRealOption("--ascertainment threshold=T", value);
    return a;
  }
  if (kind == "threshold-file" && !value.empty()) {
    a.kind = Ascertainment::Kind::kThresholdFile;
    a.file_as_given = value;
    a.file = fs::absolute(value);
    a.lines = ReadThresholdFile(value);
    return a;
  }
  throw UsageError("--ascertainment needs " + std::string(kAscertainmentKinds) +
                   ", not '" + text + "'.");
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
  std::string starts_text, threads_text, ascertainment_text;
  std::string transform_text = "none", shift_text;
  std::string bootstrap_text, bootstrap_tests_text, bootstrap_seed_text;
  std::string task_text, simulate_text, replicates_text, simulate_seed_text;
  std::vector<std::string> merge_dirs;
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
  app.add_option("--ascertainment", ascertainment_text,
                 "how corrected families are conditioned on their probands: "
                 "proband-values (default, as segmix), threshold=T (each "
                 "proband's P(trait > T)) or threshold-file=F (lines of "
                 "family index and T)")
      ->type_name("KIND");
  app.add_option("--transform", transform_text,
                 "none (default) or boxcox: the trait analysed as "
                 "((y + c)^lambda - 1)/lambda, lambda estimated in every "
                 "model")
      ->check(CLI::IsMember({"none", "boxcox"}))
      ->type_name("KIND");
  app.add_option("--shift", shift_text,
                 "c of --transform boxcox (default: 0 when every observed "
                 "value is positive, else 1% of their range minus the "
                 "smallest)")
      ->type_name("C");
  app.add_option("--bootstrap", bootstrap_text,
                 "parametric bootstrap replicates per test, 0 to 100000 "
                 "(default 0: none)")
      ->type_name("N");
  app.add_option("--bootstrap-tests", bootstrap_tests_text,
                 "the tests to bootstrap, by label or NULL:ALTERNATIVE, "
                 "comma-separated (default: every test)")
      ->type_name("LIST");
  app.add_option("--bootstrap-seed", bootstrap_seed_text,
                 "seed of the bootstrap's draws (default 1)")
      ->type_name("S");
  app.add_option("--simulate-from", simulate_text,
                 "a power or calibration study: --replicates data sets drawn "
                 "from this model's estimates on the observed pedigrees, "
                 "every test fitted to each; rejection rates in "
                 "rejections.csv")
      ->type_name("MODEL");
  app.add_option("--replicates", replicates_text,
                 "data sets of --simulate-from, 1 to 100000")
      ->type_name("R");
  app.add_option("--simulate-seed", simulate_seed_text,
                 "seed of --simulate-from's draws (default 1)")
      ->type_name("S");
  app.add_option("--bootstrap-task", task_text,
                 "run only slice I of K of the bootstrap's replicates or the "
                 "study's data sets (I, I+K, ...) and write its part file, "
                 "bootstrap-part.json")
      ->type_name("I/K");
  app.add_option("--merge", merge_dirs,
                 "the --out folders of every slice of one --bootstrap-task "
                 "analysis: fits it once more and writes, in --out, what a "
                 "single run would have written")
      ->expected(1, -1)
      ->type_name("DIR...");
  app.add_flag("--resume", plan.resume,
               "continue the run stopped in --out: its finished climbs are "
               "reused when the inputs and the series' options are "
               "unchanged (the result is a whole run's)");
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
  plan.args = args;
  plan.working_folder = fs::current_path();
  if (!merge_dirs.empty()) {
    // The analysis is the slices': any option of it here would be ignored.
    for (const CLI::Option* option : app.get_options()) {
      const std::string name = option->get_name();
      if (option->count() == 0 || name == "--merge" || name == "--out" ||
          name == "--quiet" || name == "--threads") {
        continue;
      }
      throw UsageError(
          "--merge takes the analysis from the slices' part "
          "files: give only the slices' folders, --out, --quiet "
          "and --threads, not " +
          (name == "DIR" ? "the data folder " + dir : name));
    }
    if (out_dir.empty()) {
      throw UsageError("--merge needs --out, the folder of the merged run");
    }
    for (const std::string& d : merge_dirs)
      plan.merge.push_back(fs::absolute(d));
    plan.output = fs::absolute(out_dir);
    if (!threads_text.empty()) {
      plan.threads = static_cast<int>(
          cli::ParseIntegerOption("--threads", threads_text, 1, 1024));
    }
    return plan;
  }
  if (!starts_text.empty()) {
    plan.spread_starts = static_cast<int>(
        cli::ParseIntegerOption("--starts", starts_text, 0, 100));
  }
  if (!threads_text.empty()) {
    plan.threads = static_cast<int>(
        cli::ParseIntegerOption("--threads", threads_text, 1, 1024));
  }
  plan.write_report_html = !no_report;
  plan.boxcox = transform_text == "boxcox";
  if (!bootstrap_text.empty()) {
    plan.bootstrap = static_cast<int>(
        cli::ParseIntegerOption("--bootstrap", bootstrap_text, 0, 100000));
  }
  if (!bootstrap_seed_text.empty()) {
    plan.bootstrap_seed = static_cast<std::uint64_t>(cli::ParseIntegerOption(
        "--bootstrap-seed", bootstrap_seed_text, 0, 4294967295LL));
  }
  plan.bootstrap_tests = NameList(bootstrap_tests_text);
  if (plan.bootstrap == 0 &&
      (!plan.bootstrap_tests.empty() || !bootstrap_seed_text.empty())) {
    throw UsageError(
        "--bootstrap-tests and --bootstrap-seed need --bootstrap N");
  }
  if (!simulate_text.empty() || !replicates_text.empty() ||
      !simulate_seed_text.empty()) {
    if (simulate_text.empty() || replicates_text.empty()) {
      throw UsageError(
          "a study needs both --simulate-from MODEL and --replicates R");
    }
    if (plan.bootstrap > 0) {
      throw UsageError(
          "give either --bootstrap or --simulate-from, not both: run them as "
          "two commands");
    }
    if (plan.boxcox) {
      throw UsageError(
          "--simulate-from with --transform boxcox is not available yet (the "
          "data sets would be drawn on the transformed scale)");
    }
    plan.simulate_from = simulate_text;
    plan.simulate_replicates = static_cast<int>(
        cli::ParseIntegerOption("--replicates", replicates_text, 1, 100000));
    if (!simulate_seed_text.empty()) {
      plan.simulate_seed = static_cast<std::uint64_t>(cli::ParseIntegerOption(
          "--simulate-seed", simulate_seed_text, 0, 4294967295LL));
    }
  }
  if (!task_text.empty()) {
    const int replicates =
        plan.bootstrap > 0 ? plan.bootstrap : plan.simulate_replicates;
    if (replicates == 0) {
      throw UsageError(
          "--bootstrap-task needs --bootstrap N or --simulate-from with "
          "--replicates R");
    }
    const auto slash = task_text.find('/');
    if (slash == std::string::npos) {
      throw UsageError("--bootstrap-task needs I/K (slice I of K), not '" +
                       task_text + "'");
    }
    plan.bootstrap_task.count = static_cast<int>(cli::ParseIntegerOption(
        "--bootstrap-task's K", task_text.substr(slash + 1), 1, replicates));
    plan.bootstrap_task.index = static_cast<int>(cli::ParseIntegerOption(
        "--bootstrap-task's I", task_text.substr(0, slash), 1,
        plan.bootstrap_task.count));
  }
  if (plan.bootstrap > 0 && plan.boxcox) {
    throw UsageError(
        "--bootstrap with --transform boxcox is not available yet (the "
        "replicates would be drawn on the transformed scale): bootstrap "
        "without --transform");
  }
  if (!shift_text.empty()) {
    if (!plan.boxcox) {
      throw UsageError("--shift is the shift of --transform boxcox; give both");
    }
    plan.shift = cli::ParseRealOption("--shift", shift_text);
  }
  if (!ascertainment_text.empty()) {
    plan.ascertainment = ParseAscertainment(ascertainment_text);
  }

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
    if (row == kLambda && !plan.boxcox) {
      throw UsageError(
          "--profile lambda: lambda is estimated only under --transform "
          "boxcox");
    }
    plan.profile_rows.push_back(row);
  }
  if (!plan.profile_model.empty() && !fitted(plan.profile_model)) {
    throw UsageError("--profile-model: model '" + plan.profile_model +
                     "' is not fitted");
  }
  if (!plan.simulate_from.empty() && !fitted(plan.simulate_from)) {
    throw UsageError("--simulate-from: model '" + plan.simulate_from +
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

std::vector<double> ThresholdsFor(const Ascertainment& ascertainment,
                                  const Analysis& analysis) {
  const std::size_t n = analysis.families.size();  // stored count + 1
  const bool from_file =
      ascertainment.kind == Ascertainment::Kind::kThresholdFile;
  const std::string file = ascertainment.file_as_given;
  std::vector<double> thresholds(
      n, from_file ? -std::numeric_limits<double>::infinity()
                   : ascertainment.threshold);
  std::vector<int> line_of(n, 0);
  for (const Ascertainment::Line& entry : ascertainment.lines) {
    const auto g = static_cast<std::size_t>(entry.family);
    if (g >= n) {
      throw InputRejected(
          file + ":" + std::to_string(entry.line) + ": family index " +
          std::to_string(entry.family) + " is not a family of iway.dat (" +
          std::to_string(n - 1) +
          " families): the file is of another data set; take the indices "
          "from families.csv or LH_fam.dat.");
    }
    thresholds[g] = entry.threshold;
    line_of[g] = entry.line;
  }
  const FamilyStore& store = analysis.core.store;
  for (const FamilyFacts& f : analysis.families) {
    if (f.index == 0 || !f.corrected) continue;
    const auto g = static_cast<std::size_t>(f.index);
    if (from_file && line_of[g] == 0) {
      throw InputRejected(
          file + ": family index " + std::to_string(f.index) +
          " is corrected for ascertainment but has no line: add one with its "
          "threshold (every corrected family needs one).");
    }
    const std::int32_t base = store.MemberOffset(f.index);
    for (std::int32_t k = 1; k <= f.members; ++k) {
      const float y = store.trait[base + k];
      if (store.status[base + k] == 2 || !(y > kMissingTrait)) continue;
      if (static_cast<double>(y) >= thresholds[g]) continue;
      char text[64];
      std::snprintf(text, sizeof text, "%.9g below its threshold %.17g",
                    static_cast<double>(y), thresholds[g]);
      throw InputRejected(
          "--ascertainment: family index " + std::to_string(f.index) +
          ", member " + std::to_string(k) + ": the proband's trait " + text +
          (from_file ? " (" + file + ":" + std::to_string(line_of[g]) + ")"
                     : std::string()) +
          ": conditioning on P(trait > T) would condition on an event that "
          "did not happen. Give the threshold the family was ascertained "
          "through, or use --ascertainment proband-values.");
    }
  }
  return thresholds;
}

PlannedModels PlanModels(const FitPlan& plan, const Analysis& analysis) {
  PlannedModels planned;
  for (const ModelDescription& description : plan.models) {
    try {
      planned.tables.push_back(ApplyModel(analysis.base, description,
                                          analysis.settings.covariate_count));
      AddLambdaRow(analysis, planned.tables.back());
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
        throw UsageError("--profile: " + RowName(row) +
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

std::string AnalysisOptions(const FitPlan& plan) {
  using Json = nlohmann::ordered_json;
  Json models = Json::array();
  for (const ModelDescription& m : plan.models) {
    models.push_back({m.name, m.definition});
  }
  Json compares = Json::array();
  for (const auto& [a, b] : plan.compares) compares.push_back({a, b});
  const Ascertainment& a = plan.ascertainment;
  Json options = {{"data", plan.input.string()},
                  {"model_file", plan.model_file.string()},
                  {"models", models},
                  {"starts", plan.spread_starts},
                  {"compare", compares},
                  {"profile", plan.profile_rows},
                  {"profile_model", plan.profile_model},
                  {"posterior_model", plan.posterior_model},
                  {"report_html", plan.write_report_html},
                  {"ascertainment",
                   {static_cast<int>(a.kind), a.threshold, a.file.string()}},
                  {"boxcox", plan.boxcox},
                  {"shift", plan.shift ? Json(*plan.shift) : Json()},
                  {"bootstrap", plan.bootstrap},
                  {"bootstrap_tests", plan.bootstrap_tests},
                  {"bootstrap_seed", plan.bootstrap_seed},
                  {"simulate_from", plan.simulate_from},
                  {"replicates", plan.simulate_replicates},
                  {"simulate_seed", plan.simulate_seed}};
  return options.dump();
}

std::string SeriesOptions(const FitPlan& plan) {
  using Json = nlohmann::ordered_json;
  Json models = Json::array();
  for (const ModelDescription& m : plan.models) {
    models.push_back({m.name, m.definition});
  }
  const Ascertainment& a = plan.ascertainment;
  const Json options = {
      {"data", plan.input.string()},
      {"model_file", plan.model_file.string()},
      {"models", models},
      {"starts", plan.spread_starts},
      {"ascertainment",
       {static_cast<int>(a.kind), a.threshold, a.file.string()}},
      {"boxcox", plan.boxcox},
      {"shift", plan.shift ? Json(*plan.shift) : Json()}};
  return options.dump();
}

}  // namespace segmix::fit
