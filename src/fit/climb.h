// The screening search of segmix-fit's starts: a quasi-Newton (BFGS) climb of
// the sample ln LH inside the bounds, on silent evaluations, with gradients by
// finite differences. It reaches a maximum in far fewer evaluations than the
// pattern search, which then only polishes the best end point of a model (so
// that the model's folder is still one segmix run from its par.inp).
//
// The free rows are scaled by their steps in the start table (1/100 of the
// bound range when a step is 0): the climb works in units of one step. The
// first gradient is by central differences of 1e-3 units and also gives the
// diagonal curvature that scales the first quasi-Newton step; later gradients
// are forward differences of 1e-6 units, taken inward at a bound; lambda's
// (a transformed trait's power) are central differences of 1e-2 in lambda
// throughout (standard_errors.h says why). Each step
// goes along the quasi-Newton direction of the rows not held at a bound (a
// row at a bound whose gradient points out of the region is held), at most
// 1 unit in any row at first (longer moves leave the basin a start is in
// more often), twice as far after each step taken whole at that cap (up to
// 16 units: a long flat ridge is followed in few steps) and 1 unit again
// after any other step, cut back until ln LH rises enough (Armijo); a refused
// point counts as a failure and cuts the step too. The climb ends when the rise
// the quadratic model still promises is below 1e-10 ln LH units, when two steps
// in turn gain less than 1e-11, after 200 steps, or when it is plainly heading
// to a maximum already known (below).
//
// Values are kept strictly inside GL..GR (the search's gate refuses a value on
// a bound): 1e-8 of the range inside.
#ifndef SEGMIX_FIT_CLIMB_H_
#define SEGMIX_FIT_CLIMB_H_

#include <vector>

#include "fit/standard_errors.h"
#include "model/parameter_table.h"

namespace segmix::fit {

// A maximum another start of the same model reached.
struct KnownMaximum {
  ParameterTable table;
  double ln_lh = 0;
};

struct ClimbEnd {
  ParameterTable table;  // where the climb ended
  double initial_ln_lh = 0;
  double ln_lh = 0;
  long evaluations = 0;
  int iterations = 0;
  bool failed_start = false;  // the start itself could not be evaluated
  bool converged = false;     // ended by the promised-rise or stall test
  // Index into the known maxima when the climb stopped because it was heading
  // to that one: its quasi-Newton target within 0.02 units of the maximum in
  // every row, its point within 1 unit, and its ln LH below the maximum's by
  // at most 2 (and by no more than the quadratic model can explain, twice the
  // promised rise plus 0.01). -1 otherwise.
  int joined = -1;
};

// Climbs from `start` over `free_rows` (the rows the model's search moves).
ClimbEnd Climb(const LogLikelihood& ln_lh, const ParameterTable& start,
               const std::vector<int>& free_rows,
               const std::vector<KnownMaximum>& known = {});

}  // namespace segmix::fit

#endif  // SEGMIX_FIT_CLIMB_H_
