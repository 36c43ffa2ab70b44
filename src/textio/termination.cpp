// The early ends of a run: the error report of a failed text transfer, the
// stops, and rejected input. Each is an exception carrying exactly what goes
// to standard error; only the top of the program writes it and exits.
#include "textio/termination.h"

#include <string>

namespace segmix {

TextIoError::TextIoError(std::string locus_line, std::string message,
                         TerminationKind kind)
    : RunTermination(kind,
                     locus_line + "\nsegmix runtime error: " + message + "\n"),
      message_(std::move(message)) {}

std::string LocusOf(const std::source_location& where) {
  // The compiler gives the path it was handed; keep it from the source
  // folder down so reports do not depend on where the tree was checked out.
  std::string_view file = where.file_name();
  for (const std::string_view root : {"/src/", "/tests/", "/tools/"}) {
    const auto pos = file.rfind(root);
    if (pos != std::string_view::npos) {
      file.remove_prefix(pos + 1);
      break;
    }
  }
  return "At line " + std::to_string(where.line()) + " of file " +
         std::string(file);
}

void Stop(int exit_status) { throw StopRequest(exit_status, std::string()); }

void Stop(TerminationKind kind) { throw StopRequest(kind, std::string()); }

void StopWithMessage(std::string_view message, int exit_status) {
  throw StopRequest(exit_status, "STOP " + std::string(message) + "\n");
}

void StopWithMessage(std::string_view message, TerminationKind kind) {
  throw StopRequest(kind, "STOP " + std::string(message) + "\n");
}

InputRejected::InputRejected(std::string_view message, TerminationKind kind)
    : RunTermination(kind, std::string(message) + "\n") {}

}  // namespace segmix
