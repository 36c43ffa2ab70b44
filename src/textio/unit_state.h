// The state of one open file unit, shared by the unit table and the
// statement drivers. Internal to the text-record layer.
#ifndef SEGMIX_TEXTIO_UNIT_STATE_H_
#define SEGMIX_TEXTIO_UNIT_STATE_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace segmix {

struct UnitState {
  enum class ReadOutcome : std::uint8_t {
    kRecord,
    kEndOfFile,
    kError,
    kTooLong
  };

  // The longest record ReadRecord hands out: 64 MiB. A file with no line end
  // (a device such as /dev/zero named as a data file) would otherwise grow one
  // record until memory runs out.
  static constexpr std::size_t kMaxRecordLength = std::size_t{1} << 26;

  int number = 0;
  std::string name;  // without trailing blanks, as messages show it
  std::string path;  // where it is opened (name within the units' directory)
  // A unit on memory: `text` is what is read (OpenText) or, for a capture
  // unit, the buffer open_memstream fills (memory_data, memory_size).
  bool in_memory = false;
  std::string text;
  char* memory_data = nullptr;
  std::size_t memory_size = 0;
  std::FILE* file = nullptr;
  bool updatable = false;  // opened for reading and writing
  bool cut = false;        // the first write statement has ended

  // Input is read in chunks; `offset` is the file position of the first
  // byte not yet handed out as part of a record.
  std::vector<char> chunk;
  std::size_t chunk_begin = 0;
  std::size_t chunk_end = 0;
  bool reading = false;
  bool at_end = false;
  std::int64_t offset = 0;
  int error_number = 0;           // errno of the last failed operation
  std::int64_t records_read = 0;  // records handed out so far (the line number)

  // Next record without its line feed (and without a carriage return right
  // before it). A last record without a line feed still counts. kTooLong
  // when the record runs past kMaxRecordLength characters (records_read then
  // counts it).
  ReadOutcome ReadRecord(std::string& record);
  // Writes `record` and a line feed; false on failure (error_number set).
  bool WriteRecord(std::string_view record);
  // Ends a write statement: on the first, cuts the file after what it wrote.
  bool EndWriteStatement();
  bool Flush();
};

}  // namespace segmix

#endif  // SEGMIX_TEXTIO_UNIT_STATE_H_
