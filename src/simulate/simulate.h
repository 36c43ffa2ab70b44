// Drawing pedigree tables from segmix's own model: families of founders,
// children, marry-in spouses and half-sibs; genotypes dropped through each
// pedigree (Hardy-Weinberg founders with allele frequency Q, binomial
// polygenic founders, Mendelian and hypergeometric transmission); traits from
// the model's normal density around the genotype means, the polygenic effect
// and the covariates. The table is in segmix-prep's input format.
//
// Every draw comes from one PortableRandom stream seeded with the settings'
// seed, in a fixed order, so a seed and settings give the same table on every
// platform.
#ifndef SEGMIX_SIMULATE_SIMULATE_H_
#define SEGMIX_SIMULATE_SIMULATE_H_

#include <array>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace segmix::simulate {

// The parameters of the model the traits are drawn from, by their names in
// par.inp. The mean of a person of major genotype g (1: two copies of the
// allele of frequency Q; 2: one; 3: none), polygenic genotype of x
// increasing alleles (0..6), sex code s and covariates X1..XK is
// (MU, A or D) + (s == 2 ? Sex : 0) + B1 X1 + ... + BK XK + (x - 3) pga, and
// SIG is the residual variance. Tr[g - 1] is the probability that a parent
// of major genotype g transmits the allele of frequency Q (Tr1..Tr3 of
// par.inp); Mendelian transmission is 1, 0.5, 0.
inline constexpr std::array<double, 3> kMendelian = {1.0, 0.5, 0.0};
struct ModelTruth {
  double Q = 0.2;
  double MU = 3.0;
  double A = 1.5;
  double D = 0.0;
  double pga = 0.0;
  double SIG = 1.0;
  double Sex = 0.0;
  std::array<double, 5> B{};  // B1..B5
  std::array<double, 3> Tr = kMendelian;
};

struct SimulationSettings {
  std::uint64_t seed = 1;
  int families = 100;
  // Generations per family, founders included. 1: each family is a single
  // person; 2: a couple and their children; 3 and more: children of the
  // previous generation may marry in a spouse and have children.
  int generations = 3;
  // Children per couple: 1 + Poisson(children_mean - 1), at most
  // max_children.
  double children_mean = 2.5;
  int max_children = 8;
  // Probability that a child who is not of the last generation marries in a
  // spouse (a founder) and has children.
  double marry_in = 0.6;
  // Probability that a parent has a second spouse (a marry-in founder) and
  // children with them too: half-sibs.
  double half_sibs = 0.05;
  // Probability that a trait value is missing (never the proband's).
  double missing = 0.1;
  // One proband per family, drawn among the members who have parents in
  // the family (among all when none has), with status code proband_code; the
  // others have 2. Without probands every status code is 2.
  bool probands = true;
  int proband_code = 1;
  // With a value: a family is kept only when its proband's trait exceeds it,
  // else drawn again (single ascertainment through the proband).
  std::optional<double> ascertain;
  int covariates = 0;  // 0..5, columns cov1..covK, each standard normal
  ModelTruth truth;
};

// Throws std::invalid_argument naming the first setting out of its range.
void CheckSimulationSettings(const SimulationSettings& settings);

struct SimulatedPerson {
  int family = 0;  // 1-based
  int id = 0;      // 1-based within the family
  int father = 0;  // 0: a founder
  int mother = 0;
  int sex = 1;
  int status = 2;
  int generation = 1;
  int major = 0;      // 1..3
  int polygenic = 0;  // increasing alleles, 0..6
  bool observed = true;
  double trait = 0;  // drawn for everyone, also when reported missing
  std::array<double, 5> covariates{};  // rounded to 3 decimals, as written
};

// The ascertainment threshold was not reached within the allowed redraws.
class SimulationFailed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Redraws allowed per family under ascertainment.
inline constexpr int kAscertainmentAttempts = 100000;

// Precondition: CheckSimulationSettings passes.
std::vector<SimulatedPerson> SimulatePersons(
    const SimulationSettings& settings);

// The table: two comment lines (the settings and the truth), the header
// "family id father mother sex status trait cov1 .. covK", one row per person
// in the order drawn (parents before children). Traits with 4 decimals, NA
// when missing; covariates with 3 decimals.
void WriteSimulatedTable(const SimulationSettings& settings,
                         const std::vector<SimulatedPerson>& persons,
                         std::ostream& out);

}  // namespace segmix::simulate

#endif  // SEGMIX_SIMULATE_SIMULATE_H_
