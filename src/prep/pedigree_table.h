// Reading a pedigree table: one row per person, a header naming the columns,
// fields separated by blanks and tabs or by commas. ReadTextTable splits the
// text into fields; ReadPedigreeTable checks every row's own values (ids,
// sex, status, trait, covariates). Relations between rows are checked later,
// by BuildPedigreeFamilies.
//
// Every refusal names the table, the line and, once they are known, the
// family and the person, says what is wrong and what to write instead. The
// problems are gathered and reported together: every problem of the text and
// the header, or else every problem of the rows' values and of the relations
// between the rows.
#ifndef SEGMIX_PREP_PEDIGREE_TABLE_H_
#define SEGMIX_PREP_PEDIGREE_TABLE_H_

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/text_table.h"

namespace segmix::prep {

// The table reading every companion shares, and its messages' places.
using cli::ProblemList;
using cli::ReadTextTable;
using cli::RowPlace;
using cli::ShownId;
using cli::TextTable;

// Reads a pedigree in the .fam layout: no header, fields separated by blanks
// or tabs, the columns family, id, father, mother, sex and then `columns`
// (the phenotype columns, by name). Comment and blank lines are skipped as in
// ReadTextTable. Throws InputRejected naming `source` and the line for a row
// with another field count.
TextTable ReadFamTable(std::istream& in, std::string_view source,
                       const std::vector<std::string>& columns);

// Adds the phenotype columns of `phenotypes` (a table read by ReadTextTable
// whose first two columns are the family and person ids, named FID IID or
// family id in any case) to `pedigree`, joined by family and person id. A
// person of the pedigree without a row there gets empty (missing) fields.
// Adds to `problems`: a phenotype table with no column beyond the ids, first
// two columns named otherwise (IID FID would swap people silently), a column
// name the pedigree already has, an id pair given twice. Returns one warning
// line for the persons of `phenotypes` who are not in the pedigree (counted,
// the first 20 listed), or an empty string.
std::string JoinPhenotypes(TextTable& pedigree, const TextTable& phenotypes,
                           std::string_view source, ProblemList& problems);

// How the values of a table are read beyond the defaults.
struct ReadingRules {
  // Codes of a missing trait or covariate value besides NA (any case), "."
  // and the empty field; a code that is a number also matches the same
  // number written otherwise (-9 matches -9.0).
  std::vector<std::string> missing_codes;
  enum class ProbandCoding {
    kStatus012,  // status 0 or 1: a proband (0 forces the correction), 2 not
    kStatus01,   // status 1: a proband (written 1), 0 not (written 2)
    kColumn,     // a proband where `proband_column` holds `proband_value`
  };
  ProbandCoding proband_coding = ProbandCoding::kStatus012;
  std::string proband_column;
  std::string proband_value;
};

// The column names a pedigree table must have (any order, any case).
inline constexpr std::string_view kRequiredColumns[] = {
    "family", "id", "father", "mother", "sex", "status", "trait"};

// One person as the table gives it. Parent fields hold the parent's id, or
// are empty for an unknown parent (written 0 or left empty).
struct PersonRow {
  int line = 0;
  std::string family;
  std::string id;
  std::string father;
  std::string mother;
  std::int32_t sex = 0;     // 1 or 2; 0 unknown (never a parent's)
  std::int32_t status = 2;  // 0 or 1: proband; 2: not a proband
  bool trait_observed = false;
  float trait = 0;  // meaningful when trait_observed
  // One per covariate column named by the caller, in the caller's order.
  // A missing covariate of a person whose trait is missing is stored as 0.
  std::vector<float> covariates;
};

struct PedigreeTable {
  std::string source;                   // the name used in messages
  std::vector<std::string> covariates;  // column names, as asked for
  std::vector<PersonRow> rows;          // in table order
  // Missing values per phenotype column read (trait, then the covariates,
  // then status when some persons had no status row), for the summary.
  std::vector<std::pair<std::string, int>> missing_counts;
};

// Reads and checks the rows of a pedigree table. `covariates` are column
// names (any case), at most 5, distinct. Each row's values must be:
// family and id non-empty, id not 0; father and mother an id, 0 or empty;
// sex 0 (unknown), 1 or 2; status 0, 1 or 2; trait a finite number above
// -998 that fits a 4-byte real, or NA, . or empty for a missing value;
// covariates likewise, and present for every person whose trait is observed.
// Throws InputRejected listing every problem.
PedigreeTable ReadPedigreeTable(std::istream& in, std::string_view source,
                                const std::vector<std::string>& covariates);

// The same, adding the problems of the rows' values to `problems` instead of
// throwing, so that the relations between the rows can still be checked and
// reported in the same pass (a value that could not be read is left at its
// default: sex -1, status 2, trait missing). Problems of the text or the
// header, which leave no rows to check, still throw.
PedigreeTable ReadPedigreeTable(std::istream& in, std::string_view source,
                                const std::vector<std::string>& covariates,
                                ProblemList& problems);

// The same for a table already split (and perhaps joined), read by `rules`.
// The status column is not needed with ProbandCoding::kColumn; a person
// without a phenotype row for status is not a proband. Sex 0 (unknown) is
// accepted here; BuildPedigreeFamilies refuses it for a parent.
PedigreeTable CheckPedigreeRows(const TextTable& text, std::string_view source,
                                const std::vector<std::string>& covariates,
                                const ReadingRules& rules,
                                ProblemList& problems);

}  // namespace segmix::prep

#endif  // SEGMIX_PREP_PEDIGREE_TABLE_H_
