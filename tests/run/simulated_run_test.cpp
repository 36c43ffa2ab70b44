// The scientific check: nuclear families drawn from the mixed model with
// known parameters and ascertained through a proband, analysed by the
// program from starting values away from the truth. The estimates must land
// near the truth, and the ascertainment correction must matter: the same data
// analysed without it overestimate the frequency of the allele that raises
// the trait.
//
// The draw uses its own generator (splitmix64 and Box-Muller), so the data
// set is the same on every run and every standard library.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <regex>
#include <string>
#include <vector>

#include "pedigree_data.h"
#include "run_test_support.h"

namespace segmix::testing {
namespace {

class Draw {
 public:
  explicit Draw(std::uint64_t seed) : state_(seed) {}
  double Uniform() {  // [0, 1), 53 bits
    return static_cast<double>(Next() >> 11) * 0x1.0p-53;
  }
  double Normal() {
    const double u = 1.0 - Uniform();  // (0, 1]
    const double v = Uniform();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * std::numbers::pi * v);
  }

 private:
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  std::uint64_t state_;
};

// The truth: allele frequency Q of the allele that genotype 1 carries twice,
// genotype means MU, A, D, residual variance SIG; no polygenic component.
constexpr double kQ = 0.25, kMU = 14.0, kA = 12.0, kD = 10.0, kSIG = 1.0;
constexpr int kFamilies = 120;
constexpr int kChildren = 3;
constexpr float kThreshold = 12.5f;  // a family enters through its proband

// Number of copies of the Q allele (0..2) -> genotype 1..3.
int Genotype(int copies) { return 3 - copies; }

DataSet Simulate() {
  Draw draw(0x5e9a1c5eedULL);
  const double means[3] = {kMU, kA, kD};
  auto trait = [&](int copies) {
    return static_cast<float>(means[Genotype(copies) - 1] +
                              std::sqrt(kSIG) * draw.Normal());
  };
  DataSet data;
  while (static_cast<int>(data.families.size()) < kFamilies) {
    int father[2], mother[2];
    for (int i = 0; i < 2; ++i) {
      father[i] = draw.Uniform() < kQ;
      mother[i] = draw.Uniform() < kQ;
    }
    TestFamily f;
    f.members.push_back({1, 2, trait(father[0] + father[1]), {}});
    f.members.push_back({2, 2, trait(mother[0] + mother[1]), {}});
    for (int c = 0; c < kChildren; ++c) {
      const int copies =
          father[draw.Uniform() < 0.5] + mother[draw.Uniform() < 0.5];
      f.members.push_back({draw.Uniform() < 0.5 ? 1 : 2, 2, trait(copies), {}});
    }
    // The first child is the proband; only families whose proband is above
    // the threshold are sampled.
    if (!(f.members[2].trait > kThreshold)) continue;
    f.members[2].status = 1;
    f.nuclear.push_back({1, 2, {3, 4, 5}, 0});
    data.families.push_back(f);
  }
  return data;
}

ControlFile Analysis(int proband_switch) {
  ControlFile c;
  c.flags.assign(kFamilies, 1);
  c.proband_switch = proband_switch;
  TestModel& m = c.model;
  struct Row {
    int in_model, estimate;
    double value, step, gl, gr;
  };
  const Row rows[16] = {{},
                        {1, 1, 0.4, 0.05, 0.001, 0.999},
                        {1, 1, 13.0, 0.5, 0.0, 30.0},
                        {1, 1, 11.5, 0.5, 0.0, 30.0},
                        {1, 1, 10.5, 0.5, 0.0, 30.0},
                        {0, 0, 0.0, 0.0, 0.0, 0.0},
                        {1, 1, 1.5, 0.25, 0.05, 20.0},
                        {0, 0, 0.0, 0.0, 0.0, 0.0},
                        {0, 0, 1.0, 0.0, 0.0, 1.0},
                        {0, 0, 0.5, 0.0, 0.0, 1.0},
                        {0, 0, 0.0, 0.0, 0.0, 1.0},
                        {0, 0, 0.0, 0.0, 0.0, 0.0},
                        {0, 0, 0.0, 0.0, 0.0, 0.0},
                        {0, 0, 0.0, 0.0, 0.0, 0.0},
                        {0, 0, 0.0, 0.0, 0.0, 0.0},
                        {0, 0, 0.0, 0.0, 0.0, 0.0}};
  for (int j = 1; j <= 15; ++j) {
    m.tie[j] = j;
    m.in_model[j] = rows[j].in_model;
    m.estimate[j] = rows[j].estimate;
    m.value[j] = rows[j].value;
    m.step[j] = rows[j].step;
    m.gl[j] = rows[j].gl;
    m.gr[j] = rows[j].gr;
  }
  return c;
}

class SimulatedRunTest : public RunDirTest {
 protected:
  // Runs the analysis and returns the estimates of rows 1..6 from sigma.dat.
  std::vector<double> Estimates(int proband_switch) {
    const ControlFile control = Analysis(proband_switch);
    WriteControlFile(control);
    WriteDataFiles(Simulate(), control);
    const ProgramRun run = RunProgramHere();
    EXPECT_EQ(run.exit_status, 0) << run.errors;
    EXPECT_EQ(ReadFile("par.err"), "") << "the search converged";
    const std::vector<std::string> sigma = SplitLines(ReadFile("sigma.dat"));
    EXPECT_EQ(sigma.size(), 20u);
    std::vector<double> values(7, 0.0);
    const std::regex parameter(
        R"( ( \d|\d\d) ( *-?0\.\d{6}E[+-]\d\d)( *-?0\.\d{6}E[+-]\d\d))");
    for (int j = 1; j <= 6 && 4 + j < static_cast<int>(sigma.size()); ++j) {
      std::smatch m;
      if (std::regex_match(sigma[4 + j], m, parameter)) {
        values[j] = std::strtod(m[2].str().c_str(), nullptr);
      }
    }
    return values;
  }
};

TEST_F(SimulatedRunTest, EstimatesLandNearTheTruth) {
  const DataSet data = Simulate();
  int members = 0;
  for (const TestFamily& f : data.families) members += f.members.size();
  ASSERT_EQ(members, kFamilies * (2 + kChildren));

  const std::vector<double> corrected = Estimates(1);
  // With 600 members the standard errors are roughly 0.03 for Q, 0.1 to
  // 0.15 for the means and 0.08 for SIG: the margins are about three of them.
  EXPECT_NEAR(corrected[1], kQ, 0.1) << "Q";
  EXPECT_NEAR(corrected[2], kMU, 0.5) << "MU";
  EXPECT_NEAR(corrected[3], kA, 0.4) << "A";
  EXPECT_NEAR(corrected[4], kD, 0.3) << "D";
  EXPECT_NEAR(corrected[6], kSIG, 0.25) << "SIG";

  // Without the correction the probands, chosen for high traits, are taken
  // as a random sample: the high-trait allele looks more frequent.
  const std::vector<double> naive = Estimates(0);
  EXPECT_GT(naive[1], corrected[1]) << "Q without the correction";
  EXPECT_GT(std::fabs(naive[1] - kQ), std::fabs(corrected[1] - kQ));
}

}  // namespace
}  // namespace segmix::testing
