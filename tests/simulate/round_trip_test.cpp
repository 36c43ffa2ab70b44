// Simulate, prepare, load with the program's own reader, evaluate with the
// program's own likelihood, and compare:
// - the loaded store, control file and map with what segmix-prep built;
// - the peeled likelihood with a brute-force sum over every joint genotype
//   of every member, with the parents taken from the table itself and
//   tables derived from the model's values alone (Mendelian and
//   hypergeometric transmission, Hardy-Weinberg and binomial priors; see
//   support/brute_force_likelihood.h), for many random small pedigree
//   shapes;
// - the likelihood of the same pedigrees peeled in other directions, onto
//   other connectors and with the parents swapped.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "data/family_store.h"
#include "data/read_family_data.h"
#include "model/polygenic.h"
#include "model/sample_likelihood.h"
#include "prep/prepared_data.h"
#include "run/control_file.h"
#include "simulate/simulate.h"
#include "support/brute_force_likelihood.h"
#include "support/companion_test_support.h"
#include "textio/text_units.h"

namespace segmix::simulate {
namespace {

using prep::MapEntry;
using prep::PedigreeTable;
using prep::PeelOptions;
using prep::PersonRow;
using prep::PrepareData;
using prep::PreparedData;
using prep::PrepOptions;
using prep::ReadMapFile;
using prep::testing::ParseTable;
using prep::testing::ScratchDir;

// Runs in `dir` for its lifetime: the program reads its files from the
// working directory.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const std::filesystem::path& dir)
      : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~WorkingDirectory() { std::filesystem::current_path(previous_); }

 private:
  std::filesystem::path previous_;
};

struct Loaded {
  FamilyStore store;
  ControlSettings control;
  ParameterTable parameters;
};

// Writes `data` into `dir` and loads it back as the program does.
Loaded WriteAndLoad(const PreparedData& data,
                    const std::filesystem::path& dir) {
  WritePreparedFiles(data, dir, /*overwrite=*/true);
  WorkingDirectory here(dir);
  std::ostringstream console;
  TextUnits units(console);
  Loaded loaded;
  units.Open(1, "par.inp", OpenStatus::kOld);
  ReadControlFile(units, loaded.control, loaded.parameters);
  units.Close(1);
  ReadFamilyData(
      units, 2, loaded.control.data_file_name,
      std::span<const std::string>(loaded.control.covariate_file_names)
          .subspan(1, loaded.control.covariate_count),
      loaded.store);
  return loaded;
}

// The parameter table of `truth`, every parameter fixed; pga, Sex and the
// first `covariates` coefficients in the model.
ParameterTable TableOf(const ModelTruth& t, int covariates, bool sex) {
  ParameterTable p;
  const double values[16] = {0,      t.Q,    t.MU,   t.A,   t.D, t.pga,
                             t.SIG,  t.Sex,  1,      0.5,   0,   t.B[0],
                             t.B[1], t.B[2], t.B[3], t.B[4]};
  for (int row = 1; row <= kParameterCount; ++row) {
    p.tie[row] = row;
    p.in_model[row] = 1;
    p.estimate[row] = 0;
    p.value[row] = values[row];
    p.GL[row] = -1e9;
    p.GR[row] = 1e9;
  }
  p.in_model[kSex] = sex ? 1 : 0;
  p.in_model[kTr1] = p.in_model[kTr2] = p.in_model[kTr3] = 0;
  for (int q = covariates; q < 5; ++q) {
    p.in_model[kB1 + q] = 0;
    p.value[kB1 + q] = 0;
  }
  return p;
}

// The program's sample log-likelihood of `store` at `truth`.
double ProgramLogLikelihood(const FamilyStore& store, const ModelTruth& truth,
                            int covariates, bool sex, int proband_switch) {
  PolygenicTables polygenic;
  BuildPolygenicTransmission(polygenic);
  FillPolygenicFrequency(polygenic);
  ParameterTable parameters = TableOf(truth, covariates, sex);
  std::vector<std::int32_t> flags(N_FAM + 1, 1);
  SampleLikelihood sample(parameters, store, polygenic,
                          SampleSettings{covariates, proband_switch, flags});
  return sample.Evaluate(Gate::kChecked).ObjectiveValue();
}

// ---- Brute force, from the table alone ----

// The densities of one person at every joint genotype; all 1 for a missing
// trait and, in the correction pass, for a person who is not a proband.
test::StateValues Densities(const PersonRow& r, const ModelTruth& t,
                            int covariates, bool sex, bool correction) {
  test::StateValues d;
  d.fill(1.0L);
  if (!r.trait_observed) return d;
  if (correction && r.status == 2) return d;
  long double shift = sex && r.sex == 2 ? t.Sex : 0.0;
  for (int q = 0; q < covariates; ++q) {
    shift += static_cast<long double>(t.B[q]) * r.covariates[q];
  }
  return test::PlainDensities(r.trait, {t.MU, t.A, t.D}, shift, t.pga, t.SIG);
}

// One family's likelihood with each person's parents found by id.
long double FamilyLikelihood(const std::vector<const PersonRow*>& rows,
                             const ModelTruth& t, int covariates, bool sex,
                             bool correction,
                             const test::GeneticTables& tables) {
  const int n = static_cast<int>(rows.size());
  std::map<std::string, int> index;
  for (int k = 0; k < n; ++k) index[rows[k]->id] = k;
  std::vector<test::BruteForceMember> members(n);
  for (int k = 0; k < n; ++k) {
    members[k].density = Densities(*rows[k], t, covariates, sex, correction);
    if (rows[k]->father.empty()) continue;
    members[k].father = index.at(rows[k]->father);
    members[k].mother = index.at(rows[k]->mother);
    // Parents come before their children in the table.
    EXPECT_LT(members[k].father, k);
    EXPECT_LT(members[k].mother, k);
  }
  return test::BruteForceFamilyLikelihood(members, tables);
}

// Sum over families of ln L(all) - ln L(probands only) when corrected, with
// Mendelian transmission.
long double BruteForceLogLikelihood(const PedigreeTable& table,
                                    const ModelTruth& t, int covariates,
                                    bool sex, int proband_switch) {
  const test::GeneticTables tables = test::PlainGeneticTables(t.Q);
  std::map<std::string, std::vector<const PersonRow*>> families;
  std::vector<std::string> order;
  for (const PersonRow& row : table.rows) {
    if (!families.contains(row.family)) order.push_back(row.family);
    families[row.family].push_back(&row);
  }
  long double total = 0;
  for (const std::string& id : order) {
    const auto& rows = families[id];
    bool observed = false, status0 = false;
    for (const PersonRow* r : rows) {
      observed |= r->trait_observed;
      status0 |= r->status == 0;
    }
    if (!observed) continue;
    total +=
        std::log(FamilyLikelihood(rows, t, covariates, sex, false, tables));
    if (proband_switch != 0 || status0) {
      total -=
          std::log(FamilyLikelihood(rows, t, covariates, sex, true, tables));
    }
  }
  return total;
}

// A table of the families of `text` with at most `largest` members.
std::string SmallFamilies(const std::string& text, std::size_t largest) {
  std::istringstream in(text);
  std::string line, header;
  std::map<std::string, std::vector<std::string>> families;
  std::vector<std::string> order;
  while (std::getline(in, line)) {
    if (line.starts_with("#")) continue;
    if (header.empty()) {
      header = line;
      continue;
    }
    const std::string family = line.substr(0, line.find(' '));
    if (!families.contains(family)) order.push_back(family);
    families[family].push_back(line);
  }
  std::string out = header + "\n";
  for (const std::string& f : order) {
    if (families[f].size() > largest) continue;
    for (const std::string& l : families[f]) out += l + "\n";
  }
  return out;
}

std::string Simulated(const SimulationSettings& settings) {
  std::ostringstream out;
  WriteSimulatedTable(settings, SimulatePersons(settings), out);
  return out.str();
}

std::vector<std::string> CovariateNames(int k) {
  std::vector<std::string> names;
  for (int q = 1; q <= k; ++q) names.push_back("cov" + std::to_string(q));
  return names;
}

void ExpectSameStore(const FamilyStore& a, const FamilyStore& b) {
  EXPECT_EQ(a.listed_family_count, b.listed_family_count);
  EXPECT_EQ(a.member_offset, b.member_offset);
  EXPECT_EQ(a.nuclear_offset, b.nuclear_offset);
  EXPECT_EQ(a.list_offset_count, b.list_offset_count);
  EXPECT_EQ(a.list_offset, b.list_offset);
  EXPECT_EQ(a.member_list_length, b.member_list_length);
  EXPECT_EQ(a.member_list, b.member_list);
  EXPECT_EQ(a.connector, b.connector);
  EXPECT_EQ(a.member_count, b.member_count);
  EXPECT_EQ(a.sex, b.sex);
  EXPECT_EQ(a.status, b.status);
  EXPECT_EQ(a.trait, b.trait);
  for (int q = 1; q <= kCovariateSlots; ++q) {
    EXPECT_EQ(a.covariate[q], b.covariate[q]) << q;
  }
  EXPECT_EQ(a.family_weight, b.family_weight);
}

TEST(RoundTrip, LoadedFilesAreWhatPrepBuilt) {
  ScratchDir dir;
  SimulationSettings settings;
  settings.families = 40;
  settings.covariates = 3;
  settings.half_sibs = 0.3;
  settings.truth.B = {1, 2, 3, 0, 0};
  const std::string text = Simulated(settings);
  PrepOptions options;
  options.covariates = {"cov3", "cov1", "cov2"};
  const PedigreeTable table = ParseTable(text, options.covariates);
  const PreparedData data = PrepareData(table, options);
  const Loaded loaded = WriteAndLoad(data, dir.Path());
  ExpectSameStore(loaded.store, data.store);
  EXPECT_EQ(loaded.control.family_count, data.control.family_count);
  EXPECT_EQ(loaded.control.proband_switch, data.control.proband_switch);
  EXPECT_EQ(loaded.control.data_file_name, data.control.data_file_name);
  EXPECT_EQ(loaded.control.covariate_count, 3);
  EXPECT_EQ(loaded.control.covariate_file_names,
            data.control.covariate_file_names);
  EXPECT_EQ(loaded.control.selection_flags, data.control.selection_flags);
  for (int row = 1; row <= kParameterCount; ++row) {
    EXPECT_EQ(loaded.parameters.tie[row], data.parameters.tie[row]) << row;
    EXPECT_EQ(loaded.parameters.in_model[row], data.parameters.in_model[row]);
    EXPECT_EQ(loaded.parameters.estimate[row], data.parameters.estimate[row]);
    EXPECT_EQ(loaded.parameters.value[row], data.parameters.value[row]) << row;
    EXPECT_EQ(loaded.parameters.step[row], data.parameters.step[row]) << row;
    EXPECT_EQ(loaded.parameters.GL[row], data.parameters.GL[row]) << row;
    EXPECT_EQ(loaded.parameters.GR[row], data.parameters.GR[row]) << row;
  }
  // The covariate files hold the columns in the order asked for.
  for (const MapEntry& e : data.map) {
    const PersonRow& row = table.rows[e.line - 4];  // 2 comments, a header
    EXPECT_EQ(loaded.store.covariate[1][e.store_index], row.covariates[0]);
    EXPECT_EQ(loaded.store.covariate[2][e.store_index], row.covariates[1]);
  }
}

TEST(RoundTrip, MapFileRoundTripsIds) {
  ScratchDir dir;
  // Ids with blanks, commas and quotes survive the map file.
  const std::string text =
      "family,id,father,mother,sex,status,trait\n"
      "\"fam A\",\"dad, sr\",,,1,2,1\n"
      "\"fam A\",\"mom \"\"M\"\"\",,,2,2,2\n"
      "B,x,,,1,1,3\n"
      "\"fam A\",kid,\"dad, sr\",\"mom \"\"M\"\"\",1,1,3\n";
  const PedigreeTable table = ParseTable(text);
  const PreparedData data = PrepareData(table, {});
  const Loaded loaded = WriteAndLoad(data, dir.Path());
  std::ifstream in(dir / "idmap.dat");
  const std::vector<MapEntry> map = ReadMapFile(in, "idmap.dat");
  EXPECT_EQ(map, data.map);
  ASSERT_EQ(map.size(), 4u);
  for (const MapEntry& e : map) {
    const PersonRow& row = table.rows[e.line - 2];
    EXPECT_EQ(e.family, row.family);
    EXPECT_EQ(e.id, row.id);
    EXPECT_EQ(loaded.store.trait[e.store_index], row.trait);
    EXPECT_EQ(loaded.store.MemberOffset(e.family_index) + e.position,
              e.store_index);
  }
  EXPECT_EQ(map[1].id, "mom \"M\"");
  EXPECT_EQ(map[3].family, "B");
  EXPECT_EQ(map[3].family_index, 2);
}

// Checks the program against the brute force for one table.
void ExpectBruteForce(const std::string& text, const ModelTruth& truth,
                      int covariates, bool sex, int proband_switch,
                      const ScratchDir& dir, PeelOptions peel = {}) {
  PrepOptions options;
  options.peel = peel;
  options.covariates = CovariateNames(covariates);
  options.proband_switch = proband_switch;
  const PedigreeTable table = ParseTable(text, options.covariates);
  const PreparedData data = PrepareData(table, options);
  const Loaded loaded = WriteAndLoad(data, dir.Path());
  const double program = ProgramLogLikelihood(loaded.store, truth, covariates,
                                              sex, proband_switch);
  const long double expected =
      BruteForceLogLikelihood(table, truth, covariates, sex, proband_switch);
  EXPECT_NEAR(program, static_cast<double>(expected),
              1e-10 * std::max(1.0L, std::fabs(expected)))
      << text;
}

TEST(RoundTrip, PeeledLikelihoodEqualsBruteForceOnRandomSmallPedigrees) {
  ScratchDir dir;
  int families = 0;
  for (std::uint64_t seed = 1; seed <= 12; ++seed) {
    SimulationSettings settings;
    settings.seed = seed;
    settings.families = 25;
    settings.generations = 1 + static_cast<int>(seed % 3);
    settings.children_mean = 1.4;
    settings.max_children = 3;
    settings.marry_in = 0.5;
    settings.half_sibs = 0.3;
    settings.missing = 0.2;
    settings.proband_code = static_cast<int>(seed % 2);
    settings.covariates = static_cast<int>(seed % 3);
    settings.truth =
        ModelTruth{0.15 + 0.05 * (seed % 4), 2.5, 1.25, -0.5,
                   0.2 * (seed % 3),         0.8, 0.4,  {0.3, -0.6, 0, 0, 0}};
    for (int q = settings.covariates; q < 5; ++q) settings.truth.B[q] = 0;
    const std::string text = SmallFamilies(Simulated(settings), 5);
    families += static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    ExpectBruteForce(text, settings.truth, settings.covariates,
                     /*sex=*/seed % 2 == 0,
                     /*proband_switch=*/seed % 4 == 3 ? 0 : 1, dir);
  }
  EXPECT_GT(families, 200);  // persons tested, header lines included
}

TEST(RoundTrip, BruteForceOnCraftedShapes) {
  // Half-sibs through a father, two unrelated parts in one family, a person
  // outside every nuclear family listed before the nuclear family, two
  // founders without children, and a three-generation line; peeled upwards,
  // and downwards through child connectors with the mothers listed first.
  const std::string text =
      "family id father mother sex status trait\n"
      "H 1 0 0 1 2 2.1\nH 2 0 0 2 2 NA\nH 3 0 0 2 2 0.4\n"
      "H 4 1 2 1 1 1.7\nH 5 1 3 2 2 0.9\n"
      "P a 0 0 1 2 1.1\nP b 0 0 2 2 0.3\nP c a b 1 1 2.4\n"
      "P d 0 0 1 2 NA\nP e 0 0 2 2 0.8\nP f d e 1 2 1.9\n"
      "Z z 0 0 2 2 -0.2\nZ g 0 0 1 2 0.6\nZ h 0 0 2 2 NA\n"
      "Z i g h 2 1 1.2\n"
      "S u 0 0 1 1 3.0\nS v 0 0 2 2 NA\n"
      "L 1 0 0 1 2 0.5\nL 2 0 0 2 2 1.5\nL 3 1 2 2 2 NA\n"
      "L 4 0 0 1 2 2.0\nL 5 4 3 1 0 2.8\n";
  ScratchDir dir;
  const ModelTruth truth{0.25, 2.0, 1.0, 0.0, 0.3, 0.7, 0.2, {}};
  ExpectBruteForce(text, truth, 0, true, 1, dir);
  ExpectBruteForce(text, truth, 0, false, 0, dir);
  ExpectBruteForce(text, truth, 0, true, 1, dir, PeelOptions{-1, true});
}

TEST(RoundTrip, EveryPeelingDirectionGivesTheSameLikelihood) {
  ScratchDir dir;
  SimulationSettings settings;
  settings.families = 60;
  settings.generations = 4;
  settings.children_mean = 2;
  settings.max_children = 4;
  settings.marry_in = 0.7;
  settings.half_sibs = 0.25;
  settings.covariates = 1;
  settings.truth = ModelTruth{0.2, 3, 1.5, 0, 0.3, 1, 0.5, {0.5, 0, 0, 0, 0}};
  const std::string text = Simulated(settings);
  const PedigreeTable table = ParseTable(text, {"cov1"});
  PrepOptions options;
  options.covariates = {"cov1"};
  double reference = 0;
  int variant = 0;
  for (const int terminal : {0, -1, 1, 2, -2, 7}) {
    for (const bool mother_first : {false, true}) {
      options.peel.terminal = terminal;
      options.peel.mother_first = mother_first;
      const PreparedData data = PrepareData(table, options);
      const Loaded loaded = WriteAndLoad(data, dir.Path());
      const double ll =
          ProgramLogLikelihood(loaded.store, settings.truth, 1, true, 1);
      ASSERT_TRUE(std::isfinite(ll));
      if (variant++ == 0) {
        reference = ll;
        continue;
      }
      EXPECT_NEAR(ll, reference, 1e-9 * std::fabs(reference))
          << "terminal " << terminal << " mother first " << mother_first;
    }
  }
  // The variants really are different files.
  options.peel = {};
  const PreparedData up = PrepareData(table, options);
  options.peel.terminal = -1;
  const PreparedData down = PrepareData(table, options);
  EXPECT_NE(up.store.member_list, down.store.member_list);
  EXPECT_NE(up.store.connector, down.store.connector);
}

}  // namespace
}  // namespace segmix::simulate
