// The run's messages for the points CheckParameters refuses: the
// failure-handling table row by row with the par.err and console texts
// byte-exact (written out by hand from the message layouts), beside the
// status and the table both routines leave.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>

#include "model/parameter_checks.h"
#include "model/parameter_checks_support.h"
#include "run/evaluation_records.h"

namespace segmix {
namespace {

using test::BasePoint;
using test::kMargin;
using test::kSentinel;

enum class Routine { kCheck, kAccept };

struct Outcome {
  double status = 0;
  std::string par_err;
  std::string console;
  ParameterTable table;
  ModelQuantities q;
};

class ParameterRejectionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/segmix_parameter_rejection_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  static void TearDownTestSuite() { std::filesystem::remove_all(dir_); }

  // One call of `routine` on a copy of `start`, with par.err freshly created
  // on unit 25 and the console captured.
  static Outcome Run(Routine routine, const ParameterTable& start,
                     std::int32_t K = 0, const ModelQuantities& q0 = {}) {
    const std::string path = dir_ + "/par.err";
    std::filesystem::remove(path);
    Outcome o;
    o.table = start;
    o.q = q0;
    std::ostringstream console;
    {
      TextUnits units(console);
      units.Open(25, path, OpenStatus::kNone);
      const auto rejection = routine == Routine::kCheck
                                 ? CheckParameters(o.table, K, o.q)
                                 : AcceptParameters(o.table, K, o.q);
      // What the run writes: only the checked gate reports.
      if (rejection && routine == Routine::kCheck) {
        WriteParameterRejection(units, *rejection);
      }
      o.status = rejection ? kSentinel : 1.0;
      units.CloseAll();
    }
    std::ifstream in(path, std::ios::binary);
    o.par_err.assign(std::istreambuf_iterator<char>(in), {});
    o.console = console.str();
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

  static std::string dir_;
};
std::string ParameterRejectionTest::dir_;

// ---------------------------------------------------------------------------
// The failure-handling table. Each row edits the base point; both routines
// run on the same starting table. AcceptParameters never writes anything.

struct FailureRow {
  const char* what;
  void (*edit)(ParameterTable&);
  double check_status;
  const char* check_par_err;
  const char* check_console;
  double accept_status;
  int watched;          // a row whose value the routines may change
  double check_value;   // its value after CheckParameters
  double accept_value;  // its value after AcceptParameters
};

const FailureRow kFailureRows[] = {
    {"admissible point", [](ParameterTable&) {}, 1.0, "", "", 1.0, kA, 1, 1},
    {"A below GL", [](ParameterTable& p) { p.value[kA] = -12; }, kSentinel,
     " ERROR OF INITIAL PARAMETER VALUE:\n"
     "        A  =-0.1200E+02\n"
     "   GL=-0.1000E+02 GR= 0.1000E+02\n",
     "", kSentinel, kA, -12, -12},
    {"MU above GR", [](ParameterTable& p) { p.value[kMU] = 11; }, kSentinel,
     " ERROR OF INITIAL PARAMETER VALUE:\n"
     "        MU = 0.1100E+02\n"
     "   GL=-0.1000E+02 GR= 0.1000E+02\n",
     "", kSentinel, kMU, 11, 11},
    {"B5 estimated above GR: the name table's last bound row",
     [](ParameterTable& p) {
       p.estimate[kB5] = 1;
       p.value[kB5] = 0.25;
       p.GR[kB5] = 0.125;
     },
     kSentinel,
     " ERROR OF INITIAL PARAMETER VALUE:\n"
     "        B5 = 0.2500E+00\n"
     "   GL=-0.1000E+02 GR= 0.1250E+00\n",
     "", kSentinel, kB5, 0.25, 0.25},
    {"below GL with flag 2 is tested too",
     [](ParameterTable& p) {
       p.estimate[kA] = 2;
       p.value[kA] = -12;
     },
     kSentinel,
     " ERROR OF INITIAL PARAMETER VALUE:\n"
     "        A  =-0.1200E+02\n"
     "   GL=-0.1000E+02 GR= 0.1000E+02\n",
     "", kSentinel, kA, -12, -12},
    {"only the first failing row is reported",
     [](ParameterTable& p) {
       p.value[kMU] = 11;
       p.value[kA] = -12;
     },
     kSentinel,
     " ERROR OF INITIAL PARAMETER VALUE:\n"
     "        MU = 0.1100E+02\n"
     "   GL=-0.1000E+02 GR= 0.1000E+02\n",
     "", kSentinel, kA, -12, -12},
    {"a bound failure hides a later mean-order failure",
     [](ParameterTable& p) {
       p.value[kA] = -12;
       p.value[kD] = 5;
     },
     kSentinel,
     " ERROR OF INITIAL PARAMETER VALUE:\n"
     "        A  =-0.1200E+02\n"
     "   GL=-0.1000E+02 GR= 0.1000E+02\n",
     "", kSentinel, kD, 5, 5},
    {"on GL with flag 1: moved up",
     [](ParameterTable& p) { p.value[kA] = -10; }, 1.0, "", "", kSentinel, kA,
     -10 + kMargin, -10},
    {"on GR with flag 1: moved down",
     [](ParameterTable& p) { p.value[kA] = 10; }, 1.0, "", "", kSentinel, kA,
     10 - kMargin, 10},
    {"on GL with flag 2: kept",
     [](ParameterTable& p) {
       p.estimate[kA] = 2;
       p.value[kA] = -10;
     },
     1.0, "", "", kSentinel, kA, -10, -10},
    {"on GR with flag -1: kept",
     [](ParameterTable& p) {
       p.estimate[kA] = -1;
       p.value[kA] = 10;
     },
     1.0, "", "", kSentinel, kA, 10, 10},
    {"on GL with flag 0: neither tested nor moved",
     [](ParameterTable& p) {
       p.estimate[kA] = 0;
       p.value[kA] = -10;
     },
     1.0, "", "", 1.0, kA, -10, -10},
    {"moved off GL past a GR closer than the margin: message shows it",
     [](ParameterTable& p) {
       p.value[kA] = 0;
       p.GL[kA] = 0;
       p.GR[kA] = 5e-7;
     },
     kSentinel,
     " ERROR OF INITIAL PARAMETER VALUE:\n"
     "        A  = 0.1000E-05\n"
     "   GL= 0.0000E+00 GR= 0.5000E-06\n",
     "", kSentinel, kA, kMargin, 0},
    {"fixed parameter outside its bounds",
     [](ParameterTable& p) {
       p.estimate[kA] = 0;
       p.value[kA] = -12;
     },
     1.0, "", "", 1.0, kA, -12, -12},
    {"tied parameter outside its own bounds",
     [](ParameterTable& p) {
       p.tie[kA] = kMU;
       p.GL[kA] = 5;
       p.GR[kA] = 6;
       p.value[kA] = 7;
     },
     1.0, "", "", 1.0, kA, 2, 2},
    {"D above MU",
     [](ParameterTable& p) {
       p.value[kD] = 2.5;
       p.value[kMU] = 2.25;
     },
     kSentinel, "",
     "  ERROR OF INITIAL PARAMETER VALUE:\n"
     " 2.5 > 2.25\n",
     1.0, kD, 2.5, 2.5},
    {"D above MU, negative values",
     [](ParameterTable& p) {
       p.value[kD] = -0.5;
       p.value[kMU] = -0.75;
     },
     kSentinel, "",
     "  ERROR OF INITIAL PARAMETER VALUE:\n"
     " -0.5 > -0.75\n",
     1.0, kD, -0.5, -0.5},
    {"D above MU, D in exponent form",
     [](ParameterTable& p) {
       p.estimate[kD] = 0;
       p.value[kD] = 12345678;
     },
     kSentinel, "",
     "  ERROR OF INITIAL PARAMETER VALUE:\n"
     " 1.2345678E+7 > 2.\n",
     1.0, kD, 12345678, 12345678},
    {"D above MU with Tr1 in the model",
     [](ParameterTable& p) {
       p.in_model[kTr1] = 1;
       p.value[kD] = 2.5;
       p.value[kMU] = 2.25;
     },
     kSentinel, "",
     "  ERROR OF INITIAL PARAMETER VALUE:\n"
     " 2.5 > 2.25\n",
     kSentinel, kD, 2.5, 2.5},
    {"D equal to MU", [](ParameterTable& p) { p.value[kD] = 2; }, 1.0, "", "",
     1.0, kD, 2, 2},
    {"Q = 0 without Tr1",
     [](ParameterTable& p) {
       p.estimate[kQ] = 0;
       p.value[kQ] = 0;
     },
     kSentinel, " ERROR: P1= 0.0000E+00\n", "", kSentinel, kQ, 0, 0},
    {"Q = 0 with Tr1: lowered to the margin",
     [](ParameterTable& p) {
       p.in_model[kTr1] = 1;
       p.estimate[kQ] = 0;
       p.value[kQ] = 0;
     },
     1.0, "", "", kSentinel, kQ, kMargin, 0},
    {"Q = 1e-30 gives P1 = 0 even in extended precision, without Tr1",
     [](ParameterTable& p) {
       p.estimate[kQ] = 0;
       p.value[kQ] = 1e-30;
     },
     kSentinel, " ERROR: P1= 0.0000E+00\n", "", kSentinel, kQ, 1e-30, 1e-30},
    {"Q = 1e-30 with Tr1: lowered below 0, then set to the margin",
     [](ParameterTable& p) {
       p.in_model[kTr1] = 1;
       p.estimate[kQ] = 0;
       p.value[kQ] = 1e-30;
     },
     1.0, "", "", kSentinel, kQ, kMargin, 1e-30},
    // Q outside 0..1 leaves P1 = Q^2 positive but P2 or P3 negative: not
    // probabilities, refused by both whether Q is fixed or estimated.
    {"Q negative: P1 = Q^2 > 0, P2 < 0",
     [](ParameterTable& p) {
       p.estimate[kQ] = 0;
       p.value[kQ] = -0.5;
     },
     kSentinel,
     " ERROR OF INITIAL PARAMETER VALUE:\n"
     "        Q  =-0.5000E+00\n"
     "   Q is an allele frequency and must lie in 0..1: correct the Q record "
     "in par.inp (its value, or the row it is tied to)\n",
     "", kSentinel, kQ, -0.5, -0.5},
    {"Q = 1: P1 = 1",
     [](ParameterTable& p) {
       p.estimate[kQ] = 0;
       p.value[kQ] = 1;
     },
     1.0, "", "", kSentinel, kQ, 1, 1},
    {"Q = 1.5: P1 above 1, P2 < 0",
     [](ParameterTable& p) {
       p.estimate[kQ] = 0;
       p.value[kQ] = 1.5;
     },
     kSentinel,
     " ERROR OF INITIAL PARAMETER VALUE:\n"
     "        Q  = 0.1500E+01\n"
     "   Q is an allele frequency and must lie in 0..1: correct the Q record "
     "in par.inp (its value, or the row it is tied to)\n",
     "", kSentinel, kQ, 1.5, 1.5},
    {"Q tied to D = 0.25 is a probability",
     [](ParameterTable& p) {
       p.tie[kQ] = kD;
       p.value[kD] = 0.25;
     },
     1.0, "", "", 1.0, kQ, 0.25, 0.25},
    {"Q tied to D = 3 is not",
     [](ParameterTable& p) {
       p.tie[kQ] = kD;
       p.value[kD] = 3;
       p.value[kMU] = 4;
     },
     kSentinel,
     " ERROR OF INITIAL PARAMETER VALUE:\n"
     "        Q  = 0.3000E+01\n"
     "   Q is an allele frequency and must lie in 0..1: correct the Q record "
     "in par.inp (its value, or the row it is tied to)\n",
     "", kSentinel, kQ, 3, 3},
    {"Tr2 fixed at 1.5 under the general transmission model",
     [](ParameterTable& p) {
       p.in_model[kTr1] = 1;
       p.value[kTr2] = 1.5;
     },
     kSentinel,
     " ERROR OF INITIAL PARAMETER VALUE:\n"
     "        Tr2= 0.1500E+01\n"
     "   Tr2 is a transmission probability and must lie in 0..1: correct the "
     "Tr2 record in par.inp (its value, or the row it is tied to)\n",
     "", kSentinel, kTr2, 1.5, 1.5},
    {"Tr1 = 2 out of the model is not used",
     [](ParameterTable& p) { p.value[kTr1] = 2; }, 1.0, "", "", 1.0, kTr1, 2,
     2},
    {"Tr1 = -0.25 estimated within wide bounds",
     [](ParameterTable& p) {
       p.in_model[kTr1] = 1;
       p.estimate[kTr1] = 1;
       p.value[kTr1] = -0.25;
       p.GL[kTr1] = -1;
       p.GR[kTr1] = 2;
     },
     kSentinel,
     " ERROR OF INITIAL PARAMETER VALUE:\n"
     "        Tr1=-0.2500E+00\n"
     "   Tr1 is a transmission probability and must lie in 0..1: correct the "
     "Tr1 record in par.inp (its value, or the row it is tied to)\n",
     "", kSentinel, kTr1, -0.25, -0.25},
    {"Q on GL = 0 with flag 1: moved, then P1 > 0",
     [](ParameterTable& p) { p.value[kQ] = 0; }, 1.0, "", "", kSentinel, kQ,
     kMargin, 0},
    {"SIG = 0 fixed",
     [](ParameterTable& p) {
       p.estimate[kSIG] = 0;
       p.value[kSIG] = 0;
     },
     kSentinel,
     " ERROR OF INITIAL PARAMETER VALUE:\n"
     "        SIG= 0.0000E+00\n"
     "   SIG is a variance and must be greater than 0: correct the SIG record "
     "in par.inp\n",
     "", kSentinel, kSIG, 0, 0},
    {"SIG = -0 fixed: the sign shows",
     [](ParameterTable& p) {
       p.estimate[kSIG] = 0;
       p.value[kSIG] = -0.0;
     },
     kSentinel,
     " ERROR OF INITIAL PARAMETER VALUE:\n"
     "        SIG=-0.0000E+00\n"
     "   SIG is a variance and must be greater than 0: correct the SIG record "
     "in par.inp\n",
     "", kSentinel, kSIG, 0, 0},
    {"SIG negative inside its bounds",
     [](ParameterTable& p) {
       p.GL[kSIG] = -1;
       p.value[kSIG] = -0.5;
     },
     kSentinel,
     " ERROR OF INITIAL PARAMETER VALUE:\n"
     "        SIG=-0.5000E+00\n"
     "   SIG is a variance and must be greater than 0: correct the SIG record "
     "in par.inp\n",
     "", kSentinel, kSIG, -0.5, -0.5},
    {"SIG = 0 hides a later mean-order failure",
     [](ParameterTable& p) {
       p.estimate[kSIG] = 0;
       p.value[kSIG] = 0;
       p.value[kD] = 5;
     },
     kSentinel,
     " ERROR OF INITIAL PARAMETER VALUE:\n"
     "        SIG= 0.0000E+00\n"
     "   SIG is a variance and must be greater than 0: correct the SIG record "
     "in par.inp\n",
     "", kSentinel, kD, 5, 5},
    {"SIG on GL = 0 with flag 1: moved inside, admissible",
     [](ParameterTable& p) { p.value[kSIG] = 0; }, 1.0, "", "", kSentinel, kSIG,
     kMargin, 0},
};

TEST_F(ParameterRejectionTest, FailureTableRowByRow) {
  for (const FailureRow& row : kFailureRows) {
    SCOPED_TRACE(row.what);
    ParameterTable start = BasePoint();
    row.edit(start);

    const Outcome check = Check(start);
    EXPECT_EQ(check.status, row.check_status);
    EXPECT_EQ(check.par_err, row.check_par_err);
    EXPECT_EQ(check.console, row.check_console);
    EXPECT_EQ(check.table.value[row.watched], row.check_value);

    const Outcome accept = Accept(start);
    EXPECT_EQ(accept.status, row.accept_status);
    EXPECT_EQ(accept.par_err, "");
    EXPECT_EQ(accept.console, "");
    EXPECT_EQ(accept.table.value[row.watched], row.accept_value);
  }
}

TEST_F(ParameterRejectionTest, SigNotANumberIsRejectedByBoth) {
  ParameterTable p = BasePoint();
  p.estimate[kSIG] = 0;
  p.value[kSIG] = std::numeric_limits<double>::quiet_NaN();
  const Outcome check = Check(p);
  EXPECT_EQ(check.status, kSentinel);
  EXPECT_EQ(check.par_err.rfind(" ERROR OF INITIAL PARAMETER VALUE:\n", 0), 0u);
  EXPECT_EQ(Accept(p).status, kSentinel);
}

TEST_F(ParameterRejectionTest, UndefinedQIsReportedEvenWithTr1) {
  for (double q : {std::numeric_limits<double>::quiet_NaN(),
                   std::numeric_limits<double>::infinity(),
                   -std::numeric_limits<double>::infinity()}) {
    for (int tr1 : {0, 1}) {
      SCOPED_TRACE(testing::Message() << "Q=" << q << " Tr1=" << tr1);
      ParameterTable p = BasePoint();
      p.estimate[kQ] = 0;
      p.value[kQ] = q;
      p.in_model[kTr1] = tr1;
      const Outcome check = Check(p);  // must return, not loop
      EXPECT_EQ(check.status, kSentinel);
      EXPECT_EQ(check.par_err.rfind(" ERROR: P1=", 0), 0u);
      EXPECT_EQ(Accept(p).status, kSentinel);
    }
  }
}

}  // namespace
}  // namespace segmix
