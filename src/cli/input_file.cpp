// Opening an input file after a look at what it is; reading capped lines.
#include "cli/input_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <istream>

#include "cli/command_line.h"

namespace segmix::cli {

void OpenInputFile(std::ifstream& in, const std::string& path,
                   std::string_view what) {
  // stat follows a symbolic link, so a link is judged by what it names.
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    throw InputFileError("cannot open " + std::string(what) + " " + path +
                         ": " + std::strerror(errno) + ".");
  }
  if (S_ISDIR(status.st_mode)) {
    throw InputFileError(path + " is a directory, not " + std::string(what) +
                         "; give the file inside it.");
  }
  if (!S_ISREG(status.st_mode) && !S_ISFIFO(status.st_mode)) {
    throw InputFileError(path + " is a device or socket, not " +
                         std::string(what) +
                         "; give a file (or a pipe) that holds the text.");
  }
  in.open(path, std::ios::binary);
  if (!in) {
    throw InputFileError("cannot open " + std::string(what) + " " + path +
                         ": " + std::strerror(errno) + ".");
  }
}

bool ReadLineCapped(std::istream& in, std::string& line,
                    std::string_view source, int line_number,
                    std::size_t limit) {
  line.clear();
  std::istream::sentry ready(in, /*noskipws=*/true);
  if (!ready) return false;
  std::streambuf& buffer = *in.rdbuf();
  bool any = false;
  for (;;) {
    const auto c = buffer.sbumpc();
    if (std::char_traits<char>::eq_int_type(c, std::char_traits<char>::eof())) {
      in.setstate(any ? std::ios::eofbit
                      : std::ios::eofbit | std::ios::failbit);
      break;
    }
    any = true;
    if (c == '\n') break;
    line.push_back(std::char_traits<char>::to_char_type(c));
    // + 1: room for a carriage return before the line feed.
    if (line.size() > limit + 1) break;
  }
  const bool carriage_return = !line.empty() && line.back() == '\r';
  if (line.size() > limit + (carriage_return ? 1 : 0)) {
    throw InputFileError(
        std::string(source) + ", line " + std::to_string(line_number) +
        ": the line is longer than " + std::to_string(limit) +
        (limit == kMaxLineLength ? " characters (64 MiB)" : " characters") +
        "; a text table has lines of ordinary length. Check"
        " that the file named is the right one.");
  }
  return any;
}

std::string ReadTextFile(const std::string& path, std::string_view what) {
  std::ifstream in;
  OpenInputFile(in, path, what);
  std::string text, line;
  for (int n = 1; ReadLineCapped(in, line, path, n); ++n) {
    text += line;
    text += '\n';
  }
  return text;
}

}  // namespace segmix::cli
