// segmix-fit's pieces without data: par.inp fields, model lines and tables,
// nesting, chi-square tails and the start rule.
#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

#include "fit/comparisons.h"
#include "fit/model_series.h"
#include "fit/par_file.h"
#include "fit/standard_errors.h"
#include "fit/starts.h"
#include "support/scratch_path.h"

namespace segmix::fit {
namespace {

ParameterTable BaseTable();

// The built-in model `name` on BaseTable(), with one covariate.
ParameterTable BuiltInTable(const std::string& name) {
  for (const ModelDescription& m : BuiltInModels()) {
    if (m.name == name) return ApplyModel(BaseTable(), m, 1);
  }
  throw std::runtime_error(name);
}

ParameterTable BaseTable() {
  ParameterTable t;
  const double rows[16][4] = {{},
                              {0.2, 0.05, 0, 1},
                              {3.77, 0.346, -15.7, 18},
                              {2.04, 0.346, -15.7, 18},
                              {0.31, 0.346, -15.7, 18},
                              {0.346, 0.0865, 0, 3.46},
                              {1.5, 0.299, 0, 12},
                              {0, 0.173, -3.46, 3.46},
                              {1, 0.05, 0, 1},
                              {0.5, 0.05, 0, 1},
                              {0, 0.05, 0, 1},
                              {0, 0.166, -16.6, 16.6},
                              {},
                              {},
                              {},
                              {}};
  for (int r = 1; r <= kParameterCount; ++r) {
    t.tie[r] = r;
    t.value[r] = rows[r][0], t.step[r] = rows[r][1];
    t.GL[r] = rows[r][2], t.GR[r] = rows[r][3];
    const bool core = r <= kD || r == kSIG || r == kB1;
    t.in_model[r] = core ? 1 : 0;
    t.estimate[r] = core ? 1 : 0;
  }
  return t;
}

TEST(Field12, WritesAValueSegmixReadsBackExactlyWhenItFits) {
  const std::filesystem::path dir = testing::ScratchPathForCurrentTest("fit_");
  std::filesystem::create_directories(dir);
  ControlSettings settings;
  settings.family_count = 1;
  settings.selection_flags = {0, 1};
  settings.data_file_name = "trait.dat       ";
  struct Case {
    double value;
    bool exact;  // fits in 12 columns with all its digits
  } cases[] = {{0.2, true},        {-15.7, true},
               {1e-7, true},       {123456789012.0, false},
               {0.1875, true},     {-0.9010855531, true},
               {1.0 / 3.0, false}, {-2.0 / 3.0e-5, false},
               {7e22, true},       {0.0, true},
               {-1e-300, true},    {3.0, true}};
  for (const Case& c : cases) {
    const std::string field = Field12(c.value);
    EXPECT_LE(field.size(), 12u) << field;
    EXPECT_NE(field.find('.'), std::string::npos) << field;
    ParameterTable t = BaseTable();
    t.value[kMU] = c.value;
    const ParameterTable back =
        WriteAndReadBack(dir / "par.inp", ParInpText(settings, t));
    if (c.exact) {
      EXPECT_EQ(back.value[kMU], c.value) << field;
    } else {
      EXPECT_NEAR(back.value[kMU], c.value, 1e-6 * std::abs(c.value)) << field;
    }
    for (int r = 1; r <= kParameterCount; ++r) {
      if (r != kMU) {
        EXPECT_EQ(back.value[r], t.value[r]) << r;
      }
      EXPECT_EQ(back.GL[r], t.GL[r]);
      EXPECT_EQ(back.estimate[r], t.estimate[r]);
    }
  }
  std::filesystem::remove_all(dir);
}

TEST(ModelLine, RefusesWhatItCannotRead) {
  const struct {
    const char* line;
    const char* reason;
  } cases[] = {
      {"m A=MU Z=free", "unknown parameter 'Z'"},
      {"m A=A", "ties A to itself"},
      {"m Q", "not of the form NAME=WHAT"},
      {"m Q=often", "neither free, fixed, in, out"},
      {"m fixed", "must follow a value change"},
      {"m MU=out", "MU is not a component"},
      {"m/x Q=free", "letters, digits"},
      {"m Q=nan", "neither free"},
  };
  for (const auto& c : cases) {
    try {
      ParseModelLine(c.line);
      ADD_FAILURE() << c.line;
    } catch (const ModelError& e) {
      EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos)
          << c.line << ": " << e.what();
    }
  }
}

TEST(ModelTable, AppliesChangesAndRefusesImpossibleOnes) {
  const ParameterTable base = BaseTable();
  const ParameterTable t = ApplyModel(
      base, ParseModelLine("m A=MU Q=0.1 fixed pga=in Tr1=in Tr2=Tr1"), 1);
  EXPECT_EQ(t.tie[kA], kMU);
  EXPECT_EQ(t.value[kQ], 0.1);
  EXPECT_EQ(t.estimate[kQ], 0);
  EXPECT_EQ(t.in_model[kPga], 1);
  EXPECT_EQ(t.tie[kTr2], kTr1);
  EXPECT_EQ(FreeRows(t), (std::vector<int>{kMU, kD, kPga, kSIG, kTr1, kB1}));
  const struct {
    const char* line;
    const char* reason;
  } refused[] = {
      {"m B2=in", "B2 has no covariate"},
      {"m Q=1.5", "outside its bounds"},
      {"m A=D D=MU", "tied itself"},
      {"m A=pga pga=out", "out of the model"},
      {"m Tr1=out A=Tr2", "Mendelian"},
      {"m Tr3=out", "only Tr1=out makes transmission Mendelian"},
  };
  for (const auto& c : refused) {
    try {
      ApplyModel(base, ParseModelLine(c.line), 1);
      ADD_FAILURE() << c.line;
    } catch (const ModelError& e) {
      EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos)
          << c.line << ": " << e.what();
    }
  }
}

// A free Q with more than one genotype mean keeps genotype 1 the one of the
// higher mean: Mendelian transmission then stands as Tr1..Tr3 fixed at 1,
// 1/2, 0 under the general switch, which makes the search test D <= MU.
TEST(ModelTable, OrderedLabelsSwitchGeneralTransmissionOnAtMendelianValues) {
  const ParameterTable base = BaseTable();
  const struct {
    const char* line;
    bool switched;  // Tr1 in the model at 1, 1/2, 0, fixed
    bool mendelian;
  } cases[] = {
      {"m Q=free A=free D=free Tr1=out", true, true},  // major
      {"m Q=free A=MU D=free pga=in Tr1=out", true, true},
      {"m Q=free A=D D=free pga=in Tr1=out", true, true},
      {"m Q=fixed A=MU D=MU pga=in Tr1=out", false, true},  // polygenic
      {"m Q=free A=MU D=MU Tr1=out", false, true},  // one mean: no labels
      {"m Q=0.3 fixed A=free D=free Tr1=out", false, true},  // no symmetry
      {"m Q=free Tr1=in Tr2=in Tr3=in", false, false},       // general-tau
      // A change of Tr2 or Tr3 alone puts the general model in, the others
      // at their values: fitted as written, not as Mendelian.
      {"m Tr1=1 fixed Tr2=free Tr3=0 fixed", false, false},
      {"m Tr2=in", false, false},
      {"m Tr2=in Tr1=out", true, true},  // out, later, takes it out again
  };
  for (const auto& c : cases) {
    const ParameterTable t = ApplyModel(base, ParseModelLine(c.line), 1);
    EXPECT_EQ(t.in_model[kTr1] != 0, c.switched || !c.mendelian) << c.line;
    EXPECT_EQ(MendelianTransmission(t), c.mendelian) << c.line;
    if (c.switched) {
      EXPECT_EQ(t.value[kTr1], 1.0);
      EXPECT_EQ(t.value[kTr2], 0.5);
      EXPECT_EQ(t.value[kTr3], 0.0);
      EXPECT_EQ(t.estimate[kTr1] + t.estimate[kTr2] + t.estimate[kTr3], 0);
    }
  }
}

TEST(ModelFile, NamesTheLineOfTheFirstBadModel) {
  const std::filesystem::path dir = testing::ScratchPathForCurrentTest("fit_");
  std::filesystem::create_directories(dir);
  const auto path = dir / "models.txt";
  const struct {
    const char* text;
    const char* message;  // empty: accepted
  } cases[] = {
      {"# mine\n\nmine A=MU Sex=in\n", ""},
      {"ok A=MU\nbad A=Q=1\n", "models.txt:2: "},
      {"mixed A=MU\n", "models.txt:1: model name 'mixed' is already taken"},
      {"a Q=free\na D=MU\n", "models.txt:2: model name 'a'"},
  };
  for (const auto& c : cases) {
    std::ofstream(path) << c.text;
    try {
      const auto models = ReadModelFile(path);
      EXPECT_STREQ(c.message, "") << c.text;
      EXPECT_EQ(models.size(), 1u);
    } catch (const ModelError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << e.what();
      EXPECT_STRNE(c.message, "");
    }
  }
  std::filesystem::remove_all(dir);
}

TEST(Nesting, BuiltInSeries) {
  const auto table = BuiltInTable;
  const struct {
    const char *inner, *outer;
    bool nested;
    int inner_free, outer_free;
  } cases[] = {
      {"sporadic", "polygenic", true, 3, 4},
      {"polygenic", "mixed", true, 4, 7},
      {"major", "mixed", true, 6, 7},
      {"mixed", "general-tau", true, 7, 10},
      {"equal-tau", "general-tau", true, 8, 10},
      {"mixed-dominant", "mixed", true, 6, 7},
      {"mixed-recessive", "mixed", true, 6, 7},
      {"mixed", "equal-tau", false, 7, 8},
      {"mixed", "major", false, 7, 6},
      {"major", "mixed-dominant", false, 6, 6},
  };
  for (const auto& c : cases) {
    const ParameterTable inner = table(c.inner), outer = table(c.outer);
    EXPECT_EQ(NestedIn(inner, outer), c.nested) << c.inner << " in " << c.outer;
    EXPECT_EQ(FreeRows(inner).size(), static_cast<std::size_t>(c.inner_free))
        << c.inner;
    EXPECT_EQ(FreeRows(outer).size(), static_cast<std::size_t>(c.outer_free))
        << c.outer;
  }
  // A major locus: genotype means that can differ and Q not held at 0 or 1.
  for (const ModelDescription& m : BuiltInModels()) {
    EXPECT_EQ(HasMajorLocus(table(m.name)),
              m.name != "sporadic" && m.name != "polygenic")
        << m.name;
  }
  const struct {
    const char* line;
    bool major_locus;
  } custom[] = {
      {"m Q=0 fixed", false}, {"m Q=1 fixed A=free", false},
      {"m A=D D=free", true}, {"m A=free D=MU", true},
      {"m A=MU D=MU", false},
  };
  for (const auto& c : custom) {
    EXPECT_EQ(
        HasMajorLocus(ApplyModel(table("major"), ParseModelLine(c.line), 1)),
        c.major_locus)
        << c.line;
  }
  // pga = 0 under "major" lies on pga's lower bound in "mixed": one row.
  EXPECT_EQ(RowsOnBound(table("major"), table("mixed")), 1);
  EXPECT_EQ(RowsOnBound(table("polygenic"), table("mixed")), 0);
}

TEST(ChiSquare, TailsAgainstClosedForms) {
  const struct {
    double x;
    int df;
    double plain, mixture;
  } cases[] = {
      {3.8414588206941236, 1, 0.05, 0.025},
      {2.7055434540954142, 1, 0.1, 0.05},
      {4.0, 2, std::exp(-2.0),
       0.5 * std::erfc(std::sqrt(2.0)) + 0.5 * std::exp(-2.0)},
      {0.0, 3, 1.0, 1.0},
      {-1.0, 1, 1.0, 1.0},
  };
  for (const auto& c : cases) {
    EXPECT_NEAR(ChiSquareUpper(c.x, c.df), c.plain, 1e-12) << c.x;
    EXPECT_NEAR(MixtureUpper(c.x, c.df), c.mixture, 1e-12) << c.x;
  }
  EXPECT_DOUBLE_EQ(Aic(-100, 3), 206);
  EXPECT_DOUBLE_EQ(Bic(-100, 2, 100), 200 + 2 * std::log(100.0));
}

// Mendelian within general transmission puts Tr1 (on GR = 1) and Tr3 (on
// GL = 0) on bounds: with their estimators correlated 0.5, turned towards
// their admissible sides -0.5, the weights are arccos(-0.5)/2pi = 1/3, 1/2
// and 1/6 on 0, 1 and 2 bounded df, beside Tr2's interior one.
TEST(Compare, MendelianTestTakesTheChiBarSquaredOfItsBoundedRows) {
  const auto table = BuiltInTable;
  const ParameterTable null = table("mixed"),
                       alternative = table("general-tau");
  StandardErrors se;
  se.rows = FreeRows(alternative);
  const std::size_t n = se.rows.size();
  se.covariance.assign(n, std::vector<double>(n, 0.0));
  std::size_t tr1 = 0, tr3 = 0;
  for (std::size_t i = 0; i < n; ++i) {
    se.covariance[i][i] = 0.04;
    if (se.rows[i] == kTr1) tr1 = i;
    if (se.rows[i] == kTr3) tr3 = i;
  }
  se.covariance[tr1][tr3] = se.covariance[tr3][tr1] = 0.02;  // rho 0.5
  const double x = 3.1;
  const Comparison c = Compare("Mendelian", "mixed", -10 - x / 2, null, 7,
                               "general-tau", -10, alternative, 10, &se);
  const double expected = ChiSquareUpper(x, 1) / 3 + ChiSquareUpper(x, 2) / 2 +
                          ChiSquareUpper(x, 3) / 6;
  EXPECT_NEAR(c.p_value, expected, 1e-12) << c.distribution;
  EXPECT_NE(c.distribution.find("chi-bar-squared"), std::string::npos);
  // Without the covariance: the conservative plain chi2(3), said so.
  const Comparison plain = Compare("Mendelian", "mixed", -10 - x / 2, null, 7,
                                   "general-tau", -10, alternative, 10);
  EXPECT_NEAR(plain.p_value, ChiSquareUpper(x, 3), 1e-15);
  EXPECT_NE(plain.note.find("conservative"), std::string::npos);
}

// The information at the null on a quadratic ln LH, -1/2 (x - c)' A (x - c):
// the one-sided stencils along the bounded rows (Tr1 at 1, Tr3 at 0) and the
// central ones elsewhere are exact for it, so the covariance is A^-1 up to
// rounding.
TEST(Compare, InformationAtTheNullIsExactOnAQuadratic) {
  const ParameterTable null = BuiltInTable("mixed"),
                       alternative = BuiltInTable("general-tau");
  const ParameterTable at = NullPoint(null, null, alternative);
  EXPECT_EQ(at.value[kTr1], 1 - 1e-8);
  EXPECT_EQ(at.value[kTr2], 0.5);
  EXPECT_EQ(at.value[kTr3], 1e-8);
  const std::vector<int> rows = FreeRows(alternative);
  const int n = static_cast<int>(rows.size());
  Eigen::MatrixXd A = Eigen::MatrixXd::Zero(n, n);
  for (int i = 0; i < n; ++i) {
    A(i, i) = 1 + i;
    for (int j = 0; j < n; ++j) A(i, j) += 0.3 * ((i + j) % 2 == 0 ? 1 : -1);
  }
  const auto quadratic = [&](const std::vector<ParameterTable>& points) {
    std::vector<double> values;
    for (const ParameterTable& t : points) {
      Eigen::VectorXd d(n);
      for (int i = 0; i < n; ++i) d[i] = t.value[rows[i]] - 0.3;
      values.push_back(-0.5 * d.dot(A * d));
    }
    return values;
  };
  const StandardErrors info =
      InformationAtNull(quadratic, at, rows, BoundRows(null, alternative));
  ASSERT_TRUE(info.negative_definite) << info.problem;
  ASSERT_EQ(info.rows, rows);
  const Eigen::MatrixXd V = A.inverse();
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      EXPECT_NEAR(info.covariance[i][j], V(i, j), 1e-6) << i << " " << j;
    }
  }
}

// Along a ridge (ln LH flat in MU - SIG to working precision, a parameter
// not identified) the difference Hessian's flat eigenvalue is rounding
// noise of either sign; where the eigensolver reads it as negative, the
// inverse's variances are no numbers to take roots of. Either way no SE
// printed is anything but a positive number.
TEST(StandardErrorsTest, ARidgeGivesNoSEsRatherThanRootsOfNegatives) {
  int singular = 0;
  for (const double centre : {0.3, 0.7, 1.1, 1.9, 2.3, 3.7, 5.3, 7.1}) {
    ParameterTable at;
    at.GL.fill(-1e3);
    at.GR.fill(1e3);
    at.value[kMU] = centre;
    at.value[kSIG] = centre + 0.5;
    const auto ridge = [&](const ParameterTable& t) {
      const double u = t.value[kMU] - t.value[kSIG] + 0.5;
      return -0.5 * u * u;
    };
    const StandardErrors se = ComputeStandardErrors(ridge, at, {kMU, kSIG});
    for (const double v : se.se) EXPECT_GT(v, 0) << centre;
    if (se.problem.find("singular to working precision") != std::string::npos) {
      ++singular;
      EXPECT_TRUE(se.se.empty());
      EXPECT_FALSE(se.negative_definite);
    }
  }
  EXPECT_GT(singular, 0);
}

// A statistic of rounding noise (an alternative whose maximum is the null's)
// is 0, whose p is 1, not the half of the mixture's tail just above 0.
TEST(Compare, AStatisticOfRoundingNoiseIsZero) {
  const auto table = BuiltInTable;
  for (const double noise : {0.0, 5.63e-12, 9e-7}) {
    const Comparison c =
        Compare("polygenic component", "major", -10 - noise / 2, table("major"),
                5, "mixed", -10, table("mixed"), 6);
    EXPECT_EQ(c.distribution, "50:50 chi2(0):chi2(1)");
    EXPECT_EQ(c.p_value, 1.0) << noise;
  }
}

TEST(Starts, SpreadRuleIsReproducibleAndAdmissible) {
  EXPECT_EQ(Halton(1, 2), 0.5);
  EXPECT_EQ(Halton(3, 2), 0.75);
  EXPECT_EQ(Halton(2, 3), 2.0 / 3.0);
  const ParameterTable model = ApplyModel(
      BaseTable(), ParseModelLine("m pga=in Tr1=in Tr2=in Tr3=in"), 1);
  for (int s = 1; s <= 6; ++s) {
    const ParameterTable t = SpreadStart(model, s, 2.0, 1.5);
    EXPECT_GE(t.value[kMU], t.value[kA]);
    EXPECT_GE(t.value[kA], t.value[kD]);
    for (int r : FreeRows(model)) {
      EXPECT_GT(t.value[r], model.GL[r]) << r;
      EXPECT_LT(t.value[r], model.GR[r]) << r;
    }
    EXPECT_GE(t.value[kSIG], 0.25 * 2.25);
    EXPECT_LE(t.value[kSIG], 1.25 * 2.25);
  }
  const ParameterTable warm = WarmStart(model, BaseTable());
  EXPECT_EQ(warm.value[kPga], 0.346);  // the base value, inside the bounds
}

// Equal transmission moved from a model that transmits differently: the
// Hardy-Weinberg mean of the three probabilities, f = Q^2, 2Q(1-Q), (1-Q)^2.
TEST(Starts, TiedTransmissionTakesTheMeanOverGenotypes) {
  const ParameterTable equal = BuiltInTable("equal-tau");
  ParameterTable general = BuiltInTable("general-tau");
  general.value[kQ] = 0.3;
  general.value[kTr1] = 0.9, general.value[kTr2] = 0.4,
  general.value[kTr3] = 0.15;
  EXPECT_NEAR(WarmStart(equal, general).value[kTr1],
              0.09 * 0.9 + 0.42 * 0.4 + 0.49 * 0.15, 1e-15);
  ParameterTable mendelian = BuiltInTable("mixed");
  mendelian.value[kQ] = 0.3;
  EXPECT_NEAR(WarmStart(equal, mendelian).value[kTr1], 0.3, 1e-15);
  EXPECT_EQ(WarmStart(general, mendelian).value[kTr2], 0.5);  // one genotype
}

}  // namespace
}  // namespace segmix::fit
