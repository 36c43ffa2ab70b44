// The run's fit with its records: from a start table, the initial evaluation,
// the step check, the search, the summary file and the final pass, each
// writing the program's records to where the caller points them. segmix's
// run (run_sequence.h) and segmix-fit's model folders both come from this one
// sequence, so the same start gives the same bytes in both.
//
//   TextUnits units(console, folder);       // console records, relative names
//   ParameterTable table = analysis.parameters;
//   const RunOutcome run = RecordedFit(analysis, table, units,
//                                      ProgramRunFiles());
//   if (run.end != RunEnd::kCompleted) report(run.failure_text);
#ifndef SEGMIX_RUN_RECORDED_FIT_H_
#define SEGMIX_RUN_RECORDED_FIT_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "maximize/maximize.h"
#include "model/evaluation.h"
#include "model/parameter_table.h"
#include "run/analysis.h"
#include "textio/text_units.h"

namespace segmix {

// Where the records of a fit go. A file name is opened as TextUnits::Open
// opens it (relative to the units' directory); an empty name means the file
// is not written. `console` switches the console records on. The default, no
// console and no file, is a silent fit that formats nothing.
struct RunFiles {
  bool console = false;
  std::string par_err;      // emptied when opened, closed after the final pass
  std::string max_file;     // emptied when the search starts
  std::string sigma_file;   // removed when the search starts, then written
  std::string family_file;  // removed when the search starts, then written
};

// The program's own files, in the units' directory.
RunFiles ProgramRunFiles();

// The places at which the caller's checkpoint is called, in this order.
enum class RunPoint {
  kBeforeStart,       // before the initial evaluation
  kBeforeEvaluation,  // before each of the search's evaluations
  kAfterSearch,       // max.dat complete and closed
  kAfterSummary,      // sigma.dat complete; the final pass comes next
};

struct RunHooks {
  // Called at each RunPoint with the number of search evaluations made so
  // far; may throw to end the fit there (the units are the caller's to
  // close).
  std::function<void(RunPoint, std::int32_t evaluations)> checkpoint;
  // Sees every evaluation of the fit beside the program's records (the
  // start, the search's, the final pass); RunPoint tells them apart.
  EvaluationObserver* observer = nullptr;
};

enum class RunEnd {
  kCompleted,     // searched, summary written, final pass made
  kStartRefused,  // StartFailed(start): nothing searched, no result file
  kStepRefused,   // a step the search would lose: nothing searched
};

struct RunOutcome {
  RunEnd end = RunEnd::kCompleted;
  EvaluationOutcome start;
  double initial_ln_lh = 0;  // what " initial LH=" shows
  // Why the start was refused, as segmix says it on standard error; empty
  // when par.err or the console already say it (then see `rejection`).
  std::string failure_text;
  // The refused point (the gate's, or kStepLost for a step), when there is
  // one: RejectionMessage gives its par.err or console text.
  std::optional<ParameterRejection> rejection;
  MaximizerResult search;  // kCompleted
  bool converged = false;  // the search ended without a failure message
  // The table as the search left it: sigma.dat's values (the final pass may
  // still move a value lying on a bound in the caller's table).
  ParameterTable estimates;
  EvaluationOutcome final_pass;  // kCompleted
};

// Fits `table` (the start on entry; on return as the final pass left it) to
// `analysis`, writing to `units` (its console) and to `files`: "MAX=" and the
// initial LH record, the evaluation records, max.dat, sigma.dat, LH_fam.dat,
// par.err and "**** END OF PROGRAM ****", in the program's order. Left-out
// components of `table` are switched off first. Opens and closes units 2, 3
// and 25 itself. Throws what the text layer throws for a file that cannot be
// written, and whatever the checkpoint throws.
RunOutcome RecordedFit(const Analysis& analysis, ParameterTable& table,
                       TextUnits& units, const RunFiles& files,
                       const RunHooks& hooks = {},
                       std::int32_t worker_count = 0);

// Why a refused start failed, as segmix says it on standard error (which
// family first, and what usually causes it); empty when par.err or the
// console already say it (a point the gate refused).
std::string StartFailureText(const EvaluationOutcome& start);

// `rejection`'s message as a run writes it: to par.err, or to the console
// (the order of the means).
struct RejectionText {
  std::string par_err, console;
};
RejectionText RejectionMessageParts(const ParameterRejection& rejection);
// The two parts as one text.
std::string RejectionMessage(const ParameterRejection& rejection);

}  // namespace segmix

#endif  // SEGMIX_RUN_RECORDED_FIT_H_
