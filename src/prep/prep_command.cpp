// segmix-prep's command line and report.
#include "prep/prep_command.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <fstream>
#include <iostream>
#include <map>
#include <set>

#include "cli/command_line.h"
#include "cli/input_file.h"
#include "data/capacities.h"
#include "data/family_store.h"
#include "prep/pedigree_structure.h"
#include "prep/pedigree_table.h"
#include "prep/prepared_data.h"
#include "textio/number_text.h"
#include "textio/termination.h"

namespace segmix::prep {
namespace {

struct PrepArguments {
  bool help = false;
  bool version = false;
  bool check_only = false;
  bool force = false;
  std::string table;  // the header table, or empty with --fam
  std::string fam;    // the .fam file, or empty
  std::vector<std::string> fam_columns;
  std::vector<std::string> phenotype_files;
  std::string directory;
  PrepOptions options;
  ReadingRules rules;
};

// A comma-separated list of names or codes, none empty.
std::vector<std::string> NonEmptyList(std::string_view option,
                                      const std::string& list) {
  std::vector<std::string> pieces = cli::SplitList(list, ',');
  for (const std::string& piece : pieces) {
    if (piece.empty()) {
      throw cli::UsageError(std::string(option) +
                            " needs values separated by commas, not \"" + list +
                            "\".");
    }
  }
  return pieces;
}

// A file name the program's control file can hold as an undelimited value:
// at most 16 characters, none of which ends or splits a free-form value.
void CheckFileName(std::string_view option, const std::string& name) {
  const bool plain =
      !name.empty() && name.size() <= kFileNameLength &&
      name.find_first_not_of(
          "abcdefghijklmnopqrstuvwxyz"
          "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-") == std::string::npos;
  if (!plain) {
    throw cli::UsageError(
        std::string(option) +
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
  cli::PrepareCommandLine(app);
  app.add_flag("-h,--help", parsed.help);
  app.add_flag("--version", parsed.version);
  app.add_flag("--check", parsed.check_only);
  app.add_flag("--force", parsed.force);
  CLI::Option* covariates_option = app.add_option("--covariates", covariates);
  CLI::Option* trait_file_option =
      app.add_option("--trait-file", parsed.options.trait_file);
  CLI::Option* switch_option =
      app.add_option("--proband-switch", proband_switch);
  std::string fam_columns, missing, coding, proband;
  app.add_option("--fam", parsed.fam);
  CLI::Option* columns_option = app.add_option("--columns", fam_columns);
  // One file per --pheno (repeat the option for more): a vector option
  // would otherwise also take the output directory after it.
  app.add_option("--pheno", parsed.phenotype_files)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->expected(1)
      ->allow_extra_args(false);
  CLI::Option* missing_option = app.add_option("--missing", missing);
  CLI::Option* coding_option =
      app.add_option("--proband-coding", coding)
          ->check(cli::Needing(CLI::IsMember({"12", "01"}),
                               "12 (status 0 or 1 a proband, 2 not) or 01"
                               " (status 1 a proband, 0 not)"));
  CLI::Option* proband_option = app.add_option("--proband", proband);
  coding_option->excludes(proband_option);
  app.add_option("arguments", positional);
  cli::ParseCommandLine(app, args, "segmix-prep", "option");
  if (parsed.help || parsed.version) return parsed;
  has_covariates = covariates_option->count() > 0;
  if (has_covariates) {
    parsed.options.covariates = cli::SplitList(covariates, ',');
    std::set<std::string> seen;
    for (const std::string& name : parsed.options.covariates) {
      if (name.empty()) {
        throw cli::UsageError(
            "--covariates needs column names separated by"
            " commas, not \"" +
            covariates + "\".");
      }
      if (!seen.insert(cli::LowerCase(name)).second) {
        throw cli::UsageError("--covariates names the column \"" + name +
                              "\" twice.");
      }
    }
    if (parsed.options.covariates.size() > kMaxCovariates) {
      throw cli::UsageError("--covariates names " +
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
        cli::ParseIntegerOption("--proband-switch", proband_switch, 0, 1));
  }
  std::vector<std::string> columns;
  if (columns_option->count() > 0) {
    if (parsed.fam.empty()) {
      throw cli::UsageError(
          "--columns names the phenotype columns of a --fam file; a table"
          " with a header names its own columns.");
    }
    columns = NonEmptyList("--columns", fam_columns);
  }
  if (missing_option->count() > 0) {
    parsed.rules.missing_codes = NonEmptyList("--missing", missing);
  }
  using Coding = ReadingRules::ProbandCoding;
  if (coding_option->count() > 0) {
    parsed.rules.proband_coding =
        coding == "01" ? Coding::kStatus01 : Coding::kStatus012;
  }
  if (proband_option->count() > 0) {
    const std::size_t equals = proband.find('=');
    if (equals == 0 || equals == std::string::npos ||
        equals + 1 == proband.size()) {
      throw cli::UsageError(
          "--proband needs COLUMN=VALUE (for example"
          " affected=2), not \"" +
          proband + "\".");
    }
    parsed.rules.proband_coding = Coding::kColumn;
    parsed.rules.proband_column = proband.substr(0, equals);
    parsed.rules.proband_value = proband.substr(equals + 1);
  }
  parsed.fam_columns = columns;
  const bool fam = !parsed.fam.empty();
  const std::size_t wanted = (parsed.check_only ? 1 : 2) - (fam ? 1 : 0);
  if (positional.size() != wanted) {
    throw cli::UsageError(
        fam ? (parsed.check_only
                   ? "with --fam and --check give no table; the pedigree is"
                     " the --fam file."
                   : "with --fam give only the output directory:"
                     " segmix-prep --fam FILE [OPTIONS] DIRECTORY.")
        : parsed.check_only
            ? "give the table (or - for standard input) after --check."
            : "give the table (or - for standard input) and the output"
              " directory: segmix-prep [OPTIONS] TABLE DIRECTORY.");
  }
  if (!fam) parsed.table = positional[0];
  if (!parsed.check_only) parsed.directory = positional.back();
  const std::string trait = parsed.options.trait_file;
  for (const std::string& name :
       CovariateFileNames(parsed.options.covariates, trait)) {
    if (trait == name) {
      throw cli::UsageError(
          "--trait-file " + trait +
          " is the name of a covariate file; choose another.");
    }
  }
  for (const std::string_view reserved :
       {kStructureFileName, kControlFileName, kMapFileName}) {
    if (trait == reserved) {
      throw cli::UsageError("--trait-file " + trait +
                            " is the name of another output file; choose"
                            " another.");
    }
  }
  return parsed;
}

// The median of `values` (sorted here), as text: "1" or "1.5".
std::string MedianText(std::vector<int> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  if (n == 0) return "0";
  const int twice = values[(n - 1) / 2] + values[n / 2];
  return std::to_string(twice / 2) + (twice % 2 != 0 ? ".5" : "");
}

// What catches a mistake in the input: founders, unknown sexes, missing
// values per column, probands per family, the families the ascertainment
// correction touches, and families that the correction leaves empty.
void ReportChecks(const PrepArguments& arguments, const PedigreeTable& table,
                  std::ostream& out) {
  int founders = 0, unknown_sex = 0, minus_nine = 0, minus_ninety_nine = 0;
  // Per family, in order of first appearance.
  struct Tally {
    std::string id;
    int probands = 0;
    int observed = 0;
    int observed_probands = 0;
    bool status_zero = false;
  };
  std::vector<Tally> tallies;
  std::map<std::string, std::size_t> index;
  for (const PersonRow& row : table.rows) {
    if (row.father.empty()) ++founders;
    if (row.sex == 0) ++unknown_sex;
    if (row.trait_observed && row.trait == -9.0f) ++minus_nine;
    if (row.trait_observed && row.trait == -99.0f) ++minus_ninety_nine;
    const auto [at, inserted] = index.emplace(row.family, tallies.size());
    if (inserted) tallies.push_back(Tally{row.family});
    Tally& t = tallies[at->second];
    const bool proband = row.status != 2;
    t.probands += proband ? 1 : 0;
    t.observed += row.trait_observed ? 1 : 0;
    t.observed_probands += proband && row.trait_observed ? 1 : 0;
    t.status_zero = t.status_zero || row.status == 0;
  }
  out << "  founders: " << founders << "; sex unknown (0): " << unknown_sex
      << (unknown_sex > 0 ? " (keep Sex out of the model)" : "") << ".\n";
  out << "  missing values:";
  for (std::size_t k = 0; k < table.missing_counts.size(); ++k) {
    out << (k > 0 ? "," : "") << ' ' << table.missing_counts[k].first << ' '
        << table.missing_counts[k].second;
  }
  out << ".\n";
  std::vector<int> per_family;
  int corrected = 0, without = 0;
  for (const Tally& t : tallies) {
    per_family.push_back(t.probands);
    without += t.probands == 0 ? 1 : 0;
    const bool correction =
        arguments.options.proband_switch != 0 || t.status_zero;
    corrected += correction && t.observed_probands > 0 ? 1 : 0;
  }
  out << "  probands per family: min "
      << *std::min_element(per_family.begin(), per_family.end()) << ", median "
      << MedianText(per_family) << ", max "
      << *std::max_element(per_family.begin(), per_family.end()) << "; "
      << without << " families without a proband.\n";
  out << "  families corrected for ascertainment (an observed proband, proband"
         " switch "
      << arguments.options.proband_switch << "): " << corrected << " of "
      << tallies.size() << ".\n";
  constexpr int kListed = 20;
  int all_probands = 0;
  for (const Tally& t : tallies) {
    if (t.observed == 0 || t.observed_probands != t.observed) continue;
    if (++all_probands <= kListed) {
      out << "  warning: family " << ShownId(t.id)
          << ": every observed member is a proband, so once corrected for"
             " ascertainment it adds nothing to the likelihood.\n";
    }
  }
  if (all_probands > kListed) {
    out << "  warning: ... and " << all_probands - kListed
        << " more families whose observed members are all probands.\n";
  }
  // The usual missing codes of pedigree files, read as values.
  for (const auto& [count, code] :
       {std::pair{minus_nine, "-9"}, std::pair{minus_ninety_nine, "-99"}}) {
    if (count == 0) continue;
    out << "  warning: the trait is " << code << " for " << count
        << " persons; if that means missing, give --missing " << code << ".\n";
  }
}

void Report(const PrepArguments& arguments, const PedigreeTable& table,
            const PreparedData& data, const std::vector<std::string>& warnings,
            std::ostream& out) {
  const FamilyStore& s = data.store;
  out << "segmix-prep: " << data.source << ": " << s.listed_family_count
      << " families, " << s.member_count << " persons (" << data.outside_count
      << " outside every nuclear family), " << s.list_offset_count - 2
      << " nuclear families.\n";
  out << "  observed trait values: " << data.trait.observed << ", mean "
      << FixedText(data.trait.mean, 4) << ", variance "
      << FixedText(data.trait.variance, 4) << ".\n";
  ReportChecks(arguments, table, out);
  for (const std::string& warning : warnings) {
    out << "  warning: " << warning << "\n";
  }
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
       segmix-prep --fam FILE [--columns NAME,...] [--pheno FILE]... [OPTIONS]
                   DIRECTORY (or --check instead of DIRECTORY)

Turns a pedigree table into the input files of segmix and writes them into
DIRECTORY (created if missing):
  iway.dat   the pedigree structure: nuclear families in a peeling order
  trait.dat  the trait values (one line per family; missing written -999)
  age.dat..  one file per covariate named by --covariates, named after its
             column (cov1.dat, cov2.dat.. when the column's name cannot be
             a file name of 16 characters or is taken)
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
  sex             1 or 2; a father has 1, a mother 2; 0 (unknown) for a
                  person who is not a parent
  status          0 or 1 for a proband (0 also forces the ascertainment
                  correction of the family), 2 for everyone else
  trait           a number above -998; NA, . or empty when missing (and
                  the codes named by --missing)
  covariates      numbers; missing (NA, . or empty) only where the trait is

Ordinary pedigree files: --fam FILE reads a pedigree without a header,
fields separated by blanks: family, id, father, mother, sex, then the
phenotype columns that --columns names in their order (for a 6-column .fam
file: --columns trait). --pheno FILE (repeatable, one file each) adds the
phenotype columns of a table with a header whose first two columns are the
family and then the person id, named FID IID or family id (any case; other
names are refused), joined to the pedigree by those ids; a person
without a row there has missing values (and is not a proband), and persons
there who are not in the pedigree are counted and listed as a warning.
--pheno works with a header table too.

The summary lists founders, unknown sexes, missing values per column,
probands per family, the families the ascertainment correction touches, a
warning for every family whose observed members are all probands, and a
warning for trait values -9 or -99 that were not named missing.

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
  --fam FILE          the pedigree in .fam layout, instead of TABLE
  --columns NAME[,NAME...]  the phenotype columns of the --fam file after
                      sex, in order (trait, status, covariates)
  --pheno FILE        a phenotype table joined by family and person id
  --missing CODE[,CODE...]  more codes of a missing trait or covariate value
                      besides NA, . and empty (for example -9); a number
                      also matches when written otherwise (-9.0)
  --proband-coding C  12 (default): status 0 or 1 a proband, 2 not;
                      01: status 1 a proband, 0 not
  --proband COLUMN=VALUE  the probands are the persons whose COLUMN holds
                      VALUE; no status column is needed
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
standard error); 2 a table, --fam or --pheno file could not be opened or
read (a directory, a device, a line over 64 MiB); 3 bad
command line; 4 an output could not be written (standard output included),
or DIRECTORY holds earlier output and --force was not given; 5 a fault of
segmix-prep itself (its output failed segmix's validator).
)";
}

int RunPrepCommand(const std::vector<std::string>& args, std::istream& in,
                   std::ostream& out, std::ostream& err) {
  PrepArguments arguments;
  try {
    arguments = ParseArguments(args);
  } catch (const cli::UsageError& error) {
    err << "segmix-prep: " << error.what() << "\n";
    return cli::kExitUsage;
  }
  if (arguments.help) {
    out << PrepHelpText();
    return cli::FinishStandardOutput(out, err, "segmix-prep", "the help text",
                                     cli::kExitDone);
  }
  if (arguments.version) {
    out << VersionText("segmix-prep");
    return cli::FinishStandardOutput(out, err, "segmix-prep", "the version",
                                     cli::kExitDone);
  }
  try {
    // Problems of the rows' values and of the relations between the rows
    // are reported in one pass.
    auto read = [&](const std::string& name, std::string_view what,
                    auto reader) {
      if (name == "-") return reader(in, std::string("standard input"));
      std::ifstream file;
      cli::OpenInputFile(file, name, what);
      return reader(file, name);
    };
    const bool fam = !arguments.fam.empty();
    std::string source;
    TextTable text =
        read(fam ? arguments.fam : arguments.table,
             fam ? "the --fam file" : "the table",
             [&](std::istream& stream, const std::string& name) {
               source = name;
               return fam ? ReadFamTable(stream, name, arguments.fam_columns)
                          : ReadTextTable(stream, name);
             });
    ProblemList join_problems;
    std::vector<std::string> warnings;
    for (const std::string& name : arguments.phenotype_files) {
      const TextTable phenotypes =
          read(name, "the --pheno file",
               [](std::istream& stream, const std::string& shown) {
                 return ReadTextTable(stream, shown);
               });
      const std::string warning =
          JoinPhenotypes(text, phenotypes,
                         name == "-" ? "standard input" : name, join_problems);
      if (!warning.empty()) warnings.push_back(warning);
    }
    join_problems.ThrowIfAny();
    ProblemList problems;
    const PedigreeTable table = CheckPedigreeRows(
        text, source, arguments.options.covariates, arguments.rules, problems);
    if (!problems.Empty()) {
      BuildPedigreeFamilies(table, problems);
      problems.ThrowIfAny();
    }
    const PreparedData data = PrepareData(table, arguments.options);
    if (!arguments.check_only) {
      WritePreparedFiles(data, arguments.directory, arguments.force);
    }
    Report(arguments, table, data, warnings, out);
    return cli::FinishStandardOutput(
        out, err, "segmix-prep", "the summary", cli::kExitDone,
        arguments.check_only
            ? std::string()
            : "the files in " + arguments.directory + " are complete");
  } catch (const InputRejected& refusal) {
    err << refusal.StderrText();
    err << "segmix-prep: the table was refused; nothing was written.\n";
    return cli::kExitInputRefused;
  } catch (const cli::FileError& error) {
    err << "segmix-prep: " << error.what() << "\n";
    return error.ExitStatus();
  } catch (const InternalFault& fault) {
    err << fault.what() << "\n";
    return cli::kExitInternal;
  }
}

}  // namespace segmix::prep
