// CountMembers on stores built by hand: which families are walked (the
// control file's count, selection flags, empty families), what counts as
// observed (-998 yes, -998.5 no, not-a-number no), the status-0 count and the
// "No proband in the family" records.
#include "run/member_counts.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "data/family_store.h"
#include "run/control_file.h"
#include "textio/text_units.h"

namespace segmix::testing {
namespace {

struct Member {
  int status;
  float trait;
};

// A store of the given families, one after another; only the member data
// that counting reads is filled.
FamilyStore StoreOf(const std::vector<std::vector<Member>>& families) {
  FamilyStore store;
  const int n = static_cast<int>(families.size());
  store.listed_family_count = n;
  store.member_offset.assign(n + 2, 0);
  store.member_offset[0] = n;
  store.status.assign(1, 0);
  store.trait.assign(1, 0.0f);
  store.sex.assign(1, 0);
  int offset = 0;
  for (int g = 1; g <= n; ++g) {
    store.member_offset[g] = offset;
    for (const Member& m : families[g - 1]) {
      store.status.push_back(m.status);
      store.trait.push_back(m.trait);
      store.sex.push_back(1);
      ++offset;
    }
  }
  store.member_offset[n + 1] = offset;
  store.member_count = offset;
  return store;
}

ControlSettings SettingsFor(int family_count, int proband_switch,
                            const std::vector<int>& flags) {
  ControlSettings settings;
  settings.family_count = family_count;
  settings.proband_switch = proband_switch;
  settings.selection_flags.assign(N_FAM + 1, 0);
  for (std::size_t g = 0; g < flags.size(); ++g) {
    settings.selection_flags[g + 1] = flags[g];
  }
  return settings;
}

struct Counted {
  MemberCounts counts;
  std::string console;
};

Counted Count(const ControlSettings& settings, const FamilyStore& store) {
  std::ostringstream console;
  Counted result;
  {
    TextUnits units(console);
    result.counts = CountMembers(settings, store, units);
  }
  result.console = console.str();
  return result;
}

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

TEST(MemberCountsTest, ObservedMeansAtLeastMinus998) {
  struct Row {
    float trait;
    int observed;
  };
  const Row rows[] = {
      {-998.0f, 1},  {-998.5f, 0},
      {-997.99f, 1}, {std::nextafter(-998.0f, -1e9f), 0},
      {-999.0f, 0},  {0.0f, 1},
      {-0.0f, 1},    {12.5f, 1},
      {kNaN, 0},     {kInf, 1},
      {-kInf, 0},    {-1e30f, 0},
      {1e30f, 1},
  };
  for (const Row& row : rows) {
    const FamilyStore store = StoreOf({{{2, row.trait}}});
    const Counted c = Count(SettingsFor(1, 0, {1}), store);
    EXPECT_EQ(c.counts.observed, row.observed) << row.trait;
    EXPECT_EQ(c.counts.status0, 0);
  }
}

TEST(MemberCountsTest, ProbandSwitchOffNeverReports) {
  const FamilyStore store =
      StoreOf({{{2, 1.0f}, {2, 2.0f}}, {{2, -999.0f}}, {{0, 3.0f}}});
  const Counted c = Count(SettingsFor(3, 0, {1, 1, 1}), store);
  EXPECT_EQ(c.console, "");
  EXPECT_EQ(c.counts.observed, 3);
  EXPECT_EQ(c.counts.status0, 1);
}

TEST(MemberCountsTest, FamilyWithoutProbandReportedAndStillCounted) {
  // Family 1 has a proband (status 1), family 2 none, family 3 a status-0
  // member, family 4 none and all traits missing.
  const FamilyStore store = StoreOf({{{2, 1.0f}, {1, 2.0f}},
                                     {{2, 5.0f}, {2, -998.0f}, {2, -999.f}},
                                     {{0, 3.0f}, {2, 4.0f}},
                                     {{2, -999.0f}, {2, -999.0f}}});
  const Counted c = Count(SettingsFor(4, 1, {1, 1, 1, 1}), store);
  EXPECT_EQ(c.console,
            " No proband in the family  2\n"
            " No proband in the family  4\n");
  EXPECT_EQ(c.counts.observed, 2 + 2 + 2 + 0);
  EXPECT_EQ(c.counts.status0, 1);
}

TEST(MemberCountsTest, AnyNonzeroSwitchAndFlagCount) {
  const FamilyStore store = StoreOf({{{2, 1.0f}}, {{2, 1.0f}}, {{0, 1.0f}}});
  const Counted c = Count(SettingsFor(3, -7, {9, -1, 0}), store);
  EXPECT_EQ(c.console,
            " No proband in the family  1\n"
            " No proband in the family  2\n");
  EXPECT_EQ(c.counts.observed, 2);
  EXPECT_EQ(c.counts.status0, 0) << "family 3 is not selected";
}

TEST(MemberCountsTest, UnselectedAndEmptyFamiliesContributeNothing) {
  FamilyStore store =
      StoreOf({{{2, 1.0f}, {0, 1.0f}}, {}, {{2, 2.0f}, {2, 3.0f}}});
  const Counted c = Count(SettingsFor(3, 1, {0, 1, 1}), store);
  // Family 1 unselected (its status-0 member is not counted either), family
  // 2 empty (no report although it has no proband), family 3 reported.
  EXPECT_EQ(c.console, " No proband in the family  3\n");
  EXPECT_EQ(c.counts.observed, 2);
  EXPECT_EQ(c.counts.status0, 0);
}

TEST(MemberCountsTest, DecreasingOffsetMeansNoMembers) {
  FamilyStore store = StoreOf({{{2, 1.0f}}, {{2, 1.0f}}});
  store.member_offset[3] = 0;  // family 2's size is 0 - 1 = -1
  const Counted c = Count(SettingsFor(2, 1, {1, 1}), store);
  EXPECT_EQ(c.console, " No proband in the family  1\n");
  EXPECT_EQ(c.counts.observed, 1);
}

TEST(MemberCountsTest, ControlCountNotStoreCountDecidesTheFamilies) {
  const FamilyStore store = StoreOf({{{0, 1.0f}}, {{0, 2.0f}}, {{2, 3.0f}}});
  // Fewer families in the control file than in the store: family 3 is not
  // walked.
  const Counted fewer = Count(SettingsFor(2, 1, {1, 1, 1}), store);
  EXPECT_EQ(fewer.console, "");
  EXPECT_EQ(fewer.counts.observed, 2);
  EXPECT_EQ(fewer.counts.status0, 2);
  // More families in the control file than listed: the extra ones have no
  // members and produce nothing.
  const Counted more = Count(SettingsFor(6, 1, {1, 1, 1, 1, 1, 1}), store);
  EXPECT_EQ(more.console, " No proband in the family  3\n");
  EXPECT_EQ(more.counts.observed, 3);
  EXPECT_EQ(more.counts.status0, 2);
}

TEST(MemberCountsTest, StoredFamilyCountPlaysNoPart) {
  FamilyStore store = StoreOf({{{0, 1.0f}}, {{2, 2.0f}}});
  store.member_offset[0] = 0;  // no family would enter the likelihood
  const Counted c = Count(SettingsFor(2, 1, {1, 1}), store);
  EXPECT_EQ(c.console, " No proband in the family  2\n");
  EXPECT_EQ(c.counts.observed, 2);
  EXPECT_EQ(c.counts.status0, 1);
}

TEST(MemberCountsTest, FamilyNumbersFillThreeColumns) {
  std::vector<std::vector<Member>> families(N_FAM, {{1, 1.0f}});
  families[0] = {{2, 1.0f}};
  families[9] = {{2, 1.0f}};
  families[99] = {{2, 1.0f}};
  families[N_FAM - 1] = {{2, 1.0f}};
  const FamilyStore store = StoreOf(families);
  ControlSettings settings = SettingsFor(N_FAM, 1, std::vector<int>(N_FAM, 1));
  const Counted c = Count(settings, store);
  EXPECT_EQ(c.console,
            " No proband in the family  1\n"
            " No proband in the family 10\n"
            " No proband in the family100\n"
            " No proband in the family604\n");
  EXPECT_EQ(c.counts.observed, N_FAM);
}

TEST(MemberCountsTest, StatusCodesOtherThanTwoAreProbands) {
  const FamilyStore store = StoreOf({{{3, 1.0f}, {2, 1.0f}},
                                     {{-1, 1.0f}},
                                     {{1, 1.0f}, {0, 1.0f}, {0, -999.0f}}});
  const Counted c = Count(SettingsFor(3, 1, {1, 1, 1}), store);
  EXPECT_EQ(c.console, "");
  EXPECT_EQ(c.counts.observed, 5);
  EXPECT_EQ(c.counts.status0, 2) << "status 0 counts whatever the trait";
}

}  // namespace
}  // namespace segmix::testing
