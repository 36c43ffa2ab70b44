// Parsing of layout strings into edit items.
#include "textio/layout.h"

#include <cctype>
#include <limits>

namespace segmix {
namespace {

// Removes blanks and tabs outside quoted text, so numbers written with blanks
// between their digits read as one number.
std::string Squeezed(std::string_view layout) {
  std::string out;
  out.reserve(layout.size());
  char quote = 0;
  for (const char c : layout) {
    if (quote != 0) {
      out.push_back(c);
      if (c == quote) quote = 0;  // a doubled delimiter reopens at once
    } else if (c == '\'' || c == '"') {
      quote = c;
      out.push_back(c);
    } else if (c != ' ' && c != '\t') {
      out.push_back(c);
    }
  }
  return out;
}

class Parser {
 public:
  explicit Parser(std::string s) : s_(std::move(s)) {}

  Layout Run() {
    Layout layout;
    if (!Take('(')) return Fail("Missing initial left parenthesis in format");
    for (;;) {
      if (pos_ >= s_.size())
        return Fail("Missing final right parenthesis in format");
      const char c = s_[pos_];
      if (c == ')') {
        ++pos_;
        if (pos_ != s_.size())
          return Fail("Extraneous characters after format");
        return Done(std::move(layout));
      }
      if (c == ',') {
        ++pos_;
        continue;
      }
      if (c == '\'' || c == '"') {
        EditItem item;
        item.kind = EditKind::kText;
        if (!QuotedText(item.text))
          return Fail("Unterminated character constant in format");
        layout.items.push_back(std::move(item));
        continue;
      }
      std::int32_t repeat = 0;
      const bool has_repeat = Number(repeat);
      if (has_repeat && repeat == 0) return Fail("Zero repeat count in format");
      if (pos_ >= s_.size())
        return Fail("Missing final right parenthesis in format");
      const char letter = static_cast<char>(
          std::toupper(static_cast<unsigned char>(s_[pos_++])));
      EditItem item;
      item.kind = EditKind::kSkip;
      item.repeat = has_repeat ? repeat : 1;
      switch (letter) {
        case 'X':
          item.kind = EditKind::kSkip;
          break;
        case '/':
          item.kind = EditKind::kSlash;
          break;
        case 'I':
          item.kind = EditKind::kInteger;
          if (!PositiveNumber(item.width))
            return Fail("Positive width required in format");
          break;
        case 'E':
        case 'F':
          item.kind = letter == 'E' ? EditKind::kExponent : EditKind::kFixed;
          if (!PositiveNumber(item.width))
            return Fail("Positive width required in format");
          if (!Take('.')) return Fail("Period required in format");
          if (!Number(item.digits))
            return Fail("Nonnegative width required in format");
          if (item.kind == EditKind::kExponent && item.digits == 0)
            return Fail("Positive width required in format");
          break;
        case 'A':
          item.kind = EditKind::kCharacter;
          if (pos_ < s_.size() &&
              std::isdigit(static_cast<unsigned char>(s_[pos_])) &&
              !PositiveNumber(item.width))
            return Fail("Positive width required in format");
          break;
        default:
          return Fail(std::string("Unexpected element '") + letter +
                      "' in format");
      }
      if (item.IsData()) layout.has_data_item = true;
      layout.items.push_back(std::move(item));
    }
  }

 private:
  bool Take(char c) {
    if (pos_ < s_.size() && s_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  // Digits at the current position; false when there are none. Saturates
  // far above any width the layer can lay out.
  bool Number(std::int32_t& value) {
    const std::size_t start = pos_;
    std::int64_t v = 0;
    while (pos_ < s_.size() &&
           std::isdigit(static_cast<unsigned char>(s_[pos_]))) {
      v = v * 10 + (s_[pos_] - '0');
      if (v > std::numeric_limits<std::int32_t>::max())
        v = std::numeric_limits<std::int32_t>::max();
      ++pos_;
    }
    value = static_cast<std::int32_t>(v);
    return pos_ > start;
  }

  bool PositiveNumber(std::int32_t& value) {
    return Number(value) && value > 0;
  }

  bool QuotedText(std::string& text) {
    const char quote = s_[pos_++];
    for (;;) {
      if (pos_ >= s_.size()) return false;
      const char c = s_[pos_++];
      if (c != quote) {
        text.push_back(c);
      } else if (pos_ < s_.size() && s_[pos_] == quote) {
        text.push_back(quote);
        ++pos_;
      } else {
        return true;
      }
    }
  }

  Layout Fail(std::string message) {
    Layout layout;
    layout.error = std::move(message);
    return layout;
  }
  static Layout Done(Layout layout) { return layout; }

  std::string s_;
  std::size_t pos_ = 0;
};

}  // namespace

Layout ParseLayout(std::string_view layout) {
  return Parser(Squeezed(layout)).Run();
}

}  // namespace segmix
