// The starting point of the parameter checks' tests, shared by the tests of
// the checks themselves (tests/model) and of the run's messages for the
// points they refuse (tests/run).
#ifndef SEGMIX_TESTS_MODEL_PARAMETER_CHECKS_SUPPORT_H_
#define SEGMIX_TESTS_MODEL_PARAMETER_CHECKS_SUPPORT_H_

#include "model/parameter_table.h"

namespace segmix::test {

inline constexpr double kSentinel = FailureSentinel;
// The bound margin: 1e-6 in single precision, widened.
inline constexpr double kMargin = static_cast<double>(1e-6f);

// An admissible point: Q, MU, A, D and SIG estimated with flag 1 strictly
// inside their bounds, D <= MU, everything else fixed, no ties, Tr1 out of
// the model.
inline ParameterTable BasePoint() {
  ParameterTable p;
  for (int j = 1; j <= kParameterCount; ++j) p.tie[j] = j;
  auto set = [&p](int j, int in_model, int estimate, double value, double gl,
                  double gr) {
    p.in_model[j] = in_model;
    p.estimate[j] = estimate;
    p.value[j] = value;
    p.step[j] = 0.1;
    p.GL[j] = gl;
    p.GR[j] = gr;
  };
  set(kQ, 1, 1, 0.5, 0, 1);
  set(kMU, 1, 1, 2, -10, 10);
  set(kA, 1, 1, 1, -10, 10);
  set(kD, 1, 1, 0, -10, 10);
  set(kPga, 0, 0, 0, 0, 10);
  set(kSIG, 1, 1, 1, 0, 10);
  set(kSex, 0, 0, 0, -10, 10);
  set(kTr1, 0, 0, 1, 0, 1);
  set(kTr2, 0, 0, 0.5, 0, 1);
  set(kTr3, 0, 0, 0, 0, 1);
  for (int j = kB1; j <= kB5; ++j) set(j, 0, 0, 0, -10, 10);
  return p;
}

}  // namespace segmix::test

#endif  // SEGMIX_TESTS_MODEL_PARAMETER_CHECKS_SUPPORT_H_
