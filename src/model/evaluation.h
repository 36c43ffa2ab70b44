// What one evaluation of the sample log-likelihood decides and reports: the
// gate that admits the parameter point, the outcome as a value, and the
// observer that receives the records a caller may want to keep. The model
// layer writes nothing itself; a null observer makes an evaluation silent.
#ifndef SEGMIX_MODEL_EVALUATION_H_
#define SEGMIX_MODEL_EVALUATION_H_

#include <cstdint>

#include "model/parameter_table.h"

namespace segmix {

// The two ways a point is admitted (see parameter_checks.h).
enum class Gate {
  kChecked,   // CheckParameters: reports, moves a value off a bound, lowers Q
  kAccepted,  // AcceptParameters: strictly inside, corrects nothing but ties
};

// Why a parameter point was refused.
enum class RejectionKind {
  kBound,      // value outside [lower, upper] (or on a bound, kAccepted)
  kVariance,   // SIG at or below 0, or not a number
  kMeanOrder,  // D above MU: value = D, upper = MU
  kFrequency,  // P1 at or below 0 (or at or above 1, kAccepted): value = P1
  kNotProbability,  // Q or Tr1..Tr3 gives a probability outside 0..1
  kNotANumber,      // the log-likelihood is not a number (row 0)
  kStepLost,        // the search would lose the value it steps from (step)
};

struct ParameterRejection {
  RejectionKind kind = RejectionKind::kBound;
  std::int32_t row = 0;  // the parameter's row (ParameterRow), 0 for none
  double value = 0;      // the value refused (see the kinds above)
  double lower = 0;      // the row's GL
  double upper = 0;      // the row's GR
  double step = 0;       // the row's step (kStepLost)
};

enum class EvaluationStatus {
  kOk,
  kRejectedPoint,    // the gate refused the point, or ln LH is not a number
  kMemberUnderflow,  // a member's weights summed to 1e-17 or less
  kPeelingFailed,    // a pedigree could not be peeled (its likelihood
                     // underflowed)
};

struct EvaluationOutcome {
  EvaluationStatus status = EvaluationStatus::kOk;
  double ln_lh = 0;         // the sample log-likelihood when kOk
  std::int32_t family = 0;  // the first family that failed (kMemberUnderflow,
                            // kPeelingFailed), else 0
  ParameterRejection rejection;  // what was refused (kRejectedPoint)

  bool Ok() const { return status == EvaluationStatus::kOk; }
  // What the search sees: ln LH, or FailureSentinel for any failure.
  double ObjectiveValue() const { return Ok() ? ln_lh : FailureSentinel; }
};

// Receives the records of an evaluation, in the order they arise. Every
// method has an empty default, so an observer overrides what it keeps.
class EvaluationObserver {
 public:
  virtual ~EvaluationObserver() = default;
  // A point refused by the kChecked gate, or a kChecked evaluation whose
  // ln LH is not a number. Not called for the kAccepted gate.
  virtual void Rejected(const ParameterRejection& /*rejection*/) {}
  // One evaluated family of a successful evaluation, or one before the
  // family that failed, in family order: its number, its size and its term
  // times its family weight.
  virtual void FamilyTerm(std::int32_t /*g*/, std::int32_t /*size*/,
                          double /*weighted_term*/) {}
  // A completed evaluation: ln LH and the table it was computed at.
  virtual void Evaluated(double /*ln_lh*/, const ParameterTable& /*table*/) {}
};

}  // namespace segmix

#endif  // SEGMIX_MODEL_EVALUATION_H_
