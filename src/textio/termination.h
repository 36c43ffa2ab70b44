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
inline constexpr int kExitNormal = 0;    // normal stop (and Stop())
inline constexpr int kExitRejected = 1;  // capacity stop, rejected input, failed start
inline constexpr int kExitTextIo = 2;    // failed text transfer (error report)

class RunTermination : public std::exception {
 public:
  RunTermination(int exit_status, std::string stderr_text)
      : exit_status_(exit_status), stderr_text_(std::move(stderr_text)) {}
  int ExitStatus() const { return exit_status_; }
  // Exactly what goes to standard error, line feeds included (may be empty).
  const std::string& StderrText() const { return stderr_text_; }
  const char* what() const noexcept override { return stderr_text_.c_str(); }

 private:
  int exit_status_;
  std::string stderr_text_;
};

// A failed text transfer or open: the two-line error report, exit status 2.
//   At line <n> of file <source file>[ (Unit <u> "<name>")| file: "<name>"]
//   segmix runtime error: <message>
class TextIoError : public RunTermination {
 public:
  TextIoError(std::string locus_line, std::string message);
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
[[noreturn]] void StopWithMessage(std::string_view message,
                                  int exit_status = kExitNormal);

// Input the program refuses before computing anything (out-of-range counts,
// inconsistent pedigree structure). The text should say what is wrong, where
// (file, record, value) and what to do; it is written followed by a line feed.
// Exit status 1.
class InputRejected : public RunTermination {
 public:
  explicit InputRejected(std::string_view message);
};

}  // namespace segmix

#endif  // SEGMIX_TEXTIO_TERMINATION_H_
