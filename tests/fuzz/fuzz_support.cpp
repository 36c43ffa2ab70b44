// The scratch directory and the input splitting of the fuzz targets.
#include "fuzz/fuzz_support.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace segmix::fuzz {
namespace {

class Scratch {
 public:
  Scratch() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "segmix_fuzz_XXXXXX")
            .string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("cannot create a scratch directory in " +
                               std::filesystem::temp_directory_path().string());
    }
    path_ = pattern;
  }
  ~Scratch() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace

const std::filesystem::path& ScratchDirectory() {
  static const Scratch scratch;
  return scratch.Path();
}

void WriteFile(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

InScratchDirectory::InScratchDirectory()
    : previous_(std::filesystem::current_path()) {
  std::filesystem::current_path(ScratchDirectory());
}

InScratchDirectory::~InScratchDirectory() {
  std::error_code ec;
  std::filesystem::current_path(previous_, ec);
}

std::vector<std::string_view> SplitParts(std::string_view input,
                                         std::size_t max_parts) {
  std::vector<std::string_view> parts;
  std::size_t begin = 0;
  while (parts.size() + 1 < max_parts) {
    // A separator line starts the input or follows a line feed.
    std::size_t at = begin;
    std::size_t found = std::string_view::npos;
    while (at <= input.size()) {
      const std::size_t hit = input.find(kPartSeparator, at);
      if (hit == std::string_view::npos) break;
      if (hit == 0 || input[hit - 1] == '\n') {
        found = hit;
        break;
      }
      at = hit + 1;
    }
    if (found == std::string_view::npos) break;
    parts.push_back(input.substr(begin, found - begin));
    begin = found + kPartSeparator.size();
  }
  parts.push_back(input.substr(begin));
  return parts;
}

}  // namespace segmix::fuzz
