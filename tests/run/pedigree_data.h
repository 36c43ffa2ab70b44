// Data sets for the end-to-end runs, and the likelihood computed without the
// program: families written as members and nuclear families, the files
// iway.dat / trait / covariate / par.inp made from them (or read back from a
// directory), and a brute-force log-likelihood that sums the genotype states
// of the listed members directly, with no peeling and no rescaling
// (support/brute_force_likelihood.h).
//
// Everything in it is the model written down plainly: Hardy-Weinberg priors,
// Mendelian (or the general Tr1..Tr3) transmission of the major genotype, the
// hypergeometric transmission of the polygenic count, and the density
// exp(-(y - mean)^2 / (2 SIG)) / sqrt(SIG).
#ifndef SEGMIX_TESTS_RUN_PEDIGREE_DATA_H_
#define SEGMIX_TESTS_RUN_PEDIGREE_DATA_H_

#include <array>
#include <string>
#include <vector>

namespace segmix::testing {

struct TestMember {
  int sex = 1;
  int status = 2;         // 2 = not a proband
  float trait = -999.0f;  // below -998: missing
  std::vector<float> covariates;
};

struct TestNuclear {
  int p1 = 0, p2 = 0;         // member positions within the family
  std::vector<int> children;  // member positions
  int connector = 0;          // 0, a parent, or the first child
};

struct TestFamily {
  std::vector<TestMember> members;  // positions 1.. in order
  std::vector<TestNuclear> nuclear;
};

struct DataSet {
  std::vector<TestFamily> families;
  int stored_family_count = -1;  // -1: all listed families
};

// The fifteen parameter records as the program uses them, after the
// switch-off of left-out components and the ties.
struct TestModel {
  std::array<int, 16> tie{}, in_model{}, estimate{};
  std::array<double, 16> value{}, step{}, gl{}, gr{};
};

struct ControlFile {
  std::vector<int> flags;  // flags[g - 1] for g = 1..family count
  int proband_switch = 0;
  std::string trait_file = "trait.dat";
  std::vector<std::string> covariate_files;
  TestModel model;
};

// A 56-column parameter record; `value`, `step`, `gl`, `gr` are written with
// 12 significant digits in their E12.5 fields' place as free text that reads
// back exactly for the short decimals the tests use.
std::string ParameterLine(int tie, int in_model, int estimate, double value,
                          double step, double gl, double gr);

// Writes par.inp, iway.dat, the trait file and the covariate files into the
// working directory. Trait and covariate values are written with 9
// significant digits, which reads back as the same float.
void WriteControlFile(const ControlFile& control);
void WriteDataFiles(const DataSet& data, const ControlFile& control);

// Reads a control file and the data files named in it back from the working
// directory (free-form records one per line, as the test files are).
ControlFile ReadControlFileBack(const std::string& path);
DataSet ReadDataFilesBack(const ControlFile& control);

// The model after the run's switch-off step and the ties.
TestModel Effective(const TestModel& model, int covariate_count);

// ln of the brute-force likelihood of family f's listed members plus the
// member terms of its unlisted members, in the ordinary pass
// (correction = false) or the correction pass.
long double FamilyPassValue(const TestFamily& family, const TestModel& model,
                            int covariate_count, bool correction);

// One family's term: the pass value, less the correction pass value when the
// proband switch is nonzero or a member has status 0.
long double FamilyTerm(const TestFamily& family, const TestModel& model,
                       int covariate_count, int proband_switch);

struct SampleValue {
  long double ln_lh = 0;
  // (family number, member count, term x weight) for every evaluated family.
  struct Record {
    int g;
    int n;
    long double weighted;
  };
  std::vector<Record> records;
};

// The sample log-likelihood over the families the program evaluates: g =
// 1..stored count, selected by the control file, with an observed member.
SampleValue SampleLogLikelihoodByBruteForce(const DataSet& data,
                                            const ControlFile& control);

}  // namespace segmix::testing

#endif  // SEGMIX_TESTS_RUN_PEDIGREE_DATA_H_
