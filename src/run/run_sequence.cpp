// The run sequence, step by step, and the top of the program that turns every
// early end into its report and exit status.
#include "run/run_sequence.h"

#include <cstdint>
#include <exception>
#include <new>
#include <ostream>
#include <span>
#include <string>

#include "data/family_store.h"
#include "maximize/maximize.h"
#include "model/model_quantities.h"
#include "model/parameter_table.h"
#include "model/polygenic.h"
#include "model/sample_likelihood.h"
#include "run/control_file.h"
#include "run/member_counts.h"
#include "run/run_guard.h"
#include "run/summary_file.h"
#include "textio/statements.h"
#include "textio/termination.h"

namespace segmix {
namespace {

constexpr int kControlUnit = 1;   // par.inp
constexpr int kResultUnit = 2;    // max.dat, then sigma.dat
constexpr int kFamilyUnit = 3;    // LH_fam.dat
constexpr int kErrorUnit = 25;    // par.err

// The components whose parameter is zeroed when left out of the model, in
// the order they are switched off.
constexpr ParameterRow kSwitchable[] = {kB1, kB2, kB3, kB4, kB5, kPga, kSex};

void SwitchOffLeftOutComponents(ParameterTable& parameters) {
  for (const ParameterRow row : kSwitchable) {
    if (parameters.in_model[row] == 0) parameters.value[row] = 0;
  }
}

// The maximizer's settings of this program: 1e-10 and 1e-5 as single-precision
// values widened to double, not the doubles nearest to 1e-10 and 1e-5.
MaximizerSettings RunMaximizerSettings() {
  MaximizerSettings settings;
  settings.improvement_tolerance = static_cast<double>(1e-10f);
  settings.contraction_factor = 0.5;
  settings.step_tolerance = static_cast<double>(1e-5f);
  settings.iteration_limit = 500;
  settings.print_switch = 1;
  return settings;
}

}  // namespace

bool InitialEvaluationFailed(double initial_ln_lh) {
  return initial_ln_lh <= kFailureThreshold;
}

int RunSequence(TextUnits& units, RunFolderLock& lock) {
  PolygenicTables polygenic;
  polygenic.PolygenicLocusCount = 3;
  polygenic.PolygenicGenotypeCount = 7;

  units.Open(kControlUnit, "par.inp", OpenStatus::kOld);
  // Nothing is written before the folder is this run's alone. par.err then
  // holds this run's messages only.
  lock.Take();
  units.Open(kErrorUnit, "par.err", OpenStatus::kReplace);

  const std::int32_t parameter_count = kParameterCount;
  ControlSettings settings;
  ParameterTable parameters;
  ReadControlFile(units, settings, parameters, parameter_count);
  units.Close(kControlUnit);

  SwitchOffLeftOutComponents(parameters);

  BuildPolygenicTransmission(polygenic);
  FillPolygenicFrequency(polygenic);

  FamilyStore store;
  ReadFamilyData(units, settings.data_file_name,
                 std::span<const std::string>(settings.covariate_file_names)
                     .subspan(1, settings.covariate_count),
                 store);
  // ReadFamilyData has checked the structure itself. The sex codes matter
  // only when Sex is in the model, where the trait density picks its means
  // by them: check them before anything is counted or evaluated.
  if (parameters.in_model[kSex] != 0) {
    ValidateSexCodes(store, settings.selection_flags, settings.family_count);
  }

  const MemberCounts counts = CountMembers(settings, store, units);
  {
    WriteStatement record(units, kConsole);
    record << "N_izm=" << counts.observed << " loop=" << counts.status0;
    record.End();
  }

  SampleLikelihood sample(
      parameters, store, polygenic,
      SampleSettings{.covariate_count = settings.covariate_count,
                     .proband_switch = settings.proband_switch,
                     .selection_flags = settings.selection_flags},
      units);

  sample.RunMode = -1;
  {
    WriteStatement record(units, kConsole);
    record << "MAX=" << sample.RunMode;
    record.End();
  }
  StopIfSignalled(
      "before the first evaluation; max.dat, sigma.dat and LH_fam.dat were not "
      "written.");
  const double initial_ln_lh = sample.SampleLogLikelihood();
  {
    WriteStatement record(units, kConsole, "(' initial LH=',e15.8)");
    record << initial_ln_lh;
    record.End();
  }
  // A rejected starting point: the parameter checks have already said why,
  // in par.err or on the console. No result file is opened.
  if (InitialEvaluationFailed(initial_ln_lh)) Stop(kExitRejected);

  sample.RunMode = 1;
  units.Open(kResultUnit, "max.dat", OpenStatus::kReplace);
  RemoveEarlierResults();
  std::int32_t evaluations = 0;
  const MaximizerResult result = Maximize(
      parameter_count, parameters, RunMaximizerSettings(),
      [&sample, &evaluations] {
        // Between two evaluations: max.dat holds whole iteration blocks.
        StopIfSignalled("during the search, after " +
                        std::to_string(evaluations) +
                        " of its evaluations; max.dat holds the iteration "
                        "blocks written until then. sigma.dat and LH_fam.dat "
                        "were not written.");
        ++evaluations;
        return sample.SampleLogLikelihood();
      },
      units);
  units.Close(kResultUnit);
  StopIfSignalled("after the search (" + std::to_string(evaluations) +
                  " evaluations); max.dat is complete. sigma.dat and "
                  "LH_fam.dat were not written.");

  units.Open(kResultUnit, "sigma.dat", OpenStatus::kNone);
  WriteSummaryFile(units, kResultUnit, counts.observed, result, parameters);
  units.Close(kResultUnit);

  StopIfSignalled(
      "after writing sigma.dat; max.dat and sigma.dat are complete. LH_fam.dat "
      "was not written.");
  sample.RunMode = 2;
  units.Open(kFamilyUnit, "LH_fam.dat", OpenStatus::kNone);
  sample.SampleLogLikelihood();
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
