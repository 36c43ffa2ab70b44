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
#include <vector>

namespace segmix::prep {

// The problems found in an input, in the order found. ThrowIfAny throws
// InputRejected (exit status 1) whose text lists them, one per line.
class ProblemList {
 public:
  void Add(std::string text) { problems_.push_back(std::move(text)); }
  bool Empty() const { return problems_.empty(); }
  std::size_t Size() const { return problems_.size(); }
  const std::vector<std::string>& Problems() const { return problems_; }
  // At most kShown problems are listed, then a line with the count of the rest.
  static constexpr std::size_t kShown = 50;
  void ThrowIfAny() const;

 private:
  std::vector<std::string> problems_;
};

// A table split into fields. Lines that are blank or whose first non-blank
// character is '#' are comments. The first other line is the header; it
// decides the separator: commas when it holds a comma outside quotes (fields
// may then be empty), otherwise runs of blanks and tabs. A field may be
// written between double quotes, with "" standing for one quote inside; the
// quotes are not part of the value. Blanks and tabs around a field are
// dropped; a carriage return before the line feed and a UTF-8 byte-order mark
// before the header are ignored.
struct TextTable {
  struct Row {
    int line = 0;  // 1-based line number in the source
    std::vector<std::string> fields;
  };
  int header_line = 0;  // 0: the source holds no header
  std::vector<std::string> header;
  std::vector<Row> rows;  // every row has exactly header.size() fields
};

// Throws InputRejected naming `source` for a field with an unterminated
// quote, text after a closing quote, or a row whose field count differs from
// the header's.
TextTable ReadTextTable(std::istream& in, std::string_view source);

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
  std::int32_t sex = 0;     // 1 or 2
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
};

// Reads and checks the rows of a pedigree table. `covariates` are column
// names (any case), at most 5, distinct. Each row's values must be:
// family and id non-empty, id not 0; father and mother an id, 0 or empty;
// sex 1 or 2; status 0, 1 or 2; trait a finite number above -998 that fits a
// 4-byte real, or NA, . or empty for a missing value; covariates likewise,
// and present for every person whose trait is observed. Throws InputRejected
// listing every problem.
PedigreeTable ReadPedigreeTable(std::istream& in, std::string_view source,
                                const std::vector<std::string>& covariates);

// The same, adding the problems of the rows' values to `problems` instead of
// throwing, so that the relations between the rows can still be checked and
// reported in the same pass (a value that could not be read is left at its
// default: sex 0, status 2, trait missing). Problems of the text or the
// header, which leave no rows to check, still throw.
PedigreeTable ReadPedigreeTable(std::istream& in, std::string_view source,
                                const std::vector<std::string>& covariates,
                                ProblemList& problems);

// "<source>, line <line>, family <family>, person <id>: " (the parts that
// are known), the prefix of every message about a row.
std::string RowPlace(std::string_view source, int line,
                     std::string_view family = {}, std::string_view id = {});

// `text` as it is shown in messages: between double quotes when empty or
// when it holds blanks, quotes or commas, otherwise as it stands.
std::string ShownId(std::string_view text);

}  // namespace segmix::prep

#endif  // SEGMIX_PREP_PEDIGREE_TABLE_H_
