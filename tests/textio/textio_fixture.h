// Helpers that make each text-record case one line: write values through a
// layout to a console string, read values from a file holding given text,
// and catch the error report of a failing statement.
#ifndef SEGMIX_TESTS_TEXTIO_TEXTIO_FIXTURE_H_
#define SEGMIX_TESTS_TEXTIO_TEXTIO_FIXTURE_H_

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "textio/statements.h"
#include "textio/termination.h"
#include "textio/text_units.h"

namespace segmix::testing {

// The console text of one write statement.
template <typename... Values>
std::string Write(std::string_view layout, const Values&... values) {
  std::ostringstream console;
  TextUnits units(console);
  WriteStatement w(units, kConsole, layout);
  ((w << values), ...);
  w.End();
  return console.str();
}

// A fresh scratch directory, removed afterwards.
class ScratchDir {
 public:
  ScratchDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::filesystem::temp_directory_path() /
            ("segmix_" + std::string(info->test_suite_name()) + "_" +
             info->name() + "_" + std::to_string(::getpid()));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() { std::filesystem::remove_all(path_); }
  std::string File(const std::string& name) const {
    return (path_ / name).string();
  }
  void Put(const std::string& name, const std::string& contents) const {
    std::ofstream(File(name), std::ios::binary) << contents;
  }
  std::string Get(const std::string& name) const {
    std::ifstream in(File(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// The message (second line of the report, after "segmix runtime error: ") of
// a TextIoError thrown by `action`, or "" when nothing was thrown.
template <typename Action>
std::string ErrorOf(Action&& action) {
  try {
    action();
  } catch (const TextIoError& error) {
    return error.Message();
  }
  return "";
}

}  // namespace segmix::testing

#endif  // SEGMIX_TESTS_TEXTIO_TEXTIO_FIXTURE_H_
