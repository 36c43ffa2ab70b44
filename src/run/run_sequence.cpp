// The run sequence, step by step, and the top of the program that turns every
// early end into its report and exit status.
#include "run/run_sequence.h"

#include <cstdint>
#include <exception>
#include <new>
#include <ostream>
#include <string>

#include "model/parameter_table.h"
#include "run/analysis.h"
#include "run/recorded_fit.h"
#include "run/run_guard.h"
#include "run/unit_numbers.h"
#include "textio/termination.h"

namespace segmix {

bool InitialEvaluationFailed(double initial_ln_lh) {
  return initial_ln_lh <= kFailureThreshold;
}

int RunSequence(TextUnits& units, RunFolderLock& lock) {
  units.Open(kControlUnit, "par.inp", OpenStatus::kOld);
  // Nothing is written before the folder is this run's alone. par.err then
  // holds this run's messages only, even when the load is refused (the fit
  // opens it once more, still empty, and keeps it to the end).
  lock.Take();
  units.Open(kErrorUnit, "par.err", OpenStatus::kReplace);
  const Analysis analysis = LoadAnalysis(units);

  ParameterTable parameters = analysis.parameters;
  RunHooks hooks;
  hooks.checkpoint = [](RunPoint point, std::int32_t evaluations) {
    switch (point) {
      case RunPoint::kBeforeStart:
        StopIfSignalled(
            "before the first evaluation; max.dat, sigma.dat and LH_fam.dat "
            "were not written.");
        return;
      case RunPoint::kBeforeEvaluation:
        // Between two evaluations: max.dat holds whole iteration blocks.
        // The text is built only once a signal has come.
        if (ReceivedStopSignal() != 0) {
          StopIfSignalled("during the search, after " +
                          std::to_string(evaluations) +
                          " of its evaluations; max.dat holds the iteration "
                          "blocks written until then. sigma.dat and "
                          "LH_fam.dat were not written.");
        }
        return;
      case RunPoint::kAfterSearch:
        StopIfSignalled("after the search (" + std::to_string(evaluations) +
                        " evaluations); max.dat is complete. sigma.dat and "
                        "LH_fam.dat were not written.");
        return;
      case RunPoint::kAfterSummary:
        StopIfSignalled(
            "after writing sigma.dat; max.dat and sigma.dat are complete. "
            "LH_fam.dat was not written.");
        return;
    }
  };
  const RunOutcome run =
      RecordedFit(analysis, parameters, units, ProgramRunFiles(), hooks);
  switch (run.end) {
    case RunEnd::kCompleted:
      return kExitNormal;
    case RunEnd::kStartRefused:
      // No result file was opened. The parameter checks have said why in
      // par.err or on the console; any other reason goes to standard error.
      throw StopRequest(TerminationKind::kRejectedStart, run.failure_text);
    case RunEnd::kStepRefused:
      Stop(TerminationKind::kRejectedStart);  // par.err names the row
  }
  return kExitNormal;
}

int RunProgram(std::ostream& out, std::ostream& err) {
  // Declared before the units: the lock is released only after every file
  // of the run is flushed and closed.
  RunFolderLock lock;
  TextUnits units(out);
  // A stop signal while an input that is a named pipe waits for its writer
  // ends the run there (every other wait is between evaluations).
  units.SetWaitInterrupted([](std::string_view name) {
    StopIfSignalled("while waiting for a program to write the named pipe \"" +
                    std::string(name) +
                    "\"; the run had not started: max.dat, sigma.dat and "
                    "LH_fam.dat were not written.");
  });
  try {
    const int status = RunSequence(units, lock);
    units.CloseAll();
    return status;
  } catch (const RunTermination& termination) {
    // Units first: what the run wrote before its end reaches its files and
    // the console before the report appears.
    units.CloseAll();
    err << termination.StderrText();
    err.flush();
    return termination.ExitStatus();
  } catch (const std::bad_alloc&) {
    units.CloseAll();
    err << "segmix: out of memory: the input needs more storage than this "
           "machine can give. Check the counts in par.inp and iway.dat and "
           "the length of the records in the data files.\n";
    err.flush();
    return kExitRejected;
  } catch (const std::exception& failure) {
    // Not an input or file problem: a fault of the program itself. The
    // results written so far still reach their files.
    units.CloseAll();
    err << "segmix: internal error: " << failure.what()
        << ". Please report it with the input files.\n";
    err.flush();
    return kExitRejected;
  }
}

}  // namespace segmix
