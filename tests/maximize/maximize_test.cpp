// The pattern search on plain functions of the table's values, reporting to
// a recorder: no file is involved here (tests/run/max_file_test.cpp covers the
// records).
#include "maximize/maximize.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

#include "model/parameter_table.h"

namespace segmix {
namespace {

constexpr double kMinus1e17f = static_cast<double>(-1e17f);
constexpr double k1e17f = static_cast<double>(1e17f);

struct Block {
  std::int32_t iteration_count;
  std::int32_t function_count;
  double ln_lh;
  ParameterTable table;
};

class Recorder final : public MaximizerReport {
 public:
  void IterationBlock(std::int32_t iteration_count, std::int32_t function_count,
                      double ln_lh, const ParameterTable& table) override {
    blocks.push_back({iteration_count, function_count, ln_lh, table});
  }
  void Failure(MaximizerFailure failure) override {
    failures.push_back(failure);
  }
  std::vector<Block> blocks;
  std::vector<MaximizerFailure> failures;
};

// One evaluation as the objective saw it.
struct Call {
  double x;      // value of row 1
  double step;   // step of row 1
  double ln_lh;  // what the objective returned
};

// Runs the search with row 1 free (flag `flag`) and rows 2..n fixed,
// recording every call of `f` on row 1's value.
struct Search {
  ParameterTable table;
  MaximizerSettings settings;
  Recorder report;
  std::vector<Call> calls;
  MaximizerResult result;

  Search(double value, double step, double gl = -10, double gr = 10,
         std::int32_t flag = 1) {
    table.estimate[1] = flag;
    table.value[1] = value;
    table.step[1] = step;
    table.GL[1] = gl;
    table.GR[1] = gr;
  }
  Search& Run(const std::function<double(double)>& f,
              std::int32_t parameter_count = 1) {
    result = Maximize(
        parameter_count, table, settings,
        [&] {
          const double y = f(table.value[1]);
          calls.push_back({table.value[1], table.step[1], y});
          return y;
        },
        &report);
    return *this;
  }
};

double Parabola(double x) { return -(x - 1) * (x - 1); }
double Constant(double) { return 0; }

TEST(MaximizeTest, WorkedExampleOnParabola) {
  Search s(0, 0.25);
  s.Run(Parabola);

  const MaximizerResult& r = s.result;
  EXPECT_EQ(r.iteration_count, 15);
  EXPECT_EQ(r.function_count, 147);
  EXPECT_EQ(s.table.value[1], 1.000000177783214);
  EXPECT_EQ(s.table.step[1], -6.1104074120521545e-06);
  EXPECT_EQ(r.final_ln_lh, -3.160687115465823e-14);
  EXPECT_TRUE(s.report.failures.empty());

  // Every call counted; the final ln LH is the value at the returned point.
  ASSERT_EQ(s.calls.size(), 147u);
  EXPECT_EQ(s.calls.back().x, s.table.value[1]);
  EXPECT_EQ(s.calls.back().ln_lh, r.final_ln_lh);

  ASSERT_EQ(s.report.blocks.size(), 14u);
  struct Expected {
    std::int32_t iterations, functions;
    double ln_lh, value, step;
  };
  const Expected first_three[] = {
      {1, 4, -0.25, 0.5, -0.1875},
      {2, 6, -0.015625, 1.125, -0.28125},
      {3, 19, -0.015625, 1.12542724609375, 0.140625},
  };
  for (int b = 0; b < 3; ++b) {
    SCOPED_TRACE(b + 1);
    const Block& got = s.report.blocks[b];
    EXPECT_EQ(got.iteration_count, first_three[b].iterations);
    EXPECT_EQ(got.function_count, first_three[b].functions);
    EXPECT_EQ(got.ln_lh, first_three[b].ln_lh);
    EXPECT_EQ(got.table.value[1], first_three[b].value);
    EXPECT_EQ(got.table.step[1], first_three[b].step);
  }
  // Cycle 3 is a failed pattern move: its last trial is lower than the
  // reference the block shows.
  EXPECT_LT(s.calls[18].ln_lh, -0.015625);
  EXPECT_GT(s.calls[18].ln_lh, -0.0158);

  // Each block: numbered in turn, shows the larger of the last trial and the
  // best value seen since the last block, counts the calls made so far.
  for (std::size_t b = 0; b < s.report.blocks.size(); ++b) {
    const Block& got = s.report.blocks[b];
    EXPECT_EQ(got.iteration_count, static_cast<std::int32_t>(b + 1));
    const auto fc = static_cast<std::size_t>(got.function_count);
    ASSERT_LE(fc, s.calls.size());
    EXPECT_EQ(got.table.value[1], s.calls[fc - 1].x) << b;
    EXPECT_GE(got.ln_lh, s.calls[fc - 1].ln_lh) << b;
  }
}

TEST(MaximizeTest, PrintSwitchOnlyDecidesTheBlocks) {
  for (std::int32_t print_switch : {0, -1, 7}) {
    SCOPED_TRACE(print_switch);
    Search s(0, 0.25);
    s.settings.print_switch = print_switch;
    s.Run(Parabola);
    EXPECT_EQ(s.report.blocks.size(), print_switch == 0 ? 0u : 14u);
    EXPECT_EQ(s.result.iteration_count, 15);
    EXPECT_EQ(s.result.function_count, 147);
    EXPECT_EQ(s.table.value[1], 1.000000177783214);
  }
}

// The exploratory move on one free row, value 1, step 0.1, read off the
// first pattern trial: the step there is the move's step, and the pattern
// point is 2 v' - 1 (exact: Sterbenz), which shows the value v' it reached.
// Expected values are formed by the same double roundings as the search's
// stored values: 1 - 0.1, then + 2 x 0.1, then + 2 x (-0.05).
TEST(MaximizeTest, ExploratoryMoveOutcomes) {
  const double below = 1.0 - 0.1;        // about 0.9
  const double above = below + 2 * 0.1;  // about 1.1
  const double back = above + 2 * (0.1 * -0.5);
  ASSERT_EQ(back, 1.0);  // the start value again, as the move promises
  struct Row {
    const char* name;
    double at_below, at_above;  // objective values; 0 at the start point
    double value, step;         // outcome of the move
    std::size_t pattern_call;   // index of the first pattern trial
  };
  const Row rows[] = {
      {"v - s accepted", 1, -1, below, 0.1 * 1.5, 2},
      {"v + s accepted", -1, 1, above, 0.1 * -0.5 * 1.5, 3},
      {"neither", -1, -1, 1.0, -0.05, 3},
      {"ties fail", 0, 0, 1.0, -0.05, 3},
      {"tie below, above better", 0, 1e-300, above, 0.1 * -0.5 * 1.5, 3},
  };
  EXPECT_NEAR(0.1 * 1.5, 0.15, 1e-16);
  EXPECT_NEAR(0.1 * -0.5 * 1.5, -0.075, 1e-16);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Search s(1, 0.1);
    s.settings.iteration_limit = 0;
    s.Run([&](double x) {
      if (x == 1) return 0.0;
      if (x == below) return row.at_below;
      if (x == above) return row.at_above;
      return -5.0;
    });
    ASSERT_GT(s.calls.size(), row.pattern_call);
    EXPECT_EQ(s.calls[1].x, below);
    if (row.pattern_call == 3) {
      EXPECT_EQ(s.calls[2].x, above);
    }
    const Call& pattern = s.calls[row.pattern_call];
    EXPECT_EQ(pattern.step, row.step);
    EXPECT_EQ(pattern.x, 2 * row.value - 1);
  }
}

TEST(MaximizeTest, NoFreeParameter) {
  ParameterTable table;
  for (int i = 1; i <= kParameterCount; ++i) {
    table.value[i] = i;
    table.step[i] = 0.5;
  }
  Recorder report;
  int calls = 0;
  const MaximizerResult r = Maximize(
      kParameterCount, table, MaximizerSettings{},
      [&] {
        ++calls;
        return -3.5;
      },
      &report);
  EXPECT_EQ(r.iteration_count, 1);
  EXPECT_EQ(r.function_count, 12);
  EXPECT_EQ(calls, 12);
  EXPECT_EQ(r.final_ln_lh, -3.5);
  EXPECT_TRUE(report.blocks.empty());
  EXPECT_TRUE(report.failures.empty());
  for (int i = 1; i <= kParameterCount; ++i) {
    EXPECT_EQ(table.value[i], i);
    EXPECT_EQ(table.step[i], 0.5);
  }
}

TEST(MaximizeTest, ParameterCountLimits) {
  for (std::int32_t n : {-1, 0, 31, 1000}) {
    SCOPED_TRACE(n);
    Search s(0, 0.25);
    s.Run(Parabola, n);
    EXPECT_TRUE(s.calls.empty());
    EXPECT_EQ(s.result.iteration_count, 0);
    EXPECT_EQ(s.result.function_count, 0);
    EXPECT_EQ(s.result.final_ln_lh, 0);
    EXPECT_EQ(s.table.value[1], 0);
    EXPECT_EQ(s.table.step[1], 0.25);
    if (n > 30) {
      ASSERT_EQ(s.report.failures.size(), 1u);
      EXPECT_EQ(s.report.failures[0], MaximizerFailure::kTooManyParameters);
    } else {
      EXPECT_TRUE(s.report.failures.empty());
    }
  }
}

// n = 30 uses all 30 rows: row 30 free, the maximum of a parabola in it.
TEST(MaximizeTest, ThirtyRowsAccepted) {
  ParameterTable table;
  table.estimate[30] = 1;
  table.step[30] = 0.25;
  table.GL[30] = -10;
  table.GR[30] = 10;
  Recorder report;
  const MaximizerResult r = Maximize(
      30, table, MaximizerSettings{}, [&] { return Parabola(table.value[30]); },
      &report);
  EXPECT_TRUE(report.failures.empty());
  EXPECT_EQ(r.iteration_count, 15);
  EXPECT_EQ(r.function_count, 147);
  EXPECT_EQ(table.value[30], 1.000000177783214);
}

// A flag of 2 counts twice in the total but once in the step test, so a
// search on a flat objective can end only at the iteration limit.
TEST(MaximizeTest, EstimateFlagTwoNeverPassesTheStepTest) {
  Search flag1(1, 0.1, -10, 10, 1);
  flag1.Run(Constant);
  EXPECT_TRUE(flag1.report.failures.empty());
  EXPECT_LT(flag1.result.iteration_count, 20);

  Search flag2(1, 0.1, -10, 10, 2);
  flag2.Run(Constant);
  ASSERT_EQ(flag2.report.failures.size(), 1u);
  EXPECT_EQ(flag2.report.failures[0], MaximizerFailure::kMaximumNotFound);
  EXPECT_EQ(flag2.result.iteration_count, 501);
  EXPECT_EQ(flag2.result.function_count, 1 + 501 * 13);
  EXPECT_EQ(flag2.report.blocks.size(), 500u);
  EXPECT_EQ(flag2.report.blocks.back().iteration_count, 500);

  // On the parabola it ends by the improvement test instead.
  Search parabola(0, 0.25, -10, 10, 2);
  parabola.Run(Parabola);
  EXPECT_TRUE(parabola.report.failures.empty());
  EXPECT_LT(parabola.result.iteration_count, 500);
  EXPECT_GT(parabola.result.iteration_count, 15);
  EXPECT_NEAR(parabola.table.value[1], 1, 1e-4);
}

// A flat objective: the first cycle leaves the step at -0.5 s and the value
// where it was, so the first step test sees exactly -0.5 s.
TEST(MaximizeTest, StepTestEdges) {
  const double abs_edge = static_cast<double>(1e-6f);
  const double rel_edge = static_cast<double>(1e-5f);  // x |value 1|
  struct Row {
    double value, final_step_of_cycle1;
    std::int32_t iterations;  // 1: ended in the first cycle
  };
  const Row rows[] = {
      {0, abs_edge, 2},  // exactly 1e-6f: not below it
      {0, std::nextafter(abs_edge, 0.0), 1},
      {0, -std::nextafter(abs_edge, 0.0), 1},
      {1, rel_edge, 1},  // equal to |steptol * value|
      {1, -rel_edge, 1},
      {-1, rel_edge, 1},
      {1, std::nextafter(rel_edge, 1.0), 2},
      {4, 4 * rel_edge, 1},
      {4, std::nextafter(4 * rel_edge, 1.0), 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message()
                 << row.value << " " << row.final_step_of_cycle1);
    Search s(row.value, -2 * row.final_step_of_cycle1);
    s.Run(Constant);
    EXPECT_EQ(s.result.iteration_count, row.iterations);
    EXPECT_EQ(s.result.function_count, 1 + 13 * row.iterations);
    EXPECT_EQ(s.table.value[1], row.value);
    EXPECT_EQ(s.report.blocks.size(),
              static_cast<std::size_t>(row.iterations - 1));
    if (row.iterations == 1) {
      EXPECT_EQ(s.table.step[1], row.final_step_of_cycle1);
    }
  }
}

// f rising in x from the start; the pattern point is calls[2].
TEST(MaximizeTest, PatternPointClamping) {
  const double clearance = static_cast<double>(1e-17f);
  EXPECT_EQ(clearance, 9.99999983775159e-18);
  const auto rising = [](double x) { return x; };
  const auto falling = [](double x) { return -x; };
  struct Row {
    const char* name;
    double start, step, gl, gr;
    bool rise;
    double pattern;
  };
  const Row rows[] = {
      // start, step: the exploratory move goes to start - step, the pattern
      // point to 2 (start - step) - start before clamping.
      {"rising beyond GR=0", -3, -2, -10, 0, true, -clearance},
      {"rising onto GR=0", -2, -1, -10, 0, true, -clearance},
      {"rising short of GR", -2, -1, -10, 0.5, true, 0},
      {"rising beyond GR=1.5, clearance lost", 0, -1, -10, 1.5, true, 1.5},
      {"falling beyond GL=0", 3, 2, 0, 10, false, clearance},
      {"falling onto GL=0", 2, 1, 0, 10, false, clearance},
      {"falling onto GL=-0.125", 0.125, 0.125, -0.125, 10, false,
       -0.125 + clearance},
      {"falling beyond GL=-1, clearance lost", 1, 1.5, -1, 10, false, -1},
      {"falling ignores GR", 2, 1, -10, -5, false, 0},
      {"rising ignores GL", -2, -1, 5, 10, true, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Search s(row.start, row.step, row.gl, row.gr);
    s.settings.iteration_limit = 0;
    if (row.rise) {
      s.Run(rising);
    } else {
      s.Run(falling);
    }
    ASSERT_GT(s.calls.size(), 2u);
    EXPECT_EQ(s.calls[1].x, row.start - row.step);
    EXPECT_EQ(s.calls[2].x, row.pattern);
  }
  // A pattern point beyond 0.125 in magnitude lands on the bound itself.
  EXPECT_EQ(-0.125 + clearance, std::nextafter(-0.125, 0.0));
}

// With no displacement no bound is consulted, even outside the bounds.
TEST(MaximizeTest, NoDisplacementNoClamp) {
  Search s(20, 0.5, -10, 10);
  s.settings.iteration_limit = 0;
  s.Run([](double x) { return x == 20 ? 0.0 : -1.0; });
  EXPECT_EQ(s.calls[3].x, 20);
}

// A failed pattern move: ten contractions toward the base, then one more
// evaluation at the contracted point, and the steps are halved next cycle.
TEST(MaximizeTest, FailedPatternMove) {
  Search s(0, -1, -10, 10);
  s.settings.iteration_limit = 1;
  s.Run([](double x) { return x <= 1 ? x : -x; });
  // calls: start 0, explore 1 (accepted), pattern 2 fails, then 1 + 2^-k.
  ASSERT_GE(s.calls.size(), 14u);
  EXPECT_EQ(s.calls[2].x, 2);
  for (int k = 1; k <= 10; ++k) {
    EXPECT_EQ(s.calls[2 + k].x, 1 + std::ldexp(1.0, -k)) << k;
  }
  ASSERT_EQ(s.report.blocks.size(), 1u);
  EXPECT_EQ(s.report.blocks[0].function_count, 13);
  EXPECT_EQ(s.report.blocks[0].ln_lh, 1.0);  // the reference, not the trial
  // Cycle 2 starts from the contracted point with its lower value
  // -(1 + 2^-10) as the reference, and halves the step -1.5 before its move.
  EXPECT_EQ(s.calls[13].step, -0.75);
  EXPECT_EQ(s.calls[13].x, 1 + std::ldexp(1.0, -10) + 0.75);
  // The other side, 0.25 + 2^-10 with value about 0.25, beats that lowered
  // reference (it would not beat the old one, 1): the step grows to 0.5625.
  EXPECT_EQ(s.calls[14].x, 1 + std::ldexp(1.0, -10) - 0.75);
  EXPECT_EQ(s.calls[15].step, 0.375 * 1.5);
}

// A cycle whose exploratory move is accepted at 3 - step and whose pattern
// move fails throughout, the last evaluation (call 13, at the contracted
// point) returning `last`. Row 2 is fixed; the objective moves it as a tie
// would. With a step below 1e-6 the step test then ends the search; with
// iteration limit 0 and a large step the limit ends it.
struct FailedLastTrial {
  ParameterTable table;
  Recorder report;
  MaximizerResult result;

  FailedLastTrial(double step, double last, std::int32_t limit) {
    table.estimate[1] = 1;
    table.value[1] = 3;
    table.step[1] = step;
    table.GL[1] = -10;
    table.GR[1] = 10;
    table.value[2] = 5;
    MaximizerSettings settings;
    settings.iteration_limit = limit;
    int calls = 0;
    result = Maximize(
        2, table, settings,
        [&] {
          table.value[2] = 6;
          switch (++calls) {
            case 1:
              return 0.0;
            case 2:
              return 1.0;
            case 13:
              return last;
            default:
              return -1.0;
          }
        },
        &report);
  }
};

// The last trial failed outright (at or below -1e18): the base point, the
// end of the exploratory move, is returned with its value, the reference;
// fixed rows return to their start values too. Just above -1e18 the trial
// point stands.
TEST(MaximizeTest, FinishAfterAFailedLastTrial) {
  const double step = -std::ldexp(1.0, -24);  // converged: below 1e-6
  const double base = 3 + std::ldexp(1.0, -24);
  const double contracted = base + std::ldexp(1.0, -34);  // base + d / 2^10
  for (double last : {FailureSentinel, -std::numeric_limits<double>::infinity(),
                      std::nextafter(FailureSentinel, 0.0)}) {
    SCOPED_TRACE(last);
    FailedLastTrial s(step, last, 500);
    EXPECT_TRUE(s.report.failures.empty());
    EXPECT_EQ(s.result.iteration_count, 1);
    EXPECT_EQ(s.result.function_count, 13);
    EXPECT_EQ(s.table.step[1], step * 1.5);
    if (last <= FailureSentinel) {
      EXPECT_EQ(s.result.final_ln_lh, 1.0);
      EXPECT_EQ(s.table.value[1], base);
      EXPECT_EQ(s.table.value[2], 5);
    } else {
      EXPECT_EQ(s.result.final_ln_lh, last);
      EXPECT_EQ(s.table.value[1], contracted);
      EXPECT_EQ(s.table.value[2], 6);
    }
  }
}

// A failed last trial of a failed pattern move does not become the reference:
// in cycle 2 both exploratory trials (-1) lose against 1, so the cycle makes
// 2 + 11 evaluations.
TEST(MaximizeTest, FailedLastTrialIsNoReference) {
  FailedLastTrial s(-1, FailureSentinel, 1);
  EXPECT_EQ(s.result.iteration_count, 2);
  EXPECT_EQ(s.result.function_count, 26);
  ASSERT_EQ(s.report.blocks.size(), 1u);
  EXPECT_EQ(s.report.blocks[0].ln_lh, 1.0);
  EXPECT_EQ(s.result.final_ln_lh, -1.0);
  // Cycle 2 stays at 4 + 2^-10, but the pattern move extrapolates from the
  // base point of cycle 1, 4, and ends 2^-10 / 2^10 beyond the new base.
  EXPECT_EQ(s.table.value[1], 4 + std::ldexp(1.0, -10) + std::ldexp(1.0, -20));
  EXPECT_EQ(s.table.step[1], -0.75 * -0.5);
}

// The same at the iteration limit: the table never shows a point whose
// evaluation failed, and the ln LH recorded is that of the point shown.
TEST(MaximizeTest, IterationLimitAfterAFailedLastTrial) {
  const double base = 4;                     // 3 - (-1)
  const double contracted = 4 + 1.0 / 1024;  // pattern point 5, 10 halvings
  for (double last : {FailureSentinel, -2.0}) {
    SCOPED_TRACE(last);
    FailedLastTrial s(-1, last, 0);
    ASSERT_EQ(s.report.failures.size(), 1u);
    EXPECT_EQ(s.report.failures[0], MaximizerFailure::kMaximumNotFound);
    EXPECT_TRUE(s.report.blocks.empty());
    EXPECT_EQ(s.result.iteration_count, 1);
    EXPECT_EQ(s.result.function_count, 13);
    EXPECT_EQ(s.table.step[1], -1.5);
    if (last <= FailureSentinel) {
      EXPECT_EQ(s.result.final_ln_lh, 1.0);
      EXPECT_EQ(s.table.value[1], base);
      EXPECT_EQ(s.table.value[2], 5);
    } else {
      EXPECT_EQ(s.result.final_ln_lh, last);
      EXPECT_EQ(s.table.value[1], contracted);
      EXPECT_EQ(s.table.value[2], 6);
    }
  }
}

// Iteration limit: "MAXIMUM NOT FOUND", and the point and ln LH are those of
// the last evaluation (not 0).
TEST(MaximizeTest, IterationLimitRecordsTheLastEvaluation) {
  Search s(0, 0.25);
  s.settings.iteration_limit = 2;
  s.Run(Parabola);
  ASSERT_EQ(s.report.failures.size(), 1u);
  EXPECT_EQ(s.report.failures[0], MaximizerFailure::kMaximumNotFound);
  EXPECT_EQ(s.result.iteration_count, 3);
  EXPECT_EQ(s.result.function_count, 19);
  EXPECT_EQ(s.report.blocks.size(), 2u);
  ASSERT_EQ(s.calls.size(), 19u);
  EXPECT_EQ(s.result.final_ln_lh, s.calls.back().ln_lh);
  EXPECT_EQ(s.table.value[1], s.calls.back().x);
  EXPECT_EQ(s.table.value[1], 1.12542724609375);
  EXPECT_EQ(s.table.step[1], 0.140625);
}

// A start at or below -1e17 (single precision) cannot start the search.
TEST(MaximizeTest, FailedStart) {
  struct Row {
    double start;
    bool fails;
  };
  const Row rows[] = {
      {FailureSentinel, true},
      {kMinus1e17f, true},
      {-std::numeric_limits<double>::infinity(), true},
      {std::nextafter(kMinus1e17f, 0.0), false},
      // No trial could beat it; the search would only shrink its steps.
      {std::numeric_limits<double>::quiet_NaN(), true},
  };
  EXPECT_EQ(kMinus1e17f, -k1e17f);
  EXPECT_EQ(kMinus1e17f, -99999998430674944.0);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.start);
    Search s(0, 0.25);
    s.settings.iteration_limit = 0;
    s.Run([&](double x) { return x == 0 ? row.start : row.start - 1; });
    if (row.fails) {
      ASSERT_EQ(s.report.failures.size(), 1u);
      EXPECT_EQ(s.report.failures[0], MaximizerFailure::kMaximumNotFound);
      EXPECT_EQ(s.result.iteration_count, 0);
      EXPECT_EQ(s.result.function_count, 1);
      if (std::isnan(row.start)) {
        EXPECT_TRUE(std::isnan(s.result.final_ln_lh));
      } else {
        EXPECT_EQ(s.result.final_ln_lh, row.start);
      }
      EXPECT_EQ(s.table.value[1], 0);
      EXPECT_EQ(s.table.step[1], 0.25);
    } else {
      EXPECT_GT(s.result.function_count, 1);
    }
  }
}

}  // namespace
}  // namespace segmix

namespace segmix {
namespace {

// The exploratory move takes v - s and v + s and, when both fail, comes back
// by adding twice the halved, reversed step. In double arithmetic it rarely
// comes back bit for bit (149.44 with 0.09425 misses by an ulp), but only a
// step that swamps the value loses it.
TEST(FirstLostStepRowTest, OnlyStepsThatSwampTheValueAreLost) {
  struct Row {
    double value, step;
    bool lost;
  };
  const Row rows[] = {
      {10.5, 0.5, false},
      {149.44, 0.09425, false},
      {0.001, 0.05, false},
      {10.5, 1e8, false},  // larger than any bounds
      {0, 1e30, false},
      {-3.77, -0.346, false},
      {10.5, 1e30, true},
      {10.5, 1e17, true},
      {0.001, 1e12, true},
      {10.5, std::numeric_limits<double>::infinity(), true},
      // Missed, but by less than the absolute 1e-6 the search resolves.
      {1e-12, 1e3, false},
  };
  const MaximizerSettings settings;
  for (const Row& row : rows) {
    ParameterTable table;
    table.estimate[3] = 1;
    table.value[3] = row.value;
    table.step[3] = row.step;
    EXPECT_EQ(FirstLostStepRow(kParameterCount, table, settings),
              row.lost ? 3 : 0)
        << row.value << " step " << row.step;
  }

  // Fixed rows are never stepped; the first free row that loses its value
  // is named.
  ParameterTable table;
  table.value[2] = 10.5;
  table.step[2] = 1e30;  // fixed
  for (const int row : {4, 6}) {
    table.estimate[row] = 1;
    table.value[row] = 10.5;
    table.step[row] = 1e30;
  }
  EXPECT_EQ(FirstLostStepRow(kParameterCount, table, settings), 4);
  EXPECT_EQ(FirstLostStepRow(3, table, settings), 0);  // rows 1..3 only
}

}  // namespace
}  // namespace segmix
