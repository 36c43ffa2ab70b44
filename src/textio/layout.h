// Layout strings: "(2i3,i2,4E12.5)" parsed once into a list of edit items.
// Letters in either case; blanks and tabs outside quoted text are ignored,
// also between the digits of a number. Items: rIw, rEw.d, rFw.d, rAw, rA,
// nX, r/, 'text' or "text" (a doubled delimiter stands for one), separated
// by commas (a comma may be left out around slashes and quoted text).
// Parenthesised groups and scale factors are not part of the layer.
#ifndef SEGMIX_TEXTIO_LAYOUT_H_
#define SEGMIX_TEXTIO_LAYOUT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace segmix {

enum class EditKind : std::uint8_t {
  kInteger,    // Iw
  kExponent,   // Ew.d
  kFixed,      // Fw.d
  kCharacter,  // Aw, or A (width 0: the value's own length)
  kSkip,       // nX
  kSlash,      // /
  kText,       // 'text'
};

struct EditItem {
  EditKind kind = EditKind::kSkip;
  std::int32_t repeat = 1;  // copies of a data item; X columns; slashes
  std::int32_t width = 0;
  std::int32_t digits = 0;
  std::string text;  // kText only, delimiters removed

  bool IsData() const {
    return kind == EditKind::kInteger || kind == EditKind::kExponent ||
           kind == EditKind::kFixed || kind == EditKind::kCharacter;
  }
};

struct Layout {
  std::vector<EditItem> items;
  bool has_data_item = false;
  std::string error;  // empty when the layout string parsed
};

Layout ParseLayout(std::string_view layout);

}  // namespace segmix

#endif  // SEGMIX_TEXTIO_LAYOUT_H_
