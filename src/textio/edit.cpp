// Value editing. std::to_chars gives both digit strings the layer needs: with
// a precision it rounds the exact binary value (halfway to even), without one
// it gives the shortest round-trip digits. std::from_chars rounds input
// correctly for the target type directly, so a 4-byte real is never rounded
// twice through a double.
#include "textio/edit.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace segmix {
namespace {

// Right-aligns `text` in `width` columns into `out`; w asterisks when it
// does not fit.
void Fit(std::string_view text, std::int32_t width, std::string& out) {
  out.clear();
  const std::size_t w = width > 0 ? static_cast<std::size_t>(width) : 0;
  if (text.size() > w) {
    out.append(w, '*');
  } else {
    out.append(w - text.size(), ' ');
    out.append(text);
  }
}

// Text for an infinity or not-a-number under a numeric item; the program
// does not write them in normal operation, but a diverging model may.
void NonFinite(double value, std::int32_t width, std::string& out) {
  if (std::isnan(value)) return Fit("NaN", width, out);
  const bool negative = value < 0;
  if ((negative ? 9 : 8) <= width)
    return Fit(negative ? "-Infinity" : "Infinity", width, out);
  Fit(negative ? "-Inf" : "Inf", width, out);
}

// Digits and decimal exponent of a value, from a scientific to_chars text
// ("1.2345e+06" gives the digits 12345 and the exponent 6). The digits are
// written to `digits`, which must have room for the text's length.
struct Scientific {
  std::size_t digit_count = 0;
  int exponent = 0;
};

Scientific SplitScientific(const char* text, const char* end, char* digits) {
  Scientific out;
  const char* p = text;
  for (; p < end && *p != 'e'; ++p) {
    if (*p != '.') digits[out.digit_count++] = *p;
  }
  if (p + 1 < end) {
    const char* q = p + 1;
    if (*q == '+') ++q;
    std::from_chars(q, end, out.exponent);
  }
  return out;
}

void AppendExponent(int exponent, std::string& out) {
  char buf[16];
  const auto r = std::to_chars(buf, buf + sizeof buf, exponent);
  out.append(buf, r.ptr);
}

template <typename T>
void Shortest(T value, std::string& out) {
  if (!std::isfinite(value)) {
    if (std::isnan(value)) {
      out += "NaN";
    } else {
      out += value < 0 ? "-Infinity" : "Infinity";
    }
    return;
  }
  if (std::signbit(value)) out += '-';
  if (value == 0) {
    out += "0.";
    return;
  }
  char text[64];
  char digits[64];
  const auto r = std::to_chars(text, text + sizeof text, std::fabs(value),
                               std::chars_format::scientific);
  const Scientific sci = SplitScientific(text, r.ptr, digits);
  const std::string_view d(digits, sci.digit_count);
  const int e = sci.exponent;
  if (e >= -6 && e <= -1) {
    out += "0.";
    out.append(static_cast<std::size_t>(-e - 1), '0');
    out += d;
  } else if (e >= 0 && e <= 6) {
    const std::size_t before = static_cast<std::size_t>(e) + 1;
    if (d.size() <= before) {
      out += d;
      out.append(before - d.size(), '0');
      out += '.';
    } else {
      out += d.substr(0, before);
      out += '.';
      out += d.substr(before);
    }
  } else {
    out += d[0];
    out += '.';
    out += d.substr(1);
    out += 'E';
    out += e < 0 ? '-' : '+';
    AppendExponent(e < 0 ? -e : e, out);
  }
}

template <typename T>
InputResult ReadReal(std::string_view field, std::int32_t digits,
                     bool empty_is_zero, T& value) {
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
  const std::int64_t magnitude =
      scale + static_cast<std::int64_t>(mantissa.size());
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
  const auto r =
      std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (r.ec == std::errc::result_out_of_range) {
    parsed = magnitude > 0 ? std::numeric_limits<T>::infinity() : T(0);
  } else if (r.ec != std::errc()) {
    return InputResult::kBad;
  }
  value = sign * parsed;
  return InputResult::kOk;
}

}  // namespace

void EditInteger(std::int32_t value, std::int32_t width, std::string& out) {
  char buf[16];
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  Fit(std::string_view(buf, r.ptr - buf), width, out);
}

void EditExponent(double value, std::int32_t width, std::int32_t digits,
                  std::string& out) {
  if (!std::isfinite(value)) return NonFinite(value, width, out);
  // The text is at most sign, "0.", the digits and a 4-character exponent.
  constexpr std::int32_t kMaxDigits = 120;
  if (digits > kMaxDigits || digits < 1) {
    out.assign(static_cast<std::size_t>(width > 0 ? width : 0), '*');
    return;
  }
  char significand[kMaxDigits + 40];
  std::size_t significand_size = static_cast<std::size_t>(digits);
  int exponent = 0;  // of the form 0.d1d2... x 10^exponent
  if (value == 0) {
    std::fill(significand, significand + digits, '0');
  } else {
    char text[kMaxDigits + 40];
    const auto r = std::to_chars(text, text + sizeof text, std::fabs(value),
                                 std::chars_format::scientific, digits - 1);
    const Scientific sci = SplitScientific(text, r.ptr, significand);
    significand_size = sci.digit_count;
    exponent = sci.exponent + 1;
  }
  char buf[kMaxDigits + 48];
  std::size_t n = 0;
  if (std::signbit(value)) buf[n++] = '-';
  const std::size_t zero = n;
  buf[n++] = '0';
  buf[n++] = '.';
  std::copy(significand, significand + significand_size, buf + n);
  n += significand_size;
  const int magnitude = exponent < 0 ? -exponent : exponent;
  const char sign = exponent < 0 ? '-' : '+';
  if (magnitude <= 99) {
    buf[n++] = 'E';
    buf[n++] = sign;
    buf[n++] = static_cast<char>('0' + magnitude / 10);
    buf[n++] = static_cast<char>('0' + magnitude % 10);
  } else if (magnitude <= 999) {
    buf[n++] = sign;
    buf[n++] = static_cast<char>('0' + magnitude / 100);
    buf[n++] = static_cast<char>('0' + magnitude / 10 % 10);
    buf[n++] = static_cast<char>('0' + magnitude % 10);
  } else {
    out.assign(static_cast<std::size_t>(width > 0 ? width : 0), '*');
    return;
  }
  std::string_view text(buf, n);
  if (static_cast<std::int64_t>(n) == static_cast<std::int64_t>(width) + 1) {
    // One column too long: the 0 before the point goes.
    std::copy_backward(buf, buf + zero, buf + zero + 1);
    text = std::string_view(buf + 1, n - 1);
  }
  Fit(text, width, out);
}

void EditFixed(double value, std::int32_t width, std::int32_t digits,
               std::string& out) {
  if (!std::isfinite(value)) return NonFinite(value, width, out);
  // A double has at most 309 integer digits; the buffer holds them and the
  // decimals of any width a layout can ask for within the field.
  constexpr std::int32_t kMaxDigits = 120;
  if (digits > kMaxDigits || digits < 0) {
    out.assign(static_cast<std::size_t>(width > 0 ? width : 0), '*');
    return;
  }
  char buf[kMaxDigits + 320];
  const auto r = std::to_chars(buf, buf + sizeof buf - 1, value,
                               std::chars_format::fixed, digits);
  std::size_t n = static_cast<std::size_t>(r.ptr - buf);
  if (digits == 0) buf[n++] = '.';  // the point is always written
  std::string_view text(buf, n);
  if (static_cast<std::int64_t>(n) == static_cast<std::int64_t>(width) + 1) {
    const std::size_t zero = buf[0] == '-' ? 1 : 0;
    if (buf[zero] == '0' && buf[zero + 1] == '.') {
      std::copy_backward(buf, buf + zero, buf + zero + 1);
      text = std::string_view(buf + 1, n - 1);
    }
  }
  Fit(text, width, out);
}

void EditCharacter(std::string_view value, std::int32_t width,
                   std::string& out) {
  out.clear();
  if (width <= 0) {
    out.append(value);
    return;
  }
  const std::size_t w = static_cast<std::size_t>(width);
  if (w >= value.size()) {
    out.append(w - value.size(), ' ');
    out.append(value);
  } else {
    out.append(value.substr(0, w));
  }
}

void AppendShortestReal(double value, std::string& out) {
  Shortest(value, out);
}
void AppendShortestReal(float value, std::string& out) { Shortest(value, out); }

InputResult ReadIntegerField(std::string_view field, bool allow_min,
                             std::int32_t& value) {
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
  const std::int64_t limit =
      (negative && allow_min) ? 2147483648LL : 2147483647LL;
  if (overflow || magnitude > limit) return InputResult::kOverflow;
  value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
  return InputResult::kOk;
}

InputResult ReadRealField(std::string_view field, std::int32_t digits,
                          bool empty_is_zero, double& value) {
  return ReadReal(field, digits, empty_is_zero, value);
}
InputResult ReadRealField(std::string_view field, std::int32_t digits,
                          bool empty_is_zero, float& value) {
  return ReadReal(field, digits, empty_is_zero, value);
}

}  // namespace segmix
