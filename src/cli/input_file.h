// Opening and reading the companions' input files with limits: a directory
// or a device named as a table is refused before anything is read, and no
// line may grow past the record length segmix's own reader accepts (so
// /dev/zero, or a binary file without line feeds, fails in a fraction of a
// second instead of filling the memory).
#ifndef SEGMIX_CLI_INPUT_FILE_H_
#define SEGMIX_CLI_INPUT_FILE_H_

#include <cstddef>
#include <fstream>
#include <iosfwd>
#include <string>
#include <string_view>

namespace segmix::cli {

// The longest line a companion reads: 64 MiB, segmix's own record limit. A
// carriage return before the line feed is not counted.
inline constexpr std::size_t kMaxLineLength = std::size_t{1} << 26;

// Opens `path` for reading into `in` (binary). `what` names the input in
// messages ("the model file", "the --pheno file"). A regular file or a named
// pipe (a FIFO, process substitution <(...), /dev/stdin on a pipe) is read;
// a pipe is read as it comes, so a program meant to write it must run. Throws
// InputFileError (exit status 2) naming the path for a file that is missing
// or cannot be opened, a directory, and a device or socket.
void OpenInputFile(std::ifstream& in, const std::string& path,
                   std::string_view what);

// Reads the next line of `in` into `line` (without its line feed; a carriage
// return before it is kept for the caller). Returns false at the end of the
// input, with `line` empty. A line longer than `limit` (a final carriage
// return aside) throws InputFileError (exit status 2) naming `source` and
// `line_number`, the 1-based number of the line being read; reading stops
// there, so at most `limit` + 2 characters are ever held.
bool ReadLineCapped(std::istream& in, std::string& line,
                    std::string_view source, int line_number,
                    std::size_t limit = kMaxLineLength);

// The whole of `path` (opened as by OpenInputFile, every line capped as by
// ReadLineCapped), each line ended by a line feed.
std::string ReadTextFile(const std::string& path, std::string_view what);

}  // namespace segmix::cli

#endif  // SEGMIX_CLI_INPUT_FILE_H_
