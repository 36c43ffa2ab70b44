// Fuzz target: free-form input (separators, null values, slashes, repeat
// counts, quoted and unquoted text, values over record ends) and free-form
// output of what was read.
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_targets.h"
#include "textio/statements.h"
#include "textio/termination.h"
#include "textio/text_units.h"

namespace segmix::fuzz {
namespace {

constexpr int kUnit = 2;
constexpr int kMostStatements = 32;

struct Text {
  std::string value;
  std::size_t length;
};
using Value = std::variant<std::int32_t, float, double, Text>;

}  // namespace

int FuzzFreeForm(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t count = std::min<std::size_t>(data[0] % 17, size - 1);
  std::vector<Value> values;
  for (std::size_t k = 0; k < count; ++k) {
    const std::uint8_t b = data[1 + k];
    switch (b % 4) {
      case 0:
        values.emplace_back(std::int32_t{0});
        break;
      case 1:
        values.emplace_back(0.0f);
        break;
      case 2:
        values.emplace_back(0.0);
        break;
      default: {
        const std::size_t length = (b >> 2) % 24 + 1;
        values.emplace_back(Text{std::string(length, ' '), length});
      }
    }
  }
  const auto path = ScratchDirectory() / "free_form.txt";
  WriteFile(path, AsText(data + 1 + count, size - 1 - count));

  std::ostringstream console;
  TextUnits units(console);
  try {
    units.Open(kUnit, path.string(), OpenStatus::kOld);
    for (int statement = 0; statement < kMostStatements; ++statement) {
      {
        ReadStatement r(units, kUnit);
        for (Value& value : values) {
          if (auto* i = std::get_if<std::int32_t>(&value)) r >> *i;
          if (auto* f = std::get_if<float>(&value)) r >> *f;
          if (auto* d = std::get_if<double>(&value)) r >> *d;
          if (auto* t = std::get_if<Text>(&value)) {
            r.Text(t->value, t->length);
            if (t->value.size() != t->length) std::abort();
          }
        }
        r.End();
      }
      WriteStatement w(units, kConsole);
      for (const Value& value : values) {
        if (const auto* i = std::get_if<std::int32_t>(&value)) w << *i;
        if (const auto* f = std::get_if<float>(&value)) w << *f;
        if (const auto* d = std::get_if<double>(&value)) w << *d;
        if (const auto* t = std::get_if<Text>(&value)) w << t->value;
      }
      w.End();
    }
  } catch (const RunTermination&) {
  }
  return 0;
}

}  // namespace segmix::fuzz
