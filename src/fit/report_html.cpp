// The page: a head with the inlined Vega and a content-security policy that
// allows inline scripts and nothing from anywhere else; the warnings; the
// figures' places and the HTML tables; the data (fit.json's document and the
// figures' own values) as one JSON script element; the page script that
// builds each figure's Vega definition from that data.
#include "fit/report_html.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <numbers>
#include <sstream>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/map_file.h"
#include "fit/outputs.h"
#include "fit/transform.h"
#include "fit/vega_bundle.h"

namespace segmix::fit {
namespace {

using Json = nlohmann::ordered_json;

// Families named in the family figure.
constexpr std::size_t kNamedFamilies = 10;
// Points of each density curve.
constexpr int kCurvePoints = 201;

std::string Escape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Fixed(double v, int decimals) { return FixedText(v, decimals, ""); }

std::string PValue(double p) { return PValueText(p, ""); }

// A JSON number, or NaN for null (fit.json writes a value that is not finite
// as null).
double Number(const Json& j) { return j.is_number() ? j.get<double>() : NAN; }

// family index -> family id, from idmap.dat (member position 1's entry).
std::map<int, std::string> FamilyIds(const std::vector<cli::MapEntry>& ids) {
  std::map<int, std::string> families;
  for (const cli::MapEntry& e : ids) {
    if (e.position == 1) families[e.family_index] = e.family;
  }
  return families;
}

// The trait values the figure shows: those the likelihood fits beyond the
// ascertainment, that is the observed non-probands (status 2) of corrected
// families and every observed member of the other evaluated families.
struct TraitSample {
  std::vector<double> values;
  double sex2_fraction = 0;                   // members of sex code 2
  std::array<double, 6> covariate_mean = {};  // [1..5]
};

TraitSample ObservedTrait(const Analysis& analysis) {
  const FamilyStore& store = analysis.core.store;
  const int covariates = std::min(analysis.settings.covariate_count, 5);
  TraitSample sample;
  long double sex2 = 0;
  std::array<long double, 6> sums = {};
  for (const FamilyFacts& f : analysis.families) {
    if (!f.evaluated) continue;
    const std::int32_t base = store.MemberOffset(f.index);
    for (std::int32_t k = 1; k <= f.members; ++k) {
      const std::int32_t i = base + k;
      if (store.trait[i] <= kMissingTrait) continue;
      if (f.corrected && store.status[i] != 2) continue;
      sample.values.push_back(store.trait[i]);
      if (store.sex[i] == 2) ++sex2;
      for (int c = 1; c <= covariates; ++c) sums[c] += store.covariate[c][i];
    }
  }
  const auto n = static_cast<long double>(sample.values.size());
  if (n > 0) {
    sample.sex2_fraction = static_cast<double>(sex2 / n);
    for (int c = 1; c <= covariates; ++c) {
      sample.covariate_mean[c] = static_cast<double>(sums[c] / n);
    }
  }
  return sample;
}

// The histogram as a density and the model's marginal density of one
// person's trait: genotype g (Hardy-Weinberg frequency from Q) times the
// polygenic classes j = 0..6 increasing alleles (binomial(6, 1/2)
// frequencies, mean shift (j - 3) pga) times the two sex classes (their
// observed shares, Sex added for code 2), each a normal density of variance
// SIG around its mean plus the covariates' effect at their observed means.
Json TraitFigure(const FitReport& report, const Json& fit) {
  const Analysis& a = *report.analysis;
  TraitSample sample = ObservedTrait(a);
  Json figure;
  // Under a transform the model is of z: the histogram shows z at the best
  // model's lambda, on the scale of its curves.
  if (a.transform.boxcox && report.best_model >= 0) {
    const double lambda =
        Number(fit["models"][report.best_model]["estimates"]["lambda"]);
    for (double& y : sample.values) {
      y = static_cast<double>(BoxCox(y + a.transform.shift, lambda));
    }
    figure["lambda"] = lambda;
  }
  figure["persons"] = sample.values.size();
  if (sample.values.empty()) return figure;
  const auto [lo_it, hi_it] =
      std::minmax_element(sample.values.begin(), sample.values.end());
  double lo = *lo_it, hi = *hi_it;
  if (hi <= lo) {
    lo -= 0.5;
    hi += 0.5;
  }
  const double n = static_cast<double>(sample.values.size());
  const int bins = std::clamp(static_cast<int>(std::ceil(2 * std::cbrt(n))), 5,
                              60);  // Rice's rule
  const double width = (hi - lo) / bins;
  std::vector<int> counts(bins, 0);
  for (double y : sample.values) {
    counts[std::min(bins - 1, static_cast<int>((y - lo) / width))]++;
  }
  Json bin_rows = Json::array();
  for (int b = 0; b < bins; ++b) {
    bin_rows.push_back({{"x0", lo + b * width},
                        {"x1", lo + (b + 1) * width},
                        {"count", counts[b]},
                        {"density", counts[b] / (n * width)}});
  }
  const double pad = 0.05 * (hi - lo);
  figure["lo"] = lo - pad;
  figure["hi"] = hi + pad;
  figure["bins"] = bin_rows;
  figure["sex2_fraction"] = sample.sex2_fraction;
  Json means = Json::array();
  for (int c = 1; c <= std::min(a.settings.covariate_count, 5); ++c) {
    means.push_back(sample.covariate_mean[c]);
  }
  figure["covariate_means"] = means;
  if (report.best_model < 0) return figure;

  const Json& e = fit["models"][report.best_model]["estimates"];
  const double q = Number(e["Q"]), sig = Number(e["SIG"]);
  if (!(sig > 0)) return figure;
  const double p3 = (1 - q) * (1 - q), p2 = 2 * q * (1 - q);
  const std::array<double, 3> frequency = {1 - p2 - p3, p2, p3};
  const std::array<double, 3> mean = {Number(e["MU"]), Number(e["A"]),
                                      Number(e["D"])};
  double shift = 0;
  for (int c = 1; c <= std::min(a.settings.covariate_count, 5); ++c) {
    shift += Number(e["B" + std::to_string(c)]) * sample.covariate_mean[c];
  }
  const double pga = Number(e["pga"]), sex = Number(e["Sex"]);
  const std::array<double, 2> sex_share = {1 - sample.sex2_fraction,
                                           sample.sex2_fraction};
  constexpr std::array<double, 7> kPolygenic = {1, 6, 15, 20, 15, 6, 1};
  auto component = [&](int g, double y) {
    double sum = 0;
    for (int s = 0; s < 2; ++s) {
      for (int j = 0; j < 7; ++j) {
        const double m = mean[g] + shift + s * sex + (j - 3) * pga;
        sum += sex_share[s] * kPolygenic[j] / 64 *
               std::exp(-(y - m) * (y - m) / (2 * sig));
      }
    }
    return frequency[g] * sum / std::sqrt(2 * std::numbers::pi * sig);
  };
  // The components are drawn when the genotypes differ in their means.
  const bool major = mean[0] != mean[1] || mean[1] != mean[2];
  Json names = {"fitted density"};
  for (int g = 0; g < 3 && major; ++g) {
    names.push_back("genotype " + std::to_string(g + 1));
  }
  Json curves = Json::array();
  const double x0 = lo - pad, step = (hi - lo + 2 * pad) / (kCurvePoints - 1);
  for (int i = 0; i < kCurvePoints; ++i) {
    const double y = x0 + i * step;
    std::array<double, 3> c = {component(0, y), component(1, y),
                               component(2, y)};
    curves.push_back(
        {{"x", y}, {"y", c[0] + c[1] + c[2]}, {"curve", names[0]}});
    for (int g = 0; g < 3 && major; ++g) {
      curves.push_back({{"x", y}, {"y", c[g]}, {"curve", names[g + 1]}});
    }
  }
  figure["model"] = report.models[report.best_model].description.name;
  figure["curve_names"] = names;
  figure["curves"] = curves;
  figure["genotype_frequencies"] = frequency;
  return figure;
}

// Each evaluated family's ln LH under the best model (the weighted term of
// LH_fam.dat divided by the weight) against its size. The most extreme are
// those whose ln LH per observed member (the weighted term) lies farthest
// from the median of all families'.
Json FamilyFigure(const FitReport& report) {
  Json rows = Json::array();
  const std::vector<double>& terms = report.family_terms;
  const std::map<int, std::string> ids = FamilyIds(report.ids);
  struct Row {
    const FamilyFacts* facts;
    double term;
  };
  std::vector<Row> families;
  for (const FamilyFacts& f : report.analysis->families) {
    if (!f.evaluated || f.weight == 0) continue;
    const auto g = static_cast<std::size_t>(f.index);
    if (g >= terms.size() || !std::isfinite(terms[g])) continue;
    families.push_back({&f, terms[g]});
  }
  if (families.empty()) return rows;
  std::vector<double> sorted;
  for (const Row& r : families) sorted.push_back(r.term);
  std::sort(sorted.begin(), sorted.end());
  const std::size_t h = sorted.size() / 2;
  const double median =
      sorted.size() % 2 != 0 ? sorted[h] : (sorted[h - 1] + sorted[h]) / 2;
  std::vector<std::size_t> order(families.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](auto x, auto y) {
    return std::abs(families[x].term - median) >
           std::abs(families[y].term - median);
  });
  std::vector<bool> named(families.size(), false);
  for (std::size_t i = 0; i < std::min(kNamedFamilies, order.size()); ++i) {
    named[order[i]] = true;
  }
  for (std::size_t i = 0; i < families.size(); ++i) {
    const FamilyFacts& f = *families[i].facts;
    const auto id = ids.find(f.index);
    rows.push_back(
        {{"index", f.index},
         {"family", id != ids.end() ? id->second : std::to_string(f.index)},
         {"members", f.members},
         {"observed", f.observed},
         {"ln_lh", families[i].term / f.weight},
         {"ln_lh_weighted", families[i].term},
         {"named", static_cast<bool>(named[i])}});
  }
  return rows;
}

// P(genotype 1) per person of the evaluated families, in persons.csv's
// order (family index, then member position).
Json PosteriorFigure(const FitReport& report) {
  Json p1 = Json::array();
  for (std::size_t g = 1; g < report.posteriors.size(); ++g) {
    const FamilyPosteriors& family = report.posteriors[g];
    for (std::size_t k = 1; k < family.size(); ++k) p1.push_back(family[k][0]);
  }
  return p1;
}

// What the run itself found worth a warning, model by model.
std::vector<std::string> RunWarnings(const Json& fit) {
  std::vector<std::string> warnings;
  for (const Json& note : fit["notes"]) warnings.push_back(note);
  for (const Json& m : fit["models"]) {
    const std::string name = "model " + m["name"].get<std::string>() + ": ";
    if (!m["fitted"].get<bool>()) {
      warnings.push_back(name + "no start could be fitted");
      continue;
    }
    if (!m["converged"].get<bool>()) {
      warnings.push_back(name + "the search did not converge");
    }
    for (const Json& w : m["warnings"]) {
      warnings.push_back(name + w.get<std::string>());
    }
    if (!m["se_problem"].get<std::string>().empty()) {
      warnings.push_back(
          name + "standard errors: " + m["se_problem"].get<std::string>());
    }
  }
  return warnings;
}

std::string WarningList(const std::vector<std::string>& warnings,
                        const char* none) {
  if (warnings.empty())
    return std::string("<p class=\"none\">") + none + "</p>\n";
  std::string out = "<ul>\n";
  for (const std::string& w : warnings) out += "<li>" + Escape(w) + "</li>\n";
  return out + "</ul>\n";
}

std::string ModelTable(const Json& fit, int best) {
  double best_aic = NAN;
  if (best >= 0) best_aic = Number(fit["models"][best]["aic"]);
  std::ostringstream out;
  out << "<table id=\"model-table\">\n<tr><th>Model</th><th>ln LH</th>"
         "<th>ln LH with constants</th><th>Free parameters</th><th>AIC</th>"
         "<th>&Delta;AIC</th><th>BIC</th><th>Starts agreeing</th></tr>\n";
  int i = 0;
  for (const Json& m : fit["models"]) {
    const bool is_best = i++ == best;
    out << "<tr" << (is_best ? " class=\"best\"" : "") << "><td>"
        << Escape(m["name"].get<std::string>())
        << (is_best ? " (best by AIC)" : "") << "</td>";
    if (!m["fitted"].get<bool>()) {
      out << "<td colspan=\"7\">no start could be fitted</td></tr>\n";
      continue;
    }
    out << "<td>" << Fixed(Number(m["ln_lh"]), 4) << "</td><td>"
        << Fixed(Number(m["ln_lh_with_constants"]), 4) << "</td><td>"
        << m["free_parameters"].size() << "</td><td>"
        << Fixed(Number(m["aic"]), 2) << "</td><td>"
        << Fixed(Number(m["aic"]) - best_aic, 2) << "</td><td>"
        << Fixed(Number(m["bic"]), 2) << "</td><td>"
        << m["starts_agreeing"].get<int>() << " of " << m["starts"].size()
        << "</td></tr>\n";
  }
  return out.str() + "</table>\n";
}

std::string EstimateTable(const Json& model) {
  std::ostringstream out;
  out << "<table id=\"estimate-table\">\n<tr><th>Parameter</th>"
         "<th>Estimate</th><th>SE</th><th>Status</th></tr>\n";
  for (const auto& [name, value] : model["estimates"].items()) {
    const std::string status = model["parameter_status"][name];
    if (status == "out") continue;
    const Json& se = model["standard_errors"];
    char estimate[64];
    std::snprintf(estimate, sizeof estimate, "%.6g", Number(value));
    std::string se_text;
    if (se.contains(name)) {
      char b[64];
      std::snprintf(b, sizeof b, "%.6g", Number(se[name]));
      se_text = b;
    }
    if (status == "tied") {
      se_text = "= " + model["tied_to"][name].get<std::string>();
    }
    out << "<tr><td>" << Escape(name) << "</td><td>" << estimate << "</td><td>"
        << Escape(se_text) << "</td><td>" << Escape(status) << "</td></tr>\n";
  }
  return out.str() + "</table>\n";
}

std::string TestTable(const Json& fit) {
  if (fit["tests"].empty()) {
    return "<p class=\"none\">No pair of fitted models to compare.</p>\n";
  }
  std::ostringstream out;
  out << "<table id=\"test-table\">\n<tr><th>Test</th><th>Null</th>"
         "<th>Alternative</th><th>&minus;2 ln &lambda;</th><th>df</th>"
         "<th>p</th><th>Distribution</th><th>Note</th></tr>\n";
  for (const Json& t : fit["tests"]) {
    out << "<tr><td>" << Escape(t["test"].get<std::string>()) << "</td><td>"
        << Escape(t["null"].get<std::string>()) << "</td><td>"
        << Escape(t["alternative"].get<std::string>()) << "</td><td>"
        << Fixed(Number(t["minus_2_ln_lambda"]), 2) << "</td><td>"
        << t["df"].get<int>() << "</td><td>" << PValue(Number(t["p_value"]));
    // Under --bootstrap, the bootstrap p beside the asymptotic one.
    if (t.contains("bootstrap")) {
      const Json& b = t["bootstrap"];
      out << "<br>bootstrap " << PValue(Number(b["p_value"])) << " (SE "
          << Fixed(Number(b["se"]), 4) << ", " << b["n"].get<int>()
          << " replicates)";
    }
    out << "</td><td>" << Escape(t["distribution"].get<std::string>())
        << "</td><td>" << Escape(t["note"].get<std::string>())
        << "</td></tr>\n";
  }
  return out.str() + "</table>\n";
}

// JSON inside a script element: a "<" could end it ("</script") or open a
// comment, so every one is written as the escape \u003c, which only a
// string can hold and which reads back as the same text.
std::string ScriptJson(const std::string& json) {
  std::string out;
  out.reserve(json.size());
  for (char c : json) {
    if (c == '<') {
      out += "\\u003c";
    } else {
      out += c;
    }
  }
  return out;
}

constexpr std::string_view kStyle = R"css(
body { font-family: sans-serif; margin: 1.5em auto; max-width: 72em; color: #222; }
h1 { font-size: 1.5em; } h2 { font-size: 1.2em; margin-top: 2em; border-bottom: 1px solid #ccc; }
table { border-collapse: collapse; margin: 0.8em 0; font-size: 0.9em; }
th, td { border: 1px solid #ccc; padding: 0.2em 0.6em; text-align: right; }
th:first-child, td:first-child { text-align: left; }
tr.best { font-weight: bold; background: #eef5ff; }
.warnings { background: #fff6e0; border: 1px solid #e0c070; padding: 0.3em 1em; }
.none { color: #666; }
.figure { margin: 0.8em 0; }
.save button { margin-right: 0.5em; font-size: 0.8em; }
.note { color: #444; font-size: 0.9em; max-width: 60em; }
)css";

// Builds each figure from the data element; marks each rendered figure with
// data-rendered="true" and the body with data-figures="rendered" once all
// are, or "failed" (and a console error) when one is not.
constexpr std::string_view kPageScript = R"js(
(function () {
  'use strict';
  var data = JSON.parse(document.getElementById('segmix-data').textContent);
  var fit = data.fit, figures = data.figures;
  var views = [], pending = [];
  window.segmixViews = views;
  var width = 640;
  function fail(name, error) {
    document.body.setAttribute('data-figures', 'failed');
    console.error('report figure ' + name + ': ' + ((error && error.stack) || error));
  }
  function saveButtons(bar, view, name) {
    ['svg', 'png'].forEach(function (type) {
      var b = document.createElement('button');
      b.type = 'button';
      b.textContent = 'Save ' + type.toUpperCase();
      b.addEventListener('click', function () {
        view.toImageURL(type, type === 'png' ? 2 : 1).then(function (url) {
          var a = document.createElement('a');
          a.href = url;
          a.download = name + '.' + type;
          document.body.appendChild(a);
          a.click();
          a.remove();
        }).catch(function (e) { fail(name, e); });
      });
      bar.appendChild(b);
    });
  }
  function figure(place, name, definition) {
    var holder = document.getElementById(place);
    var el = document.createElement('div');
    el.className = 'figure';
    el.setAttribute('data-figure', name);
    var chart = document.createElement('div');
    var bar = document.createElement('div');
    bar.className = 'save';
    el.appendChild(chart);
    el.appendChild(bar);
    holder.appendChild(el);
    try {
      var view = new vega.View(vega.parse(definition), {renderer: 'svg', container: chart, hover: true});
      views.push(view);
      pending.push(view.runAsync().then(function () {
        el.setAttribute('data-rendered', 'true');
        saveButtons(bar, view, name);
      }, function (e) { fail(name, e); }));
    } catch (e) {
      fail(name, e);
    }
  }
  function axis(orient, scale, title) {
    return {orient: orient, scale: scale, title: title, grid: orient === 'left'};
  }
  var colors = ['#000000', '#d62728', '#2ca02c', '#1f77b4'];
  // fit.json writes a value that is not finite as null.
  function digits(x) { return x === null ? 'none' : x.toPrecision(4); }

  var t = figures.trait;
  if (t.bins) {
    var curveData = t.curves || [];
    figure('trait-figure', 'trait', {
      width: width, height: 300, padding: 5,
      title: t.model ? 'Observed trait and the fitted density of model ' + t.model : 'Observed trait',
      data: [{name: 'bins', values: t.bins}, {name: 'curves', values: curveData}],
      scales: [
        {name: 'x', type: 'linear', domain: [t.lo, t.hi], range: 'width', zero: false, nice: false},
        {name: 'y', type: 'linear', range: 'height', nice: true, zero: true,
         domain: {fields: [{data: 'bins', field: 'density'}, {data: 'curves', field: 'y'}]}},
        {name: 'color', type: 'ordinal', domain: t.curve_names || ['fitted density'], range: colors}
      ],
      axes: [axis('bottom', 'x', 'trait value'), axis('left', 'y', 'density')],
      legends: t.curves ? [{stroke: 'color', orient: 'top-right', symbolType: 'stroke'}] : [],
      marks: [
        {type: 'rect', from: {data: 'bins'}, encode: {enter: {
          x: {scale: 'x', field: 'x0'}, x2: {scale: 'x', field: 'x1'},
          y: {scale: 'y', field: 'density'}, y2: {scale: 'y', value: 0},
          fill: {value: '#cccccc'}, stroke: {value: '#ffffff'},
          tooltip: {signal: "format(datum.x0, '.4g') + ' to ' + format(datum.x1, '.4g') + ': ' + datum.count"}}}},
        {type: 'group', from: {facet: {name: 'series', data: 'curves', groupby: 'curve'}},
         marks: [{type: 'line', from: {data: 'series'}, encode: {enter: {
           x: {scale: 'x', field: 'x'}, y: {scale: 'y', field: 'y'},
           stroke: {scale: 'color', field: 'curve'}, strokeWidth: {value: 2}}}}]}
      ]
    });
  }

  var lnLhOf = {};
  fit.models.forEach(function (m) { if (m.fitted) lnLhOf[m.name] = m.ln_lh; });
  fit.profiles.forEach(function (p, i) {
    var top = lnLhOf[p.model];
    var limit = top - 1.92;
    // Points the search refused hold the failure value; they are not drawn.
    // The estimate is the profile's highest point: there ln LH is the
    // model's maximum.
    var points = p.points.filter(function (xy) { return xy[1] > -1e17; })
      .concat([[p.estimate, top]])
      .map(function (xy) { return {value: xy[0], ln_lh: xy[1]}; })
      .sort(function (a, b) { return a.value - b.value; });
    figure('profile-figures', 'profile-' + p.parameter, {
      width: width, height: 260, padding: 5,
      title: 'Profile ln LH of ' + p.parameter + ' (model ' + p.model + '): 95% interval ' +
        digits(p.lower) + ' to ' + digits(p.upper),
      data: [{name: 'points', values: points},
             {name: 'marks', values: [{limit: limit, top: top, lower: p.lower, upper: p.upper, estimate: p.estimate}]}],
      scales: [
        {name: 'x', type: 'linear', zero: false, nice: false, range: 'width',
         domain: {fields: [{data: 'points', field: 'value'}, {data: 'marks', field: 'lower'}, {data: 'marks', field: 'upper'}]}},
        {name: 'y', type: 'linear', zero: false, nice: true, range: 'height',
         domain: {fields: [{data: 'points', field: 'ln_lh'}, {data: 'marks', field: 'limit'}, {data: 'marks', field: 'top'}]}}
      ],
      axes: [axis('bottom', 'x', p.parameter), axis('left', 'y', 'max ln LH')],
      marks: [
        {type: 'rect', from: {data: 'marks'}, encode: {enter: {
          x: {scale: 'x', field: 'lower'}, x2: {scale: 'x', field: 'upper'},
          y: {value: 0}, y2: {signal: 'height'}, fill: {value: '#1f77b4'}, fillOpacity: {value: 0.12}}}},
        {type: 'rule', from: {data: 'marks'}, encode: {enter: {
          x: {value: 0}, x2: {signal: 'width'}, y: {scale: 'y', field: 'limit'},
          stroke: {value: '#d62728'}, strokeDash: {value: [6, 4]}}}},
        {type: 'text', from: {data: 'marks'}, encode: {enter: {
          x: {signal: 'width'}, y: {scale: 'y', field: 'limit'}, dy: {value: -4}, align: {value: 'right'},
          text: {value: 'maximum \u2212 1.92'}, fill: {value: '#d62728'}}}},
        {type: 'rule', from: {data: 'marks'}, encode: {enter: {
          x: {scale: 'x', field: 'estimate'}, y: {value: 0}, y2: {signal: 'height'}, stroke: {value: '#888888'}}}},
        {type: 'line', from: {data: 'points'}, encode: {enter: {
          x: {scale: 'x', field: 'value'}, y: {scale: 'y', field: 'ln_lh'}, stroke: {value: '#000000'}}}},
        {type: 'symbol', from: {data: 'points'}, encode: {enter: {
          x: {scale: 'x', field: 'value'}, y: {scale: 'y', field: 'ln_lh'}, size: {value: 25}, fill: {value: '#000000'},
          tooltip: {signal: "format(datum.value, '.5g') + ': ' + format(datum.ln_lh, '.6g')"}}}}
      ]
    });
  });

  var fitted = fit.models.filter(function (m) { return m.fitted; });
  if (fitted.length) {
    var minAic = Math.min.apply(null, fitted.map(function (m) { return m.aic; }));
    var minBic = Math.min.apply(null, fitted.map(function (m) { return m.bic; }));
    var rows = [];
    fitted.forEach(function (m) {
      rows.push({model: m.name, criterion: 'AIC', difference: m.aic - minAic, value: m.aic});
      rows.push({model: m.name, criterion: 'BIC', difference: m.bic - minBic, value: m.bic});
    });
    figure('model-figure', 'models', {
      width: width, height: 24 * fitted.length, padding: 5,
      title: 'AIC and BIC, less the smallest of each (best by AIC: ' + fit.best_model + ')',
      signals: [{name: 'best', value: fit.best_model}],
      data: [{name: 'rows', values: rows}],
      scales: [
        {name: 'y', type: 'band', domain: fitted.map(function (m) { return m.name; }), range: 'height', padding: 0.2},
        {name: 'x', type: 'linear', domain: {data: 'rows', field: 'difference'}, range: 'width', nice: true, zero: true},
        {name: 'color', type: 'ordinal', domain: ['AIC', 'BIC'], range: ['#1f77b4', '#ff7f0e']}
      ],
      axes: [axis('bottom', 'x', 'difference from the smallest'),
             {orient: 'left', scale: 'y', encode: {labels: {update: {
               fontWeight: {signal: "datum.value === best ? 'bold' : 'normal'"}}}}}],
      legends: [{fill: 'color', orient: 'right'}],
      marks: [{type: 'symbol', from: {data: 'rows'}, encode: {enter: {
        y: {scale: 'y', field: 'model', band: 0.5}, x: {scale: 'x', field: 'difference'},
        fill: {scale: 'color', field: 'criterion'}, size: {value: 80},
        tooltip: {signal: "datum.model + ' ' + datum.criterion + ' ' + format(datum.value, '.2f')"}}}}]
    });
  }

  if (fit.tests.length) {
    var tests = fit.tests.map(function (x) {
      var score = x.p_value === null ? 0 : -Math.log10(Math.max(x.p_value, 1e-300));
      return {test: x.test, p: x.p_value, score: score};
    });
    figure('test-figure', 'tests', {
      width: width, height: 26 * tests.length, padding: 5,
      title: 'Likelihood-ratio tests: \u2212log10 p (the rule is p = 0.05)',
      data: [{name: 'tests', values: tests}],
      scales: [
        {name: 'y', type: 'band', domain: tests.map(function (x) { return x.test; }), range: 'height', padding: 0.2},
        {name: 'x', type: 'linear', domain: {fields: [{data: 'tests', field: 'score'}, [0, 2]]}, range: 'width', nice: true, zero: true}
      ],
      axes: [axis('bottom', 'x', '\u2212log10 p'), {orient: 'left', scale: 'y'}],
      marks: [
        {type: 'rect', from: {data: 'tests'}, encode: {enter: {
          y: {scale: 'y', field: 'test'}, height: {scale: 'y', band: 1},
          x: {scale: 'x', value: 0}, x2: {scale: 'x', field: 'score'}, fill: {value: '#1f77b4'},
          tooltip: {signal: "datum.test + ': p = ' + format(datum.p, '.3g')"}}}},
        {type: 'rule', encode: {enter: {
          x: {scale: 'x', value: -Math.log10(0.05)}, y: {value: 0}, y2: {signal: 'height'},
          stroke: {value: '#d62728'}, strokeDash: {value: [6, 4]}}}}
      ]
    });
  }

  if (figures.families.length) {
    figure('family-figure', 'families', {
      width: width, height: 320, padding: 5,
      title: 'ln LH of each family under model ' + fit.best_model + ', against its size',
      data: [{name: 'families', values: figures.families},
             {name: 'named', source: 'families', transform: [{type: 'filter', expr: 'datum.named'}]}],
      scales: [
        {name: 'x', type: 'linear', domain: {data: 'families', field: 'members'}, range: 'width', zero: false, nice: true, padding: 10},
        {name: 'y', type: 'linear', domain: {data: 'families', field: 'ln_lh'}, range: 'height', zero: false, nice: true}
      ],
      axes: [axis('bottom', 'x', 'members'), axis('left', 'y', 'ln LH of the family')],
      marks: [
        {type: 'symbol', from: {data: 'families'}, encode: {enter: {
          x: {scale: 'x', field: 'members'}, y: {scale: 'y', field: 'ln_lh'}, size: {value: 30},
          fill: {signal: "datum.named ? '#d62728' : '#1f77b4'"}, fillOpacity: {value: 0.7},
          tooltip: {signal: "'family ' + datum.family + ': ln LH ' + format(datum.ln_lh, '.5g') + ', ' + datum.members + ' members'"}}}},
        {type: 'text', from: {data: 'named'}, encode: {enter: {
          x: {scale: 'x', field: 'members'}, y: {scale: 'y', field: 'ln_lh'}, dx: {value: 6}, dy: {value: 4},
          text: {field: 'family'}, fontSize: {value: 10}, fill: {value: '#d62728'}}}}
      ]
    });
  }

  if (figures.posteriors.length) {
    figure('posterior-figure', 'posteriors', {
      width: width, height: 240, padding: 5,
      title: 'Posterior probability of genotype 1 over persons (model ' + figures.posterior_model + ')',
      data: [{name: 'persons', values: figures.posteriors.map(function (p) { return {p: p}; }),
              transform: [{type: 'bin', field: 'p', extent: [0, 1], maxbins: 20, nice: false},
                          {type: 'aggregate', groupby: ['bin0', 'bin1'], ops: ['count'], as: ['count']}]}],
      scales: [
        {name: 'x', type: 'linear', domain: [0, 1], range: 'width'},
        {name: 'y', type: 'linear', domain: {data: 'persons', field: 'count'}, range: 'height', nice: true, zero: true}
      ],
      axes: [axis('bottom', 'x', 'P(genotype 1 | the family\u2019s data)'), axis('left', 'y', 'persons')],
      marks: [{type: 'rect', from: {data: 'persons'}, encode: {enter: {
        x: {scale: 'x', field: 'bin0'}, x2: {scale: 'x', field: 'bin1'},
        y: {scale: 'y', field: 'count'}, y2: {scale: 'y', value: 0},
        fill: {value: '#2ca02c'}, stroke: {value: '#ffffff'},
        tooltip: {signal: "format(datum.bin0, '.2f') + ' to ' + format(datum.bin1, '.2f') + ': ' + datum.count"}}}}]
    });
  }

  Promise.all(pending).then(function () {
    if (document.body.getAttribute('data-figures') !== 'failed') {
      document.body.setAttribute('data-figures', 'rendered');
    }
  });
})();
)js";

}  // namespace

std::string ReportHtml(const FitReport& report) {
  const std::string fit_text = FitJson(report);
  const Json fit = Json::parse(fit_text);
  Json figures;
  figures["trait"] = TraitFigure(report, fit);
  figures["families"] = FamilyFigure(report);
  figures["posteriors"] = PosteriorFigure(report);
  figures["posterior_model"] =
      report.posterior_model >= 0
          ? Json(report.models[report.posterior_model].description.name)
          : Json();
  const Analysis& a = *report.analysis;
  int evaluated = 0;
  for (const FamilyFacts& f : a.families) evaluated += f.evaluated ? 1 : 0;
  const std::string best =
      report.best_model >= 0 ? report.models[report.best_model].description.name
                             : std::string();
  const std::string posterior_model =
      report.posterior_model >= 0
          ? report.models[report.posterior_model].description.name
          : std::string();

  // "DIR/." as given on the command line shows as DIR.
  std::filesystem::path folder = a.directory.lexically_normal();
  if (!folder.has_filename()) folder = folder.parent_path();
  std::ostringstream out;
  out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta "
         "charset=\"utf-8\">\n"
      // Inline scripts and styles, images made in the page: nothing is
      // loaded from anywhere. Vega compiles its expressions with Function,
      // hence 'unsafe-eval'.
      << "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src "
         "'none'; script-src 'unsafe-inline' 'unsafe-eval'; style-src "
         "'unsafe-inline'; img-src data: blob:\">\n"
      << "<title>segmix-fit report: " << Escape(folder.filename().string())
      << "</title>\n<style>" << kStyle << "</style>\n"
      << "<script>\n"
      << VegaScript() << "\n</script>\n</head>\n<body>\n";
  out << "<h1>segmix-fit report</h1>\n<p>" << Escape(report.version) << " on "
      << Escape(folder.string()) << ": " << report.models.size() << " models, "
      << evaluated << " families, " << a.counts.observed
      << " observed members, " << Fixed(report.seconds, 1) << " s. "
      << (best.empty() ? "No model was fitted."
                       : "Best model by AIC: <b>" + Escape(best) + "</b>.")
      << " The numbers are those of fit.json.</p>\n";
  if (fit.contains("ascertainment")) {
    out << "<p>Ascertainment: "
        << Escape(fit["ascertainment"]["text"].get<std::string>())
        << ". Each corrected family's probands enter the correction pass with "
           "P(trait &gt; T) in place of their densities, so ln LH is not "
           "comparable with segmix's own; tests between these models "
           "are.</p>\n";
  }
  if (fit.contains("transform")) {
    out << "<p>" << Escape(fit["transform"]["text"].get<std::string>())
        << ". Every model's estimates are on the transformed scale.</p>\n";
  }

  out << "<section id=\"warnings\" class=\"warnings\">\n<h2>Warnings</h2>\n"
      << "<h3>Input check</h3>\n"
      << WarningList(report.input_warnings,
                     "segmix-check found nothing to warn about.")
      << "<h3>Run</h3>\n"
      << WarningList(RunWarnings(fit), "None.") << "</section>\n";

  out << "<section id=\"trait\">\n<h2>The observed trait</h2>\n"
      << "<div id=\"trait-figure\"></div>\n<p class=\"note\">"
      << figures["trait"]["persons"].get<std::size_t>()
      << " trait values: the observed non-probands of families corrected for "
         "ascertainment and every observed member of the other evaluated "
         "families, as a density histogram. The curves are the best model's "
         "density of one person's trait: the genotypes' Hardy&ndash;Weinberg "
         "frequencies times the polygenic classes' binomial frequencies times "
         "the two sex classes' observed shares, each a normal density of "
         "variance SIG, with the covariates at their observed means. It "
         "ignores the families' correlation and the ascertainment."
      << (figures["trait"].contains("lambda")
              ? " The trait is shown transformed, ((y + c)^&lambda; &minus; "
                "1)/&lambda; at the best model's &lambda; = " +
                    Fixed(figures["trait"]["lambda"].get<double>(), 4) +
                    ", the scale its model describes."
              : std::string())
      << "</p>\n"
      << "</section>\n";

  out << "<section id=\"models\">\n<h2>Models</h2>\n<div id=\"model-figure\">"
      << "</div>\n"
      << ModelTable(fit, report.best_model);
  if (report.best_model >= 0) {
    out << "<h3>Estimates of model " << Escape(best) << "</h3>\n"
        << EstimateTable(fit["models"][report.best_model]);
  }
  out << "</section>\n";

  out << "<section id=\"tests\">\n<h2>Tests</h2>\n<div id=\"test-figure\">"
      << "</div>\n"
      << TestTable(fit) << "</section>\n";

  out << "<section id=\"profiles\">\n<h2>Profile likelihoods</h2>\n"
      << "<div id=\"profile-figures\"></div>\n"
      << (report.profiles.empty()
              ? "<p class=\"none\">None computed (segmix-fit --profile).</p>\n"
              : "<p class=\"note\">The maximum of ln LH over the other free "
                "parameters at each value; the dashed line lies 1.92 below "
                "the model's maximum and the shaded band is the 95% "
                "interval.</p>\n")
      << "</section>\n";

  out << "<section id=\"families\">\n<h2>Families</h2>\n"
      << "<div id=\"family-figure\"></div>\n"
      << (figures["families"].empty()
              ? "<p class=\"none\">No family terms in this run.</p>\n"
              : "<p class=\"note\">Each evaluated family's ln LH under the "
                "best model (as LH_fam.dat and families.csv give it, "
                "unweighted). Named in red: the 10 families whose ln LH per "
                "observed member lies farthest from the median.</p>\n")
      << "</section>\n";

  out << "<section id=\"posteriors\">\n<h2>Genotype posteriors</h2>\n"
      << "<div id=\"posterior-figure\"></div>\n"
      << (figures["posteriors"].empty()
              ? "<p class=\"none\">No posteriors in this run.</p>\n"
              : "<p class=\"note\">Each person's probability of genotype 1 "
                "given the family's data under model " +
                    Escape(posterior_model) +
                    (report.posterior_reason.empty()
                         ? std::string()
                         : " (" + Escape(report.posterior_reason) + ")") +
                    ", as persons.csv gives it.</p>\n")
      << "</section>\n";

  out << "<script type=\"application/json\" id=\"segmix-data\">{\"fit\":"
      << ScriptJson(fit_text) << ",\"figures\":" << ScriptJson(figures.dump())
      << "}</script>\n<script>" << kPageScript
      << "</script>\n</body>\n</html>\n";
  return out.str();
}

}  // namespace segmix::fit
