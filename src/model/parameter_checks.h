// The parameter gate of every likelihood evaluation: apply the ties, test the
// point against its bounds and derive the model quantities.
//
// Both routines return nothing when the point is accepted and what they
// refused otherwise; neither writes anything. CheckParameters (the kChecked
// gate: the starting point and the final pass) moves a value lying exactly on
// a bound 1e-6 inside and lowers Q under the general transmission model.
// AcceptParameters (the kAccepted gate: the search) corrects nothing but the
// ties and keeps the point strictly inside its bounds. Changes to the table
// persist: tied values and cleared estimate flags, values moved off a bound,
// a lowered Q.
//
// Refused by both, in this order: an estimated value outside its bounds
// (kBound; on a bound too for AcceptParameters); a residual variance SIG at
// or below 0 or not a number (kVariance: the density is undefined); D above
// MU (kMeanOrder; AcceptParameters only under the general transmission
// model); P1 at or below 0 (kFrequency; CheckParameters lowers Q instead under
// the general transmission model unless P1 is not a number; AcceptParameters
// also refuses P1 at or above 1); genotype frequencies outside 0..1, that is
// Q outside 0..1 whether fixed, tied or estimated (kNotProbability, row Q);
// under the general transmission model, Tr1, Tr2 or Tr3 outside 0..1
// (kNotProbability, that row).
//
// An accepted point rewrites GenotypeFrequency, GenotypeMean, the working
// copies of pga, SIG and B1..BK and, when Tr1 is in the model,
// MajorTransmission. The quantities take every row's value as the table holds
// it: a left-out component (in-model flag 0 among pga, Sex, B1..B5) is 0
// because SwitchOffLeftOutComponents set it so when the table was loaded, and
// a tie or the search may move it from there (the in-model flag of Sex still
// decides which members get the sex class 2 means). A rejected point
// leaves the quantities it did not reach as they were; nothing reads them
// before the next accepted call.
#ifndef SEGMIX_MODEL_PARAMETER_CHECKS_H_
#define SEGMIX_MODEL_PARAMETER_CHECKS_H_

#include <cstdint>
#include <optional>

#include "model/evaluation.h"
#include "model/model_quantities.h"
#include "model/parameter_table.h"

namespace segmix {

// `covariate_count` is K: the working copies of B1..BK are refreshed (at
// most five; none for K <= 0).
std::optional<ParameterRejection> CheckParameters(ParameterTable& parameters,
                                                  std::int32_t covariate_count,
                                                  ModelQuantities& quantities);
std::optional<ParameterRejection> AcceptParameters(ParameterTable& parameters,
                                                   std::int32_t covariate_count,
                                                   ModelQuantities& quantities);
// CheckParameters for Gate::kChecked, AcceptParameters for Gate::kAccepted.
std::optional<ParameterRejection> AdmitParameters(Gate gate,
                                                  ParameterTable& parameters,
                                                  std::int32_t covariate_count,
                                                  ModelQuantities& quantities);

// The value of every left-out component (in-model flag 0 among pga, Sex and
// B1..B5) becomes 0, in the order B1..B5, pga, Sex. Done once, when a table
// is loaded or handed to a fit; the gate does not repeat it, so a left-out row
// that is tied to another row, or estimated, takes the value the tie or the
// search gives it at every evaluation.
void SwitchOffLeftOutComponents(ParameterTable& parameters);

}  // namespace segmix

#endif  // SEGMIX_MODEL_PARAMETER_CHECKS_H_
