// segmix-fit's command line and the whole analysis it runs: load the data as
// segmix does, fit the model series, compare the models, write the report
// and the files.
//
// Exit statuses (cli/exit_status.h): 0 done (also --help and --version); 1 the
// input was refused (segmix's checks, with segmix's message); 2 an input file
// or folder could not be read (DIR, the model file, or segmix's error report);
// 3 a bad command line or model file (nothing is written); 4 an output file
// could not be written; 5 a fault of the program.
#ifndef SEGMIX_FIT_FIT_COMMAND_H_
#define SEGMIX_FIT_FIT_COMMAND_H_

#include <iosfwd>

namespace segmix::fit {

// Runs segmix-fit with `argv`; the report goes to `out`, progress and
// messages to `err`. `terminal`: err is a terminal (one updating line).
int RunFitCommand(int argc, const char* const* argv, std::ostream& out,
                  std::ostream& err, bool terminal);

}  // namespace segmix::fit

#endif  // SEGMIX_FIT_FIT_COMMAND_H_
