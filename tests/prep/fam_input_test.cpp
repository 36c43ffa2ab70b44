// Pedigrees in the .fam layout with phenotype files joined by ids, other
// missing-value codes and proband codings: each must give exactly the files
// of the equivalent header table, and every refusal names file, line and
// value.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/command_line.h"
#include "prep/prepared_data.h"
#include "support/companion_test_support.h"

namespace segmix::prep {
namespace {

using testing::ReadFile;
using testing::RunPrep;
using testing::ScratchDir;
using testing::WriteFile;

// The header table: F1 4 has unknown sex (not a parent) and no phenotypes.
const char kTable[] =
    "family id father mother sex status trait age\n"
    "F1 1 0 0 1 2 10.5 40\n"
    "F1 2 0 0 2 2 NA NA\n"
    "F1 3 1 2 1 1 12.25 15\n"
    "F1 4 1 2 0 2 NA NA\n"
    "F2 7 0 0 1 2 9 50\n"
    "F2 8 0 0 2 2 11 48\n"
    "F2 9 7 8 2 1 13.5 20\n";

// The same in .fam layout (a comment line keeps the line numbers of the
// map file equal), with -9 for missing, and the phenotypes beside it in
// 0/1 proband coding, in another order, and one person who is not in the
// pedigree.
const char kFam[] =
    "# family id father mother sex trait\n"
    "F1 1 0 0 1 10.5\n"
    "F1 2 0 0 2 -9\n"
    "F1 3 1 2 1 12.25\n"
    "F1 4 1 2 0 -9.0\n"
    "F2 7 0 0 1 9\n"
    "F2 8 0 0 2 11\n"
    "F2 9 7 8 2 13.5\n";
const char kPheno[] =
    "FID IID status age\n"
    "F2 9 1 20\n"
    "F1 1 0 40\n"
    "F1 2 0 -9\n"
    "F1 3 1 15\n"
    "F2 7 0 50\n"
    "X 5 1 1\n"
    "F2 8 0 48\n";

TEST(FamInput, GivesTheFilesOfTheEquivalentHeaderTable) {
  ScratchDir dir;
  std::filesystem::create_directories(dir / "a");
  std::filesystem::create_directories(dir / "b");
  std::filesystem::create_directories(dir / "c");
  WriteFile(dir / "a" / "ped.txt", kTable);
  WriteFile(dir / "b" / "ped.txt", kFam);
  WriteFile(dir / "b" / "pheno.txt", kPheno);
  // The status column renamed, probands marked by value.
  std::string by_value = kTable;
  by_value.replace(by_value.find("status"), 6, "affected");
  WriteFile(dir / "c" / "ped.txt", by_value);

  const auto table =
      RunPrep({"--covariates", "age", (dir / "a" / "ped.txt").string(),
               (dir / "a" / "out").string()});
  ASSERT_EQ(table.status, cli::kExitDone) << table.err;
  const auto fam =
      RunPrep({"--fam", (dir / "b" / "ped.txt").string(), "--columns", "trait",
               "--pheno", (dir / "b" / "pheno.txt").string(), "--missing", "-9",
               "--proband-coding", "01", "--covariates", "age",
               (dir / "b" / "out").string()});
  ASSERT_EQ(fam.status, cli::kExitDone) << fam.err;
  const auto value =
      RunPrep({"--proband", "affected=1", "--covariates", "age",
               (dir / "c" / "ped.txt").string(), (dir / "c" / "out").string()});
  ASSERT_EQ(value.status, cli::kExitDone) << value.err;
  for (const char* name :
       {"iway.dat", "trait.dat", "age.dat", "par.inp", "idmap.dat"}) {
    const std::string expected = ReadFile(dir / "a" / "out" / name);
    EXPECT_FALSE(expected.empty()) << name;
    EXPECT_EQ(ReadFile(dir / "b" / "out" / name), expected) << name;
    EXPECT_EQ(ReadFile(dir / "c" / "out" / name), expected) << name;
  }
  EXPECT_NE(fam.out.find("missing values: trait 2, age 2, status 1."),
            std::string::npos)
      << fam.out;
  EXPECT_NE(fam.out.find("warning: " + (dir / "b" / "pheno.txt").string() +
                         ": 1 person is not in the pedigree and left out:"
                         " X/5 (line 7)."),
            std::string::npos)
      << fam.out;
}

TEST(FamInput, SummaryCountsWhatCatchesMistakes) {
  // F3's only observed member is its proband; F4 has no proband.
  const auto run = RunPrep({"--check", "-"}, std::string(kTable) +
                                                 "F3 1 0 0 1 1 8 1\n"
                                                 "F3 2 0 0 2 2 NA 1\n"
                                                 "F4 1 0 0 1 2 -9 1\n");
  ASSERT_EQ(run.status, cli::kExitDone) << run.err;
  for (const char* line : {
           "  founders: 7; sex unknown (0): 1 (keep Sex out of the model).\n",
           "  missing values: trait 3.\n",
           "  probands per family: min 0, median 1, max 1; 1 families without"
           " a proband.\n",
           "  families corrected for ascertainment (an observed proband,"
           " proband switch 1): 3 of 4.\n",
           "  warning: family F3: every observed member is a proband",
           "  warning: the trait is -9 for 1 persons; if that means missing,"
           " give --missing -9.\n",
       }) {
    EXPECT_NE(run.out.find(line), std::string::npos) << line << run.out;
  }
}

TEST(FamInput, RefusalsNameFileLineAndValue) {
  struct Case {
    const char* fam;
    const char* pheno;  // "" for none
    std::vector<std::string> options;
    const char* message;
  } cases[] = {
      {"F 1 0 0 1 5 extra\n",
       "",
       {"--columns", "trait"},
       "ped.fam, line 1: the row has 7 fields, but --fam with --columns trait"
       " reads 6 (family id father mother sex trait)."},
      {"F 1 0 0 1 5\n",
       "",
       {"--columns", "trait"},
       "no column \"status\": name it after the sex column with --columns"},
      {"F 1 0 0 1 5\n",
       "FID IID\nF 1\n",
       {"--columns", "trait"},
       "pheno.txt, line 1: a phenotype file needs a header whose first two"
       " columns are the family and person ids"},
      {"F 1 0 0 1 5\n",
       "FID IID trait\nF 1 3\n",
       {"--columns", "trait"},
       "pheno.txt, line 1: the column \"trait\" is also in the pedigree"},
      {"F 1 0 0 1 5\n",
       "FID IID status\nF 1 1\nF 1 2\n",
       {"--columns", "trait"},
       "pheno.txt, line 3, family F, person 1: the person has a row already"
       " (line 2)"},
      {"F 1 0 0 1 5\n",
       "FID IID status\nF 1 2\n",
       {"--columns", "trait", "--proband-coding", "01"},
       "pheno.txt, line 2, family F, person 1: status is 2; with"
       " --proband-coding 01 write 1 for a proband and 0 for everyone else."},
      {"F 1 0 0 1 5\n",
       "FID IID status\nF 1 -9\n",
       {"--columns", "trait"},
       "status is -9; write 0 or 1 for a proband (0 also forces the"
       " ascertainment correction of the family) and 2 for everyone else, or"
       " read a 0/1 coding with --proband-coding 01."},
      {"F 1 0 0 1 x 1\n",
       "",
       {"--columns", "trait,status"},
       "ped.fam, line 1, family F, person 1: trait x is not a number"},
      {"F 1 0 0 1 5 1 -9\n",
       "",
       {"--columns", "trait,status,age", "--missing", "-9", "--covariates",
        "age"},
       "ped.fam, line 1, family F, person 1: covariate age is missing but the"
       " trait is observed"},
      {"F 1 0 0 1 5 2\nF 2 1 9 0 5 2\n",
       "",
       {"--columns", "trait,status"},
       "ped.fam, line 2, family F, person 2: mother 9 is not a person"},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    WriteFile(dir / "ped.fam", c.fam);
    std::vector<std::string> args = {"--check", "--fam",
                                     (dir / "ped.fam").string()};
    if (*c.pheno != '\0') {
      WriteFile(dir / "pheno.txt", c.pheno);
      args.push_back("--pheno");
      args.push_back((dir / "pheno.txt").string());
    }
    args.insert(args.end(), c.options.begin(), c.options.end());
    const auto run = RunPrep(args);
    EXPECT_EQ(run.status, cli::kExitInputRefused) << c.message;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
}

// The ids of a phenotype file are found by place, so their names must be
// FID IID (or family id); --pheno takes one file, so the output directory
// may follow it, as the manual writes the command.
TEST(FamInput, PhenotypeIdsByNameAndReadersWithLimits) {
  struct Case {
    const char* pheno_header;  // "" to name `pheno` below as it is
    std::string pheno;         // the --pheno argument when not written here
    int status;
    const char* message;
  } cases[] = {
      {"FID IID status", "", cli::kExitDone, ""},
      {"fid iid status", "", cli::kExitDone, ""},
      {"Family ID status", "", cli::kExitDone, ""},
      {"IID FID status", "", cli::kExitInputRefused,
       "pheno.txt, line 1: the header is \"IID FID status\", but the first"
       " two columns of a phenotype file must be the family and then the"
       " person id"},
      {"FID ID status", "", cli::kExitInputRefused, "the header is \"FID ID"},
      {"", "/dev/zero", cli::kExitInputUnreadable,
       "/dev/zero is a device or socket, not the --pheno file"},
      {"", ".", cli::kExitInputUnreadable,
       ". is a directory, not the --pheno file"},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    WriteFile(dir / "ped.fam", "F 1 0 0 1 5\n");
    std::string pheno = c.pheno;
    if (*c.pheno_header != '\0') {
      WriteFile(dir / "pheno.txt", std::string(c.pheno_header) + "\nF 1 1\n");
      pheno = (dir / "pheno.txt").string();
    }
    const auto run =
        RunPrep({"--fam", (dir / "ped.fam").string(), "--columns", "trait",
                 "--pheno", pheno, (dir / "out").string()});
    EXPECT_EQ(run.status, c.status) << c.pheno_header << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(std::filesystem::exists(dir / "out" / "iway.dat"),
              c.status == cli::kExitDone);
  }
  // The pedigree's own readers refuse the same.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--check", "--fam", "/dev/zero"},
        std::vector<std::string>{"--check", "."}}) {
    const auto run = RunPrep(args);
    EXPECT_EQ(run.status, cli::kExitInputUnreadable) << run.err;
  }
}

TEST(CovariateFileNames, NamedAfterTheColumnUnlessThatCannotBeAFileName) {
  struct Case {
    std::vector<std::string> columns;
    const char* trait_file;
    std::vector<std::string> expected;
  } cases[] = {
      {{"age", "Bmi"}, "trait.dat", {"age.dat", "Bmi.dat"}},
      {{"cov2", "cov1"}, "trait.dat", {"cov2.dat", "cov1.dat"}},
      {{"sigma", "max", "PAR"},
       "trait.dat",
       {"cov1.dat", "cov2.dat", "PAR.dat"}},
      {{"trait"}, "trait.dat", {"cov1.dat"}},
      {{"IWAY", "idmap"}, "y.dat", {"cov1.dat", "cov2.dat"}},
      {{"a_long_name_xyz", "a b"}, "y.dat", {"cov1.dat", "cov2.dat"}},
      {{"cov2", "x"}, "trait.dat", {"cov2.dat", "x.dat"}},
      {{"x", "cov1"}, "trait.dat", {"x.dat", "cov1.dat"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CovariateFileNames(c.columns, c.trait_file), c.expected)
        << c.columns.front();
  }
}

}  // namespace
}  // namespace segmix::prep
