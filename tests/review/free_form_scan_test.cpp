// The free-form scanner against the run's own reader: for each text, the
// items the reader leaves unchanged (empty fields, values after a slash) must
// be the ones the scanner marks, and the scanner must end the statement on
// the record the reader ends on, with the leftover values counted by hand.
#include "review/free_form_scan.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/scratch_path.h"
#include "textio/statements.h"
#include "textio/text_units.h"

namespace segmix {
namespace {

struct ScanRow {
  const char* text;
  const char*
      kinds;  // one letter per item: V value, N empty field, S after a slash
  std::size_t end_line;
  std::size_t leftover;
};

const ScanRow kScanRows[] = {
    {"1 2 3\n", "VVV", 0, 0},
    {"1 2 3 4 5\n", "VVV", 0, 2},
    {"1,,3\n", "VNV", 0, 0},
    {",2,3\n", "NVV", 0, 0},
    {"1 , 2 ,3\n", "VVV", 0, 0},
    {"1,\n,3\n", "VNV", 1, 0},
    {"1, 2,\n3\n", "VVV", 1, 0},
    {"1 / 3\n", "VSS", 0, 0},
    {"1 2 3 / 4\n", "VVV", 0, 0},
    {"2*5 7\n", "VVV", 0, 0},
    {"2* 7\n", "NNV", 0, 0},
    {"\n\n1\n2 3 4 5\n", "VVV", 3, 2},
    {"1 2\r\n3 9, 9\r\n", "VVV", 1, 2},
    {"1\t2\t3\t! note\n", "VVV", 0, 2},
};

class FreeFormScanTest : public ::testing::TestWithParam<ScanRow> {};

TEST_P(FreeFormScanTest, MarksWhatTheReaderLeavesUnchanged) {
  const ScanRow& row = GetParam();
  const std::filesystem::path file =
      testing::ScratchPathForCurrentTest("segmix_scan_");
  std::ofstream(file, std::ios::binary) << row.text;
  const std::string kinds = row.kinds;

  std::string reader_kinds;
  {
    std::ostringstream console;
    TextUnits units(console);
    units.Open(1, file.string(), OpenStatus::kOld);
    ReadStatement r(units, 1);
    constexpr std::int32_t kUnchanged = -12345;
    for (std::size_t i = 0; i < kinds.size(); ++i) {
      std::int32_t value = kUnchanged;
      r >> value;
      reader_kinds += value == kUnchanged ? (kinds[i] == 'S' ? 'S' : 'N') : 'V';
    }
    r.End();
  }
  std::filesystem::remove(file);
  EXPECT_EQ(reader_kinds, kinds) << "the row disagrees with the reader";

  std::istringstream lines(row.text);
  std::vector<std::string> records;
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    records.push_back(line);
  }
  FreeFormScanner scanner(records);
  ASSERT_TRUE(scanner.Begin(0));
  std::string scanned;
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    ScannedItem item;
    ASSERT_TRUE(scanner.Next(false, item));
    scanned += item.kind == ScannedItem::Kind::kValue  ? 'V'
               : item.kind == ScannedItem::Kind::kNull ? 'N'
                                                       : 'S';
  }
  EXPECT_EQ(scanned, kinds);
  EXPECT_EQ(scanner.Line(), row.end_line);
  EXPECT_EQ(scanner.LeftoverValues(), row.leftover);
}

INSTANTIATE_TEST_SUITE_P(Texts, FreeFormScanTest,
                         ::testing::ValuesIn(kScanRows));

TEST(FreeFormScanTest, QuotedNameRunsOverARecordEndAndKeepsItsBlanks) {
  const std::vector<std::string> records = {"'my tr", "ait.dat' 3 x"};
  FreeFormScanner scanner(records);
  ASSERT_TRUE(scanner.Begin(0));
  ScannedItem name, count;
  ASSERT_TRUE(scanner.Next(true, name));
  ASSERT_TRUE(scanner.Next(false, count));
  EXPECT_EQ(count.line, 1u);
  EXPECT_EQ(count.first_column, 9u);
  EXPECT_EQ(scanner.LeftoverValues(), 1u);
  ASSERT_TRUE(scanner.Next(false, count));   // the "x"
  EXPECT_FALSE(scanner.Next(false, count));  // end of file
}

TEST(FreeFormScanTest, ReadRecordsSplitsLikeTheReader) {
  const std::filesystem::path file =
      testing::ScratchPathForCurrentTest("segmix_records_");
  std::ofstream(file, std::ios::binary) << "a\r\n\nb c\nlast";
  EXPECT_EQ(ReadRecords(file),
            (std::vector<std::string>{"a", "", "b c", "last"}));
  std::filesystem::remove(file);
  EXPECT_TRUE(ReadRecords(file).empty());
}

}  // namespace
}  // namespace segmix
