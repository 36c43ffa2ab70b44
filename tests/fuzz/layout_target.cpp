// Fuzz target: layout strings, fixed-layout input and output editing, and the
// single-value edits under them.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_targets.h"
#include "textio/edit.h"
#include "textio/layout.h"
#include "textio/statements.h"
#include "textio/termination.h"
#include "textio/text_units.h"

namespace segmix::fuzz {
namespace {

constexpr int kUnit = 2;
// The program's layouts are small; a width, digit count, skip or slash count
// above this would only make the write pass build huge records.
constexpr std::int32_t kLargestField = 4096;
constexpr std::size_t kMostValues = 64;
constexpr std::size_t kTextLength = 16;

using Value = std::variant<std::int32_t, float, double, std::string>;

bool Bounded(const Layout& layout) {
  for (const EditItem& item : layout.items) {
    if (item.width > kLargestField || item.digits > kLargestField) return false;
    if (!item.IsData() && item.repeat > kLargestField) return false;
  }
  return true;
}

// The values one read takes: the data items of two passes over the layout.
std::vector<Value> ValuesFor(const Layout& layout) {
  std::vector<Value> values;
  for (int pass = 0; pass < 2; ++pass) {
    for (const EditItem& item : layout.items) {
      if (!item.IsData()) continue;
      for (std::int32_t r = 0; r < item.repeat; ++r) {
        if (values.size() == kMostValues) return values;
        switch (item.kind) {
          case EditKind::kInteger:
            values.emplace_back(std::int32_t{0});
            break;
          case EditKind::kCharacter:
            values.emplace_back(std::string(kTextLength, ' '));
            break;
          default:
            if (values.size() % 2 == 0) {
              values.emplace_back(0.0f);
            } else {
              values.emplace_back(0.0);
            }
        }
      }
    }
  }
  return values;
}

void ReadThrough(TextUnits& units, std::string_view layout_text,
                 std::vector<Value>& values) {
  ReadStatement r(units, kUnit, layout_text);
  for (Value& value : values) {
    if (auto* i = std::get_if<std::int32_t>(&value)) r >> *i;
    if (auto* f = std::get_if<float>(&value)) r >> *f;
    if (auto* d = std::get_if<double>(&value)) r >> *d;
    if (auto* s = std::get_if<std::string>(&value)) r.Text(*s, kTextLength);
  }
  r.End();
}

void WriteThrough(TextUnits& units, std::string_view layout_text,
                  const std::vector<Value>& values) {
  WriteStatement w(units, kConsole, layout_text);
  for (const Value& value : values) {
    std::visit([&w](const auto& v) { w << v; }, value);
  }
  w.End();
}

template <typename T>
bool SameBits(T a, T b) {
  return std::memcmp(&a, &b, sizeof(T)) == 0;
}

// Shortest output must read back as the same value (free-form input, which
// has no implied decimal point).
template <typename T>
void CheckShortestRoundTrip(T value) {
  if (!std::isfinite(value)) return;
  const std::string text = ShortestReal(value);
  T back{};
  if (ReadRealField(text, 0, false, back) != InputResult::kOk ||
      !SameBits(back, value)) {
    std::abort();
  }
}

void EditSingleValues(std::string_view bytes) {
  if (bytes.size() < 10) return;
  double d;
  float f;
  std::memcpy(&d, bytes.data(), sizeof d);
  std::memcpy(&f, bytes.data(), sizeof f);
  const std::int32_t width = static_cast<unsigned char>(bytes[8]) % 48;
  const std::int32_t digits = static_cast<unsigned char>(bytes[9]) % 32;
  EditExponent(d, width, digits);
  EditFixed(d, width, digits);
  EditExponent(static_cast<double>(f), width, digits);
  EditFixed(static_cast<double>(f), width, digits);
  std::int32_t i;
  std::memcpy(&i, bytes.data(), sizeof i);
  EditInteger(i, width);
  CheckShortestRoundTrip(d);
  CheckShortestRoundTrip(f);

  const std::string_view field = bytes.substr(10, 64);
  std::int32_t integer = 0;
  ReadIntegerField(field, false, integer);
  ReadIntegerField(field, true, integer);
  ReadRealField(field, digits, true, d);
  ReadRealField(field, digits, false, f);
}

}  // namespace

int FuzzLayout(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = AsText(data, size);
  const std::size_t line_end = input.find('\n');
  const std::string_view layout_text = input.substr(0, line_end);
  const std::string_view file = line_end == std::string_view::npos
                                    ? std::string_view{}
                                    : input.substr(line_end + 1);

  EditSingleValues(file);

  const Layout layout = ParseLayout(layout_text);
  if (!layout.error.empty() || layout_text.empty() || !Bounded(layout))
    return 0;

  const auto path = ScratchDirectory() / "layout.txt";
  WriteFile(path, file);
  std::vector<Value> values = ValuesFor(layout);
  std::ostringstream console;
  TextUnits units(console);
  try {
    units.Open(kUnit, path.string(), OpenStatus::kOld);
    ReadThrough(units, layout_text, values);
  } catch (const RunTermination&) {
  }
  try {
    WriteThrough(units, layout_text, values);
  } catch (const RunTermination&) {
  }
  return 0;
}

}  // namespace segmix::fuzz
