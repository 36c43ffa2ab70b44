// What segmix-check reports: findings (information, a warning, or the
// reason a run refuses the input) with the file and place they concern, the
// report that collects them, and the text and exit status the program gives
// for a report.
#ifndef SEGMIX_CHECK_FINDINGS_H_
#define SEGMIX_CHECK_FINDINGS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace segmix {

enum class Severity {
  kInfo,     // always reported, never changes the exit status
  kWarning,  // legal input that is almost always a mistake
};

struct Finding {
  Severity severity = Severity::kWarning;
  std::string file;  // "par.inp", "iway.dat", a data file name; may be empty
  std::string
      place;  // "parameter record 4 (D), line 6, columns 33-44"; may be empty
  std::string message;  // what is wrong, what it does to the run, what to write
};

// Input a run refuses: the run's exit status and what it writes about it
// (the run's own message, line feeds included).
struct Refusal {
  int exit_status = 1;
  std::string text;
};

struct CheckReport {
  std::vector<Finding> findings;  // in the order the inputs are read
  std::optional<Refusal> refusal;

  void Add(Severity severity, std::string file, std::string place,
           std::string message);
  int WarningCount() const;
  // The refusal's status when there is one; else 1 with warnings, 0 without.
  int ExitStatus() const;
};

// The findings, one block per finding ("warning: <file> <place>: <message>",
// wrapped at 80 columns with continuation lines indented under the text),
// then one line counting the warnings and, for input a run refuses, its exit
// status. The refusal's own text is not included (it goes to standard error).
std::string FormatReport(const CheckReport& report);

// "family 4", "families 1, 2 and 5", "families 1, 2, 3, 4, 5 and 7 more".
std::string FamilyList(const std::vector<std::int32_t>& families);

// A real as its shortest round-trip decimal text ("-10", "-0.0001", "1e+30").
std::string NumberText(double value);

}  // namespace segmix

#endif  // SEGMIX_CHECK_FINDINGS_H_
