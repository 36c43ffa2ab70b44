// The series loop. Every start is run in a scratch folder of its own with
// segmix's files; the best start's files are renamed into the model's folder,
// so a folder never holds a mixture of starts. After the first pass over the
// models, rounds of starts from the maxima of nested models (in both
// directions) bring every pair in order.
#include "fit/series.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <numbers>
#include <set>

#include "fit/comparisons.h"
#include "fit/par_file.h"
#include "fit/starts.h"

namespace segmix::fit {
namespace {

namespace fs = std::filesystem;

// ln LH units within which two maxima count as the same (label swaps).
constexpr double kLabelTie = 1e-4;
// Within this, a model's maximum is as high as a nested model's.
constexpr double kNestingTolerance = 1e-6;
// Another maximum this close to the best makes the best one doubtful.
constexpr double kCloseMaximum = 2.0;
// Rounds of nesting starts at most; each round only adds starts from maxima
// that changed since they were last tried.
constexpr int kNestingRounds = 6;

constexpr const char* kModelFiles[] = {
    "par.inp", "max.dat", "par.err", "sigma.dat", "LH_fam.dat", "console.txt"};

bool SameValues(const ParameterTable& a, const ParameterTable& b) {
  for (int r = 1; r <= kParameterCount; ++r) {
    if (a.value[r] != b.value[r]) return false;
  }
  return true;
}

bool Usable(const FitOutcome& o) {
  return !o.start_rejected && o.result.final_ln_lh > kFailureThreshold;
}

// The fitting of one series: owns the scratch folders of the starts.
class SeriesFit {
 public:
  SeriesFit(const Analysis& analysis, int model_count, const fs::path& out,
            Progress& progress)
      : analysis_(analysis),
        model_count_(model_count),
        out_(out),
        progress_(progress),
        constant_(DensityConstant(analysis)) {}

  ~SeriesFit() {
    for (const fs::path& work : works_) {
      std::error_code ignored;
      fs::remove_all(work, ignored);
    }
  }
  SeriesFit(const SeriesFit&) = delete;
  SeriesFit& operator=(const SeriesFit&) = delete;

  // Runs `table` as a start of model `m`; skipped when the same values were
  // started before. True when it ran.
  bool RunStart(int m, ModelResult& result, const std::string& origin,
                const ParameterTable& table) {
    const fs::path folder = out_ / result.description.name;
    const fs::path work = folder / ".work";
    if (works_.insert(work).second) {
      fs::remove_all(work);
      fs::create_directories(work);
    }
    const std::size_t n = result.starts.size() + skipped_[m] + 1;
    const fs::path dir = work / ("start-" + std::to_string(n));
    fs::create_directories(dir);
    StartRecord record;
    record.origin = origin;
    record.start = WriteAndReadBack(dir / "par.inp",
                                    ParInpText(analysis_.settings, table));
    for (const StartRecord& done : result.starts) {
      if (SameValues(done.start, record.start)) {
        fs::remove_all(dir);
        ++skipped_[m];
        return false;
      }
    }
    progress_.Begin(m + 1, model_count_, result.description.name,
                    static_cast<int>(n), static_cast<int>(n));
    const FitFiles files{dir / "max.dat", dir / "par.err", dir / "sigma.dat",
                         dir / "LH_fam.dat", dir / "console.txt"};
    record.outcome = RunFit(
        analysis_, record.start, &files,
        [&](std::int64_t e, double best) { progress_.Evaluation(e, best); });
    record.evaluations = record.outcome.result.function_count;
    record.folder = dir;
    progress_.EndStart(record.evaluations, record.outcome.result.final_ln_lh);
    result.starts.push_back(record);
    return true;
  }

  // Picks the best start; when it is a new one, its files go into the
  // model's folder and the standard errors are computed there.
  void Settle(ModelResult& result) {
    const int previous = result.best;
    result.best = -1;
    for (std::size_t s = 0; s < result.starts.size(); ++s) {
      const FitOutcome& o = result.starts[s].outcome;
      if (!Usable(o)) continue;
      if (result.best < 0 ||
          o.result.final_ln_lh >
              result.starts[result.best].outcome.result.final_ln_lh) {
        result.best = static_cast<int>(s);
      }
    }
    // Among starts that tie (label swaps give the same likelihood), keep one
    // whose means are in the order segmix's gate wants (D not above MU), so
    // that its final pass and LH_fam.dat are not refused; and the one already
    // published when it is among them, so that a round changes nothing it
    // need not.
    if (result.best >= 0) {
      const double top = result.starts[result.best].outcome.result.final_ln_lh;
      auto ordered = [](const FitOutcome& o) {
        return o.table.value[kD] <= o.table.value[kMU];
      };
      for (std::size_t s = 0; s < result.starts.size(); ++s) {
        const FitOutcome& o = result.starts[s].outcome;
        if (!ordered(result.starts[result.best].outcome) && ordered(o) &&
            Usable(o) && o.result.final_ln_lh >= top - kLabelTie) {
          result.best = static_cast<int>(s);
        }
      }
      if (previous >= 0 && previous != result.best &&
          result.starts[previous].outcome.result.final_ln_lh >= top &&
          ordered(result.starts[previous].outcome)) {
        result.best = previous;
      }
    }
    CountMaxima(result);
    if (!result.Fitted() || result.best == previous) return;

    const StartRecord& best = result.starts[result.best];
    result.estimates = best.outcome.table;
    result.ln_lh = best.outcome.result.final_ln_lh;
    result.ln_lh_constants = result.ln_lh - constant_;
    const int k = static_cast<int>(result.free_rows.size());
    result.aic = Aic(result.ln_lh_constants, k);
    result.bic = Bic(result.ln_lh_constants, k, analysis_.counts.observed);
    const fs::path folder = out_ / result.description.name;
    for (const char* name : kModelFiles) {
      const fs::path from = best.folder / name;
      if (fs::exists(from)) {
        fs::rename(from, folder / name);
      } else {
        fs::remove(folder / name);  // an earlier best's file of that name
      }
    }
    Evaluator evaluator(analysis_, result.estimates);
    result.se = ComputeStandardErrors(
        [&](const ParameterTable& t) { return evaluator.Evaluate(t); },
        result.estimates, result.free_rows);
  }

 private:
  // The distinct maxima the starts reached (ln LH more than kAgreement
  // apart), best first, and how many starts agree with the best.
  static void CountMaxima(ModelResult& result) {
    std::vector<double> ends;
    for (const StartRecord& s : result.starts) {
      if (Usable(s.outcome)) ends.push_back(s.outcome.result.final_ln_lh);
    }
    std::sort(ends.begin(), ends.end(), std::greater<double>());
    result.maxima.clear();
    for (const double e : ends) {
      if (result.maxima.empty() ||
          result.maxima.back().ln_lh - e > kAgreement) {
        result.maxima.push_back({e, 1});
      } else {
        ++result.maxima.back().starts;
      }
    }
    result.agreeing = result.maxima.empty() ? 0 : result.maxima[0].starts;
  }

  const Analysis& analysis_;
  int model_count_;
  fs::path out_;
  Progress& progress_;
  double constant_;
  std::set<fs::path> works_;
  std::map<int, std::size_t> skipped_;
};

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
  const int n = static_cast<int>(descriptions.size());
  SeriesFit series(analysis, n, out, progress);
  std::vector<ModelResult> results(descriptions.size());
  // Which maximum of model o each model was last started from: a nesting
  // start is run again only when o's maximum has moved.
  std::vector<std::map<int, double>> tried(descriptions.size());
  const auto related = [&](int a, int b) {
    return a != b && (NestedIn(results[a].model, results[b].model) ||
                      NestedIn(results[b].model, results[a].model));
  };
  // Starts of model m from the maxima of the fitted models it is nested in
  // or that are nested in it, moved into m's constraints.
  const auto nesting_starts = [&](int m) {
    bool any = false;
    for (int o = 0; o < n; ++o) {
      if (!related(m, o) || !results[o].Fitted()) continue;
      const auto it = tried[m].find(o);
      if (it != tried[m].end() && it->second == results[o].ln_lh) continue;
      tried[m][o] = results[o].ln_lh;
      any |=
          series.RunStart(m, results[m], "from " + results[o].description.name,
                          WarmStart(results[m].model, results[o].estimates));
    }
    return any;
  };

  for (int m = 0; m < n; ++m) {
    ModelResult& result = results[m];
    result.description = descriptions[m];
    result.model = tables[m];
    result.free_rows = FreeRows(result.model);
  }
  for (int m = 0; m < n; ++m) {
    ModelResult& result = results[m];
    series.RunStart(m, result, "base", result.model);
    nesting_starts(m);
    for (int s = 1; s <= spread; ++s) {
      series.RunStart(
          m, result, "spread " + std::to_string(s),
          SpreadStart(result.model, s, analysis.trait_mean, analysis.trait_sd));
    }
    series.Settle(result);
  }
  // Rounds until no maximum moved: a model fitted before one it is nested
  // in, or below a model nested in it, is started again from there.
  for (int round = 0; round < kNestingRounds; ++round) {
    bool moved = false;
    for (int m = 0; m < n; ++m) {
      const double before = results[m].Fitted() ? results[m].ln_lh : -INFINITY;
      if (!nesting_starts(m)) continue;
      series.Settle(results[m]);
      moved |= results[m].Fitted() && results[m].ln_lh != before;
    }
    if (!moved) break;
  }

  for (int m = 0; m < n; ++m) {
    ModelResult& result = results[m];
    const std::string& name = result.description.name;
    if (!result.Fitted()) {
      result.warnings.push_back(
          "every start was refused or failed; see its starts in fit.json");
    } else {
      if (result.agreeing < 2 && result.starts.size() > 1) {
        result.warnings.push_back(
            "only one start reached the best ln LH; the maximum may be local");
      }
      if (result.maxima.size() > 1 &&
          result.maxima[0].ln_lh - result.maxima[1].ln_lh < kCloseMaximum) {
        result.warnings.push_back("another maximum, ln LH " +
                                  std::to_string(result.maxima[1].ln_lh) +
                                  ", lies within 2 units of the best");
      }
      for (int o = 0; o < n; ++o) {
        if (o == m || !results[o].Fitted() ||
            !NestedIn(results[o].model, result.model)) {
          continue;
        }
        if (result.ln_lh < results[o].ln_lh - kNestingTolerance) {
          result.warnings.push_back(
              "its maximum lies below that of " + results[o].description.name +
              ", which is nested in it: the search has not found the top");
        }
      }
    }
    for (const std::string& w : result.warnings) {
      progress.Note("warning: model " + name + ": " + w);
    }
  }
  return results;
}

}  // namespace segmix::fit
