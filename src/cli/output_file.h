// Where a program's output file really goes, and how it gets there without
// damaging what the name points at: a regular file (or a new name) is
// replaced whole through a temporary file renamed onto it, a symbolic link is
// followed to the file it names, and anything else that takes writes (a
// device such as /dev/null, a FIFO) is written in place and never replaced.
#ifndef SEGMIX_CLI_OUTPUT_FILE_H_
#define SEGMIX_CLI_OUTPUT_FILE_H_

#include <filesystem>
#include <string>
#include <string_view>

namespace segmix::cli {

struct OutputTarget {
  // `name` with every symbolic link along its last component followed.
  std::filesystem::path path;
  // True for a device, FIFO or socket: written in place, never renamed onto.
  bool in_place = false;
};

// Resolves `name`. Throws OutputFileError naming `name` when it is a directory,
// its links do not end (a loop) or its type cannot be read.
OutputTarget ResolveOutput(const std::filesystem::path& name);

// A temporary file name beside `target` (same directory, so a rename is
// atomic): "<dir>/.<file name><suffix>".
std::filesystem::path TemporaryBeside(const OutputTarget& target,
                                      std::string_view suffix);

// Moves the finished `temporary` onto `target`: forced to the disk (fsync)
// and renamed onto it, then the folder's entry synced; or, for an in-place
// target, copied into it and removed. Until the rename the old file stands
// whole. Throws OutputFileError naming
// `shown` (the name the user gave) when that fails; the temporary is removed
// either way.
void CommitOutput(const std::filesystem::path& temporary,
                  const OutputTarget& target, std::string_view shown);

// "cannot write NAME: REASON." with the system's text for `error` (an errno
// value) as REASON; 0 (a failure no system call reported) leaves it out.
std::string CannotWriteText(std::string_view name, int error);

// The whole of `text` into `name` the same way: ResolveOutput, a temporary
// "<dir>/.<file name><suffix>" beside the file, CommitOutput. Throws
// OutputFileError naming `name`; no temporary is left behind.
void WriteOutputFile(const std::filesystem::path& name, std::string_view text,
                     std::string_view suffix);

}  // namespace segmix::cli

#endif  // SEGMIX_CLI_OUTPUT_FILE_H_
