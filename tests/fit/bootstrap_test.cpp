// --bootstrap: the p-value's count and Monte Carlo SE, and replicates that
// are a function of the seed alone, whatever the thread count.
#include "fit/bootstrap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "fit/bootstrap_parts.h"
#include "fit/fit_command.h"
#include "fit/run_fit.h"
#include "fit/simulation.h"
#include "support/scratch_path.h"

namespace segmix::fit {
namespace {

namespace fs = std::filesystem;
using segmix::testing::ReadText;

TEST(Bootstrap, PValueCountsTheReplicatesReachingTheStatistic) {
  Bootstrap b;
  // Statistics 0.5, 1, 2, 3 and one replicate that failed: N = 4.
  for (const double t : {0.5, 1.0, 2.0, 3.0}) {
    BootstrapReplicate r;
    r.drawn = true, r.null_ln_lh = -10, r.alternative_ln_lh = -10 + t / 2;
    r.statistic = t;
    b.replicates.push_back(r);
  }
  b.replicates.push_back(BootstrapReplicate{});
  BootstrapPValue(b, 2.0);
  EXPECT_EQ(b.usable, 4);
  EXPECT_EQ(b.reaching, 2);  // a tie reaches
  EXPECT_DOUBLE_EQ(b.p_value, 3.0 / 5);
  EXPECT_DOUBLE_EQ(b.se, std::sqrt(0.6 * 0.4 / 5));
  // An observed statistic of rounding noise is reached by replicates at 0.
  Bootstrap z = b;
  for (BootstrapReplicate& r : z.replicates) r.statistic = 0;
  BootstrapPValue(z, 5e-12);
  EXPECT_EQ(z.reaching, 4);
  EXPECT_NE(ReplicateSeed(1, 1), ReplicateSeed(1, 2));
  EXPECT_NE(ReplicateSeed(1, 1), ReplicateSeed(2, 1));
}

TEST(Bootstrap, ReplicatesDoNotDependOnTheThreadCount) {
  const fs::path dir = testing::ScratchPathForCurrentTest("fit_bootstrap_");
  fs::remove_all(dir);
  const std::string example =
      (fs::path(SEGMIX_SOURCE_DIR) / "examples" / "small").string();
  std::vector<nlohmann::json> tests;
  for (const char* threads : {"1", "2"}) {
    const std::string out = (dir / threads).string();
    const char* argv[] = {"segmix-fit",
                          example.c_str(),
                          "--out",
                          out.c_str(),
                          "--quiet",
                          "--models",
                          "sporadic,major",
                          "--compare",
                          "sporadic:major",
                          "--starts",
                          "1",
                          "--bootstrap",
                          "4",
                          "--threads",
                          threads,
                          "--no-report"};
    std::ostringstream report, err;
    ASSERT_EQ(RunFitCommand(16, argv, report, err, false), 0) << err.str();
    EXPECT_NE(report.str().find("bootstrap p "), std::string::npos);
    const std::string csv = ReadText(dir / threads / "tests.csv");
    EXPECT_NE(csv.find(",bootstrap_p,bootstrap_n,bootstrap_se\n"),
              std::string::npos);
    tests.push_back(
        nlohmann::json::parse(ReadText(dir / threads / "fit.json"))["tests"]);
  }
  ASSERT_EQ(tests[0].size(), 1u);
  const auto& b = tests[0][0].at("bootstrap");
  EXPECT_EQ(b.at("replicates").size(), 4u);
  EXPECT_EQ(tests[0], tests[1]);
  for (const auto& r : b.at("replicates")) {
    if (!r.at("statistic").is_null()) {
      EXPECT_GE(r.at("statistic").get<double>(), 0);
    }
  }
  if (!::testing::Test::HasFailure()) fs::remove_all(dir);
}

TEST(Bootstrap, SlicesOfTheReplicates) {
  EXPECT_EQ(SliceReplicates(7, {}), (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(SliceReplicates(7, {1, 3}), (std::vector<int>{1, 4, 7}));
  EXPECT_EQ(SliceReplicates(7, {3, 3}), (std::vector<int>{3, 6}));
  EXPECT_EQ(SliceReplicates(2, {2, 2}), (std::vector<int>{2}));
}

// One run of segmix-fit on the small example testing sporadic within major,
// plus `extra` arguments; its exit status.
int RunSmall(const fs::path& out, std::vector<std::string> extra,
             std::string* err_text = nullptr) {
  const std::string example =
      (fs::path(SEGMIX_SOURCE_DIR) / "examples" / "small").string();
  std::vector<std::string> args = {
      "segmix-fit", example,          "--out",     out.string(),     "--quiet",
      "--models",   "sporadic,major", "--compare", "sporadic:major", "--starts",
      "1",          "--no-report"};
  args.insert(args.end(), extra.begin(), extra.end());
  const testing::FitOutcome outcome = testing::RunFit(args);
  if (err_text != nullptr) *err_text = outcome.err;
  return outcome.status;
}

int Merge(const std::vector<fs::path>& dirs, const fs::path& out,
          std::string* err_text) {
  std::vector<std::string> args = {"segmix-fit", "--merge"};
  for (const fs::path& d : dirs) args.push_back(d.string());
  args.insert(args.end(), {"--out", out.string(), "--quiet"});
  const testing::FitOutcome outcome = testing::RunFit(args);
  *err_text = outcome.err;
  return outcome.status;
}

// Every file of a run's folder (relative path -> bytes), fit.json without its
// elapsed time, the lock file left out.
std::map<std::string, std::string> FolderBytes(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    if (!e.is_regular_file() || e.path().filename() == ".segmix-fit.lock") {
      continue;
    }
    std::string text = ReadText(e.path());
    if (e.path().filename() == "fit.json") {
      auto j = nlohmann::ordered_json::parse(text);
      j.erase("seconds");
      text = j.dump(1);
    }
    files[fs::relative(e.path(), dir).string()] = text;
  }
  return files;
}

TEST(Bootstrap, SlicesMergedEqualOneRun) {
  const fs::path dir = testing::ScratchPathForCurrentTest("fit_slices_");
  fs::remove_all(dir);
  // The bootstrap and a study, each split in K = 1, 2 and 3 slices.
  struct Row {
    const char* name;
    std::vector<std::string> options;
    const char* file;  // written by the single run, with the replicates
    std::vector<int> ks;
  } rows[] = {
      {"bootstrap", {"--bootstrap", "3"}, "tests.csv", {1, 2, 3}},
      {"study",
       {"--simulate-from", "sporadic", "--replicates", "4"},
       "rejections.csv",
       {2}},
  };
  for (const Row& row : rows) {
    const fs::path single = dir / row.name / "single";
    ASSERT_EQ(RunSmall(single, row.options), 0);
    const auto expected = FolderBytes(single);
    ASSERT_TRUE(expected.count(row.file)) << row.name;
    if (row.options[0] == std::string("--bootstrap")) {
      ASSERT_NE(expected.at("tests.csv").find("bootstrap_p"),
                std::string::npos);
    }
    for (const int k : row.ks) {
      const std::string ks = std::to_string(k);
      SCOPED_TRACE(std::string(row.name) + ", K = " + ks);
      std::vector<fs::path> slices;
      for (int i = 1; i <= k; ++i) {
        const std::string is = std::to_string(i);
        slices.push_back(dir / row.name / ("k" + ks + "-" + is));
        std::vector<std::string> options = row.options;
        options.insert(options.end(), {"--bootstrap-task", is + "/" + ks});
        ASSERT_EQ(RunSmall(slices.back(), options), 0);
        EXPECT_TRUE(fs::exists(slices.back() / kPartFileName));
        // A slice's own table shows no result of its few replicates.
        EXPECT_EQ(ReadText(slices.back() / "tests.csv").find("bootstrap_p"),
                  std::string::npos);
        EXPECT_FALSE(fs::exists(slices.back() / "rejections.csv"));
      }
      std::reverse(slices.begin(), slices.end());  // any order merges
      const fs::path merged = dir / row.name / ("merged-" + ks);
      std::string err;
      ASSERT_EQ(Merge(slices, merged, &err), 0) << err;
      EXPECT_EQ(FolderBytes(merged), expected);
    }
  }
  if (!::testing::Test::HasFailure()) fs::remove_all(dir);
}

TEST(Simulation, RejectionsCountUsableReplicatesBelowEachLevel) {
  SimulatedTest t;
  const double p[] = {0.001, 0.03, 0.2, 0.5};
  for (int i = 0; i < 4; ++i) {
    BootstrapReplicate r;
    r.index = i + 1;
    r.drawn = i != 3;  // the last could not be drawn
    r.null_ln_lh = -10, r.alternative_ln_lh = -9, r.statistic = p[i];
    t.replicates.push_back(r);
  }
  CountRejections(t, [](const BootstrapReplicate& r) { return r.statistic; });
  EXPECT_EQ(t.usable, 3);
  EXPECT_EQ(t.rejected_5, 2);
  EXPECT_EQ(t.rejected_1, 1);
  EXPECT_TRUE(std::isnan(t.p_values[3]));
}

TEST(Bootstrap, MergeRefusesPartsOfOtherAnalysesGapsAndOverlaps) {
  const fs::path dir =
      testing::ScratchPathForCurrentTest("fit_merge_refusals_");
  fs::remove_all(dir);
  const auto slice = [&](const char* out, const char* task,
                         std::vector<std::string> more = {}) {
    more.insert(more.end(), {"--bootstrap", "3", "--bootstrap-task", task});
    return RunSmall(dir / out, more);
  };
  ASSERT_EQ(slice("a1", "1/2"), 0);
  ASSERT_EQ(slice("a2", "2/2"), 0);
  ASSERT_EQ(slice("seed", "2/2", {"--bootstrap-seed", "7"}), 0);
  fs::create_directories(dir / "empty");
  struct Row {
    std::vector<std::string> dirs;
    const char* says;
  } rows[] = {
      {{"a1"}, "slice 2/2 is missing"},
      {{"a1", "a2", "a2"}, "the slices overlap"},
      {{"a1", "seed"}, "its options differ"},
      {{"a1", "empty"}, "holds no bootstrap-part.json"},
      {{"a1", "a2"}, ""},  // the pair merges
  };
  for (const Row& row : rows) {
    std::vector<fs::path> dirs;
    for (const std::string& d : row.dirs) dirs.push_back(dir / d);
    std::string err;
    const int status = Merge(dirs, dir / "out", &err);
    if (*row.says == '\0') {
      EXPECT_EQ(status, 0) << err;
      continue;
    }
    EXPECT_EQ(status, 1) << row.says;
    EXPECT_NE(err.find(row.says), std::string::npos) << err;
  }
  // The merge's --out may not be a slice's folder (its part is an input).
  std::string err;
  EXPECT_EQ(Merge({dir / "a1", dir / "a2"}, dir / "a1", &err), 3) << err;
  // Command lines that cannot slice or merge.
  for (const std::vector<std::string>& extra :
       std::vector<std::vector<std::string>>{
           {"--bootstrap", "3", "--bootstrap-task", "4/4"},
           {"--bootstrap", "3", "--bootstrap-task", "0/2"},
           {"--bootstrap", "3", "--bootstrap-task", "1"},
           {"--bootstrap-task", "1/2"},
           {"--simulate-from", "sporadic"},
           {"--simulate-from", "sporadic", "--replicates", "2", "--bootstrap",
            "2"},
           {"--merge", "a1"}}) {
    EXPECT_EQ(RunSmall(dir / "refused", extra, &err), 3) << extra.back();
  }
  EXPECT_FALSE(fs::exists(dir / "refused"));
  if (!::testing::Test::HasFailure()) fs::remove_all(dir);
}

// What the merge and --resume say of inputs that are not those recorded.
TEST(Bootstrap, InputChangeNamesTheFirstFileThatDiffers) {
  const InputDigest par{"/d/par.inp", 10, 1}, trait{"/d/trait.dat", 20, 2};
  const InputDigest edited{"/d/trait.dat", 20, 3};
  const struct {
    std::vector<InputDigest> then, now;
    std::string says;
  } rows[] = {
      {{par, trait}, {par, trait}, ""},
      {{par, trait}, {par, edited}, "/d/trait.dat has changed"},
      {{par}, {par, trait}, "/d/trait.dat is new"},
      {{par, trait}, {par}, "/d/trait.dat is gone"},
  };
  for (const auto& row : rows) {
    const std::string change = InputChange(row.then, row.now);
    EXPECT_EQ(change.substr(0, row.says.size()), row.says) << change;
    EXPECT_EQ(change.empty(), row.says.empty()) << change;
  }
}

}  // namespace
}  // namespace segmix::fit
