// Part files of a sliced bootstrap: written by each slice, read, checked
// against one another and merged by --merge.
#include "fit/bootstrap_parts.h"

#include <algorithm>
#include <array>
#include <boost/crc.hpp>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "cli/command_line.h"
#include "cli/input_file.h"
#include "textio/termination.h"

namespace segmix::fit {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

constexpr const char* kFormat = "segmix-fit bootstrap part 1";

[[noreturn]] void NotAPart(const fs::path& file, const std::string& why) {
  throw InputRejected(file.string() +
                      " is not a bootstrap part file of this "
                      "program (" +
                      why +
                      "); give the --out folders of "
                      "segmix-fit --bootstrap-task runs.");
}

std::string SliceText(BootstrapTask task) {
  return std::to_string(task.index) + "/" + std::to_string(task.count);
}

// The first difference between two parts' identities, empty when none.
std::string IdentityDifference(const BootstrapPart& a, const BootstrapPart& b) {
  if (a.version != b.version) return "program version";
  if (a.options != b.options) return "options";
  if (a.inputs != b.inputs) return "input files";
  if (a.seed != b.seed) return "--bootstrap-seed";
  if (a.replicates != b.replicates) return "--bootstrap N";
  if (a.task.count != b.task.count) return "number of slices K";
  if (a.tests.size() != b.tests.size()) return "tests";
  for (std::size_t t = 0; t < a.tests.size(); ++t) {
    if (a.tests[t].label != b.tests[t].label ||
        a.tests[t].statistic != b.tests[t].statistic) {
      return "test " + a.tests[t].label;
    }
  }
  return "";
}

}  // namespace

std::vector<int> SliceReplicates(int n, BootstrapTask task) {
  std::vector<int> replicates;
  const int first = task.Sliced() ? task.index : 1;
  const int step = task.Sliced() ? task.count : 1;
  for (int b = first; b <= n; b += step) replicates.push_back(b);
  return replicates;
}

std::vector<InputDigest> DigestInputs(const std::vector<fs::path>& paths) {
  std::vector<InputDigest> digests;
  std::array<char, 1 << 16> buffer{};
  for (const fs::path& path : paths) {
    if (!fs::exists(path)) continue;  // idmap.dat, when there is none
    std::ifstream in;
    cli::OpenInputFile(in, path.string(), "an input file");
    boost::crc_32_type crc;
    InputDigest d;
    d.path = path.string();
    while (in) {
      in.read(buffer.data(), buffer.size());
      const std::streamsize got = in.gcount();
      crc.process_bytes(buffer.data(), static_cast<std::size_t>(got));
      d.bytes += static_cast<std::uintmax_t>(got);
    }
    if (in.bad()) {
      throw cli::InputFileError("could not read " + path.string() +
                                "; check that it is readable.");
    }
    d.crc32 = crc.checksum();
    digests.push_back(d);
  }
  return digests;
}

std::string InputChange(const std::vector<InputDigest>& then,
                        const std::vector<InputDigest>& now) {
  const auto [a, b] =
      std::mismatch(then.begin(), then.end(), now.begin(), now.end());
  if (a == then.end() && b == now.end()) return "";
  if (a == then.end()) return b->path + " is new";
  if (b == now.end()) return a->path + " is gone";
  return b->path + " has changed (its size or CRC-32 differ)";
}

Json DigestsJson(const std::vector<InputDigest>& digests) {
  Json inputs = Json::array();
  for (const InputDigest& d : digests) {
    inputs.push_back(
        {{"path", d.path}, {"bytes", d.bytes}, {"crc32", d.crc32}});
  }
  return inputs;
}

std::vector<InputDigest> DigestsFromJson(const Json& j) {
  std::vector<InputDigest> digests;
  for (const Json& d : j) {
    digests.push_back({d.at("path").get<std::string>(),
                       d.at("bytes").get<std::uintmax_t>(),
                       d.at("crc32").get<std::uint32_t>()});
  }
  return digests;
}

std::string PartJson(const BootstrapPart& part) {
  Json tests = Json::array();
  for (const BootstrapPart::Test& t : part.tests) {
    Json replicates = Json::array();
    for (const BootstrapReplicate& r : t.replicates) {
      replicates.push_back(
          {r.index, r.drawn, r.null_ln_lh, r.alternative_ln_lh, r.statistic});
    }
    tests.push_back({{"test", t.label},
                     {"statistic", t.statistic},
                     {"replicates", replicates}});
  }
  const Json j = {{"format", kFormat},
                  {"version", part.version},
                  {"options", part.options},
                  {"inputs", DigestsJson(part.inputs)},
                  {"args", part.args},
                  {"working_folder", part.working_folder},
                  {"slice", {part.task.index, part.task.count}},
                  {"replicates", part.replicates},
                  {"seed", part.seed},
                  {"tests", tests}};
  return j.dump(1) + "\n";
}

BootstrapPart ReadPart(const fs::path& dir) {
  const fs::path file = dir / kPartFileName;
  if (!fs::exists(file)) {
    throw InputRejected(dir.string() + " holds no " + kPartFileName +
                        "; give the --out folders of segmix-fit "
                        "--bootstrap-task runs that have finished.");
  }
  const std::string text =
      cli::ReadTextFile(file.string(), "a bootstrap part file");
  BootstrapPart part;
  try {
    const Json j = Json::parse(text);
    if (j.at("format") != kFormat) NotAPart(file, "its format is another");
    part.version = j.at("version").get<std::string>();
    part.options = j.at("options").get<std::string>();
    part.inputs = DigestsFromJson(j.at("inputs"));
    part.args = j.at("args").get<std::vector<std::string>>();
    part.working_folder = j.at("working_folder").get<std::string>();
    part.task = {j.at("slice").at(0).get<int>(),
                 j.at("slice").at(1).get<int>()};
    part.replicates = j.at("replicates").get<int>();
    part.seed = j.at("seed").get<std::uint64_t>();
    for (const Json& t : j.at("tests")) {
      BootstrapPart::Test test;
      test.label = t.at("test").get<std::string>();
      test.statistic = t.at("statistic").get<double>();
      for (const Json& r : t.at("replicates")) {
        BootstrapReplicate b;
        b.index = r.at(0).get<int>();
        b.drawn = r.at(1).get<bool>();
        b.null_ln_lh = r.at(2).get<double>();
        b.alternative_ln_lh = r.at(3).get<double>();
        b.statistic = r.at(4).get<double>();
        test.replicates.push_back(b);
      }
      part.tests.push_back(std::move(test));
    }
  } catch (const Json::exception& error) {
    NotAPart(file, error.what());
  }
  if (part.task.count < 1 || part.task.index < 1 ||
      part.task.index > part.task.count) {
    NotAPart(file, "its slice is " + SliceText(part.task));
  }
  return part;
}

BootstrapPart MergeParts(const std::vector<fs::path>& dirs) {
  std::vector<BootstrapPart> parts;
  for (const fs::path& dir : dirs) parts.push_back(ReadPart(dir));
  const BootstrapPart& first = parts.front();
  std::map<int, std::size_t> holder;  // slice index -> part
  for (std::size_t p = 0; p < parts.size(); ++p) {
    const std::string difference = IdentityDifference(first, parts[p]);
    if (!difference.empty()) {
      throw InputRejected("the slice in " + dirs[p].string() +
                          " belongs to another "
                          "analysis than the one in " +
                          dirs.front().string() + ": its " + difference +
                          " differ; merge only the slices of one command.");
    }
    const auto [at, fresh] = holder.emplace(parts[p].task.index, p);
    if (!fresh) {
      throw InputRejected("the slices overlap: " + dirs[at->second].string() +
                          " and " + dirs[p].string() + " both hold slice " +
                          SliceText(parts[p].task) + "; give each once.");
    }
    const std::vector<int> expected =
        SliceReplicates(parts[p].replicates, parts[p].task);
    for (const BootstrapPart::Test& t : parts[p].tests) {
      std::vector<int> held;
      for (const BootstrapReplicate& r : t.replicates) held.push_back(r.index);
      if (held != expected) {
        throw InputRejected("the slice in " + dirs[p].string() +
                            " is incomplete: test " + t.label + " holds " +
                            std::to_string(held.size()) + " of its " +
                            std::to_string(expected.size()) +
                            " replicates; run that slice again.");
      }
    }
  }
  for (int i = 1; i <= first.task.count; ++i) {
    if (holder.count(i) == 0) {
      throw InputRejected("slice " + SliceText({i, first.task.count}) +
                          " is missing: no folder given holds it; run it, or "
                          "give its folder.");
    }
  }
  BootstrapPart merged = first;
  merged.task = {};
  for (std::size_t t = 0; t < merged.tests.size(); ++t) {
    std::vector<BootstrapReplicate>& all = merged.tests[t].replicates;
    all.clear();
    for (const BootstrapPart& part : parts) {
      all.insert(all.end(), part.tests[t].replicates.begin(),
                 part.tests[t].replicates.end());
    }
    std::sort(all.begin(), all.end(),
              [](const BootstrapReplicate& a, const BootstrapReplicate& b) {
                return a.index < b.index;
              });
  }
  return merged;
}

}  // namespace segmix::fit
