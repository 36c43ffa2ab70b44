// The scratch directory name for the running test: unique per process and
// per test (parameterised names made path-safe), under the system's
// temporary directory. Shared by the test folders that work in files.
#ifndef SEGMIX_TESTS_SUPPORT_SCRATCH_PATH_H_
#define SEGMIX_TESTS_SUPPORT_SCRATCH_PATH_H_

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
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

}  // namespace segmix::testing

#endif  // SEGMIX_TESTS_SUPPORT_SCRATCH_PATH_H_
