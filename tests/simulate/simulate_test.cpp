// segmix-simulate: reproducible from its seed, pedigrees of the shapes asked
// for, genotypes and traits with the frequencies and moments of the model,
// and a table segmix-prep accepts.
#include "simulate/simulate.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "cli/command_line.h"
#include "data/capacities.h"
#include "prep/pedigree_structure.h"
#include "simulate/simulate_command.h"
#include "support/companion_test_support.h"
#include "textio/number_text.h"

namespace segmix::simulate {
namespace {

std::string TableText(const SimulationSettings& settings) {
  std::ostringstream out;
  WriteSimulatedTable(settings, SimulatePersons(settings), out);
  return out.str();
}

TEST(Simulate, SameSeedSameTableOtherSeedOtherTable) {
  SimulationSettings settings;
  settings.families = 20;
  settings.covariates = 2;
  settings.truth.B = {0.5, -0.25, 0, 0, 0};
  const std::string first = TableText(settings);
  EXPECT_EQ(first, TableText(settings));
  settings.seed = 2;
  EXPECT_NE(first, TableText(settings));
}

TEST(Simulate, TableStartsWithSettingsTruthAndHeader) {
  SimulationSettings settings;
  settings.families = 1;
  settings.covariates = 1;
  settings.truth.B[0] = 0.5;
  const std::string text = TableText(settings);
  EXPECT_TRUE(text.starts_with(
      "# segmix-simulate --seed 1 --families 1 --generations 3 --children 2.5"
      " --max-children 8 --marry-in 0.6 --half-sibs 0.05 --missing 0.1"
      " --proband-status 1 --covariates 1\n"
      "# truth: --Q 0.2 --MU 3 --A 1.5 --D 0 --pga 0 --SIG 1 --Sex 0 --B1"
      " 0.5\n"
      "family id father mother sex status trait cov1\n"
      "1 1 0 0 1 2 "))
      << text;
}

// Checks every structural promise over many families.
TEST(Simulate, PedigreesHaveTheShapesAskedFor) {
  SimulationSettings settings;
  settings.families = 300;
  settings.generations = 4;
  settings.children_mean = 2;
  settings.max_children = 3;
  settings.half_sibs = 0.3;
  const auto persons = SimulatePersons(settings);
  std::map<int, std::vector<SimulatedPerson>> families;
  for (const auto& p : persons) families[p.family].push_back(p);
  ASSERT_EQ(families.size(), 300u);
  int half_sib_families = 0;
  int deepest = 0;
  for (const auto& [g, members] : families) {
    int probands = 0;
    std::map<std::pair<int, int>, int> children;
    std::map<int, std::set<int>> mates;
    for (std::size_t i = 0; i < members.size(); ++i) {
      const SimulatedPerson& p = members[i];
      EXPECT_EQ(p.id, static_cast<int>(i) + 1);
      EXPECT_TRUE(p.sex == 1 || p.sex == 2);
      EXPECT_LE(p.generation, settings.generations);
      deepest = std::max(deepest, p.generation);
      if (p.status != 2) {
        ++probands;
        EXPECT_EQ(p.status, 1);
        EXPECT_TRUE(p.observed);
        EXPECT_NE(p.father, 0);  // drawn among members with parents
      }
      if (p.father == 0) {
        EXPECT_EQ(p.mother, 0);
        continue;
      }
      // Parents come first and have the right sex and generation.
      ASSERT_LT(p.father, p.id);
      ASSERT_LT(p.mother, p.id);
      EXPECT_EQ(members[p.father - 1].sex, 1);
      EXPECT_EQ(members[p.mother - 1].sex, 2);
      EXPECT_EQ(p.generation, std::max(members[p.father - 1].generation,
                                       members[p.mother - 1].generation) +
                                  1);
      ++children[{p.father, p.mother}];
      mates[p.father].insert(p.mother);
      mates[p.mother].insert(p.father);
    }
    EXPECT_EQ(probands, 1);
    for (const auto& [couple, count] : children) {
      EXPECT_GE(count, 1);
      EXPECT_LE(count, settings.max_children);
    }
    for (const auto& [person, partners] : mates) {
      if (partners.size() > 1) {
        ++half_sib_families;
        break;
      }
    }
  }
  EXPECT_GT(half_sib_families, 30);
  EXPECT_EQ(deepest, 4);
}

TEST(Simulate, OneGenerationIsOnePersonPerFamily) {
  SimulationSettings settings;
  settings.families = 50;
  settings.generations = 1;
  const auto persons = SimulatePersons(settings);
  ASSERT_EQ(persons.size(), 50u);
  for (const auto& p : persons) {
    EXPECT_EQ(p.father, 0);
    EXPECT_EQ(p.status, 1);  // the only member is the proband
  }
}

TEST(Simulate, NoProbandsAndProbandCodeZero) {
  SimulationSettings settings;
  settings.families = 30;
  settings.probands = false;
  for (const auto& p : SimulatePersons(settings)) EXPECT_EQ(p.status, 2);
  settings.probands = true;
  settings.proband_code = 0;
  int zeros = 0;
  for (const auto& p : SimulatePersons(settings)) zeros += p.status == 0;
  EXPECT_EQ(zeros, 30);
}

TEST(Simulate, MissingRate) {
  SimulationSettings settings;
  settings.families = 400;
  settings.missing = 0.3;
  int missing = 0, others = 0;
  for (const auto& p : SimulatePersons(settings)) {
    if (p.status != 2) continue;
    ++others;
    missing += p.observed ? 0 : 1;
  }
  EXPECT_NEAR(static_cast<double>(missing) / others, 0.3, 0.02);
}

TEST(Simulate, FoundersInHardyWeinbergAndBinomialPolygenes) {
  SimulationSettings settings;
  settings.families = 3000;
  settings.generations = 2;
  settings.truth.Q = 0.3;
  std::array<int, 4> major{};
  double poly_sum = 0, poly_squares = 0;
  int founders = 0;
  for (const auto& p : SimulatePersons(settings)) {
    if (p.father != 0) continue;
    ++founders;
    ++major[p.major];
    poly_sum += p.polygenic;
    poly_squares += p.polygenic * p.polygenic;
  }
  const double n = founders;
  EXPECT_NEAR(major[1] / n, 0.09, 0.01);
  EXPECT_NEAR(major[2] / n, 0.42, 0.015);
  EXPECT_NEAR(major[3] / n, 0.49, 0.015);
  const double mean = poly_sum / n;
  EXPECT_NEAR(mean, 3.0, 0.04);
  EXPECT_NEAR(poly_squares / n - mean * mean, 1.5, 0.05);
}

TEST(Simulate, MendelianAndHypergeometricTransmission) {
  SimulationSettings settings;
  settings.families = 4000;
  settings.generations = 2;
  settings.truth.Q = 0.5;
  std::map<std::pair<int, int>, std::array<int, 4>> by_parents;
  std::array<int, 7> poly_children{};
  int poly_total = 0;
  std::vector<SimulatedPerson> persons = SimulatePersons(settings);
  for (std::size_t i = 0; i < persons.size(); ++i) {
    const SimulatedPerson& c = persons[i];
    if (c.father == 0) continue;
    const std::size_t base = i - (c.id - 1);
    const SimulatedPerson& f = persons[base + c.father - 1];
    const SimulatedPerson& m = persons[base + c.mother - 1];
    ++by_parents[{std::min(f.major, m.major), std::max(f.major, m.major)}]
                [c.major];
    if (f.polygenic == 3 && m.polygenic == 3) {
      ++poly_children[c.polygenic];
      ++poly_total;
    }
  }
  // Heterozygous parents: 1/4, 1/2, 1/4. Homozygous 1 x 3: all 2.
  const auto& het = by_parents[{2, 2}];
  const double n = het[1] + het[2] + het[3];
  EXPECT_NEAR(het[1] / n, 0.25, 0.02);
  EXPECT_NEAR(het[2] / n, 0.5, 0.02);
  const auto& opposite = by_parents[{1, 3}];
  EXPECT_GT(opposite[2], 0);
  EXPECT_EQ(opposite[1] + opposite[3], 0);
  const auto& ones = by_parents[{1, 1}];
  EXPECT_EQ(ones[2] + ones[3], 0);
  // Both parents with 3 of 6 increasing alleles: the child's count is the
  // sum of two gametes of 1/20, 9/20, 9/20, 1/20, so P(3) = 164/400.
  ASSERT_GT(poly_total, 500);
  EXPECT_NEAR(static_cast<double>(poly_children[3]) / poly_total, 0.41, 0.04);
}

TEST(Simulate, TraitIsTheModelMeanPlusNoiseOfVarianceSig) {
  SimulationSettings settings;
  settings.families = 2000;
  settings.covariates = 2;
  settings.truth =
      ModelTruth{0.3, 5, 3, 1, 0.5, 2.0, 0.75, {0.4, -1.2, 0, 0, 0}};
  double sum = 0, squares = 0;
  int n = 0;
  for (const auto& p : SimulatePersons(settings)) {
    const ModelTruth& t = settings.truth;
    double mean = p.major == 1 ? t.MU : p.major == 2 ? t.A : t.D;
    mean += (p.sex == 2 ? t.Sex : 0) + t.B[0] * p.covariates[0] +
            t.B[1] * p.covariates[1] + (p.polygenic - 3) * t.pga;
    const double r = p.trait - mean;
    sum += r;
    squares += r * r;
    ++n;
  }
  EXPECT_GT(n, 10000);
  EXPECT_NEAR(sum / n, 0.0, 0.04);
  EXPECT_NEAR(squares / n, 2.0, 0.06);
}

TEST(Simulate, CovariatesAreRoundedAsWritten) {
  SimulationSettings settings;
  settings.families = 5;
  settings.covariates = 3;
  for (const auto& p : SimulatePersons(settings)) {
    for (int q = 0; q < 3; ++q) {
      EXPECT_EQ(std::stod(FixedText(p.covariates[q], 3)), p.covariates[q]);
      EXPECT_LT(std::fabs(p.covariates[q] * 1000 -
                          std::round(p.covariates[q] * 1000)),
                1e-9);
    }
  }
}

TEST(Simulate, AscertainmentKeepsOnlyProbandsAboveTheThreshold) {
  SimulationSettings settings;
  settings.families = 100;
  settings.ascertain = 3.0;
  for (const auto& p : SimulatePersons(settings)) {
    if (p.status != 2) {
      EXPECT_GT(p.trait, 3.0);
    }
  }
  settings.families = 1;
  settings.generations = 2;
  settings.ascertain = 1e6;
  EXPECT_THROW(SimulatePersons(settings), SimulationFailed);
}

TEST(Simulate, TablesArePedigreesThatPrepAccepts) {
  for (std::uint64_t seed = 1; seed <= 5; ++seed) {
    SimulationSettings settings;
    settings.seed = seed;
    settings.families = 60;
    settings.generations = 1 + static_cast<int>(seed % 4);
    settings.half_sibs = 0.2;
    settings.covariates = 1;
    const std::string text = TableText(settings);
    const auto table = prep::testing::ParseTable(text, {"cov1"});
    EXPECT_EQ(BuildPedigreeFamilies(table).size(), 60u);
  }
}

struct SimulateRun {
  int status;
  std::string out;
  std::string err;
};

SimulateRun Simulate(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int status = RunSimulateCommand(args, out, err);
  return {status, out.str(), err.str()};
}

TEST(SimulateCommand, OptionsReachTheSettings) {
  SimulationSettings s;
  std::string output;
  bool help = true;
  ParseSimulateArguments({"--seed",
                          "18446744073709551615",
                          "--families=7",
                          "--generations",
                          "2",
                          "--children",
                          "1.5",
                          "--max-children",
                          "4",
                          "--marry-in",
                          "0.1",
                          "--half-sibs",
                          "0",
                          "--missing",
                          "0.25",
                          "--proband-status",
                          "0",
                          "--ascertain",
                          "-1.5",
                          "--covariates",
                          "2",
                          "--Q",
                          "0.1",
                          "--MU",
                          "9",
                          "--A",
                          "8",
                          "--D",
                          "7",
                          "--pga",
                          "0.3",
                          "--SIG",
                          "2.5",
                          "--Sex",
                          "-1",
                          "--B1",
                          "0.5",
                          "--B2",
                          "-0.5",
                          "--output",
                          "t.txt"},
                         s, output, help);
  EXPECT_FALSE(help);
  EXPECT_EQ(s.seed, 18446744073709551615ull);
  EXPECT_EQ(s.families, 7);
  EXPECT_EQ(s.generations, 2);
  EXPECT_EQ(s.children_mean, 1.5);
  EXPECT_EQ(s.max_children, 4);
  EXPECT_EQ(s.marry_in, 0.1);
  EXPECT_EQ(s.half_sibs, 0.0);
  EXPECT_EQ(s.missing, 0.25);
  EXPECT_EQ(s.proband_code, 0);
  EXPECT_EQ(s.ascertain, -1.5);
  EXPECT_EQ(s.covariates, 2);
  EXPECT_EQ(s.truth.Q, 0.1);
  EXPECT_EQ(s.truth.MU, 9);
  EXPECT_EQ(s.truth.A, 8);
  EXPECT_EQ(s.truth.D, 7);
  EXPECT_EQ(s.truth.pga, 0.3);
  EXPECT_EQ(s.truth.SIG, 2.5);
  EXPECT_EQ(s.truth.Sex, -1);
  EXPECT_EQ(s.truth.B[0], 0.5);
  EXPECT_EQ(s.truth.B[1], -0.5);
  EXPECT_EQ(output, "t.txt");
}

TEST(SimulateCommand, UsageErrorsExitThree) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"--families", "0"}, "--families needs a whole number from 1"},
      {{"--families", "x"}, "--families needs a whole number"},
      {{"--generations", "11"}, "from 1 to 10"},
      {{"--children", "0.5"}, "mean number of children must be at least 1"},
      {{"--children", "9"}, "at most the largest number of children"},
      {{"--missing", "1.5"}, "--missing needs a probability from 0 to 1"},
      {{"--Q", "-0.1"}, "--Q needs a probability"},
      {{"--SIG", "0"}, "SIG (a variance) must be above 0"},
      {{"--D", "4"}, "D must not exceed MU"},
      {{"--B2", "1", "--covariates", "1"},
       "B2 is given but there are only 1"
       " covariates"},
      {{"--no-probands", "--ascertain", "1"},
       "give either --no-probands or --ascertain, not both."},
      {{"--proband-status", "0", "--no-probands"},
       "give either --no-probands or --proband-status, not both."},
      {{"--MU", "nan"}, "--MU needs a finite number"},
      {{"--seed", "-1"}, "--seed needs a whole number from 0"},
      {{"--seed"}, "--seed needs a value."},
      {{"--B6", "1"}, "unknown argument --B6"},
      {{"extra"}, "unknown argument extra"},
      {{"--Tr2", "1.5"}, "--Tr2 needs a probability from 0 to 1"},
      {{"--Tr1"}, "--Tr1 needs a value."},
  };
  for (const Case& c : cases) {
    const SimulateRun run = Simulate(c.args);
    EXPECT_EQ(run.status, cli::kExitUsage) << c.message;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
  }
}

TEST(SimulateCommand, WritesToStandardOutputOrAFile) {
  const SimulateRun run = Simulate({"--families", "3", "--seed", "4"});
  EXPECT_EQ(run.status, cli::kExitDone);
  SimulationSettings settings;
  settings.families = 3;
  settings.seed = 4;
  EXPECT_EQ(run.out, TableText(settings));

  prep::testing::ScratchDir dir;
  const std::string file = (dir / "t.txt").string();
  EXPECT_EQ(
      Simulate({"--families", "3", "--seed", "4", "--output", file}).status,
      cli::kExitDone);
  EXPECT_EQ(prep::testing::ReadFile(file), run.out);
  const SimulateRun bad =
      Simulate({"--output", (dir / "no/such/dir/t.txt").string()});
  EXPECT_EQ(bad.status, cli::kExitOutputNotWritten);
  EXPECT_NE(bad.err.find("cannot write"), std::string::npos);
}

// What segmix-prep makes of the written table: every family corrected
// through its proband by default, none without probands.
TEST(SimulateCommand, PrepCorrectsFamiliesOnlyWithProbands) {
  struct Row {
    std::vector<std::string> args;
    const char* probands;
    const char* corrected;
  } rows[] = {
      {{}, "probands per family: min 1, median 1, max 1;", "1): 25 of 25."},
      {{"--no-probands"},
       "probands per family: min 0, median 0, max 0; 25 families without",
       "1): 0 of 25."},
  };
  for (const Row& row : rows) {
    prep::testing::ScratchDir dir;
    std::vector<std::string> args = {"--families", "25", "--output",
                                     (dir / "t.txt").string()};
    args.insert(args.end(), row.args.begin(), row.args.end());
    ASSERT_EQ(Simulate(args).status, cli::kExitDone);
    const auto prep = prep::testing::RunPrep(
        {(dir / "t.txt").string(), (dir / "data").string()});
    ASSERT_EQ(prep.status, cli::kExitDone) << prep.err;
    EXPECT_NE(prep.out.find(row.probands), std::string::npos) << prep.out;
    EXPECT_NE(prep.out.find("families corrected for ascertainment (an observed"
                            " proband, proband switch " +
                            std::string(row.corrected)),
              std::string::npos)
        << prep.out;
  }
}

TEST(SimulateCommand, OutputFollowsALinkAndRefusesADirectory) {
  prep::testing::ScratchDir dir;
  std::filesystem::create_symlink("file.txt", dir / "link.txt");
  const SimulateRun run =
      Simulate({"--families", "2", "--output", (dir / "link.txt").string()});
  EXPECT_EQ(run.status, cli::kExitDone);
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.txt"));
  EXPECT_EQ(prep::testing::ReadFile(dir / "file.txt"),
            Simulate({"--families", "2"}).out);
  const SimulateRun bad = Simulate({"--output", dir.Path().string()});
  EXPECT_EQ(bad.status, cli::kExitOutputNotWritten);
  EXPECT_NE(bad.err.find("is a directory"), std::string::npos) << bad.err;
}

// Mendelian values given explicitly draw exactly the default table; other
// values are recorded on the truth line.
TEST(SimulateTransmission, MendelianIsTheDefaultStream) {
  const std::vector<std::string> base = {"--families", "20", "--seed", "9"};
  std::vector<std::string> explicit_mendelian = base;
  for (const char* arg : {"--Tr1", "1", "--Tr2", "0.5", "--Tr3", "0"}) {
    explicit_mendelian.push_back(arg);
  }
  const SimulateRun plain = Simulate(base);
  EXPECT_EQ(Simulate(explicit_mendelian).out, plain.out);
  EXPECT_EQ(plain.out.find("--Tr"), std::string::npos);
  std::vector<std::string> flat = base;
  for (const char* arg : {"--Tr1", "0.5", "--Tr3", "0.5"}) flat.push_back(arg);
  EXPECT_NE(
      Simulate(flat).out.find(" --Tr1 0.5 --Tr2 0.5 --Tr3 0.5\nfamily id"),
      std::string::npos);
}

// With every Tr at 0.5 a parent passes the Q allele by a fair coin whatever
// its genotype: children of 1x1 and of 3x3 parents (all 1, all 3 under
// Mendel) both come out 1:2:1.
TEST(SimulateTransmission, FlatTransmissionForgetsTheParents) {
  SimulationSettings s;
  s.seed = 3;
  s.families = 3000;
  s.generations = 2;
  s.truth.Q = 0.5;
  s.truth.Tr = {0.5, 0.5, 0.5};
  const std::vector<SimulatedPerson> persons = SimulatePersons(s);
  std::array<std::array<double, 4>, 4> counts{};  // [parents' genotype][child]
  for (std::size_t i = 0; i < persons.size(); ++i) {
    const SimulatedPerson& p = persons[i];
    if (p.father == 0) continue;
    // A family's persons are adjacent, in id order.
    const std::size_t first = i - static_cast<std::size_t>(p.id - 1);
    const int father = persons[first + p.father - 1].major;
    const int mother = persons[first + p.mother - 1].major;
    if (father == mother && father != 2) counts[father][p.major] += 1;
  }
  for (const int parents : {1, 3}) {
    const double n =
        counts[parents][1] + counts[parents][2] + counts[parents][3];
    ASSERT_GT(n, 500) << parents;
    EXPECT_NEAR(counts[parents][1] / n, 0.25, 0.05) << parents;
    EXPECT_NEAR(counts[parents][2] / n, 0.50, 0.05) << parents;
    EXPECT_NEAR(counts[parents][3] / n, 0.25, 0.05) << parents;
  }
}

TEST(SimulateCommand, HelpVersionAndUnreachableThreshold) {
  EXPECT_EQ(Simulate({"--version"}).out, VersionText("segmix-simulate"));
  const SimulateRun help = Simulate({"--help"});
  EXPECT_EQ(help.status, cli::kExitDone);
  EXPECT_NE(help.out.find("Usage: segmix-simulate"), std::string::npos);
  const SimulateRun failed =
      Simulate({"--families", "1", "--generations", "2", "--ascertain", "1e6"});
  EXPECT_EQ(failed.status, cli::kExitInputRefused);
  EXPECT_NE(failed.err.find("lower the threshold"), std::string::npos);
}

}  // namespace
}  // namespace segmix::simulate
