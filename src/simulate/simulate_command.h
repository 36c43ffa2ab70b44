// segmix-simulate's command line: options, help text, the run of the tool
// and its exit status.
#ifndef SEGMIX_SIMULATE_SIMULATE_COMMAND_H_
#define SEGMIX_SIMULATE_SIMULATE_COMMAND_H_

#include <iosfwd>
#include <string>
#include <vector>

#include "simulate/simulate.h"

namespace segmix::simulate {

// Parses `args` (without the program name) into `settings`, `output` (empty:
// standard output), `help` and `version`. Throws cli::UsageError.
void ParseSimulateArguments(const std::vector<std::string>& args,
                            SimulationSettings& settings, std::string& output,
                            bool& help, bool& version);
// The same without --version's flag.
void ParseSimulateArguments(const std::vector<std::string>& args,
                            SimulationSettings& settings, std::string& output,
                            bool& help);

// Runs segmix-simulate: the table goes to `out` or to the --output file,
// refusals to `err`. Returns the exit status (cli/exit_status.h): 0 done,
// 1 the ascertainment threshold was not reached, 3 bad command line, 4 the
// output file could not be written.
int RunSimulateCommand(const std::vector<std::string>& args, std::ostream& out,
                       std::ostream& err);

std::string SimulateHelpText();

}  // namespace segmix::simulate

#endif  // SEGMIX_SIMULATE_SIMULATE_COMMAND_H_
