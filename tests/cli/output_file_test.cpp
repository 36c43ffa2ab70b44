// Output placement: what each kind of name becomes after a write, and that
// nothing but a regular file or a new name is ever replaced.
#include "cli/output_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "cli/command_line.h"
#include "support/companion_test_support.h"

namespace segmix::prep {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::ScratchDir;
using testing::WriteFile;

// Writes `text` to `name` the way both programs do.
void WriteOutput(const fs::path& name, const std::string& text) {
  const cli::OutputTarget target = cli::ResolveOutput(name);
  const fs::path temporary = cli::TemporaryBeside(target, ".tmp");
  WriteFile(temporary, text);
  cli::CommitOutput(temporary, target, name.string());
}

TEST(OutputFile, EachKindOfName) {
  enum class Kind { kRegular, kNew, kLinkToFile, kLinkToNewName, kFifo };
  struct Case {
    const char* what;
    Kind kind;
  } cases[] = {
      {"regular file is replaced", Kind::kRegular},
      {"new name is created", Kind::kNew},
      {"link to a file is followed", Kind::kLinkToFile},
      {"link to a new name creates the file it names", Kind::kLinkToNewName},
      {"FIFO is written in place", Kind::kFifo},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    const fs::path name = dir / "out.txt";
    const fs::path file = dir / "file.txt";
    std::string read_from_fifo;
    std::thread reader;
    switch (c.kind) {
      case Kind::kRegular:
        WriteFile(name, "old text that is longer\n");
        break;
      case Kind::kNew:
        break;
      case Kind::kLinkToFile:
        WriteFile(file, "old text that is longer\n");
        fs::create_symlink("file.txt", name);
        break;
      case Kind::kLinkToNewName:
        fs::create_symlink("file.txt", name);
        break;
      case Kind::kFifo:
        ASSERT_EQ(::mkfifo(name.c_str(), 0600), 0);
        reader = std::thread([&] { read_from_fifo = ReadFile(name); });
        break;
    }
    WriteOutput(name, "new\n");
    if (reader.joinable()) reader.join();
    switch (c.kind) {
      case Kind::kRegular:
      case Kind::kNew:
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(name)));
        EXPECT_EQ(ReadFile(name), "new\n");
        break;
      case Kind::kLinkToFile:
      case Kind::kLinkToNewName:
        EXPECT_TRUE(fs::is_symlink(fs::symlink_status(name)));
        EXPECT_EQ(ReadFile(file), "new\n");
        break;
      case Kind::kFifo:
        EXPECT_TRUE(fs::is_fifo(fs::symlink_status(name)));
        EXPECT_EQ(read_from_fifo, "new\n");
        break;
    }
    for (const auto& entry : fs::directory_iterator(dir.Path())) {
      EXPECT_FALSE(entry.path().filename().string().starts_with("."))
          << "temporary left: " << entry.path();
    }
  }
}

TEST(OutputFile, DevicesAreWrittenInPlaceAndDirectoriesRefused) {
  // Only resolved, never written: a fault here must not touch /dev/null.
  const cli::OutputTarget device = cli::ResolveOutput("/dev/null");
  EXPECT_TRUE(device.in_place);
  EXPECT_EQ(device.path, fs::path("/dev/null"));

  ScratchDir dir;
  fs::create_directory(dir / "sub");
  fs::create_symlink("sub", dir / "link");
  fs::create_symlink("loop", dir / "loop");
  struct Case {
    const char* name;
    const char* message;
  } cases[] = {
      {"sub", "sub is a directory; give a file name."},
      {"link", "link is a directory; give a file name."},
      {"loop", "loop is a symbolic link that leads to no file (a loop)."},
  };
  for (const Case& c : cases) {
    try {
      cli::ResolveOutput(dir / c.name);
      ADD_FAILURE() << c.name << " accepted";
    } catch (const cli::FileError& error) {
      EXPECT_TRUE(std::string(error.what()).ends_with(c.message))
          << error.what();
    }
  }
}

}  // namespace
}  // namespace segmix::prep
