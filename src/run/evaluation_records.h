// The records a run keeps of its evaluations: RunRecords, the evaluation
// observer that writes today's records (the evaluation line on the console,
// the LH_fam.dat record of each family in the final pass, the rejection
// messages in par.err or on the console), and the rejection messages alone.
#ifndef SEGMIX_RUN_EVALUATION_RECORDS_H_
#define SEGMIX_RUN_EVALUATION_RECORDS_H_

#include <cstdint>

#include "model/evaluation.h"
#include "model/parameter_table.h"
#include "run/unit_numbers.h"
#include "textio/text_units.h"

namespace segmix {

// Writes the message of a refused point: the mean order on the console (two
// free-form records), every other kind on unit 25, which must be open.
void WriteParameterRejection(TextUnits& units,
                             const ParameterRejection& rejection);

class RunRecords final : public EvaluationObserver {
 public:
  // With `family_records`, FamilyTerm writes the free-form record
  // "g n_g term x weight" to unit 3, which must then be open. Without
  // `console_records`, nothing goes to the console (evaluation lines, the
  // order of the means). A refusal's par.err message is written when unit 25
  // is open.
  RunRecords(TextUnits& units, bool family_records, bool console_records = true)
      : units_(units),
        family_records_(family_records),
        console_records_(console_records) {}
  void Rejected(const ParameterRejection& rejection) override;
  void FamilyTerm(std::int32_t g, std::int32_t size,
                  double weighted_term) override;
  // The evaluation line "(f15.4,9f8.5)": ln LH, Q, MU, A, D, SIG.
  void Evaluated(double ln_lh, const ParameterTable& table) override;

 private:
  TextUnits& units_;
  bool family_records_;
  bool console_records_;
};

}  // namespace segmix

#endif  // SEGMIX_RUN_EVALUATION_RECORDS_H_
