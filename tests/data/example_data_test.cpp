// The small example data set under examples/small: its control file reads
// under the control-file layouts and names the data files that are there, and
// its data load and validate with the console lines and weights worked out
// by hand from the files.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "data/family_store.h"
#include "data/validate_family_structure.h"
#include "data_test_support.h"
#include "textio/statements.h"
#include "textio/text_units.h"

namespace segmix {
namespace {

using testing::DataDirTest;

// What the example's par.inp holds, read with the control file's layouts.
struct ExampleControl {
  std::int32_t family_count = 0;
  std::int32_t proband_switch = 0;
  std::string data_file_name;
  std::int32_t covariate_count = 0;
  std::vector<std::int32_t> flags;  // [0] unused
  std::array<std::int32_t, 16> tie{}, in_model{}, estimate{};
  std::array<double, 16> value{}, step{}, lower{}, upper{};
  std::vector<std::string> covariate_names;
};

ExampleControl ReadExampleControl(TextUnits& units) {
  ExampleControl c;
  units.Open(1, "par.inp", OpenStatus::kOld);
  {
    ReadStatement r(units, 1);
    r >> c.family_count >> c.proband_switch;
    r.Text(c.data_file_name, 16);
    r >> c.covariate_count;
    r.End();
  }
  c.flags.assign(static_cast<std::size_t>(c.family_count) + 1, 0);
  {
    ReadStatement r(units, 1, "(20i1)");
    for (std::int32_t g = 1; g <= c.family_count; ++g) r >> c.flags[g];
    r.End();
  }
  for (int j = 1; j <= 15; ++j) {
    ReadStatement r(units, 1, "(2i3,i2,4E12.5)");
    r >> c.tie[j] >> c.in_model[j] >> c.estimate[j] >> c.value[j] >>
        c.step[j] >> c.lower[j] >> c.upper[j];
    r.End();
  }
  for (std::int32_t q = 1; q <= c.covariate_count; ++q) {
    std::string name;
    ReadStatement r(units, 1);
    r.Text(name, 16);
    r.End();
    c.covariate_names.push_back(name);
  }
  units.Close(1);
  return c;
}

class ExampleDataTest : public DataDirTest {
 protected:
  void SetUp() override {
    DataDirTest::SetUp();
    const std::filesystem::path source =
        std::filesystem::path(SEGMIX_SOURCE_DIR) / "examples" / "small";
    for (const auto& entry : std::filesystem::directory_iterator(source)) {
      std::filesystem::copy(entry.path(), entry.path().filename());
    }
  }
};

TEST_F(ExampleDataTest, ControlFileNamesTheDataAndAQuickModel) {
  std::ostringstream console;
  TextUnits units(console);
  const ExampleControl c = ReadExampleControl(units);
  EXPECT_EQ(c.family_count, 4);
  EXPECT_EQ(c.proband_switch, 1);
  EXPECT_EQ(c.data_file_name, "trait.dat       ");
  ASSERT_EQ(c.covariate_count, 1);
  EXPECT_EQ(c.covariate_names, std::vector<std::string>{"age.dat         "});
  EXPECT_EQ(c.flags, (std::vector<std::int32_t>{0, 1, 1, 1, 1}));
  // Three free parameters, D (4), SIG (6) and B1 (11), each starting strictly
  // inside its bounds with a positive step; every parameter is its own tie.
  std::vector<int> free;
  for (int j = 1; j <= 15; ++j) {
    EXPECT_EQ(c.tie[j], j);
    if (c.estimate[j] == 0) continue;
    free.push_back(j);
    EXPECT_EQ(c.in_model[j], 1) << j;
    EXPECT_LT(c.lower[j], c.value[j]) << j;
    EXPECT_LT(c.value[j], c.upper[j]) << j;
    EXPECT_GT(c.step[j], 0.0) << j;
  }
  EXPECT_EQ(free, (std::vector<int>{4, 6, 11}));
  // Q = 0.2, MU = 16, A = 13, D = 10.5, SIG = 2, Sex in the model at 0.5.
  EXPECT_EQ(c.value[1], 0.2);
  EXPECT_EQ(c.value[2], 16.0);
  EXPECT_EQ(c.value[3], 13.0);
  EXPECT_EQ(c.value[4], 10.5);
  EXPECT_EQ(c.value[6], 2.0);
  EXPECT_EQ(c.in_model[7], 1);
  EXPECT_EQ(c.value[7], 0.5);
  // D can never rise above MU, and SIG stays positive.
  EXPECT_LE(c.upper[4], c.value[2]);
  EXPECT_GT(c.lower[6], 0.0);
  // Polygenic component and general transmission left out.
  EXPECT_EQ(c.in_model[5], 0);
  EXPECT_EQ(c.in_model[8], 0);
  units.CloseAll();
}

TEST_F(ExampleDataTest, LoadsValidatesAndWeighsTheFourFamilies) {
  const auto outcome = Load("trait.dat       ", {"age.dat         "});
  ASSERT_EQ(outcome.exit_status, 0) << outcome.stderr_text;
  // 19 members; observed: family 1 all 5, family 2 all but the grandparents
  // (6), family 3 all but the mother (3), family 4 none.
  EXPECT_EQ(outcome.console, " 19\n 1 5\n 2 6\n 3 3\n");
  EXPECT_EQ(store_.family_weight[1], 1.0 / 5.0);
  EXPECT_EQ(store_.family_weight[2], 1.0 / 6.0);
  EXPECT_EQ(store_.family_weight[3], 1.0 / 3.0);
  EXPECT_EQ(store_.family_weight[4], 0.0);
  // Shapes: sizes, nuclear families per family, the child connector.
  EXPECT_EQ(store_.FamilySize(1), 5);
  EXPECT_EQ(store_.FamilySize(2), 8);
  EXPECT_EQ(store_.FamilySize(3), 4);
  EXPECT_EQ(store_.FamilySize(4), 2);
  EXPECT_EQ(store_.LastNuclear(1) - store_.FirstNuclear(1) + 1, 1);
  EXPECT_EQ(store_.LastNuclear(2) - store_.FirstNuclear(2) + 1, 2);
  EXPECT_EQ(store_.connector[store_.FirstNuclear(2)], 3);
  const auto grandparents = store_.NuclearMembers(store_.FirstNuclear(2));
  EXPECT_EQ(grandparents[2], 3);  // the connecting child is listed first
  EXPECT_EQ(store_.connector[store_.LastNuclear(2)], 0);
  // Member 8 of family 2 and member 4 of family 3 are in no nuclear family.
  for (const auto& [g, outside] : {std::pair{2, 8}, std::pair{3, 4}}) {
    for (std::int32_t w = store_.FirstNuclear(g); w <= store_.LastNuclear(g);
         ++w) {
      for (const std::int32_t x : store_.NuclearMembers(w))
        EXPECT_NE(x, outside);
    }
  }
  // One status-0 proband (family 1, member 3); the covariate file is read.
  EXPECT_EQ(store_.status[3], 0);
  EXPECT_EQ(store_.covariate[1][1], 4.8f);
  EXPECT_EQ(store_.covariate[1][19], 5.8f);
  EXPECT_EQ(store_.covariate[2][19], 0.0f);
  // Sex is in the example's model: every selected family passes.
  const std::vector<std::int32_t> flags = {0, 1, 1, 1, 1};
  EXPECT_NO_THROW(ValidateSexCodes(store_, flags, 4));
}

}  // namespace
}  // namespace segmix
