// segmix-check's whole check of one run's inputs: par.inp, iway.dat, the
// trait file and the covariate files of a folder, read exactly as a run reads
// them (with the run's own readers and validators), with one likelihood
// evaluation at the start and without writing anything in the folder.
#ifndef SEGMIX_CHECK_CHECK_INPUTS_H_
#define SEGMIX_CHECK_CHECK_INPUTS_H_

#include <filesystem>
#include <iosfwd>

#include "review/findings.h"

namespace segmix {

// Checks the inputs in `dir`. Input a run refuses before its first
// evaluation (a missing or unreadable file, data the readers or validators
// reject, a starting point the parameter gate rejects, a step the search
// would lose, a start whose one evaluation fails as the run's does: an
// underflowing likelihood) gives a refusal with the run's exit status and
// message; the findings gathered before it are kept. Otherwise the findings
// are the warnings and information lines of ReviewControlText,
// ReviewParameters, ReviewDataFiles, ReviewFamilies, ReviewTrait and
// ReviewProbandTraits, in that order, then a warning for a fixed value the
// search's gate refuses at every point (a parameter fixed on a bound of its
// range, such as Q = 1).
//
// The run's readers open their files by name in the working directory, so
// the working directory is `dir` during the call and restored afterwards:
// not for use from several threads at once.
CheckReport CheckInputs(const std::filesystem::path& dir);

// The program: `segmix-check [DIR]` (DIR defaults to the working directory),
// `--help`, `--version`. Writes FormatReport to `out` and a refusal's text to
// `err`; returns the exit status (CheckReport::ExitStatus; 3 for a command
// line it cannot use, with the usage on `err`).
int RunCheckCommand(int argc, const char* const* argv, std::ostream& out,
                    std::ostream& err);

}  // namespace segmix

#endif  // SEGMIX_CHECK_CHECK_INPUTS_H_
