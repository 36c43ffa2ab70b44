// Report and files. Only the parameters a model uses are shown in the report;
// the CSV has a column pair for all fifteen.
#include "fit/outputs.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "fit/model_series.h"
#include "fit/resume.h"
#include "fit/standard_errors.h"
#include "fit/transform.h"
#include "fit/variance_components.h"

namespace segmix::fit {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

std::string Name(int row) { return RowName(row); }

// Rows a model uses: not a left-out component, no Tr under Mendelian
// transmission, no coefficient without a covariate, lambda when set.
bool Used(const ParameterTable& t, int row, int covariates) {
  if (row == kLambda) return t.in_model[row] != 0;
  if (row >= kTr1 && row <= kTr3) return !MendelianTransmission(t);
  if (row >= kB1) return row - kB1 < covariates && t.in_model[row] != 0;
  if (row == kPga || row == kSex) return t.in_model[row] != 0;
  return true;
}

int IndexIn(const std::vector<int>& rows, int row) {
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (rows[i] == row) return static_cast<int>(i);
  }
  return -1;
}

// What a row is in a fitted model: "out" (not used by the model), "tied"
// (to another row), "fixed", "at bound" (free, but its estimate is held at
// a bound, so it has no SE) or "free".
std::string RowStatus(const ModelResult& m, int row, int covariates) {
  if (!Used(m.estimates, row, covariates)) return "out";
  if (m.estimates.tie[row] != row) return "tied";
  if (IndexIn(m.free_rows, row) < 0) return "fixed";
  if (IndexIn(m.se.at_bound, row) >= 0) return "at bound";
  return "free";
}

// "" when the row has no SE.
std::string SeText(const ModelResult& m, int row) {
  const int i = IndexIn(m.se.rows, row);
  if (i < 0 || m.se.se.empty()) return "";
  return Number17(m.se.se[i]);
}

std::string Csv(const std::string& text) {
  if (text.find_first_of(",\"\n") == std::string::npos) return text;
  std::string q = "\"";
  for (char c : text) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + "\"";
}

std::string Fixed(double v, int decimals) {
  return FixedText(v, decimals, "-");
}

std::string General(double v) {
  char b[64];
  std::snprintf(b, sizeof b, "%.6g", v);
  return b;
}

std::string PValue(double p) { return PValueText(p, "-"); }

std::string Pad(const std::string& s, std::size_t width) {
  return s.size() >= width ? s + " " : s + std::string(width - s.size(), ' ');
}

std::string LeftPad(const std::string& s, std::size_t width) {
  return s.size() >= width ? " " + s : std::string(width - s.size(), ' ') + s;
}

// (family index, position) -> the map file's entry.
std::map<std::pair<int, int>, const cli::MapEntry*> IdsByPlace(
    const std::vector<cli::MapEntry>& ids) {
  std::map<std::pair<int, int>, const cli::MapEntry*> by_place;
  for (const cli::MapEntry& e : ids) {
    by_place[{e.family_index, e.position}] = &e;
  }
  return by_place;
}

}  // namespace

std::string FixedText(double value, int decimals, std::string_view absent) {
  if (!std::isfinite(value)) return std::string(absent);
  char b[64];
  std::snprintf(b, sizeof b, "%.*f", decimals, value);
  return b;
}

std::string PValueText(double p, std::string_view absent) {
  if (!std::isfinite(p)) return std::string(absent);
  char b[64];
  std::snprintf(b, sizeof b, p < 1e-4 ? "%.2e" : "%.4f", p);
  return b;
}

std::string Number17(double value) {
  if (!std::isfinite(value)) return "";
  char b[64];
  std::snprintf(b, sizeof b, "%.17g", value);
  return b;
}

std::string AscertainmentText(const Ascertainment& ascertainment) {
  switch (ascertainment.kind) {
    case Ascertainment::Kind::kProbandValues:
      return "";
    case Ascertainment::Kind::kThreshold:
      return "threshold " + Number17(ascertainment.threshold) +
             " for every family";
    case Ascertainment::Kind::kThresholdFile:
      return "thresholds of " + ascertainment.file.string() + " (" +
             std::to_string(ascertainment.lines.size()) + " families)";
  }
  return "";
}

std::string AscertainmentNote(const FitReport& report) {
  if (!report.ascertainment.ByThreshold()) return "";
  return "This folder's sigma.dat (and the other files segmix-fit wrote "
         "here) was found by segmix-fit --ascertainment under the threshold "
         "correction: each corrected family's probands enter the correction "
         "pass with the probability that their trait exceeds the " +
         AscertainmentText(report.ascertainment) +
         ", in place of their densities.\nsegmix itself does not compute "
         "this likelihood: running segmix in this folder gives the maximum "
         "under the proband-value correction instead, with another ln LH "
         "and other estimates.\n";
}

std::string ReportText(const FitReport& report) {
  const Analysis& a = *report.analysis;
  const int covariates = a.settings.covariate_count;
  std::ostringstream out;
  int evaluated = 0;
  for (const FamilyFacts& f : a.families) evaluated += f.evaluated ? 1 : 0;
  out << report.version << ": " << report.models.size() << " models, "
      << evaluated << " families, " << a.counts.observed
      << " observed members\n";
  out << "ln LH as segmix reports it; AIC and BIC from the ln LH with the "
         "normal densities' constants\n";
  if (report.ascertainment.ByThreshold()) {
    out << "Ascertainment: " << AscertainmentText(report.ascertainment)
        << ": each corrected family's probands enter the correction pass "
           "with P(trait > T), not their densities; ln LH is not comparable "
           "with segmix's own (the proband-value correction)\n";
  }
  if (a.transform.boxcox) out << TransformText(a) << "\n";
  for (std::size_t i = 0; i < report.models.size(); ++i) {
    const ModelResult& m = report.models[i];
    out << "\nModel " << m.description.name
        << (static_cast<int>(i) == report.best_model ? "  (best by AIC)" : "")
        << "\n  " << m.description.definition << "\n";
    if (!m.stopped.empty()) {
      out << "  not fitted: " << m.stopped << "\n";
      continue;
    }
    if (!m.Fitted()) {
      out << "  no start could be fitted\n";
      // The core's reason for the first refused start, as segmix gives it.
      for (const StartRecord& start : m.starts) {
        if (start.outcome.refusal.empty()) continue;
        std::istringstream reason(start.outcome.refusal);
        out << "  " << start.origin << " start refused:\n";
        for (std::string line; std::getline(reason, line);) {
          out << "    " << line << "\n";
        }
        break;
      }
      continue;
    }
    out << "  ln LH " << Fixed(m.ln_lh, 4) << " (with constants "
        << Fixed(m.ln_lh_constants, 4) << "), free parameters "
        << m.free_rows.size() << ", AIC " << Fixed(m.aic, 2) << ", BIC "
        << Fixed(m.bic, 2) << "\n";
    out << "  starts agreeing " << m.agreeing << " of " << m.starts.size()
        << (m.Converged() ? "" : ", search did not converge") << "\n";
    if (m.maxima.size() > 1) {
      out << "  distinct maxima reached (ln LH, starts):";
      for (const Maximum& x : m.maxima) {
        out << " " << Fixed(x.ln_lh, 4) << " (" << x.starts << ")";
      }
      out << "\n";
    }
    for (const std::string& warning : m.warnings) {
      out << "  WARNING: " << warning << "\n";
    }
    out << "  " << Pad("Parameter", 10) << LeftPad("Estimate", 14)
        << LeftPad("SE", 14) << "\n";
    for (int r : ReportedRows(*report.analysis)) {
      if (!Used(m.estimates, r, covariates)) continue;
      std::string se;
      if (IndexIn(m.free_rows, r) >= 0) {
        if (IndexIn(m.se.at_bound, r) >= 0) {
          se = "at bound";
        } else if (IndexIn(m.se.rows, r) >= 0 && !m.se.se.empty()) {
          se = General(m.se.se[IndexIn(m.se.rows, r)]);
        } else {
          se = "-";
        }
      } else if (m.estimates.tie[r] != r) {
        se = "= " + Name(m.estimates.tie[r]);
      } else {
        se = "fixed";
      }
      out << "  " << Pad(Name(r), 10)
          << LeftPad(General(m.estimates.value[r]), 14) << LeftPad(se, 14)
          << "\n";
    }
    if (!m.se.problem.empty()) out << "  note: " << m.se.problem << "\n";
    if (m.se.negative_definite) {
      out << "  SEs agree within " << General(100 * m.se.step_disagreement)
          << "% with the doubled step\n";
    }
    // Within one sex and covariate class; SEs by the delta method.
    out << "  Variance components (delta-method SE):";
    for (const VarianceComponent& v : report.variance_components[i]) {
      out << " " << v.name << " " << General(v.estimate);
      if (std::isfinite(v.se)) out << " (" << General(v.se) << ")";
    }
    out << "\n";
  }
  out << "\nTests\n";
  out << "  " << Pad("Test", 26) << Pad("Null", 17) << Pad("Alternative", 17)
      << LeftPad("-2 ln L", 10) << LeftPad("df", 4) << LeftPad("p", 11)
      << "  Distribution\n";
  for (const Comparison& c : report.tests) {
    out << "  " << Pad(c.label, 26) << Pad(c.null_model, 17)
        << Pad(c.alternative, 17) << LeftPad(Fixed(c.statistic, 2), 10)
        << LeftPad(std::to_string(c.df), 4) << LeftPad(PValue(c.p_value), 11)
        << "  " << c.distribution << (c.note.empty() ? "" : " (" + c.note + ")")
        << "\n";
    if (c.bootstrapped) {
      out << "  " << Pad("", 26) << "bootstrap p "
          << PValue(c.bootstrap.p_value) << " (Monte Carlo SE "
          << General(c.bootstrap.se) << ", " << c.bootstrap.reaching << " of "
          << c.bootstrap.usable << " replicates reach the statistic";
      const int failed =
          static_cast<int>(c.bootstrap.replicates.size()) - c.bootstrap.usable;
      if (failed > 0) out << "; " << failed << " could not be drawn or fitted";
      out << ")\n";
    }
  }
  if (report.tests.empty())
    out << "  none: no pair of fitted models to compare\n";
  const Simulation& study = report.simulation;
  if (!study.tests.empty()) {
    out << "\nRejection rates (rejections.csv): " << study.replicates
        << " data sets drawn from " << study.model << "'s estimates, seed "
        << study.seed << "\n";
    out << "  " << Pad("Test", 26) << LeftPad("data sets", 10)
        << LeftPad("at 5%", 16) << LeftPad("at 1%", 16) << "\n";
    for (const SimulatedTest& t : study.tests) {
      const auto rate = [&](int k) {
        const double n = t.usable, r = n > 0 ? k / n : 0;
        return Fixed(r, 3) + " (" +
               Fixed(std::sqrt(r * (1 - r) / std::max(n, 1.0)), 3) + ")";
      };
      out << "  " << Pad(report.tests[t.test].label, 26)
          << LeftPad(std::to_string(t.usable), 10)
          << LeftPad(rate(t.rejected_5), 16) << LeftPad(rate(t.rejected_1), 16)
          << "\n";
    }
  }
  for (const Profile& p : report.profiles) {
    out << "\nProfile " << p.parameter << " (" << p.model << "): estimate "
        << General(p.estimate) << ", 95% interval " << General(p.lower)
        << (p.lower_at_bound ? " (reaches the bound)" : "") << " .. "
        << General(p.upper) << (p.upper_at_bound ? " (reaches the bound)" : "")
        << ", " << p.points.size() << " points\n";
  }
  if (!report.missing.empty()) out << "\nINCOMPLETE: what is missing\n";
  for (const std::string& m : report.missing) out << "  " << m << "\n";
  if (!report.notes.empty()) out << "\nNotes\n";
  for (const std::string& note : report.notes) out << "  " << note << "\n";
  out << "\nPosteriors (persons.csv): "
      << (report.posterior_model >= 0
              ? report.models[report.posterior_model].description.name + ", " +
                    report.posterior_reason
              : report.posterior_reason)
      << "\n";
  return out.str();
}

std::string ModelsCsv(const FitReport& report) {
  std::ostringstream out;
  out << "model,ln_lh,ln_lh_with_constants,free_parameters,aic,bic,converged,"
         "starts,starts_agreeing";
  const std::vector<int> reported = ReportedRows(*report.analysis);
  for (int r : reported) {
    out << ',' << Name(r) << ',' << Name(r) << "_se," << Name(r) << "_status";
  }
  for (std::string_view name : kVarianceComponentNames) {
    out << ',' << name << ',' << name << "_se";
  }
  out << '\n';
  const int covariates = report.analysis->settings.covariate_count;
  for (std::size_t i = 0; i < report.models.size(); ++i) {
    const ModelResult& m = report.models[i];
    out << Csv(m.description.name);
    if (!m.Fitted()) {
      out << ",,,,"
          << ",,false," << m.starts.size() << ",0";
      for (std::size_t r = 0; r < reported.size(); ++r) out << ",,,";
      for (std::size_t v = 0; v < kVarianceComponentNames.size(); ++v) {
        out << ",,";
      }
      out << '\n';
      continue;
    }
    out << ',' << Number17(m.ln_lh) << ',' << Number17(m.ln_lh_constants) << ','
        << m.free_rows.size() << ',' << Number17(m.aic) << ','
        << Number17(m.bic) << ',' << (m.Converged() ? "true" : "false") << ','
        << m.starts.size() << ',' << m.agreeing;
    for (int r : reported) {
      out << ','
          << (Used(m.estimates, r, covariates) ? Number17(m.estimates.value[r])
                                               : "")
          << ',' << SeText(m, r) << ',' << RowStatus(m, r, covariates);
    }
    for (const VarianceComponent& v : report.variance_components[i]) {
      out << ',' << Number17(v.estimate) << ',' << Number17(v.se);
    }
    out << '\n';
  }
  return out.str();
}

std::string RejectionsCsv(const FitReport& report) {
  std::ostringstream out;
  out << "test,null,alternative,distribution,model,seed,data_sets,usable,"
         "rejected_5,rate_5,se_5,rejected_1,rate_1,se_1\n";
  const Simulation& study = report.simulation;
  for (const SimulatedTest& t : study.tests) {
    const Comparison& c = report.tests[t.test];
    out << Csv(c.label) << ',' << Csv(c.null_model) << ',' << Csv(c.alternative)
        << ',' << Csv(c.distribution) << ',' << Csv(study.model) << ','
        << study.seed << ',' << study.replicates << ',' << t.usable;
    for (const int k : {t.rejected_5, t.rejected_1}) {
      const double n = t.usable, r = n > 0 ? k / n : 0;
      out << ',' << k << ',' << Number17(r) << ','
          << Number17(std::sqrt(r * (1 - r) / std::max(n, 1.0)));
    }
    out << '\n';
  }
  return out.str();
}

std::string TestsCsv(const FitReport& report) {
  std::ostringstream out;
  // The bootstrap's columns only when one was asked for: the default file
  // is as before.
  const bool bootstrap = report.bootstrap_replicates > 0;
  out << "test,null,alternative,minus_2_ln_lambda,df,p_value,distribution,"
         "note"
      << (bootstrap ? ",bootstrap_p,bootstrap_n,bootstrap_se" : "") << "\n";
  for (const Comparison& c : report.tests) {
    out << Csv(c.label) << ',' << Csv(c.null_model) << ',' << Csv(c.alternative)
        << ',' << Number17(c.statistic) << ',' << c.df << ','
        << Number17(c.p_value) << ',' << Csv(c.distribution) << ','
        << Csv(c.note);
    if (bootstrap && c.bootstrapped) {
      out << ',' << Number17(c.bootstrap.p_value) << ',' << c.bootstrap.usable
          << ',' << Number17(c.bootstrap.se);
    } else if (bootstrap) {
      out << ",,,";
    }
    out << '\n';
  }
  return out.str();
}

std::string FitJson(const FitReport& report) {
  const Analysis& a = *report.analysis;
  Json j;
  j["program"] = "segmix-fit";
  j["version"] = report.version;
  j["directory"] = a.directory.string();
  Json inputs = Json::array();
  for (const std::string& name : a.input_files) {
    std::error_code error;
    const auto size = fs::file_size(a.directory / name, error);
    inputs.push_back({{"name", name}, {"bytes", error ? Json() : Json(size)}});
  }
  j["inputs"] = inputs;
  j["input_warnings"] = report.input_warnings;
  // Only under a transform: the default's fit.json is unchanged.
  if (a.transform.boxcox) {
    j["transform"] = {{"kind", "boxcox"},
                      {"shift", a.transform.shift},
                      {"log_sum", static_cast<double>(a.transform.log_sum)},
                      {"counted_members", a.transform.counted},
                      {"text", TransformText(a)}};
  }
  // Only under a threshold correction: the default's fit.json is unchanged.
  if (report.ascertainment.ByThreshold()) {
    Json asc;
    if (report.ascertainment.kind == Ascertainment::Kind::kThreshold) {
      asc["kind"] = "threshold";
      asc["threshold"] = report.ascertainment.threshold;
    } else {
      asc["kind"] = "threshold-file";
      asc["file"] = report.ascertainment.file.string();
      asc["families"] = report.ascertainment.lines.size();
    }
    asc["text"] = AscertainmentText(report.ascertainment);
    j["ascertainment"] = asc;
  }
  j["observed_members"] = a.counts.observed;
  j["density_constant"] = a.families.empty() ? 0.0 : DensityConstant(a);
  j["seconds"] = report.seconds;
  j["best_model"] =
      report.best_model >= 0
          ? Json(report.models[report.best_model].description.name)
          : Json();
  j["posterior_model"] =
      report.posterior_model >= 0
          ? Json(report.models[report.posterior_model].description.name)
          : Json();
  j["posterior_reason"] = report.posterior_reason;
  j["notes"] = report.notes;
  j["complete"] = report.complete;
  j["missing"] = report.missing;
  j["series"] = SeriesIdentityJson(report.series);
  const std::vector<int> reported = ReportedRows(a);
  auto table_json = [&](const ParameterTable& t) {
    Json p = Json::object();
    for (int r : reported) p[Name(r)] = t.value[r];
    return p;
  };
  Json models = Json::array();
  for (std::size_t i = 0; i < report.models.size(); ++i) {
    const ModelResult& m = report.models[i];
    Json mj;
    mj["name"] = m.description.name;
    mj["definition"] = m.description.definition;
    mj["built_in"] = m.description.built_in;
    Json free = Json::array();
    for (int r : m.free_rows) free.push_back(Name(r));
    mj["free_parameters"] = free;
    Json starts = Json::array();
    for (std::size_t s = 0; s < m.starts.size(); ++s) {
      const StartRecord& st = m.starts[s];
      starts.push_back({{"origin", st.origin},
                        {"start", table_json(st.start)},
                        {"initial_ln_lh", st.outcome.initial_ln_lh},
                        {"refused", st.outcome.start_rejected},
                        {"refusal", st.outcome.refusal},
                        {"ln_lh", st.outcome.result.final_ln_lh},
                        {"iterations", st.outcome.result.iteration_count},
                        {"evaluations", st.outcome.result.function_count},
                        {"converged", st.outcome.converged},
                        {"end", table_json(st.outcome.table)},
                        {"best", static_cast<int>(s) == m.best},
                        {"climb", ClimbJson(st)}});
    }
    mj["starts"] = starts;
    mj["warnings"] = m.warnings;
    mj["fitted"] = m.Fitted();
    if (m.Fitted()) {
      mj["ln_lh"] = m.ln_lh;
      mj["ln_lh_with_constants"] = m.ln_lh_constants;
      mj["aic"] = m.aic;
      mj["bic"] = m.bic;
      mj["converged"] = m.Converged();
      mj["starts_agreeing"] = m.agreeing;
      Json maxima = Json::array();
      for (const Maximum& x : m.maxima) {
        maxima.push_back({{"ln_lh", x.ln_lh}, {"starts", x.starts}});
      }
      mj["maxima"] = maxima;
      mj["estimates"] = table_json(m.estimates);
      Json se = Json::object(), at_bound = Json::array(), rows = Json::array();
      for (std::size_t i = 0; i < m.se.rows.size() && !m.se.se.empty(); ++i) {
        se[Name(m.se.rows[i])] = m.se.se[i];
      }
      for (int r : m.se.rows) rows.push_back(Name(r));
      for (int r : m.se.at_bound) at_bound.push_back(Name(r));
      mj["standard_errors"] = se;
      mj["at_bound"] = at_bound;
      // Every row's status as models.csv gives it, and each tie's target.
      Json status = Json::object(), tied_to = Json::object();
      const int covariates = report.analysis->settings.covariate_count;
      for (int r : reported) {
        status[Name(r)] = RowStatus(m, r, covariates);
        if (status[Name(r)] == "tied") {
          tied_to[Name(r)] = Name(m.estimates.tie[r]);
        }
      }
      mj["parameter_status"] = status;
      mj["tied_to"] = tied_to;
      mj["covariance_parameters"] = rows;
      mj["covariance"] = m.se.covariance;
      mj["correlation"] = m.se.correlation;
      mj["hessian_negative_definite"] = m.se.negative_definite;
      mj["se_step_disagreement"] = m.se.step_disagreement;
      mj["se_problem"] = m.se.problem;
      Json components = Json::object();
      for (const VarianceComponent& v : report.variance_components[i]) {
        components[v.name] = {
            {"estimate", v.estimate},
            {"se", std::isfinite(v.se) ? Json(v.se) : Json(nullptr)}};
      }
      mj["variance_components"] = components;
    }
    models.push_back(mj);
  }
  j["models"] = models;
  Json tests = Json::array();
  for (const Comparison& c : report.tests) {
    tests.push_back({{"test", c.label},
                     {"null", c.null_model},
                     {"alternative", c.alternative},
                     {"minus_2_ln_lambda", c.statistic},
                     {"df", c.df},
                     {"p_value", c.p_value},
                     {"distribution", c.distribution},
                     {"note", c.note}});
    Json replicates = Json::array();
    for (const BootstrapReplicate& r : c.bootstrap.replicates) {
      replicates.push_back(
          {{"replicate", r.index},
           {"drawn", r.drawn},
           {"null_ln_lh", r.null_ln_lh},
           {"alternative_ln_lh", r.alternative_ln_lh},
           {"statistic", r.Usable() ? Json(r.statistic) : Json(nullptr)}});
    }
    // A bootstrap a stop ended: what it finished, for a --resume; no p-value.
    if (c.bootstrap.stopped && !c.bootstrap.replicates.empty()) {
      tests.back()["bootstrap_finished"] = {{"seed", c.bootstrap.seed},
                                            {"replicates", replicates}};
    }
    if (!c.bootstrapped) continue;
    tests.back()["bootstrap"] = {
        {"seed", c.bootstrap.seed},
        {"replicates_asked", report.bootstrap_replicates},
        {"n", c.bootstrap.usable},
        {"reaching", c.bootstrap.reaching},
        {"p_value", c.bootstrap.p_value},
        {"se", c.bootstrap.se},
        {"replicates", replicates}};
  }
  j["tests"] = tests;
  // Only under --simulate-from: the default's fit.json is unchanged.
  if (!report.simulation.tests.empty()) {
    const Simulation& study = report.simulation;
    Json sim_tests = Json::array();
    for (const SimulatedTest& t : study.tests) {
      Json replicates = Json::array();
      for (std::size_t i = 0; i < t.replicates.size(); ++i) {
        const BootstrapReplicate& r = t.replicates[i];
        replicates.push_back(
            {{"replicate", r.index},
             {"drawn", r.drawn},
             {"null_ln_lh", r.null_ln_lh},
             {"alternative_ln_lh", r.alternative_ln_lh},
             {"statistic", r.Usable() ? Json(r.statistic) : Json(nullptr)},
             {"p_value", r.Usable() ? Json(t.p_values[i]) : Json(nullptr)}});
      }
      sim_tests.push_back({{"test", report.tests[t.test].label},
                           {"usable", t.usable},
                           {"rejected_5", t.rejected_5},
                           {"rejected_1", t.rejected_1},
                           {"replicates", replicates}});
    }
    j["simulation"] = {{"model", study.model},
                       {"seed", study.seed},
                       {"data_sets", study.replicates},
                       {"tests", sim_tests}};
  }
  Json profiles = Json::array();
  for (const Profile& p : report.profiles) {
    Json points = Json::array();
    for (const auto& [x, l] : p.points) points.push_back({x, l});
    profiles.push_back({{"model", p.model},
                        {"parameter", p.parameter},
                        {"estimate", p.estimate},
                        {"lower", p.lower},
                        {"upper", p.upper},
                        {"lower_reaches_bound", p.lower_at_bound},
                        {"upper_reaches_bound", p.upper_at_bound},
                        {"points", points}});
  }
  j["profiles"] = profiles;
  return j.dump(1) + "\n";
}

std::string FamiliesCsv(const FitReport& report) {
  const auto ids = IdsByPlace(report.ids);
  std::ostringstream out;
  out << "family_index,family,members,observed,probands,corrected,weight,ln_"
         "lh,ln_lh_weighted\n";
  for (const FamilyFacts& f : report.analysis->families) {
    if (f.index == 0) continue;
    const auto id = ids.find({f.index, 1});
    out << f.index << ',' << (id != ids.end() ? Csv(id->second->family) : "")
        << ',' << f.members << ',' << f.observed << ',' << f.probands << ','
        << (f.corrected ? "true" : "false") << ',' << Number17(f.weight);
    const auto g = static_cast<std::size_t>(f.index);
    if (f.evaluated && g < report.family_terms.size() &&
        std::isfinite(report.family_terms[g])) {
      out << ',' << Number17(report.family_terms[g] / f.weight) << ','
          << Number17(report.family_terms[g]);
    } else {
      out << ",,";
    }
    out << '\n';
  }
  return out.str();
}

std::string PersonsCsv(const FitReport& report) {
  const auto ids = IdsByPlace(report.ids);
  std::ostringstream out;
  out << "family_index,position,family,id,p_genotype1,p_genotype2,p_"
         "genotype3\n";
  for (const FamilyFacts& f : report.analysis->families) {
    if (f.index == 0) continue;
    const auto g = static_cast<std::size_t>(f.index);
    const FamilyPosteriors* p =
        g < report.posteriors.size() && !report.posteriors[g].empty()
            ? &report.posteriors[g]
            : nullptr;
    for (int k = 1; k <= f.members; ++k) {
      const auto it = ids.find({f.index, k});
      out << f.index << ',' << k << ','
          << (it != ids.end() ? Csv(it->second->family) : "") << ','
          << (it != ids.end() ? Csv(it->second->id) : "");
      for (int G = 0; G < 3; ++G) {
        out << ',' << (p == nullptr ? "" : Number17((*p)[k][G]));
      }
      out << '\n';
    }
  }
  return out.str();
}

}  // namespace segmix::fit
