// The program's run: read par.inp, load the families, count the members,
// evaluate the starting point, maximize, write sigma.dat and LH_fam.dat, all
// in the working directory, with the console report on the way.
#ifndef SEGMIX_RUN_RUN_SEQUENCE_H_
#define SEGMIX_RUN_RUN_SEQUENCE_H_

#include <iosfwd>

#include "textio/text_units.h"

namespace segmix {

// True when the initial log-likelihood ends the run: at or below the
// single-precision -1e17 (-99999998430674944). Not a number goes on.
bool InitialEvaluationFailed(double initial_ln_lh);

class RunFolderLock;

// The whole run on `units` (its console included); opens and closes units 1,
// 2, 3 and 25 itself, and takes `lock` once par.inp is open, before anything
// is written (par.err and max.dat are emptied when opened; sigma.dat and
// LH_fam.dat of an earlier run are removed when max.dat is started). Between
// evaluations it ends on a stop signal (StopIfSignalled, run_guard.h).
// Returns the exit status of a completed run (0). Every early end is thrown
// as a RunTermination: TextIoError (status 2) for an unreadable or missing
// file, InputRejected (1) for a control file or data
// set the program refuses, StopRequest (1) for a capacity stop and for a
// starting point whose evaluation failed, InputRejected (1) when another run
// holds the folder's lock, RunTermination (128 + signal) for a stop signal.
// Units left open by a throw are the caller's to close.
int RunSequence(TextUnits& units, RunFolderLock& lock);

// The top of the program: runs RunSequence with `out` as the console, catches
// every RunTermination, flushes and closes every unit, writes its text to
// `err` and returns the exit status. Any other exception (memory exhausted,
// or a fault of the program) is caught too: the units are closed, a one-line
// message goes to `err`, and the status is 1.
int RunProgram(std::ostream& out, std::ostream& err);

}  // namespace segmix

#endif  // SEGMIX_RUN_RUN_SEQUENCE_H_
