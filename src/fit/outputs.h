// What segmix-fit writes besides segmix's own files, formatted from the
// report's values (nothing is computed here): the readable report (standard
// output), models.csv, tests.csv, fit.json, families.csv and persons.csv. CSV
// numbers carry 17 significant digits (they restart a fit exactly); an empty
// field means "none".
#ifndef SEGMIX_FIT_OUTPUTS_H_
#define SEGMIX_FIT_OUTPUTS_H_

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "fit/fit_report.h"

namespace segmix::fit {

// "%.17g", and "" for a value that is not finite.
std::string Number17(double value);
// The readable forms of a value: "%.*f", and of a p-value "%.4f" down to
// 1e-4 and "%.2e" below it. A value that is not finite (not fitted, not
// formed) is `absent`: "-" in the text report's columns, "" in a page's cells.
std::string FixedText(double value, int decimals, std::string_view absent);
std::string PValueText(double p, std::string_view absent);

// Under a threshold correction, one line saying how the corrected families
// were conditioned ("threshold 2.5 for every family" or "thresholds of F");
// "" under the proband-value correction.
std::string AscertainmentText(const Ascertainment& ascertainment);
// The text of each model folder's ascertainment.txt under a threshold
// correction: its sigma.dat is a maximum segmix itself does not compute. ""
// under the proband-value correction (nothing is written).
std::string AscertainmentNote(const FitReport& report);

std::string ReportText(const FitReport& report);
std::string ModelsCsv(const FitReport& report);
std::string TestsCsv(const FitReport& report);
// --simulate-from: each test's rejection rates at 5% and 1% with their
// binomial SEs, over the data sets that could be drawn and fitted.
std::string RejectionsCsv(const FitReport& report);
std::string FitJson(const FitReport& report);
// Per family: its facts, ids and the best model's ln LH term.
std::string FamiliesCsv(const FitReport& report);
// Per person: ids and the posteriors of the report's posterior model.
std::string PersonsCsv(const FitReport& report);

}  // namespace segmix::fit

#endif  // SEGMIX_FIT_OUTPUTS_H_
