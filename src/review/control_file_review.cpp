// par.inp's raw text is walked record by record in the order the run reads
// it (first record, flag records, parameter records, covariate file names),
// so every finding can name the line and the columns it comes from.
#include "review/control_file_review.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <string_view>

#include "review/free_form_scan.h"
#include "textio/edit.h"

namespace segmix {
namespace {

constexpr std::string_view kFile = "par.inp";
constexpr std::size_t kFlagsPerRecord = 20;

std::string Trimmed(std::string_view text) {
  const std::size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return {};
  const std::size_t end = text.find_last_not_of(" \t");
  return std::string(text.substr(begin, end - begin + 1));
}

std::string Columns(std::size_t first, std::size_t last) {
  return first == last
             ? "column " + std::to_string(first)
             : "columns " + std::to_string(first) + "-" + std::to_string(last);
}

std::string LinePlace(std::string_view what, std::size_t line) {
  return std::string(what) + ", line " + std::to_string(line + 1);
}

// The fields of a parameter record, "(2i3,i2,4E12.5)".
struct FieldLayout {
  std::size_t first;  // 0-based
  std::size_t width;
  bool real;
  std::string_view name;
};
constexpr std::array<FieldLayout, 7> kFields = {{
    {0, 3, false, "the tie index"},
    {3, 3, false, "the in-model flag"},
    {6, 2, false, "the estimate flag"},
    {8, 12, true, "the value"},
    {20, 12, true, "the step"},
    {32, 12, true, "GL"},
    {44, 12, true, "GR"},
}};
constexpr std::size_t kValueField = 3;
constexpr std::size_t kStepField = 4;

bool Estimated(const ParameterTable& p, int row) {
  return p.estimate[row] != 0 && p.tie[row] == row;
}

// A component a run switches off when it loads par.inp and that would act
// in the likelihood with another value: pga, Sex or one of B1..BK (K the
// covariate count) with in-model flag 0.
bool LeftOut(const ControlSettings& settings, const ParameterTable& p,
             int row) {
  const bool switchable =
      row == kPga || row == kSex ||
      (row >= kB1 && row <= kB5 && row - kB1 + 1 <= settings.covariate_count);
  return switchable && p.in_model[row] == 0;
}

// Why a parameter is out of the model, or "" when it is in it.
std::string OutOfModel(const ControlSettings& settings, const ParameterTable& p,
                       int row) {
  if (row == kPga || row == kSex) {
    if (p.in_model[row] == 0) return "its in-model flag (columns 4-6) is 0";
  } else if (row >= kTr1 && row <= kTr3) {
    if (p.in_model[kTr1] == 0) {
      return "the general transmission model is off (the in-model flag of Tr1 "
             "is 0)";
    }
  } else if (row >= kB1 && row <= kB5) {
    if (row - kB1 + 1 > settings.covariate_count) {
      return "the covariate count in the first record is " +
             std::to_string(settings.covariate_count);
    }
    if (p.in_model[row] == 0) return "its in-model flag (columns 4-6) is 0";
  }
  return {};
}

void ReviewFirstRecord(FreeFormScanner& scanner,
                       const ControlSettings& settings, CheckReport& report) {
  constexpr std::array<std::string_view, 4> kNames = {
      "the family count", "the proband switch", "the data file name",
      "the covariate count"};
  constexpr std::array<std::string_view, 4> kLeftAt = {"0", "0", "blank", "0"};
  scanner.Begin(0);
  for (std::size_t i = 0; i < kNames.size(); ++i) {
    ScannedItem item;
    if (!scanner.Next(i == 2, item)) return;
    if (item.kind == ScannedItem::Kind::kValue) continue;
    const bool slash = item.kind == ScannedItem::Kind::kSlashed;
    report.Add(Severity::kWarning, std::string(kFile),
               "first record, line " + std::to_string(item.line + 1) + ", " +
                   Columns(item.first_column + 1, item.end_column),
               std::string(slash ? "a slash ends the record before "
                                 : "an empty field stands for ") +
                   std::string(kNames[i]) + ", which is left " +
                   std::string(kLeftAt[i]) +
                   ". Write the four values (family count, proband switch, "
                   "data file name, covariate count) in full.");
  }
  if (settings.proband_switch != 0 && settings.proband_switch != 1) {
    report.Add(Severity::kWarning, std::string(kFile), "first record",
               "the proband switch is " +
                   std::to_string(settings.proband_switch) +
                   ": any value but 0 corrects every family for ascertainment "
                   "and reports families without a proband. Write 1 for that, "
                   "or 0 to correct only the families with a status-0 member.");
  }
}

void ReviewFlagRecords(const std::vector<std::string>& records,
                       std::size_t first_line, const ControlSettings& settings,
                       CheckReport& report) {
  const std::size_t count = static_cast<std::size_t>(settings.family_count);
  for (std::size_t done = 0, i = 0; done < count;
       done += kFlagsPerRecord, ++i) {
    const std::size_t line = first_line + i;
    if (line >= records.size()) return;
    const std::string& record = records[line];
    const std::size_t flags = std::min(kFlagsPerRecord, count - done);
    std::vector<std::int32_t> blank;
    for (std::size_t c = 0; c < flags; ++c) {
      if (c >= record.size() || record[c] == ' ') {
        blank.push_back(static_cast<std::int32_t>(done + c + 1));
      }
    }
    const std::string place =
        LinePlace("flag record " + std::to_string(i + 1), line);
    if (!blank.empty()) {
      report.Add(Severity::kWarning, std::string(kFile), place,
                 "the flag of " + FamilyList(blank) +
                     " is blank (a blank column reads as 0) and leaves it out "
                     "of the analysis. Write 1 in the family's column to "
                     "include it, 0 to leave it out.");
    }
    if (record.size() > flags &&
        !IsBlankText(std::string_view(record).substr(flags))) {
      report.Add(
          Severity::kWarning, std::string(kFile),
          place + ", " + Columns(flags + 1, record.size()),
          "the record holds more than its " + std::to_string(flags) +
              " flags; the rest is ignored. " +
              (flags < kFlagsPerRecord
                   ? "The family count in the first record is " +
                         std::to_string(count) + ": give one flag per family."
                   : std::string("A flag record holds 20 flags; put "
                                 "the flags of families 21 to 40 on "
                                 "the next record, and so on.")));
    }
  }
}

// The text to write for a real field written without a decimal point: the
// point goes after the digits of the mantissa.
std::string WithDecimalPoint(const std::string& text) {
  std::size_t at = 0;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
  while (at < text.size() &&
         ((text[at] >= '0' && text[at] <= '9') || text[at] == ' ')) {
    ++at;
  }
  return text.substr(0, at) + ".0" + text.substr(at);
}

void ReviewParameterRecord(const std::string& record, std::size_t line, int row,
                           const ControlSettings& settings,
                           const ParameterTable& p, CheckReport& report) {
  const std::string name = ParameterRecordName(row);
  const bool estimated = Estimated(p, row);
  const bool in_use = p.tie[row] == row && OutOfModel(settings, p, row).empty();
  for (std::size_t f = 0; f < kFields.size(); ++f) {
    const FieldLayout& layout = kFields[f];
    const std::string_view field =
        layout.first < record.size()
            ? std::string_view(record).substr(layout.first, layout.width)
            : std::string_view{};
    const std::string place =
        name + ", line " + std::to_string(line + 1) + ", " +
        Columns(layout.first + 1, layout.first + layout.width);
    const std::string text = Trimmed(field);
    if (text.empty()) {
      if (layout.real && in_use && (estimated || f == kValueField)) {
        report.Add(Severity::kWarning, std::string(kFile), place,
                   std::string(layout.name) + " is " +
                       (record.size() <= layout.first
                            ? "missing (the record ends at column " +
                                  std::to_string(record.size()) + ")"
                            : std::string("blank")) +
                       " and reads as 0. Write the number in columns " +
                       std::to_string(layout.first + 1) + "-" +
                       std::to_string(layout.first + layout.width) +
                       (f == kStepField ? "." : ", with a decimal point."));
      }
      continue;
    }
    if (text.find(' ') != std::string::npos) {
      report.Add(Severity::kWarning, std::string(kFile), place,
                 std::string(layout.name) + " is written \"" + text +
                     "\" with a blank inside; blanks inside a field are "
                     "ignored, so the record may not be aligned to its "
                     "columns. Align each field to its columns (tie 1-3, "
                     "in-model 4-6, estimate 7-8, then four fields of 12: "
                     "9-20, 21-32, 33-44, 45-56).");
    }
    if (!layout.real || text.find('.') != std::string::npos) continue;
    double as_read = 0;
    double as_written = 0;
    if (ReadRealField(field, 5, true, as_read) != InputResult::kOk ||
        ReadRealField(field, 0, true, as_written) != InputResult::kOk ||
        as_read == as_written) {
      continue;
    }
    const std::string written = WithDecimalPoint(text);
    report.Add(Severity::kWarning, std::string(kFile), place,
               std::string(layout.name) + " is written \"" + text +
                   "\" without a decimal point and reads as " +
                   NumberText(as_read) +
                   " (a field without a point has 5 "
                   "implied decimals); write \"" +
                   written + "\" if you mean " + NumberText(as_written) + ".");
  }
}

void ReviewCovariateNames(FreeFormScanner& scanner, std::size_t& line,
                          const ControlSettings& settings,
                          CheckReport& report) {
  for (std::int32_t i = 1; i <= settings.covariate_count; ++i) {
    if (!scanner.Begin(line)) return;
    ScannedItem item;
    if (!scanner.Next(true, item)) return;
    if (item.kind != ScannedItem::Kind::kValue) {
      report.Add(
          Severity::kWarning, std::string(kFile),
          "covariate file record " + std::to_string(i) + ", line " +
              std::to_string(item.line + 1),
          std::string(item.kind == ScannedItem::Kind::kSlashed
                          ? "a slash"
                          : "an empty field") +
              " leaves covariate file name " + std::to_string(i) +
              " blank. Give the file's name as the record's first value.");
    }
    line = scanner.Line() + 1;
  }
}

}  // namespace

std::string ParameterRecordName(int row) {
  std::string name = "parameter record " + std::to_string(row);
  if (row >= 1 && row < static_cast<int>(kParameterNames.size()) - 1) {
    name += " (" + std::string(ShortParameterName(row)) + ")";
  }
  return name;
}

void ReviewControlText(const std::vector<std::string>& records,
                       const ControlSettings& settings,
                       const ParameterTable& parameters, CheckReport& report) {
  if (records.empty()) return;
  FreeFormScanner scanner(records);
  ReviewFirstRecord(scanner, settings, report);
  std::size_t line = scanner.Line() + 1;

  ReviewFlagRecords(records, line, settings, report);
  const std::size_t flag_records =
      settings.family_count <= 0
          ? 1
          : (static_cast<std::size_t>(settings.family_count) + kFlagsPerRecord -
             1) /
                kFlagsPerRecord;
  line += flag_records;

  for (int row = 1; row <= kParameterCount && line < records.size();
       ++row, ++line) {
    ReviewParameterRecord(records[line], line, row, settings, parameters,
                          report);
  }
  ReviewCovariateNames(scanner, line, settings, report);

  std::size_t first_left = records.size();
  std::size_t last_left = 0;
  for (std::size_t k = line; k < records.size(); ++k) {
    if (IsBlankText(records[k])) continue;
    first_left = std::min(first_left, k);
    last_left = k;
  }
  if (first_left < records.size()) {
    report.Add(Severity::kWarning, std::string(kFile),
               first_left == last_left
                   ? "line " + std::to_string(first_left + 1)
                   : "lines " + std::to_string(first_left + 1) + "-" +
                         std::to_string(last_left + 1),
               "the file goes on after the last record a run reads (" +
                   (settings.covariate_count > 0
                        ? "covariate file name " +
                              std::to_string(settings.covariate_count)
                        : std::string("parameter record 15, as the covariate "
                                      "count is 0")) +
                   "); what follows is ignored. Check the covariate count in "
                   "the first record, or remove the extra lines.");
  }
}

void ReviewParameters(const ControlSettings& settings, const ParameterTable& p,
                      CheckReport& report) {
  const std::string file(kFile);
  for (int row = 1; row <= kParameterCount; ++row) {
    const std::string place = ParameterRecordName(row);
    const int tie = p.tie[row];
    if (tie != row) {
      // A left-out component is 0 only until a tie moves it: the tie is
      // applied at every evaluation, whatever the in-model flags say.
      if (LeftOut(settings, p, row)) {
        report.Add(Severity::kWarning, file, place,
                   "the record's in-model flag (columns 4-6) is 0, but it is "
                   "tied to row " +
                       std::to_string(tie) +
                       ": a run sets it to 0 at the start and then gives it "
                       "row " +
                       std::to_string(tie) +
                       "'s value at every evaluation, so it acts in the "
                       "model. Untie it (columns 1-3 equal to " +
                       std::to_string(row) +
                       ") to leave it out, or set its in-model flag to 1.");
      }
      if (LeftOut(settings, p, tie)) {
        report.Add(Severity::kWarning, file, place,
                   "the record is tied to row " + std::to_string(tie) +
                       ", whose in-model flag (columns 4-6) is 0: it takes "
                       "row " +
                       std::to_string(tie) +
                       "'s value, which a run sets to 0 at the start. Tie it "
                       "to a row in the model, or untie it.");
      }
      if (p.tie[tie] != tie) {
        report.Add(Severity::kWarning, file, place,
                   "the record is tied to row " + std::to_string(tie) +
                       ", which is itself tied to row " +
                       std::to_string(p.tie[tie]) +
                       "; ties are applied once, in row order, so the chain "
                       "may carry an earlier value. Tie row " +
                       std::to_string(row) + " directly to row " +
                       std::to_string(p.tie[tie]) + " (columns 1-3).");
      }
      continue;
    }
    if (p.estimate[row] == 0) continue;
    const std::string out = OutOfModel(settings, p, row);
    if (!out.empty()) {
      const std::string effect =
          LeftOut(settings, p, row) && row != kSex
              ? ": a run sets it to 0 at the start, then the search moves it "
                "and the likelihood uses the value it moves to"
              : "";
      report.Add(Severity::kWarning, file, place,
                 "the parameter is estimated (columns 7-8) although it is out "
                 "of the model: " +
                     out + effect +
                     ". Set its estimate flag to 0, or put it in the model.");
      continue;
    }
    const double value = p.value[row];
    const double step = p.step[row];
    const double gl = p.GL[row];
    const double gr = p.GR[row];
    if (step == 0) {
      report.Add(Severity::kWarning, file, place,
                 "the parameter is estimated but its step is 0: the search "
                 "never moves it. Give a step (columns 21-32), or set the "
                 "estimate flag to 0 to hold it fixed.");
    }
    if (!(gl < gr)) {
      report.Add(Severity::kWarning, file, place,
                 "GL (" + NumberText(gl) + ") is not below GR (" +
                     NumberText(gr) +
                     "): no value lies strictly between the bounds, so the "
                     "search cannot move. Give GL < GR (columns 33-44 and "
                     "45-56).");
      continue;
    }
    if (std::fabs(step) > gr - gl) {
      report.Add(Severity::kWarning, file, place,
                 "the step (" + NumberText(step) +
                     ") is larger than the bound range GR - GL (" +
                     NumberText(gr - gl) +
                     "): every first trial lands outside the bounds. Give a "
                     "step of a tenth of the range or less.");
    } else if (step != 0 && value >= gl && value <= gr &&
               (value - gl < std::fabs(step) || gr - value < std::fabs(step))) {
      const bool low = value - gl < std::fabs(step);
      report.Add(Severity::kWarning, file, place,
                 "the starting value " + NumberText(value) +
                     " lies within one step (" + NumberText(step) +
                     ") of its " +
                     (low ? "lower bound GL = " + NumberText(gl)
                          : "upper bound GR = " + NumberText(gr)) +
                     ": the search's first trial there falls outside the "
                     "bounds. Start further inside, or widen the bound.");
    }
  }
}

}  // namespace segmix
