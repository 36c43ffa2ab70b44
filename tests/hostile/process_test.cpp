// The built program as a process among others: its command line, standard
// streams that are closed or full, the lock that keeps a second run out of a
// folder, and the stop signals. Result files are compared with those of a
// plain run of the same example, never with texts taken from the program.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "data/capacities.h"
#include "support/scratch_path.h"

namespace segmix {
namespace {

namespace fs = std::filesystem;

const char* const kResults[] = {"max.dat", "sigma.dat", "LH_fam.dat",
                                "par.err"};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

struct Outcome {
  int exit_status = -1;
  std::string out, err;
};

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = testing::ScratchPathForCurrentTest("segmix_process_");
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(root_);
  }

  // A folder `name` holding a copy of examples/`example`.
  fs::path Example(const std::string& name,
                   const std::string& example = "small") const {
    const fs::path dir = root_ / name;
    fs::create_directories(dir);
    for (const auto& entry : fs::directory_iterator(
             fs::path(SEGMIX_SOURCE_DIR) / "examples" / example)) {
      fs::copy_file(entry.path(), dir / entry.path().filename());
    }
    return dir;
  }

  // Runs the program in `dir` through the shell: `arguments` after its name,
  // then `redirections` (standard output and error go to files outside the
  // folder unless the redirections say otherwise).
  Outcome Run(const fs::path& dir, const std::string& arguments = "",
              const std::string& redirections = "</dev/null") const {
    const fs::path out = root_ / "out.txt", err = root_ / "err.txt";
    fs::remove(out);
    fs::remove(err);
    const std::string command =
        "cd '" + dir.string() + "' && exec '" SEGMIX_BINARY "' " + arguments +
        " >'" + out.string() + "' 2>'" + err.string() + "' " + redirections;
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out),
            ReadFile(err)};
  }

  fs::path root_;
};

// ---- the command line

struct ArgumentRow {
  const char* name;
  std::string arguments;
  int exit_status;
  std::string out_starts, err_starts;
};

const std::string kUsage = "usage: segmix [--help | --version]\n";

const ArgumentRow kArgumentRows[] = {
    {"Help", "--help", 0, kUsage, ""},
    {"Version", "--version", 0, VersionText("segmix"), ""},
    {"UnknownOption", "-x", 2, "",
     "segmix: unknown argument \"-x\"\n" + kUsage},
    {"EmptyArgument", "''", 2, "", "segmix: unknown argument \"\"\n" + kUsage},
    {"AFileName", "par.inp", 2, "",
     "segmix: unknown argument \"par.inp\"\n" + kUsage},
    {"TwoArguments", "--help --version", 2, "",
     "segmix: one argument at most; this one is too many: \"--version\"\n" +
         kUsage},
};

class ArgumentTest : public ProcessTest,
                     public ::testing::WithParamInterface<ArgumentRow> {};

TEST_P(ArgumentTest, AnswersAndRunsNothing) {
  const ArgumentRow& row = GetParam();
  const fs::path dir = Example("work");
  const Outcome o = Run(dir, row.arguments);
  EXPECT_EQ(o.exit_status, row.exit_status) << o.err;
  EXPECT_TRUE(o.out.starts_with(row.out_starts)) << o.out;
  EXPECT_TRUE(o.err.starts_with(row.err_starts)) << o.err;
  if (row.out_starts.empty()) {
    EXPECT_EQ(o.out, "");
  }
  if (row.err_starts.empty()) {
    EXPECT_EQ(o.err, "");
  }
  if (row.arguments == "--version") {
    EXPECT_EQ(o.out, row.out_starts);
  }
  if (row.arguments == "--help") {
    for (const char* text :
         {"par.inp", "iway.dat", "max.dat", "sigma.dat", "LH_fam.dat",
          "par.err", "segmix.lock", "Exit status:", "128+N"}) {
      EXPECT_NE(o.out.find(text), std::string::npos) << text;
    }
  }
  for (const char* result : kResults)
    EXPECT_FALSE(fs::exists(dir / result)) << result;
  EXPECT_FALSE(fs::exists(dir / "segmix.lock"));
}

INSTANTIATE_TEST_SUITE_P(Rows, ArgumentTest, ::testing::ValuesIn(kArgumentRows),
                         [](const ::testing::TestParamInfo<ArgumentRow>& info) {
                           return std::string(info.param.name);
                         });

// ---- standard streams closed or full at start

struct StreamRow {
  const char* name;
  std::string redirections;  // after those of Run()
  int exit_status;
  std::string err;  // standard error, when it is not closed
};

const StreamRow kStreamRows[] = {
    {"InputClosed", "<&-", 0, ""},
    {"OutputClosed", "</dev/null >&-", 0, ""},
    {"ErrorClosed", "</dev/null 2>&-", 0, ""},
    {"AllClosed", "<&- >&- 2>&-", 0, ""},
    {"OutputFull", "</dev/null >/dev/full", 2,
     "segmix: standard output could not be written (No space left on device): "
     "the console "
     "report is incomplete. The result files are not affected; send the report "
     "to a file "
     "with room.\n"},
};

class StreamTest : public ProcessTest,
                   public ::testing::WithParamInterface<StreamRow> {};

TEST_P(StreamTest, ResultFilesAsInAPlainRun) {
  const StreamRow& row = GetParam();
  const fs::path plain = Example("plain");
  const Outcome reference = Run(plain);
  ASSERT_EQ(reference.exit_status, 0) << reference.err;
  const fs::path dir = Example("work");
  const Outcome o = Run(dir, "", row.redirections);
  EXPECT_EQ(o.exit_status, row.exit_status);
  if (row.redirections.find("2>") == std::string::npos) {
    EXPECT_EQ(o.err, row.err);
  }
  for (const char* result : kResults) {
    EXPECT_EQ(ReadFile(dir / result), ReadFile(plain / result)) << result;
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, StreamTest, ::testing::ValuesIn(kStreamRows),
                         [](const ::testing::TestParamInfo<StreamRow>& info) {
                           return std::string(info.param.name);
                         });

// ---- the folder lock

TEST_F(ProcessTest, SecondRunInAFolderIsRefusedWhileTheLockIsHeld) {
  const fs::path dir = Example("work");
  for (const char* result : kResults) WriteFile(dir / result, "earlier\n");
  // This process holds the lock, as a running segmix would.
  const int fd = ::open((dir / "segmix.lock").c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_NE(fd, -1);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  const Outcome refused = Run(dir);
  EXPECT_EQ(refused.exit_status, 1);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err,
            "segmix.lock: another segmix run is working in this folder (it "
            "holds the lock). "
            "Wait for it to end, or start this run in a folder of its own; two "
            "runs in one "
            "folder would mix their result files.\n");
  for (const char* result : kResults)
    EXPECT_EQ(ReadFile(dir / result), "earlier\n") << result;
  ::close(fd);
  const Outcome after = Run(dir);
  EXPECT_EQ(after.exit_status, 0) << after.err;
  EXPECT_EQ(ReadFile(dir / "par.err"), "")
      << "par.err holds this run's messages only";
}

// ---- stop signals during the search

struct SignalRow {
  const char* name;
  int signal_number;
  bool hangup_ignored_at_start;  // as under nohup: SIGHUP is sent first, to no
                                 // effect
  const char* signal_name;
};

const SignalRow kSignalRows[] = {
    {"Terminate", SIGTERM, false, "SIGTERM"},
    {"Interrupt", SIGINT, false, "SIGINT"},
    {"HangUp", SIGHUP, false, "SIGHUP"},
    {"HangUpIgnoredUnderNohup", SIGTERM, true, "SIGTERM"},
};

class SignalTest : public ProcessTest,
                   public ::testing::WithParamInterface<SignalRow> {};

TEST_P(SignalTest, EndsTheSearchCleanly) {
  const SignalRow& row = GetParam();
  const fs::path dir = Example("work", "simulated");
  WriteFile(dir / "sigma.dat", "earlier\n");
  WriteFile(dir / "LH_fam.dat", "earlier\n");
  const fs::path out = root_ / "signalled_out.txt",
                 err = root_ / "signalled_err.txt";
  const pid_t pid = ::fork();
  ASSERT_NE(pid, -1);
  if (pid == 0) {
    // A plain start: the dispositions this test process may have inherited
    // (a background job ignores SIGINT) are not the program's.
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) std::signal(s, SIG_DFL);
    if (row.hangup_ignored_at_start) std::signal(SIGHUP, SIG_IGN);
    if (::chdir(dir.c_str()) != 0) ::_exit(127);
    const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(o, 1);
    ::dup2(e, 2);
    ::execl(SEGMIX_BINARY, "segmix", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // Wait until the search has written into max.dat: the run is in the search.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (!(fs::exists(dir / "max.dat") && fs::file_size(dir / "max.dat") > 0) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_TRUE(fs::exists(dir / "max.dat"));

  // A second run in the same folder meanwhile: refused at once.
  const Outcome second = Run(dir);
  EXPECT_EQ(second.exit_status, 1);
  EXPECT_TRUE(
      second.err.starts_with("segmix.lock: another segmix run is working"))
      << second.err;

  if (row.hangup_ignored_at_start) {
    ::kill(pid, SIGHUP);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ::kill(pid, row.signal_number);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 128 + row.signal_number);

  const std::string errors = ReadFile(err);
  EXPECT_TRUE(std::regex_match(
      errors,
      std::regex(
          std::string("segmix: stopped by ") + row.signal_name +
          " during the search, after [1-9][0-9]* of its evaluations; max\\.dat "
          "holds the iteration blocks written until then\\. sigma\\.dat and "
          "LH_fam\\.dat were not written\\.\n")))
      << errors;
  // Whole iteration blocks of 14 records, and whole console records.
  const std::string history = ReadFile(dir / "max.dat");
  ASSERT_FALSE(history.empty());
  EXPECT_EQ(history.back(), '\n');
  EXPECT_EQ(std::count(history.begin(), history.end(), '\n') % 14, 0);
  const std::string console = ReadFile(out);
  EXPECT_EQ(console.back(), '\n');
  EXPECT_EQ(console.find("END OF PROGRAM"), std::string::npos);
  // The earlier run's results are gone; nothing of this run's claims them.
  EXPECT_FALSE(fs::exists(dir / "sigma.dat"));
  EXPECT_FALSE(fs::exists(dir / "LH_fam.dat"));
  EXPECT_EQ(ReadFile(dir / "par.err"), "");
}

INSTANTIATE_TEST_SUITE_P(Rows, SignalTest, ::testing::ValuesIn(kSignalRows),
                         [](const ::testing::TestParamInfo<SignalRow>& info) {
                           return std::string(info.param.name);
                         });

// ---- stop signals while an input is a named pipe nothing writes

class PipeWaitTest : public ProcessTest,
                     public ::testing::WithParamInterface<SignalRow> {};

TEST_P(PipeWaitTest, EndsPromptly) {
  const SignalRow& row = GetParam();
  const fs::path dir = Example("work", "small");
  fs::remove(dir / "trait.dat");
  ASSERT_EQ(::mkfifo((dir / "trait.dat").c_str(), 0644), 0);
  const fs::path err = root_ / "pipe_err.txt";
  const pid_t pid = ::fork();
  ASSERT_NE(pid, -1);
  if (pid == 0) {
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) std::signal(s, SIG_DFL);
    if (::chdir(dir.c_str()) != 0) ::_exit(127);
    const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(e, 2);
    ::execl(SEGMIX_BINARY, "segmix", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // par.err is emptied after the lock, before the data files are opened.
  const auto wait_until = [](auto done, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
  };
  ASSERT_TRUE(wait_until([&] { return fs::exists(dir / "par.err"); },
                         std::chrono::seconds(30)));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ::kill(pid, row.signal_number);
  int status = 0;
  const bool ended = wait_until(
      [&] { return status != 0 || ::waitpid(pid, &status, WNOHANG) == pid; },
      std::chrono::seconds(10));
  if (!ended) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    FAIL() << row.signal_name << " did not end a run waiting on a pipe";
  }
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 128 + row.signal_number);
  EXPECT_EQ(ReadFile(err), std::string("segmix: stopped by ") +
                               row.signal_name +
                               " while waiting for a program to write the "
                               "named pipe \"trait.dat\"; the run had not "
                               "started: max.dat, sigma.dat and LH_fam.dat "
                               "were not written.\n");
  EXPECT_FALSE(fs::exists(dir / "max.dat"));
}

INSTANTIATE_TEST_SUITE_P(Rows, PipeWaitTest,
                         ::testing::ValuesIn(kSignalRows, kSignalRows + 2),
                         [](const ::testing::TestParamInfo<SignalRow>& info) {
                           return std::string(info.param.name);
                         });

// A named pipe that a program does write is read as the file it carries:
// the run's report and files are those of the same data in a regular file.
TEST_F(ProcessTest, ATraitFileFedThroughANamedPipeReadsAsTheFile) {
  const fs::path file = Example("file"), pipe = Example("pipe");
  const std::string traits = ReadFile(pipe / "trait.dat");
  fs::remove(pipe / "trait.dat");
  ASSERT_EQ(::mkfifo((pipe / "trait.dat").c_str(), 0644), 0);
  std::thread writer(
      [&] { std::ofstream(pipe / "trait.dat", std::ios::binary) << traits; });
  const Outcome piped = Run(pipe);
  writer.join();
  const Outcome plain = Run(file);
  ASSERT_EQ(plain.exit_status, 0) << plain.err;
  EXPECT_EQ(piped.exit_status, 0) << piped.err;
  EXPECT_EQ(piped.out, plain.out);
  EXPECT_EQ(piped.err, plain.err);
  for (const char* name : {"max.dat", "sigma.dat", "LH_fam.dat", "par.err"}) {
    EXPECT_EQ(ReadFile(pipe / name), ReadFile(file / name)) << name;
  }
}

}  // namespace
}  // namespace segmix
