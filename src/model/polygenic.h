// The finite polygenic model: 3 additive two-allele loci, 7 polygenic
// genotypes (0..6 increasing alleles), transmitted by the hypergeometric rule
// (each parent passes 3 of its 6 alleles, drawn without replacement).
#ifndef SEGMIX_MODEL_POLYGENIC_H_
#define SEGMIX_MODEL_POLYGENIC_H_

#include <cstdint>

#include "model/extended.h"
#include "model/model_quantities.h"

namespace segmix {

// n! in extended precision; 1 for n <= 0.
Extended Factorial(std::int32_t n);
// 1 when n == k (any n), 0 when n < k, else n!/(k!(n-k)!): n! and k! rounded
// to double, (n-k)! * k! formed in extended precision and rounded to double,
// and the quotient of the two doubles returned in extended precision.
Extended BinomialCoefficient(std::int32_t n, std::int32_t k);
// Sets PolygenicGenotypeCount from PolygenicLocusCount and fills
// PolygenicTransmission.
void BuildPolygenicTransmission(PolygenicTables& tables);
// PolygenicFrequency[j] = C(N-1, j-1) * (1/64), as the run sequence fills it.
void FillPolygenicFrequency(PolygenicTables& tables);
// The tables every fit uses: 3 loci, 7 genotypes, the transmission table and
// the frequencies, built by the two routines above.
PolygenicTables BuildPolygenicTables();

}  // namespace segmix

#endif  // SEGMIX_MODEL_POLYGENIC_H_
