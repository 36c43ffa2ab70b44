// The companions' shared command-line pieces: list splitting, the exit status
// of each kind of failure, the whole-file writer when a write fails, and the
// four programs' statuses for a missing input, a bad option and a lost
// standard output.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "cli/command_line.h"
#include "cli/exit_status.h"
#include "cli/output_file.h"
#include "fit/fit_command.h"
#include "review/check_inputs.h"
#include "simulate/simulate_command.h"
#include "support/companion_test_support.h"

namespace segmix::cli {
namespace {

namespace fs = std::filesystem;
using prep::testing::ReadFile;
using prep::testing::ScratchDir;
using prep::testing::WriteFile;

TEST(SplitList, TrimsEveryPieceAndKeepsEmptyOnes) {
  const struct {
    const char* text;
    std::vector<std::string> pieces;
  } cases[] = {
      {"a,b", {"a", "b"}}, {" a ,\tb\t", {"a", "b"}}, {"a,,b", {"a", "", "b"}},
      {"a,", {"a", ""}},   {",a", {"", "a"}},         {"", {""}},
      {"  ", {""}},        {"a b,c", {"a b", "c"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SplitList(c.text, ','), c.pieces) << '"' << c.text << '"';
  }
}

TEST(ExitStatus, EachKindOfFailureHasItsStatus) {
  const struct {
    const char* what;
    int status;
    int expected;
  } cases[] = {
      {"input file", InputFileError("x").ExitStatus(), 2},
      {"output file", OutputFileError("x").ExitStatus(), 4},
      {"core refusal", InputRejected("x").ExitStatus(), 1},
      {"core unreadable", TextIoError("l", "m").ExitStatus(), 2},
      {"SIGINT", ExitStatusForSignal(2), 130},
      {"SIGTERM", ExitStatusForSignal(15), 143},
  };
  for (const auto& c : cases) EXPECT_EQ(c.status, c.expected) << c.what;
  const int table[] = {kExitDone,  kExitInputRefused,     kExitInputUnreadable,
                       kExitUsage, kExitOutputNotWritten, kExitInternal};
  for (int k = 0; k < 6; ++k) EXPECT_EQ(table[k], k);
}

TEST(WriteOutputFile, ReplacesWholeOrLeavesTheOldFile) {
  ScratchDir dir;
  const fs::path name = dir / "out.csv";
  WriteFile(name, "old\n");
  WriteOutputFile(name, "new text\n", ".tmp");
  EXPECT_EQ(ReadFile(name), "new text\n");
  // A folder that takes no new file: the temporary cannot be made, the old
  // file stands and no temporary is left.
  fs::permissions(dir.Path(), fs::perms::owner_read | fs::perms::owner_exec);
  bool refused = false;
  try {
    WriteOutputFile(name, "newer\n", ".tmp");
  } catch (const OutputFileError& error) {
    refused = true;
    EXPECT_NE(std::string(error.what()).find("out.csv"), std::string::npos);
  }
  fs::permissions(dir.Path(), fs::perms::owner_all);
  if (::geteuid() != 0) {
    EXPECT_TRUE(refused);
  }
  if (refused) {
    EXPECT_EQ(ReadFile(name), "new text\n");
  }
  for (const auto& entry : fs::directory_iterator(dir.Path())) {
    EXPECT_EQ(entry.path().filename(), "out.csv") << "left behind";
  }
  // The system's reason comes with the name.
  try {
    WriteOutputFile(dir / "no" / "such" / "f", "x", ".tmp");
    ADD_FAILURE() << "a file in a missing folder was written";
  } catch (const OutputFileError& error) {
    EXPECT_NE(
        std::string(error.what()).find(std::generic_category().message(ENOENT)),
        std::string::npos)
        << error.what();
  }
}

// Each program run in process: status and standard error.
struct ProgramRun {
  int status;
  std::string err;
};

// `lose_output`: standard output refuses every write (a full disk).
ProgramRun RunProgram(const std::string& program,
                      const std::vector<std::string>& args,
                      bool lose_output = false) {
  std::ostringstream out, err;
  if (lose_output) out.setstate(std::ios::badbit);
  std::vector<std::string> line = {program};
  line.insert(line.end(), args.begin(), args.end());
  std::vector<const char*> argv;
  for (const std::string& a : line) argv.push_back(a.c_str());
  const int argc = static_cast<int>(argv.size());
  int status = -1;
  if (program == "segmix-prep") {
    std::istringstream in;
    status = prep::RunPrepCommand(args, in, out, err);
  } else if (program == "segmix-simulate") {
    status = simulate::RunSimulateCommand(args, out, err);
  } else if (program == "segmix-check") {
    status = RunCheckCommand(argc, argv.data(), out, err);
  } else {
    status = fit::RunFitCommand(argc, argv.data(), out, err, false);
  }
  return {status, err.str()};
}

TEST(Companions, MissingInputIsTwoAndABadOptionThree) {
  ScratchDir dir;
  const std::string missing = (dir / "missing").string();
  const std::string out = (dir / "out").string();
  const struct {
    const char* program;
    std::vector<std::string> args;
    int status;
    const char* message;
  } cases[] = {
      {"segmix-prep", {missing, out}, kExitInputUnreadable, "missing"},
      {"segmix-check", {missing}, kExitInputUnreadable, "missing"},
      {"segmix-fit", {missing, "--out", out}, kExitInputUnreadable, "missing"},
      {"segmix-prep", {"--bogus", "t", out}, kExitUsage, "--bogus"},
      {"segmix-simulate", {"--bogus"}, kExitUsage, "--bogus"},
      {"segmix-check", {"--bogus"}, kExitUsage, "--bogus"},
      {"segmix-fit", {"--bogus"}, kExitUsage, "--bogus"},
      {"segmix-simulate",
       {"--output", (dir / "no" / "t.txt").string()},
       kExitOutputNotWritten,
       "cannot write"},
  };
  for (const auto& c : cases) {
    const ProgramRun run = RunProgram(c.program, c.args);
    EXPECT_EQ(run.status, c.status) << c.program << ": " << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos)
        << c.program << ": " << run.err;
  }
  EXPECT_FALSE(fs::exists(out));
}

// A report that never reached standard output is not a clean end; a failing
// status stays, since it says more.
TEST(Companions, LostStandardOutputIsNotSuccess) {
  ScratchDir dir;
  const std::string table = (dir / "t.txt").string();
  WriteFile(table,
            "family id father mother sex status trait\n1 1 0 0 1 1 2.5\n");
  const struct {
    const char* program;
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {"segmix-prep", {"--help"}, kExitOutputNotWritten},
      {"segmix-prep", {"--check", table}, kExitOutputNotWritten},
      {"segmix-check", {"--version"}, kExitOutputNotWritten},
      {"segmix-check", {(dir / "missing").string()}, kExitInputUnreadable},
  };
  for (const auto& c : cases) {
    const ProgramRun run = RunProgram(c.program, c.args, true);
    EXPECT_EQ(run.status, c.status) << c.program << ": " << run.err;
    EXPECT_NE(run.err.find("standard output could not be written"),
              std::string::npos)
        << c.program << ": " << run.err;
  }
}

}  // namespace
}  // namespace segmix::cli
