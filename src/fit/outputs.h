// What segmix-fit writes besides segmix's own files: the readable report
// (standard output), models.csv, tests.csv, fit.json, families.csv and
// persons.csv. Every file is written under a temporary name and renamed when
// complete. CSV numbers carry 17 significant digits (they restart a fit
// exactly); an empty field means "none".
#ifndef SEGMIX_FIT_OUTPUTS_H_
#define SEGMIX_FIT_OUTPUTS_H_

#include <filesystem>
#include <string>
#include <vector>

#include "fit/comparisons.h"
#include "fit/engine.h"
#include "fit/series.h"

namespace segmix::fit {

// A profile-likelihood interval of one parameter.
struct Profile {
  std::string model, parameter;
  double estimate = 0, lower = 0, upper = 0;
  bool lower_at_bound = false, upper_at_bound = false;
  std::vector<std::pair<double, double>> points;  // (value, max ln LH)
};

struct FitReport {
  const Analysis* analysis = nullptr;
  std::vector<ModelResult> models;
  std::vector<Comparison> tests;
  std::vector<Profile> profiles;
  int best_model = -1;        // lowest AIC
  std::filesystem::path out;  // the output folder
  std::string version;
  std::vector<std::string> input_warnings;  // segmix-check's warnings
  double seconds = 0;
};

// "%.17g", and "" for a value that is not finite.
std::string Number17(double value);

std::string ReportText(const FitReport& report);
std::string ModelsCsv(const FitReport& report);
std::string TestsCsv(const FitReport& report);
std::string FitJson(const FitReport& report);
std::string FamiliesCsv(const FitReport& report, const std::string& idmap);
// Posterior genotype probabilities under the best model; `idmap` is the text
// of idmap.dat or empty.
std::string PersonsCsv(const FitReport& report, const std::string& idmap);

}  // namespace segmix::fit

#endif  // SEGMIX_FIT_OUTPUTS_H_
