// Splitting pedigree tables into fields and reading each row's values:
// separators, quotes, comments, line ends, missing values, and one row per
// value that a row may not hold.
#include "prep/pedigree_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "support/companion_test_support.h"

namespace segmix::prep {
namespace {

using testing::ParseTable;
using testing::RefusalOf;

TextTable Split(const std::string& text) {
  std::istringstream in(text);
  return ReadTextTable(in, "t.txt");
}

std::vector<std::string> Fields(const std::string& header,
                                const std::string& row) {
  const TextTable table = Split(header + "\n" + row + "\n");
  EXPECT_EQ(table.rows.size(), 1u);
  return table.rows.empty() ? std::vector<std::string>{} : table.rows[0].fields;
}

using V = std::vector<std::string>;

TEST(ReadTextTable, BlanksAndTabsSeparate) {
  EXPECT_EQ(Fields("a b c", "1 \t 2\t3"), (V{"1", "2", "3"}));
  EXPECT_EQ(Fields("a\tb\tc", "  x  y  z  "), (V{"x", "y", "z"}));
}

TEST(ReadTextTable, CommasSeparateAndAllowEmptyFields) {
  EXPECT_EQ(Fields("a,b,c", "1,,3"), (V{"1", "", "3"}));
  EXPECT_EQ(Fields("a,b,c", ",,"), (V{"", "", ""}));
  EXPECT_EQ(Fields("a, b ,c", " 1 , 2 ,3 "), (V{"1", "2", "3"}));
  // A comma at the end leaves one more, empty, field.
  EXPECT_EQ(Fields("a,b", "x,"), (V{"x", ""}));
}

TEST(ReadTextTable, QuotesKeepSeparatorsAndDoubledQuotes) {
  EXPECT_EQ(Fields("a,b", "\"x, y\",\"say \"\"hi\"\"\""),
            (V{"x, y", "say \"hi\""}));
  EXPECT_EQ(Fields("a b", "\"two words\" \"\""), (V{"two words", ""}));
  // A quote inside an unquoted field is an ordinary character.
  EXPECT_EQ(Fields("a b", "o\"k x"), (V{"o\"k", "x"}));
}

TEST(ReadTextTable, HeaderDecidesTheSeparator) {
  // A comma inside quotes in a blank-separated header does not count.
  EXPECT_EQ(Fields("\"a,b\" c", "x,y z"), (V{"x,y", "z"}));
}

TEST(ReadTextTable, CommentsBlankLinesCrLfAndByteOrderMark) {
  const TextTable table =
      Split("\xEF\xBB\xBF# a comment\r\n\r\n  \t\nA B\r\n# another\r\n1 2\r\n");
  EXPECT_EQ(table.header_line, 4);
  EXPECT_EQ(table.header, (V{"A", "B"}));
  ASSERT_EQ(table.rows.size(), 1u);
  EXPECT_EQ(table.rows[0].line, 6);
  EXPECT_EQ(table.rows[0].fields, (V{"1", "2"}));
}

TEST(ReadTextTable, EmptySourceHasNoHeader) {
  EXPECT_EQ(Split("").header_line, 0);
  EXPECT_EQ(Split("# only a comment\n\n").header_line, 0);
}

TEST(ReadTextTable, RefusesBadLinesNamingEachOne) {
  const std::string text =
      RefusalOf([] { Split("a b\n\"open 1\n1 2 3\nx\"y\" z\n\"q\"r s\n"); });
  EXPECT_NE(text.find("t.txt, line 2: the quote opened at column 1 is not"
                      " closed"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("t.txt, line 3: the row has 3 fields but the header"
                      " (line 1) names 2 columns. In a table separated by"
                      " blanks every field needs a value"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("t.txt, line 5: text follows the closing quote at"
                      " column 4; put the whole value between the quotes."),
            std::string::npos)
      << text;
  // Line 4 is two fields, x"y" and z: a quote that does not open a field is
  // an ordinary character.
  EXPECT_EQ(text.find("line 4"), std::string::npos) << text;
}

constexpr const char* kHeader = "family id father mother sex status trait\n";

TEST(ReadPedigreeTable, ReadsEveryColumnInAnyOrderAndCase) {
  const PedigreeTable table = ParseTable(
      "Trait STATUS Sex extra Mother FATHER Id Family\n"
      "1.5 2 1 zz 0 0 a F\n"
      "NA 1 2 zz 0 0 b F\n"
      ". 0 1 zz a b c F\n");
  ASSERT_EQ(table.rows.size(), 3u);
  const PersonRow& a = table.rows[0];
  EXPECT_EQ(a.family, "F");
  EXPECT_EQ(a.id, "a");
  EXPECT_EQ(a.father, "");
  EXPECT_EQ(a.mother, "");
  EXPECT_EQ(a.sex, 1);
  EXPECT_EQ(a.status, 2);
  EXPECT_TRUE(a.trait_observed);
  EXPECT_EQ(a.trait, 1.5f);
  EXPECT_EQ(a.line, 2);
  EXPECT_FALSE(table.rows[1].trait_observed);
  EXPECT_EQ(table.rows[1].status, 1);
  const PersonRow& c = table.rows[2];
  EXPECT_EQ(c.father, "b");
  EXPECT_EQ(c.mother, "a");
  EXPECT_FALSE(c.trait_observed);
  EXPECT_EQ(c.status, 0);
}

TEST(ReadPedigreeTable, MissingTraitSpellings) {
  for (const char* missing : {"NA", "na", "Na", ".", "\"\""}) {
    const PedigreeTable table =
        ParseTable(std::string(kHeader) + "F 1 0 0 1 2 " + missing + "\n");
    EXPECT_FALSE(table.rows[0].trait_observed) << missing;
  }
  const PedigreeTable csv =
      ParseTable("family,id,father,mother,sex,status,trait\nF,1,,,1,2,\n");
  EXPECT_FALSE(csv.rows[0].trait_observed);
  EXPECT_EQ(csv.rows[0].father, "");
}

TEST(ReadPedigreeTable, TraitTextsReadAsTheNearestFloat) {
  struct Case {
    const char* text;
    float value;
  } cases[] = {{"12.5", 12.5f},  {"+3", 3.0f},  {"-997.99", -997.99f},
               {"1e3", 1000.0f}, {"0.1", 0.1f}, {"3.4028234e38", 3.4028234e38f},
               {"-0", -0.0f}};
  for (const Case& c : cases) {
    const PedigreeTable table =
        ParseTable(std::string(kHeader) + "F 1 0 0 1 2 " + c.text + "\n");
    EXPECT_TRUE(table.rows[0].trait_observed) << c.text;
    EXPECT_EQ(table.rows[0].trait, c.value) << c.text;
  }
}

TEST(ReadPedigreeTable, CovariatesByNameInTheOrderAsked) {
  const PedigreeTable table = ParseTable(
      std::string("family id father mother sex status trait Age bmi\n") +
          "F 1 0 0 1 2 1 40 22.5\n"
          "F 2 0 0 2 2 NA NA .\n",
      {"BMI", "age"});
  EXPECT_EQ(table.rows[0].covariates, (std::vector<float>{22.5f, 40.0f}));
  // Missing covariates of a person whose trait is missing are stored as 0.
  EXPECT_EQ(table.rows[1].covariates, (std::vector<float>{0.0f, 0.0f}));
}

// One row per value a row may not hold: the row, and the message expected.
struct BadRow {
  const char* row;
  const char* message;
};

class RefusedRow : public ::testing::TestWithParam<BadRow> {};

TEST_P(RefusedRow, NamesLineFamilyPersonAndTheRemedy) {
  const std::string text = RefusalOf([] {
    ParseTable(std::string("family id father mother sex status trait x\n") +
                   "F 1 0 0 1 2 1 0\n" + GetParam().row + "\n",
               {"x"});
  });
  EXPECT_NE(text.find(GetParam().message), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RefusedRow,
    ::testing::Values(
        BadRow{"F 2 0 0 M 2 1 0",
               "ped.txt, line 3, family F, person 2: sex is M; write 1 or 2"},
        BadRow{"F 2 0 0 3 2 1 0", "person 2: sex is 3; write 1 or 2"},
        BadRow{"F 2 0 0 1.0 2 1 0", "person 2: sex is 1.0; write 1 or 2"},
        BadRow{"F 2 0 0 1 3 1 0",
               "ped.txt, line 3, family F, person 2: status is 3; write 0"
               " or 1 for a proband"},
        BadRow{"F 2 0 0 1 -1 1 0", "person 2: status is -1;"},
        BadRow{"F 2 0 0 1 2 abc 0",
               "ped.txt, line 3, family F, person 2: trait abc is not a"
               " number; write a number, or NA, . or nothing"},
        BadRow{"F 2 0 0 1 2 1.5.2 0", "trait 1.5.2 is not a number"},
        BadRow{"F 2 0 0 1 2 nan 0", "trait nan is not a finite number"},
        BadRow{"F 2 0 0 1 2 inf 0", "trait inf is not a finite number"},
        BadRow{"F 2 0 0 1 2 1e39 0", "trait 1e39 does not fit a 4-byte real"},
        BadRow{"F 2 0 0 1 2 -998 0",
               "ped.txt, line 3, family F, person 2: trait -998 is at or"
               " below -998, which segmix takes for a missing value"},
        BadRow{"F 2 0 0 1 2 -999 0", "trait -999 is at or below -998"},
        BadRow{"F 2 0 0 1 2 1 NA",
               "ped.txt, line 3, family F, person 2: covariate x is missing"
               " but the trait is observed"},
        BadRow{"F 2 0 0 1 2 1 y",
               "person 2: covariate x value y is not a number"},
        BadRow{"F 0 0 0 1 2 1 0",
               "ped.txt, line 3, family F: the id is 0; every person needs"
               " an id other than 0"},
        BadRow{"F \"\" 0 0 1 2 1 0", "line 3, family F: the id is \"\";"},
        BadRow{"\"\" 2 0 0 1 2 1 0",
               "ped.txt, line 3: the family field is empty"}));

TEST(ReadPedigreeTable, ReportsEveryBadRowTogether) {
  const std::string text = RefusalOf([] {
    ParseTable(std::string(kHeader) + "F 1 0 0 9 2 1\nF 2 0 0 1 9 1\n");
  });
  EXPECT_NE(text.find("line 2, family F, person 1: sex is 9"),
            std::string::npos);
  EXPECT_NE(text.find("line 3, family F, person 2: status is 9"),
            std::string::npos);
}

TEST(ReadPedigreeTable, HeaderProblems) {
  struct Case {
    std::string text;
    std::vector<std::string> covariates;
    const char* message;
  } cases[] = {
      {"",
       {},
       "ped.txt: the table is empty. Its first line that is neither"
       " blank nor a comment (#) must be a header"},
      {"family id father mother sex status\nF 1 0 0 1 2\n",
       {},
       "ped.txt, line 1: the header has no column \"trait\"; a pedigree"
       " table needs the columns family, id, father, mother, sex, status"
       " and trait"},
      {std::string(kHeader),
       {},
       "ped.txt, line 1: the table has a header"
       " but no rows"},
      {"family id father mother sex status trait Trait\nF 1 0 0 1 2 1 1\n",
       {},
       "the header names column \"trait\" 2 times (columns 7 and 8)"},
      {std::string(kHeader) + "F 1 0 0 1 2 1\n",
       {"age"},
       "the header has no column \"age\", named as a covariate by"
       " --covariates"},
  };
  for (const Case& c : cases) {
    const std::string text =
        RefusalOf([&] { ParseTable(c.text, c.covariates); });
    EXPECT_NE(text.find(c.message), std::string::npos) << text;
  }
}

TEST(ReadPedigreeTable, ExtraColumnsMayRepeatWhenUnused) {
  const PedigreeTable table = ParseTable(
      "family id father mother sex status trait note note\n"
      "F 1 0 0 1 2 1 a b\n");
  EXPECT_EQ(table.rows.size(), 1u);
}

TEST(ShownId, QuotesOnlyWhatNeedsIt) {
  EXPECT_EQ(ShownId("abc"), "abc");
  EXPECT_EQ(ShownId(""), "\"\"");
  EXPECT_EQ(ShownId("a b"), "\"a b\"");
  EXPECT_EQ(ShownId("a,b"), "\"a,b\"");
  EXPECT_EQ(ShownId("say \"x\""), "\"say \"\"x\"\"\"");
}

}  // namespace
}  // namespace segmix::prep
