// What segmix-prep and segmix-simulate share on their command lines: the exit
// statuses, the two errors a command reports outside its input data (a bad
// command line, a file that cannot be read or written) and strict parsers for
// option values.
#ifndef SEGMIX_PREP_COMMAND_LINE_H_
#define SEGMIX_PREP_COMMAND_LINE_H_

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace segmix::prep {

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

// Walks a command line argument by argument. An option's value may be
// attached ("--seed=7") or be the next argument ("--seed 7"):
//
//   for (OptionCursor options(args); options.Next();) {
//     if (options.Name() == "--seed") seed = options.Value();
//   }
class OptionCursor {
 public:
  explicit OptionCursor(const std::vector<std::string>& args) : args_(args) {}
  // Moves to the next argument; false when there is none.
  bool Next();
  // The argument, without an attached "=value" when it begins with "--".
  const std::string& Name() const { return name_; }
  // The attached value, or else the next argument (which is then consumed);
  // UsageError naming the option when there is neither.
  std::string Value();

 private:
  const std::vector<std::string>& args_;
  std::size_t next_ = 0;
  std::string name_;
  std::string attached_;
  bool has_attached_ = false;
};

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

// Shortest decimal text that reads back as exactly `value` (std::to_chars).
std::string ShortestText(float value);
// `value` rounded to `decimals` places, fixed notation (std::to_chars, exact
// and the same on every standard library).
std::string FixedText(double value, int decimals);

}  // namespace segmix::prep

#endif  // SEGMIX_PREP_COMMAND_LINE_H_
