// segmix-prep's command line and report.
#include "prep/prep_command.h"

#include <fstream>
#include <iostream>
#include <set>

#include <CLI/CLI.hpp>

#include "data/capacities.h"
#include "data/family_store.h"
#include "textio/termination.h"
#include "prep/command_line.h"
#include "prep/pedigree_structure.h"
#include "prep/pedigree_table.h"
#include "prep/prepared_data.h"

namespace segmix::prep {
namespace {

struct PrepArguments {
  bool help = false;
  bool version = false;
  bool check_only = false;
  bool force = false;
  std::string table;
  std::string directory;
  PrepOptions options;
};

// A file name the program's control file can hold as an undelimited value:
// at most 16 characters, none of which ends or splits a free-form value.
void CheckFileName(std::string_view option, const std::string& name) {
  const bool plain =
      !name.empty() && name.size() <= kFileNameLength &&
      name.find_first_not_of(
          "abcdefghijklmnopqrstuvwxyz"
          "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-") == std::string::npos;
  if (!plain) {
    throw UsageError(std::string(option) +
                     " needs a file name of 1 to 16"
                     " letters, digits, dots, underscores or hyphens, not \"" +
                     name + "\".");
  }
}

PrepArguments ParseArguments(const std::vector<std::string>& args) {
  PrepArguments parsed;
  std::string covariates;
  bool has_covariates = false;
  std::string proband_switch;
  std::vector<std::string> positional;
  CLI::App app("segmix-prep", "segmix-prep");
  PrepareCommandLine(app);
  app.add_flag("-h,--help", parsed.help);
  app.add_flag("--version", parsed.version);
  app.add_flag("--check", parsed.check_only);
  app.add_flag("--force", parsed.force);
  CLI::Option* covariates_option = app.add_option("--covariates", covariates);
  CLI::Option* trait_file_option =
      app.add_option("--trait-file", parsed.options.trait_file);
  CLI::Option* switch_option = app.add_option("--proband-switch", proband_switch);
  app.add_option("arguments", positional);
  ParseCommandLine(app, args, "segmix-prep", "option");
  if (parsed.help || parsed.version) return parsed;
  has_covariates = covariates_option->count() > 0;
  if (has_covariates) {
    parsed.options.covariates = SplitList(covariates, ',');
    std::set<std::string> seen;
    for (const std::string& name : parsed.options.covariates) {
      if (name.empty()) {
        throw UsageError(
            "--covariates needs column names separated by"
            " commas, not \"" +
            covariates + "\".");
      }
      if (!seen.insert(LowerCase(name)).second) {
        throw UsageError("--covariates names the column \"" + name +
                         "\" twice.");
      }
    }
    if (parsed.options.covariates.size() > kMaxCovariates) {
      throw UsageError("--covariates names " +
                       std::to_string(parsed.options.covariates.size()) +
                       " columns; the model has at most 5 covariates"
                       " (B1 to B5).");
    }
  }
  if (trait_file_option->count() > 0) {
    CheckFileName("--trait-file", parsed.options.trait_file);
  }
  if (switch_option->count() > 0) {
    parsed.options.proband_switch = static_cast<std::int32_t>(
        ParseIntegerOption("--proband-switch", proband_switch, 0, 1));
  }
  const std::size_t wanted = parsed.check_only ? 1 : 2;
  if (positional.size() != wanted) {
    throw UsageError(
        parsed.check_only
            ? "give the table (or - for standard input) after --check."
            : "give the table (or - for standard input) and the output"
              " directory: segmix-prep [OPTIONS] TABLE DIRECTORY.");
  }
  parsed.table = positional[0];
  if (!parsed.check_only) parsed.directory = positional[1];
  const std::string trait = parsed.options.trait_file;
  for (int q = 1; q <= static_cast<int>(parsed.options.covariates.size());
       ++q) {
    if (trait == CovariateFileName(q)) {
      throw UsageError("--trait-file " + trait +
                       " is the name of a covariate file; choose another.");
    }
  }
  for (const std::string_view reserved :
       {kStructureFileName, kControlFileName, kMapFileName}) {
    if (trait == reserved) {
      throw UsageError("--trait-file " + trait +
                       " is the name of another output file; choose"
                       " another.");
    }
  }
  return parsed;
}

void Report(const PrepArguments& arguments, const PreparedData& data,
            std::ostream& out) {
  const FamilyStore& s = data.store;
  out << "segmix-prep: " << data.source << ": " << s.listed_family_count
      << " families, " << s.member_count << " persons (" << data.outside_count
      << " outside every nuclear family), " << s.list_offset_count - 2
      << " nuclear families.\n";
  out << "  observed trait values: " << data.trait.observed << ", mean "
      << FixedText(data.trait.mean, 4) << ", variance "
      << FixedText(data.trait.variance, 4) << ".\n";
  if (arguments.check_only) {
    out << "  the table is valid; nothing written (--check).\n";
    return;
  }
  out << "  in " << arguments.directory << ":";
  for (const std::string& name : OutputFileNames(data)) out << ' ' << name;
  out << "\n  next: check the starting values and bounds in par.inp, then run"
         " segmix in that directory.\n";
}

}  // namespace

std::string PrepHelpText() {
  return R"(Usage: segmix-prep [OPTIONS] TABLE DIRECTORY
       segmix-prep --check [OPTIONS] TABLE

Turns a pedigree table into the input files of segmix and writes them into
DIRECTORY (created if missing):
  iway.dat   the pedigree structure: nuclear families in a peeling order
  trait.dat  the trait values (one line per family; missing written -999)
  cov1.dat.. one file per covariate named by --covariates
  par.inp    a control file template: starting values, steps and bounds
             derived from the observed trait (Q, MU, A, D, SIG estimated;
             pga, Sex, Tr1..Tr3 out of the model; B1.. for the covariates)
  idmap.dat  family index and member position (as in iway.dat and in
             segmix's LH_fam.dat) back to the table's family and person ids
TABLE is a file name, or - for standard input. Nothing is written unless the
whole table is valid, and earlier output is not overwritten without --force.

The table has one row per person and a header line naming at least the
columns family, id, father, mother, sex, status and trait, in any order and
any case; other columns are ignored unless named by --covariates. Fields are
separated by blanks or tabs, or by commas when the header holds a comma (a
field may then be empty). A field may be quoted "like this". Blank lines and
lines starting with # are skipped.
  family          the family id (a family's rows need not be adjacent)
  id              the person's id, unique within the family, not 0
  father, mother  the parents' ids within the same family, or 0 (or empty)
                  for both when the person is a founder
  sex             1 or 2; a father has 1, a mother 2
  status          0 or 1 for a proband (0 also forces the ascertainment
                  correction of the family), 2 for everyone else
  trait           a number above -998; NA, . or empty when missing
  covariates      numbers; missing (NA, . or empty) only where the trait is

One parent given without the other is refused, not filled in. Two children
who share a known father may share the unknown mother (full sibs) or not
(half-sibs), the likelihood differs, and the table does not say which. Add a
row for the unknown parent yourself, a founder with trait NA, and name it as
the parent of exactly the children who share that parent; a founder whose
trait is missing contributes only its population prior, which is what an
unknown parent means to the model.

Also refused, each problem with its line, family and person: an id used
twice in a family, a parent who is not a person of the family, a father
whose sex is not 1 or a mother whose sex is not 2, a person who is their own
ancestor, a pedigree with a loop (a marriage or inbreeding loop cannot be
peeled by this likelihood), more than N_FAM = 604 families or N_SIZE = 25000
persons, and values as described above.

How iway.dat is built: every father-mother pair with its children is one
nuclear family (father listed first, then mother, then the children in table
order). Each connected part of a family is peeled towards its first nuclear
family in table order, which closes it as the part's terminal nuclear
family; every other nuclear family is peeled onto the parent or child it
shares with the part closer to the terminal one (a connecting child is listed
first among the children). Persons in no nuclear family (founders without
children in the table) get the member positions after all others. The result
is checked with segmix's own structure validator before anything is written.

Options:
  --covariates NAME[,NAME...]  covariate columns, at most 5; the first is
                               B1, the second B2, ...
  --trait-file NAME   name of the trait file (default trait.dat): 1 to 16
                      letters, digits, dots, underscores or hyphens
  --proband-switch N  the proband switch of par.inp: 1 (default) corrects
                      every family for ascertainment, 0 only the families
                      with a member of status 0
  --check             check the table and report; write nothing
  --force             overwrite the files of an earlier run in DIRECTORY
  --help              print this text
  --version           print the version and the capacities of this build

Exit status: 0 done; 1 the table was refused (every problem is listed on
standard error); 2 bad command line; 3 a file could not be read or written,
or DIRECTORY holds earlier output and --force was not given; 4 a fault of
segmix-prep itself (its output failed segmix's validator).
)";
}

int RunPrepCommand(const std::vector<std::string>& args, std::istream& in,
                   std::ostream& out, std::ostream& err) {
  PrepArguments arguments;
  try {
    arguments = ParseArguments(args);
  } catch (const UsageError& error) {
    err << "segmix-prep: " << error.what() << "\n";
    return kToolExitUsage;
  }
  if (arguments.help) {
    out << PrepHelpText();
    return kToolExitOk;
  }
  if (arguments.version) {
    out << VersionText("segmix-prep");
    return kToolExitOk;
  }
  try {
    // Problems of the rows' values and of the relations between the rows
    // are reported in one pass.
    ProblemList problems;
    PedigreeTable table;
    if (arguments.table == "-") {
      table = ReadPedigreeTable(in, "standard input",
                                arguments.options.covariates, problems);
    } else {
      std::ifstream file(arguments.table, std::ios::binary);
      if (!file) {
        throw FileError("cannot open the table " + arguments.table + ".");
      }
      table = ReadPedigreeTable(file, arguments.table,
                                arguments.options.covariates, problems);
    }
    if (!problems.Empty()) {
      BuildPedigreeFamilies(table, problems);
      problems.ThrowIfAny();
    }
    const PreparedData data = PrepareData(table, arguments.options);
    if (!arguments.check_only) {
      WritePreparedFiles(data, arguments.directory, arguments.force);
    }
    Report(arguments, data, out);
    return kToolExitOk;
  } catch (const InputRejected& refusal) {
    err << refusal.StderrText();
    err << "segmix-prep: the table was refused; nothing was written.\n";
    return kToolExitRejected;
  } catch (const FileError& error) {
    err << "segmix-prep: " << error.what() << "\n";
    return kToolExitFile;
  } catch (const InternalFault& fault) {
    err << fault.what() << "\n";
    return kToolExitInternal;
  }
}

}  // namespace segmix::prep
