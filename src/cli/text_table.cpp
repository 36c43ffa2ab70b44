// Splitting a text table into fields; the places of messages about its rows.
#include "cli/text_table.h"

#include <istream>

#include "cli/input_file.h"
#include "textio/termination.h"

namespace segmix::cli {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// True when the line holds a comma outside double quotes.
bool HasCommaOutsideQuotes(std::string_view line) {
  bool quoted = false;
  for (const char c : line) {
    if (c == '"') quoted = !quoted;
    if (c == ',' && !quoted) return true;
  }
  return false;
}

}  // namespace

std::string SplitTableLine(std::string_view line, TableSeparator separator,
                           std::vector<std::string>& fields) {
  fields.clear();
  std::size_t pos = 0;
  const std::size_t n = line.size();
  while (true) {
    while (pos < n && IsBlank(line[pos])) ++pos;
    if (separator == TableSeparator::kBlanks && pos == n) return {};
    std::string field;
    if (pos < n && line[pos] == '"') {
      const std::size_t opening = pos + 1;
      ++pos;
      bool closed = false;
      while (pos < n) {
        if (line[pos] == '"') {
          if (pos + 1 < n && line[pos + 1] == '"') {
            field += '"';
            pos += 2;
            continue;
          }
          closed = true;
          ++pos;
          break;
        }
        field += line[pos++];
      }
      if (!closed) {
        return "the quote opened at column " + std::to_string(opening) +
               " is not closed; close it with a double quote (write \"\" for"
               " a quote inside a value)";
      }
      while (pos < n && IsBlank(line[pos])) ++pos;
      const bool at_end = pos == n;
      const bool at_separator = separator == TableSeparator::kCommas
                                    ? (pos < n && line[pos] == ',')
                                    : (pos > 0 && IsBlank(line[pos - 1]));
      if (!at_end && !at_separator) {
        return "text follows the closing quote at column " +
               std::to_string(pos + 1) +
               "; put the whole value between the quotes";
      }
    } else {
      const std::size_t start = pos;
      if (separator == TableSeparator::kCommas) {
        while (pos < n && line[pos] != ',') ++pos;
      } else {
        while (pos < n && !IsBlank(line[pos])) ++pos;
      }
      std::size_t end = pos;
      while (end > start && IsBlank(line[end - 1])) --end;
      field.assign(line.substr(start, end - start));
    }
    fields.push_back(std::move(field));
    if (separator == TableSeparator::kCommas) {
      if (pos == n) return {};
      ++pos;  // the comma; a comma at the end leaves one more empty field
    }
  }
}

bool IsCommentOrBlank(std::string_view line) {
  for (const char c : line) {
    if (IsBlank(c)) continue;
    return c == '#';
  }
  return true;
}

void ProblemList::ThrowIfAny() const {
  if (problems_.empty()) return;
  std::string text;
  for (std::size_t i = 0; i < problems_.size() && i < kShown; ++i) {
    if (i > 0) text += '\n';
    text += problems_[i];
  }
  if (problems_.size() > kShown) {
    text += "\n... and " + std::to_string(problems_.size() - kShown) +
            " more problems.";
  }
  throw InputRejected(text);
}

std::string ShownId(std::string_view text) {
  if (text.empty() || text.find_first_of(" \t\",") != std::string_view::npos) {
    std::string shown = "\"";
    for (const char c : text) {
      if (c == '"') shown += '"';
      shown += c;
    }
    return shown + "\"";
  }
  return std::string(text);
}

std::string RowPlace(std::string_view source, int line, std::string_view family,
                     std::string_view id) {
  std::string place(source);
  if (line > 0) place += ", line " + std::to_string(line);
  if (!family.empty()) place += ", family " + ShownId(family);
  if (!id.empty()) place += ", person " + ShownId(id);
  return place + ": ";
}

TextTable ReadTextTable(std::istream& in, std::string_view source) {
  TextTable table;
  ProblemList problems;
  TableSeparator separator = TableSeparator::kBlanks;
  std::string line;
  std::vector<std::string> fields;
  int number = 0;
  while (ReadLineCapped(in, line, source, number + 1)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (table.header_line == 0 && number == 1 &&
        line.starts_with("\xEF\xBB\xBF")) {
      line.erase(0, 3);
    }
    if (IsCommentOrBlank(line)) continue;
    if (table.header_line == 0) {
      separator = HasCommaOutsideQuotes(line) ? TableSeparator::kCommas
                                              : TableSeparator::kBlanks;
    }
    const std::string fault = SplitTableLine(line, separator, fields);
    if (!fault.empty()) {
      problems.Add(RowPlace(source, number) + fault + ".");
      continue;
    }
    if (table.header_line == 0) {
      table.header_line = number;
      table.header = fields;
      continue;
    }
    if (fields.size() != table.header.size()) {
      problems.Add(
          RowPlace(source, number) + "the row has " +
          std::to_string(fields.size()) + " fields but the header (line " +
          std::to_string(table.header_line) + ") names " +
          std::to_string(table.header.size()) + " columns. " +
          (separator == TableSeparator::kBlanks
               ? "In a table separated by blanks every field needs a value:"
                 " write 0 for an unknown parent and NA for a missing value"
                 " (or separate the fields by commas)."
               : "Give every row one field per column."));
      continue;
    }
    table.rows.push_back(TextTable::Row{number, fields, {}});
  }
  if (in.bad()) {
    problems.Add(std::string(source) + ": reading the table failed.");
  }
  problems.ThrowIfAny();
  return table;
}

}  // namespace segmix::cli
