// A stop signal during the series: the models that finished are published,
// the rest named in fit.json's missing, exit 128 + N.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cli/exit_status.h"
#include "fit/fit_command.h"
#include "support/scratch_path.h"

namespace segmix::fit {
namespace {

namespace fs = std::filesystem;

using segmix::testing::ReadText;

// Standard error that raises `signal` (as a user's kill would) once the
// progress has flushed a line holding `trigger`.
class SignalOnText : public std::stringbuf {
 public:
  SignalOnText(std::string trigger, int signal)
      : trigger_(std::move(trigger)), signal_(signal) {}

 protected:
  int sync() override {
    if (!raised_ && str().find(trigger_) != std::string::npos) {
      raised_ = true;
      std::raise(signal_);
    }
    return 0;
  }

 private:
  std::string trigger_;
  int signal_;
  bool raised_ = false;
};

std::string ModelRow(const fs::path& models_csv, const std::string& name) {
  std::istringstream in(ReadText(models_csv));
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with(name + ",")) return line;
  }
  return "";
}

// A fresh scratch folder of the current test holding examples/NAME as data/.
fs::path ScratchWithExample(const std::string& prefix, const char* name) {
  const fs::path dir = testing::ScratchPathForCurrentTest(prefix);
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::copy(fs::path(SEGMIX_SOURCE_DIR) / "examples" / name, dir / "data");
  return dir;
}

int Fit(const std::vector<std::string>& args, std::ostream& err) {
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  std::ostringstream report;
  return RunFitCommand(static_cast<int>(argv.size()), argv.data(), report, err,
                       false);
}

// SIGINT while the second model is fitted: the first model's fit is
// published as a run of it alone gives it, the second is missing with the
// signal and where, its folder absent, and nothing of the earlier run stays.
TEST(Stop, ASignalInTheSeriesPublishesTheFinishedModels) {
  const fs::path dir = ScratchWithExample("fit_stop_", "small");
  const fs::path out = dir / "out";
  fs::create_directories(out / "major");
  fs::create_directories(out / "gone");
  std::ofstream(out / "fit.json")
      << R"({"models":[{"name":"major"},{"name":"gone"}]})";
  std::ofstream(out / "models.csv") << "old";
  std::ofstream(out / "rejections.csv") << "old";
  std::ofstream(out / "major" / "sigma.dat") << "old";
  std::ofstream(out / "gone" / "sigma.dat") << "old";

  const std::vector<std::string> args = {"segmix-fit", (dir / "data").string(),
                                         "--starts", "0"};
  std::vector<std::string> stopped = args;
  stopped.insert(stopped.end(),
                 {"--out", out.string(), "--models", "sporadic,major",
                  "--compare", "sporadic:major", "--profile", "MU"});
  SignalOnText buffer("model 2 of 2", SIGINT);
  std::ostream err(&buffer);
  EXPECT_EQ(Fit(stopped, err), cli::ExitStatusForSignal(SIGINT));
  const std::string where =
      "stopped by signal 2 (SIGINT) in model 2 of 2 (major)";
  EXPECT_NE(buffer.str().find(where), std::string::npos) << buffer.str();
  EXPECT_NE(buffer.str().find("were published in"), std::string::npos);

  const auto json = nlohmann::json::parse(ReadText(out / "fit.json"));
  EXPECT_FALSE(json.at("complete").get<bool>());
  std::string missing;
  for (const auto& m : json.at("missing"))
    missing += m.get<std::string>() + "\n";
  EXPECT_NE(missing.find("model major: " + where), std::string::npos)
      << missing;
  EXPECT_NE(missing.find("--profile: not computed"), std::string::npos);
  EXPECT_NE(missing.find("posteriors: not computed"), std::string::npos);
  EXPECT_NE(ReadText(out / "tests.csv")
                .find("model major was not fitted (the series was stopped)"),
            std::string::npos);

  std::vector<std::string> alone = args;
  alone.insert(alone.end(),
               {"--out", (dir / "alone").string(), "--models", "sporadic"});
  std::ostringstream quiet;
  ASSERT_EQ(Fit(alone, quiet), cli::kExitDone) << quiet.str();
  EXPECT_EQ(ModelRow(out / "models.csv", "sporadic"),
            ModelRow(dir / "alone" / "models.csv", "sporadic"));
  EXPECT_NE(ModelRow(out / "models.csv", "sporadic").find(",true,"),
            std::string::npos);
  EXPECT_EQ(ReadText(out / "sporadic" / "sigma.dat"),
            ReadText(dir / "alone" / "sporadic" / "sigma.dat"));

  EXPECT_FALSE(fs::exists(out / "major"));
  EXPECT_FALSE(fs::exists(out / "gone"));
  EXPECT_FALSE(fs::exists(out / "rejections.csv"));
  for (const auto& e : fs::directory_iterator(out)) {
    EXPECT_FALSE(e.path().filename().string().starts_with(".staging"));
  }
  fs::remove_all(dir);
}

// SIGINT in the nesting rounds (after sporadic's refit from mixed's
// maximum, before major's): every model keeps its last finished fit and its
// folder, and missing says that the refits were stopped.
TEST(Stop, ASignalInTheNestingRoundsKeepsTheFinishedFits) {
  const fs::path dir = testing::ScratchPathForCurrentTest("fit_stop_");
  fs::remove_all(dir);
  const fs::path out = dir / "out";
  SignalOnText buffer("model 1 of 3 (sporadic), start 2 of 2", SIGINT);
  std::ostream err(&buffer);
  EXPECT_EQ(
      Fit({"segmix-fit",
           (fs::path(SEGMIX_SOURCE_DIR) / "examples" / "simulated").string(),
           "--starts", "0", "--out", out.string(), "--models",
           "sporadic,major,mixed"},
          err),
      cli::ExitStatusForSignal(SIGINT));
  const auto json = nlohmann::json::parse(ReadText(out / "fit.json"));
  EXPECT_FALSE(json.at("complete").get<bool>());
  std::string missing;
  for (const auto& m : json.at("missing")) {
    missing += m.get<std::string>() + "\n";
  }
  // The start after sporadic's first nesting refit: its second nesting
  // start when major's and mixed's maxima move it to two distinct points,
  // else major's.
  const std::string prefix =
      "the nesting refits: the series was stopped by signal 2 (SIGINT) in ";
  ASSERT_EQ(missing.substr(0, prefix.size()), prefix) << missing;
  const std::string where =
      missing.substr(prefix.size(), missing.find(';') - prefix.size());
  EXPECT_TRUE(where == "model 1 of 3 (sporadic), start 3 of 3" ||
              where == "model 2 of 3 (major), start 3 of 3")
      << where;
  EXPECT_EQ(missing,
            prefix + where +
                "; each model keeps its last finished fit, whose maximum may "
                "lie below that of a model nested in it\nposteriors: not "
                "computed: the series was stopped by signal 2 (SIGINT) in " +
                where + "\n");
  for (const std::string model : {"sporadic", "major", "mixed"}) {
    EXPECT_NE(ModelRow(out / "models.csv", model).find(",true,"),
              std::string::npos)
        << model;
    EXPECT_TRUE(fs::exists(out / model / "sigma.dat")) << model;
    EXPECT_FALSE(fs::exists(out / model / ".work")) << model;
  }
  fs::remove_all(dir);
}

// SIGINT as the bootstrap begins: the series is published with its tests,
// the bootstrap is missing (no partial p-value), exit 128 + N.
TEST(Stop, ASignalInTheBootstrapPublishesTheSeries) {
  const fs::path dir = ScratchWithExample("fit_stop_", "small");
  const fs::path out = dir / "out";
  SignalOnText buffer("bootstrap sporadic within major", SIGINT);
  std::ostream err(&buffer);
  EXPECT_EQ(Fit({"segmix-fit", (dir / "data").string(), "--starts", "0",
                 "--out", out.string(), "--models", "sporadic,major",
                 "--compare", "sporadic:major", "--bootstrap", "4"},
                err),
            cli::ExitStatusForSignal(SIGINT));
  const auto json = nlohmann::json::parse(ReadText(out / "fit.json"));
  EXPECT_FALSE(json.at("complete").get<bool>());
  EXPECT_EQ(json.at("missing").at(0).get<std::string>(),
            "--bootstrap: not computed: the run was stopped by signal 2 "
            "(SIGINT) in the bootstrap of sporadic within major");
  EXPECT_NE(ModelRow(out / "models.csv", "major").find(",true,"),
            std::string::npos);
  // The test's row, its bootstrap cells empty.
  EXPECT_NE(ReadText(out / "tests.csv").find("sporadic within major"),
            std::string::npos);
  EXPECT_NE(ReadText(out / "tests.csv").find(",,,\n"), std::string::npos);
  fs::remove_all(dir);
}

// A series stopped in its second model and resumed writes what a run never
// stopped writes (apart from the elapsed time), reusing the stopped run's
// climbs; a resume whose inputs or series differ is refused, naming why.
TEST(Resume, AStoppedSeriesResumedEqualsAWholeRun) {
  const fs::path dir = ScratchWithExample("fit_resume_", "simulated");
  const auto args = [&](const fs::path& out) {
    return std::vector<std::string>{"segmix-fit", (dir / "data").string(),
                                    "--starts",   "0",
                                    "--out",      out.string(),
                                    "--models",   "sporadic,major,mixed",
                                    "--no-report"};
  };
  std::ostringstream whole_err;
  ASSERT_EQ(Fit(args(dir / "whole"), whole_err), cli::kExitDone);
  SignalOnText buffer("model 3 of 3", SIGINT);
  std::ostream err(&buffer);
  ASSERT_EQ(Fit(args(dir / "out"), err), cli::ExitStatusForSignal(SIGINT));
  EXPECT_NE(buffer.str().find("with --resume"), std::string::npos);

  std::vector<std::string> resume = args(dir / "out");
  resume.push_back("--resume");
  std::ostringstream resume_err;
  ASSERT_EQ(Fit(resume, resume_err), cli::kExitDone) << resume_err.str();
  EXPECT_NE(resume_err.str().find("climbs of the earlier run reused"),
            std::string::npos);
  EXPECT_EQ(resume_err.str().find("resumed: 0 of"), std::string::npos);
  for (const char* file : {"models.csv", "tests.csv", "families.csv",
                           "persons.csv", "mixed/sigma.dat", "major/max.dat"}) {
    EXPECT_EQ(ReadText(dir / "out" / file), ReadText(dir / "whole" / file))
        << file;
  }
  auto resumed = nlohmann::json::parse(ReadText(dir / "out" / "fit.json"));
  auto whole = nlohmann::json::parse(ReadText(dir / "whole" / "fit.json"));
  resumed.erase("seconds"), whole.erase("seconds");
  resumed.erase("directory"), whole.erase("directory");
  EXPECT_EQ(resumed.at("models"), whole.at("models"));
  EXPECT_TRUE(resumed.at("complete").get<bool>());

  // Refusals, before anything is fitted or written.
  struct Row {
    const char* what;
    std::vector<std::string> args;
    std::string message;
  };
  std::vector<std::string> starts = resume;
  starts[3] = "1";
  std::vector<std::string> fresh = resume;
  fresh[5] = (dir / "fresh").string();
  const Row rows[] = {
      {"other starts", starts, "is of a series with other options"},
      {"no earlier run", fresh, "holds no fit.json"},
  };
  for (const Row& row : rows) {
    std::ostringstream e;
    EXPECT_EQ(Fit(row.args, e), cli::kExitInputRefused) << row.what;
    EXPECT_NE(e.str().find(row.message), std::string::npos)
        << row.what << ": " << e.str();
  }
  std::ofstream(dir / "data" / "par.inp", std::ios::app) << "\n";
  std::ostringstream changed;
  EXPECT_EQ(Fit(resume, changed), cli::kExitInputRefused);
  EXPECT_NE(
      changed.str().find("par.inp has changed (its size or CRC-32 differ)"),
      std::string::npos)
      << changed.str();
  fs::remove_all(dir);
}

// A resumed bootstrap takes the replicates the stopped run finished (here
// 1 and 3 of 4, as a stop would have left them) and fits the others: its
// p-value and replicates are a whole run's.
TEST(Resume, ABootstrapResumedTakesTheFinishedReplicates) {
  const fs::path dir = ScratchWithExample("fit_resume_", "small");
  const auto args = [&](const fs::path& out) {
    return std::vector<std::string>{"segmix-fit",  (dir / "data").string(),
                                    "--starts",    "0",
                                    "--out",       out.string(),
                                    "--models",    "sporadic,major",
                                    "--compare",   "sporadic:major",
                                    "--bootstrap", "4",
                                    "--no-report", "--resume"};
  };
  std::vector<std::string> whole_args = args(dir / "whole");
  whole_args.pop_back();
  std::ostringstream whole_err;
  ASSERT_EQ(Fit(whole_args, whole_err), cli::kExitDone) << whole_err.str();
  fs::create_directories(dir / "out");
  auto json = nlohmann::json::parse(ReadText(dir / "whole" / "fit.json"));
  auto& test = json.at("tests").at(0);
  nlohmann::json finished = {{"seed", test.at("bootstrap").at("seed")},
                             {"replicates", nlohmann::json::array()}};
  for (const int b : {0, 2}) {
    finished["replicates"].push_back(
        test.at("bootstrap").at("replicates").at(b));
  }
  test.erase("bootstrap");
  test["bootstrap_finished"] = finished;
  json["complete"] = false;
  std::ofstream(dir / "out" / "fit.json") << json.dump();

  std::ostringstream err;
  ASSERT_EQ(Fit(args(dir / "out"), err), cli::kExitDone) << err.str();
  EXPECT_NE(err.str().find("4 replicates, 2 of them reused"), std::string::npos)
      << err.str();
  EXPECT_EQ(ReadText(dir / "out" / "tests.csv"),
            ReadText(dir / "whole" / "tests.csv"));
  EXPECT_EQ(
      nlohmann::json::parse(ReadText(dir / "out" / "fit.json")).at("tests"),
      nlohmann::json::parse(ReadText(dir / "whole" / "fit.json")).at("tests"));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace segmix::fit
