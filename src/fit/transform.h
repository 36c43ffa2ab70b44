// A Box-Cox transformation of the trait, estimated jointly with each model
// (--transform boxcox). The trait y of every observed member is analysed as
//
//   z = ((y + c)^lambda - 1) / lambda     (ln(y + c) at lambda = 0)
//
// with the shift c making every observed value positive. The likelihood of
// the observed y is that of z times the Jacobian prod dz/dy =
// prod (y + c)^(lambda - 1) over the observed values whose density does not
// cancel: in a family corrected by its probands' values, each observed
// proband's density enters both passes and its factor cancels with it; under
// the threshold correction the correction pass holds probabilities, which a
// monotone transformation leaves alone, so every observed member counts. So
//
//   ln LH(theta, lambda) = ln LH_core(theta; z) + (lambda - 1) S,
//   S = sum of ln(y + c) over the counted members of evaluated families,
//
// with the same members as the 1/sqrt(2 pi) constants (FamilyFacts).
//
// The core's likelihood is not changed: it reads z, rounded to 4-byte reals
// as every trait value is stored, from a copy of the family store, and the
// fit layer adds (lambda - 1) S. lambda rides in the parameter table as row
// kLambda, above the 15 rows par.inp holds (rows 16..30 are room segmix never
// reads), so the climbs, nesting starts, standard errors and profiles move it
// like any other free row; a fit by segmix's own search (a polish) holds it at
// its value, on the trait file transformed there.
#ifndef SEGMIX_FIT_TRANSFORM_H_
#define SEGMIX_FIT_TRANSFORM_H_

#include <optional>
#include <string>
#include <vector>

#include "fit/engine.h"
#include "fit/model_series.h"
#include "model/parameter_table.h"

namespace segmix::fit {

// lambda's start, step and bounds in every model.
inline constexpr double kLambdaStart = 1, kLambdaStep = 0.25;
inline constexpr double kLambdaLow = -3, kLambdaHigh = 3;
// The trait file a transformed model's folder holds (16 characters, the
// longest name par.inp can hold).
inline constexpr const char* kTransformedTraitFile = "trait-boxcox.dat";

// The rows segmix-fit reports: 1..15, and kLambda when the trait is
// transformed.
std::vector<int> ReportedRows(const Analysis& analysis);

// A row's name as users type it: "lambda" for kLambda, else
// ShortParameterName.
std::string RowName(int row);

// The shift c when none is given: 0 when every observed value of an
// evaluated family is positive, else 1/100 of their range minus the
// smallest, so that the smallest shifted value is 1% of the range.
double DefaultShift(const Analysis& analysis);

// Transforms the trait of `analysis` from now on: every Evaluator made
// afterwards reads z at the table's kLambda and adds the Jacobian term, and
// every fit goes through RunTransformedFit. Call it after
// UseThresholdCorrection (the counted members follow the correction kind).
// Throws segmix::InputRejected (exit 1) naming the family, member and value
// when an observed value plus `shift` is not positive. Moves trait_mean by
// c - 1 (the mean of z at lambda = 1, around which spread starts lie).
void UseBoxCox(Analysis& analysis, std::optional<double> shift);

// z for y + c = x > 0 in extended precision (expm1 keeps it exact near
// lambda = 0), not yet rounded.
long double BoxCox(long double x, double lambda);

// The transformed trait values (and thresholds) at `lambda` written into
// `trait` (and `thresholds`), which hold the analysis's store and thresholds
// shape: observed members get z rounded to float, missing ones keep their
// code. False, with some values written, when a transformed value is not a
// finite float above the missing-value code (it would read as missing or
// overflow): such a lambda is outside the model.
bool TransformTrait(const Analysis& analysis, double lambda,
                    std::vector<float>& trait, std::vector<double>& thresholds);

// (lambda - 1) S.
double JacobianTerm(const Analysis& analysis, double lambda);

// A copy of `analysis` whose store holds the values at `lambda` and whose
// data file is kTransformedTraitFile, untransformed from then on: segmix's
// own fit on it is the transformed model's fit at that lambda. Empty when
// TransformTrait refuses lambda.
std::optional<Analysis> TransformedAt(const Analysis& analysis, double lambda);

// RunFit for a transformed analysis: the fit at the table's lambda (held),
// its ln LHs with the Jacobian term added and the table's kLambda row kept;
// with files, the folder also gets kTransformedTraitFile (the values the fit
// read, as segmix reads them back) and transform.txt. Without a transform,
// RunFit itself.
FitOutcome RunTransformedFit(const Analysis& analysis,
                             const ParameterTable& start, const FitFiles* files,
                             const EvaluationProgress& progress,
                             int threads = 0);

// The report's line: the transformation, its shift, what ln LH then holds.
std::string TransformText(const Analysis& analysis);

// Row kLambda of `from` into `to` (a table read back from par.inp, which
// holds rows 1..15 only).
void KeepLambdaRow(ParameterTable& to, const ParameterTable& from);

// Sets row kLambda of a model's table (free, at kLambdaStart) and moves the
// genotype means' starts by c - 1, where the transformed trait lies at
// lambda = 1; no change without a transform.
void AddLambdaRow(const Analysis& analysis, ParameterTable& table);

}  // namespace segmix::fit

#endif  // SEGMIX_FIT_TRANSFORM_H_
