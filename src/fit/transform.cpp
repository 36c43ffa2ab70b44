// The Box-Cox transformation: the values the core reads, the Jacobian term
// the fit layer adds, and the files that let segmix alone repeat a
// transformed model's fit.
#include "fit/transform.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>

#include "data/family_store.h"
#include "textio/number_text.h"
#include "textio/termination.h"

namespace segmix::fit {
namespace {

bool Observed(float y) { return y > kMissingTrait; }

// Calls f(family index g, position k, store index i, counts in the
// Jacobian) for every observed member of an evaluated family.
template <class F>
void ForObservedMembers(const Analysis& analysis, F f) {
  const FamilyStore& store = analysis.core.store;
  const bool threshold =
      analysis.core.correction.kind == CorrectionKind::kThreshold;
  for (const FamilyFacts& facts : analysis.families) {
    if (facts.index == 0 || !facts.evaluated) continue;
    const std::int32_t base = store.MemberOffset(facts.index);
    for (std::int32_t k = 1; k <= facts.members; ++k) {
      const std::int32_t i = base + k;
      if (!Observed(store.trait[i])) continue;
      // An observed proband of a family corrected by its probands' values
      // has its density in both passes: its Jacobian factor cancels.
      const bool cancels =
          facts.corrected && !threshold && store.status[i] != 2;
      f(facts.index, k, i, !cancels);
    }
  }
}

}  // namespace

std::vector<int> ReportedRows(const Analysis& analysis) {
  std::vector<int> rows;
  for (int r = 1; r <= kParameterCount; ++r) rows.push_back(r);
  if (analysis.transform.boxcox) rows.push_back(kLambda);
  return rows;
}

std::string RowName(int row) {
  return row == kLambda ? "lambda" : std::string(ShortParameterName(row));
}

double DefaultShift(const Analysis& analysis) {
  double low = std::numeric_limits<double>::infinity(), high = -low;
  ForObservedMembers(analysis, [&](std::int32_t, std::int32_t, std::int32_t i,
                                   bool) {
    low = std::min(low, static_cast<double>(analysis.core.store.trait[i]));
    high = std::max(high, static_cast<double>(analysis.core.store.trait[i]));
  });
  if (!(low <= high) || low > 0) return 0;
  const double range = high > low ? high - low : 1;
  return 0.01 * range - low;
}

void UseBoxCox(Analysis& analysis, std::optional<double> shift) {
  const double c = shift ? *shift : DefaultShift(analysis);
  const FamilyStore& store = analysis.core.store;
  long double sum = 0;
  std::int64_t counted = 0;
  ForObservedMembers(analysis, [&](std::int32_t g, std::int32_t k,
                                   std::int32_t i, bool counts) {
    const long double x = static_cast<long double>(store.trait[i]) + c;
    if (!(x > 0)) {
      throw InputRejected(
          "--transform boxcox: family index " + std::to_string(g) +
          ", member " + std::to_string(k) + " has trait " +
          ShortestText(store.trait[i]) + ", and with the shift " +
          ShortestText(c) +
          " it is not positive, which the transformation needs: give a "
          "larger --shift, or leave it out for the default rule.");
    }
    if (counts) {
      sum += std::log(x);
      ++counted;
    }
  });
  // Spread starts draw the means around the trait mean: that of z at
  // lambda = 1, where every model starts.
  analysis.trait_mean += c - 1;
  analysis.transform = {
      .boxcox = true, .shift = c, .log_sum = sum, .counted = counted};
}

long double BoxCox(long double x, double lambda) {
  const long double ln_x = std::log(x);
  if (lambda == 0) return ln_x;
  return std::expm1(static_cast<long double>(lambda) * ln_x) / lambda;
}

bool TransformTrait(const Analysis& analysis, double lambda,
                    std::vector<float>& trait,
                    std::vector<double>& thresholds) {
  const FamilyStore& store = analysis.core.store;
  const long double c = analysis.transform.shift;
  for (std::size_t i = 0; i < store.trait.size(); ++i) {
    const float y = store.trait[i];
    if (!Observed(y) || i == 0) {
      trait[i] = y;
      continue;
    }
    const long double x = static_cast<long double>(y) + c;
    const float z = x > 0 ? static_cast<float>(BoxCox(x, lambda))
                          : std::numeric_limits<float>::quiet_NaN();
    if (!(z > kMissingTrait) || !std::isfinite(z)) return false;
    trait[i] = z;
  }
  const std::vector<double>& given = analysis.core.correction.thresholds;
  for (std::size_t g = 0; g < given.size() && g < thresholds.size(); ++g) {
    const long double x = static_cast<long double>(given[g]) + c;
    // A threshold at or below -c lies below every observed value.
    thresholds[g] = x > 0 ? static_cast<double>(BoxCox(x, lambda))
                          : -std::numeric_limits<double>::infinity();
  }
  return true;
}

double JacobianTerm(const Analysis& analysis, double lambda) {
  return static_cast<double>((static_cast<long double>(lambda) - 1) *
                             analysis.transform.log_sum);
}

std::optional<Analysis> TransformedAt(const Analysis& analysis, double lambda) {
  std::optional<Analysis> at(analysis);
  if (!TransformTrait(analysis, lambda, at->core.store.trait,
                      at->core.correction.thresholds)) {
    return std::nullopt;
  }
  at->transform = {};
  at->settings.data_file_name = kTransformedTraitFile;
  at->core.settings.data_file_name = kTransformedTraitFile;
  return at;
}

FitOutcome RunTransformedFit(const Analysis& analysis,
                             const ParameterTable& start, const FitFiles* files,
                             const EvaluationProgress& progress, int threads) {
  if (!analysis.transform.boxcox) {
    return RunFit(analysis, start, files, progress, threads);
  }
  const double lambda = start.value[kLambda];
  const std::optional<Analysis> at = TransformedAt(analysis, lambda);
  FitOutcome outcome;
  if (!at) {
    outcome.table = start;
    outcome.start_rejected = true;
    outcome.initial_ln_lh = outcome.result.final_ln_lh = FailureSentinel;
    outcome.refusal = "at lambda " + ShortestText(lambda) +
                      " a transformed trait value is not a finite 4-byte "
                      "real above the missing-value code";
    return outcome;
  }
  const double jacobian = JacobianTerm(analysis, lambda);
  const EvaluationProgress shifted =
      progress ? EvaluationProgress([&](std::int64_t e, double best) {
        progress(e, best + jacobian);
      })
               : EvaluationProgress();
  // segmix's records show rows above 15 too: its fit gets the table as
  // par.inp gives it, row kLambda zero, so that its files are segmix's own.
  ParameterTable core_start = start;
  KeepLambdaRow(core_start, ParameterTable{});
  outcome = RunFit(*at, core_start, files, shifted, threads);
  for (double* v : {&outcome.initial_ln_lh, &outcome.result.final_ln_lh}) {
    if (*v > kFailureThreshold) *v += jacobian;
  }
  // par.inp holds rows 1..15 only: lambda stays as the start had it.
  KeepLambdaRow(outcome.table, start);
  if (files != nullptr) {
    const std::filesystem::path dir = files->sigma_file.parent_path();
    {
      // One value per line, each the shortest text segmix reads back as the
      // stored 4-byte value.
      std::ofstream trait(dir / kTransformedTraitFile, std::ios::binary);
      for (std::size_t i = 1; i < at->core.store.trait.size(); ++i) {
        trait << ' ' << ShortestText(at->core.store.trait[i]) << '\n';
      }
    }
    std::ofstream note(dir / "transform.txt", std::ios::binary);
    note
        << "Box-Cox transformation of the trait: z = ((y + c)^lambda - 1) / "
           "lambda (ln(y + c) at lambda 0)\n"
        << "lambda " << ShortestText(lambda) << "\n"
        << "shift c " << ShortestText(analysis.transform.shift) << "\n"
        << "Jacobian term (lambda - 1) * S " << ShortestText(jacobian)
        << ", S = "
        << ShortestText(static_cast<double>(analysis.transform.log_sum))
        << " over " << analysis.transform.counted << " members\n"
        << "sigma.dat is segmix's fit of " << kTransformedTraitFile
        << " (z at this lambda, held fixed); its ln LH plus the Jacobian term\n"
        << "is the model's ln LH in segmix-fit's report. To repeat it, copy "
           "par.inp and "
        << kTransformedTraitFile
        << " beside the data files and run segmix there.\n";
  }
  return outcome;
}

std::string TransformText(const Analysis& analysis) {
  return "Trait transformed: Box-Cox ((y + c)^lambda - 1)/lambda with c = " +
         ShortestText(analysis.transform.shift) +
         ", lambda estimated in each model; ln LH is of the observed y (the "
         "transformed trait's plus the Jacobian (lambda - 1) S, S = " +
         ShortestText(static_cast<double>(analysis.transform.log_sum)) +
         " over " + std::to_string(analysis.transform.counted) + " members)";
}

void KeepLambdaRow(ParameterTable& to, const ParameterTable& from) {
  to.tie[kLambda] = from.tie[kLambda];
  to.in_model[kLambda] = from.in_model[kLambda];
  to.estimate[kLambda] = from.estimate[kLambda];
  to.value[kLambda] = from.value[kLambda];
  to.step[kLambda] = from.step[kLambda];
  to.GL[kLambda] = from.GL[kLambda];
  to.GR[kLambda] = from.GR[kLambda];
}

void AddLambdaRow(const Analysis& analysis, ParameterTable& table) {
  if (!analysis.transform.boxcox) return;
  table.tie[kLambda] = kLambda;
  table.in_model[kLambda] = 1;
  table.estimate[kLambda] = 1;
  table.value[kLambda] = kLambdaStart;
  table.step[kLambda] = kLambdaStep;
  table.GL[kLambda] = kLambdaLow;
  table.GR[kLambda] = kLambdaHigh;
  // At lambda = 1, z = y + c - 1: the same likelihood as y with the means
  // moved by c - 1.
  const double move = analysis.transform.shift - 1;
  for (const int r : {kMU, kA, kD}) {
    if (table.tie[r] != r || table.estimate[r] == 0) continue;
    table.value[r] =
        std::clamp(table.value[r] + move, table.GL[r], table.GR[r]);
  }
}

}  // namespace segmix::fit
