// TextUnits: the table of open text units. A unit is a small integer bound
// to one open text file; kConsole addresses standard output. Files are
// sequential text files of records ending in a line feed.
//
// Opening never empties a file (except with kReplace, for a file that must
// hold only what this run writes). At the end of the first write statement on a
// unit opened on a file, the file is cut after what that statement wrote, so a
// file opened and closed without a write keeps its old contents, and a file of
// 10 records rewritten with 2 holds those 2.
//
// A file name that is not absolute is taken relative to the units' directory
// (the working directory when none is given), so a caller never has to change
// the process's working directory to work on a folder. Messages name a file as
// it was given to Open. A file that must exist and is a named pipe (FIFO) is
// opened without blocking and then waited for in a way a signal interrupts
// (see SetWaitInterrupted), so a run waiting for a pipe's writer can still be
// stopped. A unit can also be opened on memory: on a text to be
// read (OpenText), or to collect what is written (OpenCapture).
#ifndef SEGMIX_TEXTIO_TEXT_UNITS_H_
#define SEGMIX_TEXTIO_TEXT_UNITS_H_

#include <filesystem>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <source_location>
#include <string>
#include <string_view>

namespace segmix {

inline constexpr int kConsole = -1;

enum class OpenStatus {
  kOld,      // the file must exist, else TextIoError with strerror(ENOENT)
  kNone,     // created empty when missing, opened at its start when present
  kReplace,  // created empty when missing, emptied when present; a file that
             // cannot be opened for writing is a TextIoError
};

struct UnitState;     // defined by the implementation
class StatementPool;  // reusable statement state, defined with the statements
struct StatementPoolDeleter {
  void operator()(StatementPool* pool) const;
};

class TextUnits {
 public:
  // `console` receives every record written to kConsole; relative file names
  // are opened in `directory` (empty: the working directory).
  explicit TextUnits(std::ostream& console,
                     std::filesystem::path directory = {});
  ~TextUnits();  // CloseAll()
  TextUnits(const TextUnits&) = delete;
  TextUnits& operator=(const TextUnits&) = delete;

  // `file_name` may carry trailing blanks; they are not part of the name.
  // Opening a unit that is open closes it first.
  void Open(int unit, std::string_view file_name, OpenStatus status,
            std::source_location where = std::source_location::current());
  // Opens `unit` for reading on a copy of `text`, as if it were a file of that
  // content named `name` (the name messages show). Writing to it fails.
  void OpenText(int unit, std::string_view name, std::string_view text);
  // Opens `unit` for writing into memory; Captured returns what was written
  // so far. Records are not cut: the unit starts empty.
  void OpenCapture(int unit, std::string_view name);
  // What has been written to a capture unit ("" for any other unit).
  std::string Captured(int unit);
  // Writes out what is buffered and releases the unit; closing a unit that is
  // not open does nothing.
  void Close(int unit);
  // Flushes and closes every open unit and the console; never throws.
  void CloseAll() noexcept;
  bool IsOpen(int unit) const;

  // Called when a wait for a named pipe's writer (see Open) is interrupted
  // by a signal, with the file name as given; it may throw to end the wait
  // (segmix's stop signals do). Without one, the wait goes on.
  void SetWaitInterrupted(std::function<void(std::string_view)> check) {
    wait_interrupted_ = std::move(check);
  }

  std::ostream& Console() { return console_; }
  const std::filesystem::path& Directory() const { return directory_; }
  // Where a file name given to Open is opened.
  std::filesystem::path PathOf(std::string_view file_name) const;

  // For the statement classes: the state of an open file unit, or nullptr.
  UnitState* Find(int unit);
  // For the statement classes: parsed layouts and statement objects kept for
  // reuse, so that statements after the first of a kind allocate nothing.
  StatementPool& Pool();

 private:
  std::ostream& console_;
  std::filesystem::path directory_;
  std::map<int, std::unique_ptr<UnitState>> units_;
  std::unique_ptr<StatementPool, StatementPoolDeleter> pool_;
  std::function<void(std::string_view)> wait_interrupted_;
};

}  // namespace segmix

#endif  // SEGMIX_TEXTIO_TEXT_UNITS_H_
