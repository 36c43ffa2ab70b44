// A screening evaluation's peel of one family (SampleSettings::screening):
// the nuclear families of PeelFamily, in its order, onto the same
// connectors, rescaled as it rescales them, but every sum and product formed
// in double arithmetic and each child's sums with the transmission tables
// factored:
//   sum over (gc, jc) of M(gc | gA, gB) x T(jc | jA, jB) x W(gc, jc)
//     = sum over gc of M(gc | gA, gB) x R_gc(jA, jB),
//   R_g(jA, jB) = sum over jc of T(jc | jA, jB) x W(g, jc),
// and onto a child, the same factoring of its parents' pairs. The double
// unit runs these loops several times as fast as the x87 unit runs the
// extended ones, and the factoring takes about a ninth of the products
// under general transmission: with the densities in double arithmetic too
// (ScreeningMemberDensities), an evaluation of the benchmark sample takes a
// quarter of the exact one's time under Mendelian transmission and an
// eighth under general transmission.
//
// The value is the exact peel's to double rounding (a relative 1e-15 or so
// per nuclear family), never its bits: only for searches whose end points an
// exact run polishes. Nothing is allocated; scratch lives on the stack.
#ifndef SEGMIX_MODEL_SCREENING_PEEL_H_
#define SEGMIX_MODEL_SCREENING_PEEL_H_

#include <cstdint>

#include "model/family_likelihood.h"
#include "model/peel_kernels.h"
#include "model/trait_density.h"

namespace segmix {

// Fills t.major_by_pair and t.known_sums from t's tables once
// DescribeTransmission has formed them, for the evaluations that set
// t.screening.
void DescribeScreening(Transmission& t);

// PeelFamily's contract on `weights` and LL, in double arithmetic, with
// finite tables `t` (symmetric or not) that DescribeScreening has
// completed. Returns false, with the weights
// partly peeled, wherever PeelFamily would fail and also where double
// arithmetic cannot be trusted: a connector's scale sum below 1e-280 (its
// weights may have lost precision to underflow) or not finite. The caller
// then prepares the weights again and peels them exactly.
bool ScreeningPeelFamily(const LikelihoodModel& model, const Transmission& t,
                         std::int32_t f, GenotypeWeights& weights, double& LL);

}  // namespace segmix

#endif  // SEGMIX_MODEL_SCREENING_PEEL_H_
