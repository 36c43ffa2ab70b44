// What segmix-prep and segmix-simulate share on their command lines: the exit
// statuses, the two errors a command reports outside its input data (a bad
// command line, a file that cannot be read or written), the CLI11 set-up and
// strict parsers for option values.
#ifndef SEGMIX_CLI_COMMAND_LINE_H_
#define SEGMIX_CLI_COMMAND_LINE_H_

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace CLI {
class App;
}  // namespace CLI

namespace segmix::cli {

// Exit statuses of segmix-prep and segmix-simulate.
inline constexpr int kToolExitOk = 0;        // done (also --help)
inline constexpr int kToolExitRejected = 1;  // the input data were refused
inline constexpr int kToolExitUsage = 2;     // bad command line
inline constexpr int kToolExitFile = 3;  // a file could not be read or written
inline constexpr int kToolExitInternal = 4;  // a fault of the tool itself

// A command line the tool cannot act on; the text says what to change.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file the tool cannot open, read, create or write, or an output it
// refuses to overwrite; the text names the file.
class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
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

// `text` cut at every `separator`; blanks around each piece are dropped.
std::vector<std::string> SplitList(std::string_view text, char separator);

// ASCII lower case, for case-insensitive names.
std::string LowerCase(std::string_view text);

}  // namespace segmix::cli

#endif  // SEGMIX_CLI_COMMAND_LINE_H_
