// segmix-fit as a user runs it: refused command lines (status, message,
// nothing written) and the whole default series on the simulated example.
#include "fit/fit_command.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli/exit_status.h"
#include "fit/plan.h"
#include "support/scratch_path.h"

namespace segmix::fit {
namespace {

namespace fs = std::filesystem;

const fs::path kExample =
    fs::path(SEGMIX_SOURCE_DIR) / "examples" / "simulated";

using segmix::testing::ReadText;

// Rows of a CSV file as maps from the header's names to the fields.
std::vector<std::map<std::string, std::string>> ReadCsv(const fs::path& path) {
  std::istringstream in(ReadText(path));
  auto split = [](const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream s(line);
    for (std::string f; std::getline(s, f, ',');) fields.push_back(f);
    if (!line.empty() && line.back() == ',') fields.push_back("");
    return fields;
  };
  std::string line;
  std::getline(in, line);
  const auto header = split(line);
  std::vector<std::map<std::string, std::string>> rows;
  while (std::getline(in, line)) {
    const auto fields = split(line);
    std::map<std::string, std::string> row;
    for (std::size_t i = 0; i < header.size() && i < fields.size(); ++i) {
      row[header[i]] = fields[i];
    }
    rows.push_back(row);
  }
  return rows;
}

TEST(FitCommand, RefusesBadOptionsAndModelsWritingNothing) {
  const fs::path dir = testing::ScratchPathForCurrentTest("fit_");
  fs::create_directories(dir);
  const fs::path out = dir / "out";
  std::ofstream(dir / "bad.txt")
      << "# models\nmine A=MU\nother A=MU pga=sometimes\n";
  std::ofstream(dir / "b3.txt") << "three B3=in\n";
  const std::string example = kExample.string();
  const struct {
    std::vector<std::string> args;
    int status;
    const char* message;
  } cases[] = {
      {{"--starts", "-1"}, cli::kExitUsage, "--starts"},
      {{"--starts", "many"}, cli::kExitUsage, "--starts"},
      {{"--bogus"}, cli::kExitUsage, "--bogus"},
      {{"--models", "mixed,nosuch"}, cli::kExitUsage, "unknown model 'nosuch'"},
      {{"--model-file", (dir / "bad.txt").string()},
       cli::kExitUsage,
       "bad.txt:3: "},
      {{"--model-file", (dir / "missing.txt").string()},
       cli::kExitInputUnreadable,
       "the model file"},
      {{"--model-file", (dir / "b3.txt").string()},
       cli::kExitUsage,
       "model 'three': B3 has no covariate"},
      {{"--compare", "mixed"}, cli::kExitUsage, "NULL:ALTERNATIVE"},
      {{"--compare", "mixed:major"},
       cli::kExitUsage,
       "mixed is not nested in major"},
      {{"--models", "major", "--compare", "major:mixed"},
       cli::kExitUsage,
       "is not fitted"},
      {{"--profile", "XYZ"}, cli::kExitUsage, "unknown parameter 'XYZ'"},
      {{"--compare", "mixed:mixed"}, cli::kExitUsage, "0 degrees of freedom"},
      {{"--profile", "Tr1", "--profile-model", "mixed"},
       cli::kExitUsage,
       "Tr1 is not free in model mixed"},
      {{"--posterior-model", "polygenic"},
       cli::kExitUsage,
       "has no major locus"},
      {{"--starts", "0x10"}, cli::kExitUsage, "--starts"},
      {{"--transform", "log"}, cli::kExitUsage, "--transform"},
      {{"--shift", "1"}, cli::kExitUsage, "give both"},
      {{"--profile", "lambda"}, cli::kExitUsage, "only under --transform"},
      {{"--transform", "boxcox", "--shift", "0"},
       cli::kExitInputRefused,
       "member 1 has trait -1.341, and with the shift 0 it is not positive"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"segmix-fit", example, "--out",
                                     out.string()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    std::ostringstream report, err;
    const int status = RunFitCommand(static_cast<int>(argv.size()), argv.data(),
                                     report, err, false);
    EXPECT_EQ(status, c.status) << c.args[0] << " " << err.str();
    EXPECT_NE(err.str().find(c.message), std::string::npos) << err.str();
    EXPECT_EQ(report.str(), "");
    EXPECT_FALSE(fs::exists(out)) << c.args[0];
  }
  // A folder without par.inp: segmix's own report and status.
  const char* argv[] = {"segmix-fit", dir.c_str(), "--out", out.c_str()};
  std::ostringstream report, err;
  EXPECT_EQ(RunFitCommand(4, argv, report, err, false),
            cli::kExitInputUnreadable);
  EXPECT_NE(err.str().find("par.inp"), std::string::npos) << err.str();
  EXPECT_FALSE(fs::exists(out));
  fs::remove_all(dir);
}

// An option never takes the positional folder as a value, in either spelling
// and wherever the folder stands; numbers are read as written (no octal).
TEST(FitCommand, OptionsLeaveThePositionalFolderAlone) {
  const std::string example = kExample.string();
  const std::vector<std::vector<std::string>> lines = {
      {"--compare", "sporadic:polygenic", example, "--starts", "010"},
      {"--compare=sporadic:polygenic", example, "--starts=010"},
      {example, "--compare", "sporadic:polygenic", "--compare", "major:mixed",
       "--starts", "10"},
  };
  for (const auto& args : lines) {
    const FitPlan plan = ParseFitCommandLine(args);
    EXPECT_EQ(plan.input, fs::absolute(kExample)) << args[0];
    EXPECT_EQ(plan.spread_starts, 10) << args[0];
    ASSERT_FALSE(plan.compares.empty()) << args[0];
    EXPECT_EQ(plan.compares[0], std::make_pair(std::string("sporadic"),
                                               std::string("polygenic")));
  }
  EXPECT_EQ(ParseFitCommandLine(lines[2]).compares.size(), 2u);
}

// A short run on the small example, in process: segmix-check's warning is
// shown and kept, and every output is there and parses.
TEST(FitCommand, SmallExampleShowsTheCheckWarningAndWritesEveryOutput) {
  const fs::path dir = testing::ScratchPathForCurrentTest("fit_");
  fs::remove_all(dir);
  fs::create_directories(dir);
  const fs::path example = fs::path(SEGMIX_SOURCE_DIR) / "examples" / "small";
  const std::string out = (dir / "out").string();
  const char* argv[] = {"segmix-fit",     example.c_str(), "--out",
                        out.c_str(),      "--quiet",       "--models",
                        "sporadic,major", "--starts",      "1"};
  std::ostringstream report, err;
  ASSERT_EQ(RunFitCommand(9, argv, report, err, false), cli::kExitDone)
      << err.str();
  EXPECT_NE(
      err.str().find("segmix-fit: warning: family 4 has no observed member"),
      std::string::npos)
      << err.str();
  EXPECT_NE(report.str().find("Model major"), std::string::npos);
  const auto models = ReadCsv(dir / "out" / "models.csv");
  ASSERT_EQ(models.size(), 2u);
  // What each row is: a fixed or tied value is not one held at a bound.
  const std::map<std::string, std::string> sporadic = {
      {"Q", "fixed"}, {"MU", "free"}, {"A", "tied"},  {"D", "tied"},
      {"pga", "out"}, {"Tr1", "out"}, {"B1", "free"}, {"B2", "out"}};
  for (const auto& [name, status] : sporadic) {
    EXPECT_EQ(models[0].at(name + "_status"), status) << name;
  }
  const auto json = nlohmann::json::parse(ReadText(dir / "out" / "fit.json"));
  EXPECT_EQ(json.at("input_warnings").size(), 1u);
  EXPECT_EQ(json.at("models").at(0).at("tied_to").at("A"), "MU");
  // The family terms are the best model's final pass: unweighted, they sum
  // to its ln LH (the weight only scales LH_fam.dat's value).
  // The posteriors are major's (sporadic has no major locus) and sum to 1.
  const std::string best = json.at("best_model");
  double sum = 0;
  for (const auto& row : ReadCsv(dir / "out" / "families.csv")) {
    if (!row.at("ln_lh").empty()) sum += std::stod(row.at("ln_lh"));
  }
  for (const auto& m : json.at("models")) {
    if (m.at("name") == best) {
      EXPECT_NEAR(sum, m.at("ln_lh").get<double>(), 1e-9);
    }
  }
  EXPECT_EQ(json.at("posterior_model"), "major");
  // models.csv carries fit.json's variance components, to every digit.
  for (const char* name : {"major_locus", "total", "h2_major"}) {
    const auto& v = json.at("models").at(1).at("variance_components").at(name);
    EXPECT_EQ(std::stod(models[1].at(name)), v.at("estimate").get<double>());
    EXPECT_EQ(std::stod(models[1].at(std::string(name) + "_se")),
              v.at("se").get<double>());
  }
  int persons = 0;
  for (const auto& row : ReadCsv(dir / "out" / "persons.csv")) {
    if (row.at("p_genotype1").empty()) continue;
    ++persons;
    EXPECT_NEAR(std::stod(row.at("p_genotype1")) +
                    std::stod(row.at("p_genotype2")) +
                    std::stod(row.at("p_genotype3")),
                1.0, 1e-12);
  }
  EXPECT_GT(persons, 0);
  for (const char* model : {"sporadic", "major"}) {
    for (const char* file : {"par.inp", "sigma.dat", "max.dat", "LH_fam.dat"}) {
      EXPECT_TRUE(fs::exists(dir / "out" / model / file)) << model << file;
    }
  }
  fs::remove_all(dir);
}

// The advice to transform a skewed trait is for a run that does not: under
// --transform boxcox it is left out of the warnings.
TEST(FitCommand, SkewnessAdviceOnlyWithoutTheTransform) {
  const fs::path dir = testing::ScratchPathForCurrentTest("fit_");
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::copy(fs::path(SEGMIX_SOURCE_DIR) / "examples" / "small", dir / "data");
  // One value far above the rest: the sample skewness is 3.27.
  std::ofstream(dir / "data" / "trait.dat")
      << "10.2 11.5 60.0 12.9 10.7 -999 -999 13.4 11.2 9.8 14.1 12.6 10.9 "
         "9.6 -999 11.8 10.4 -999 -999\n";
  for (const bool boxcox : {false, true}) {
    std::vector<std::string> args = {"segmix-fit", (dir / "data").string(),
                                     "--out",      (dir / "out").string(),
                                     "--quiet",    "--models",
                                     "sporadic",   "--starts",
                                     "0"};
    if (boxcox) args.insert(args.end(), {"--transform", "boxcox"});
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    std::ostringstream report, err;
    RunFitCommand(static_cast<int>(argv.size()), argv.data(), report, err,
                  false);
    EXPECT_EQ(err.str().find("the trait's skewness is") == std::string::npos,
              boxcox)
        << err.str();
  }
  fs::remove_all(dir);
}

// The whole default model series on the simulated example (drawn with a
// Mendelian major locus and no polygenic component), from the base and warm
// starts only to keep it short. Long all the same: it runs once, and not in
// the sanitizer build.
TEST(FitCommand, DefaultSeriesOnTheSimulatedExample) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the full series takes minutes; the sanitizer build skips it";
#endif
  const fs::path dir = testing::ScratchPathForCurrentTest("fit_");
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::copy(kExample, dir / "data");
  const std::string command = std::string(SEGMIX_FIT_BINARY) +
                              " --quiet --starts 0 " + (dir / "data").string() +
                              " > " + (dir / "report.txt").string();
  ASSERT_EQ(std::system(command.c_str()), 0);
  const fs::path out = dir / "data" / "fit";

  const auto models = ReadCsv(out / "models.csv");
  ASSERT_EQ(models.size(), 8u);
  const auto tests = ReadCsv(out / "tests.csv");
  std::map<std::string, double> p;
  for (const auto& t : tests) p[t.at("test")] = std::stod(t.at("p_value"));
  EXPECT_LT(p.at("major locus"), 0.05);
  EXPECT_GT(p.at("Mendelian transmission"), 0.05);
  EXPECT_LT(p.at("no transmission"), 0.05);
  EXPECT_EQ(tests.size(), 6u);

  const auto json = nlohmann::json::parse(ReadText(out / "fit.json"));
  EXPECT_EQ(json.at("models").size(), 8u);
  EXPECT_EQ(json.at("tests").size(), 6u);

  // Posteriors sum to 1 for every person of an evaluated family.
  for (const auto& row : ReadCsv(out / "persons.csv")) {
    if (row.at("p_genotype1").empty()) continue;
    const double sum = std::stod(row.at("p_genotype1")) +
                       std::stod(row.at("p_genotype2")) +
                       std::stod(row.at("p_genotype3"));
    EXPECT_NEAR(sum, 1, 1e-12);
  }
  EXPECT_EQ(ReadCsv(out / "families.csv").size(), 200u);

  // segmix alone, run on each model's par.inp beside the data, writes the
  // model folder's sigma.dat byte for byte.
  for (const auto& m : models) {
    const fs::path run = dir / ("segmix-" + m.at("model"));
    fs::copy(kExample, run);
    fs::copy_file(out / m.at("model") / "par.inp", run / "par.inp",
                  fs::copy_options::overwrite_existing);
    const std::string segmix =
        "cd " + run.string() + " && " + SEGMIX_BINARY + " > /dev/null";
    ASSERT_EQ(std::system(segmix.c_str()), 0) << m.at("model");
    EXPECT_EQ(ReadText(run / "sigma.dat"),
              ReadText(out / m.at("model") / "sigma.dat"))
        << m.at("model");
    EXPECT_EQ(ReadText(run / "LH_fam.dat"),
              ReadText(out / m.at("model") / "LH_fam.dat"))
        << m.at("model");
  }
  fs::remove_all(dir);
}

// Data drawn with the same transmission probability 0.5 for every genotype
// (a major effect that is not passed on): equal-tau within general-tau is not
// rejected. Seed 11 is the first seed tried.
TEST(FitCommand, EqualTransmissionHoldsOnDataDrawnWithoutTransmission) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "fits take minutes; the sanitizer build skips them";
#endif
  const fs::path dir = testing::ScratchPathForCurrentTest("fit_");
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string in_dir = "cd " + dir.string() + " && ";
  const std::string commands[] = {
      in_dir + SEGMIX_SIMULATE_BINARY +
          " --seed 11 --families 120 --generations 3 --Tr1 0.5 --Tr2 0.5 "
          "--Tr3 0.5 --output table.txt",
      in_dir + SEGMIX_PREP_BINARY + " table.txt . > /dev/null",
      in_dir + SEGMIX_FIT_BINARY +
          " --quiet --starts 0 --models general-tau,equal-tau . > report.txt",
  };
  for (const std::string& command : commands) {
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }
  const auto tests = ReadCsv(dir / "fit" / "tests.csv");
  ASSERT_EQ(tests.size(), 1u);
  EXPECT_EQ(tests[0].at("test"), "no transmission");
  EXPECT_GT(std::stod(tests[0].at("p_value")), 0.05);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace segmix::fit
