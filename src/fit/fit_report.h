// The values of one segmix-fit analysis, as the outputs show them: the fitted
// series, the tests, the profiles, the best model's family terms and the
// posteriors. Computed by ExecutePlan (fit/execute.h); formatted, never
// recomputed, by fit/outputs.h.
#ifndef SEGMIX_FIT_FIT_REPORT_H_
#define SEGMIX_FIT_FIT_REPORT_H_

#include <array>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "cli/map_file.h"
#include "fit/bootstrap_parts.h"
#include "fit/comparisons.h"
#include "fit/engine.h"
#include "fit/plan.h"
#include "fit/resume.h"
#include "fit/series.h"
#include "fit/simulation.h"
#include "fit/variance_components.h"

namespace segmix::fit {

// A profile-likelihood interval of one parameter.
struct Profile {
  std::string model, parameter;
  double estimate = 0, lower = 0, upper = 0;
  bool lower_at_bound = false, upper_at_bound = false;
  std::vector<std::pair<double, double>> points;  // (value, max ln LH)
};

// P(major genotype 1..3 | the family's data) of member positions 1..n ([0]
// unused); empty for a family that is not evaluated.
using FamilyPosteriors = std::vector<std::array<double, 3>>;

struct FitReport {
  const Analysis* analysis = nullptr;
  std::vector<ModelResult> models;
  std::vector<Comparison> tests;
  std::vector<Profile> profiles;
  int best_model = -1;        // lowest AIC
  std::filesystem::path out;  // the output folder
  std::string version;
  std::vector<std::string> input_warnings;  // segmix-check's warnings
  std::vector<std::string> notes;           // about the analysis as a whole
  // True when every requested model was fitted and every test formed;
  // otherwise `missing` says what is not there and why.
  bool complete = true;
  std::vector<std::string> missing;
  double seconds = 0;
  // Per model (index into models): its variance components at the estimates
  // with delta-method SEs; empty for a model not fitted.
  std::vector<std::vector<VarianceComponent>> variance_components;
  // The best model's final pass: each family's weighted ln LH term as
  // LH_fam.dat holds it ([g], 1..stored count; NaN when not evaluated).
  // Empty when no model was fitted.
  std::vector<double> family_terms;
  // The model of the posteriors (index into models; -1: none) and why it was
  // chosen; posteriors[g] per family of the store ([0] unused).
  int posterior_model = -1;
  std::string posterior_reason;
  std::vector<FamilyPosteriors> posteriors;
  // idmap.dat beside the data (empty when there is none), in its order.
  std::vector<cli::MapEntry> ids;
  // --bootstrap N: the replicates asked for per test (0: none); each
  // bootstrapped Comparison holds its own.
  int bootstrap_replicates = 0;
  // --bootstrap-task: the slice's replicates of each bootstrapped test, for
  // its part file (the tests then carry no bootstrap result of their own and
  // bootstrap_replicates is 0).
  std::vector<BootstrapPart::Test> slice_tests;
  // --simulate-from: the study (model empty when none was asked for; its
  // tests empty in a slice, whose data sets are in slice_tests).
  Simulation simulation;
  // --ascertainment: how the corrected families were conditioned.
  Ascertainment ascertainment;
  // What a --resume of this run must share with it (set by the caller).
  SeriesIdentity series;
};

}  // namespace segmix::fit

#endif  // SEGMIX_FIT_FIT_REPORT_H_
