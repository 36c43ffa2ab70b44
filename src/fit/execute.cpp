// Carrying out a plan: the series, the best model, the tests, the profiles,
// the family terms and the posteriors.
#include "fit/execute.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>

#include "cli/command_line.h"
#include "cli/input_file.h"
#include "data/capacities.h"
#include "fit/bootstrap.h"
#include "fit/comparisons.h"
#include "fit/model_series.h"
#include "fit/profile.h"
#include "fit/series.h"
#include "fit/simulation.h"
#include "fit/transform.h"
#include "textio/number_text.h"
#include "textio/termination.h"

namespace segmix::fit {
namespace {

namespace fs = std::filesystem;

const ModelResult* Fitted(const FitReport& report, const std::string& name) {
  for (const ModelResult& m : report.models) {
    if (m.description.name == name && m.Fitted()) return &m;
  }
  return nullptr;
}

// Why model `name` has no fit, for a test's row.
std::string NotFitted(const FitReport& report, const std::string& name) {
  for (const ModelResult& m : report.models) {
    if (m.description.name == name && !m.stopped.empty()) {
      return "model " + name + " was not fitted (the series was stopped)";
    }
  }
  return "model " + name + " could not be fitted";
}

// `threads` for the evaluations of the information at the null (0: the
// usable processors); none after a stop signal (`stopped`), when only the
// cheap pieces are formed.
void AddTest(FitReport& report, const std::string& label, const std::string& a,
             const std::string& b, int threads, bool stopped) {
  const ModelResult* null_model = Fitted(report, a);
  const ModelResult* alternative = Fitted(report, b);
  if (null_model == nullptr || alternative == nullptr) {
    // A row all the same, with the reason: a test never silently vanishes.
    Comparison row;
    row.label = label, row.null_model = a, row.alternative = b;
    row.statistic = row.p_value = std::numeric_limits<double>::quiet_NaN();
    row.note =
        "not computed: " + NotFitted(report, null_model == nullptr ? a : b);
    report.missing.push_back("test " + label + ": " + row.note);
    report.tests.push_back(row);
    return;
  }
  // Several rows on bounds: the mixture's weights from the alternative's
  // information at the null itself, as the asymptotics have them (its
  // maximum may lie on those bounds too, where it has no covariance); the
  // alternative's covariance at its maximum when that cannot be formed.
  const auto bounded = BoundRows(null_model->model, alternative->model);
  StandardErrors information;
  std::string not_at_null;  // why the information at the null is not used
  if (bounded.size() > 1 && stopped) {
    not_at_null = "not from the information at the null: the run was stopped";
  } else if (bounded.size() > 1) {
    Evaluator evaluator(*report.analysis, alternative->model, threads);
    information = InformationAtNull(
        [&](const std::vector<ParameterTable>& points) {
          std::vector<double> values;
          for (const ParameterTable& t : points) {
            values.push_back(evaluator.Evaluate(t));
          }
          return values;
        },
        NullPoint(null_model->model, null_model->estimates, alternative->model),
        alternative->free_rows, bounded);
    if (!information.negative_definite) not_at_null = information.problem;
  }
  const bool at_null = information.negative_definite;
  Comparison test = Compare(
      label, a, null_model->ln_lh, null_model->model,
      static_cast<int>(null_model->free_rows.size()), b, alternative->ln_lh,
      alternative->model, static_cast<int>(alternative->free_rows.size()),
      at_null ? &information : &alternative->se,
      at_null ? "the alternative's information at the null"
              : "the alternative's covariance at its maximum");
  if (!not_at_null.empty()) test.note += "; " + not_at_null;
  if (at_null) test.weights_covariance = std::move(information);
  // Without a major locus the genotype means are equal and Q has no effect:
  // no chi-square law holds for this test.
  if (!HasMajorLocus(null_model->model) && HasMajorLocus(alternative->model)) {
    test.note += (test.note.empty() ? "" : "; ") +
                 std::string(
                     "Q is not identified under the null: the chi2 reference "
                     "is only approximate");
  }
  report.tests.push_back(test);
}

// The model of the posteriors: --posterior-model, else the best by AIC that
// has a major locus. Sets the report's choice and reason; -1 for none.
void ChoosePosteriorModel(const FitPlan& plan, FitReport& report) {
  if (!plan.posterior_model.empty()) {
    for (std::size_t i = 0; i < report.models.size(); ++i) {
      if (report.models[i].description.name != plan.posterior_model) continue;
      if (report.models[i].Fitted()) {
        report.posterior_model = static_cast<int>(i);
        report.posterior_reason = "--posterior-model";
      } else {
        report.posterior_reason = "--posterior-model " + plan.posterior_model +
                                  " could not be fitted: no posteriors";
      }
    }
    return;
  }
  for (std::size_t i = 0; i < report.models.size(); ++i) {
    const ModelResult& m = report.models[i];
    if (!m.Fitted() || !HasMajorLocus(m.model)) continue;
    if (report.posterior_model < 0 ||
        m.aic < report.models[report.posterior_model].aic) {
      report.posterior_model = static_cast<int>(i);
    }
  }
  if (report.posterior_model < 0) {
    report.posterior_reason =
        "no fitted model has a major locus: persons.csv holds no posteriors";
  } else if (report.posterior_model == report.best_model) {
    report.posterior_reason = "the best model by AIC";
  } else {
    report.posterior_reason =
        "the best model by AIC with a major locus (the best, " +
        report.models[report.best_model].description.name + ", has none)";
  }
}

// The part of `merged` for test `c`. Throws segmix::InputRejected when the
// slices did not replicate it or saw another observed statistic: the merge's
// fit of the series is not theirs.
const BootstrapPart::Test& MergedTest(const BootstrapPart& merged,
                                      const Comparison& c) {
  const auto part = std::find_if(
      merged.tests.begin(), merged.tests.end(),
      [&](const BootstrapPart::Test& t) { return t.label == c.label; });
  if (part == merged.tests.end() || part->statistic != c.statistic) {
    throw InputRejected(
        "the series fitted for the merge differs from the slices' (test " +
        c.label + ": " +
        (part == merged.tests.end()
             ? std::string("not replicated by the slices")
             : "statistic " + ShortestText(c.statistic) + ", the slices' " +
                   ShortestText(part->statistic)) +
        "); run the slices and the merge with one build of segmix-fit.");
  }
  return *part;
}

}  // namespace

std::vector<cli::MapEntry> ReadIds(const Analysis& analysis) {
  const fs::path path = analysis.directory / cli::kMapFileName;
  if (!fs::exists(path)) return {};
  // A directory or device of that name is refused, as by every reader.
  std::ifstream in;
  cli::OpenInputFile(in, path.string(), "the map file");
  std::vector<cli::MapEntry> ids = cli::ReadMapFile(in, path.string());
  // A map of another data set would name the wrong persons: refuse it.
  for (const cli::MapEntry& e : ids) {
    const auto g = static_cast<std::size_t>(e.family_index);
    if (e.family_index < 1 || g >= analysis.families.size() || e.position < 1 ||
        e.position > analysis.families[g].members) {
      throw InputRejected(
          path.string() + ": family index " + std::to_string(e.family_index) +
          ", position " + std::to_string(e.position) + " (family " + e.family +
          ", person " + e.id +
          ") is not a member in iway.dat: the map is of another data set; "
          "run segmix-prep again or remove idmap.dat.");
    }
  }
  // Every member of every stored family named once: a shorter map would
  // leave persons without ids.
  std::vector<int> named(analysis.families.size(), 0);
  for (const cli::MapEntry& e : ids) {
    ++named[static_cast<std::size_t>(e.family_index)];
  }
  for (const FamilyFacts& f : analysis.families) {
    if (f.index == 0) continue;
    const int n = named[static_cast<std::size_t>(f.index)];
    if (n != f.members) {
      throw InputRejected(path.string() + ": family index " +
                          std::to_string(f.index) + " has " +
                          std::to_string(f.members) + " members in iway.dat" +
                          " but " + std::to_string(n) +
                          " lines in the map: the map is of another data set;"
                          " run segmix-prep again or remove idmap.dat.");
    }
  }
  return ids;
}

bool NamesTest(const std::string& name, const std::string& label,
               const std::string& null_model, const std::string& alternative) {
  return name == label || name == null_model + ":" + alternative;
}

void CheckBootstrapTests(const FitPlan& plan, const PlannedModels& planned) {
  for (const std::string& name : plan.bootstrap_tests) {
    bool known = false;
    for (const StandardTest& t : kStandardTests) {
      known |= planned.Index(plan, t.null_model) >= 0 &&
               planned.Index(plan, t.alternative) >= 0 &&
               NamesTest(name, t.label, t.null_model, t.alternative);
    }
    for (const auto& [a, b] : plan.compares) {
      known |= NamesTest(name, a + " within " + b, a, b);
    }
    if (!known) {
      throw cli::UsageError(
          "--bootstrap-tests: '" + name +
          "' is no test of the table; give a test's label (as "
          "tests.csv has it) or NULL:ALTERNATIVE");
    }
  }
}

FitReport ExecutePlan(const FitPlan& plan, const PlannedModels& planned,
                      const Analysis& analysis,
                      std::vector<std::string> input_warnings,
                      std::vector<cli::MapEntry> ids, Progress& progress,
                      const BootstrapPart* merged, const EarlierRun* earlier) {
  FitReport report;
  report.analysis = &analysis;
  report.out = plan.output;
  report.input_warnings = std::move(input_warnings);
  report.ids = std::move(ids);
  report.ascertainment = plan.ascertainment;
  // The threshold only enters the correction pass: without a corrected
  // family it changes nothing, which is worth saying.
  if (plan.ascertainment.ByThreshold() &&
      std::none_of(analysis.families.begin(), analysis.families.end(),
                   [](const FamilyFacts& f) { return f.corrected; })) {
    report.notes.push_back(
        "--ascertainment: no family is corrected for ascertainment (proband "
        "switch 0 and no status code 0), so the threshold changes nothing");
  }
  {
    const std::string text = VersionText("segmix-fit");
    report.version = text.substr(0, text.find('\n'));
  }
  report.models = FitSeries(
      analysis, plan.models, planned.tables, plan.spread_starts, plan.output,
      progress, plan.threads, earlier != nullptr ? &earlier->climbs : nullptr);
  // After a stop signal only the cheap pieces are formed (the tests of the
  // fitted models); what would fit again is left out and named in missing.
  // A stop after the series (in a bootstrap, the study or a profile) ends
  // that piece, whose partial results are dropped, and skips the rest: the
  // series is published all the same.
  const bool series_stopped = progress.StopSignal() != 0;
  const auto stopped = [&] { return progress.StopSignal() != 0; };
  const auto after_stop = [&] {
    return std::string("not computed: the ") +
           (series_stopped ? "series" : "run") + " was " + progress.StopText();
  };

  for (std::size_t i = 0; i < report.models.size(); ++i) {
    const ModelResult& m = report.models[i];
    report.variance_components.push_back(
        m.Fitted() ? VarianceComponents(m.estimates, m.se)
                   : std::vector<VarianceComponent>());
    if (m.Fitted() && (report.best_model < 0 ||
                       m.aic < report.models[report.best_model].aic)) {
      report.best_model = static_cast<int>(i);
    }
  }
  for (const StandardTest& t : kStandardTests) {
    const bool both = planned.Index(plan, t.null_model) >= 0 &&
                      planned.Index(plan, t.alternative) >= 0;
    if (both) {
      AddTest(report, t.label, t.null_model, t.alternative, plan.threads,
              stopped());
    }
  }
  for (const auto& [a, b] : plan.compares) {
    AddTest(report, a + " within " + b, a, b, plan.threads, stopped());
  }
  const bool sliced = plan.bootstrap_task.Sliced();
  report.bootstrap_replicates = sliced ? 0 : plan.bootstrap;
  std::size_t merged_tests = 0;
  for (Comparison& c : report.tests) {
    if (stopped() || plan.bootstrap == 0 || !std::isfinite(c.statistic)) {
      continue;
    }
    const bool chosen =
        plan.bootstrap_tests.empty() ||
        std::any_of(plan.bootstrap_tests.begin(), plan.bootstrap_tests.end(),
                    [&](const std::string& name) {
                      return NamesTest(name, c.label, c.null_model,
                                       c.alternative);
                    });
    if (!chosen) continue;
    c.bootstrap.seed = plan.bootstrap_seed;
    if (merged != nullptr) {
      const BootstrapPart::Test& part = MergedTest(*merged, c);
      ++merged_tests;
      c.bootstrap.replicates = part.replicates;
      BootstrapPValue(c.bootstrap, c.statistic);
      c.bootstrapped = true;
      continue;
    }
    Bootstrap b = BootstrapTest(
        analysis, *Fitted(report, c.null_model), *Fitted(report, c.alternative),
        c.statistic, SliceReplicates(plan.bootstrap, plan.bootstrap_task),
        plan.bootstrap_seed, progress, plan.threads,
        earlier != nullptr
            ? earlier->Bootstrap(c.label, c.statistic, plan.bootstrap_seed)
            : nullptr);
    if (b.stopped) {
      // Its finished replicates stay in fit.json for a --resume; no p-value.
      progress.TakeStop(FitStopped(
          StopRequested(),
          "in the bootstrap of " + c.null_model + " within " + c.alternative));
      if (!sliced) c.bootstrap = std::move(b);
      break;
    }
    if (sliced) {
      report.slice_tests.push_back({c.label, c.statistic, b.replicates});
    } else {
      c.bootstrap = std::move(b);
      c.bootstrapped = true;
    }
  }
  if (stopped() && plan.bootstrap > 0) {
    report.missing.push_back("--bootstrap: " + after_stop());
  }
  // A study: one draw per data set from the source model, every test whose
  // models were fitted replicated on it.
  const ModelResult* source = plan.simulate_from.empty() || stopped()
                                  ? nullptr
                                  : Fitted(report, plan.simulate_from);
  if (!plan.simulate_from.empty() && stopped()) {
    report.missing.push_back("--simulate-from: " + after_stop());
  } else if (!plan.simulate_from.empty() && source == nullptr) {
    report.missing.push_back("--simulate-from: model " + plan.simulate_from +
                             " could not be fitted, so no data set was "
                             "drawn from it");
  }
  if (source != nullptr) {
    Simulation& study = report.simulation;
    study.model = plan.simulate_from;
    study.seed = plan.simulate_seed;
    study.replicates = plan.simulate_replicates;
    std::vector<std::pair<const ModelResult*, const ModelResult*>> pairs;
    for (std::size_t t = 0; t < report.tests.size(); ++t) {
      const Comparison& c = report.tests[t];
      if (!std::isfinite(c.statistic)) continue;
      SimulatedTest test;
      test.test = t;
      if (merged != nullptr) {
        test.replicates = MergedTest(*merged, c).replicates;
        ++merged_tests;
      }
      study.tests.push_back(std::move(test));
      pairs.emplace_back(Fitted(report, c.null_model),
                         Fitted(report, c.alternative));
    }
    std::vector<std::vector<BootstrapReplicate>> fits;
    if (merged == nullptr) {
      try {
        fits = SimulateTests(
            analysis, *source, pairs,
            SliceReplicates(plan.simulate_replicates, plan.bootstrap_task),
            plan.simulate_seed, progress, plan.threads);
      } catch (const FitStopped& stop) {
        progress.TakeStop(stop);
        report.missing.push_back("--simulate-from: " + after_stop());
        study.tests.clear();
        fits.clear();
      }
    }
    if (merged == nullptr && !stopped()) {
      for (std::size_t t = 0; t < study.tests.size(); ++t) {
        const Comparison& c = report.tests[study.tests[t].test];
        if (sliced) {
          report.slice_tests.push_back({c.label, c.statistic, fits[t]});
        } else {
          study.tests[t].replicates = std::move(fits[t]);
        }
      }
    }
    if (sliced || stopped()) {
      study.tests.clear();
    } else {
      // Each data set's statistic under the observed table's reference law:
      // the test's own bounds and, for a mixture, the observed alternative's
      // covariance.
      for (std::size_t t = 0; t < study.tests.size(); ++t) {
        const Comparison& c = report.tests[study.tests[t].test];
        const ModelResult& a = *pairs[t].first;
        const ModelResult& b = *pairs[t].second;
        CountRejections(study.tests[t], [&](const BootstrapReplicate& r) {
          return Compare(c.label, a.description.name, r.null_ln_lh, a.model,
                         static_cast<int>(a.free_rows.size()),
                         b.description.name, r.alternative_ln_lh, b.model,
                         static_cast<int>(b.free_rows.size()),
                         c.weights_covariance.covariance.empty()
                             ? &b.se
                             : &c.weights_covariance)
              .p_value;
        });
      }
    }
  }
  if (merged != nullptr && !stopped() && merged_tests != merged->tests.size()) {
    throw InputRejected(
        "the series fitted for the merge differs from the slices': they "
        "replicated " +
        std::to_string(merged->tests.size()) + " tests, this fit " +
        std::to_string(merged_tests) +
        "; run the slices and the merge with one build of segmix-fit.");
  }
  if (sliced && !stopped()) {
    report.notes.push_back(
        "slice " + std::to_string(plan.bootstrap_task.index) + " of " +
        std::to_string(plan.bootstrap_task.count) + ": its replicates are in " +
        kPartFileName +
        "; segmix-fit --merge with every slice's folder gives the " +
        (plan.bootstrap > 0 ? "bootstrap p-values" : "rejection rates"));
  }

  if (!plan.profile_rows.empty() && stopped()) {
    report.missing.push_back("--profile: " + after_stop());
  } else if (!plan.profile_rows.empty()) {
    const ModelResult* m =
        plan.profile_model.empty()
            ? (report.best_model >= 0 ? &report.models[report.best_model]
                                      : nullptr)
            : Fitted(report, plan.profile_model);
    if (m == nullptr) {
      report.notes.push_back("no fitted model for --profile: no profiles");
    } else {
      for (int row : plan.profile_rows) {
        if (std::find(m->free_rows.begin(), m->free_rows.end(), row) ==
            m->free_rows.end()) {
          report.notes.push_back("--profile: " + RowName(row) +
                                 " is not free in model " +
                                 m->description.name + "; skipped");
          continue;
        }
        try {
          report.profiles.push_back(
              ProfileParameter(analysis, *m, row, progress));
        } catch (const FitStopped& stop) {
          progress.TakeStop(stop);
          report.missing.push_back("--profile: " + after_stop());
          break;
        }
      }
    }
  }

  if (report.best_model >= 0) {
    const ModelResult& best = report.models[report.best_model];
    report.family_terms = best.polish.outcome.family_terms;
  }
  bool first_pass_stopped = false;
  for (const ModelResult& m : report.models) {
    if (m.Fitted()) continue;
    if (!m.stopped.empty()) {
      report.missing.push_back("model " + m.description.name + ": " +
                               m.stopped);
      first_pass_stopped = true;
      continue;
    }
    std::string reason =
        "model " + m.description.name + ": no start could be fitted";
    for (const StartRecord& start : m.starts) {
      if (start.outcome.refusal.empty()) continue;
      std::string text = start.outcome.refusal;
      while (!text.empty() && text.back() == '\n') text.pop_back();
      reason += " (" + start.origin + " start: " + text + ")";
      break;
    }
    report.missing.push_back(reason);
  }
  if (series_stopped && !first_pass_stopped) {
    report.missing.push_back(
        "the nesting refits: the series was " + progress.StopText() +
        "; each model keeps its last finished fit, whose maximum may lie "
        "below that of a model nested in it");
  }
  if (stopped()) {
    report.posterior_reason = std::string("the ") +
                              (series_stopped ? "series" : "run") +
                              " was stopped: no posteriors";
    report.missing.push_back("posteriors: " + after_stop());
  }
  report.complete = report.missing.empty();
  if (!stopped()) ChoosePosteriorModel(plan, report);
  if (report.posterior_model >= 0) {
    const ModelResult& m = report.models[report.posterior_model];
    Evaluator evaluator(analysis, m.estimates);
    report.posteriors.resize(analysis.families.size());
    for (const FamilyFacts& f : analysis.families) {
      if (f.index == 0 || !f.evaluated) continue;
      report.posteriors[static_cast<std::size_t>(f.index)] =
          evaluator.GenotypePosteriors(m.estimates, f.index);
    }
  }
  for (const std::string& note : report.notes) progress.Note("note: " + note);
  report.seconds = progress.Elapsed();
  return report;
}

}  // namespace segmix::fit
