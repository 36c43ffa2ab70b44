// Runs every file of the committed fuzz corpora through its target, so that
// the ordinary (and the sanitizer) build exercises the seeds and keeps every
// input that once failed as a regression case. A target returns for every
// input; a crash or sanitizer report ends the test binary.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_targets.h"

namespace segmix::fuzz {
namespace {

const std::filesystem::path kCorpusRoot = SEGMIX_FUZZ_CORPUS_DIR;

std::vector<std::filesystem::path> CorpusFiles(std::string_view target) {
  std::vector<std::filesystem::path> files;
  const auto dir = kCorpusRoot / target;
  if (!std::filesystem::is_directory(dir)) return files;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class CorpusReplay : public ::testing::TestWithParam<Target> {};

TEST_P(CorpusReplay, EveryCorpusFileReturns) {
  const Target& target = GetParam();
  const auto files = CorpusFiles(target.name);
  ASSERT_FALSE(files.empty())
      << "no corpus under " << (kCorpusRoot / target.name);
  for (const auto& file : files) {
    SCOPED_TRACE(file.filename().string());
    const std::string bytes = ReadBytes(file);
    EXPECT_EQ(target.run(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                         bytes.size()),
              0);
  }
}

// Edge inputs every target must take.
TEST_P(CorpusReplay, EmptyAndTinyInputsReturn) {
  const Target& target = GetParam();
  const std::uint8_t bytes[] = {'\n', '%', '%', '\n', 0xff, '\r', 0};
  for (std::size_t n = 0; n <= sizeof bytes; ++n) {
    EXPECT_EQ(target.run(bytes, n), 0) << n << " bytes";
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, CorpusReplay,
                         ::testing::ValuesIn(Targets().begin(),
                                             Targets().end()),
                         [](const ::testing::TestParamInfo<Target>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace segmix::fuzz
