// CheckParameters and AcceptParameters: ties, bound tests, the order of the
// means, the major-genotype frequencies and transmission table, and the
// working copies the likelihood reads. Rejections are returned as values; the
// caller decides whether and where they are reported.
//
// Sums and products are formed in extended precision and rounded to double
// only where a value is stored (a table value, a model quantity), so that the
// same point always yields the same bits. The bound margin is 1e-6 held in
// single precision and widened (9.99999997e-07), the exact amount by which a
// value is moved off its bound.
#include "model/parameter_checks.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>

#include "model/extended.h"

namespace segmix {

namespace {

constexpr double kBoundMargin = static_cast<double>(1e-6f);
constexpr std::int32_t kCoefficientCount = 5;  // B1..B5

// Rows in ascending order: a tied row takes its master's value as already
// updated in this pass, so a chain resolves fully only when every master
// comes before the rows tied to it. A tie index outside 1..15 is refused by
// the control file reader; here it is left unapplied rather than read out of
// the table.
void ApplyTies(ParameterTable& p) {
  for (int j = 1; j <= kParameterCount; ++j) {
    const std::int32_t master = p.tie[j];
    if (master == j || master < 1 || master > kParameterCount) continue;
    p.value[j] = p.value[master];
    p.estimate[j] = 0;
  }
}

// The residual variance divides the squared residual and its square root
// divides the density: at or below 0 (or not a number) the density is
// undefined, whatever the bounds say.
bool VarianceAdmissible(const ParameterTable& p) { return p.value[kSIG] > 0; }

// Hardy-Weinberg frequencies from Q. P1 is formed from the unrounded P2 and
// P3: in double the cancellation in (1 - P2) - P3 would leave nothing of Q^2
// for Q below about 1e-8. Returns P1 as stored.
double SetGenotypeFrequencies(double Q, ModelQuantities& quantities) {
  const Extended t = 1 - static_cast<Extended>(Q);
  const Extended P3 = t * t;
  const Extended P2 = (2 * t) * Q;
  const Extended P1 = (1 - P2) - P3;
  quantities.GenotypeFrequency[1] = static_cast<double>(P1);
  quantities.GenotypeFrequency[2] = static_cast<double>(P2);
  quantities.GenotypeFrequency[3] = static_cast<double>(P3);
  return quantities.GenotypeFrequency[1];
}

// GenotypeMean and the working copies of pga, SIG and B1..BK. Copies of the
// coefficients beyond K keep their previous values; the density reads only
// the first K.
void SetMeansAndCopies(const ParameterTable& p, std::int32_t covariate_count,
                       ModelQuantities& quantities) {
  for (int s = 1; s <= 2; ++s) {
    const Extended shift = static_cast<Extended>(s - 1) * p.value[kSex];
    quantities.GenotypeMean[s][1] = static_cast<double>(p.value[kMU] + shift);
    quantities.GenotypeMean[s][2] = static_cast<double>(p.value[kA] + shift);
    quantities.GenotypeMean[s][3] = static_cast<double>(p.value[kD] + shift);
  }
  quantities.pga = p.value[kPga];
  quantities.SIG = p.value[kSIG];
  const std::int32_t K = std::min(covariate_count, kCoefficientCount);
  for (std::int32_t k = 1; k <= K; ++k) {
    quantities.B[k] = p.value[kB1 + k - 1];
  }
}

// M(o | g1, g2) from T(i), the probability that a parent of genotype i
// passes the allele that genotype 1 carries twice. T = (1, 1/2, 0) gives the
// Mendelian table exactly.
void RebuildMajorTransmission(const ParameterTable& p,
                              ModelQuantities& quantities) {
  const double T[4] = {0, p.value[kTr1], p.value[kTr2], p.value[kTr3]};
  for (int g2 = 1; g2 <= 3; ++g2) {
    for (int g1 = 1; g1 <= 3; ++g1) {
      const Extended t1 = T[g1];
      const Extended t2 = T[g2];
      const int base = 3 * (g1 - 1) + 9 * (g2 - 1);
      quantities.MajorTransmission[base] = static_cast<double>(t1 * t2);
      quantities.MajorTransmission[base + 1] =
          static_cast<double>(t1 * (1 - t2) + t2 * (1 - t1));
      quantities.MajorTransmission[base + 2] =
          static_cast<double>((1 - t1) * (1 - t2));
    }
  }
}

// A value that is a probability: 0..1, and not undefined.
bool IsProbability(double x) { return x >= 0 && x <= 1; }

bool FrequenciesAreProbabilities(const ModelQuantities& quantities) {
  const auto& P = quantities.GenotypeFrequency;
  return IsProbability(P[1]) && IsProbability(P[2]) && IsProbability(P[3]);
}

// The first of Tr1..Tr3 that is not a probability, 0 when all are. Only
// meaningful when the general transmission model is on.
std::int32_t ImproperTransmissionRow(const ParameterTable& p) {
  for (const ParameterRow row : {kTr1, kTr2, kTr3}) {
    if (!IsProbability(p.value[row])) return row;
  }
  return 0;
}

ParameterRejection Refused(RejectionKind kind, const ParameterTable& p,
                           std::int32_t row) {
  return ParameterRejection{kind, row, p.value[row], p.GL[row], p.GR[row]};
}

// value +- margin, rounded once to double.
double MovedInside(double bound, double signed_margin) {
  return static_cast<double>(static_cast<Extended>(bound) + signed_margin);
}

}  // namespace

std::optional<ParameterRejection> CheckParameters(ParameterTable& parameters,
                                                  std::int32_t covariate_count,
                                                  ModelQuantities& quantities) {
  ParameterTable& p = parameters;
  ApplyTies(p);

  // Fixed and tied rows (estimate flag 0) are not tested. A starting value
  // exactly on a bound is moved just inside when its flag is 1, so that the
  // maximizer, which rejects bound values, can start from it; any other
  // nonzero flag leaves it where it is.
  for (int j = 1; j <= kParameterCount; ++j) {
    if (p.estimate[j] == 0) continue;
    if (p.value[j] < p.GL[j]) return Refused(RejectionKind::kBound, p, j);
    if (p.value[j] == p.GL[j] && p.estimate[j] == 1) {
      p.value[j] = MovedInside(p.GL[j], kBoundMargin);
    }
    // Tested after the move: with GR - GL below the margin the moved value
    // lies above GR, and the rejection shows it.
    if (p.value[j] > p.GR[j]) return Refused(RejectionKind::kBound, p, j);
    if (p.value[j] == p.GR[j] && p.estimate[j] == 1) {
      p.value[j] = MovedInside(p.GR[j], -kBoundMargin);
    }
  }

  if (!VarianceAdmissible(p)) return Refused(RejectionKind::kVariance, p, kSIG);

  if (p.value[kD] > p.value[kMU]) {
    return ParameterRejection{RejectionKind::kMeanOrder, kD, p.value[kD],
                              p.GL[kD], p.value[kMU]};
  }

  SetMeansAndCopies(p, covariate_count, quantities);

  const bool general_transmission = p.in_model[kTr1] != 0;
  double P1 = SetGenotypeFrequencies(p.value[kQ], quantities);
  // P1 <= 0 only for Q within rounding distance of 0; lowering then ends at
  // Q = margin after at most two rounds. An infinite or undefined Q gives an
  // undefined P1 that lowering would never repair, so it is reported even
  // under the general transmission model.
  if (!(P1 > 0) && (!general_transmission || std::isnan(P1))) {
    return ParameterRejection{RejectionKind::kFrequency, kQ, P1, p.GL[kQ],
                              p.GR[kQ]};
  }
  while (!(P1 > 0)) {
    double& Q = p.value[kQ];
    Q = MovedInside(Q, -kBoundMargin);
    if (Q <= 0) Q = kBoundMargin;
    P1 = SetGenotypeFrequencies(Q, quantities);
  }
  // A Q outside 0..1 leaves P1 positive but makes P2 or P3 negative: the
  // likelihood would take logarithms of negative weights.
  if (!FrequenciesAreProbabilities(quantities)) {
    return Refused(RejectionKind::kNotProbability, p, kQ);
  }

  if (general_transmission) {
    if (const std::int32_t row = ImproperTransmissionRow(p); row != 0) {
      return Refused(RejectionKind::kNotProbability, p, row);
    }
    RebuildMajorTransmission(p, quantities);
  }
  return std::nullopt;
}

std::optional<ParameterRejection> AcceptParameters(
    ParameterTable& parameters, std::int32_t covariate_count,
    ModelQuantities& quantities) {
  ParameterTable& p = parameters;
  ApplyTies(p);

  // Strictly inside the bounds, so the search never settles on one.
  for (int j = 1; j <= kParameterCount; ++j) {
    if (p.estimate[j] == 0) continue;
    if (p.value[j] <= p.GL[j] || p.value[j] >= p.GR[j]) {
      return Refused(RejectionKind::kBound, p, j);
    }
  }
  if (!VarianceAdmissible(p)) return Refused(RejectionKind::kVariance, p, kSIG);

  const double P1 = SetGenotypeFrequencies(p.value[kQ], quantities);
  // Written so that an undefined P1 is rejected too.
  if (!(P1 > 0 && P1 < 1)) {
    return ParameterRejection{RejectionKind::kFrequency, kQ, P1, p.GL[kQ],
                              p.GR[kQ]};
  }
  if (!FrequenciesAreProbabilities(quantities)) {
    return Refused(RejectionKind::kNotProbability, p, kQ);
  }

  // The order of the means is tested during the search only under the
  // general transmission model; otherwise the final evaluation reports it.
  if (p.in_model[kTr1] != 0) {
    if (const std::int32_t row = ImproperTransmissionRow(p); row != 0) {
      return Refused(RejectionKind::kNotProbability, p, row);
    }
    RebuildMajorTransmission(p, quantities);
    if (p.value[kD] > p.value[kMU]) {
      return ParameterRejection{RejectionKind::kMeanOrder, kD, p.value[kD],
                                p.GL[kD], p.value[kMU]};
    }
  }

  SetMeansAndCopies(p, covariate_count, quantities);
  return std::nullopt;
}

std::optional<ParameterRejection> AdmitParameters(Gate gate,
                                                  ParameterTable& parameters,
                                                  std::int32_t covariate_count,
                                                  ModelQuantities& quantities) {
  return gate == Gate::kAccepted
             ? AcceptParameters(parameters, covariate_count, quantities)
             : CheckParameters(parameters, covariate_count, quantities);
}

void SwitchOffLeftOutComponents(ParameterTable& parameters) {
  // In the order they have always been switched off.
  constexpr ParameterRow kSwitchable[] = {kB1, kB2, kB3, kB4, kB5, kPga, kSex};
  for (const ParameterRow row : kSwitchable) {
    if (parameters.in_model[row] == 0) parameters.value[row] = 0;
  }
}

}  // namespace segmix
