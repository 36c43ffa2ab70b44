// Statements on file units: fixed-layout and free-form reading, reversion,
// the open and truncation rules, and the error report.
#include "textio/statements.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "textio_fixture.h"

namespace segmix {
namespace {

using testing::ErrorOf;
using testing::ScratchDir;
using testing::Write;

class StatementTest : public ::testing::Test {
 protected:
  // Opens unit 1 on a file holding `contents`.
  void Given(const std::string& contents) {
    dir_.Put("in.dat", contents);
    units_.Open(1, dir_.File("in.dat"), OpenStatus::kOld);
  }

  ScratchDir dir_;
  std::ostringstream console_;
  TextUnits units_{console_};
};

TEST_F(StatementTest, FlagRecordsRevertEveryTwentyColumns) {
  Given("11111111111111111111\n01 1010101010101010109\n10101\nnext\n");
  std::vector<std::int32_t> flags(45, -1);
  {
    ReadStatement r(units_, 1, "(20i1)");
    for (auto& flag : flags) r >> flag;
    r.End();
  }
  const std::vector<std::int32_t> want = {
      1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  //
      0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1,  //
      1, 0, 1, 0, 1};
  EXPECT_EQ(flags, want);
  std::string next;
  ReadStatement r(units_, 1, "(A4)");
  r.Text(next, 4);
  EXPECT_EQ(next, "next");
}

TEST_F(StatementTest, ReadConsumesARecordEvenWithoutValues) {
  Given("first\nsecond\n");
  ReadStatement(units_, 1, "(20i1)").End();
  std::string text;
  ReadStatement r(units_, 1);
  r.Text(text, 6);
  EXPECT_EQ(text, "second");
}

TEST_F(StatementTest, ShortFlagRecordLeavesFamiliesOut) {
  Given("11\r\n");  // CR LF reads like LF
  std::vector<std::int32_t> flags(5, -1);
  ReadStatement r(units_, 1, "(20i1)");
  for (auto& flag : flags) r >> flag;
  EXPECT_EQ(flags, (std::vector<std::int32_t>{1, 1, 0, 0, 0}));
}

TEST_F(StatementTest, ParameterRecord) {
  // Short record: the missing fields read as blanks.
  Given("  1  1 1 1.234E+01       12340\n");
  std::int32_t tie = -1, in_model = -1, estimate = -1;
  double value = -1, step = -1, gl = -1, gr = -1;
  ReadStatement r(units_, 1, "(2i3,i2,4E12.5)");
  r >> tie >> in_model >> estimate >> value >> step >> gl >> gr;
  r.End();
  EXPECT_EQ(tie, 1);
  EXPECT_EQ(in_model, 1);
  EXPECT_EQ(estimate, 1);
  EXPECT_EQ(value, 12.34);
  EXPECT_EQ(step, 0.1234);
  EXPECT_EQ(gl, 0.0);
  EXPECT_EQ(gr, 0.0);
}

TEST_F(StatementTest, FixedCharacterAndSkipItems) {
  Given("abcdefgh\nxy\n");
  std::string a, b, c;
  ReadStatement r(units_, 1, "(A3,2X,A2/A4)");
  r.Text(a, 2).Text(b, 4).Text(c, 4);
  EXPECT_EQ(a, "bc");    // w >= length: the rightmost characters
  EXPECT_EQ(b, "fg  ");  // w < length: padded
  EXPECT_EQ(c, "xy  ");  // past the end of the record: blanks
}

TEST_F(StatementTest, FreeFormControlRecord) {
  Given("  12, 1 'my data.txt'\n 3 this is skipped\n");
  std::int32_t families = 0, proband = 0, covariates = 0;
  std::string name;
  ReadStatement r(units_, 1);
  r >> families >> proband;
  r.Text(name, 16);
  r >> covariates;
  r.End();
  EXPECT_EQ(families, 12);
  EXPECT_EQ(proband, 1);
  EXPECT_EQ(name, "my data.txt     ");
  EXPECT_EQ(covariates, 3);
}

TEST_F(StatementTest, FreeFormValues) {
  struct Row {
    std::string text;
    std::vector<std::int32_t> want;  // from a start of -1 each
  };
  const Row rows[] = {
      {"1 2 3", {1, 2, 3}},    {"1,2,3", {1, 2, 3}},
      {"1 , 2 ,3", {1, 2, 3}}, {"1,,3", {1, -1, 3}},
      {",2,3", {-1, 2, 3}},    {"1\n\n  2\n3", {1, 2, 3}},
      {"1,\n,3", {1, -1, 3}},  {"1 2/ 3", {1, 2, -1}},
      {"3*7", {7, 7, 7}},      {"2*,5", {-1, -1, 5}},
      {"1 2*9", {1, 9, 9}},    {"-2147483648 +5 0", {-2147483648, 5, 0}},
  };
  for (const Row& row : rows) {
    ScratchDir dir;
    dir.Put("f", row.text + "\n");
    TextUnits units(console_);
    units.Open(1, dir.File("f"), OpenStatus::kOld);
    std::vector<std::int32_t> got(3, -1);
    ReadStatement r(units, 1);
    for (auto& v : got) r >> v;
    r.End();
    EXPECT_EQ(got, row.want) << row.text;
  }
}

// What became of each value (S stored, N null value, / after a slash), the
// first value left over after the last one, and whether a comma stood
// directly between two digits among the values read.
TEST_F(StatementTest, FreeFormValueOutcomesAndLeftOvers) {
  struct Row {
    std::string text;
    std::string outcomes;  // one letter per value of three
    std::string left_over;
    bool comma_between_digits;
    std::int64_t left_over_line;
  };
  const Row rows[] = {
      {"1 2 3", "SSS", "", false, 1},
      {"1,2,3", "SSS", "", true, 1},
      {"1 , 2 ,3", "SSS", "", false, 1},
      {"1,,3", "SNS", "", false, 1},
      {",2,3", "NSS", "", true, 1},
      {"1 2/ 3", "SS/", "3", false, 1},
      {"1 / 2 3", "S//", "2", false, 1},
      {"2*,5", "NNS", "", false, 1},
      {"4*7", "SSS", "7", false, 1},
      {"1 2 3 4", "SSS", "4", false, 1},
      {"1 2 3\n\n  ,/ 10,5\n", "SSS", "10", false, 3},
      {"10,2 11,5", "SSS", "5", true, 1},
      {"1 2 3 ,, /", "SSS", "", false, 1},
  };
  for (const Row& row : rows) {
    ScratchDir dir;
    dir.Put("f", row.text + "\n");
    TextUnits units(console_);
    units.Open(1, dir.File("f"), OpenStatus::kOld);
    ReadStatement r(units, 1);
    std::string outcomes;
    for (int k = 0; k < 3; ++k) {
      std::int32_t v = -1;
      r >> v;
      outcomes += "SN/"[static_cast<int>(r.LastOutcome())];
    }
    EXPECT_EQ(outcomes, row.outcomes) << row.text;
    EXPECT_EQ(r.CommaBetweenDigits(), row.comma_between_digits) << row.text;
    EXPECT_EQ(r.LeftOverValue(), row.left_over) << row.text;
    EXPECT_EQ(r.RecordNumber(), row.left_over_line) << row.text;
    r.End();
  }
}

TEST_F(StatementTest, RecordWithoutLineEndStopsAt64MiB) {
  units_.Open(1, "/dev/zero", OpenStatus::kOld);
  EXPECT_EQ(
      ErrorOf([&] { ReadStatement(units_, 1).End(); }),
      "Record 1 is longer than 67108864 characters (64 MiB); a text file of "
      "the program has lines of ordinary length. Check that the file named is "
      "the right one");
}

TEST_F(StatementTest, ReplaceEmptiesAFileOrCreatesIt) {
  dir_.Put("old.dat", "1\n2\n");
  units_.Open(2, dir_.File("old.dat"), OpenStatus::kReplace);
  units_.Open(3, dir_.File("new.dat"), OpenStatus::kReplace);
  units_.CloseAll();
  EXPECT_EQ(dir_.Get("old.dat"), "");
  EXPECT_TRUE(std::filesystem::exists(dir_.File("new.dat")));
}

TEST_F(StatementTest, FreeFormCharacterValues) {
  Given("plain.dat 'it''s a name' \"two\nlines\" a'b toolongforsixteenchars\n");
  std::string a, b, c, d, e;
  ReadStatement r(units_, 1);
  r.Text(a, 16).Text(b, 16).Text(c, 16).Text(d, 3).Text(e, 16);
  EXPECT_EQ(a, "plain.dat       ");
  EXPECT_EQ(b, "it's a name     ");
  EXPECT_EQ(c, "twolines        ");  // the record end is not part of the value
  EXPECT_EQ(d, "a'b");
  EXPECT_EQ(e, "toolongforsixtee");
}

TEST_F(StatementTest, FreeFormReals) {
  Given("1.5 -2e3 1.234D1 7 .5\n");
  double a = 0, b = 0, c = 0, d = 0;
  float e = 0;
  ReadStatement r(units_, 1);
  r >> a >> b >> c >> d >> e;
  EXPECT_EQ(a, 1.5);
  EXPECT_EQ(b, -2000.0);
  EXPECT_EQ(c, 12.34);
  EXPECT_EQ(d, 7.0);  // no implied decimal point in free form
  EXPECT_EQ(e, 0.5f);
}

TEST_F(StatementTest, ErrorMessages) {
  struct Row {
    std::string text;
    std::string layout;  // "" free form
    char type;           // i integer, r real, a text
    int items;
    std::string message;
  };
  const Row rows[] = {
      {"1 x", "", 'i', 2, "Bad integer for item 2 in list input"},
      {"1.5", "", 'i', 1, "Bad integer for item 1 in list input"},
      {"99999999999", "", 'i', 1, "Integer overflow while reading item 1"},
      {"1 abc", "", 'r', 2, "Bad real number in item 2 of list input"},
      {"NaN", "", 'r', 1, "Bad real number in item 1 of list input"},
      {"0*5", "", 'i', 1, "Zero repeat count in item 1 of list input"},
      {"300000000*5", "", 'i', 1,
       "Repeat count overflow in item 1 of list input"},
      {"2**5", "", 'i', 1, "Bad repeat count in item 1 of list input"},
      {"1", "", 'i', 2, "End of file"},
      {"'unterminated", "", 'a', 1, "End of file"},
      {"1x", "(I2)", 'i', 1, "Bad value during integer read"},
      {"-", "(I2)", 'i', 1, "Bad value during integer read"},
      {"9999999999", "(I10)", 'i', 1, "Value overflowed during integer read"},
      {"1.2.3", "(E12.5)", 'r', 1, "Bad value during floating point read"},
      {"12", "('x',I2)", 'i', 1, "Constant string in input format"},
      {"12", "(1X)", 'i', 1, "Exhausted data descriptors in format"},
      {"12", "(I1)", 'i', 3, "End of file"},
  };
  for (const Row& row : rows) {
    ScratchDir dir;
    dir.Put("f", row.text + "\n");
    TextUnits units(console_);
    units.Open(1, dir.File("f"), OpenStatus::kOld);
    const std::string message = ErrorOf([&] {
      ReadStatement r(units, 1, row.layout);
      std::int32_t i = 0;
      double x = 0;
      std::string s;
      for (int k = 0; k < row.items; ++k) {
        if (row.type == 'i') r >> i;
        if (row.type == 'r') r >> x;
        if (row.type == 'a') r.Text(s, 8);
      }
      r.End();
    });
    EXPECT_EQ(message, row.message) << row.text << " " << row.layout;
  }
  EXPECT_EQ(ErrorOf([&] { Write("(1X)", 5); }),
            "Exhausted data descriptors in format");
}

TEST_F(StatementTest, ReportNamesStatementUnitAndFile) {
  Given("");
  try {
    std::int32_t v = 0;
    ReadStatement r(units_, 1);
    r >> v;
    FAIL() << "no error";
  } catch (const TextIoError& error) {
    const std::string text = error.StderrText();
    EXPECT_EQ(error.ExitStatus(), kExitTextIo);
    EXPECT_EQ(text.rfind("At line ", 0), 0u) << text;
    EXPECT_NE(text.find(" of file tests/textio/statements_test.cpp (Unit 1 \"" +
                        dir_.File("in.dat") +
                        "\")\nsegmix runtime error: End of file\n"),
              std::string::npos)
        << text;
  }
}

TEST_F(StatementTest, MissingFileWithStatusOld) {
  try {
    units_.Open(1, dir_.File("absent.inp") + "   ", OpenStatus::kOld);
    FAIL() << "no error";
  } catch (const TextIoError& error) {
    EXPECT_EQ(error.Message(), "No such file or directory");
    EXPECT_NE(
        error.StderrText().find(" file: \"" + dir_.File("absent.inp") + "\"\n"),
        std::string::npos)
        << error.StderrText();
  }
  EXPECT_EQ(
      ErrorOf([&] { units_.Open(1, dir_.Path().string(), OpenStatus::kOld); }),
      "Is a directory");
}

TEST_F(StatementTest, FirstWriteCutsTheFileOpeningDoesNot) {
  dir_.Put("out.dat", "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n");
  units_.Open(2, dir_.File("out.dat"), OpenStatus::kNone);
  units_.Close(2);
  EXPECT_EQ(dir_.Get("out.dat"), "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n");

  units_.Open(2, dir_.File("out.dat"), OpenStatus::kNone);
  {
    WriteStatement w(units_, 2, "(I2)");
    w << 11;
    w.End();
  }
  EXPECT_EQ(dir_.Get("out.dat"), "11\n");
  {
    WriteStatement w(units_, 2);
    w << "x" << 2.5;
    w.End();
  }
  units_.Close(2);
  EXPECT_EQ(dir_.Get("out.dat"), "11\n x 2.5\n");

  units_.Open(3, dir_.File("new.dat"), OpenStatus::kNone);
  units_.Close(3);
  EXPECT_EQ(dir_.Get("new.dat"), "");
  units_.Open(3, dir_.File("new.dat"), OpenStatus::kNone);
  EXPECT_EQ(ErrorOf([&] { ReadStatement(units_, 3).End(); }), "End of file");
}

TEST_F(StatementTest, LastRecordWithoutLineFeed) {
  Given("1 2\n3");
  std::int32_t a = 0, b = 0, c = 0;
  ReadStatement(units_, 1) >> a >> b;
  ReadStatement(units_, 1) >> c;
  EXPECT_EQ(c, 3);
}

TEST_F(StatementTest, AbandonedStatementWritesNothing) {
  units_.Open(2, dir_.File("o"), OpenStatus::kNone);
  EXPECT_EQ(ErrorOf([&] {
              WriteStatement w(units_, 2, "(I2)");
              w << 1.5;
              w.End();
            }),
            "Expected INTEGER for item 1 in formatted transfer, got REAL");
  units_.Close(2);
  EXPECT_EQ(dir_.Get("o"), "");
}

TEST(Stops, CarryTheirTextAndStatus) {
  try {
    StopWithMessage("N_FAM exceed. Correct and recompile", kExitRejected);
  } catch (const StopRequest& stop) {
    EXPECT_EQ(stop.StderrText(), "STOP N_FAM exceed. Correct and recompile\n");
    EXPECT_EQ(stop.ExitStatus(), kExitRejected);
  }
  try {
    Stop();
  } catch (const StopRequest& stop) {
    EXPECT_EQ(stop.StderrText(), "");
    EXPECT_EQ(stop.ExitStatus(), 0);
  }
}

}  // namespace
}  // namespace segmix

namespace segmix::testing {
namespace {

// The folder seam: relative names are opened in the units' directory, while
// messages keep the name as given, and memory units read and collect records
// with no file at all.
TEST(UnitPlaces, RelativeNamesOpenInTheUnitsDirectory) {
  ScratchDir dir;
  dir.Put("par.inp", "7 8\n");
  std::ostringstream console;
  TextUnits units(console, dir.Path());
  EXPECT_EQ(units.PathOf("par.inp  "), dir.Path() / "par.inp");
  EXPECT_EQ(units.PathOf("/tmp/x"), std::filesystem::path("/tmp/x"));
  units.Open(1, "par.inp", OpenStatus::kOld);
  int a = 0, b = 0;
  ReadStatement(units, 1) >> a >> b;
  EXPECT_EQ(a * 10 + b, 78);
  units.Open(2, "out.dat", OpenStatus::kReplace);
  {
    WriteStatement w(units, 2);
    w << "x";
    w.End();
  }
  units.CloseAll();
  EXPECT_EQ(dir.Get("out.dat"), " x\n");
  // A missing file is named as it was given, not by its place.
  TextUnits again(console, dir.Path());
  EXPECT_EQ(ErrorOf([&] { again.Open(1, "gone.dat", OpenStatus::kOld); }),
            "No such file or directory");
}

TEST(UnitPlaces, MemoryUnitsReadTextAndCaptureRecords) {
  std::ostringstream console;
  TextUnits units(console);
  units.OpenText(1, "par.inp", "1 2\n3\n");
  int a = 0, b = 0, c = 0;
  ReadStatement(units, 1) >> a >> b;
  ReadStatement(units, 1) >> c;
  EXPECT_EQ(a + b + c, 6);
  // A text unit cannot be written: the write fails as on a read-only file.
  EXPECT_NE(ErrorOf([&] {
              WriteStatement w(units, 1);
              w << 1;
              w.End();
            }),
            "");

  units.OpenCapture(25, "par.err");
  EXPECT_EQ(units.Captured(25), "");
  for (int k = 1; k <= 2; ++k) {
    WriteStatement w(units, 25, "(' ERROR: P1=',E11.4)");
    w << 0.0;
    w.End();
  }
  // Unlike a file, the second statement does not cut the first away: the
  // capture starts empty and keeps every record.
  EXPECT_EQ(units.Captured(25),
            " ERROR: P1= 0.0000E+00\n ERROR: P1= 0.0000E+00\n");
  units.CloseAll();
  EXPECT_EQ(units.Captured(25), "");  // closed: nothing left to read
}

}  // namespace
}  // namespace segmix::testing
