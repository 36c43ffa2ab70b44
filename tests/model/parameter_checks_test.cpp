// CheckParameters and AcceptParameters: the status and the table they leave
// (the failure-handling table with the run's messages is in
// tests/run/parameter_rejection_test.cpp), ties, the move off a bound, the
// genotype frequencies, the genotype means and working copies, and the
// major-locus transmission table.
#include "model/parameter_checks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "parameter_checks_support.h"

namespace segmix {
namespace {

using test::BasePoint;
using test::kMargin;
using test::kSentinel;

enum class Routine { kCheck, kAccept };

struct Outcome {
  double status = 0;
  ParameterTable table;
  ModelQuantities q;
};

class ParameterChecksTest : public ::testing::Test {
 protected:
  // One call of `routine` on a copy of `start`.
  static Outcome Run(Routine routine, const ParameterTable& start,
                     std::int32_t K = 0, const ModelQuantities& q0 = {}) {
    Outcome o;
    o.table = start;
    o.q = q0;
    const auto rejection = routine == Routine::kCheck
                               ? CheckParameters(o.table, K, o.q)
                               : AcceptParameters(o.table, K, o.q);
    o.status = rejection ? kSentinel : 1.0;
    return o;
  }
  static Outcome Check(const ParameterTable& p, std::int32_t K = 0,
                       const ModelQuantities& q0 = {}) {
    return Run(Routine::kCheck, p, K, q0);
  }
  static Outcome Accept(const ParameterTable& p, std::int32_t K = 0,
                        const ModelQuantities& q0 = {}) {
    return Run(Routine::kAccept, p, K, q0);
  }
};

TEST(FailureSentinelTest, IsMinusOneE18InSinglePrecisionWidened) {
  EXPECT_EQ(FailureSentinel, -999999984306749440.0);
  EXPECT_EQ(static_cast<float>(kMargin), 1e-6f);
  EXPECT_NE(kMargin, 1e-6);  // not the double 1e-6
}

// The flag of a row moved off its bound is not touched, and the move happens
// once: a second check of the moved point changes nothing.
TEST_F(ParameterChecksTest, MoveOffBoundPersistsAndIsNotRepeated) {
  ParameterTable p = BasePoint();
  p.value[kA] = -10;
  const Outcome first = Check(p);
  EXPECT_EQ(first.table.value[kA], -10 + kMargin);
  EXPECT_EQ(first.table.estimate[kA], 1);
  const Outcome second = Check(first.table);
  EXPECT_EQ(second.table.value[kA], -10 + kMargin);
  // The maximizer may start from the moved point.
  EXPECT_EQ(Accept(first.table).status, 1.0);
}

TEST_F(ParameterChecksTest, MoveLostToRoundingLeavesValueOnItsBound) {
  // 1 + margin is exact in double; 1e20 + margin rounds back to 1e20, which
  // still lies on the bound: the check accepts it unchanged.
  ParameterTable p = BasePoint();
  p.estimate[kPga] = 1;
  p.GL[kPga] = 1;
  p.value[kPga] = 1;
  p.GR[kPga] = 2;
  EXPECT_EQ(Check(p).table.value[kPga], 1 + kMargin);
  p.GL[kPga] = p.value[kPga] = 1e20;
  p.GR[kPga] = 2e20;
  const Outcome big = Check(p);
  EXPECT_EQ(big.status, 1.0);
  EXPECT_EQ(big.table.value[kPga], 1e20);
}

// ---------------------------------------------------------------------------
// Ties.

TEST_F(ParameterChecksTest, TieTakesMasterValueAndClearsEstimateFlag) {
  for (Routine r : {Routine::kCheck, Routine::kAccept}) {
    ParameterTable p = BasePoint();
    p.tie[kA] = kMU;
    p.estimate[kA] = 2;
    p.tie[kB2] = kB1;
    p.value[kB1] = 0.375;
    const Outcome o = Run(r, p);
    EXPECT_EQ(o.status, 1.0);
    EXPECT_EQ(o.table.value[kA], 2);
    EXPECT_EQ(o.table.estimate[kA], 0);
    EXPECT_EQ(o.table.value[kB2], 0.375);
    EXPECT_EQ(o.table.estimate[kB2], 0);
    EXPECT_EQ(o.table.tie[kA], kMU);  // the tie itself stays
    EXPECT_EQ(o.table.estimate[kMU], 1);
  }
}

TEST_F(ParameterChecksTest, TieChainResolvesInOnePassWhenMasterComesFirst) {
  // B3 -> B2 -> B1: B2 is processed before B3 and already holds B1's value.
  for (Routine r : {Routine::kCheck, Routine::kAccept}) {
    ParameterTable p = BasePoint();
    for (int j = kB1; j <= kB3; ++j) p.in_model[j] = 1;
    p.value[kB1] = 0.25;
    p.value[kB2] = 0.5;
    p.value[kB3] = 0.75;
    p.tie[kB2] = kB1;
    p.tie[kB3] = kB2;
    const Outcome o = Run(r, p, 3);
    EXPECT_EQ(o.table.value[kB2], 0.25);
    EXPECT_EQ(o.table.value[kB3], 0.25);
    EXPECT_EQ(o.q.B[3], 0.25);
  }
}

TEST_F(ParameterChecksTest, TieChainTakesTwoPassesWhenMasterComesLater) {
  // B1 -> B2 -> B3: B1 is processed first and takes B2's value from before
  // this pass; the next evaluation completes the chain.
  for (Routine r : {Routine::kCheck, Routine::kAccept}) {
    ParameterTable p = BasePoint();
    for (int j = kB1; j <= kB3; ++j) p.in_model[j] = 1;
    p.value[kB1] = 0.25;
    p.value[kB2] = 0.5;
    p.value[kB3] = 0.75;
    p.tie[kB1] = kB2;
    p.tie[kB2] = kB3;
    const Outcome first = Run(r, p, 3);
    EXPECT_EQ(first.table.value[kB1], 0.5);
    EXPECT_EQ(first.table.value[kB2], 0.75);
    EXPECT_EQ(first.q.B[1], 0.5);  // the working copy follows the table
    const Outcome second = Run(r, first.table, 3);
    EXPECT_EQ(second.table.value[kB1], 0.75);
  }
}

TEST_F(ParameterChecksTest, TiesComeBeforeTheMoveOffABound) {
  // A takes MU's value before MU is moved off its bound; the next call
  // brings A along.
  ParameterTable p = BasePoint();
  p.value[kMU] = 10;
  p.tie[kA] = kMU;
  const Outcome first = Check(p);
  EXPECT_EQ(first.table.value[kMU], 10 - kMargin);
  EXPECT_EQ(first.table.value[kA], 10);
  EXPECT_EQ(Check(first.table).table.value[kA], 10 - kMargin);
}

// ---------------------------------------------------------------------------
// Genotype frequencies.

struct FrequencyRow {
  double Q, P1, P2, P3;
};

TEST_F(ParameterChecksTest, HardyWeinbergFrequenciesExactForDyadicQ) {
  const FrequencyRow rows[] = {
      {0.5, 0.25, 0.5, 0.25},        {0.25, 0.0625, 0.375, 0.5625},
      {0.75, 0.5625, 0.375, 0.0625}, {0.125, 0.015625, 0.21875, 0.765625},
      {1.0, 1.0, 0.0, 0.0},  // accepted by the check only
  };
  for (const FrequencyRow& row : rows) {
    SCOPED_TRACE(row.Q);
    ParameterTable p = BasePoint();
    p.estimate[kQ] = 0;
    p.value[kQ] = row.Q;
    const Outcome o = Check(p);
    ASSERT_EQ(o.status, 1.0);
    EXPECT_EQ(o.q.GenotypeFrequency[1], row.P1);
    EXPECT_EQ(o.q.GenotypeFrequency[2], row.P2);
    EXPECT_EQ(o.q.GenotypeFrequency[3], row.P3);
    if (row.Q < 1) {
      EXPECT_EQ(Accept(p).q.GenotypeFrequency[1], row.P1);
    }
  }
}

TEST_F(ParameterChecksTest, P1IsFormedInExtendedPrecision) {
  // P1 = (1 - P2) - P3 cancels to Q^2 = 1e-18. Formed in extended precision
  // (unit roundoff 2^-64 ~ 5.4e-20) the error stays below 2e-19; formed in
  // double, P1 would be a multiple of 2^-53 ~ 1.1e-16, here 0.
  const double Q = 1e-9;
  ParameterTable p = BasePoint();
  p.estimate[kQ] = 0;
  p.value[kQ] = Q;
  for (Routine r : {Routine::kCheck, Routine::kAccept}) {
    const Outcome o = Run(r, p);
    ASSERT_EQ(o.status, 1.0);
    EXPECT_NEAR(o.q.GenotypeFrequency[1], 1e-18, 2e-19);
  }
  const double t = 1 - Q;
  const double naive = (1 - (2 * t) * Q) - t * t;
  // In double the difference is 0 or at least 2^-53 away from 1e-18.
  EXPECT_GT(std::fabs(naive - 1e-18), 2e-19) << "the check above discriminates";
}

TEST_F(ParameterChecksTest, FrequenciesSumToOneForOrdinaryQ) {
  for (double Q : {0.1, 0.3, 0.01, 0.999, 1e-4}) {
    ParameterTable p = BasePoint();
    p.value[kQ] = Q;
    const Outcome o = Accept(p);
    ASSERT_EQ(o.status, 1.0) << Q;
    const auto& f = o.q.GenotypeFrequency;
    EXPECT_NEAR(f[1] + f[2] + f[3], 1.0, 4e-16) << Q;
    EXPECT_NEAR(f[1], Q * Q, 4e-16) << Q;
    EXPECT_NEAR(f[2], 2 * Q * (1 - Q), 4e-16) << Q;
    EXPECT_NEAR(f[3], (1 - Q) * (1 - Q), 4e-16) << Q;
  }
}

// ---------------------------------------------------------------------------
// Genotype means and working copies.

TEST_F(ParameterChecksTest, GenotypeMeansPerSexClass) {
  for (Routine r : {Routine::kCheck, Routine::kAccept}) {
    ParameterTable p = BasePoint();
    p.value[kMU] = 2;
    p.value[kA] = 1;
    p.value[kD] = 0.5;
    p.value[kSex] = -0.25;
    p.in_model[kSex] = 1;  // left out, Sex would shift nothing
    const Outcome o = Run(r, p);
    ASSERT_EQ(o.status, 1.0);
    EXPECT_EQ(o.q.GenotypeMean[1][1], 2);
    EXPECT_EQ(o.q.GenotypeMean[1][2], 1);
    EXPECT_EQ(o.q.GenotypeMean[1][3], 0.5);
    EXPECT_EQ(o.q.GenotypeMean[2][1], 1.75);
    EXPECT_EQ(o.q.GenotypeMean[2][2], 0.75);
    EXPECT_EQ(o.q.GenotypeMean[2][3], 0.25);
  }
}

struct CopyRow {
  std::int32_t K;
  int copied;  // B[1..copied] from the table, the rest kept
};

TEST_F(ParameterChecksTest, WorkingCopiesOfPgaSigAndFirstKCoefficients) {
  const CopyRow rows[] = {{0, 0}, {-1, 0}, {1, 1}, {2, 2}, {5, 5}, {7, 5}};
  for (const CopyRow& row : rows) {
    for (Routine r : {Routine::kCheck, Routine::kAccept}) {
      SCOPED_TRACE(testing::Message() << "K=" << row.K);
      ParameterTable p = BasePoint();
      p.value[kPga] = 0.125;
      p.in_model[kPga] = 1;
      p.value[kSIG] = 1.5;
      for (int k = 1; k <= 5; ++k) {
        p.value[kB1 + k - 1] = k / 8.0;
        p.in_model[kB1 + k - 1] = 1;
      }
      ModelQuantities q0;
      for (int k = 1; k <= 5; ++k) q0.B[k] = 99;
      const Outcome o = Run(r, p, row.K, q0);
      ASSERT_EQ(o.status, 1.0);
      EXPECT_EQ(o.q.pga, 0.125);
      EXPECT_EQ(o.q.SIG, 1.5);
      for (int k = 1; k <= 5; ++k) {
        EXPECT_EQ(o.q.B[k], k <= row.copied ? k / 8.0 : 99) << k;
      }
    }
  }
}

TEST_F(ParameterChecksTest, RejectionAtTheBoundsLeavesQuantitiesAlone) {
  ModelQuantities q0;
  q0.SIG = 7;
  q0.GenotypeFrequency[1] = 7;
  q0.GenotypeMean[1][1] = 7;
  ParameterTable p = BasePoint();
  p.value[kA] = -12;
  for (Routine r : {Routine::kCheck, Routine::kAccept}) {
    const Outcome o = Run(r, p, 0, q0);
    EXPECT_EQ(o.status, kSentinel);
    EXPECT_EQ(o.q.SIG, 7);
    EXPECT_EQ(o.q.GenotypeFrequency[1], 7);
    EXPECT_EQ(o.q.GenotypeMean[1][1], 7);
  }
}

// ---------------------------------------------------------------------------
// The major-locus transmission table.

// M(o | g1, g2) written out per (g1, g2) row, o = 1..3.
struct TransmissionRow {
  int g1, g2;
  double o1, o2, o3;
};

double M(const ModelQuantities& q, int o, int g1, int g2) {
  return q.MajorTransmission[(o - 1) + 3 * (g1 - 1) + 9 * (g2 - 1)];
}

void ExpectTable(const ModelQuantities& q, const TransmissionRow (&rows)[9]) {
  for (const TransmissionRow& row : rows) {
    SCOPED_TRACE(testing::Message() << "g1=" << row.g1 << " g2=" << row.g2);
    EXPECT_EQ(M(q, 1, row.g1, row.g2), row.o1);
    EXPECT_EQ(M(q, 2, row.g1, row.g2), row.o2);
    EXPECT_EQ(M(q, 3, row.g1, row.g2), row.o3);
  }
}

const TransmissionRow kMendelian[9] = {
    {1, 1, 1, 0, 0},     {2, 1, 0.5, 0.5, 0},     {3, 1, 0, 1, 0},
    {1, 2, 0.5, 0.5, 0}, {2, 2, 0.25, 0.5, 0.25}, {3, 2, 0, 0.5, 0.5},
    {1, 3, 0, 1, 0},     {2, 3, 0, 0.5, 0.5},     {3, 3, 0, 0, 1},
};

// T = (3/4, 1/2, 1/4): every entry is a dyadic fraction, exact in double.
const TransmissionRow kGeneral[9] = {
    {1, 1, 0.5625, 0.375, 0.0625}, {2, 1, 0.375, 0.5, 0.125},
    {3, 1, 0.1875, 0.625, 0.1875}, {1, 2, 0.375, 0.5, 0.125},
    {2, 2, 0.25, 0.5, 0.25},       {3, 2, 0.125, 0.5, 0.375},
    {1, 3, 0.1875, 0.625, 0.1875}, {2, 3, 0.125, 0.5, 0.375},
    {3, 3, 0.0625, 0.375, 0.5625},
};

ParameterTable GeneralPoint(int tr1_in_model) {
  ParameterTable p = BasePoint();
  p.in_model[kTr1] = tr1_in_model;
  p.value[kTr1] = 0.75;
  p.value[kTr2] = 0.5;
  p.value[kTr3] = 0.25;
  return p;
}

TEST_F(ParameterChecksTest, TransmissionStartsMendelian) {
  ExpectTable(ModelQuantities{}, kMendelian);
}

TEST_F(ParameterChecksTest, TransmissionUntouchedWithoutTr1) {
  for (Routine r : {Routine::kCheck, Routine::kAccept}) {
    ParameterTable p = GeneralPoint(0);
    p.in_model[kTr2] = p.in_model[kTr3] = 1;  // only Tr1's flag counts
    const Outcome o = Run(r, p);
    ASSERT_EQ(o.status, 1.0);
    ExpectTable(o.q, kMendelian);
  }
}

TEST_F(ParameterChecksTest, TransmissionRebuiltFromTr1ToTr3) {
  for (Routine r : {Routine::kCheck, Routine::kAccept}) {
    const Outcome o = Run(r, GeneralPoint(1));
    ASSERT_EQ(o.status, 1.0);
    ExpectTable(o.q, kGeneral);
  }
}

TEST_F(ParameterChecksTest, MendelianTransmissionParametersRebuildExactly) {
  ParameterTable p = BasePoint();
  p.in_model[kTr1] = 1;  // Tr1..Tr3 = 1, 0.5, 0
  ModelQuantities q0;
  q0.MajorTransmission.fill(0);
  for (Routine r : {Routine::kCheck, Routine::kAccept}) {
    const Outcome o = Run(r, p, 0, q0);
    ASSERT_EQ(o.status, 1.0);
    ExpectTable(o.q, kMendelian);
  }
}

TEST_F(ParameterChecksTest, RebuiltTableIsKeptWhenTr1LeavesTheModel) {
  const Outcome rebuilt = Check(GeneralPoint(1));
  ParameterTable p = BasePoint();  // Tr1 out of the model, Mendelian values
  for (Routine r : {Routine::kCheck, Routine::kAccept}) {
    ExpectTable(Run(r, p, 0, rebuilt.q).q, kGeneral);
  }
}

TEST_F(ParameterChecksTest, AcceptRebuildsBeforeRejectingTheMeanOrder) {
  ParameterTable p = GeneralPoint(1);
  p.value[kD] = 3;
  const Outcome o = Accept(p);
  EXPECT_EQ(o.status, kSentinel);
  ExpectTable(o.q, kGeneral);
}

TEST_F(ParameterChecksTest, CheckRebuildsAfterLoweringQ) {
  ParameterTable p = GeneralPoint(1);
  p.estimate[kQ] = 0;
  p.value[kQ] = 0;
  const Outcome o = Check(p);
  ASSERT_EQ(o.status, 1.0);
  EXPECT_EQ(o.table.value[kQ], kMargin);
  EXPECT_GT(o.q.GenotypeFrequency[1], 0);
  EXPECT_NEAR(o.q.GenotypeFrequency[1], kMargin * kMargin, 1e-18);
  ExpectTable(o.q, kGeneral);
}

TEST_F(ParameterChecksTest, TransmissionSymmetricAndColumnsSumToOne) {
  ParameterTable p = GeneralPoint(1);
  p.value[kTr1] = 0.9;
  p.value[kTr2] = 0.3;
  p.value[kTr3] = 0.05;
  const Outcome o = Accept(p);
  ASSERT_EQ(o.status, 1.0);
  for (int g1 = 1; g1 <= 3; ++g1) {
    for (int g2 = 1; g2 <= 3; ++g2) {
      double sum = 0;
      for (int k = 1; k <= 3; ++k) {
        EXPECT_EQ(M(o.q, k, g1, g2), M(o.q, k, g2, g1));
        sum += M(o.q, k, g1, g2);
      }
      EXPECT_NEAR(sum, 1.0, 4e-16) << g1 << g2;
    }
  }
  EXPECT_NEAR(M(o.q, 2, 1, 3), 0.9 * 0.95 + 0.05 * 0.1, 1e-16);
}

}  // namespace
}  // namespace segmix
