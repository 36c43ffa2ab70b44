// Starting points of a model's searches, besides the base values: warm
// starts from the estimates of a model it contains, and starts spread over
// the admissible region by a fixed rule (reproducible, no random numbers).
//
// Spread rule: start s = 1..N puts free parameter number i (in row order) at
// the point u = Halton(s, i-th prime) of (0, 1) in its region:
//   Q, Tr1..Tr3   0.05 .. 0.95
//   MU, A, D      mean -2 sd .. mean +2 sd of the observed trait values,
//                 then sorted so that MU >= A >= D (genotype 1 highest)
//   SIG           0.25 sd^2 .. 1.25 sd^2
//   pga           0.05 sd .. 0.6 sd
//   Sex, B1..B5   base value -5 |step| .. base value +5 |step|
// each region cut to the inner 98% of the bounds GL..GR.
#ifndef SEGMIX_FIT_STARTS_H_
#define SEGMIX_FIT_STARTS_H_

#include <array>
#include <vector>

#include "model/parameter_table.h"

namespace segmix::fit {

// The radical inverse of `index` in base `base`: 1, 2, 3 in base 2 give
// 1/2, 1/4, 3/4.
double Halton(int index, int base);

// Start `s` (1-based) of the spread rule for `model` (its flags, values,
// steps and bounds), given the observed trait mean and standard deviation.
ParameterTable SpreadStart(const ParameterTable& model, int s,
                           double trait_mean, double trait_sd);

// The transmission probabilities of genotypes 1..3 in `table`: 1, 1/2, 0
// under Mendelian transmission, else Tr1..Tr3 with their ties followed.
std::array<double, 3> TransmissionOf(const ParameterTable& table);

// `model` with its free rows at the values of `estimates` (another model's
// maximum), each kept within the bounds. A free transmission row that others
// are tied to takes the mean of the estimates' transmission over the tied
// genotypes, weighted by their Hardy-Weinberg frequencies at the estimates'
// Q.
ParameterTable WarmStart(const ParameterTable& model,
                         const ParameterTable& estimates);

// `estimates` with genotypes 1 and 3 relabelled (Q as 1 - Q, MU and D
// exchanged, Tr1..Tr3 as 1 - Tr3, 1 - Tr2, 1 - Tr1), which leaves the
// likelihood as it is, except that D is then lowered to MU where it would lie
// above it (the search keeps D <= MU). Under general transmission, founders
// and their descendants have allele frequencies of their own, and the
// labelling in which the heterozygote stands for the carriers of an allele
// is a maximum of its own on the ordered side; a maximum of a related model
// reaches it only from the swapped side.
ParameterTable SwappedLabels(const ParameterTable& estimates);

}  // namespace segmix::fit

#endif  // SEGMIX_FIT_STARTS_H_
