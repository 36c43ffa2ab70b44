// segmix-simulate's command line.
#include "simulate/simulate_command.h"

#include <filesystem>
#include <fstream>
#include <limits>
#include <ostream>
#include <sstream>

#include "prep/command_line.h"

namespace segmix::simulate {

using prep::kToolExitFile;
using prep::kToolExitOk;
using prep::kToolExitRejected;
using prep::kToolExitUsage;
using prep::OptionCursor;
using prep::ParseIntegerOption;
using prep::ParseProbabilityOption;
using prep::ParseRealOption;
using prep::ParseSeedOption;
using prep::UsageError;

std::string SimulateHelpText() {
  return R"(Usage: segmix-simulate [OPTIONS]

Draws a pedigree table from segmix's own model and writes it, in segmix-prep's
input format, to standard output or to the --output file. The same seed and
options give the same table, byte for byte, on every platform.

Families: two founders (generation 1) have children; with 3 or more
generations a child who is not of the last generation marries in a spouse (a
founder) with probability --marry-in and has children; any parent gets a
second marry-in spouse, with more children (half-sibs), with probability
--half-sibs. Children per couple: 1 + Poisson(--children - 1), at most
--max-children. With --generations 1 each family is one person.

Genotypes: founders draw their major genotype under Hardy-Weinberg
proportions with allele frequency Q (genotype 1 carries that allele twice)
and their polygenic genotype (6 allele slots, 3 additive loci) as
Binomial(6, 1/2); children receive one major allele from each parent
(Mendelian) and 3 of each parent's 6 polygenic alleles, drawn without
replacement (hypergeometric).

Traits: normal with variance SIG around MU, A or D (genotypes 1, 2, 3), plus
Sex for sex code 2, plus B1 cov1 + ... + BK covK, plus (x - 3) pga for x
increasing polygenic alleles. Covariates are standard normal. Traits are
written with 4 decimals (NA when missing), covariates with 3.

Probands: one per family, drawn among the members who have parents in the
family, status --proband-status (others 2); never missing. With --ascertain T
a family is drawn again until its proband's trait exceeds T.

Options (defaults in brackets):
  --seed N            seed of the random stream [1]
  --families N        number of families [100]
  --generations N     generations per family, 1 to 10 [3]
  --children MEAN     mean children per couple, at least 1 [2.5]
  --max-children N    most children per couple, 1 to 20 [8]
  --marry-in P        probability a child marries in and has children [0.6]
  --half-sibs P       probability a parent has a second spouse [0.05]
  --missing P         probability a trait value is missing [0.1]
  --proband-status C  status code of the probands, 0 or 1 [1]
  --no-probands       no probands: every status code is 2
  --ascertain T       keep a family only when its proband's trait exceeds T
  --covariates K      covariate columns cov1..covK, 0 to 5 [0]
  --Q, --MU, --A, --D, --pga, --SIG, --Sex, --B1 .. --B5  VALUE
                      the model [Q 0.2, MU 3, A 1.5, D 0, pga 0, SIG 1,
                      Sex 0, B 0]; D may not exceed MU, SIG must be above 0
  --output FILE       write the table to FILE instead of standard output
  --help              print this text

Exit status: 0 done; 1 the ascertainment threshold was not reached in 100000
draws of a family; 2 bad command line; 3 the output file could not be
written.
)";
}

void ParseSimulateArguments(const std::vector<std::string>& args,
                            SimulationSettings& s, std::string& output,
                            bool& help) {
  help = false;
  output.clear();
  for (OptionCursor options(args); options.Next();) {
    const std::string& arg = options.Name();
    auto integer = [&](std::int64_t low, std::int64_t high) {
      return static_cast<int>(ParseIntegerOption(arg, options.Value(), low, high));
    };
    ModelTruth& t = s.truth;
    if (arg == "--help" || arg == "-h") {
      help = true;
    } else if (arg == "--seed") {
      s.seed = ParseSeedOption(arg, options.Value());
    } else if (arg == "--families") {
      s.families = integer(1, 1000000);
    } else if (arg == "--generations") {
      s.generations = integer(1, 10);
    } else if (arg == "--children") {
      s.children_mean = ParseRealOption(arg, options.Value());
    } else if (arg == "--max-children") {
      s.max_children = integer(1, 20);
    } else if (arg == "--marry-in") {
      s.marry_in = ParseProbabilityOption(arg, options.Value());
    } else if (arg == "--half-sibs") {
      s.half_sibs = ParseProbabilityOption(arg, options.Value());
    } else if (arg == "--missing") {
      s.missing = ParseProbabilityOption(arg, options.Value());
    } else if (arg == "--proband-status") {
      s.proband_code = integer(0, 1);
    } else if (arg == "--no-probands") {
      s.probands = false;
    } else if (arg == "--ascertain") {
      s.ascertain = ParseRealOption(arg, options.Value());
    } else if (arg == "--covariates") {
      s.covariates = integer(0, 5);
    } else if (arg == "--Q") {
      t.Q = ParseProbabilityOption(arg, options.Value());
    } else if (arg == "--MU") {
      t.MU = ParseRealOption(arg, options.Value());
    } else if (arg == "--A") {
      t.A = ParseRealOption(arg, options.Value());
    } else if (arg == "--D") {
      t.D = ParseRealOption(arg, options.Value());
    } else if (arg == "--pga") {
      t.pga = ParseRealOption(arg, options.Value());
    } else if (arg == "--SIG") {
      t.SIG = ParseRealOption(arg, options.Value());
    } else if (arg == "--Sex") {
      t.Sex = ParseRealOption(arg, options.Value());
    } else if (arg.size() == 4 && arg.starts_with("--B") && arg[3] >= '1' &&
               arg[3] <= '5') {
      t.B[arg[3] - '1'] = ParseRealOption(arg, options.Value());
    } else if (arg == "--output") {
      output = options.Value();
      if (output.empty()) throw UsageError("--output needs a file name.");
    } else {
      throw UsageError("unknown argument " + arg +
                       "; see segmix-simulate --help.");
    }
  }
  if (help) return;
  try {
    CheckSimulationSettings(s);
  } catch (const std::invalid_argument& bad) {
    throw UsageError(std::string(bad.what()) + ".");
  }
}

int RunSimulateCommand(const std::vector<std::string>& args, std::ostream& out,
                       std::ostream& err) {
  SimulationSettings settings;
  std::string output;
  bool help = false;
  try {
    ParseSimulateArguments(args, settings, output, help);
  } catch (const UsageError& error) {
    err << "segmix-simulate: " << error.what() << "\n";
    return kToolExitUsage;
  }
  if (help) {
    out << SimulateHelpText();
    return kToolExitOk;
  }
  std::ostringstream table;
  try {
    WriteSimulatedTable(settings, SimulatePersons(settings), table);
  } catch (const SimulationFailed& failure) {
    err << "segmix-simulate: " << failure.what() << "\n";
    return kToolExitRejected;
  }
  if (output.empty()) {
    out << table.str();
    out.flush();
    return out ? kToolExitOk : kToolExitFile;
  }
  // Written whole or not at all: a temporary file renamed into place.
  const std::filesystem::path target(output);
  std::filesystem::path temporary = target;
  temporary += ".segmix-simulate.tmp";
  {
    std::ofstream file(temporary, std::ios::binary);
    file << table.str();
    file.flush();
    if (!file) {
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      err << "segmix-simulate: cannot write " << output << ".\n";
      return kToolExitFile;
    }
  }
  std::error_code error;
  std::filesystem::rename(temporary, target, error);
  if (error) {
    std::filesystem::remove(temporary, error);
    err << "segmix-simulate: cannot write " << output << ".\n";
    return kToolExitFile;
  }
  return kToolExitOk;
}

}  // namespace segmix::simulate
