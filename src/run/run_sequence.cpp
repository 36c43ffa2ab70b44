// The run sequence, step by step, and the top of the program that turns every
// early end into its report and exit status.
#include "run/run_sequence.h"

#include <cstdint>
#include <exception>
#include <new>
#include <ostream>
#include <string>

#include "maximize/maximize.h"
#include "model/evaluation.h"
#include "model/parameter_table.h"
#include "run/analysis.h"
#include "run/evaluation_records.h"
#include "run/max_file.h"
#include "run/run_guard.h"
#include "run/summary_file.h"
#include "run/unit_numbers.h"
#include "textio/statements.h"
#include "textio/termination.h"

namespace segmix {
namespace {

// Why a start whose reason is not in par.err failed: which family first, and
// what usually causes it. Empty when par.err or the console already say it.
std::string StartFailureText(const EvaluationOutcome& start) {
  std::string cause;
  switch (start.status) {
    case EvaluationStatus::kMemberUnderflow:
      cause =
          "the genotype weights of one of its members summed to 1e-17 "
          "or less (underflow)";
      break;
    case EvaluationStatus::kPeelingFailed:
      cause =
          "its pedigree likelihood underflowed while its nuclear "
          "families were peeled";
      break;
    case EvaluationStatus::kOk:
      return "segmix: the log-likelihood at the starting values, " +
             std::to_string(start.ln_lh) +
             ", is at or below -1e17, which counts as a failed evaluation. "
             "Check the starting values in par.inp and the trait file.\n";
    case EvaluationStatus::kRejectedPoint:
      return "";  // par.err (or the console) says why
  }
  return "segmix: the starting values give no likelihood: family " +
         std::to_string(start.family) + " of iway.dat failed first: " + cause +
         ". This usually means a trait value far from the genotype means (a "
         "value in the wrong unit, or a missing-value code other than -999 "
         "such as 1e30) or a residual variance SIG far too small for the "
         "data. Check the trait file and the starting values of MU, A, D and "
         "SIG in par.inp.\n";
}

}  // namespace

bool InitialEvaluationFailed(double initial_ln_lh) {
  return initial_ln_lh <= kFailureThreshold;
}

int RunSequence(TextUnits& units, RunFolderLock& lock) {
  // Load: par.inp, par.err (open until the end), the family data, the counts.
  units.Open(kControlUnit, "par.inp", OpenStatus::kOld);
  // Nothing is written before the folder is this run's alone. par.err then
  // holds this run's messages only.
  lock.Take();
  units.Open(kErrorUnit, "par.err", OpenStatus::kReplace);
  const Analysis analysis = LoadAnalysis(units);
  {
    WriteStatement record(units, kConsole);
    record << "N_izm=" << analysis.counts.observed
           << " loop=" << analysis.counts.status0;
    record.End();
  }

  // Fit, writing today's records on the way.
  ParameterTable parameters = analysis.parameters;
  Fit fit(analysis, parameters);
  {
    WriteStatement record(units, kConsole);
    record << "MAX=" << -1;
    record.End();
  }
  StopIfSignalled(
      "before the first evaluation; max.dat, sigma.dat and LH_fam.dat were not "
      "written.");
  RunRecords records(units, /*family_records=*/false);
  const EvaluationOutcome start = fit.Start(&records);
  const double initial_ln_lh = start.ObjectiveValue();
  {
    WriteStatement record(units, kConsole, "(' initial LH=',e15.8)");
    record << initial_ln_lh;
    record.End();
  }
  // A refused start: no result file is opened. The parameter checks have
  // said why in par.err or on the console; any other reason goes to
  // standard error.
  if (InitialEvaluationFailed(initial_ln_lh)) {
    throw StopRequest(TerminationKind::kRejectedStart, StartFailureText(start));
  }
  if (const auto lost_step = fit.CheckSteps()) {
    WriteParameterRejection(units, *lost_step);
    Stop(TerminationKind::kRejectedStart);
  }

  units.Open(kResultUnit, "max.dat", OpenStatus::kReplace);
  RemoveEarlierResults();
  UnitReport report(units);
  std::int32_t evaluations = 0;
  const MaximizerResult result = fit.Search(&records, &report, [&evaluations] {
    // Between two evaluations: max.dat holds whole iteration blocks. The
    // text is built only once a signal has come.
    if (ReceivedStopSignal() != 0) {
      StopIfSignalled("during the search, after " +
                      std::to_string(evaluations) +
                      " of its evaluations; max.dat holds the iteration "
                      "blocks written until then. sigma.dat and LH_fam.dat "
                      "were not written.");
    }
    ++evaluations;
  });
  units.Close(kResultUnit);
  StopIfSignalled("after the search (" + std::to_string(evaluations) +
                  " evaluations); max.dat is complete. sigma.dat and "
                  "LH_fam.dat were not written.");

  // Write: sigma.dat, then the final pass with LH_fam.dat.
  units.Open(kResultUnit, "sigma.dat", OpenStatus::kNone);
  WriteSummaryFile(units, kResultUnit, analysis.counts.observed, result,
                   parameters);
  units.Close(kResultUnit);

  StopIfSignalled(
      "after writing sigma.dat; max.dat and sigma.dat are complete. LH_fam.dat "
      "was not written.");
  units.Open(kFamilyUnit, "LH_fam.dat", OpenStatus::kNone);
  RunRecords final_records(units, /*family_records=*/true);
  fit.FinalPass(&final_records);
  units.Close(kFamilyUnit);

  units.Close(kErrorUnit);
  {
    WriteStatement record(units, kConsole);
    record << "**** END OF PROGRAM ****";
    record.End();
  }
  return kExitNormal;
}

int RunProgram(std::ostream& out, std::ostream& err) {
  // Declared before the units: the lock is released only after every file
  // of the run is flushed and closed.
  RunFolderLock lock;
  TextUnits units(out);
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
