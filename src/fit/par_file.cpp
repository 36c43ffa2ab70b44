// Writing par.inp. A real field is 12 columns and a value of 17 significant
// digits does not fit, so Field12 tries the shortest round-trip digits in
// exponent and fixed form and only then gives up digits.
#include "fit/par_file.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string_view>

#include "cli/command_line.h"
#include "cli/output_file.h"
#include "textio/text_units.h"

namespace segmix::fit {
namespace {

// Digits d1 d2 ... and decimal exponent e of value = 0.d1d2... x 10^(e+1),
// i.e. d1.d2... x 10^e, from printf's %.*e (exactly rounded).
struct Decimal {
  bool negative = false;
  std::string digits;
  int exponent = 0;
};

Decimal ToDecimal(double value, int precision) {
  char buffer[64];
  if (precision <= 0) {
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, value,
                                 std::chars_format::scientific);
    *r.ptr = '\0';
  } else {
    std::snprintf(buffer, sizeof buffer, "%.*e", precision - 1, value);
  }
  Decimal d;
  std::string_view text(buffer);
  if (!text.empty() && text[0] == '-') {
    d.negative = true;
    text.remove_prefix(1);
  }
  const auto e = text.find('e');
  for (char c : text.substr(0, e)) {
    if (c != '.') d.digits += c;
  }
  d.exponent = std::stoi(std::string(text.substr(e + 1)));
  while (d.digits.size() > 1 && d.digits.back() == '0') d.digits.pop_back();
  return d;
}

// The shorter of d1.d2...Ee and the plain fixed-point form.
std::string Shortest(const Decimal& d) {
  std::string sign = d.negative ? "-" : "";
  std::string exponent_form =
      sign + d.digits.substr(0, 1) + "." + d.digits.substr(1) + "E" +
      (d.exponent < 0 ? "-" : "+") +
      std::to_string(d.exponent < 0 ? -d.exponent : d.exponent);
  std::string fixed;
  const int n = static_cast<int>(d.digits.size());
  if (d.exponent < 0) {
    fixed = sign + "." +
            std::string(static_cast<std::size_t>(-d.exponent - 1), '0') +
            d.digits;
  } else if (d.exponent + 1 >= n) {
    fixed = sign + d.digits +
            std::string(static_cast<std::size_t>(d.exponent + 1 - n), '0') +
            ".";
  } else {
    fixed = sign + d.digits.substr(0, d.exponent + 1) + "." +
            d.digits.substr(static_cast<std::size_t>(d.exponent) + 1);
  }
  return fixed.size() <= exponent_form.size() ? fixed : exponent_form;
}

}  // namespace

std::string Field12(double value) {
  if (value == 0) return "0.";
  std::string text = Shortest(ToDecimal(value, 0));
  for (int precision = 17; text.size() > 12 && precision >= 1; --precision) {
    text = Shortest(ToDecimal(value, precision));
  }
  return text;
}

std::string ParInpText(const ControlSettings& settings,
                       const ParameterTable& table) {
  std::ostringstream out;
  auto quoted = [](const std::string& name) {
    std::string trimmed = name.substr(0, name.find_last_not_of(' ') + 1);
    if (name.find_last_not_of(' ') == std::string::npos) trimmed.clear();
    std::string q = "'";
    for (char c : trimmed)
      q += c == '\'' ? std::string("''") : std::string(1, c);
    return q + "'";
  };
  out << ' ' << settings.family_count << ' ' << settings.proband_switch << ' '
      << quoted(settings.data_file_name) << ' ' << settings.covariate_count
      << "    ! families  proband switch  trait file  covariates\n";
  // A read statement takes at least one record, also with no flags to read.
  if (settings.family_count <= 0) out << '\n';
  for (int g = 1; g <= settings.family_count; ++g) {
    const bool selected =
        g < static_cast<int>(settings.selection_flags.size()) &&
        settings.selection_flags[g] != 0;
    out << (selected ? '1' : '0');
    if (g % 20 == 0 || g == settings.family_count) out << '\n';
  }
  for (int j = 1; j <= kParameterCount; ++j) {
    char head[16];
    std::snprintf(head, sizeof head, "%3d%3d%2d", table.tie[j],
                  table.in_model[j], table.estimate[j]);
    out << head;
    for (double v : {table.value[j], table.step[j], table.GL[j], table.GR[j]}) {
      const std::string field = Field12(v);
      out << std::string(12 - field.size(), ' ') << field;
    }
    out << "   " << kParameterNames[j].substr(0, 3) << '\n';
  }
  for (int q = 1; q <= settings.covariate_count; ++q) {
    out << ' ' << quoted(settings.covariate_file_names[q]) << '\n';
  }
  return out.str();
}

ParameterTable WriteAndReadBack(const std::filesystem::path& path,
                                const std::string& text) {
  {
    errno = 0;  // what the failing open or write leaves is its reason
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    if (!file.flush()) {
      throw cli::OutputFileError(cli::CannotWriteText(path.string(), errno));
    }
  }
  std::ostringstream console;
  TextUnits units(console);
  units.Open(1, path.string(), OpenStatus::kOld);
  ControlSettings settings;
  ParameterTable table;
  ReadControlFile(units, settings, table, kParameterCount);
  units.CloseAll();
  return table;
}

}  // namespace segmix::fit
