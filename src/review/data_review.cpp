// Family data checks. The raw scans read each file again with the free-form
// scanner (the run's reader keeps no positions); the family checks follow
// the run's own rules for which families are evaluated (selected, stored,
// with an observed member) and which are corrected for ascertainment.
#include "review/data_review.h"

#include <algorithm>
#include <array>
#include <boost/math/statistics/univariate_statistics.hpp>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "review/free_form_scan.h"

namespace segmix {
namespace {

std::string WithoutTrailingBlanks(std::string_view name) {
  const std::size_t end = name.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string()
                                       : std::string(name.substr(0, end + 1));
}

// " (family g, member x)" for store index k, or "" for a member of no family.
std::string MemberPlace(const FamilyStore& s, std::int64_t k) {
  for (std::int32_t g = 1; g <= s.listed_family_count; ++g) {
    const std::int64_t x = k - s.MemberOffset(g);
    if (x >= 1 && x <= s.FamilySize(g)) {
      return " (family " + std::to_string(g) + ", member " + std::to_string(x) +
             ")";
    }
  }
  return "";
}

std::string Short(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.3g", value);
  return buffer;
}

std::size_t Length(std::int64_t count) {
  return count > 0 ? static_cast<std::size_t>(count) : 0;
}

// The families a run evaluates: selected, stored, with an observed member.
bool Selected(const ControlSettings& settings, const FamilyStore& store,
              std::int32_t g) {
  return g <= settings.family_count && g <= store.StoredFamilyCount() &&
         settings.selection_flags[static_cast<std::size_t>(g)] != 0;
}

bool Evaluated(const ControlSettings& settings, const FamilyStore& store,
               std::int32_t g) {
  return Selected(settings, store, g) && store.FamilySize(g) > 0 &&
         store.family_weight[static_cast<std::size_t>(g)] != 0;
}

}  // namespace

void ReviewDataText(const std::filesystem::path& dir, const std::string& name,
                    const std::vector<std::size_t>& record_values,
                    CheckReport& report) {
  const std::vector<std::string> records = ReadRecords(dir / name);
  if (records.empty()) return;
  const bool several = record_values.size() > 1;
  FreeFormScanner scanner(records);
  std::size_t line = 0;
  for (std::size_t r = 0; r < record_values.size(); ++r) {
    if (!scanner.Begin(line)) return;
    const std::string record =
        several ? "record " + std::to_string(r + 1) + ", " : "";
    for (std::size_t v = 0; v < record_values[r]; ++v) {
      ScannedItem item;
      if (!scanner.Next(false, item)) return;
    }
    const std::size_t left = scanner.LeftoverValues();
    if (left > 0) {
      report.Add(Severity::kWarning, name,
                 record + "line " + std::to_string(scanner.Line() + 1),
                 std::to_string(left) +
                     (left == 1 ? " value follows" : " values follow") +
                     " the record's last value (value " +
                     std::to_string(record_values[r]) + ") on its line and " +
                     (left == 1 ? "is" : "are") +
                     " ignored. Check the counts the record's length comes "
                     "from, and that the file belongs to this data set.");
    }
    line = scanner.Line() + 1;
  }
  std::size_t left = 0;
  std::size_t first = 0;
  for (std::size_t k = line; k < records.size(); ++k) {
    const std::size_t values = CountValues(records[k]);
    if (values > 0 && left == 0) first = k;
    left += values;
  }
  if (left > 0) {
    report.Add(
        Severity::kWarning, name, "line " + std::to_string(first + 1),
        std::to_string(left) + (left == 1 ? " value stands" : " values stand") +
            " after the file's last record (which ends on line " +
            std::to_string(line) + ") and " + (left == 1 ? "is" : "are") +
            " ignored. Check the counts in iway.dat and that the file "
            "belongs to this data set.");
  }
}

void ReviewDataFiles(const std::filesystem::path& dir,
                     const ControlSettings& settings, const FamilyStore& store,
                     CheckReport& report) {
  const std::int64_t n = store.listed_family_count;
  const std::int64_t m = store.list_offset_count;
  const std::int64_t s = store.member_count;
  ReviewDataText(dir, "iway.dat",
                 {1 + Length(n + 2), Length(n + 2), 1 + Length(m),
                  1 + Length(store.member_list_length), Length(m - 2),
                  1 + Length(s), Length(s)},
                 report);
  ReviewDataText(dir, WithoutTrailingBlanks(settings.data_file_name),
                 {Length(s)}, report);
  for (std::int32_t q = 1; q <= settings.covariate_count; ++q) {
    ReviewDataText(
        dir,
        WithoutTrailingBlanks(
            settings.covariate_file_names[static_cast<std::size_t>(q)]),
        {Length(s)}, report);
  }
}

void ReviewFamilies(const ControlSettings& settings, const FamilyStore& store,
                    CheckReport& report) {
  const std::int32_t listed = store.listed_family_count;
  const std::int32_t stored = store.StoredFamilyCount();
  if (stored < listed) {
    report.Add(Severity::kWarning, "iway.dat", "record 1, value 2",
               "the stored family count (the first member offset) is " +
                   std::to_string(stored) + ", below the " +
                   std::to_string(listed) + " families listed: the last " +
                   std::to_string(listed - stored) +
                   " are never evaluated. Give " + std::to_string(listed) +
                   " there to analyse every family.");
  }
  if (settings.family_count < stored) {
    report.Add(
        Severity::kWarning, "par.inp", "first record",
        "the family count is " + std::to_string(settings.family_count) +
            ", below the " + std::to_string(stored) +
            " families of iway.dat: the last " +
            std::to_string(stored - settings.family_count) + " (" +
            (stored - settings.family_count == 1
                 ? "family " + std::to_string(stored)
                 : "families " + std::to_string(settings.family_count + 1) +
                       " to " + std::to_string(stored)) +
            ") are left out. Give " + std::to_string(stored) +
            " families and a selection flag for each.");
  }
  std::vector<std::int32_t> no_observed, no_proband, nothing;
  bool any_selected = false;
  for (std::int32_t g = 1; g <= stored; ++g) {
    if (!Selected(settings, store, g)) continue;
    any_selected = true;
    const std::int32_t size = store.FamilySize(g);
    if (size <= 0) continue;
    const std::int32_t base = store.MemberOffset(g);
    bool has_proband = false, has_status0 = false, non_proband_observed = false;
    for (std::int32_t x = 1; x <= size; ++x) {
      const std::size_t k = static_cast<std::size_t>(base + x);
      const std::int32_t status = store.status[k];
      has_proband = has_proband || status != 2;
      has_status0 = has_status0 || status == 0;
      non_proband_observed = non_proband_observed ||
                             (status == 2 && store.trait[k] > kMissingTrait);
    }
    if (store.family_weight[static_cast<std::size_t>(g)] == 0) {
      no_observed.push_back(g);
      continue;
    }
    if (settings.proband_switch != 0 && !has_proband) no_proband.push_back(g);
    const bool corrected = settings.proband_switch != 0 || has_status0;
    if (corrected && !non_proband_observed) nothing.push_back(g);
  }
  if (stored <= 0) {
    report.Add(Severity::kWarning, "iway.dat", "record 1, value 2",
               "the stored family count (the first member offset) is " +
                   std::to_string(stored) +
                   ": the run analyses no family. Give the number of families "
                   "to analyse there.");
  } else if (!any_selected && settings.family_count > 0) {
    report.Add(Severity::kWarning, "par.inp", "selection flags",
               "no family is selected: every flag of families 1 to " +
                   std::to_string(std::min(settings.family_count, stored)) +
                   " is 0 or blank, so the run analyses nothing. Write 1 in "
                   "the column of each family to include.");
  }
  if (!no_observed.empty()) {
    report.Add(Severity::kWarning, "", "",
               FamilyList(no_observed) +
                   (no_observed.size() == 1 ? " has" : " have") +
                   " no observed member (every trait value below -998): "
                   "weight 0, left out of the likelihood. Check the trait "
                   "file, or leave the family out with its selection flag.");
  }
  if (!nothing.empty()) {
    report.Add(Severity::kWarning, "", "",
               FamilyList(nothing) + std::string(kOnlyProbandsObserved) +
                   " Status code 2 marks a member who is not a proband; check "
                   "the status column (record 7 of iway.dat).");
  }
  if (!no_proband.empty()) {
    report.Add(Severity::kWarning, "", "",
               FamilyList(no_proband) +
                   (no_proband.size() == 1 ? " has" : " have") +
                   " no proband (every status code is 2), so the "
                   "ascertainment correction does nothing there. Mark the "
                   "family's probands with status code 1 (or 0).");
  }
}

void ReviewTrait(const ControlSettings& settings, const FamilyStore& store,
                 CheckReport& report) {
  const std::string file = WithoutTrailingBlanks(settings.data_file_name);
  const std::int32_t members = store.member_count;
  std::int32_t at_code = 0;
  std::int32_t at_code_count = 0;
  std::map<float, std::int32_t> multiplicity;
  for (std::int32_t k = 1; k <= members; ++k) {
    const float v = store.trait[static_cast<std::size_t>(k)];
    if (v == kMissingTrait && at_code_count++ == 0) at_code = k;
    if (v >= kMissingTrait) ++multiplicity[v];
  }
  if (at_code_count > 0) {
    report.Add(Severity::kWarning, file,
               "value " + std::to_string(at_code) + MemberPlace(store, at_code),
               "the trait value is -998" +
                   (at_code_count > 1
                        ? " (" + std::to_string(at_code_count) + " members)"
                        : std::string()) +
                   ": the member counts take it as observed but the "
                   "likelihood as missing. Write -999 for a missing value.");
  }

  // A code is a value written in the habit of missing-value codes that
  // repeats where the real measurements do not: outside their range, or more
  // than twice as often as any of them.
  constexpr std::array<float, 12> kCodes = {0.0f,   -1.0f,   -9.0f, -99.0f,
                                            -8.0f,  -88.0f,  9.0f,  99.0f,
                                            999.0f, 9999.0f, 88.0f, 888.0f};
  auto is_code = [&](float v) {
    for (const float c : kCodes) {
      if (v == c) return true;
    }
    return false;
  };
  float low = 0, high = 0;
  std::int32_t most = 0;
  bool any_other = false;
  for (const auto& [v, count] : multiplicity) {
    if (is_code(v)) continue;
    low = any_other ? std::min(low, v) : v;
    high = any_other ? std::max(high, v) : v;
    most = std::max(most, count);
    any_other = true;
  }
  for (const float code : kCodes) {
    const auto found = multiplicity.find(code);
    if (found == multiplicity.end() || found->second < 2) continue;
    const std::int32_t count = found->second;
    if (any_other && code >= low && code <= high && count < 2 * most) continue;
    std::int32_t first = 0;
    for (std::int32_t k = 1; k <= members && first == 0; ++k) {
      if (store.trait[static_cast<std::size_t>(k)] == code) first = k;
    }
    report.Add(Severity::kWarning, file,
               "value " + std::to_string(first) + MemberPlace(store, first),
               "the trait value " + NumberText(code) + " appears " +
                   std::to_string(count) +
                   " times, as if it were a missing-value code, and a run "
                   "takes it as a measurement. If it marks a missing value, "
                   "write -999 (any value below -998) instead.");
  }

  std::vector<double> values;
  for (std::int32_t g = 1; g <= store.StoredFamilyCount(); ++g) {
    if (!Evaluated(settings, store, g)) continue;
    const std::int32_t base = store.MemberOffset(g);
    for (std::int32_t x = 1; x <= store.FamilySize(g); ++x) {
      const float v = store.trait[static_cast<std::size_t>(base + x)];
      if (v > kMissingTrait) values.push_back(v);
    }
  }
  if (values.size() < 3) {
    report.Add(Severity::kInfo, file, "",
               std::to_string(values.size()) +
                   " observed trait values in the analysed families: too few "
                   "for the trait's shape (no skewness below 3 values).");
    return;
  }
  const double mean = boost::math::statistics::mean(values);
  const double variance = boost::math::statistics::variance(values);
  if (!(variance > 0)) {
    report.Add(Severity::kWarning, file, "",
               "all " + std::to_string(values.size()) +
                   " observed trait values of the analysed families are " +
                   NumberText(mean) + ": the trait does not vary.");
    return;
  }
  const double skewness = boost::math::statistics::skewness(values);
  const double kurtosis = boost::math::statistics::excess_kurtosis(values);
  report.Add(Severity::kInfo, file, "",
             std::to_string(values.size()) +
                 " observed trait values in the analysed families: mean " +
                 Short(mean) + ", standard deviation " +
                 Short(std::sqrt(variance)) + ", skewness " + Short(skewness) +
                 ", excess kurtosis " + Short(kurtosis) + ".");
  if (SkewnessWarrantsWarning(skewness, values.size())) {
    report.Add(Severity::kWarning, file, "",
               std::string(kSkewedTrait) + Short(skewness) + " (over " +
                   std::to_string(values.size()) +
                   " observed values): skewness can make a major locus out "
                   "of a polygenic trait (a mixture of genotype means fits "
                   "the skew as well as a gene does). Fit with segmix-fit "
                   "--transform boxcox, which estimates a power "
                   "transformation jointly with each model, and compare.");
  }
}

bool SkewnessWarrantsWarning(double skewness, std::size_t count) {
  // The level below which skewness is not taken to distort a segregation
  // analysis, and, for small samples, twice the standard error of g1 in a
  // normal sample of `count` values, sqrt(6 (n - 2) / ((n + 1) (n + 3))):
  // below it the skewness is indistinguishable from sampling noise (members
  // of one family are correlated, so the real error is larger still). Beyond
  // 1 it is a warning at any size.
  constexpr double kLevel = 0.2;
  const double magnitude = std::fabs(skewness);
  if (!(magnitude > kLevel) || count < 3) return false;
  if (magnitude > 1) return true;
  const double n = static_cast<double>(count);
  const double standard_error = std::sqrt(6 * (n - 2) / ((n + 1) * (n + 3)));
  return magnitude > 2 * standard_error;
}

void ReviewProbandTraits(const ControlSettings& settings,
                         const FamilyStore& store, CheckReport& report) {
  // Observed (y > -998, as the density reads it) values of the corrected
  // families only: elsewhere the status codes play no part in the run.
  std::vector<float> probands, others;
  for (std::int32_t g = 1; g <= store.StoredFamilyCount(); ++g) {
    if (!Evaluated(settings, store, g)) continue;
    const std::int32_t base = store.MemberOffset(g);
    const std::int32_t size = store.FamilySize(g);
    bool corrected = settings.proband_switch != 0;
    for (std::int32_t x = 1; x <= size; ++x) {
      corrected =
          corrected || store.status[static_cast<std::size_t>(base + x)] == 0;
    }
    if (!corrected) continue;
    for (std::int32_t x = 1; x <= size; ++x) {
      const std::size_t k = static_cast<std::size_t>(base + x);
      const float v = store.trait[k];
      if (!(v > kMissingTrait)) continue;
      (store.status[k] == 2 ? others : probands).push_back(v);
    }
  }
  if (probands.empty() || others.empty()) return;
  const float lowest = *std::min_element(probands.begin(), probands.end());
  std::sort(others.begin(), others.end());
  const std::size_t half = others.size() / 2;
  const double median =
      others.size() % 2 == 1
          ? static_cast<double>(others[half])
          : (static_cast<double>(others[half - 1]) + others[half]) / 2;
  if (!(lowest > median)) return;
  // The proband value as the shortest text that reads back as the stored
  // float; the median to 3 significant digits, or as many more as keep its
  // text below the proband value's text (10.8 is the float 10.80000019,
  // above a median of 10.79999971, which 3 to 8 digits show as 10.8 too).
  // A median between that text and the float itself (rare) shows both to 17.
  char lowest_text[32];
  std::string x_text(
      lowest_text,
      std::to_chars(lowest_text, lowest_text + sizeof lowest_text, lowest).ptr);
  std::string median_text;
  for (int digits = 3; digits <= 17; ++digits) {
    char text[40];
    std::snprintf(text, sizeof text, "%.*g", digits, median);
    median_text = text;
    if (std::strtod(text, nullptr) < std::strtod(x_text.c_str(), nullptr)) {
      break;
    }
    if (digits == 17) {
      std::snprintf(text, sizeof text, "%.17g", static_cast<double>(lowest));
      x_text = text;
    }
  }
  report.Add(Severity::kInfo, WithoutTrailingBlanks(settings.data_file_name),
             "",
             "every proband's trait is at least " + x_text + " (" +
                 std::to_string(probands.size()) +
                 (probands.size() == 1 ? " proband" : " probands") +
                 "), above the median " + median_text + " of the " +
                 std::to_string(others.size()) +
                 " observed non-probands of the corrected families: a sample "
                 "ascertained through a threshold? The correction pass "
                 "conditions each family on its probands' values, which "
                 "allows for that when every member the family was selected "
                 "through has status code 0 or 1; if they were selected "
                 "because their trait exceeded a threshold T, "
                 "segmix-fit's --ascertainment threshold=T conditions on "
                 "that exactly.");
}

}  // namespace segmix
