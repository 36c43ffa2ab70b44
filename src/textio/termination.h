// The ways a run ends before its normal stop. Nothing below the top of the
// program exits the process: each early end is thrown as a RunTermination,
// and the top (RunProgram) flushes and closes every unit, writes StderrText()
// to standard error and exits with ExitStatus(). This keeps every layer,
// reader and the whole run testable in-process.
#ifndef SEGMIX_TEXTIO_TERMINATION_H_
#define SEGMIX_TEXTIO_TERMINATION_H_

#include <exception>
#include <source_location>
#include <string>
#include <string_view>

namespace segmix {

// Exit statuses of the program.
inline constexpr int kExitNormal = 0;  // normal stop (and Stop())
inline constexpr int kExitRejected =
    1;  // capacity stop, rejected input, failed start
inline constexpr int kExitTextIo = 2;  // failed text transfer (error report)

// What kind of early end a run met. A caller that runs many fits (or only
// checks the input) tells them apart by this, not by the text.
enum class TerminationKind {
  kStop,        // a plain stop, or one with a status of its own (a signal)
  kUnreadable,  // a file that cannot be opened, read or written
  kMalformed,   // text that does not parse under its layout or free-form rules
  kInconsistent,   // values that parse but cannot stand (ranges, structure)
  kCapacity,       // a build-time capacity (N_FAM, N_WAY, N_SIZE) exceeded
  kRejectedStart,  // a starting point that cannot be evaluated or searched from
};

// The exit status of each kind: 2 for text that cannot be read, 1 for input
// the program refuses. kStop has no status of its own (0 unless the stop
// names one).
constexpr int ExitStatusOf(TerminationKind kind) {
  switch (kind) {
    case TerminationKind::kUnreadable:
    case TerminationKind::kMalformed:
      return kExitTextIo;
    case TerminationKind::kInconsistent:
    case TerminationKind::kCapacity:
    case TerminationKind::kRejectedStart:
      return kExitRejected;
    case TerminationKind::kStop:
      break;
  }
  return kExitNormal;
}

class RunTermination : public std::exception {
 public:
  // A termination of `kind` exits with that kind's status.
  RunTermination(TerminationKind kind, std::string stderr_text)
      : kind_(kind),
        exit_status_(ExitStatusOf(kind)),
        stderr_text_(std::move(stderr_text)) {}
  // A plain stop with a status of its own (a stop signal: 128 + its number).
  RunTermination(int exit_status, std::string stderr_text)
      : kind_(TerminationKind::kStop),
        exit_status_(exit_status),
        stderr_text_(std::move(stderr_text)) {}
  TerminationKind Kind() const { return kind_; }
  int ExitStatus() const { return exit_status_; }
  // Exactly what goes to standard error, line feeds included (may be empty).
  const std::string& StderrText() const { return stderr_text_; }
  const char* what() const noexcept override { return stderr_text_.c_str(); }

 private:
  TerminationKind kind_;
  int exit_status_;
  std::string stderr_text_;
};

// A failed text transfer or open: the two-line error report, exit status 2.
//   At line <n> of file <source file>[ (Unit <u> "<name>")| file: "<name>"]
//   segmix runtime error: <message>
// Its kind is kUnreadable for a file that cannot be opened, read or written,
// kMalformed for text that does not parse.
class TextIoError : public RunTermination {
 public:
  TextIoError(std::string locus_line, std::string message,
              TerminationKind kind = TerminationKind::kMalformed);
  const std::string& Message() const { return message_; }

 private:
  std::string message_;
};

// The locus line's "At line %d of file %s" part for a statement written at
// `where` in the program's own source (path shortened to start at "src/").
std::string LocusOf(const std::source_location& where);

// Stop: ends the run with `exit_status` and writes nothing.
// StopWithMessage: writes "STOP <message>\n" to standard error first.
class StopRequest : public RunTermination {
 public:
  using RunTermination::RunTermination;
};
[[noreturn]] void Stop(int exit_status = kExitNormal);
[[noreturn]] void Stop(TerminationKind kind);
[[noreturn]] void StopWithMessage(std::string_view message,
                                  int exit_status = kExitNormal);
[[noreturn]] void StopWithMessage(std::string_view message,
                                  TerminationKind kind);

// Input the program refuses before computing anything (out-of-range counts,
// inconsistent pedigree structure). The text should say what is wrong, where
// (file, record, value) and what to do; it is written followed by a line feed.
// Kind kInconsistent unless said otherwise; exit status 1.
class InputRejected : public RunTermination {
 public:
  explicit InputRejected(std::string_view message,
                         TerminationKind kind = TerminationKind::kInconsistent);
};

}  // namespace segmix

#endif  // SEGMIX_TEXTIO_TERMINATION_H_
