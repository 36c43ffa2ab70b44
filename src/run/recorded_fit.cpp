// The fit of a run, step by step, with its records. The order of the writes
// is the program's: "MAX=", the initial evaluation and its " initial LH="
// record, the search into max.dat, sigma.dat, the final pass into LH_fam.dat,
// par.err closed, "**** END OF PROGRAM ****".
#include "run/recorded_fit.h"

#include <filesystem>
#include <sstream>
#include <string>

#include "model/parameter_checks.h"
#include "run/evaluation_records.h"
#include "run/max_file.h"
#include "run/summary_file.h"
#include "run/unit_numbers.h"
#include "textio/statements.h"

namespace segmix {

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

namespace {

// The program's records of each evaluation (when there are any) and the
// caller's observer, side by side.
class RecordsAndObserver final : public EvaluationObserver {
 public:
  RecordsAndObserver(EvaluationObserver* records, EvaluationObserver* extra)
      : records_(records), extra_(extra) {}
  void Rejected(const ParameterRejection& rejection) override {
    if (records_ != nullptr) records_->Rejected(rejection);
    if (extra_ != nullptr) extra_->Rejected(rejection);
  }
  void FamilyTerm(std::int32_t g, std::int32_t size, double term) override {
    if (records_ != nullptr) records_->FamilyTerm(g, size, term);
    if (extra_ != nullptr) extra_->FamilyTerm(g, size, term);
  }
  void Evaluated(double ln_lh, const ParameterTable& table) override {
    if (records_ != nullptr) records_->Evaluated(ln_lh, table);
    if (extra_ != nullptr) extra_->Evaluated(ln_lh, table);
  }

 private:
  EvaluationObserver* records_;
  EvaluationObserver* extra_;
};

// The search's blocks to max.dat and failures to par.err, each only when its
// file is open; remembers whether the search ended without a maximum.
class SearchReport final : public MaximizerReport {
 public:
  SearchReport(TextUnits& units, bool blocks, bool failures)
      : unit_report_(units), blocks_(blocks), failures_(failures) {}
  void IterationBlock(std::int32_t iterations, std::int32_t functions,
                      double ln_lh, const ParameterTable& table) override {
    if (blocks_)
      unit_report_.IterationBlock(iterations, functions, ln_lh, table);
  }
  void Failure(MaximizerFailure failure) override {
    failed_ = true;
    if (failures_) unit_report_.Failure(failure);
  }
  bool failed() const { return failed_; }

 private:
  UnitReport unit_report_;
  bool blocks_;
  bool failures_;
  bool failed_ = false;
};

void WriteConsoleText(TextUnits& units, const RunFiles& files,
                      const char* text) {
  if (!files.console) return;
  WriteStatement record(units, kConsole);
  record << text;
  record.End();
}

}  // namespace

RunFiles ProgramRunFiles() {
  return RunFiles{.console = true,
                  .par_err = "par.err",
                  .max_file = "max.dat",
                  .sigma_file = "sigma.dat",
                  .family_file = "LH_fam.dat"};
}

RunOutcome RecordedFit(const Analysis& analysis, ParameterTable& table,
                       TextUnits& units, const RunFiles& files,
                       const RunHooks& hooks, std::int32_t worker_count) {
  const auto checkpoint = [&hooks](RunPoint point, std::int32_t evaluations) {
    if (hooks.checkpoint) hooks.checkpoint(point, evaluations);
  };
  RunOutcome outcome;
  SwitchOffLeftOutComponents(table);
  const bool messages = !files.par_err.empty();
  if (messages) units.Open(kErrorUnit, files.par_err, OpenStatus::kReplace);

  Fit fit(analysis, table, worker_count);
  if (files.console) {
    WriteStatement record(units, kConsole);
    record << "MAX=" << -1;
    record.End();
  }
  checkpoint(RunPoint::kBeforeStart, 0);
  // Records go to the console and, for a refused point, to par.err; a fit
  // with neither formats nothing.
  RunRecords records(units, /*family_records=*/false, files.console);
  RecordsAndObserver observer(files.console || messages ? &records : nullptr,
                              hooks.observer);
  outcome.start = fit.Start(&observer);
  outcome.initial_ln_lh = outcome.start.ObjectiveValue();
  if (files.console) {
    WriteStatement record(units, kConsole, "(' initial LH=',e15.8)");
    record << outcome.initial_ln_lh;
    record.End();
  }
  if (StartFailed(outcome.start)) {
    outcome.end = RunEnd::kStartRefused;
    outcome.failure_text = StartFailureText(outcome.start);
    if (outcome.start.status == EvaluationStatus::kRejectedPoint) {
      outcome.rejection = outcome.start.rejection;
    }
    outcome.estimates = table;
    return outcome;
  }
  if (const auto lost_step = fit.CheckSteps()) {
    if (messages) WriteParameterRejection(units, *lost_step);
    outcome.end = RunEnd::kStepRefused;
    outcome.rejection = *lost_step;
    outcome.estimates = table;
    return outcome;
  }

  if (!files.max_file.empty()) {
    units.Open(kResultUnit, files.max_file, OpenStatus::kReplace);
  }
  // The results of an earlier run never stand beside a new max.dat. A file
  // that cannot be removed cannot be rewritten either; the write says so.
  for (const std::string* name : {&files.sigma_file, &files.family_file}) {
    std::error_code ignored;
    if (!name->empty()) std::filesystem::remove(units.PathOf(*name), ignored);
  }
  SearchReport report(units, !files.max_file.empty(), messages);
  std::int32_t evaluations = 0;
  outcome.search = fit.Search(&observer, &report, [&] {
    checkpoint(RunPoint::kBeforeEvaluation, evaluations);
    ++evaluations;
  });
  outcome.converged = !report.failed();
  outcome.estimates = table;
  units.Close(kResultUnit);
  checkpoint(RunPoint::kAfterSearch, evaluations);

  if (!files.sigma_file.empty()) {
    units.Open(kResultUnit, files.sigma_file, OpenStatus::kNone);
    WriteSummaryFile(units, kResultUnit, analysis.counts.observed,
                     outcome.search, table);
    units.Close(kResultUnit);
  }
  checkpoint(RunPoint::kAfterSummary, evaluations);

  const bool family_records = !files.family_file.empty();
  if (family_records) {
    units.Open(kFamilyUnit, files.family_file, OpenStatus::kNone);
  }
  RunRecords final_records(units, family_records, files.console);
  RecordsAndObserver final_observer(
      files.console || messages || family_records ? &final_records : nullptr,
      hooks.observer);
  outcome.final_pass = fit.FinalPass(&final_observer);
  units.Close(kFamilyUnit);
  units.Close(kErrorUnit);
  WriteConsoleText(units, files, "**** END OF PROGRAM ****");
  return outcome;
}

RejectionText RejectionMessageParts(const ParameterRejection& rejection) {
  std::ostringstream console;
  RejectionText text;
  TextUnits units(console);
  units.OpenCapture(kErrorUnit, "par.err");
  WriteParameterRejection(units, rejection);
  text.par_err = units.Captured(kErrorUnit);
  units.CloseAll();
  text.console = console.str();
  return text;
}

std::string RejectionMessage(const ParameterRejection& rejection) {
  const RejectionText text = RejectionMessageParts(rejection);
  return text.par_err + text.console;
}

}  // namespace segmix
