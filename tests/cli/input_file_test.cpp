// The companions' readers with limits: what is opened, and where a line is
// cut. Every refusal is exit status 2 and names the file (and the line).
#include "cli/input_file.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/text_table.h"
#include "fit/model_series.h"
#include "support/companion_test_support.h"

namespace segmix::cli {
namespace {

using prep::testing::ScratchDir;
using prep::testing::WriteFile;

// The message of the InputFileError `action` throws, or "" if none.
template <typename Action>
std::string InputFileErrorOf(Action action) {
  try {
    action();
  } catch (const InputFileError& error) {
    EXPECT_EQ(error.ExitStatus(), kExitInputUnreadable);
    return error.what();
  }
  return "";
}

TEST(ReadLineCapped, CutsAtTheLimitAndNamesTheLine) {
  const struct {
    const char* text;
    std::size_t limit;
    std::vector<std::string> lines;  // read before the end or the refusal
    const char* refusal;             // "" when the whole text is read
  } cases[] = {
      {"ab\ncd", 4, {"ab", "cd"}, ""},
      {"abcd\n", 4, {"abcd"}, ""},
      {"abcd\r\n", 4, {"abcd\r"}, ""},  // the carriage return is not counted
      {"\n\n", 4, {"", ""}, ""},
      {"", 4, {}, ""},
      {"ab\nabcde\nx\n", 4, {"ab"}, "t.txt, line 2: the line is longer than 4"},
      {"abcde", 4, {}, "t.txt, line 1: the line is longer than 4 characters;"},
      {"abcd\rx\n", 4, {}, "line 1"},  // a carriage return inside counts
  };
  for (const auto& c : cases) {
    std::istringstream in(c.text);
    std::vector<std::string> lines;
    const std::string refusal = InputFileErrorOf([&] {
      std::string line;
      while (ReadLineCapped(in, line, "t.txt", lines.size() + 1, c.limit)) {
        lines.push_back(line);
      }
    });
    EXPECT_EQ(lines, c.lines) << c.text;
    if (*c.refusal == '\0') {
      EXPECT_EQ(refusal, "") << c.text;
    } else {
      EXPECT_NE(refusal.find(c.refusal), std::string::npos) << refusal;
    }
  }
}

TEST(OpenInputFile, RefusesWhatIsNotATextFile) {
  ScratchDir dir;
  WriteFile(dir / "models.txt", "mixed Q=0.3\n");
  const struct {
    std::string path;
    const char* refusal;  // "" when it is opened
  } cases[] = {
      {(dir / "models.txt").string(), ""},
      {dir.Path().string(), " is a directory, not the model file"},
      {"/dev/zero", " is a device or socket, not the model file"},
      {(dir / "none").string(), "cannot open the model file "},
  };
  for (const auto& c : cases) {
    const std::string refusal = InputFileErrorOf([&] {
      std::ifstream in;
      OpenInputFile(in, c.path, "the model file");
    });
    if (*c.refusal == '\0') {
      EXPECT_EQ(refusal, "") << c.path;
    } else {
      EXPECT_NE(refusal.find(c.path), std::string::npos) << refusal;
      EXPECT_NE(refusal.find(c.refusal), std::string::npos) << refusal;
    }
  }
  // The model file's reader goes through the same door.
  EXPECT_NE(InputFileErrorOf([&] {
              fit::ReadModelFile(dir.Path());
            }).find("is a directory"),
            std::string::npos);
}

TEST(ReadTextTable, RefusesALineOverTheLimitWithFileAndLine) {
  std::string text = "a b\n1 2\n" + std::string(kMaxLineLength + 1, 'x');
  std::istringstream in(text);
  EXPECT_NE(InputFileErrorOf([&] { ReadTextTable(in, "big.txt"); })
                .find("big.txt, line 3: the line is longer than 67108864 "
                      "characters (64 MiB)"),
            std::string::npos);
}

}  // namespace
}  // namespace segmix::cli
