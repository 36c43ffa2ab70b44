// Test support for the family data reader: a fixture that runs each test in
// a fresh temporary directory (the reader opens its files by name in the
// working directory), writes data files byte for byte, and loads them
// in-process with a string console, catching the run's early ends.
#ifndef SEGMIX_TESTS_DATA_DATA_TEST_SUPPORT_H_
#define SEGMIX_TESTS_DATA_DATA_TEST_SUPPORT_H_

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "data/family_store.h"
#include "data/read_family_data.h"
#include "support/scratch_path.h"
#include "textio/termination.h"
#include "textio/text_units.h"

namespace segmix::testing {

// How a load ended: normally (status 0, empty stderr) or by a RunTermination.
struct LoadOutcome {
  std::string console;
  int exit_status = 0;
  std::string stderr_text;
  bool capacity_stop = false;  // ended by a StopRequest
  bool text_error = false;     // ended by a TextIoError
  bool rejected = false;       // ended by InputRejected
};

class DataDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    original_ = std::filesystem::current_path();
    dir_ = segmix::testing::ScratchPathForCurrentTest("segmix_data_");
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    std::filesystem::current_path(dir_);
  }

  void TearDown() override {
    std::filesystem::current_path(original_);
    std::filesystem::remove_all(dir_);
  }

  // Writes `text` exactly as given (no line-end translation).
  static void WriteFile(const std::string& name, const std::string& text) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out << text;
  }

  static bool Exists(const std::string& name) {
    return std::filesystem::exists(name);
  }

  // Runs ReadFamilyData on the files of the working directory.
  LoadOutcome Load(const std::string& data_file_name = "trait.dat",
                   const std::vector<std::string>& covariates = {}) {
    std::ostringstream console;
    LoadOutcome outcome;
    {
      TextUnits units(console);
      try {
        ReadFamilyData(units, 2, data_file_name, covariates, store_);
      } catch (const StopRequest& stop) {
        outcome.capacity_stop = true;
        outcome.exit_status = stop.ExitStatus();
        outcome.stderr_text = stop.StderrText();
      } catch (const TextIoError& error) {
        outcome.text_error = true;
        outcome.exit_status = error.ExitStatus();
        outcome.stderr_text = error.StderrText();
      } catch (const InputRejected& rejected) {
        outcome.rejected = true;
        outcome.exit_status = rejected.ExitStatus();
        outcome.stderr_text = rejected.StderrText();
      }
      units.CloseAll();
    }
    outcome.console = console.str();
    return outcome;
  }

  // Joins records with "\n" and a final "\n".
  static std::string Lines(const std::vector<std::string>& records) {
    std::string text;
    for (const std::string& r : records) text += r + "\n";
    return text;
  }

  FamilyStore store_;

 private:
  std::filesystem::path original_;
  std::filesystem::path dir_;
};

// The two-family example: family 1 = members 1..4 (parents 1, 2; children 3,
// 4), family 2 = members 5..7 (parents 5, 6; child 7), one terminal nuclear
// family each.
inline const std::vector<std::string> kTwoFamilyIway = {
    "2 2 0 4 7", "2 0 1 2",         "4 2 0 4 7",     "7 1 2 3 4 1 2 3",
    "0 0",       "7 1 2 1 2 1 2 1", "2 2 0 2 2 2 1",
};
inline const std::string kTwoFamilyTrait =
    "12.5 13.1 14.0 -999 11.0 -999 10.4\n";

}  // namespace segmix::testing

#endif  // SEGMIX_TESTS_DATA_DATA_TEST_SUPPORT_H_
