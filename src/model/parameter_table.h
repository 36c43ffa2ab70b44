// ParameterTable: the 15 model parameters as read from par.inp, one row each,
// rows 1-based and bound to the fixed name table. The maximizer works in place
// on value and step; the parameter checks apply ties and may move values.
#ifndef SEGMIX_MODEL_PARAMETER_TABLE_H_
#define SEGMIX_MODEL_PARAMETER_TABLE_H_

#include <array>
#include <cstdint>
#include <string_view>

namespace segmix {

// Rows of the table, by parameter.
enum ParameterRow : int {
  kQ = 1,
  kMU,
  kA,
  kD,
  kPga,
  kSIG,
  kSex,
  kTr1,
  kTr2,
  kTr3,
  kB1,
  kB2,
  kB3,
  kB4,
  kB5,
};
inline constexpr int kParameterCount = 15;  // parameter records in par.inp
// Room for the largest parameter count the maximizer accepts (30); rows above
// 15 stay zero. Index 0 is unused.
inline constexpr int kParameterRows = 30;

// Names, 5 characters blank-padded; messages print the first 3. Entry 16,
// "dec", is bound to no record. Index 0 is unused.
inline constexpr std::array<std::string_view, 17> kParameterNames = {
    "",      "Q    ", "MU   ", "A    ", "D    ", "pga  ",
    "SIG  ", "Sex  ", "Tr1  ", "Tr2  ", "Tr3  ", "B1   ",
    "B2   ", "B3   ", "B4   ", "B5   ", "dec  "};

// A row's name without its padding ("Q", "Tr1", "B2"): what users type and
// what every table and message outside the fixed layouts shows. Rows outside
// 1..16 have no name ("").
constexpr std::string_view ShortParameterName(std::int32_t row) {
  if (row < 1 || row >= static_cast<std::int32_t>(kParameterNames.size())) {
    return {};
  }
  const std::string_view name = kParameterNames[row];
  return name.substr(0, name.find(' '));
}

// -1e18 held in single precision and widened: -999999984306749440. Returned
// for a rejected point or a failed evaluation; any log-likelihood at or below
// the single-precision -1e17 counts as failed.
inline constexpr double FailureSentinel = static_cast<double>(-1e18f);
inline constexpr double kFailureThreshold = static_cast<double>(-1e17f);

struct ParameterTable {
  template <class T>
  using Column = std::array<T, kParameterRows + 1>;

  Column<std::int32_t>
      tie{};  // row whose value this row takes; own row if independent
  Column<std::int32_t> in_model{};  // 0: the component is left out of the model
  Column<std::int32_t>
      estimate{};  // 0: fixed; nonzero: varied by the maximizer
  Column<double> value{};
  Column<double> step{};
  Column<double> GL{};  // lower bound
  Column<double> GR{};  // upper bound
};

}  // namespace segmix

#endif  // SEGMIX_MODEL_PARAMETER_TABLE_H_
