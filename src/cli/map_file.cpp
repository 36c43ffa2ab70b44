// Reading segmix-prep's map file back.
#include "cli/map_file.h"

#include <charconv>
#include <system_error>

#include "cli/text_table.h"
#include "textio/termination.h"

namespace segmix::cli {

std::vector<MapEntry> ReadMapFile(std::istream& in, std::string_view source) {
  const TextTable text = ReadTextTable(in, source);
  const std::vector<std::string> expected{
      "family_index", "position", "store_index", "family", "id", "line"};
  if (text.header != expected) {
    throw InputRejected(std::string(source) +
                        ": not a map file of segmix-prep (its header must be"
                        " \"family_index position store_index family id"
                        " line\").");
  }
  std::vector<MapEntry> map;
  for (const TextTable::Row& row : text.rows) {
    MapEntry e;
    int* const numbers[] = {&e.family_index, &e.position, &e.store_index,
                            &e.line};
    const std::string* const texts[] = {&row.fields[0], &row.fields[1],
                                        &row.fields[2], &row.fields[5]};
    for (int i = 0; i < 4; ++i) {
      const std::string& t = *texts[i];
      const auto [end, fault] =
          std::from_chars(t.data(), t.data() + t.size(), *numbers[i]);
      if (fault != std::errc() || end != t.data() + t.size()) {
        throw InputRejected(RowPlace(source, row.line) + "\"" + t +
                            "\" is not a whole number.");
      }
    }
    e.family = row.fields[3];
    e.id = row.fields[4];
    map.push_back(std::move(e));
  }
  return map;
}

}  // namespace segmix::cli
