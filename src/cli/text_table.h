// Text tables as the companions read them (pedigree tables, phenotype files,
// segmix-prep's map file): fields separated by blanks and tabs or by commas,
// optional double quotes, comment lines; and the problem list and row places
// of their messages. Every refusal is segmix::InputRejected (exit status 1).
#ifndef SEGMIX_CLI_TEXT_TABLE_H_
#define SEGMIX_CLI_TEXT_TABLE_H_

#include <iosfwd>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace segmix::cli {

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
    // Per field, after JoinPhenotypes: the line of the phenotype file it came
    // from, 0 for a person without a row there (the field is then empty).
    // Empty: every field is from the table itself.
    std::vector<int> joined_lines;
  };
  int header_line = 0;  // 0: the source holds no header
  std::vector<std::string> header;
  std::vector<Row> rows;  // every row has exactly header.size() fields
  // Per column: the file it came from, empty for the table itself (filled
  // by JoinPhenotypes).
  std::vector<std::string> column_sources;
  // The header was given by --columns (a .fam file), not read.
  bool header_from_options = false;
};

// Throws InputRejected naming `source` for a field with an unterminated
// quote, text after a closing quote, or a row whose field count differs from
// the header's.
TextTable ReadTextTable(std::istream& in, std::string_view source);

enum class TableSeparator { kBlanks, kCommas };

// Splits one line into `fields` (quotes as ReadTextTable reads them). Returns
// an empty string on success, else what is wrong with the line.
std::string SplitTableLine(std::string_view line, TableSeparator separator,
                           std::vector<std::string>& fields);

// A blank line or one whose first non-blank character is '#'.
bool IsCommentOrBlank(std::string_view line);

// "<source>, line <line>, family <family>, person <id>: " (the parts that
// are known), the prefix of every message about a row.
std::string RowPlace(std::string_view source, int line,
                     std::string_view family = {}, std::string_view id = {});

// `text` as it is shown in messages: between double quotes when empty or
// when it holds blanks, quotes or commas, otherwise as it stands.
std::string ShownId(std::string_view text);

}  // namespace segmix::cli

#endif  // SEGMIX_CLI_TEXT_TABLE_H_
