// The start rule. The means are sorted because the gate at a start refuses
// D above MU, and because genotype 1 carries the allele of frequency Q twice,
// the highest mean is the natural labelling.
#include "fit/starts.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "fit/model_series.h"

namespace segmix::fit {
namespace {

constexpr int kPrimes[] = {2,  3,  5,  7,  11, 13, 17, 19,
                           23, 29, 31, 37, 41, 43, 47};

}  // namespace

double Halton(int index, int base) {
  double result = 0;
  double f = 1.0 / base;
  for (int i = index; i > 0; i /= base) {
    result += f * (i % base);
    f /= base;
  }
  return result;
}

ParameterTable SpreadStart(const ParameterTable& model, int s,
                           double trait_mean, double trait_sd) {
  ParameterTable t = model;
  const std::vector<int> rows = FreeRows(model);
  std::vector<double> means;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const int r = rows[i];
    const double u = Halton(s, kPrimes[i % 15]);
    double lo = 0, hi = 0;
    if (r == kQ || (r >= kTr1 && r <= kTr3)) {
      lo = 0.05, hi = 0.95;
    } else if (r == kMU || r == kA || r == kD) {
      lo = trait_mean - 2 * trait_sd, hi = trait_mean + 2 * trait_sd;
    } else if (r == kSIG) {
      lo = 0.25 * trait_sd * trait_sd, hi = 1.25 * trait_sd * trait_sd;
    } else if (r == kPga) {
      lo = 0.05 * trait_sd, hi = 0.6 * trait_sd;
    } else {
      lo = model.value[r] - 5 * std::abs(model.step[r]);
      hi = model.value[r] + 5 * std::abs(model.step[r]);
    }
    const double margin = 0.01 * (model.GR[r] - model.GL[r]);
    lo = std::max(lo, model.GL[r] + margin);
    hi = std::min(hi, model.GR[r] - margin);
    if (!(lo <= hi)) lo = hi = 0.5 * (model.GL[r] + model.GR[r]);
    t.value[r] = lo + u * (hi - lo);
    if (r == kMU || r == kA || r == kD) means.push_back(t.value[r]);
  }
  std::sort(means.begin(), means.end(), std::greater<double>());
  std::size_t next = 0;
  for (int r : rows) {
    if (r == kMU || r == kA || r == kD) t.value[r] = means[next++];
  }
  return t;
}

std::array<double, 3> TransmissionOf(const ParameterTable& table) {
  if (table.in_model[kTr1] == 0) return {1.0, 0.5, 0.0};
  std::array<double, 3> tau{};
  for (int g = 0; g < 3; ++g) tau[g] = table.value[table.tie[kTr1 + g]];
  return tau;
}

ParameterTable WarmStart(const ParameterTable& model,
                         const ParameterTable& estimates) {
  ParameterTable t = model;
  const std::array<double, 3> tau = TransmissionOf(estimates);
  const double q = estimates.value[kQ];
  const std::array<double, 3> f = {q * q, 2 * q * (1 - q), (1 - q) * (1 - q)};
  for (int r : FreeRows(model)) {
    double v = estimates.value[r];
    if (r >= kTr1 && r <= kTr3) {
      // The transmission rows tied to r share one probability: the mean of
      // the estimates' own over those genotypes, weighted by their
      // Hardy-Weinberg frequencies, transmits the allele as often among
      // those parents. (Equal transmission from a Mendelian maximum is then
      // Q, not Tr1's 1.)
      double sum = 0, weight = 0, plain = 0;
      int members = 0;
      for (int g = 0; g < 3; ++g) {
        if (model.tie[kTr1 + g] != r) continue;
        sum += f[g] * tau[g];
        weight += f[g];
        plain += tau[g];
        ++members;
      }
      if (members > 1) v = weight > 0 ? sum / weight : plain / members;
    }
    t.value[r] = std::clamp(v, model.GL[r], model.GR[r]);
  }
  return t;
}

ParameterTable SwappedLabels(const ParameterTable& estimates) {
  ParameterTable t = estimates;
  t.value[kQ] = 1 - estimates.value[kQ];
  t.value[kMU] = estimates.value[kD];
  t.value[kD] = std::min(estimates.value[kMU], estimates.value[kD]);
  if (estimates.in_model[kTr1] != 0) {
    const std::array<double, 3> tau = TransmissionOf(estimates);
    for (int g = 0; g < 3; ++g) t.value[kTr1 + g] = 1 - tau[2 - g];
    for (int g = 0; g < 3; ++g) t.tie[kTr1 + g] = kTr1 + g;
  }
  return t;
}

}  // namespace segmix::fit
