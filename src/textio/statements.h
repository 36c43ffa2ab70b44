// Transfer statements: one read or write of values on one unit, through a
// layout string ("(2i3,i2,4E12.5)", a fixed-layout record) or none (an empty
// layout: a free-form record).
//
//   WriteStatement w(units, kConsole, "(' initial LH=',e15.8)");
//   w << value;
//   w.End();
//
//   ReadStatement r(units, 1);              // free-form
//   r >> family_count >> proband_switch;
//   r.Text(data_file_name, 16);
//   r >> covariate_count;
//   r.End();
//
// Every failure (bad value, end of file, format exhausted, ...) throws
// TextIoError whose locus line names `where`, the statement's place in the
// program's own source, and the unit and its file name. End() must be called
// to complete a statement; a statement abandoned by an exception writes
// nothing more.
#ifndef SEGMIX_TEXTIO_STATEMENTS_H_
#define SEGMIX_TEXTIO_STATEMENTS_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <source_location>
#include <string>
#include <string_view>

#include "textio/text_units.h"

namespace segmix {

class WriteStatement {
 public:
  WriteStatement(TextUnits& units, int unit, std::string_view layout = {},
                 std::source_location where = std::source_location::current());
  ~WriteStatement();
  WriteStatement(const WriteStatement&) = delete;
  WriteStatement& operator=(const WriteStatement&) = delete;

  WriteStatement& operator<<(std::int32_t value);
  WriteStatement& operator<<(float value);            // a 4-byte real
  WriteStatement& operator<<(double value);           // an 8-byte real
  WriteStatement& operator<<(std::string_view text);  // a character value
  WriteStatement& operator<<(const char* text) {
    return *this << std::string_view(text);
  }

  // Carries out the rest of the layout up to its next data item, writes the
  // current record and, for a file's first write statement, cuts the file.
  void End();

 private:
  friend class StatementPool;
  struct Impl;
  TextUnits& units_;
  std::unique_ptr<Impl> impl_;
};

class ReadStatement {
 public:
  ReadStatement(TextUnits& units, int unit, std::string_view layout = {},
                std::source_location where = std::source_location::current());
  ~ReadStatement();
  ReadStatement(const ReadStatement&) = delete;
  ReadStatement& operator=(const ReadStatement&) = delete;

  // What became of the value of the last >> or Text(): stored, or left
  // unchanged by a free-form null value (an empty field between commas, a
  // leading comma, "r*") or by a slash that ended the statement before it.
  enum class Outcome : std::uint8_t { kStored, kNullValue, kAfterSlash };

  // A null value, or a value after a slash, leaves the target unchanged
  // (LastOutcome() says which).
  ReadStatement& operator>>(std::int32_t& value);
  ReadStatement& operator>>(float& value);
  ReadStatement& operator>>(double& value);
  // A character value of fixed `length`: cut or padded with blanks.
  ReadStatement& Text(std::string& value, std::size_t length);

  Outcome LastOutcome() const;

  // Free form, after the last value: the first value left over after it, on
  // the rest of the current record or on any later record of the file, or ""
  // when only blanks, commas and slashes follow. It reads on to that value or
  // to the end of the file, so it belongs right before End() of a statement
  // whose unit is closed next. RecordNumber() then gives the value's line.
  std::string LeftOverValue();
  // Free form: true when a comma directly between two digits ("10,2")
  // separated two values of this statement, as a decimal comma would.
  bool CommaBetweenDigits() const;
  // The line number in the file of the current record (1 for the first).
  std::int64_t RecordNumber() const;

  // Skips the rest of the current record; a read statement always consumes at
  // least one record, even with no values.
  void End();

 private:
  friend class StatementPool;
  struct Impl;
  template <typename T>
  void ReadReal(T& value);
  TextUnits& units_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace segmix

#endif  // SEGMIX_TEXTIO_STATEMENTS_H_
