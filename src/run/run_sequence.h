// The program's run: load the analysis (par.inp, the families, the member
// counts), fit the table of par.inp from its starting point (run/analysis.h)
// and write its records: the console report, par.err, max.dat, sigma.dat
// and LH_fam.dat, all in the working directory. The run layer is the only
// one that names the units: 1 par.inp, 2 the data files then max.dat and
// sigma.dat, 3 LH_fam.dat, 25 par.err.
#ifndef SEGMIX_RUN_RUN_SEQUENCE_H_
#define SEGMIX_RUN_RUN_SEQUENCE_H_

#include <iosfwd>

#include "textio/text_units.h"

namespace segmix {

// True when the initial log-likelihood ends the run: at or below the
// single-precision -1e17 (-99999998430674944). Not a number goes on (the
// evaluation itself refuses a log-likelihood that is not a number).
bool InitialEvaluationFailed(double initial_ln_lh);

class RunFolderLock;

// The whole run on `units` (its console included); opens and closes units 1,
// 2, 3 and 25 itself, and takes `lock` once par.inp is open, before anything
// is written (par.err and max.dat are emptied when opened; sigma.dat and
// LH_fam.dat of an earlier run are removed when max.dat is started). Between
// evaluations it ends on a stop signal (StopIfSignalled, run_guard.h).
// Returns the exit status of a completed run (0). Every early end is thrown
// as a RunTermination: TextIoError (status 2) for an unreadable or missing
// file, InputRejected (1) for a control file or data set the program
// refuses, StopRequest (1) for a capacity stop, for a starting point whose
// evaluation failed (its text says which family failed first and why when
// par.err does not) and for a step the search would lose (par.err names its
// row), InputRejected (1) when another run
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
