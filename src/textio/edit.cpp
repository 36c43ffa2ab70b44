// Value editing. std::to_chars gives both digit strings the layer needs: with
// a precision it rounds the exact binary value (halfway to even), without one
// it gives the shortest round-trip digits. std::from_chars rounds input
// correctly for the target type directly, so a 4-byte real is never rounded
// twice through a double.
#include "textio/edit.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace segmix {
namespace {

std::string Fit(std::string text, std::int32_t width) {
  if (static_cast<std::int64_t>(text.size()) > width) return std::string(width, '*');
  return std::string(width - text.size(), ' ') + text;
}

// Text for an infinity or not-a-number under a numeric item; the program
// does not write them in normal operation, but a diverging model may.
std::string NonFinite(double value, std::int32_t width) {
  if (std::isnan(value)) return Fit("NaN", width);
  const std::string sign = value < 0 ? "-" : "";
  if (static_cast<std::int64_t>(sign.size()) + 8 <= width) return Fit(sign + "Infinity", width);
  return Fit(sign + "Inf", width);
}

// Decimal significand digits and exponent of a scientific to_chars text
// ("1.2345e+06" gives "12345" and 6).
void SplitScientific(std::string_view text, std::string& digits, int& exponent) {
  digits.clear();
  std::size_t i = 0;
  for (; i < text.size() && text[i] != 'e'; ++i) {
    if (text[i] != '.') digits.push_back(text[i]);
  }
  exponent = 0;
  std::from_chars(text.data() + i + 1 + (text[i + 1] == '+' ? 1 : 0),
                  text.data() + text.size(), exponent);
}

template <typename T>
std::string Shortest(T value) {
  if (!std::isfinite(value)) {
    if (std::isnan(value)) return "NaN";
    return value < 0 ? "-Infinity" : "Infinity";
  }
  std::string out = std::signbit(value) ? "-" : "";
  if (value == 0) return out + "0.";
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(value),
                               std::chars_format::scientific);
  std::string digits;
  int e = 0;
  SplitScientific(std::string_view(buf, r.ptr - buf), digits, e);
  if (e >= -6 && e <= -1) {
    out += "0.";
    out.append(static_cast<std::size_t>(-e - 1), '0');
    out += digits;
  } else if (e >= 0 && e <= 6) {
    const std::size_t before = static_cast<std::size_t>(e) + 1;
    if (digits.size() <= before) {
      out += digits;
      out.append(before - digits.size(), '0');
      out += '.';
    } else {
      out += digits.substr(0, before);
      out += '.';
      out += digits.substr(before);
    }
  } else {
    out += digits[0];
    out += '.';
    out += digits.substr(1);
    out += 'E';
    out += e < 0 ? '-' : '+';
    out += std::to_string(e < 0 ? -e : e);
  }
  return out;
}

template <typename T>
InputResult ReadReal(std::string_view field, std::int32_t digits, bool empty_is_zero,
                     T& value) {
  std::size_t i = 0;
  while (i < field.size() && field[i] == ' ') ++i;
  if (i == field.size()) {
    if (!empty_is_zero) return InputResult::kBad;
    value = 0;
    return InputResult::kOk;
  }
  bool negative = false;
  if (field[i] == '+' || field[i] == '-') negative = field[i++] == '-';

  std::string mantissa;  // significant digits, leading zeros dropped
  std::int64_t digit_count = 0;
  std::int64_t after_point = 0;
  bool point = false;
  bool has_exponent = false;
  for (; i < field.size(); ++i) {
    const char c = field[i];
    if (c == ' ') continue;
    if (c >= '0' && c <= '9') {
      ++digit_count;
      if (point) ++after_point;
      if (!(mantissa.empty() && c == '0')) mantissa.push_back(c);
    } else if (c == '.') {
      if (point) return InputResult::kBad;
      point = true;
    } else if (c == 'e' || c == 'E' || c == 'd' || c == 'D') {
      ++i;
      has_exponent = true;
      break;
    } else if ((c == '+' || c == '-') && digit_count > 0) {
      has_exponent = true;  // the sign itself begins the exponent
      break;
    } else {
      return InputResult::kBad;
    }
  }
  if (digit_count == 0) return InputResult::kBad;

  std::int64_t exponent = 0;
  if (has_exponent) {
    while (i < field.size() && field[i] == ' ') ++i;
    bool exponent_negative = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-'))
      exponent_negative = field[i++] == '-';
    bool exponent_digit = false;
    for (; i < field.size(); ++i) {
      const char c = field[i];
      if (c == ' ') continue;
      if (c < '0' || c > '9') return InputResult::kBad;
      exponent_digit = true;
      if (exponent < 1'000'000'000) exponent = exponent * 10 + (c - '0');
    }
    if (!exponent_digit) return InputResult::kBad;
    if (exponent_negative) exponent = -exponent;
  }

  const T sign = negative ? T(-1) : T(1);
  if (mantissa.empty()) {
    value = sign * T(0);
    return InputResult::kOk;
  }
  // The value is the significant digits read as an integer times 10^scale;
  // from_chars rounds that decimal value once, to the target type.
  const std::int64_t scale = exponent - (point ? after_point : digits);
  const std::int64_t magnitude = scale + static_cast<std::int64_t>(mantissa.size());
  if (magnitude > 400) {
    value = sign * std::numeric_limits<T>::infinity();
    return InputResult::kOk;
  }
  if (magnitude < -400) {
    value = sign * T(0);
    return InputResult::kOk;
  }
  std::string text = mantissa + "e" + std::to_string(scale);
  T parsed{};
  const auto r = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (r.ec == std::errc::result_out_of_range) {
    parsed = magnitude > 0 ? std::numeric_limits<T>::infinity() : T(0);
  } else if (r.ec != std::errc()) {
    return InputResult::kBad;
  }
  value = sign * parsed;
  return InputResult::kOk;
}

}  // namespace

std::string EditInteger(std::int32_t value, std::int32_t width) {
  return Fit(std::to_string(value), width);
}

std::string EditExponent(double value, std::int32_t width, std::int32_t digits) {
  if (!std::isfinite(value)) return NonFinite(value, width);
  std::string significand;
  int exponent = 0;  // of the form 0.d1d2... x 10^exponent
  if (value == 0) {
    significand.assign(static_cast<std::size_t>(digits), '0');
  } else {
    std::string buf(static_cast<std::size_t>(digits) + 32, '\0');
    const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), std::fabs(value),
                                 std::chars_format::scientific, digits - 1);
    SplitScientific(std::string_view(buf.data(), r.ptr - buf.data()), significand,
                    exponent);
    exponent += 1;
  }
  std::string text = std::signbit(value) ? "-0." : "0.";
  text += significand;
  const int magnitude = exponent < 0 ? -exponent : exponent;
  const char sign = exponent < 0 ? '-' : '+';
  if (magnitude <= 99) {
    text += 'E';
    text += sign;
    if (magnitude < 10) text += '0';
    text += std::to_string(magnitude);
  } else if (magnitude <= 999) {
    text += sign;
    text += std::to_string(magnitude);
  } else {
    return std::string(width, '*');
  }
  if (static_cast<std::int64_t>(text.size()) == static_cast<std::int64_t>(width) + 1) {
    text.erase(text.find('0'), 1);  // the 0 before the point
  }
  return Fit(std::move(text), width);
}

std::string EditFixed(double value, std::int32_t width, std::int32_t digits) {
  if (!std::isfinite(value)) return NonFinite(value, width);
  char small[128];
  std::string text;
  const auto r = std::to_chars(small, small + sizeof small, value,
                               std::chars_format::fixed, digits);
  if (r.ec == std::errc()) {
    text.assign(small, r.ptr);
  } else {
    std::string buf(static_cast<std::size_t>(digits) + 400, '\0');
    const auto big = std::to_chars(buf.data(), buf.data() + buf.size(), value,
                                   std::chars_format::fixed, digits);
    text.assign(buf.data(), big.ptr);
  }
  if (digits == 0) text += '.';  // the point is always written
  if (static_cast<std::int64_t>(text.size()) == static_cast<std::int64_t>(width) + 1) {
    const std::size_t zero = text[0] == '-' ? 1 : 0;
    if (text.compare(zero, 2, "0.") == 0) text.erase(zero, 1);
  }
  return Fit(std::move(text), width);
}

std::string EditCharacter(std::string_view value, std::int32_t width) {
  if (width <= 0) return std::string(value);
  const std::size_t w = static_cast<std::size_t>(width);
  if (w >= value.size()) return std::string(w - value.size(), ' ') + std::string(value);
  return std::string(value.substr(0, w));
}

std::string ShortestReal(double value) { return Shortest(value); }
std::string ShortestReal(float value) { return Shortest(value); }

InputResult ReadIntegerField(std::string_view field, bool allow_min, std::int32_t& value) {
  std::size_t i = 0;
  while (i < field.size() && field[i] == ' ') ++i;
  if (i == field.size()) {
    value = 0;
    return InputResult::kOk;
  }
  bool negative = false;
  if (field[i] == '+' || field[i] == '-') negative = field[i++] == '-';
  std::int64_t magnitude = 0;
  bool digit = false;
  bool overflow = false;
  for (; i < field.size(); ++i) {
    const char c = field[i];
    if (c == ' ') continue;
    if (c < '0' || c > '9') return InputResult::kBad;
    digit = true;
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > 2147483648LL) {
      overflow = true;
      magnitude = 2147483648LL;
    }
  }
  if (!digit) return InputResult::kBad;
  const std::int64_t limit = (negative && allow_min) ? 2147483648LL : 2147483647LL;
  if (overflow || magnitude > limit) return InputResult::kOverflow;
  value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
  return InputResult::kOk;
}

InputResult ReadRealField(std::string_view field, std::int32_t digits, bool empty_is_zero,
                          double& value) {
  return ReadReal(field, digits, empty_is_zero, value);
}
InputResult ReadRealField(std::string_view field, std::int32_t digits, bool empty_is_zero,
                          float& value) {
  return ReadReal(field, digits, empty_is_zero, value);
}

}  // namespace segmix
