// The relations between rows: every refusal of BuildPedigreeFamilies on a
// crafted table, with its message, and the families, parents and matings of
// tables it accepts.
#include "prep/pedigree_structure.h"

#include <gtest/gtest.h>

#include "data/family_store.h"
#include "support/companion_test_support.h"

namespace segmix::prep {
namespace {

using testing::ParseTable;
using testing::RefusalOf;

const std::string kHeader = "family id father mother sex status trait\n";

std::string Refusal(const std::string& rows) {
  return RefusalOf([&] { BuildPedigreeFamilies(ParseTable(kHeader + rows)); });
}

struct BadPedigree {
  const char* name;
  const char* rows;
  const char* message;
};

class RefusedPedigree : public ::testing::TestWithParam<BadPedigree> {};

TEST_P(RefusedPedigree, MessageNamesLineFamilyAndPerson) {
  const std::string text = Refusal(GetParam().rows);
  EXPECT_NE(text.find(GetParam().message), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Tables, RefusedPedigree,
    ::testing::Values(
        BadPedigree{"UnknownFather",
                    "F 1 0 0 1 2 1\nF 2 0 0 2 2 1\nF 3 9 2 1 2 1\n",
                    "ped.txt, line 4, family F, person 3: father 9 is not a"
                    " person of this family; add a row for 9 in family F"},
        BadPedigree{"UnknownMother", "F 1 0 0 1 2 1\nF 3 1 8 1 2 1\n",
                    "ped.txt, line 3, family F, person 3: mother 8 is not a"
                    " person of this family"},
        // A parent must be in the same family: the same id in another
        // family does not count.
        BadPedigree{"ParentInAnotherFamily",
                    "G 1 0 0 1 2 1\nF 2 0 0 2 2 1\nF 3 1 2 1 2 1\n",
                    "ped.txt, line 4, family F, person 3: father 1 is not a"
                    " person of this family"},
        BadPedigree{"OnlyFather", "F 1 0 0 1 2 1\nF 3 1 0 1 2 1\n",
                    "ped.txt, line 3, family F, person 3: only the father (1)"
                    " is given; give both parents or neither (0). For a"
                    " parent who is not in the table, add a row for them with"
                    " trait NA and name it as the mother of every child who"
                    " shares that parent."},
        BadPedigree{"OnlyMother", "F 2 0 0 2 2 1\nF 3 0 2 1 2 1\n",
                    "ped.txt, line 3, family F, person 3: only the mother (2)"
                    " is given"},
        BadPedigree{"DuplicateId",
                    "F 1 0 0 1 2 1\nF 2 0 0 2 2 1\nF 2 1 2 1 2 1\n",
                    "ped.txt, line 4, family F, person 2: the id 2 is used"
                    " again in this family (first on line 3); ids must be"
                    " unique within a family."},
        BadPedigree{"FatherOfSexTwo",
                    "F 1 0 0 2 2 1\nF 2 0 0 2 2 1\nF 3 1 2 1 2 1\n",
                    "ped.txt, line 2, family F, person 1: sex is 2, but this"
                    " person is the father of 3 (line 4); a father has sex 1"
                    " and a mother sex 2."},
        BadPedigree{"MotherOfSexOne",
                    "F 1 0 0 1 2 1\nF 2 0 0 1 2 1\nF 3 1 2 1 2 1\n",
                    "ped.txt, line 3, family F, person 2: sex is 1, but this"
                    " person is the mother of 3 (line 4)"},
        BadPedigree{"FatherOfUnknownSex",
                    "F 1 0 0 0 2 1\nF 2 0 0 2 2 1\nF 3 1 2 0 2 1\n",
                    "ped.txt, line 2, family F, person 1: sex is 0 (unknown),"
                    " but this person is the father of 3 (line 4)"},
        BadPedigree{"SamePersonBothParents", "F 1 0 0 1 2 1\nF 3 1 1 1 2 1\n",
                    "ped.txt, line 3, family F, person 3: father and mother"
                    " are the same person, 1; give two different parents."},
        BadPedigree{"OwnFather", "F 2 0 0 2 2 1\nF 1 1 2 1 2 1\n",
                    "ped.txt, line 3, family F, person 1: this person is"
                    " their own ancestor (1 -> father 1)."},
        BadPedigree{"OwnGrandfather",
                    "F M 0 0 2 2 1\nF A B M 1 2 1\nF B A M 1 2 1\n",
                    "ped.txt, line 3, family F, person A: this person is"
                    " their own ancestor (A -> father B -> father A)."},
        BadPedigree{"LongerAncestryCycle",
                    "F M 0 0 2 2 1\nF P 0 0 1 2 1\n"
                    "F A P C 1 2 1\nF B A M 1 2 1\nF C B M 2 2 1\n",
                    "person A: this person is their own ancestor (A -> mother"
                    " C -> father B -> father A)."},
        // Brother and sister with a child: an inbreeding loop.
        BadPedigree{"InbreedingLoop",
                    "F 1 0 0 1 2 1\nF 2 0 0 2 2 1\nF 3 1 2 1 2 1\n"
                    "F 4 1 2 2 2 1\nF 5 3 4 1 1 1\n",
                    "ped.txt, line 6, family F, person 5: the pedigree has a"
                    " loop: the parents of 5, father 3 and mother 4, are"
                    " already related through other members of the family."
                    " Peeling by nuclear families cannot handle a loop"},
        // First cousins with a child.
        BadPedigree{"CousinLoop",
                    "F 1 0 0 1 2 1\nF 2 0 0 2 2 1\nF 3 1 2 1 2 1\n"
                    "F 4 1 2 2 2 1\nF 5 0 0 2 2 1\nF 6 0 0 1 2 1\n"
                    "F 7 3 5 1 2 1\nF 8 6 4 2 2 1\nF 9 7 8 1 1 1\n",
                    "ped.txt, line 10, family F, person 9: the pedigree has a"
                    " loop: the parents of 9, father 7 and mother 8"},
        // Two brothers married to two sisters: a marriage loop.
        BadPedigree{"MarriageLoop",
                    "F 1 0 0 1 2 1\nF 2 0 0 2 2 1\nF 5 0 0 1 2 1\n"
                    "F 6 0 0 2 2 1\nF 3 1 2 1 2 1\nF 4 1 2 1 2 1\n"
                    "F 7 5 6 2 2 1\nF 8 5 6 2 2 1\nF 9 3 7 1 1 1\n"
                    "F 10 4 8 1 2 1\n",
                    "ped.txt, line 11, family F, person 10: the pedigree has"
                    " a loop: the parents of 10, father 4 and mother 8"},
        // A man with children by two sisters.
        BadPedigree{"TwoSistersOneMan",
                    "F 1 0 0 1 2 1\nF 2 0 0 2 2 1\nF 3 1 2 2 2 1\n"
                    "F 4 1 2 2 2 1\nF 5 0 0 1 2 1\nF 6 5 3 1 2 1\n"
                    "F 7 5 4 1 2 1\n",
                    "ped.txt, line 8, family F, person 7: the pedigree has a"
                    " loop: the parents of 7, father 5 and mother 4"}),
    [](const ::testing::TestParamInfo<BadPedigree>& info) {
      return std::string(info.param.name);
    });

TEST(BuildPedigreeFamilies, ReportsProblemsOfEveryFamily) {
  const std::string text =
      Refusal("F 1 0 0 1 2 1\nF 3 1 0 1 2 1\nG 1 0 0 1 2 1\nG 1 0 0 2 2 1\n");
  EXPECT_NE(text.find("line 3, family F, person 3: only the father"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("line 5, family G, person 1: the id 1 is used again"),
            std::string::npos)
      << text;
}

TEST(BuildPedigreeFamilies, NamesAWrongParentOnce) {
  const std::string text =
      Refusal("F 1 0 0 2 2 1\nF 2 0 0 2 2 1\nF 3 1 2 1 2 1\nF 4 1 2 1 2 1\n");
  const std::string needle = "person 1: sex is 2";
  const std::size_t first = text.find(needle);
  ASSERT_NE(first, std::string::npos) << text;
  EXPECT_EQ(text.find(needle, first + 1), std::string::npos) << text;
}

TEST(BuildPedigreeFamilies, CapacityOfFamiliesNamesNFam) {
  std::string rows;
  for (int g = 1; g <= N_FAM + 1; ++g) {
    rows += std::to_string(g) + " 1 0 0 1 2 1\n";
  }
  const std::string text = Refusal(rows);
  EXPECT_NE(text.find("ped.txt, line 606, family 605, person 1: this row"
                      " opens family number 605; the program holds at most"
                      " N_FAM = 604 families."),
            std::string::npos)
      << text;
  // 604 families are accepted.
  rows.resize(rows.rfind("605 1"));
  EXPECT_EQ(BuildPedigreeFamilies(ParseTable(kHeader + rows)).size(), 604u);
}

TEST(BuildPedigreeFamilies, CapacityOfPersonsNamesNSize) {
  std::string rows;
  for (int k = 1; k <= N_SIZE + 1; ++k) {
    rows += std::to_string(1 + (k - 1) / 50) + " " + std::to_string(k) +
            " 0 0 1 2 1\n";
  }
  const std::string text = Refusal(rows);
  EXPECT_NE(text.find("ped.txt, line 25002, family 501, person 25001: this row"
                      " is person number 25001; the program holds at most"
                      " N_SIZE = 25000 persons in all families together."),
            std::string::npos)
      << text;
  rows.resize(rows.rfind("501 25001"));
  EXPECT_NO_THROW(BuildPedigreeFamilies(ParseTable(kHeader + rows)));
}

TEST(BuildPedigreeFamilies, FamiliesInFirstAppearanceWithInterleavedRows) {
  const auto families = BuildPedigreeFamilies(ParseTable(
      kHeader +
      "B 1 0 0 1 2 1\nA x 0 0 1 2 1\nB 2 0 0 2 2 1\nB 3 1 2 2 2 1\n"));
  ASSERT_EQ(families.size(), 2u);
  EXPECT_EQ(families[0].id, "B");
  EXPECT_EQ(families[1].id, "A");
  ASSERT_EQ(families[0].persons.size(), 3u);
  EXPECT_EQ(families[0].persons[2].row, 3);
  EXPECT_EQ(families[0].persons[2].father, 0);
  EXPECT_EQ(families[0].persons[2].mother, 1);
  ASSERT_EQ(families[0].matings.size(), 1u);
  EXPECT_EQ(families[0].matings[0].children, (std::vector<int>{2}));
}

TEST(BuildPedigreeFamilies, HalfSibsAndMultipleMatesAreNoLoop) {
  // 1 has children with 2 and with 4; 3 and 5 are half-sibs; 5 marries in
  // with 6 and has 7.
  const auto families = BuildPedigreeFamilies(
      ParseTable(kHeader +
                 "F 1 0 0 1 2 1\nF 2 0 0 2 2 1\nF 3 1 2 1 2 1\nF 4 0 0 2 2 1\n"
                 "F 5 1 4 2 2 1\nF 6 0 0 1 2 1\nF 7 6 5 1 1 1\n"));
  ASSERT_EQ(families[0].matings.size(), 3u);
  EXPECT_EQ(families[0].persons[0].matings, (std::vector<int>{0, 1}));
  EXPECT_EQ(families[0].persons[4].child_of, 1);
  EXPECT_EQ(families[0].persons[4].matings, (std::vector<int>{2}));
}

}  // namespace
}  // namespace segmix::prep
