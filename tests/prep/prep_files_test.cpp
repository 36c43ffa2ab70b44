// segmix-prep's files, byte for byte, for tables whose iway.dat, trait file,
// par.inp and map file were derived by hand; and the command's behaviour:
// exit statuses, nothing written for a refused table, no silent overwrite.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli/command_line.h"
#include "data/capacities.h"
#include "prep/peeling_plan.h"
#include "prep/prepared_data.h"
#include "support/companion_test_support.h"

namespace segmix::prep {
namespace {

using testing::ParseTable;
using testing::ReadFile;
using testing::RunPrep;
using testing::ScratchDir;
using testing::WriteFile;

// A trio given as a comma-separated table with empty parent and trait
// fields. Member positions follow the table: dad 1, mom 2, kid 3; one
// terminal nuclear family (connector 0) listing 1 2 3.
const char* const kTrio =
    "family,id,father,mother,sex,status,trait\n"
    "T,dad,,,1,2,1\n"
    "T,mom,,,2,2,\n"
    "T,kid,dad,mom,2,1,3\n";

// Three generations: founders 1 and 2 with daughter 6 and son 3 (in that
// table order), 3 married to 4 with child 5 (the proband), and 7, a founder
// without children in the table. Positions in table order for the listed
// persons 1 2 6 3 4 5 -> 1..6, then 7 -> 7 outside every nuclear family.
// Matings in the order of their first child: (1,2) with children 6, 3 and
// (3,4) with child 5.
const char* const kThreeGenerations =
    "family id father mother sex status trait\n"
    "F 1 0 0 1 2 10.5\n"
    "F 2 0 0 2 2 NA\n"
    "F 6 1 2 2 2 10\n"
    "F 3 1 2 1 2 11.25\n"
    "F 4 0 0 2 2 9.5\n"
    "F 5 3 4 2 1 12\n"
    "F 7 0 0 1 2 8\n";

std::string Dir(const ScratchDir& dir) { return dir.Path().string(); }

TEST(PrepFiles, TrioIwayByHand) {
  ScratchDir dir;
  const auto result = RunPrep({"-", Dir(dir) + "/out"}, kTrio);
  ASSERT_EQ(result.status, cli::kExitDone) << result.err;
  // Record 1: n = 1, stored count 1, member offsets 0 3. Record 2: index 0
  // (the family count), offsets 0 1. Record 3: M = 3, index 0 (the nuclear
  // count), list offsets 0 3. Record 4: L = 3 and the list. Record 5: one
  // terminal connector. Record 6: S = 3 and the sex codes. Record 7: status.
  EXPECT_EQ(ReadFile(dir / "out/iway.dat"),
            " 1 1 0 3\n"
            " 1 0 1\n"
            " 3 1 0 3\n"
            " 3 1 2 3\n"
            " 0\n"
            " 3 1 2 2\n"
            " 2 2 1\n");
  EXPECT_EQ(ReadFile(dir / "out/trait.dat"), " 1. -999. 3.\n");
}

TEST(PrepFiles, TrioParInpTemplateByHand) {
  ScratchDir dir;
  ASSERT_EQ(RunPrep({"-", Dir(dir)}, kTrio).status, cli::kExitDone);
  // Observed traits 1 and 3: mean m = 2, variance 2, s = sqrt 2 =
  // 1.41421..., range 1..3 widened on each side by 2 s = 2.8284 (more than
  // its width 2) to -1.8284..5.8284 -> -1.83..5.83.
  // MU = m + 1.5 s = 4.1213 -> 4.12; A = m + 0.5 s = 2.7071 -> 2.71;
  // D = m - 0.5 s = 1.2929 -> 1.29; their step 0.2 s = 0.28284 -> 0.283.
  // pga 0.2 s -> 0.283, step 0.05 s -> 0.0707, 0..2 s -> 2.83.
  // SIG s^2 / 2 = 1, step 0.1 s^2 = 0.2, 0..4 s^2 = 8.
  // Sex 0, step 0.1 s -> 0.141, -2 s..2 s -> -2.83..2.83.
  EXPECT_EQ(
      ReadFile(dir / "par.inp"),
      " 1 1 trait.dat 0    ! families  proband switch  trait file  covariates\n"
      "1\n"
      "  1  1 1 0.20000E+00 0.50000E-01 0.00000E+00 0.10000E+01   Q\n"
      "  2  1 1 0.41200E+01 0.28300E+00-0.18300E+01 0.58300E+01   MU\n"
      "  3  1 1 0.27100E+01 0.28300E+00-0.18300E+01 0.58300E+01   A\n"
      "  4  1 1 0.12900E+01 0.28300E+00-0.18300E+01 0.58300E+01   D\n"
      "  5  0 0 0.28300E+00 0.70700E-01 0.00000E+00 0.28300E+01   pga (out of"
      " the model)\n"
      "  6  1 1 0.10000E+01 0.20000E+00 0.00000E+00 0.80000E+01   SIG\n"
      "  7  0 0 0.00000E+00 0.14100E+00-0.28300E+01 0.28300E+01   Sex (out of"
      " the model)\n"
      "  8  0 0 0.10000E+01 0.50000E-01 0.00000E+00 0.10000E+01   Tr1 (out of"
      " the model)\n"
      "  9  0 0 0.50000E+00 0.50000E-01 0.00000E+00 0.10000E+01   Tr2 (out of"
      " the model)\n"
      " 10  0 0 0.00000E+00 0.50000E-01 0.00000E+00 0.10000E+01   Tr3 (out of"
      " the model)\n"
      " 11  0 0 0.00000E+00 0.00000E+00 0.00000E+00 0.00000E+00   B1 (out of"
      " the model)\n"
      " 12  0 0 0.00000E+00 0.00000E+00 0.00000E+00 0.00000E+00   B2 (out of"
      " the model)\n"
      " 13  0 0 0.00000E+00 0.00000E+00 0.00000E+00 0.00000E+00   B3 (out of"
      " the model)\n"
      " 14  0 0 0.00000E+00 0.00000E+00 0.00000E+00 0.00000E+00   B4 (out of"
      " the model)\n"
      " 15  0 0 0.00000E+00 0.00000E+00 0.00000E+00 0.00000E+00   B5 (out of"
      " the model)\n");
}

TEST(PrepFiles, ThreeGenerationsPeeledUpwardsByHand) {
  ScratchDir dir;
  ASSERT_EQ(RunPrep({"-", Dir(dir)}, kThreeGenerations).status, cli::kExitDone);
  // Terminal: the first mating (1,2). (3,4) is peeled onto its parent 3
  // (position 4) first: entries 4 5 6, connector 4. Then (1,2): entries
  // 1 2 3 4 (children 6 and 3 in table order), connector 0.
  EXPECT_EQ(ReadFile(dir / "iway.dat"),
            " 1 1 0 7\n"
            " 1 0 2\n"
            " 4 2 0 3 7\n"
            " 7 4 5 6 1 2 3 4\n"
            " 4 0\n"
            " 7 1 2 2 1 2 2 1\n"
            " 2 2 2 2 2 1 2\n");
  EXPECT_EQ(ReadFile(dir / "trait.dat"), " 10.5 -999. 10. 11.25 9.5 12. 8.\n");
  EXPECT_EQ(ReadFile(dir / "idmap.dat"),
            "# segmix-prep: family index and member position in iway.dat (and"
            " LH_fam.dat) -> ids of standard input\n"
            "family_index position store_index family id line\n"
            "1 1 1 F 1 2\n"
            "1 2 2 F 2 3\n"
            "1 3 3 F 6 4\n"
            "1 4 4 F 3 5\n"
            "1 5 5 F 4 6\n"
            "1 6 6 F 5 7\n"
            "1 7 7 F 7 8\n");
}

TEST(PrepFiles, ThreeGenerationsPeeledDownwardsThroughAChild) {
  PrepOptions options;
  options.peel.terminal = -1;
  const PreparedData data = PrepareData(ParseTable(kThreeGenerations), options);
  // Terminal: the last mating (3,4). (1,2) is peeled onto its child 3
  // (position 4), who moves to the front of the children: entries 1 2 4 3,
  // connector 4. Then (3,4): entries 4 5 6, connector 0.
  const FamilyStore& s = data.store;
  EXPECT_EQ(s.list_offset, (std::vector<std::int32_t>{2, 0, 4, 7}));
  EXPECT_EQ(s.member_list, (std::vector<std::int32_t>{0, 1, 2, 4, 3, 4, 5, 6}));
  EXPECT_EQ(s.connector, (std::vector<std::int32_t>{0, 4, 0}));
}

TEST(PrepFiles, MotherFirstSwapsTheParents) {
  PrepOptions options;
  options.peel.mother_first = true;
  const PreparedData data = PrepareData(ParseTable(kThreeGenerations), options);
  EXPECT_EQ(data.store.member_list,
            (std::vector<std::int32_t>{0, 5, 4, 6, 2, 1, 3, 4}));
  EXPECT_EQ(data.store.connector, (std::vector<std::int32_t>{0, 4, 0}));
}

TEST(PrepFiles, TwoNuclearFamiliesAsInTheDataFileExample) {
  // Two families: 1 2 parents of 3 4 (3 a status-0 proband), and 5 6
  // parents of 7 (a status-1 proband), each one terminal nuclear family.
  ScratchDir dir;
  const auto result = RunPrep({"-", Dir(dir)},
                              "family id father mother sex status trait\n"
                              "1 1 0 0 1 2 12.5\n"
                              "1 2 0 0 2 2 13.1\n"
                              "1 3 1 2 1 0 14.0\n"
                              "1 4 1 2 2 2 NA\n"
                              "2 5 0 0 1 2 11.0\n"
                              "2 6 0 0 2 2 NA\n"
                              "2 7 5 6 1 1 10.4\n");
  ASSERT_EQ(result.status, cli::kExitDone) << result.err;
  EXPECT_EQ(ReadFile(dir / "iway.dat"),
            " 2 2 0 4 7\n"
            " 2 0 1 2\n"
            " 4 2 0 4 7\n"
            " 7 1 2 3 4 1 2 3\n"
            " 0 0\n"
            " 7 1 2 1 2 1 2 1\n"
            " 2 2 0 2 2 2 1\n");
  // One line per family.
  EXPECT_EQ(ReadFile(dir / "trait.dat"),
            " 12.5 13.1 14. -999.\n 11. -999. 10.4\n");
}

TEST(PrepFiles, TwoConnectedPartsInOneFamilyEachGetATerminal) {
  // Family F holds two unrelated trios and a single person.
  const PreparedData data =
      PrepareData(ParseTable("family id father mother sex status trait\n"
                             "F a 0 0 1 2 1\nF b 0 0 2 2 1\nF c a b 1 1 1\n"
                             "F s 0 0 1 2 1\n"
                             "F d 0 0 1 2 1\nF e 0 0 2 2 1\nF f d e 2 2 1\n"),
                  {});
  const FamilyStore& s = data.store;
  // Positions: a b c d e f (listed) 1..6, then s 7.
  EXPECT_EQ(s.member_list, (std::vector<std::int32_t>{0, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(s.connector, (std::vector<std::int32_t>{0, 0, 0}));
  EXPECT_EQ(data.outside_count, 1);
  EXPECT_EQ(data.map.back().id, "s");
  EXPECT_EQ(data.map.back().position, 7);
}

TEST(PrepFiles, CovariateFilesAndTheirParameters) {
  ScratchDir dir;
  const auto result = RunPrep(
      {"--covariates", "age,Bmi", "--trait-file", "y.dat", "-", Dir(dir)},
      "family id father mother sex status trait age bmi\n"
      "F 1 0 0 1 2 1 30 20\n"
      "F 2 0 0 2 2 NA NA NA\n"
      "F 3 1 2 1 1 3 50 24.5\n");
  ASSERT_EQ(result.status, cli::kExitDone) << result.err;
  EXPECT_EQ(ReadFile(dir / "age.dat"), " 30. 0. 50.\n");
  EXPECT_EQ(ReadFile(dir / "Bmi.dat"), " 20. 0. 24.5\n");
  EXPECT_EQ(ReadFile(dir / "y.dat"), " 1. -999. 3.\n");
  const std::string par = ReadFile(dir / "par.inp");
  EXPECT_TRUE(par.starts_with(" 1 1 y.dat 2 ")) << par;
  // s = sqrt 2; sd(age) over the observed = sqrt 200, so the B1 scale is
  // 0.1: step 0.01, bounds -1..1. sd(bmi) = sqrt 10.125 = 3.182, scale
  // 0.44444: step 0.0444, bounds -4.44..4.44.
  EXPECT_NE(par.find(" 11  1 1 0.00000E+00 0.10000E-01-0.10000E+01"
                     " 0.10000E+01   B1 (covariate age)\n"),
            std::string::npos)
      << par;
  EXPECT_NE(par.find(" 12  1 1 0.00000E+00 0.44400E-01-0.44400E+01"
                     " 0.44400E+01   B2 (covariate Bmi)\n"),
            std::string::npos)
      << par;
  EXPECT_TRUE(
      par.ends_with(" 13  0 0 0.00000E+00 0.00000E+00 0.00000E+00"
                    " 0.00000E+00   B3 (out of the model)\n"
                    " 14  0 0 0.00000E+00 0.00000E+00 0.00000E+00"
                    " 0.00000E+00   B4 (out of the model)\n"
                    " 15  0 0 0.00000E+00 0.00000E+00 0.00000E+00"
                    " 0.00000E+00   B5 (out of the model)\n"
                    " age.dat   ! B1: column age\n"
                    " Bmi.dat   ! B2: column Bmi\n"))
      << par;
}

TEST(PrepTemplate, EstimatedStartsLieStrictlyInsideTheirBounds) {
  // A start on or outside a bound would stop the run at its first
  // evaluation; the degenerate tables are where that could happen.
  const std::string header = "family id father mother sex status trait x\n";
  const std::string tables[] = {
      header + "F 1 0 0 1 1 5 1\n",                           // one value
      header + "F 1 0 0 1 1 5 1\nF 2 0 0 2 2 5 1\n",          // no spread
      header + "F 1 0 0 1 1 -3 0\nF 2 0 0 2 2 1e6 7\n",       // wide
      header + "F 1 0 0 1 1 0.001 1\nF 2 0 0 2 2 0.002 2\n",  // narrow
  };
  PrepOptions options;
  options.covariates = {"x"};
  for (const std::string& text : tables) {
    const PreparedData data = PrepareData(ParseTable(text, {"x"}), options);
    const ParameterTable& p = data.parameters;
    for (int row = 1; row <= kParameterCount; ++row) {
      if (p.estimate[row] == 0) continue;
      EXPECT_LT(p.GL[row], p.value[row]) << row << "\n" << text;
      EXPECT_LT(p.value[row], p.GR[row]) << row << "\n" << text;
      EXPECT_GT(p.step[row], 0) << row << "\n" << text;
    }
  }
}

TEST(PrepCommand, RefusedTableWritesNothingAndExitsOne) {
  ScratchDir dir;
  const auto result =
      RunPrep({"-", Dir(dir) + "/out"},
              "family id father mother sex status trait\nF 1 2 0 1 2 1\n");
  EXPECT_EQ(result.status, cli::kExitInputRefused);
  EXPECT_NE(result.err.find("standard input, line 2, family F, person 1:"
                            " only the father (2) is given"),
            std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find("nothing was written"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir / "out"));
  EXPECT_EQ(result.out, "");
}

TEST(PrepCommand, ReportsValueAndRelationProblemsTogether) {
  const auto result = RunPrep({"--check", "-"},
                              "family id father mother sex status trait\n"
                              "F 1 2 0 1 2 1\n"
                              "F 1 0 0 1 2 x\n"
                              "F 0 0 0 1 2 1\n"
                              "F 0 0 0 1 2 1\n");
  EXPECT_EQ(result.status, cli::kExitInputRefused);
  for (const char* message :
       {"line 3, family F, person 1: trait x is not a number",
        "line 4, family F: the id is 0;", "line 5, family F: the id is 0;",
        "line 2, family F, person 1: only the father (2) is given",
        "line 3, family F, person 1: the id 1 is used again in this family"
        " (first on line 2)"}) {
    EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
  }
  // A person without a valid id is not also a duplicate.
  EXPECT_EQ(result.err.find("the id 0 is used again"), std::string::npos);
}

TEST(PrepCommand, NoObservedTraitIsRefused) {
  const auto result =
      RunPrep({"--check", "-"},
              "family id father mother sex status trait\nF 1 0 0 1 2 NA\n");
  EXPECT_EQ(result.status, cli::kExitInputRefused);
  EXPECT_NE(result.err.find("standard input: no person has an observed trait"
                            " value"),
            std::string::npos)
      << result.err;
}

TEST(PrepCommand, DoesNotOverwriteWithoutForce) {
  ScratchDir dir;
  ASSERT_EQ(RunPrep({"-", Dir(dir)}, kTrio).status, cli::kExitDone);
  WriteFile(dir / "par.inp", "my edits\n");
  const auto again = RunPrep({"-", Dir(dir)}, kThreeGenerations);
  EXPECT_EQ(again.status, cli::kExitOutputNotWritten);
  EXPECT_NE(again.err.find("iway.dat exists; segmix-prep does not overwrite"),
            std::string::npos)
      << again.err;
  EXPECT_EQ(ReadFile(dir / "par.inp"), "my edits\n");
  EXPECT_EQ(ReadFile(dir / "trait.dat"), " 1. -999. 3.\n");
  const auto forced = RunPrep({"--force", "-", Dir(dir)}, kThreeGenerations);
  EXPECT_EQ(forced.status, cli::kExitDone) << forced.err;
  EXPECT_EQ(ReadFile(dir / "trait.dat"), " 10.5 -999. 10. 11.25 9.5 12. 8.\n");
  // No temporary file is left behind.
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos);
  }
}

TEST(PrepCommand, CheckWritesNothing) {
  ScratchDir dir;
  WriteFile(dir / "ped.txt", kThreeGenerations);
  const auto result = RunPrep({"--check", (dir / "ped.txt").string()});
  EXPECT_EQ(result.status, cli::kExitDone) << result.err;
  EXPECT_NE(result.out.find(": 1 families, 7 persons (1 outside every nuclear"
                            " family), 2 nuclear families."),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("observed trait values: 6, mean 10.2083,"
                            " variance 1.9604."),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("nothing written (--check)"), std::string::npos);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(PrepCommand, HelpDocumentsTheOneParentDecisionAndExitStatuses) {
  const auto result = RunPrep({"--help"});
  EXPECT_EQ(result.status, cli::kExitDone);
  EXPECT_NE(result.out.find("One parent given without the other is refused"),
            std::string::npos);
  EXPECT_NE(result.out.find("Exit status: 0 done; 1 the table was refused"),
            std::string::npos);
}

TEST(PrepCommand, UsageErrorsExitThree) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{},
       "give the table (or - for standard input) and the output"
       " directory"},
      {{"t"}, "give the table"},
      {{"--check"}, "give the table (or - for standard input) after --check."},
      {{"--bogus", "t", "d"}, "unknown option --bogus"},
      {{"--covariates"}, "--covariates needs a value."},
      {{"--covariates", "a,,b", "t", "d"}, "--covariates needs column names"},
      {{"--covariates", "a,A", "t", "d"}, "names the column \"A\" twice"},
      {{"--covariates=a,b,c,d,e,f", "t", "d"}, "names 6 columns"},
      {{"--trait-file", "a b", "t", "d"}, "--trait-file needs a file name"},
      {{"--trait-file", "seventeen_chars_x", "t", "d"}, "1 to 16"},
      {{"--trait-file", "par.inp", "t", "d"}, "another output file"},
      {{"--covariates", "cov1", "--trait-file", "cov1.dat", "t", "d"},
       "is the name of a covariate file"},
      {{"--columns", "trait", "t", "d"},
       "--columns names the phenotype columns of a --fam file"},
      {{"--fam", "f", "t", "d"}, "with --fam give only the output directory"},
      {{"--fam", "f", "--check", "t"}, "with --fam and --check give no table"},
      {{"--fam", "f", "--columns", "trait,,status", "d"},
       "--columns needs values separated by commas"},
      {{"--missing", "-9,", "t", "d"}, "--missing needs values separated"},
      {{"--proband-coding", "10", "t", "d"}, "--proband-coding needs 12"},
      {{"--proband", "affected", "t", "d"}, "--proband needs COLUMN=VALUE"},
      {{"--proband", "=2", "t", "d"}, "--proband needs COLUMN=VALUE"},
      {{"--proband-coding", "01", "--proband", "a=1", "t", "d"},
       "either --proband-coding or --proband, not both"},
      {{"--proband-switch", "2", "t", "d"}, "a whole number from 0 to 1"},
  };
  for (const Case& c : cases) {
    const auto result = RunPrep(c.args);
    EXPECT_EQ(result.status, cli::kExitUsage) << c.message;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
  }
}

TEST(PrepCommand, VersionAndALinkedOutputKeptALink) {
  EXPECT_EQ(RunPrep({"--version"}).out, VersionText("segmix-prep"));
  ScratchDir dir;
  ASSERT_EQ(RunPrep({"-", Dir(dir)}, kTrio).status, cli::kExitDone);
  const std::string first = ReadFile(dir / "par.inp");
  std::filesystem::rename(dir / "par.inp", dir / "kept.inp");
  std::filesystem::create_symlink("kept.inp", dir / "par.inp");
  WriteFile(dir / "kept.inp", "edited\n");
  ASSERT_EQ(RunPrep({"--force", "-", Dir(dir)}, kTrio).status, cli::kExitDone);
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "par.inp"));
  EXPECT_EQ(ReadFile(dir / "kept.inp"), first);
}

TEST(PrepCommand, UnreadableTableExitsTwo) {
  ScratchDir dir;
  const auto result =
      RunPrep({(dir / "missing.txt").string(), (dir / "out").string()});
  EXPECT_EQ(result.status, cli::kExitInputUnreadable);
  EXPECT_NE(result.err.find("cannot open the table"), std::string::npos);
}

TEST(PrepCommand, ProbandSwitchZeroGoesIntoParInp) {
  ScratchDir dir;
  ASSERT_EQ(RunPrep({"--proband-switch=0", "-", Dir(dir)}, kTrio).status,
            cli::kExitDone);
  EXPECT_TRUE(ReadFile(dir / "par.inp").starts_with(" 1 0 trait.dat 0 "));
}

}  // namespace
}  // namespace segmix::prep
