// The unit table and the record-level file operations under it.
//
// A file is opened for reading only when it must exist (status old) and for
// reading and writing otherwise; a unit that was opened for reading and is
// then written is reopened for update at the same place. Files are never
// emptied by opening: the first write statement cuts the file after what it
// wrote.
#include "textio/text_units.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <ostream>

#include "textio/termination.h"
#include "textio/unit_state.h"

namespace segmix {
namespace {

constexpr std::size_t kChunkSize = 1 << 16;

std::string WithoutTrailingBlanks(std::string_view name) {
  const auto end = name.find_last_not_of(' ');
  return std::string(
      name.substr(0, end == std::string_view::npos ? 0 : end + 1));
}

[[noreturn]] void OpenFailed(const std::source_location& where,
                             const std::string& name, int error_number) {
  throw TextIoError(LocusOf(where) + " file: \"" + name + "\"",
                    std::strerror(error_number), TerminationKind::kUnreadable);
}

// fopen(path, "rb"), except that a named pipe without a writer does not
// block in open(), where the stop signals (installed with SA_RESTART) could
// not end the wait: the pipe is opened with O_NONBLOCK, then poll() waits
// for its first data or its writer's close. poll() is never restarted after
// a signal handler, so each signal reaches `interrupted`. Linux reports no
// hang-up on a pipe that never had a writer, so the wait lasts until one
// comes, as the blocking open did; the contents read are the same.
std::FILE* OpenForReading(
    const char* path, const std::string& name,
    const std::source_location& where,
    const std::function<void(std::string_view)>& interrupted) {
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd == -1) OpenFailed(where, name, errno);
  struct stat status {};
  if (::fstat(fd, &status) == 0 && S_ISFIFO(status.st_mode)) {
    pollfd wait{fd, POLLIN, 0};
    for (;;) {
      if (::poll(&wait, 1, -1) > 0) break;
      if (errno != EINTR) {
        const int error_number = errno;
        ::close(fd);
        OpenFailed(where, name, error_number);
      }
      if (interrupted) {
        try {
          interrupted(name);
        } catch (...) {
          ::close(fd);
          throw;
        }
      }
    }
  }
  // Reads block again from here: the record reader expects whole reads.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags == -1 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1) {
    const int error_number = errno;
    ::close(fd);
    OpenFailed(where, name, error_number);
  }
  std::FILE* const file = ::fdopen(fd, "rb");
  if (file == nullptr) {
    const int error_number = errno;
    ::close(fd);
    OpenFailed(where, name, error_number);
  }
  return file;
}

}  // namespace

UnitState::ReadOutcome UnitState::ReadRecord(std::string& record) {
  record.clear();
  if (!reading) {
    // Coming from a write (or the open): the stream must be positioned
    // before the direction changes.
    if (std::fseek(file, static_cast<long>(offset), SEEK_SET) != 0) {
      error_number = errno;
      return ReadOutcome::kError;
    }
    reading = true;
    chunk_begin = chunk_end = 0;
    at_end = false;
  }
  if (chunk.size() < kChunkSize) chunk.resize(kChunkSize);
  bool any = false;
  for (;;) {
    if (chunk_begin == chunk_end) {
      if (at_end) break;
      chunk_begin = 0;
      chunk_end = std::fread(chunk.data(), 1, chunk.size(), file);
      if (chunk_end == 0) {
        if (std::ferror(file)) {
          error_number = errno != 0 ? errno : EIO;
          return ReadOutcome::kError;
        }
        at_end = true;
        break;
      }
    }
    any = true;
    const char* begin = chunk.data() + chunk_begin;
    const std::size_t available = chunk_end - chunk_begin;
    const void* newline = std::memchr(begin, '\n', available);
    if (newline != nullptr) {
      const std::size_t length = static_cast<const char*>(newline) - begin;
      record.append(begin, length);
      chunk_begin += length + 1;
      offset += static_cast<std::int64_t>(length) + 1;
      if (!record.empty() && record.back() == '\r') record.pop_back();
      ++records_read;
      // The carriage return dropped above is not part of the record.
      if (record.size() > kMaxRecordLength) return ReadOutcome::kTooLong;
      return ReadOutcome::kRecord;
    }
    record.append(begin, available);
    chunk_begin = chunk_end;
    offset += static_cast<std::int64_t>(available);
    if (record.size() > kMaxRecordLength + 1) {  // + 1: a final carriage return
      ++records_read;
      return ReadOutcome::kTooLong;
    }
  }
  if (!any && record.empty()) return ReadOutcome::kEndOfFile;
  if (!record.empty() && record.back() == '\r') record.pop_back();
  ++records_read;
  if (record.size() > kMaxRecordLength) return ReadOutcome::kTooLong;
  return ReadOutcome::kRecord;
}

bool UnitState::WriteRecord(std::string_view record) {
  if (!updatable) {
    if (in_memory) {  // a text to be read has no file to reopen
      error_number = EBADF;
      return false;
    }
    // Opened to be read: reopen for update, keeping the contents.
    std::FILE* update = std::freopen(path.c_str(), "r+b", file);
    if (update == nullptr) {
      error_number = errno;
      file = nullptr;
      return false;
    }
    file = update;
    updatable = true;
    reading = true;  // force the seek below
  }
  if (reading) {
    if (std::fseek(file, static_cast<long>(offset), SEEK_SET) != 0) {
      error_number = errno;
      return false;
    }
    reading = false;
    chunk_begin = chunk_end = 0;
  }
  if (std::fwrite(record.data(), 1, record.size(), file) != record.size() ||
      std::fputc('\n', file) == EOF) {
    error_number = errno != 0 ? errno : EIO;
    return false;
  }
  offset += static_cast<std::int64_t>(record.size()) + 1;
  return true;
}

bool UnitState::Flush() {
  if (file != nullptr && !reading && std::fflush(file) != 0) {
    error_number = errno;
    return false;
  }
  return true;
}

bool UnitState::EndWriteStatement() {
  if (cut) return true;
  cut = true;
  if (!Flush()) return false;
  if (in_memory) return true;  // a capture starts empty: nothing to cut
  std::error_code ec;
  std::filesystem::resize_file(path, static_cast<std::uintmax_t>(offset), ec);
  if (ec) {
    error_number = ec.value();
    return false;
  }
  return true;
}

TextUnits::TextUnits(std::ostream& console, std::filesystem::path directory)
    : console_(console), directory_(std::move(directory)) {}

std::filesystem::path TextUnits::PathOf(std::string_view file_name) const {
  const std::filesystem::path name(WithoutTrailingBlanks(file_name));
  // An absolute name replaces the directory (operator/ does that), so only
  // a relative one is taken inside it.
  return directory_.empty() ? name : directory_ / name;
}

TextUnits::~TextUnits() { CloseAll(); }

void TextUnits::Open(int unit, std::string_view file_name, OpenStatus status,
                     std::source_location where) {
  Close(unit);
  auto state = std::make_unique<UnitState>();
  state->number = unit;
  state->name = WithoutTrailingBlanks(file_name);
  state->path = PathOf(state->name).string();
  const std::string& name = state->name;
  const char* path = state->path.c_str();

  std::error_code ec;
  if (std::filesystem::is_directory(state->path, ec)) {
    OpenFailed(where, name, EISDIR);
  }
  if (status == OpenStatus::kOld) {
    state->file = OpenForReading(path, name, where, wait_interrupted_);
  } else if (status == OpenStatus::kReplace) {
    state->file = std::fopen(path, "w+b");
    if (state->file == nullptr) OpenFailed(where, name, errno);
    state->updatable = true;
  } else {
    state->file = std::fopen(path, "r+b");
    if (state->file == nullptr && errno == ENOENT) {
      state->file = std::fopen(path, "w+b");
    }
    if (state->file != nullptr) {
      state->updatable = true;
    } else {
      const int error_number = errno;
      state->file = std::fopen(path, "rb");  // read-only file
      if (state->file == nullptr) OpenFailed(where, name, error_number);
    }
  }
  // A unit opened to be read only is positioned at its start, where offset
  // is: its first read needs no seek, and so a named pipe, which cannot
  // seek, reads as a file does. A unit open for update starts as a write
  // would, so its first read positions the stream first.
  state->reading = status == OpenStatus::kOld;
  units_[unit] = std::move(state);
}

void TextUnits::OpenText(int unit, std::string_view name,
                         std::string_view text) {
  Close(unit);
  auto state = std::make_unique<UnitState>();
  state->number = unit;
  state->name = WithoutTrailingBlanks(name);
  state->in_memory = true;
  state->text = std::string(text);
  // fmemopen reads the string in place; it lives as long as the unit.
  state->file = ::fmemopen(state->text.data(), state->text.size(), "r");
  if (state->file == nullptr) {
    OpenFailed(std::source_location::current(), state->name, errno);
  }
  units_[unit] = std::move(state);
}

void TextUnits::OpenCapture(int unit, std::string_view name) {
  Close(unit);
  auto state = std::make_unique<UnitState>();
  state->number = unit;
  state->name = WithoutTrailingBlanks(name);
  state->in_memory = true;
  state->updatable = true;
  state->file = ::open_memstream(&state->memory_data, &state->memory_size);
  if (state->file == nullptr) {
    OpenFailed(std::source_location::current(), state->name, errno);
  }
  units_[unit] = std::move(state);
}

std::string TextUnits::Captured(int unit) {
  UnitState* state = Find(unit);
  if (state == nullptr || !state->in_memory || !state->updatable ||
      std::fflush(state->file) != 0 || state->memory_data == nullptr) {
    return "";
  }
  return std::string(state->memory_data, state->memory_size);
}

namespace {

// Closes the file of a unit and frees a capture's buffer (open_memstream
// leaves it to its caller).
void Release(UnitState& state) {
  if (state.file != nullptr) std::fclose(state.file);
  state.file = nullptr;
  std::free(state.memory_data);
  state.memory_data = nullptr;
}

}  // namespace

void TextUnits::Close(int unit) {
  const auto it = units_.find(unit);
  if (it == units_.end()) return;
  Release(*it->second);
  units_.erase(it);
}

void TextUnits::CloseAll() noexcept {
  for (auto& [number, state] : units_) Release(*state);
  units_.clear();
  console_.flush();
}

bool TextUnits::IsOpen(int unit) const { return units_.count(unit) != 0; }

UnitState* TextUnits::Find(int unit) {
  const auto it = units_.find(unit);
  return it == units_.end() ? nullptr : it->second.get();
}

}  // namespace segmix
