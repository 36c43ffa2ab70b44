// The exit statuses of the companion programs (segmix-prep, segmix-simulate,
// segmix-check, segmix-fit), in one place:
//
//   0      done (also --help and --version)
//   1      input refused: an input that was read but cannot be used (a table
//          or data set with errors, a starting point a run refuses, an
//          unreachable ascertainment threshold); segmix-check also ends with
//          1 when it has warnings
//   2      input unreadable: an input file or folder that is missing, cannot
//          be read, or (for segmix's own readers) does not parse
//   3      bad command line (nothing is read or written)
//   4      output not written: an output file or folder that cannot be
//          created or written, or earlier output that is not overwritten
//          without --force
//   5      internal fault: a fault of the program itself; please report it
//   128+N  stopped by signal N
//
// 1 and 2 are segmix's own statuses for the same failures, so an early end
// of a core reader (a RunTermination) passes its status through unchanged.
// segmix's own statuses (textio/termination.h) are not this table.
#ifndef SEGMIX_CLI_EXIT_STATUS_H_
#define SEGMIX_CLI_EXIT_STATUS_H_

#include "textio/termination.h"

namespace segmix::cli {

inline constexpr int kExitDone = 0;
inline constexpr int kExitInputRefused = 1;
inline constexpr int kExitInputUnreadable = 2;
inline constexpr int kExitUsage = 3;
inline constexpr int kExitOutputNotWritten = 4;
inline constexpr int kExitInternal = 5;

// The status of a program stopped by signal `signal` (SIGINT 2 gives 130).
constexpr int ExitStatusForSignal(int signal) { return 128 + signal; }

static_assert(kExitInputRefused == kExitRejected &&
                  kExitInputUnreadable == kExitTextIo,
              "a core reader's early end keeps its status in a companion");

}  // namespace segmix::cli

#endif  // SEGMIX_CLI_EXIT_STATUS_H_
