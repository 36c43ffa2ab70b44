// The parameter gate of every likelihood evaluation: apply the ties, test the
// point against its bounds and derive the model quantities.
//
// Both routines return 1.0 when the point is accepted and FailureSentinel when
// it is rejected. CheckParameters (run modes -1 and 2) reports a rejection
// (bound and frequency messages on unit 25, par.err; the mean-order message on
// the console), moves a value lying exactly on a bound 1e-6 inside and lowers
// Q under the general transmission model. AcceptParameters (run mode 1)
// writes nothing and corrects nothing but the ties. Changes to the table
// persist.
#ifndef SEGMIX_MODEL_PARAMETER_CHECKS_H_
#define SEGMIX_MODEL_PARAMETER_CHECKS_H_

#include <cstdint>

#include "model/model_quantities.h"
#include "model/parameter_table.h"
#include "textio/text_units.h"

namespace segmix {

// `covariate_count` is K: the working copies of B1..BK are refreshed.
double CheckParameters(ParameterTable& parameters, std::int32_t covariate_count,
                       ModelQuantities& quantities, TextUnits& units);
double AcceptParameters(ParameterTable& parameters, std::int32_t covariate_count,
                        ModelQuantities& quantities);

}  // namespace segmix

#endif  // SEGMIX_MODEL_PARAMETER_CHECKS_H_
