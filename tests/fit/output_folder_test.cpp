// segmix-fit's output folder after faults, races and odd input: each probe's
// exit status, message and what the folder holds afterwards.
#include "fit/output_folder.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/command_line.h"
#include "cli/exit_status.h"
#include "fit/fit_command.h"
#include "support/scratch_path.h"

namespace segmix::fit {
namespace {

namespace fs = std::filesystem;

const fs::path kSmall = fs::path(SEGMIX_SOURCE_DIR) / "examples" / "small";

using segmix::testing::ReadText;

struct Outcome {
  int status;
  std::string err;
};

Outcome Fit(const fs::path& data, const fs::path& out,
            std::vector<std::string> extra) {
  std::vector<std::string> args = {"segmix-fit", data.string(), "--out",
                                   out.string(), "--quiet",     "--starts",
                                   "0"};
  args.insert(args.end(), extra.begin(), extra.end());
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  std::ostringstream report, err;
  const int status = RunFitCommand(static_cast<int>(argv.size()), argv.data(),
                                   report, err, false);
  return {status, err.str()};
}

class OutputFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testing::ScratchPathForCurrentTest("fit_out_");
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "data");
    for (const auto& e : fs::directory_iterator(kSmall)) {
      fs::copy(e.path(), dir_ / "data" / e.path().filename());
    }
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

// Every entry's name and contents under `folder`, hidden entries aside.
std::string Listing(const fs::path& folder) {
  std::string listing;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    const std::string name = fs::relative(e.path(), folder).string();
    if (name.starts_with(".")) continue;
    listing += name + (e.is_regular_file() ? "=" + ReadText(e.path()) : "/");
    listing += "\n";
  }
  return listing;
}

// A rename that fails at any point of publishing puts the earlier run back
// exactly; one whose undo fails too keeps the earlier entries where a later
// run does not clear them.
TEST_F(OutputFolderTest, APublishThatFailsPartWayLeavesTheEarlierRun) {
  const fs::path out = dir_ / "out";
  auto earlier_run = [&] {
    fs::remove_all(out);
    fs::create_directories(out / "major");
    std::ofstream(out / "fit.json") << R"({"models":[{"name":"major"}]})";
    std::ofstream(out / "models.csv") << "old";
    std::ofstream(out / "major" / "sigma.dat") << "old sigma";
  };
  // Publishes a fresh run over the earlier one with renames that fail where
  // `fails(call, to)` says (call counts from 1); the error's message.
  auto publish_failing = [&](auto fails) {
    earlier_run();
    OutputFolder folder(out);
    fs::create_directory(folder.Staging() / "mixed");
    std::ofstream(folder.Staging() / "mixed" / "sigma.dat") << "new";
    std::ofstream(folder.Staging() / "models.csv") << "new";
    std::ofstream(folder.Staging() / "fit.json") << "{}";
    int calls = 0;
    std::string message;
    try {
      folder.Publish(
          [&](const fs::path& from, const fs::path& to, std::error_code& ec) {
            if (fails(++calls, to)) {
              ec = std::make_error_code(std::errc::no_space_on_device);
            } else {
              fs::rename(from, to, ec);
            }
          });
    } catch (const cli::OutputFileError& e) {
      message = e.what();
    }
    return message;
  };
  earlier_run();
  const std::string before = Listing(out);
  // 3 entries set aside, then models.csv and mixed moved in, fit.json last.
  for (int failing = 1; failing <= 6; ++failing) {
    const std::string message = publish_failing(
        [&](int call, const fs::path&) { return call == failing; });
    EXPECT_NE(message.find("is as it was"), std::string::npos)
        << failing << ": " << message;
    EXPECT_EQ(Listing(out), before) << "failing rename " << failing;
  }

  // The fourth rename fails, and so does moving the first entry back.
  const std::string message = publish_failing([](int call, const fs::path& to) {
    return call == 4 || (call > 4 && to.filename() == "fit.json");
  });
  const fs::path kept = out / ("earlier-run-" + std::to_string(::getpid()));
  EXPECT_NE(message.find(kept.string()), std::string::npos) << message;
  { OutputFolder next(out); }  // a later run clears only its own prefixes
  EXPECT_EQ(ReadText(kept / "fit.json"), R"({"models":[{"name":"major"}]})");
  EXPECT_EQ(ReadText(out / "major" / "sigma.dat"), "old sigma");
}

// Probes that must be refused before anything is written, each with the
// folder it leaves as it was.
TEST_F(OutputFolderTest, RefusesOutputsOverInputsAndLinksAndASecondRun) {
  const fs::path data = dir_ / "data";
  // The trait file named persons.csv, and --out on the data folder.
  fs::rename(data / "trait.dat", data / "persons.csv");
  {
    std::string control = ReadText(data / "par.inp");
    control.replace(control.find("'trait.dat'"), 11, "'persons.csv'");
    std::ofstream(data / "par.inp", std::ios::binary) << control;
  }
  const std::string trait = ReadText(data / "persons.csv");
  Outcome o = Fit(data, data, {"--models", "sporadic"});
  EXPECT_EQ(o.status, cli::kExitUsage);
  EXPECT_NE(o.err.find("would replace the input"), std::string::npos) << o.err;
  EXPECT_EQ(ReadText(data / "persons.csv"), trait);
  EXPECT_FALSE(fs::exists(data / "fit.json"));

  // A map of another data set (one person only): refused before fitting.
  std::ofstream(dir_ / "data" / "idmap.dat")
      << "family_index position store_index family id line\n1 1 1 A a 2\n";
  o = Fit(dir_ / "data", dir_ / "out", {"--models", "sporadic"});
  EXPECT_EQ(o.status, cli::kExitInputRefused);
  EXPECT_NE(o.err.find("the map is of another data set"), std::string::npos)
      << o.err;
  EXPECT_FALSE(fs::exists(dir_ / "out" / "fit.json"));
  fs::remove(dir_ / "data" / "idmap.dat");

  // A model folder that is a link to the data folder.
  const fs::path out = dir_ / "out";
  fs::create_directories(out);
  fs::create_directory_symlink(data, out / "major");
  const std::string control = ReadText(data / "par.inp");
  o = Fit(data, out, {"--models", "sporadic,major"});
  EXPECT_EQ(o.status, cli::kExitUsage);
  EXPECT_NE(o.err.find("is a symbolic link"), std::string::npos) << o.err;
  EXPECT_EQ(ReadText(data / "par.inp"), control);
  fs::remove(out / "major");

  // A second run while one holds the folder: refused at once.
  {
    const OutputFolder holder(out);
    o = Fit(data, out, {"--models", "sporadic"});
    EXPECT_EQ(o.status, cli::kExitInputRefused);
    EXPECT_NE(o.err.find("another segmix-fit run"), std::string::npos);
    EXPECT_FALSE(fs::exists(out / "fit.json"));
  }
  EXPECT_EQ(Fit(data, out, {"--models", "sporadic"}).status, cli::kExitDone);
}

// A later run replaces the earlier one whole: no model folder of the earlier
// run stays; a model no start can fit makes the run incomplete (status 1,
// the core's reason) and its test a row with the reason.
TEST_F(OutputFolderTest, ALaterRunLeavesNothingOfTheEarlierOne) {
  const fs::path data = dir_ / "data", out = dir_ / "out";
  ASSERT_EQ(Fit(data, out, {"--models", "sporadic,major"}).status,
            cli::kExitDone);
  ASSERT_TRUE(fs::exists(out / "major" / "sigma.dat"));
  std::ofstream(dir_ / "models.txt")
      << "bad MU=25 fixed A=MU D=MU SIG=0.1 fixed pga=out Tr1=out\n";
  const Outcome o =
      Fit(data, out,
          {"--models", "sporadic,bad", "--model-file",
           (dir_ / "models.txt").string(), "--compare", "bad:sporadic"});
  EXPECT_EQ(o.status, cli::kExitInputRefused);
  EXPECT_NE(o.err.find("incomplete: model bad: no start could be fitted"),
            std::string::npos)
      << o.err;
  EXPECT_NE(o.err.find("underflowed"), std::string::npos) << o.err;
  EXPECT_FALSE(fs::exists(out / "major"));
  EXPECT_TRUE(fs::exists(out / "sporadic" / "sigma.dat"));
  const auto json = nlohmann::json::parse(ReadText(out / "fit.json"));
  EXPECT_FALSE(json.at("complete").get<bool>());
  EXPECT_EQ(json.at("missing").size(), 2u);  // the model and its test
  EXPECT_NE(ReadText(out / "tests.csv").find("not computed: model bad"),
            std::string::npos);
  for (const auto& e : fs::directory_iterator(out)) {
    EXPECT_FALSE(e.path().filename().string().starts_with(".staging"));
  }
}

// SIGINT during the series (the program itself, as a user stops it): exit
// 130, this run published in place of the earlier one, incomplete, no staging
// folder left.
TEST_F(OutputFolderTest, AnInterruptedSeriesPublishesWhatItFinished) {
  const fs::path data = dir_ / "data", out = dir_ / "out";
  ASSERT_EQ(Fit(data, out, {"--models", "sporadic"}).status, cli::kExitDone);
  const std::string earlier = ReadText(out / "fit.json");
  const fs::path simulated =
      fs::path(SEGMIX_SOURCE_DIR) / "examples" / "simulated";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The report of what it finished is not the test's output.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) ::_exit(127);
    ::execl(SEGMIX_FIT_BINARY, "segmix-fit", simulated.c_str(), "--out",
            out.c_str(), "--quiet", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // Once the staging folder is there the handlers are in place.
  auto staging = [&] {
    for (const auto& e : fs::directory_iterator(out)) {
      if (e.path().filename().string().starts_with(".staging")) return true;
    }
    return false;
  };
  for (int i = 0; i < 600 && !staging(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_TRUE(staging());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ::kill(child, SIGINT);
  int wait_status = 0;
  ASSERT_EQ(::waitpid(child, &wait_status, 0), child);
  ASSERT_TRUE(WIFEXITED(wait_status));
  EXPECT_EQ(WEXITSTATUS(wait_status), 128 + SIGINT);
  EXPECT_NE(ReadText(out / "fit.json"), earlier);
  const auto json = nlohmann::json::parse(ReadText(out / "fit.json"));
  EXPECT_FALSE(json.at("complete").get<bool>());
  EXPECT_FALSE(staging());
}

}  // namespace
}  // namespace segmix::fit
