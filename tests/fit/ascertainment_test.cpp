// --ascertainment: the option's spellings and the threshold file's
// refusals, the thresholds a plan gives a data set, and the threshold
// correction through the whole command on the small example.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/exit_status.h"
#include "cli/input_file.h"
#include "data/family_store.h"
#include "fit/engine.h"
#include "fit/fit_command.h"
#include "fit/plan.h"
#include "fit/series.h"
#include "model/parameter_table.h"
#include "support/scratch_path.h"
#include "textio/termination.h"

namespace segmix::fit {
namespace {

namespace fs = std::filesystem;

const fs::path kSmall = fs::path(SEGMIX_SOURCE_DIR) / "examples" / "small";

using segmix::testing::ReadText;

class AscertainmentOption : public ::testing::Test {
 protected:
  AscertainmentOption() : dir_(testing::ScratchPathForCurrentTest("fit_")) {
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  ~AscertainmentOption() override { fs::remove_all(dir_); }
  std::string File(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
    return (dir_ / name).string();
  }
  FitPlan Parse(const std::string& kind) {
    return ParseFitCommandLine({kSmall.string(), "--ascertainment", kind});
  }
  fs::path dir_;
};

TEST_F(AscertainmentOption, ReadsTheKindsAndTheirFile) {
  using Kind = Ascertainment::Kind;
  EXPECT_EQ(ParseFitCommandLine({kSmall.string()}).ascertainment.kind,
            Kind::kProbandValues);
  EXPECT_EQ(Parse("proband-values").ascertainment.kind, Kind::kProbandValues);
  const Ascertainment one = Parse("threshold=-2.5e1").ascertainment;
  EXPECT_EQ(one.kind, Kind::kThreshold);
  EXPECT_EQ(one.threshold, -25.0);
  // Comments, blank lines, tabs and CRLF line ends; any order of families.
  const std::string good =
      File("good.txt", "# index threshold\r\n3\t2.5\r\n\n 1 -0.75 # first\n");
  const Ascertainment file = Parse("threshold-file=" + good).ascertainment;
  EXPECT_EQ(file.kind, Kind::kThresholdFile);
  EXPECT_EQ(file.file, fs::absolute(good));
  ASSERT_EQ(file.lines.size(), 2u);
  EXPECT_EQ(file.lines[0].family, 3);
  EXPECT_EQ(file.lines[0].threshold, 2.5);
  EXPECT_EQ(file.lines[0].line, 2);
  EXPECT_EQ(file.lines[1].family, 1);
  EXPECT_EQ(file.lines[1].threshold, -0.75);
  EXPECT_EQ(file.lines[1].line, 4);
}

TEST_F(AscertainmentOption, RefusesBadSpellingsAndBadFileLines) {
  const struct {
    std::string kind;
    const char* message;
  } usage[] = {
      {"threshold", "needs proband-values, threshold=T or"},
      {"threshold=", "threshold=T needs a finite number"},
      {"threshold=2.5x", "threshold=T needs a finite number"},
      {"threshold=inf", "threshold=T needs a finite number"},
      {"threshold=0x1p1", "threshold=T needs a finite number"},
      {"Threshold=2", "needs proband-values"},
      {"proband-values=1", "needs proband-values"},
      {"threshold-file=", "needs proband-values"},
      {"threshold-file=" + File("dup.txt", "1 2\n2 2\n1 3\n"),
       "dup.txt:3: family index 1 already has a threshold on line 1"},
      {"threshold-file=" + File("value.txt", "1 two\n"),
       "value.txt:1: the threshold needs a finite number, not \"two\""},
      {"threshold-file=" + File("index.txt", "\n1.5 2\n"),
       "index.txt:2: the family index needs a whole number"},
      {"threshold-file=" + File("zero.txt", "0 2\n"),
       "zero.txt:1: the family index needs a whole number from 1"},
      {"threshold-file=" + File("three.txt", "1 2 3\n"),
       "three.txt:1: '1 2 3' has 3 fields"},
      {"threshold-file=" + File("one.txt", "1\n"), "one.txt:1: '1' has 1"},
  };
  for (const auto& c : usage) {
    try {
      Parse(c.kind);
      ADD_FAILURE() << c.kind << " was accepted";
    } catch (const cli::UsageError& error) {
      EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos)
          << c.kind << ": " << error.what();
    }
  }
  EXPECT_THROW(Parse("threshold-file=" + (dir_ / "none.txt").string()),
               cli::InputFileError);
}

// The small example: four families, all corrected (proband switch 1) but
// family 4, whose weight is 0; the probands' traits are 14.8 (family 1),
// and those of families 2 and 3 as trait.dat holds them.
TEST_F(AscertainmentOption, ThresholdsForRefuseWhatCannotBeConditionedOn) {
  const Analysis analysis = LoadAnalysis(kSmall);
  auto thresholds = [&](const std::string& kind) {
    return ThresholdsFor(Parse(kind).ascertainment, analysis);
  };
  const std::vector<double> all = thresholds("threshold=-3");
  EXPECT_EQ(all, std::vector<double>(5, -3.0));
  const std::vector<double> file =
      thresholds("threshold-file=" + File("ok.txt", "1 1\n2 2\n3 3\n"));
  EXPECT_EQ(file[1], 1.0);
  EXPECT_EQ(file[3], 3.0);
  EXPECT_EQ(file[4], -INFINITY);  // not evaluated, no line: never read
  const struct {
    std::string kind;
    const char* message;
  } refused[] = {
      {"threshold-file=" + File("other.txt", "1 1\n2 2\n3 3\n5 1\n"),
       "other.txt:4: family index 5 is not a family of iway.dat (4 families)"},
      {"threshold-file=" + File("short.txt", "1 1\n3 3\n"),
       "short.txt: family index 2 is corrected for ascertainment but has no "
       "line"},
      {"threshold=14.9",
       "family index 1, member 3: the proband's trait 14.8000002 below its "
       "threshold 14.9"},
      {"threshold-file=" + File("high.txt", "1 1\n2 2\n3 300\n"),
       "high.txt:3)"},
  };
  for (const auto& c : refused) {
    try {
      thresholds(c.kind);
      ADD_FAILURE() << c.kind << " was accepted";
    } catch (const InputRejected& error) {
      EXPECT_NE(error.StderrText().find(c.message), std::string::npos)
          << c.kind << ": " << error.StderrText();
    }
  }
}

// Far below every trait, the threshold probabilities are 1: the correction
// pass divides by nothing and the family term is the family's joint
// density, which the uncorrected likelihood (proband switch 0, no status
// code 0) computes by another path (no correction pass at all). With their
// constants the two agree.
TEST_F(AscertainmentOption, FarBelowEveryTraitTheCorrectionVanishes) {
  fs::copy(kSmall, dir_ / "uncorrected");
  std::string par = ReadText(dir_ / "uncorrected" / "par.inp");
  ASSERT_EQ(par.rfind("4 1 'trait.dat' 1", 0), 0u);
  par[2] = '0';
  std::ofstream(dir_ / "uncorrected" / "par.inp", std::ios::binary) << par;
  // Member 3's status code 0 would keep family 1 corrected: make it 1.
  std::string iway = ReadText(dir_ / "uncorrected" / "iway.dat");
  const auto status = iway.rfind("\n2 2 0 2");
  ASSERT_NE(status, std::string::npos);
  iway[status + 5] = '1';
  std::ofstream(dir_ / "uncorrected" / "iway.dat", std::ios::binary) << iway;
  const Analysis uncorrected = LoadAnalysis(dir_ / "uncorrected");
  Analysis threshold = LoadAnalysis(kSmall);
  UseThresholdCorrection(threshold, std::vector<double>(5, -1000.0));
  Evaluator a(uncorrected, uncorrected.base), b(threshold, threshold.base);
  const double joint =
      a.Evaluate(uncorrected.base) - DensityConstant(uncorrected);
  EXPECT_NEAR(b.Evaluate(threshold.base) - DensityConstant(threshold), joint,
              1e-12 * std::fabs(joint));
  EXPECT_EQ(DensityConstant(threshold), DensityConstant(uncorrected));
}

// The simulated example (one proband per family, no polygenic component):
// the family term given the proband's value is joint / f(y_p), given that it
// exceeds T joint / P(y_p > T), so at any point the two ln LHs differ by
// the sum over probands of ln f(y_p) - ln P(y_p > T), with f and P the
// proband's own law: the Hardy-Weinberg mixture of its three genotype means
// (plus B1 times its covariate), computed here from the data alone.
TEST_F(AscertainmentOption, DiffersFromTheProbandValueKindByTheProbandsLaw) {
  const fs::path simulated =
      fs::path(SEGMIX_SOURCE_DIR) / "examples" / "simulated";
  const double T = 2.5;
  const Analysis values = LoadAnalysis(simulated);
  Analysis threshold = LoadAnalysis(simulated);
  UseThresholdCorrection(
      threshold,
      ThresholdsFor(ParseFitCommandLine({simulated.string(), "--ascertainment",
                                         "threshold=2.5"})
                        .ascertainment,
                    threshold));
  ParameterTable truth = values.base;  // the README's truth
  truth.value[kQ] = 0.2, truth.value[kMU] = 3, truth.value[kA] = 1.5;
  truth.value[kD] = 0, truth.value[kSIG] = 1, truth.value[kB1] = 0.8;
  const FamilyStore& store = values.core.store;
  for (const ParameterTable& t : {values.base, truth}) {
    const long double q = t.value[kQ], sig = t.value[kSIG];
    const long double prior[3] = {q * q, 2 * q * (1 - q), (1 - q) * (1 - q)};
    const double means[3] = {t.value[kMU], t.value[kA], t.value[kD]};
    long double expected = 0;
    int probands = 0;
    for (std::int32_t g = 1; g <= store.StoredFamilyCount(); ++g) {
      const std::int32_t base = store.MemberOffset(g);
      for (std::int32_t k = 1; k <= store.FamilySize(g); ++k) {
        const std::int32_t i = base + k;
        if (store.status[i] == 2 || store.trait[i] <= kMissingTrait) continue;
        ++probands;
        long double f = 0, p = 0;
        for (int x = 0; x < 3; ++x) {
          const long double m = means[x] + t.value[kB1] * store.covariate[1][i];
          const long double z = (store.trait[i] - m) / std::sqrt(sig);
          f += prior[x] * std::exp(-z * z / 2) / std::sqrt(2 * M_PIl * sig);
          p += prior[x] * std::erfc((T - m) / std::sqrt(2 * sig)) / 2;
        }
        expected += std::log(f) - std::log(p);
      }
    }
    EXPECT_EQ(probands, 200);
    Evaluator a(values, t), b(threshold, t);
    const double difference = (b.Evaluate(t) - DensityConstant(threshold)) -
                              (a.Evaluate(t) - DensityConstant(values));
    EXPECT_NEAR(difference, static_cast<double>(expected), 1e-9)
        << t.value[kMU];
  }
}

// The whole command: the default's outputs carry nothing new; a threshold
// below every proband gives another ln LH, and fit.json, the report and
// every model folder say which correction was used. Family 3 of the copy
// has only its proband observed: under the proband-value correction it
// contributes nothing and the input review warns so; under the threshold it
// contributes, and the warning is left out.
TEST_F(AscertainmentOption, TheCommandRecordsTheThresholdAndTheDefaultNothing) {
  fs::copy(kSmall, dir_ / "data");
  std::ofstream(dir_ / "data" / "trait.dat")
      << "10.2 11.5 14.8 12.9 10.7 -999 -999 13.4 11.2 9.8 14.1 12.6 10.9 "
         "-999 -999 11.8 -999 -999 -999\n";
  auto run = [&](const std::string& out, std::vector<std::string> extra,
                 std::string* err_text) {
    std::vector<std::string> args = {"segmix-fit", (dir_ / "data").string(),
                                     "--out",      (dir_ / out).string(),
                                     "--quiet",    "--models",
                                     "major",      "--starts",
                                     "1",          "--no-report"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    std::ostringstream report, err;
    EXPECT_EQ(RunFitCommand(static_cast<int>(argv.size()), argv.data(), report,
                            err, false),
              cli::kExitDone)
        << err.str();
    *err_text = err.str();
    return report.str();
  };
  std::string plain_err, low_err;
  const std::string plain = run("plain", {}, &plain_err);
  const std::string low =
      run("low", {"--ascertainment", "threshold=-100"}, &low_err);
  const std::string only_probands =
      "family 3: every observed member is a "
      "proband";
  EXPECT_NE(plain_err.find(only_probands), std::string::npos) << plain_err;
  EXPECT_EQ(low_err.find(only_probands), std::string::npos) << low_err;
  const auto json = [&](const std::string& out) {
    return nlohmann::json::parse(ReadText(dir_ / out / "fit.json"));
  };
  EXPECT_FALSE(json("plain").contains("ascertainment"));
  EXPECT_FALSE(fs::exists(dir_ / "plain" / "major" / "ascertainment.txt"));
  EXPECT_EQ(plain.find("Ascertainment"), std::string::npos);
  const auto asc = json("low").at("ascertainment");
  EXPECT_EQ(asc.at("kind"), "threshold");
  EXPECT_EQ(asc.at("threshold"), -100.0);
  EXPECT_NE(low.find("Ascertainment: threshold -100 for every family"),
            std::string::npos);
  EXPECT_NE(ReadText(dir_ / "low" / "major" / "ascertainment.txt")
                .find("segmix itself does not compute"),
            std::string::npos);
  const double a = json("plain").at("models").at(0).at("ln_lh");
  const double b = json("low").at("models").at(0).at("ln_lh");
  EXPECT_GT(std::fabs(a - b), 1.0) << a << " " << b;
  EXPECT_TRUE(json("low").at("notes").empty());
  // Proband switch 0 and no status code 0: no family is corrected, and the
  // run says that the threshold changes nothing.
  std::string par = ReadText(dir_ / "data" / "par.inp");
  par[2] = '0';
  std::ofstream(dir_ / "data" / "par.inp", std::ios::binary) << par;
  std::string iway = ReadText(dir_ / "data" / "iway.dat");
  iway[iway.rfind("\n2 2 0 2") + 5] = '1';
  std::ofstream(dir_ / "data" / "iway.dat", std::ios::binary) << iway;
  const std::string none =
      run("none", {"--ascertainment", "threshold=-100"}, &low_err);
  EXPECT_NE(none.find("\nNotes\n  --ascertainment: no family is corrected"),
            std::string::npos)
      << none;
  EXPECT_EQ(json("none").at("notes").size(), 1u);
}

}  // namespace
}  // namespace segmix::fit
