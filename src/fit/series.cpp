// The series loop. Every start is run in a scratch folder of its own with
// segmix's files; the best start's files are renamed into the model's folder
// when the model is done, so a folder never holds a mixture of starts.
#include "fit/series.h"

#include <cmath>
#include <numbers>

#include "fit/comparisons.h"
#include "fit/par_file.h"
#include "fit/starts.h"

namespace segmix::fit {
namespace {

namespace fs = std::filesystem;

// ln LH units within which two maxima count as the same (label swaps).
constexpr double kLabelTie = 1e-4;

constexpr const char* kModelFiles[] = {
    "par.inp", "max.dat", "par.err", "sigma.dat", "LH_fam.dat", "console.txt"};

bool SameValues(const ParameterTable& a, const ParameterTable& b) {
  for (int r = 1; r <= kParameterCount; ++r) {
    if (a.value[r] != b.value[r]) return false;
  }
  return true;
}

}  // namespace

double DensityConstant(const Analysis& analysis) {
  long count = 0;
  for (const FamilyFacts& f : analysis.families) {
    if (f.evaluated) count += f.constant_members;
  }
  return 0.5 * std::log(2 * std::numbers::pi) * static_cast<double>(count);
}

std::vector<ModelResult> FitSeries(
    const Analysis& analysis, const std::vector<ModelDescription>& descriptions,
    const std::vector<ParameterTable>& tables, int spread, const fs::path& out,
    Progress& progress) {
  std::vector<ModelResult> results;
  const double constant = DensityConstant(analysis);
  for (std::size_t m = 0; m < descriptions.size(); ++m) {
    ModelResult result;
    result.description = descriptions[m];
    result.model = tables[m];
    result.free_rows = FreeRows(result.model);

    std::vector<std::pair<std::string, ParameterTable>> candidates;
    candidates.emplace_back("base", result.model);
    for (const ModelResult& earlier : results) {
      if (earlier.Fitted() && NestedIn(earlier.model, result.model)) {
        candidates.emplace_back("from " + earlier.description.name,
                                WarmStart(result.model, earlier.estimates));
      }
    }
    for (int s = 1; s <= spread; ++s) {
      candidates.emplace_back(
          "spread " + std::to_string(s),
          SpreadStart(result.model, s, analysis.trait_mean, analysis.trait_sd));
    }

    const fs::path folder = out / result.description.name;
    const fs::path work = folder / ".work";
    fs::remove_all(work);
    fs::create_directories(work);
    std::vector<fs::path> start_dirs;
    for (std::size_t c = 0; c < candidates.size(); ++c) {
      const fs::path dir = work / ("start-" + std::to_string(c + 1));
      fs::create_directories(dir);
      StartRecord record;
      record.origin = candidates[c].first;
      record.start = WriteAndReadBack(
          dir / "par.inp", ParInpText(analysis.settings, candidates[c].second));
      bool duplicate = false;
      for (const StartRecord& done : result.starts) {
        duplicate = duplicate || SameValues(done.start, record.start);
      }
      if (duplicate) {
        fs::remove_all(dir);
        continue;
      }
      progress.Begin(static_cast<int>(m + 1),
                     static_cast<int>(descriptions.size()),
                     result.description.name, static_cast<int>(c + 1),
                     static_cast<int>(candidates.size()));
      const FitFiles files{dir / "max.dat", dir / "par.err", dir / "sigma.dat",
                           dir / "LH_fam.dat", dir / "console.txt"};
      record.outcome = RunFit(
          analysis, record.start, &files,
          [&](std::int64_t n, double best) { progress.Evaluation(n, best); });
      record.evaluations = record.outcome.result.function_count;
      progress.EndStart(record.evaluations, record.outcome.result.final_ln_lh);
      result.starts.push_back(record);
      start_dirs.push_back(dir);
    }

    for (std::size_t s = 0; s < result.starts.size(); ++s) {
      const FitOutcome& o = result.starts[s].outcome;
      if (o.start_rejected || !(o.result.final_ln_lh > kFailureThreshold))
        continue;
      if (result.best < 0 ||
          o.result.final_ln_lh >
              result.starts[result.best].outcome.result.final_ln_lh) {
        result.best = static_cast<int>(s);
      }
    }
    // Swapping the labels of genotypes 1 and 3 (Q for 1 - Q, MU for D) gives
    // the same likelihood; among starts that tie, keep one whose means are in
    // the order segmix's gate wants (D not above MU), so that its final pass
    // and LH_fam.dat are not refused.
    if (result.best >= 0) {
      const double top = result.starts[result.best].outcome.result.final_ln_lh;
      auto ordered = [](const FitOutcome& o) {
        return o.table.value[kD] <= o.table.value[kMU];
      };
      for (std::size_t s = 0; s < result.starts.size(); ++s) {
        const FitOutcome& o = result.starts[s].outcome;
        if (!ordered(result.starts[result.best].outcome) && ordered(o) &&
            !o.start_rejected && o.result.final_ln_lh >= top - kLabelTie) {
          result.best = static_cast<int>(s);
        }
      }
    }
    if (result.Fitted()) {
      const StartRecord& best = result.starts[result.best];
      result.estimates = best.outcome.table;
      result.ln_lh = best.outcome.result.final_ln_lh;
      for (const StartRecord& s : result.starts) {
        if (!s.outcome.start_rejected &&
            s.outcome.result.final_ln_lh >= result.ln_lh - kAgreement) {
          ++result.agreeing;
        }
      }
      result.ln_lh_constants = result.ln_lh - constant;
      const int k = static_cast<int>(result.free_rows.size());
      result.aic = Aic(result.ln_lh_constants, k);
      result.bic = Bic(result.ln_lh_constants, k, analysis.counts.observed);
      for (const char* name : kModelFiles) {
        const fs::path from = start_dirs[result.best] / name;
        if (fs::exists(from)) fs::rename(from, folder / name);
      }
      Evaluator evaluator(analysis, result.estimates);
      result.se = ComputeStandardErrors(
          [&](const ParameterTable& t) { return evaluator.Evaluate(t); },
          result.estimates, result.free_rows);
      if (result.agreeing == 1 && result.starts.size() > 1) {
        progress.Note(
            "warning: model " + result.description.name +
            ": only one start reached the best ln LH; the maximum may "
            "be local");
      }
    } else {
      progress.Note(
          "warning: model " + result.description.name +
          ": every start was refused or failed; see its starts in fit.json");
    }
    fs::remove_all(work);
    results.push_back(std::move(result));
  }
  return results;
}

}  // namespace segmix::fit
