// Fuzz target: segmix-prep's pedigree-table reader, and what it builds from
// an accepted table. The prepared files must be what the program itself
// reads back: PrepareData validates the structure it built (InternalFault
// when the validator refuses it), and the files written are loaded again by
// ReadFamilyData, which must give the same store, value for value.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "data/family_store.h"
#include "data/read_family_data.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_targets.h"
#include "prep/pedigree_table.h"
#include "prep/prepared_data.h"
#include "run/control_file.h"
#include "textio/termination.h"
#include "textio/text_units.h"

namespace segmix::fuzz {
namespace {

bool SameBits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() &&
         std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

void CheckReadBack(const prep::PreparedData& data,
                   const std::filesystem::path& directory) {
  prep::WritePreparedFiles(data, directory, true);
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(directory);
  std::ostringstream console;
  FamilyStore store;
  try {
    TextUnits units(console);
    ReadFamilyData(
        units, 2, data.control.data_file_name,
        std::span<const std::string>(data.control.covariate_file_names)
            .subspan(1, data.control.covariate_count),
        store);
  } catch (const RunTermination&) {
    std::abort();  // the program refuses what segmix-prep wrote
  }
  std::filesystem::current_path(previous);
  const FamilyStore& s = data.store;
  if (store.listed_family_count != s.listed_family_count ||
      store.member_offset != s.member_offset ||
      store.nuclear_offset != s.nuclear_offset ||
      store.list_offset != s.list_offset ||
      store.member_list != s.member_list || store.connector != s.connector ||
      store.member_count != s.member_count || store.sex != s.sex ||
      store.status != s.status || !SameBits(store.trait, s.trait)) {
    std::abort();
  }
  for (std::int32_t q = 1; q <= data.control.covariate_count; ++q) {
    if (!SameBits(store.covariate[q], s.covariate[q])) std::abort();
  }
}

}  // namespace

int FuzzPedigreeTable(const std::uint8_t* data, std::size_t size) {
  const std::string text(AsText(data, size));
  try {
    std::istringstream header_in(text);
    const prep::TextTable table =
        prep::ReadTextTable(header_in, "pedigree.txt");
    // Every column beyond the required ones is taken as a covariate, at
    // most five, each name once (names compare in any case).
    prep::PrepOptions options;
    std::vector<std::string> seen;
    for (const std::string& column : table.header) {
      std::string lower = column;
      std::transform(lower.begin(), lower.end(), lower.begin(),
                     [](unsigned char c) { return std::tolower(c); });
      const bool required =
          std::find(std::begin(prep::kRequiredColumns),
                    std::end(prep::kRequiredColumns),
                    lower) != std::end(prep::kRequiredColumns);
      if (required || lower.empty() ||
          std::find(seen.begin(), seen.end(), lower) != seen.end() ||
          options.covariates.size() ==
              static_cast<std::size_t>(kMaxCovariates)) {
        continue;
      }
      seen.push_back(lower);
      options.covariates.push_back(column);
    }
    std::istringstream in(text);
    const prep::PedigreeTable pedigree =
        prep::ReadPedigreeTable(in, "pedigree.txt", options.covariates);
    const prep::PreparedData prepared = prep::PrepareData(pedigree, options);
    CheckReadBack(prepared, ScratchDirectory() / "prep");
  } catch (const RunTermination&) {
  }
  return 0;
}

}  // namespace segmix::fuzz
