// The parameter gate of every likelihood evaluation: apply the ties, test the
// point against its bounds and derive the model quantities.
//
// Both routines return 1.0 when the point is accepted and FailureSentinel when
// it is rejected. CheckParameters (run modes -1 and 2) reports a rejection
// (bound and frequency messages on unit 25, par.err; the mean-order message on
// the console), moves a value lying exactly on a bound 1e-6 inside and lowers
// Q under the general transmission model. AcceptParameters (run mode 1)
// writes nothing and corrects nothing but the ties. Changes to the table
// persist: tied values and cleared estimate flags, values moved off a bound,
// a lowered Q.
//
// A residual variance SIG at or below 0 (or not a number) leaves the trait
// density undefined, so both routines reject such a point after the bound
// tests; CheckParameters then writes the variance message to par.err.
//
// An accepted point rewrites GenotypeFrequency, GenotypeMean, the working
// copies of pga, SIG and B1..BK and, when Tr1 is in the model,
// MajorTransmission. A rejected point leaves the quantities it did not reach
// as they were; nothing reads them before the next accepted call.
#ifndef SEGMIX_MODEL_PARAMETER_CHECKS_H_
#define SEGMIX_MODEL_PARAMETER_CHECKS_H_

#include <cstdint>

#include "model/model_quantities.h"
#include "model/parameter_table.h"
#include "textio/text_units.h"

namespace segmix {

// `covariate_count` is K: the working copies of B1..BK are refreshed (at
// most five; none for K <= 0). Unit 25 must be open when CheckParameters has
// a message to write; the mean-order message goes to the console.
double CheckParameters(ParameterTable& parameters, std::int32_t covariate_count,
                       ModelQuantities& quantities, TextUnits& units);
double AcceptParameters(ParameterTable& parameters, std::int32_t covariate_count,
                        ModelQuantities& quantities);

}  // namespace segmix

#endif  // SEGMIX_MODEL_PARAMETER_CHECKS_H_
