// A bootstrap spread over machines. `--bootstrap-task i/K` fits the series
// as a whole run would (it is deterministic, so every slice has the same
// estimates and observed statistics) and draws and fits only replicates i,
// i + K, i + 2K, ... of every bootstrapped test; their results go to the
// slice's part file, bootstrap-part.json, with what identifies the analysis:
// the program's version, the options that fix the results
// (AnalysisOptions), every input file's size and CRC-32, and the command
// line with its working folder. `--merge` checks that the parts belong to
// one analysis, hold every slice of it once and every replicate of each
// slice, fits the series once more from the recorded command line, and
// takes the replicates from the parts in place of drawing them: replicate b
// is a function of (seed, b) alone, so the merged run writes what a single
// run would have written.
#ifndef SEGMIX_FIT_BOOTSTRAP_PARTS_H_
#define SEGMIX_FIT_BOOTSTRAP_PARTS_H_

#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "fit/comparisons.h"
#include "fit/plan.h"

namespace segmix::fit {

inline constexpr const char* kPartFileName = "bootstrap-part.json";

// Replicates of slice `task` among 1..n in increasing order (1..n when not
// sliced).
std::vector<int> SliceReplicates(int n, BootstrapTask task);

// What identifies one input file's contents.
struct InputDigest {
  std::string path;  // absolute
  std::uintmax_t bytes = 0;
  std::uint32_t crc32 = 0;
  bool operator==(const InputDigest&) const = default;
};

// The digests of the files of `paths` that exist, in order. Throws
// cli::InputFileError for a file that cannot be read.
std::vector<InputDigest> DigestInputs(
    const std::vector<std::filesystem::path>& paths);

// Digests as part files and fit.json hold them: [{path, bytes, crc32}].
// DigestsFromJson throws nlohmann's exceptions for another layout.
nlohmann::ordered_json DigestsJson(const std::vector<InputDigest>& digests);
std::vector<InputDigest> DigestsFromJson(const nlohmann::ordered_json& j);

// How the files read now differ from those recorded then (both from
// DigestInputs of the same paths): "PATH has changed (its size or CRC-32
// differ)", "PATH is new" or "PATH is gone"; empty when they are the same.
std::string InputChange(const std::vector<InputDigest>& then,
                        const std::vector<InputDigest>& now);

// One slice's part file.
struct BootstrapPart {
  std::string version;
  std::string options;  // AnalysisOptions of the slice's plan
  std::vector<InputDigest> inputs;
  std::vector<std::string> args;  // the command line, to read the plan again
  std::string working_folder;
  BootstrapTask task;
  int replicates = 0;      // N of --bootstrap, or R of --simulate-from
  std::uint64_t seed = 0;  // the seed of those draws
  struct Test {
    std::string label;
    double statistic = 0;  // the observed one, checked by the merge
    std::vector<BootstrapReplicate> replicates;  // in replicate order
  };
  std::vector<Test> tests;
};

std::string PartJson(const BootstrapPart& part);

// Reads DIR/bootstrap-part.json. Throws cli::InputFileError when it cannot
// be read and segmix::InputRejected, naming the file, when it is not a part
// file.
BootstrapPart ReadPart(const std::filesystem::path& dir);

// The parts of `dirs` merged: the first part's identity with every test's
// replicates 1..N in order. Throws segmix::InputRejected, naming the folders
// and what to do, when a part belongs to another analysis (version, options,
// inputs, seed or N differ), two folders hold one slice, a slice is missing
// or a part lacks a replicate or a test of its slice.
BootstrapPart MergeParts(const std::vector<std::filesystem::path>& dirs);

}  // namespace segmix::fit

#endif  // SEGMIX_FIT_BOOTSTRAP_PARTS_H_
