// Model quantities: what the likelihood reads for the current parameter
// point, derived by CheckParameters / AcceptParameters at every accepted
// evaluation, and the polygenic tables built once per run.
#ifndef SEGMIX_MODEL_MODEL_QUANTITIES_H_
#define SEGMIX_MODEL_MODEL_QUANTITIES_H_

#include <array>
#include <cstdint>

namespace segmix {

// Mendelian M(o | g1, g2) at position (o-1) + 3(g1-1) + 9(g2-1).
inline constexpr std::array<double, 27> kMendelianTransmission = {
    1,   0,   0, 0.5,  0.5, 0,    0, 1,   0,    // g2 = 1
    0.5, 0.5, 0, 0.25, 0.5, 0.25, 0, 0.5, 0.5,  // g2 = 2
    0,   1,   0, 0,    0.5, 0.5,  0, 0,   1};   // g2 = 3

struct ModelQuantities {
  // Hardy-Weinberg frequencies of major genotypes 1..3 (index 0 unused).
  std::array<double, 4> GenotypeFrequency{};
  // GenotypeMean[s][g]: sex class s = 1..2, major genotype g = 1..3.
  std::array<std::array<double, 4>, 3> GenotypeMean{};
  double pga = 0;  // polygenic effect per increasing allele
  double SIG = 0;  // residual variance (a variance, not a standard deviation)
  std::array<double, 6> B{};  // covariate coefficients B[1..5]
  // M(o | g1, g2) at (o-1) + 3(g1-1) + 9(g2-1); Mendelian until the general
  // transmission model rebuilds it, and never restored during a run.
  std::array<double, 27> MajorTransmission = kMendelianTransmission;
};

struct PolygenicTables {
  std::int32_t PolygenicLocusCount = 3;
  std::int32_t PolygenicGenotypeCount = 7;
  // T(o | a, b) at o + 7a + 49b, o, a, b = 0..6 increasing alleles.
  std::array<double, 343> PolygenicTransmission{};
  // PolygenicFrequency[j], j = 1..7: C(6, j-1) / 64 (index 0 unused).
  std::array<double, 8> PolygenicFrequency{};
};

}  // namespace segmix

#endif  // SEGMIX_MODEL_MODEL_QUANTITIES_H_
