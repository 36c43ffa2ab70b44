// The program's run: read par.inp, load the families, evaluate the starting
// point, maximize, write sigma.dat and LH_fam.dat, in the working directory.
#ifndef SEGMIX_RUN_RUN_SEQUENCE_H_
#define SEGMIX_RUN_RUN_SEQUENCE_H_

#include <iosfwd>

#include "textio/text_units.h"

namespace segmix {

// The whole run on open `units` (console included). Returns the exit status
// of a completed run; early ends are thrown as RunTermination.
int RunSequence(TextUnits& units);

// The top of the program: runs RunSequence with `out` as the console, catches
// every RunTermination, flushes and closes every unit, writes its text to
// `err` and returns the exit status.
int RunProgram(std::ostream& out, std::ostream& err);

}  // namespace segmix

#endif  // SEGMIX_RUN_RUN_SEQUENCE_H_
