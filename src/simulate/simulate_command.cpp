// segmix-simulate's command line.
#include "simulate/simulate_command.h"

#include <CLI/CLI.hpp>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <ostream>
#include <sstream>
#include <utility>

#include "cli/command_line.h"
#include "cli/output_file.h"
#include "data/capacities.h"

namespace segmix::simulate {

using cli::ParseCommandLine;
using cli::ParseIntegerOption;
using cli::ParseProbabilityOption;
using cli::ParseRealOption;
using cli::ParseSeedOption;
using cli::PrepareCommandLine;
using cli::UsageError;

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
(Mendelian unless --Tr1..--Tr3 say otherwise) and 3 of each parent's 6
polygenic alleles, drawn without replacement (hypergeometric).

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
  --no-probands       no probands: every status code is 2, no family is
                      selected (not with --proband-status or --ascertain)
  --ascertain T       keep a family only when its proband's trait exceeds T
  --covariates K      covariate columns cov1..covK, 0 to 5 [0]
  --Q, --MU, --A, --D, --pga, --SIG, --Sex, --B1 .. --B5  VALUE
                      the model [Q 0.2, MU 3, A 1.5, D 0, pga 0, SIG 1,
                      Sex 0, B 0]; D may not exceed MU, SIG must be above 0
  --Tr1, --Tr2, --Tr3 P
                      probability that a parent of major genotype 1, 2 or 3
                      transmits the allele of frequency Q [1, 0.5, 0:
                      Mendelian]
  --output FILE       write the table to FILE instead of standard output
  --help              print this text
  --version           print the version and the capacities of this build

Exit status: 0 done; 1 the ascertainment threshold was not reached in 100000
draws of a family; 3 bad command line; 4 the output file could not be
written.
)";
}

void ParseSimulateArguments(const std::vector<std::string>& args,
                            SimulationSettings& s, std::string& output,
                            bool& help) {
  bool version = false;
  ParseSimulateArguments(args, s, output, help, version);
}

void ParseSimulateArguments(const std::vector<std::string>& args,
                            SimulationSettings& s, std::string& output,
                            bool& help, bool& version) {
  help = false;
  version = false;
  output.clear();
  ModelTruth& t = s.truth;
  using Setter =
      std::function<void(const std::string& name, const std::string& value)>;
  auto integer = [](int& target, std::int64_t low, std::int64_t high) {
    return [&target, low, high](const std::string& name,
                                const std::string& value) {
      target =
          static_cast<int>(cli::ParseIntegerOption(name, value, low, high));
    };
  };
  auto real = [](double& target) {
    return [&target](const std::string& name, const std::string& value) {
      target = cli::ParseRealOption(name, value);
    };
  };
  auto probability = [](double& target) {
    return [&target](const std::string& name, const std::string& value) {
      target = cli::ParseProbabilityOption(name, value);
    };
  };
  // The options with a value, each applied after the whole line is parsed.
  std::vector<std::pair<std::string, Setter>> setters = {
      {"--seed",
       [&](const std::string& name, const std::string& value) {
         s.seed = cli::ParseSeedOption(name, value);
       }},
      {"--families", integer(s.families, 1, 1000000)},
      {"--generations", integer(s.generations, 1, 10)},
      {"--children", real(s.children_mean)},
      {"--max-children", integer(s.max_children, 1, 20)},
      {"--marry-in", probability(s.marry_in)},
      {"--half-sibs", probability(s.half_sibs)},
      {"--missing", probability(s.missing)},
      {"--proband-status", integer(s.proband_code, 0, 1)},
      {"--ascertain",
       [&](const std::string& name, const std::string& value) {
         s.ascertain = cli::ParseRealOption(name, value);
       }},
      {"--covariates", integer(s.covariates, 0, 5)},
      {"--Q", probability(t.Q)},
      {"--MU", real(t.MU)},
      {"--A", real(t.A)},
      {"--D", real(t.D)},
      {"--pga", real(t.pga)},
      {"--SIG", real(t.SIG)},
      {"--Sex", real(t.Sex)},
      {"--Tr1", probability(t.Tr[0])},
      {"--Tr2", probability(t.Tr[1])},
      {"--Tr3", probability(t.Tr[2])},
      {"--output",
       [&](const std::string&, const std::string& value) {
         if (value.empty())
           throw cli::UsageError("--output needs a file name.");
         output = value;
       }},
  };
  for (int q = 1; q <= 5; ++q) {
    setters.emplace_back("--B" + std::to_string(q), real(t.B[q - 1]));
  }
  CLI::App app("segmix-simulate", "segmix-simulate");
  cli::PrepareCommandLine(app);
  bool no_probands = false;
  app.add_flag("-h,--help", help);
  app.add_flag("--version", version);
  CLI::Option* no_probands_option = app.add_flag("--no-probands", no_probands);
  std::vector<std::string> values(setters.size());
  std::vector<CLI::Option*> options;
  for (std::size_t k = 0; k < setters.size(); ++k) {
    options.push_back(app.add_option(setters[k].first, values[k]));
    // Without probands there is no proband to give a status code to or to
    // select families by: "give either --no-probands or --ascertain, not
    // both."
    if (setters[k].first == "--ascertain" ||
        setters[k].first == "--proband-status") {
      no_probands_option->excludes(options.back());
    }
  }
  cli::ParseCommandLine(app, args, "segmix-simulate", "argument");
  if (help || version) return;
  for (std::size_t k = 0; k < setters.size(); ++k) {
    if (options[k]->count() > 0) setters[k].second(setters[k].first, values[k]);
  }
  if (no_probands) s.probands = false;
  try {
    CheckSimulationSettings(s);
  } catch (const std::invalid_argument& bad) {
    throw cli::UsageError(std::string(bad.what()) + ".");
  }
}

int RunSimulateCommand(const std::vector<std::string>& args, std::ostream& out,
                       std::ostream& err) {
  SimulationSettings settings;
  std::string output;
  bool help = false;
  bool version = false;
  try {
    ParseSimulateArguments(args, settings, output, help, version);
  } catch (const cli::UsageError& error) {
    err << "segmix-simulate: " << error.what() << "\n";
    return cli::kExitUsage;
  }
  if (help) {
    out << SimulateHelpText();
    return cli::kExitDone;
  }
  if (version) {
    out << VersionText("segmix-simulate");
    return cli::kExitDone;
  }
  std::ostringstream table;
  try {
    WriteSimulatedTable(settings, SimulatePersons(settings), table);
  } catch (const SimulationFailed& failure) {
    err << "segmix-simulate: " << failure.what() << "\n";
    return cli::kExitInputRefused;
  }
  if (output.empty()) {
    out << table.str();
    out.flush();
    return out ? cli::kExitDone : cli::kExitOutputNotWritten;
  }
  // Written whole or not at all: a temporary file renamed into place, or
  // written in place onto a device or FIFO.
  try {
    cli::WriteOutputFile(output, table.str(), ".segmix-simulate.tmp");
  } catch (const cli::FileError& error) {
    err << "segmix-simulate: " << error.what() << "\n";
    return error.ExitStatus();
  }
  return cli::kExitDone;
}

}  // namespace segmix::simulate
