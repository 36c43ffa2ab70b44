// Helpers of the companion programs' tests: scratch directories, whole-file
// reads, and running a tool's command in-process with its streams captured.
#ifndef SEGMIX_TESTS_SUPPORT_COMPANION_TEST_SUPPORT_H_
#define SEGMIX_TESTS_SUPPORT_COMPANION_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "prep/pedigree_table.h"
#include "prep/prep_command.h"
#include "textio/termination.h"

namespace segmix::prep::testing {

// A fresh directory named after the running test, removed afterwards. A
// random suffix keeps runs of the same test apart: several builds' test
// suites may run on one machine at once. The name is made from letters,
// digits and underscores only, so it can be quoted in a shell command.
class ScratchDir {
 public:
  ScratchDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = "segmix_companion_" +
                       std::string(info->test_suite_name()) + "_" +
                       std::string(info->name());
    for (char& c : name) {
      const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                         (c >= '0' && c <= '9');
      if (!plain) c = '_';
    }
    std::random_device device;
    while (true) {
      path_ = std::filesystem::temp_directory_path() /
              (name + "_" + std::to_string(device()));
      if (std::filesystem::create_directory(path_)) break;
    }
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const {
    return path_ / name;
  }

 private:
  std::filesystem::path path_;
};

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteFile(const std::filesystem::path& path,
                      const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

struct CommandResult {
  int status = -1;
  std::string out;
  std::string err;
};

inline CommandResult RunPrep(const std::vector<std::string>& args,
                             const std::string& input = {}) {
  std::istringstream in(input);
  std::ostringstream out;
  std::ostringstream err;
  CommandResult result;
  result.status = RunPrepCommand(args, in, out, err);
  result.out = out.str();
  result.err = err.str();
  return result;
}

inline PedigreeTable ParseTable(
    const std::string& text, const std::vector<std::string>& covariates = {}) {
  std::istringstream in(text);
  return ReadPedigreeTable(in, "ped.txt", covariates);
}

// The text of the InputRejected that `action` throws, or "" if none.
template <typename Action>
std::string RefusalOf(Action action) {
  try {
    action();
  } catch (const InputRejected& refusal) {
    return refusal.StderrText();
  }
  return {};
}

}  // namespace segmix::prep::testing

#endif  // SEGMIX_TESTS_SUPPORT_COMPANION_TEST_SUPPORT_H_
