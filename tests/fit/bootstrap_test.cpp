// --bootstrap: the p-value's count and Monte Carlo SE, and replicates that
// are a function of the seed alone, whatever the thread count.
#include "fit/bootstrap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "fit/fit_command.h"
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

}  // namespace
}  // namespace segmix::fit
