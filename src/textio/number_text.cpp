// Number texts for the companions' files and reports, through std::to_chars
// (exact, and the same on every standard library).
#include "textio/number_text.h"

#include <charconv>

namespace segmix {

std::string ShortestText(float value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::string ShortestText(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::string FixedText(double value, int decimals) {
  char buffer[512];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value,
                                    std::chars_format::fixed, decimals);
  std::string text(buffer, result.ptr);
  // "-0.0000" would claim a sign the rounded value does not have.
  if (text.find_first_not_of("-0.") == std::string::npos && text[0] == '-') {
    text.erase(0, 1);
  }
  return text;
}

}  // namespace segmix
