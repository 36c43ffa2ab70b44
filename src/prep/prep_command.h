// segmix-prep's command line: options, help text, the run of the tool and
// its exit status.
#ifndef SEGMIX_PREP_PREP_COMMAND_H_
#define SEGMIX_PREP_PREP_COMMAND_H_

#include <iosfwd>
#include <string>
#include <vector>

namespace segmix::prep {

// Runs segmix-prep with `args` (without the program name). `in` is read
// when the table is "-". The report of a successful run goes to `out`, every
// refusal to `err`. Returns the exit status (cli/exit_status.h): 0 done,
// 1 table refused, 2 an input file not readable, 3 bad command line, 4 an
// output not written (or one that would be overwritten), 5 a fault of
// segmix-prep.
int RunPrepCommand(const std::vector<std::string>& args, std::istream& in,
                   std::ostream& out, std::ostream& err);

// The --help text.
std::string PrepHelpText();

}  // namespace segmix::prep

#endif  // SEGMIX_PREP_PREP_COMMAND_H_
