// What the companion programs share on their command lines: the errors a
// command reports outside its input data (a bad command line, a file that
// cannot be read or written; their statuses in cli/exit_status.h), the CLI11
// set-up, strict parsers for option values and list splitting.
#ifndef SEGMIX_CLI_COMMAND_LINE_H_
#define SEGMIX_CLI_COMMAND_LINE_H_

#include <cstdint>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "cli/exit_status.h"

namespace CLI {
class App;
class Validator;
}  // namespace CLI

namespace segmix::cli {

// A command line the program cannot act on; the text says what to change.
// Exit status kExitUsage.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file the program cannot use; the text names the file. Thrown as one of
// the two kinds below, which carry their exit status.
class FileError : public std::runtime_error {
 public:
  int ExitStatus() const { return exit_status_; }

 protected:
  FileError(int exit_status, const std::string& text)
      : std::runtime_error(text), exit_status_(exit_status) {}

 private:
  int exit_status_;
};

// An input file or folder that is missing or cannot be opened or read:
// kExitInputUnreadable.
class InputFileError : public FileError {
 public:
  explicit InputFileError(const std::string& text)
      : FileError(kExitInputUnreadable, text) {}
};

// An output that cannot be created, written or moved into place, or earlier
// output the program will not overwrite: kExitOutputNotWritten.
class OutputFileError : public FileError {
 public:
  explicit OutputFileError(const std::string& text)
      : FileError(kExitOutputNotWritten, text) {}
};

// Sets up `app` the way both programs parse: their own --help text (CLI11's
// is switched off), and an option given twice takes its last value. Call
// before adding options.
void PrepareCommandLine(CLI::App& app);

// Parses `args` (without the program name) with `app`, whose options store
// their values as given. Throws UsageError for an option without its value,
// a flag given a value, or anything `app` does not take: "unknown <unknown>
// X; see <program> --help." (`unknown` is "option" or "argument").
void ParseCommandLine(CLI::App& app, const std::vector<std::string>& args,
                      std::string_view program, std::string_view unknown);

// CLI11's own `check` (CLI::Range, CLI::IsMember, ...) with a failure text
// that says what the option takes: ParseCommandLine reports it as
// "<option> needs <what>, not "<value>".". Options that exclude each other
// (CLI11's excludes) are reported as "give either A or B, not both.".
CLI::Validator Needing(CLI::Validator check, std::string what);

// The whole of `text` as a finite number; UsageError naming `option`
// otherwise.
double ParseRealOption(std::string_view option, std::string_view text);
// The whole of `text` as an integer within [low, high]; UsageError naming
// `option` and the range otherwise.
std::int64_t ParseIntegerOption(std::string_view option, std::string_view text,
                                std::int64_t low, std::int64_t high);
// The whole of `text` as an unsigned 64-bit integer (a seed).
std::uint64_t ParseSeedOption(std::string_view option, std::string_view text);
// A probability: a real in [0, 1].
double ParseProbabilityOption(std::string_view option, std::string_view text);

// `text` cut at every `separator`; blanks and tabs around each piece are
// dropped. Empty pieces are kept (so "a,,b" gives "a", "", "b" and "" gives
// one empty piece): whether an empty name is an error or nothing is the
// caller's to say.
std::vector<std::string> SplitList(std::string_view text, char separator);

// ASCII lower case, for case-insensitive names.
std::string LowerCase(std::string_view text);

// Flushes `out`, the program's standard output, at its end. When a write to
// it failed (a full disk, >/dev/full), says on `err` that `lost` was lost
// (and `kept`, what was done all the same, when not empty) and returns
// kExitOutputNotWritten in place of a kExitDone `status`: a report that never
// arrived must not read as a clean result. A failing `status` is kept, since
// it says more.
int FinishStandardOutput(std::ostream& out, std::ostream& err,
                         std::string_view program, std::string_view lost,
                         int status, std::string_view kept = {});

}  // namespace segmix::cli

#endif  // SEGMIX_CLI_COMMAND_LINE_H_
