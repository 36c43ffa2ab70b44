// MemberDensities: the 21 trait densities of one member at once, the same
// values TraitDensity gives one by one, with what they share (the missing
// and correction-pass rules, the sex class, the covariate term, the square
// root of SIG) formed once; under the threshold kind's correction pass the
// same for the 21 threshold probabilities.
#ifndef SEGMIX_MODEL_MEMBER_DENSITIES_H_
#define SEGMIX_MODEL_MEMBER_DENSITIES_H_

#include <cstdint>

#include "model/extended.h"
#include "model/family_likelihood.h"
#include "model/trait_density.h"

namespace segmix {

// density[(g - 1) * 7 + (j - 1)] = TraitDensity(model, i, g, j), bit for bit,
// for g = 1..3 and j = 1..7.
void MemberDensities(const LikelihoodModel& model, std::int32_t i,
                     Extended (&density)[kJointGenotypes]);

// A screening evaluation's densities (SampleSettings::screening): the same
// expression in double arithmetic, with the division by SIG and by its root
// formed once as multiplications; equal to MemberDensities' values to double
// rounding, not bit for bit. Under the threshold kind's correction pass it
// gives MemberDensities' probabilities rounded to double.
void ScreeningMemberDensities(const LikelihoodModel& model, std::int32_t i,
                              double (&density)[kJointGenotypes]);

}  // namespace segmix

#endif  // SEGMIX_MODEL_MEMBER_DENSITIES_H_
