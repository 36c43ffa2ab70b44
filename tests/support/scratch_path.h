// The scratch directory name for the running test: unique per process and
// per test (parameterised names made path-safe), under the system's
// temporary directory, and the whole text of a file. Shared by the test
// folders that work in files.
#ifndef SEGMIX_TESTS_SUPPORT_SCRATCH_PATH_H_
#define SEGMIX_TESTS_SUPPORT_SCRATCH_PATH_H_

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

namespace segmix::testing {

inline std::filesystem::path ScratchPathForCurrentTest(
    std::string_view prefix) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "_" + info->name();
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  return std::filesystem::temp_directory_path() /
         (std::string(prefix) + std::to_string(::getpid()) + "_" + name);
}

// The whole of a file's bytes; "" when it cannot be read.
inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace segmix::testing

#endif  // SEGMIX_TESTS_SUPPORT_SCRATCH_PATH_H_
