// Test support for the run-control tests: a fixture that gives every test a
// fresh temporary directory, file helpers that write and read bytes exactly,
// a runner for the built program (SEGMIX_BINARY) in that directory, and
// formatters for the fixed-layout edit items written independently of the
// program's own text layer (they go through the C library's printf, whose
// conversions are exact, and rearrange its digits by hand).
#ifndef SEGMIX_TESTS_RUN_RUN_TEST_SUPPORT_H_
#define SEGMIX_TESTS_RUN_RUN_TEST_SUPPORT_H_

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/scratch_path.h"

namespace segmix::testing {

// What one run of the program left behind.
struct ProgramRun {
  int exit_status = -1;
  std::string console;  // standard output
  std::string errors;   // standard error
};

class RunDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    original_ = std::filesystem::current_path();
    root_ = ScratchPathForCurrentTest("segmix_run_");
    std::filesystem::remove_all(root_);
    dir_ = root_ / "work";
    std::filesystem::create_directories(dir_);
    std::filesystem::current_path(dir_);
  }

  void TearDown() override {
    std::filesystem::current_path(original_);
    if (!HasFailure()) std::filesystem::remove_all(root_);
  }

  // Writes `text` exactly as given into the working directory.
  static void WriteFile(const std::string& name, const std::string& text) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out << text;
  }

  static std::string ReadFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  static bool Exists(const std::string& name) {
    return std::filesystem::exists(name);
  }

  // Runs the built program in the working directory with no arguments and
  // standard input closed off; its two output streams are caught in files
  // outside the working directory, so the directory holds only what the
  // program itself wrote.
  ProgramRun RunProgramHere() const {
    const std::filesystem::path out = root_ / "stdout.txt";
    const std::filesystem::path err = root_ / "stderr.txt";
    const std::string command = "'" + std::string(SEGMIX_BINARY) +
                                "' </dev/null >'" + out.string() + "' 2>'" +
                                err.string() + "'";
    const int status = std::system(command.c_str());
    ProgramRun run;
    run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.console = ReadFile(out.string());
    run.errors = ReadFile(err.string());
    return run;
  }

  // Records joined with line feeds, each record ending in one.
  static std::string Lines(const std::vector<std::string>& records) {
    std::string text;
    for (const std::string& r : records) text += r + "\n";
    return text;
  }

  static std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
      const std::size_t end = text.find('\n', start);
      if (end == std::string::npos) {
        lines.push_back(text.substr(start));
        break;
      }
      lines.push_back(text.substr(start, end - start));
      start = end + 1;
    }
    return lines;
  }

  std::filesystem::path root_;
  std::filesystem::path dir_;

 private:
  std::filesystem::path original_;
};

// Right-aligns `text` in `width` columns; a text longer than the field is
// given back unchanged (the callers decide about asterisks).
inline std::string RightAligned(const std::string& text, int width) {
  if (static_cast<int>(text.size()) >= width) return text;
  return std::string(width - text.size(), ' ') + text;
}

// Iw: the integer right-aligned, asterisks when it does not fit.
inline std::string EditI(long long value, int width) {
  const std::string text = std::to_string(value);
  if (static_cast<int>(text.size()) > width) return std::string(width, '*');
  return RightAligned(text, width);
}

// Ew.d: "0." + d significant digits + exponent one above printf's, written
// "E+dd" up to magnitude 99 and "+ddd" beyond; the "0" before the point is
// dropped when the text is one column too long.
inline std::string EditE(double value, int width, int digits) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*E", digits - 1, value);
  // buffer: [-]d.ddddE+xx (d - 1 digits after the point).
  std::string text(buffer);
  const bool negative = text[0] == '-';
  if (negative) text.erase(0, 1);
  const std::size_t e = text.find('E');
  std::string mantissa = text.substr(0, e);
  mantissa.erase(1, 1);  // the point after the first digit
  int exponent = std::stoi(text.substr(e + 1));
  if (value != 0) exponent += 1;
  const int magnitude = exponent < 0 ? -exponent : exponent;
  std::string exponent_text;
  char sign = exponent < 0 ? '-' : '+';
  if (magnitude <= 99) {
    std::snprintf(buffer, sizeof buffer, "E%c%02d", sign, magnitude);
  } else {
    std::snprintf(buffer, sizeof buffer, "%c%03d", sign, magnitude);
  }
  exponent_text = buffer;
  std::string result =
      std::string(negative ? "-" : "") + "0." + mantissa + exponent_text;
  if (static_cast<int>(result.size()) == width + 1) {
    result.erase(negative ? 1 : 0, 1);
  }
  if (static_cast<int>(result.size()) > width) return std::string(width, '*');
  return RightAligned(result, width);
}

// Fw.d through printf's %f, the leading "0" dropped when one column too long.
inline std::string EditF(double value, int width, int decimals) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  std::string result(buffer);
  if (static_cast<int>(result.size()) == width + 1) {
    const std::size_t zero = result[0] == '-' ? 1 : 0;
    if (result[zero] == '0' && result[zero + 1] == '.') result.erase(zero, 1);
  }
  if (static_cast<int>(result.size()) > width) return std::string(width, '*');
  return RightAligned(result, width);
}

}  // namespace segmix::testing

#endif  // SEGMIX_TESTS_RUN_RUN_TEST_SUPPORT_H_
