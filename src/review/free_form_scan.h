// The raw text of an input file as the run's records see it, and a scanner
// that walks free-form records the way the run's reader does, but keeps where
// each value stands (line and columns), which values are empty fields or cut
// off by a slash, and what is left on a record's last line. The checker uses
// it to say where a value that reads as 0 or is ignored comes from.
#ifndef SEGMIX_CHECK_FREE_FORM_SCAN_H_
#define SEGMIX_CHECK_FREE_FORM_SCAN_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace segmix {

// The file's records: split at line feeds, a carriage return before a line
// feed dropped, a last line without a line feed kept. Empty when the file
// cannot be read or is not a regular file.
std::vector<std::string> ReadRecords(const std::filesystem::path& path);

struct ScannedItem {
  enum class Kind {
    kValue,    // a value (also one copy of r*c)
    kNull,     // an empty field (two commas, a leading comma, r*): unchanged
    kSlashed,  // the statement ended at a slash before this item: unchanged
  };
  Kind kind = Kind::kValue;
  std::size_t line = 0;          // 0-based record of the value or the slash
  std::size_t first_column = 0;  // 0-based; the slash's column for kSlashed
  std::size_t end_column = 0;    // one past the value's last column
};

// One free-form statement at a time over `records`, which must outlive it.
class FreeFormScanner {
 public:
  explicit FreeFormScanner(const std::vector<std::string>& records)
      : records_(records) {}

  // Starts a statement on record `line`; false when there is no such record
  // (the run's read would fail at end of file).
  bool Begin(std::size_t line);
  // The next item; `character` for a character value (quotes delimit it).
  // False at the end of the file.
  bool Next(bool character, ScannedItem& item);
  // The record the statement ends on, and what follows its last item there
  // (the rest the run skips). Empty after a slash.
  std::size_t Line() const { return line_; }
  std::string_view Rest() const;
  // How many values Rest() holds (blank- or comma-separated; a slash ends
  // them).
  std::size_t LeftoverValues() const;

 private:
  bool PeekNonBlank(char& c);
  bool AtSeparator() const;
  bool SkipToken(bool character);

  const std::vector<std::string>& records_;
  std::size_t line_ = 0;
  std::size_t column_ = 0;
  bool slash_seen_ = false;
  bool any_value_ = false;
  bool comma_since_value_ = false;
  std::int64_t repeat_left_ = 0;
  bool repeat_null_ = false;
  ScannedItem repeat_item_;
};

// How many values `text` holds, read as the rest of a free-form record.
std::size_t CountValues(std::string_view text);

// True when `text` holds nothing but blanks (space, tab, carriage return).
bool IsBlankText(std::string_view text);

}  // namespace segmix

#endif  // SEGMIX_CHECK_FREE_FORM_SCAN_H_
