// Editing of single values between their binary form and the characters of
// a record: the fixed-layout output items (I, E, F, A), the free-form output
// of reals (shortest round-trip digits), and the input conversions shared by
// fixed-layout fields and free-form values.
//
// Output is exact: E and F round the value's exact binary value to the
// digits asked for, to nearest with halfway cases to the even digit. Input
// is correctly rounded to the target type.
#ifndef SEGMIX_TEXTIO_EDIT_H_
#define SEGMIX_TEXTIO_EDIT_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace segmix {

// Each editor replaces the contents of `out` with the field's characters;
// handing the same string back each time lets a statement edit its values
// without allocating once the string has grown to its widest field.
//
// Iw: right-aligned, "-" for negatives; w asterisks when it does not fit.
void EditInteger(std::int32_t value, std::int32_t width, std::string& out);
// Ew.d: [-]0.ddddE+xx (exponent magnitude 100..999 as +xxx without the E);
// the leading 0 is dropped when the text is one column too long.
void EditExponent(double value, std::int32_t width, std::int32_t digits,
                  std::string& out);
// Fw.d: [-]iii.ddd; a lone leading 0 is dropped when one column too long.
void EditFixed(double value, std::int32_t width, std::int32_t digits,
               std::string& out);
// Aw (width > 0) or A (width 0).
void EditCharacter(std::string_view value, std::int32_t width,
                   std::string& out);

// Free-form output of a real, appended to `out`: the shortest digits that
// read back as the same value, laid out by decimal exponent (0.001234,
// 1234.5, 1000., 1.5E+7).
void AppendShortestReal(double value, std::string& out);
void AppendShortestReal(float value, std::string& out);

// The same editors returning a new string, for tests and tools.
inline std::string EditInteger(std::int32_t value, std::int32_t width) {
  std::string out;
  EditInteger(value, width, out);
  return out;
}
inline std::string EditExponent(double value, std::int32_t width,
                                std::int32_t digits) {
  std::string out;
  EditExponent(value, width, digits, out);
  return out;
}
inline std::string EditFixed(double value, std::int32_t width,
                             std::int32_t digits) {
  std::string out;
  EditFixed(value, width, digits, out);
  return out;
}
template <typename Real>
std::string ShortestReal(Real value) {
  std::string out;
  AppendShortestReal(value, out);
  return out;
}

enum class InputResult : std::uint8_t { kOk, kBad, kOverflow };

// Iw input: blanks ignored, empty field is 0. kOverflow above 2147483647 in
// magnitude when `allow_min` is false; with `allow_min`, -2147483648 reads.
InputResult ReadIntegerField(std::string_view field, bool allow_min,
                             std::int32_t& value);

// Ew.d / Fw.d input: blanks ignored, empty field is 0 (only when
// `empty_is_zero`), a field without "." is scaled by 10^-digits, exponent with
// E or D (either case) or a sign directly after the digits. Out-of-range
// magnitudes give the correctly rounded infinity or zero.
InputResult ReadRealField(std::string_view field, std::int32_t digits,
                          bool empty_is_zero, double& value);
InputResult ReadRealField(std::string_view field, std::int32_t digits,
                          bool empty_is_zero, float& value);

}  // namespace segmix

#endif  // SEGMIX_TEXTIO_EDIT_H_
