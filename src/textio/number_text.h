// Decimal texts of numbers for files and reports that segmix's own layouts do
// not cover (the companions' tables): the shortest text that reads back to
// the same value, and a fixed number of decimals.
#ifndef SEGMIX_TEXTIO_NUMBER_TEXT_H_
#define SEGMIX_TEXTIO_NUMBER_TEXT_H_

#include <string>

namespace segmix {

// Shortest decimal text that reads back as exactly `value` (std::to_chars).
std::string ShortestText(float value);
std::string ShortestText(double value);
// `value` rounded to `decimals` places, fixed notation (std::to_chars, exact
// and the same on every standard library).
std::string FixedText(double value, int decimals);

}  // namespace segmix

#endif  // SEGMIX_TEXTIO_NUMBER_TEXT_H_
