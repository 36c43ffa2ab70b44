// The free-form scanner follows the run's reader rule by rule (separators,
// null values, slashes, repeat counts, quoted character values over record
// ends), so the places it reports are the places the run read from.
#include "review/free_form_scan.h"

#include <fstream>
#include <iterator>

namespace segmix {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::vector<std::string> ReadRecords(const std::filesystem::path& path) {
  std::vector<std::string> records;
  // A device or a pipe may never end; the run has read what it needs there.
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return records;
  std::ifstream in(path, std::ios::binary);
  if (!in) return records;
  const std::string text((std::istreambuf_iterator<char>(in)),
                         std::istreambuf_iterator<char>());
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    const bool ended = end != std::string::npos;
    if (!ended) end = text.size();
    std::size_t stop = end;
    if (ended && stop > at && text[stop - 1] == '\r') --stop;
    records.emplace_back(text, at, stop - at);
    at = end + 1;
  }
  return records;
}

bool IsBlankText(std::string_view text) {
  for (const char c : text) {
    if (!IsBlank(c)) return false;
  }
  return true;
}

std::size_t CountValues(std::string_view text) {
  std::size_t count = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    const char c = text[at];
    if (IsBlank(c) || c == ',') {
      ++at;
      continue;
    }
    if (c == '/') break;
    ++count;
    if (c == '\'' || c == '"') {
      const std::size_t close = text.find(c, at + 1);
      at = close == std::string_view::npos ? text.size() : close + 1;
      continue;
    }
    while (at < text.size() && !IsBlank(text[at]) && text[at] != ',' &&
           text[at] != '/') {
      ++at;
    }
  }
  return count;
}

bool FreeFormScanner::Begin(std::size_t line) {
  line_ = line;
  column_ = 0;
  slash_seen_ = false;
  any_value_ = false;
  comma_since_value_ = false;
  repeat_left_ = 0;
  return line < records_.size();
}

bool FreeFormScanner::PeekNonBlank(char& c) {
  for (;;) {
    const std::string& record = records_[line_];
    while (column_ < record.size() && IsBlank(record[column_])) ++column_;
    if (column_ < record.size()) {
      c = record[column_];
      return true;
    }
    if (line_ + 1 >= records_.size()) return false;
    ++line_;
    column_ = 0;
  }
}

bool FreeFormScanner::AtSeparator() const {
  const std::string& record = records_[line_];
  if (column_ >= record.size()) return true;
  const char c = record[column_];
  return IsBlank(c) || c == ',' || c == '/';
}

// Passes over one value; a quoted character value may run on over records.
bool FreeFormScanner::SkipToken(bool character) {
  const char first = records_[line_][column_];
  if (character && (first == '\'' || first == '"')) {
    ++column_;
    for (;;) {
      const std::string& record = records_[line_];
      if (column_ >= record.size()) {
        if (line_ + 1 >= records_.size()) return false;
        ++line_;
        column_ = 0;
        continue;
      }
      if (record[column_++] != first) continue;
      if (column_ < record.size() && record[column_] == first) {
        ++column_;
        continue;
      }
      return true;
    }
  }
  while (!AtSeparator()) ++column_;
  return true;
}

bool FreeFormScanner::Next(bool character, ScannedItem& item) {
  if (slash_seen_) {
    item.kind = ScannedItem::Kind::kSlashed;
    return true;
  }
  if (repeat_left_ > 0) {
    --repeat_left_;
    item = repeat_item_;
    return true;
  }
  char c = 0;
  if (!PeekNonBlank(c)) return false;
  item = ScannedItem{ScannedItem::Kind::kNull, line_, column_, column_ + 1};
  if (c == ',') {
    ++column_;
    const bool separator = any_value_ && !comma_since_value_;
    comma_since_value_ = true;
    if (!separator) {
      any_value_ = true;
      return true;
    }
    if (!PeekNonBlank(c)) return false;
    if (c == ',') {
      item = ScannedItem{ScannedItem::Kind::kNull, line_, column_, column_ + 1};
      ++column_;
      return true;
    }
  }
  if (c == '/') {
    item =
        ScannedItem{ScannedItem::Kind::kSlashed, line_, column_, column_ + 1};
    ++column_;
    slash_seen_ = true;
    return true;
  }
  any_value_ = true;
  comma_since_value_ = false;

  const std::string& record = records_[line_];
  const std::size_t begin = column_;
  std::size_t digits_end = column_;
  while (digits_end < record.size() && record[digits_end] >= '0' &&
         record[digits_end] <= '9') {
    ++digits_end;
  }
  if (digits_end > column_ && digits_end < record.size() &&
      record[digits_end] == '*') {
    // The run has already refused a zero or overflowing count.
    std::int64_t repeat = 0;
    for (std::size_t k = column_; k < digits_end && repeat < (1 << 30); ++k) {
      repeat = repeat * 10 + (record[k] - '0');
    }
    column_ = digits_end + 1;
    repeat_left_ = repeat - 1;
    if (AtSeparator()) {
      repeat_item_ =
          ScannedItem{ScannedItem::Kind::kNull, line_, begin, column_};
    } else {
      if (!SkipToken(character)) return false;
      repeat_item_ =
          ScannedItem{ScannedItem::Kind::kValue, line_, begin, column_};
    }
    item = repeat_item_;
    return true;
  }
  const std::size_t first_line = line_;
  if (!SkipToken(character)) return false;
  item =
      ScannedItem{ScannedItem::Kind::kValue, first_line, begin,
                  line_ == first_line ? column_ : records_[first_line].size()};
  return true;
}

std::string_view FreeFormScanner::Rest() const {
  if (slash_seen_ || line_ >= records_.size()) return {};
  const std::string& record = records_[line_];
  return column_ < record.size() ? std::string_view(record).substr(column_)
                                 : std::string_view{};
}

std::size_t FreeFormScanner::LeftoverValues() const {
  return CountValues(Rest());
}

}  // namespace segmix
