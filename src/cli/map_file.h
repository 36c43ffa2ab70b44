// segmix-prep's map file, idmap.dat: from family index and member position
// (the numbering of iway.dat, LH_fam.dat and the trait file) back to the ids
// of the pedigree table. segmix-prep writes it; segmix-fit and the tests read
// it back with ReadMapFile.
#ifndef SEGMIX_CLI_MAP_FILE_H_
#define SEGMIX_CLI_MAP_FILE_H_

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace segmix::cli {

inline constexpr std::string_view kMapFileName = "idmap.dat";

// One line of the map file: member `position` of family `family_index` (the
// family numbers of iway.dat and LH_fam.dat) is person `id` of family
// `family` on line `line` of the table; `store_index` is its place in the
// trait and covariate files.
struct MapEntry {
  std::int32_t family_index = 0;
  std::int32_t position = 0;
  std::int32_t store_index = 0;
  std::string family;
  std::string id;
  int line = 0;
  bool operator==(const MapEntry&) const = default;
};

// Reads a map file back: a header "family_index position store_index family
// id line", then one row per person (ids may be quoted as segmix-prep writes
// them). Throws segmix::InputRejected naming `source` and the line when it is
// not one.
std::vector<MapEntry> ReadMapFile(std::istream& in, std::string_view source);

}  // namespace segmix::cli

#endif  // SEGMIX_CLI_MAP_FILE_H_
