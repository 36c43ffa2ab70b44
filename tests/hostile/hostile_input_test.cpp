// Hostile input: one table row per kind of damaged input file, each run as
// the whole program on the small example data set with one file changed, in
// a fresh directory. Every row is run twice, in-process through RunProgram
// and as the built program (exit status from the process), and both must
// agree with the row: the exit status, what standard error says, and that a
// failed run leaves the result files of an earlier run as they were. A run
// that must succeed must give the same summary (sigma.dat) as a reference
// run whose input says the same thing in plain form.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "run/run_sequence.h"

namespace segmix {
namespace {

namespace fs = std::filesystem;

const fs::path kExample = fs::path(SEGMIX_SOURCE_DIR) / "examples" / "small";
const char* const kInputs[] = {"par.inp", "iway.dat", "trait.dat", "age.dat"};
const char* const kResults[] = {"max.dat", "sigma.dat", "LH_fam.dat"};
constexpr char kEarlierRun[] = "left by an earlier run\n";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// The example's files, to be changed by a row.
using Files = std::map<std::string, std::string>;
// Special contents: the file is absent, or a directory of that name.
const std::string kAbsent =
    "\x01"
    "absent";
const std::string kDirectory =
    "\x01"
    "directory";

Files ExampleFiles() {
  Files files;
  for (const char* name : kInputs) files[name] = ReadFile(kExample / name);
  return files;
}

// ---- edits of a file's text

// Record `index` (0-based line) replaced.
std::function<void(std::string&)> Line(int index, std::string text) {
  return [index, text](std::string& s) {
    std::istringstream in(s);
    std::string out, line;
    for (int i = 0; std::getline(in, line); ++i)
      out += (i == index ? text : line) + "\n";
    s = out;
  };
}
// The first occurrence of `from` replaced by `to`.
std::function<void(std::string&)> Replace(std::string from, std::string to) {
  return [from, to](std::string& s) {
    const auto at = s.find(from);
    if (at == std::string::npos)
      throw std::logic_error("no '" + from + "' to replace");
    s.replace(at, from.size(), to);
  };
}
void CrLf(std::string& s) {
  std::string out;
  for (const char c : s)
    out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  s = out;
}
void NoFinalLineFeed(std::string& s) {
  while (!s.empty() && s.back() == '\n') s.pop_back();
}
void OneValuePerLine(std::string& s) {
  for (char& c : s) {
    if (c == ' ') c = '\n';
  }
}
// Every blank between values widened to `width` blanks.
std::function<void(std::string&)> WideBlanks(std::size_t width) {
  return [width](std::string& s) {
    std::string out;
    for (const char c : s)
      out += c == ' ' ? std::string(width, ' ') : std::string(1, c);
    s = out;
  };
}

struct Edit {
  std::string file;
  std::function<void(std::string&)> change;  // unless `contents` is given
  std::string contents = {};
};

Edit Set(std::string file, std::string contents) {
  return {std::move(file), nullptr, std::move(contents)};
}

struct Row {
  std::string name;
  std::vector<Edit> edits;
  int exit_status;
  // Texts standard error must hold; for exit status 2 the last is the whole
  // second line after "segmix runtime error: ".
  std::vector<std::string> stderr_has;
  // Exit status 0: the edits of an input that must give the same results
  // (empty: the unchanged example).
  std::vector<Edit> same_as = {};
};

std::ostream& operator<<(std::ostream& out, const Row& row) {
  return out << row.name;
}

// The outcome of one run.
struct Outcome {
  int exit_status = -1;
  std::string out, err;
};

class HostileInput : public ::testing::TestWithParam<Row> {
 protected:
  void SetUp() override {
    original_ = fs::current_path();
    std::string name =
        ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : name) {
      if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    root_ = fs::temp_directory_path() /
            ("segmix_hostile_" + std::to_string(::getpid()) + "_" + name);
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override {
    fs::current_path(original_);
    fs::remove_all(root_);
  }

  // A directory holding the example with `edits` applied, and the result
  // files of an earlier run.
  fs::path Prepare(const std::string& name, const std::vector<Edit>& edits) {
    Files files = ExampleFiles();
    for (const Edit& edit : edits) {
      if (edit.change) {
        edit.change(files.at(edit.file));
      } else {
        files[edit.file] = edit.contents;
      }
    }
    const fs::path dir = root_ / name;
    fs::create_directories(dir);
    for (const auto& [file, contents] : files) {
      if (contents == kAbsent) continue;
      if (contents == kDirectory) {
        fs::create_directories(dir / file / "inside");
      } else {
        WriteFile(dir / file, contents);
      }
    }
    for (const char* result : kResults) WriteFile(dir / result, kEarlierRun);
    return dir;
  }

  static Outcome InProcess(const fs::path& dir) {
    const fs::path previous = fs::current_path();
    fs::current_path(dir);
    std::ostringstream out, err;
    Outcome outcome;
    outcome.exit_status = RunProgram(out, err);
    outcome.out = out.str();
    outcome.err = err.str();
    fs::current_path(previous);
    return outcome;
  }

  static Outcome AsProcess(const fs::path& dir) {
    const std::string command = "cd '" + dir.string() +
                                "' && '" SEGMIX_BINARY
                                "' >process.out 2>process.err </dev/null";
    const int status = std::system(command.c_str());
    Outcome outcome;
    outcome.exit_status =
        WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    outcome.out = ReadFile(dir / "process.out");
    outcome.err = ReadFile(dir / "process.err");
    fs::remove(dir / "process.out");
    fs::remove(dir / "process.err");
    return outcome;
  }

  fs::path original_;
  fs::path root_;
};

TEST_P(HostileInput, EndsAsExpected) {
  const Row& row = GetParam();
  const fs::path in_process = Prepare("in_process", row.edits);
  const fs::path as_process = Prepare("as_process", row.edits);
  const Outcome outcomes[] = {InProcess(in_process), AsProcess(as_process)};
  const fs::path dirs[] = {in_process, as_process};

  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE(k == 0 ? "in-process" : "as a process");
    const Outcome& o = outcomes[k];
    EXPECT_EQ(o.exit_status, row.exit_status) << o.err;
    for (const std::string& text : row.stderr_has) {
      EXPECT_NE(o.err.find(text), std::string::npos) << "stderr: " << o.err;
    }
    if (row.exit_status == 2) {
      // The error report: the statement's place, then the message.
      ASSERT_FALSE(row.stderr_has.empty());
      EXPECT_EQ(o.err.rfind("At line ", 0), 0u) << o.err;
      const std::string last =
          "\nsegmix runtime error: " + row.stderr_has.back() + "\n";
      EXPECT_TRUE(
          o.err.size() >= last.size() &&
          o.err.compare(o.err.size() - last.size(), last.size(), last) == 0)
          << "stderr: " << o.err;
    }
    if (row.exit_status != 0) {
      for (const char* result : kResults) {
        EXPECT_EQ(ReadFile(dirs[k] / result), kEarlierRun) << result;
      }
    } else {
      EXPECT_EQ(o.err, "");
      EXPECT_TRUE(o.out.ends_with(" **** END OF PROGRAM ****\n")) << o.out;
    }
  }
  EXPECT_EQ(outcomes[0].out, outcomes[1].out);
  EXPECT_EQ(outcomes[0].err, outcomes[1].err);

  if (row.exit_status == 0) {
    const fs::path reference = Prepare("reference", row.same_as);
    const Outcome expected = InProcess(reference);
    ASSERT_EQ(expected.exit_status, 0) << expected.err;
    for (const char* result : kResults) {
      EXPECT_EQ(ReadFile(in_process / result), ReadFile(reference / result))
          << result;
    }
    EXPECT_EQ(outcomes[0].out, expected.out);
  }
}

// The messages of the text-record layer.
const std::string kEof = "End of file";
const std::string kNoFile = "No such file or directory";
const std::string kIsDirectory = "Is a directory";
std::string BadInteger(int item) {
  return "Bad integer for item " + std::to_string(item) + " in list input";
}
std::string IntegerOverflow(int item) {
  return "Integer overflow while reading item " + std::to_string(item);
}
std::string BadReal(int item) {
  return "Bad real number in item " + std::to_string(item) + " of list input";
}
std::string UnitOf(int unit, const std::string& file) {
  return "(Unit " + std::to_string(unit) + " \"" + file + "\")";
}
std::string OpenOf(const std::string& file) {
  return " file: \"" + file + "\"";
}

const std::string kFirstPar = "4 1 'trait.dat' 1";
const std::string kIway1 = "4 4 0 5 13 17 19";
const std::string kBeyondRange =
    "lies beyond the range of a 4-byte real (largest magnitude 3.4028235E+38) "
    "and "
    "reads as infinity";

const Row kRows[] = {
    // ---- par.inp
    {"ParInpMissing",
     {Set("par.inp", kAbsent)},
     2,
     {OpenOf("par.inp"), kNoFile}},
    {"ParInpIsADirectory",
     {Set("par.inp", kDirectory)},
     2,
     {OpenOf("par.inp"), kIsDirectory}},
    {"ParInpEmpty", {Set("par.inp", "")}, 2, {UnitOf(1, "par.inp"), kEof}},
    {"ParInpOnlyBlankLines",
     {Set("par.inp", "\n \n\t\n")},
     2,
     {UnitOf(1, "par.inp"), kEof}},
    {"FamilyCountNegative",
     {{"par.inp", Line(0, "-1 1 'trait.dat' 1")}},
     1,
     {"par.inp, first record: the family count is -1, below 0"}},
    {"FamilyCountAboveNFam",
     {{"par.inp", Line(0, "605 1 'trait.dat' 1")}},
     1,
     {"par.inp, first record: the family count is 605, above N_FAM = 604"}},
    {"FamilyCountLargestInteger",
     {{"par.inp", Line(0, "2147483647 1 trait.dat 1")}},
     1,
     {"the family count is 2147483647, above N_FAM = 604"}},
    {"FamilyCountBeyond32Bits",
     {{"par.inp", Line(0, "2147483648 1 trait.dat 1")}},
     2,
     {UnitOf(1, "par.inp"), IntegerOverflow(1)}},
    {"FamilyCountFarBeyond32Bits",
     {{"par.inp", Line(0, "-99999999999999999999 1 trait.dat 1")}},
     2,
     {IntegerOverflow(1)}},
    {"CovariateCountNegative",
     {{"par.inp", Line(0, "4 1 'trait.dat' -1")}},
     1,
     {"par.inp, first record: the covariate count is -1, below 0"}},
    {"CovariateCountSix",
     {{"par.inp", Line(0, "4 1 'trait.dat' 6")}},
     1,
     {"par.inp, first record: the covariate count is 6, above 5"}},
    {"TextForTheFamilyCount",
     {{"par.inp", Line(0, "four 1 'trait.dat' 1")}},
     2,
     {UnitOf(1, "par.inp"), BadInteger(1)}},
    {"RealForTheCovariateCount",
     {{"par.inp", Line(0, "4 1 'trait.dat' 1.0")}},
     2,
     {BadInteger(4)}},
    {"LetterInASelectionFlag",
     {{"par.inp", Line(1, "11x1")}},
     2,
     {UnitOf(1, "par.inp"), "Bad value during integer read"}},
    {"TextInAParameterValue",
     {{"par.inp",
       Line(5, "  4  1 1        ten.         0.5         5.0        13.0")}},
     2,
     {UnitOf(1, "par.inp"), "Bad value during floating point read"}},
    {"TieIndexAboveTheRows",
     {{"par.inp",
       Line(2, " 16  1 0         0.2        0.05       0.001       0.999")}},
     1,
     {"par.inp, parameter record 1 (Q): the tie index is 16"}},
    {"TieIndexNegative",
     {{"par.inp",
       Line(16, "-99  0 0         0.0         0.0         0.0         0.0")}},
     1,
     {"par.inp, parameter record 15 (B5): the tie index is -99"}},
    {"ParInpEndsAfterTheFlags",
     {Set("par.inp", kFirstPar + "\n1111\n")},
     2,
     {UnitOf(1, "par.inp"), kEof}},
    {"FourteenParameterRecords",
     {{"par.inp", Line(16, "")}, {"par.inp", Replace("\n\n", "\n")}},
     2,
     {UnitOf(1, "par.inp"), "Bad value during integer read"}},
    {"UnterminatedQuoteInTheDataFileName",
     {{"par.inp", Line(0, "4 1 'trait.dat 1")}},
     2,
     {UnitOf(1, "par.inp"), kEof}},
    {"UnterminatedQuoteInACovariateName",
     {{"par.inp", Replace("age.dat", "\"age.dat")}},
     2,
     {UnitOf(1, "par.inp"), kEof}},
    {"NonAsciiDataFileName",
     {{"par.inp", Line(0, "4 1 'tr\xc3\xa4it.dat' 1")}},
     2,
     {OpenOf("tr\xc3\xa4it.dat"), kNoFile}},
    {"ParInpWithCrLf", {{"par.inp", CrLf}}, 0, {}},
    {"ParInpWithoutFinalLineFeed", {{"par.inp", NoFinalLineFeed}}, 0, {}},
    {"ParInpLongFirstRecord",
     {{"par.inp", Line(0, kFirstPar + std::string(1 << 20, ' ') + "x")}},
     0,
     {}},
    // ---- iway.dat
    {"IwayMissing",
     {Set("iway.dat", kAbsent)},
     2,
     {OpenOf("iway.dat"), kNoFile}},
    {"IwayIsADirectory",
     {Set("iway.dat", kDirectory)},
     2,
     {OpenOf("iway.dat"), kIsDirectory}},
    {"IwayEmpty", {Set("iway.dat", "")}, 2, {UnitOf(2, "iway.dat"), kEof}},
    {"ListedFamilyCountNegative",
     {{"iway.dat", Line(0, "-1 4 0 5 13 17 19")}},
     1,
     {"iway.dat, record 1, value 1: the listed family count is -1"}},
    {"ListedFamilyCountAboveNFam",
     {{"iway.dat", Line(0, "605 4 0 5 13 17 19")}},
     1,
     {"STOP N_FAM exceed. Correct and recompile\n"}},
    {"ListedFamilyCountLargestInteger",
     {{"iway.dat", Line(0, "2147483647 4 0")}},
     1,
     {"STOP N_FAM exceed. Correct and recompile\n"}},
    {"ListedFamilyCountBeyond32Bits",
     {{"iway.dat", Line(0, "4294967300 4 0 5 13 17 19")}},
     2,
     {UnitOf(2, "iway.dat"), IntegerOverflow(1)}},
    {"ListOffsetCountAboveNWay",
     {{"iway.dat", Line(2, "2000001 0 0 5 9 13 16 18")}},
     1,
     {"STOP N_WAY exceed. Correct and recompile\n"}},
    {"ListOffsetCountNegative",
     {{"iway.dat", Line(2, "-7 0 0 5 9 13 16 18")}},
     1,
     {"iway.dat, record 3, value 1: the list-offset count M is -7"}},
    {"MemberListLengthAboveNWay",
     {{"iway.dat", Line(3, "2000001 1 2 3")}},
     1,
     {"STOP N_WAY exceed. Correct and recompile\n"}},
    {"MemberCountAboveNSize",
     {{"iway.dat", Line(5, "25001 1 2 1")}},
     1,
     {"STOP N_SIZE exceed. Correct and recompile\n"}},
    {"MemberCountBelowTheFamilies",
     {{"iway.dat", Replace("19 1 2 1", "18 1 2 1")}},
     1,
     {"iway.dat, record 1, value 7: the closing member offset (the end of "
      "family 4) is 19, "
      "outside 0 to 18"}},
    // 20 sex codes take the first status code too; record 7 then finds no line.
    {"MemberCountAboveTheValues",
     {{"iway.dat", Replace("19 1 2 1", "20 1 2 1")}},
     2,
     {UnitOf(2, "iway.dat"), kEof}},
    // Record 1 then takes the first value of record 2, and every later
    // record starts one line late: record 7 finds no line.
    {"ListedFamilyCountAboveTheOffsets",
     {{"iway.dat", Line(0, "5 4 0 5 13 17 19")}},
     2,
     {UnitOf(2, "iway.dat"), kEof}},
    {"MemberOffsetsOutOfOrder",
     {{"iway.dat", Line(0, "4 4 0 13 5 17 19")}},
     1,
     {"iway.dat, record 1, value 5: the member offset of family 3 is 5, below "
      "the member "
      "offset of family 2, 13"}},
    {"MemberPositionOutsideItsFamily",
     {{"iway.dat", Replace("18 1 2 3 4 5", "18 1 2 3 4 9")}},
     1,
     {"iway.dat: family 1, nuclear family 1, entry 5 (record 4, value 6) is "
      "member position 9"}},
    {"ConnectorNotInItsNuclearFamily",
     {{"iway.dat", Line(4, "0 9 0 0 0")}},
     1,
     {"iway.dat: family 2, nuclear family 2 has connector 9 (record 5, value "
      "2)"}},
    {"SexCodeThreeWithSexInTheModel",
     {{"iway.dat", Replace("19 1 2", "19 3 2")}},
     1,
     {"iway.dat, record 6, value 2: family 1, member position 1 has sex code "
      "3"}},
    {"TextForAMemberOffset",
     {{"iway.dat", Line(0, "4 4 0 5 x 17 19")}},
     2,
     {UnitOf(2, "iway.dat"), BadInteger(5)}},
    {"RealForAMemberOffset",
     {{"iway.dat", Line(0, "4 4 0 5.0 13 17 19")}},
     2,
     {BadInteger(4)}},
    {"NoBreakSpaceAfterAValue",
     {{"iway.dat", Line(0, kIway1 + "\xc2\xa0")}},
     2,
     {UnitOf(2, "iway.dat"), BadInteger(7)}},
    {"NulByteInARecord",
     {{"iway.dat", Line(0, std::string("4 4 0 5 13 17 1") + '\0' + "9")}},
     2,
     {BadInteger(7)}},
    {"IwayWithCrLf", {{"iway.dat", CrLf}}, 0, {}},
    {"IwayWithoutFinalLineFeed", {{"iway.dat", NoFinalLineFeed}}, 0, {}},
    {"IwayWithVeryLongRecords", {{"iway.dat", WideBlanks(1 << 16)}}, 0, {}},
    // ---- trait.dat
    {"TraitFileMissing",
     {Set("trait.dat", kAbsent)},
     2,
     {OpenOf("trait.dat"), kNoFile}},
    {"TraitFileIsADirectory",
     {Set("trait.dat", kDirectory)},
     2,
     {OpenOf("trait.dat"), kIsDirectory}},
    {"TraitFileEmpty",
     {Set("trait.dat", "")},
     2,
     {UnitOf(2, "trait.dat"), kEof}},
    {"TraitFileOneValueShort",
     {{"trait.dat", Replace(" -999\n", "\n")}},
     2,
     {UnitOf(2, "trait.dat"), kEof}},
    {"TraitBeyondTheFourByteRange",
     {{"trait.dat", Replace("11.5", "1e39")}},
     1,
     {"trait.dat, value 2 (family 1, member 2): the value " + kBeyondRange,
      "or a value below -998 (such as -999) for a missing value"}},
    // Below -998, however large: a missing value, like -999.
    {"TraitBelowTheFourByteRangeIsMissing",
     {{"trait.dat", Replace("13.4", "-1e39")}},
     0,
     {},
     {{"trait.dat", Replace("13.4", "-999")}}},
    {"TraitNaNSpelled",
     {{"trait.dat", Replace("11.5", "NaN")}},
     2,
     {UnitOf(2, "trait.dat"), BadReal(2)}},
    {"TraitInfSpelled",
     {{"trait.dat", Replace("11.5", "Inf")}},
     2,
     {BadReal(2)}},
    {"TraitInfinitySpelled",
     {{"trait.dat", Replace("10.2", "-Infinity")}},
     2,
     {BadReal(1)}},
    {"TraitText", {{"trait.dat", Replace("12.9", "twelve")}}, 2, {BadReal(4)}},
    {"TraitExponentWithoutDigits",
     {{"trait.dat", Replace("12.9", "1.29e")}},
     2,
     {BadReal(4)}},
    {"TraitByteOrderMark",
     {{"trait.dat", Replace("10.2",
                            "\xef\xbb\xbf"
                            "10.2")}},
     2,
     {BadReal(1)}},
    {"TraitZeroWidthSpace",
     {{"trait.dat", Replace("10.7", "10.7\xe2\x80\x8b")}},
     2,
     {BadReal(5)}},
    {"TraitWithCrLf", {{"trait.dat", CrLf}}, 0, {}},
    {"TraitWithoutFinalLineFeed", {{"trait.dat", NoFinalLineFeed}}, 0, {}},
    {"TraitOneValuePerLine", {{"trait.dat", OneValuePerLine}}, 0, {}},
    {"TraitWithVeryLongRecord", {{"trait.dat", WideBlanks(200000)}}, 0, {}},
    {"TraitExponentWithD", {{"trait.dat", Replace("10.2", "1.02D1")}}, 0, {}},
    // ---- age.dat (covariate)
    {"CovariateFileMissing",
     {Set("age.dat", kAbsent)},
     2,
     {OpenOf("age.dat"), kNoFile}},
    {"CovariateBeyondTheFourByteRange",
     {{"age.dat", Replace("1.4", "-1e39")}},
     1,
     {"age.dat, value 12 (family 2, member 7): the value " + kBeyondRange,
      "Give the covariate in a smaller unit."}},
    {"CovariateNaNSpelled",
     {{"age.dat", Replace("1.4", "nan")}},
     2,
     {UnitOf(2, "age.dat"), BadReal(12)}},
    {"CovariateFileOneValueShort",
     {{"age.dat", Replace(" 5.8", "")}},
     2,
     {UnitOf(2, "age.dat"), kEof}},
};

INSTANTIATE_TEST_SUITE_P(Rows, HostileInput, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) {
                           return info.param.name;
                         });

// Every character `from` replaced by `to`.
std::function<void(std::string&)> ReplaceAll(char from, char to) {
  return [from, to](std::string& s) {
    for (char& c : s) {
      if (c == from) c = to;
    }
  };
}

const std::string kSlash =
    ": no value was read: a \"/\" ends the record before it.";
const std::string kEmpty = ": no value was read: the field is empty";
const std::string kDecimalComma =
    "(A decimal comma? A comma separates values: write 10.2, not 10,2.)";

// A value of a family data file left unread by a slash or an empty field
// would keep the 0 the store held before; every value there is required.
// Values left over after the last member are legal, unless the file shows
// decimal commas.
const Row kUnreadValueRows[] = {
    {"TraitSlashEndsTheRecord",
     {{"trait.dat", Replace("12.9", "12.9 /")}},
     1,
     {"trait.dat, value 5 (family 1, member 5)" + kSlash,
      "write -999 for a missing trait value."}},
    {"TraitEmptyField",
     {{"trait.dat", Replace("11.5 14.8", "11.5,,14.8")}},
     1,
     {"trait.dat, value 3 (family 1, member 3)" + kEmpty, kDecimalComma}},
    {"TraitNullRepeat",
     {{"trait.dat", Replace("10.7", "2*")}},
     1,
     {"trait.dat, value 5 (family 1, member 5)" + kEmpty}},
    {"TraitDecimalCommas",
     {{"trait.dat", ReplaceAll('.', ',')}},
     1,
     {"trait.dat: values are left over after the 19 members' values (the "
      "first, "
      "\"1\", on line 1), and a comma stands directly between two digits",
      "A decimal comma? Write decimal points (10.2), and one value per "
      "member."}},
    {"CovariateEmptyFirstField",
     {{"age.dat", Replace("4.8", ",4.8")}},
     1,
     {"age.dat, value 1 (family 1, member 1)" + kEmpty,
      "write the member's covariate value.", kDecimalComma}},
    {"CovariateSlash",
     {{"age.dat", Replace("5.8", "/ 5.8")}},
     1,
     {"age.dat, value 19 (family 4, member 2)" + kSlash}},
    {"IwayStatusEmptyField",
     {{"iway.dat", Line(6, "2 2,,2 2 2 2 2 2 2 1 2 2 2 2 1 2 2 2")}},
     1,
     {"iway.dat, record 7, value 3 (family 1, member 3)" + kEmpty}},
    {"IwayOffsetsEndedBySlash",
     {{"iway.dat", Line(0, "4 4 0 5 13 / 19")}},
     1,
     {"iway.dat, record 1, value 6" + kSlash}},
    {"IwaySexCountEndedBySlash",
     {{"iway.dat", Line(5, "/ 19 1 2")}},
     1,
     {"iway.dat, record 6, value 1" + kSlash}},
    // Legal: comma-separated values, and values left over after the last
    // member when no comma stands between two digits.
    {"TraitCommaSeparated", {{"trait.dat", ReplaceAll(' ', ',')}}, 0, {}},
    {"TraitValuesLeftOver",
     {{"trait.dat", Replace("-999\n", "-999 12.5 13.5\n8.5\n")}},
     0,
     {}},
};

INSTANTIATE_TEST_SUITE_P(UnreadValues, HostileInput,
                         ::testing::ValuesIn(kUnreadValueRows),
                         [](const ::testing::TestParamInfo<Row>& info) {
                           return info.param.name;
                         });

// Status codes and closing offsets that the structure check refuses.
const Row kStructureRows[] = {
    {"StatusCodeNine",
     {{"iway.dat", Line(6, "2 2 9 2 2 2 2 2 2 2 1 2 2 2 2 1 2 2 2")}},
     1,
     {"iway.dat, record 7, value 3: family 1, member position 3 has status "
      "code 9. "
      "Status codes are 0"}},
    {"StatusCodeMinusOne",
     {{"iway.dat", Line(6, "2 2 0 2 2 2 2 2 2 2 1 2 2 2 2 1 2 2 -1")}},
     1,
     {"iway.dat, record 7, value 19: family 4, member position 2 has status "
      "code -1."}},
    {"ClosingNuclearOffsetBelowItsCount",
     {{"iway.dat", Line(1, "0 0 1 3 4 4")}},
     1,
     {"iway.dat, record 2, value 6: the closing nuclear-family offset (the end "
      "of family 4) "
      "is 4, but the nuclear-family count (M - 2 of record 3) is 5: nuclear "
      "families 5 to 5 "
      "would belong to no family and be left out."}},
    {"ClosingListOffsetBelowItsCount",
     {{"iway.dat", Line(2, "7 0 0 5 9 13 16 17")}},
     1,
     {"iway.dat, record 3, value 8: the closing list offset (the end of "
      "nuclear family 5) "
      "is 17, but the member-list length (record 4) is 18: member-list entries "
      "18 to 18 "
      "would belong to no nuclear family and be left out."}},
};

INSTANTIATE_TEST_SUITE_P(Structure, HostileInput,
                         ::testing::ValuesIn(kStructureRows),
                         [](const ::testing::TestParamInfo<Row>& info) {
                           return info.param.name;
                         });

// A record that never ends (a device with no line ends named as a data
// file) is refused at 64 MiB instead of growing until memory runs out.
const Row kLongRecordRows[] = {
    {"DataFileIsDevZero",
     {{"par.inp", Line(0, "4 1 '/dev/zero' 1")}},
     2,
     {UnitOf(2, "/dev/zero"),
      "Record 1 is longer than 67108864 characters (64 MiB); a text file of "
      "the program "
      "has lines of ordinary length. Check that the file named is the right "
      "one"}},
};

INSTANTIATE_TEST_SUITE_P(LongRecords, HostileInput,
                         ::testing::ValuesIn(kLongRecordRows),
                         [](const ::testing::TestParamInfo<Row>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace segmix
