// Collecting findings and laying them out for the console.
#include "review/findings.h"

#include <charconv>
#include <string>

namespace segmix {
namespace {

constexpr std::size_t kLineWidth = 80;

// Appends `text` after `prefix`, breaking at blanks so that no line is wider
// than kLineWidth (a word longer than a line stays whole); continuation lines
// start with as many blanks as `prefix` has characters.
void AppendWrapped(std::string_view prefix, std::string_view text,
                   std::string& out) {
  const std::string indent(prefix.size(), ' ');
  std::string line(prefix);
  std::size_t at = 0;
  bool first_word = true;
  while (at < text.size()) {
    const std::size_t end = std::min(text.find(' ', at), text.size());
    const std::string_view word = text.substr(at, end - at);
    at = end + 1;
    if (word.empty()) continue;
    if (!first_word && line.size() + 1 + word.size() > kLineWidth) {
      out += line;
      out += '\n';
      line = indent;
      first_word = true;
    }
    if (!first_word) line += ' ';
    line += word;
    first_word = false;
  }
  out += line;
  out += '\n';
}

}  // namespace

void CheckReport::Add(Severity severity, std::string file, std::string place,
                      std::string message) {
  findings.push_back(
      Finding{severity, std::move(file), std::move(place), std::move(message)});
}

int CheckReport::WarningCount() const {
  int count = 0;
  for (const Finding& finding : findings) {
    if (finding.severity == Severity::kWarning) ++count;
  }
  return count;
}

int CheckReport::ExitStatus() const {
  if (refusal) return refusal->exit_status;
  return WarningCount() > 0 ? 1 : 0;
}

std::string FormatReport(const CheckReport& report) {
  std::string out;
  for (const Finding& finding : report.findings) {
    std::string text = finding.file;
    if (!finding.place.empty()) {
      if (!text.empty()) text += ' ';
      text += finding.place;
    }
    if (!text.empty()) text += ": ";
    text += finding.message;
    AppendWrapped(finding.severity == Severity::kInfo ? "info: " : "warning: ",
                  text, out);
  }
  const int warnings = report.WarningCount();
  std::string last = "segmix-check: ";
  last += warnings == 0 ? "no warnings"
                        : std::to_string(warnings) +
                              (warnings == 1 ? " warning" : " warnings");
  if (report.refusal) {
    last += "; a run refuses this input (exit status " +
            std::to_string(report.refusal->exit_status) + ")";
  }
  out += last;
  out += '\n';
  return out;
}

std::string FamilyList(const std::vector<std::int32_t>& families) {
  constexpr std::size_t kShown = 5;
  if (families.size() == 1) return "family " + std::to_string(families[0]);
  std::string text = "families ";
  const std::size_t shown =
      families.size() > kShown + 1 ? kShown : families.size();
  for (std::size_t i = 0; i < shown; ++i) {
    if (i > 0)
      text += i + 1 == shown && shown == families.size() ? " and " : ", ";
    text += std::to_string(families[i]);
  }
  if (shown < families.size()) {
    text += " and " + std::to_string(families.size() - shown) + " more";
  }
  return text;
}

std::string NumberText(double value) {
  char buffer[64];
  // Plain decimals where they stay short (-0.0001, 15), exponents beyond.
  const double magnitude = value < 0 ? -value : value;
  const bool plain = magnitude == 0 || (magnitude >= 1e-6 && magnitude < 1e15);
  const auto result =
      plain ? std::to_chars(buffer, buffer + sizeof buffer, value,
                            std::chars_format::fixed)
            : std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

}  // namespace segmix
