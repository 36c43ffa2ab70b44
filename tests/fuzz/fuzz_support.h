// Support shared by the fuzz targets: a scratch directory per process, in
// which a target writes the files it builds from its input, and the splitting
// of one input into several files.
//
// A target is a function that takes one input of any bytes and must return
// normally for every input: the program's own early ends (RunTermination) are
// caught there; anything else (a crash, a sanitizer report, any other
// exception) is a finding.
#ifndef SEGMIX_TESTS_FUZZ_FUZZ_SUPPORT_H_
#define SEGMIX_TESTS_FUZZ_FUZZ_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace segmix::fuzz {

// The process's scratch directory (created on first use under the system's
// temporary directory, removed at exit).
const std::filesystem::path& ScratchDirectory();

// Writes `bytes` to `path` exactly as given.
void WriteFile(const std::filesystem::path& path, std::string_view bytes);

// While alive, the working directory is the scratch directory; the previous
// one is restored on destruction (the family data reader opens iway.dat by
// name in the working directory).
class InScratchDirectory {
 public:
  InScratchDirectory();
  ~InScratchDirectory();
  InScratchDirectory(const InScratchDirectory&) = delete;
  InScratchDirectory& operator=(const InScratchDirectory&) = delete;

 private:
  std::filesystem::path previous_;
};

// The parts of an input separated by lines that hold exactly "%%" (a line
// feed ends each such line; the separator belongs to no part). An input with
// no separator is one part. At most `max_parts` parts: the last one holds the
// rest, separators included.
inline constexpr std::string_view kPartSeparator = "%%\n";
std::vector<std::string_view> SplitParts(std::string_view input,
                                         std::size_t max_parts);

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace segmix::fuzz

#endif  // SEGMIX_TESTS_FUZZ_FUZZ_SUPPORT_H_
