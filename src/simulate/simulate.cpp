// Drawing families from the model. The order of draws is part of the
// contract (a seed must keep giving the same table): family by family; in a
// family, person by person in the order created (sex, major genotype,
// polygenic genotype, covariates, trait), the number of children of each
// couple before its first child, marriages right after the child; then the
// proband, then the missing values.
#include "simulate/simulate.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <deque>
#include <ostream>

#include "cli/command_line.h"
#include "simulate/portable_random.h"
#include "textio/number_text.h"

namespace segmix::simulate {
namespace {

// Shortest text of a double that reads back to it, for the settings line.
std::string Shortest(double value) {
  char buffer[64];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, end.ptr);
}

// `value` rounded as FixedText writes it, so that the model's mean uses
// exactly the covariate the table shows.
double Rounded(double value, int decimals) {
  const std::string text = FixedText(value, decimals);
  double rounded = 0;
  std::from_chars(text.data(), text.data() + text.size(), rounded);
  return rounded;
}

class FamilyDrawer {
 public:
  FamilyDrawer(const SimulationSettings& settings, PortableRandom& random)
      : s_(settings), random_(random) {}

  std::vector<SimulatedPerson> Draw(int family) {
    persons_.clear();
    couples_.clear();
    if (s_.generations == 1) {
      NewPerson(family, 0, 0, 1 + static_cast<int>(random_.Below(2)), 1);
    } else {
      const int father = NewPerson(family, 0, 0, 1, 1);
      const int mother = NewPerson(family, 0, 0, 2, 1);
      couples_.push_back({father, mother, 1});
      MaybeSecondSpouse(family, random_.Below(2) == 0 ? father : mother, 1);
    }
    while (!couples_.empty()) {
      const Couple couple = couples_.front();
      couples_.pop_front();
      const std::int64_t extra = random_.Poisson(s_.children_mean - 1);
      const int children =
          static_cast<int>(std::min<std::int64_t>(1 + extra, s_.max_children));
      for (int c = 0; c < children; ++c) {
        const int sex = 1 + static_cast<int>(random_.Below(2));
        const int child = NewPerson(family, couple.father, couple.mother, sex,
                                    couple.generation + 1);
        if (couple.generation + 1 < s_.generations &&
            random_.Chance(s_.marry_in)) {
          Marry(family, child, couple.generation + 1);
          MaybeSecondSpouse(family, child, couple.generation + 1);
        }
      }
    }
    return persons_;
  }

 private:
  struct Couple {
    int father;
    int mother;
    int generation;
  };

  // A new marry-in founder of the other sex becomes `person`'s spouse.
  void Marry(int family, int person, int generation) {
    const int sex = persons_[person - 1].sex;
    const int spouse = NewPerson(family, 0, 0, 3 - sex, generation);
    if (sex == 1) {
      couples_.push_back({person, spouse, generation});
    } else {
      couples_.push_back({spouse, person, generation});
    }
  }

  void MaybeSecondSpouse(int family, int person, int generation) {
    if (random_.Chance(s_.half_sibs)) Marry(family, person, generation);
  }

  // The Q allele (genotype 1 carries it twice, 3 never) passes with
  // probability Tr(major). The Mendelian values draw as they always have (no
  // draw for 1 and 0, a fair bit for 0.5), so default tables keep their bytes.
  int TransmittedQAlleles(int major) {
    const double transmission = s_.truth.Tr[major - 1];
    if (transmission == 1) return 1;
    if (transmission == 0) return 0;
    if (transmission == 0.5) return random_.Below(2) == 0 ? 1 : 0;
    return random_.Chance(transmission) ? 1 : 0;
  }

  int NewPerson(int family, int father, int mother, int sex, int generation) {
    SimulatedPerson p;
    p.family = family;
    p.id = static_cast<int>(persons_.size()) + 1;
    p.father = father;
    p.mother = mother;
    p.sex = sex;
    p.generation = generation;
    if (father == 0) {
      p.major = 3 - random_.Binomial(2, s_.truth.Q);
      p.polygenic = random_.Binomial(6, 0.5);
    } else {
      const SimulatedPerson& f = persons_[father - 1];
      const SimulatedPerson& m = persons_[mother - 1];
      const int q_alleles =
          TransmittedQAlleles(f.major) + TransmittedQAlleles(m.major);
      p.major = 3 - q_alleles;
      // Each parent passes 3 of its 6 polygenic alleles, drawn without
      // replacement.
      p.polygenic = random_.Hypergeometric(6, f.polygenic, 3) +
                    random_.Hypergeometric(6, m.polygenic, 3);
    }
    const ModelTruth& t = s_.truth;
    double mean = p.major == 1 ? t.MU : p.major == 2 ? t.A : t.D;
    if (sex == 2) mean += t.Sex;
    for (int q = 0; q < s_.covariates; ++q) {
      p.covariates[q] = Rounded(random_.Normal(), 3);
      mean += t.B[q] * p.covariates[q];
    }
    mean += (p.polygenic - 3) * t.pga;
    p.trait = mean + std::sqrt(t.SIG) * random_.Normal();
    persons_.push_back(p);
    return p.id;
  }

  const SimulationSettings& s_;
  PortableRandom& random_;
  std::vector<SimulatedPerson> persons_;
  std::deque<Couple> couples_;
};

}  // namespace

void CheckSimulationSettings(const SimulationSettings& s) {
  auto require = [](bool ok, const std::string& text) {
    if (!ok) throw std::invalid_argument(text);
  };
  require(s.families >= 1, "the family count must be at least 1");
  require(s.generations >= 1 && s.generations <= 10,
          "the generation count must be 1 to 10");
  require(s.max_children >= 1 && s.max_children <= 20,
          "the largest number of children must be 1 to 20");
  require(s.children_mean >= 1 && s.children_mean <= s.max_children,
          "the mean number of children must be at least 1 and at most the"
          " largest number of children");
  for (const double p : {s.marry_in, s.half_sibs, s.missing}) {
    require(p >= 0 && p <= 1, "probabilities must be 0 to 1");
  }
  require(s.proband_code == 0 || s.proband_code == 1,
          "the proband status code must be 0 or 1");
  require(!s.ascertain || s.probands, "ascertainment needs probands");
  require(s.covariates >= 0 && s.covariates <= 5,
          "the covariate count must be 0 to 5");
  const ModelTruth& t = s.truth;
  require(t.Q >= 0 && t.Q <= 1, "Q must be 0 to 1");
  for (const double tr : t.Tr) {
    require(tr >= 0 && tr <= 1, "Tr1, Tr2 and Tr3 must be 0 to 1");
  }
  require(t.SIG > 0, "SIG (a variance) must be above 0");
  require(t.D <= t.MU,
          "D must not exceed MU: genotype 1 is the genotype of the higher"
          " mean in this model");
  for (int q = s.covariates; q < 5; ++q) {
    require(t.B[q] == 0, std::string(1, 'B') + std::to_string(q + 1) +
                             " is given but there are only " +
                             std::to_string(s.covariates) + " covariates");
  }
  for (const double v : {t.Q, t.MU, t.A, t.D, t.pga, t.SIG, t.Sex, t.B[0],
                         t.B[1], t.B[2], t.B[3], t.B[4]}) {
    require(std::isfinite(v), "model parameters must be finite");
  }
  if (s.ascertain)
    require(std::isfinite(*s.ascertain),
            "the ascertainment threshold must be finite");
}

std::vector<SimulatedPerson> SimulatePersons(
    const SimulationSettings& settings) {
  PortableRandom random(settings.seed);
  FamilyDrawer drawer(settings, random);
  std::vector<SimulatedPerson> all;
  for (int family = 1; family <= settings.families; ++family) {
    std::vector<SimulatedPerson> persons;
    int proband = -1;
    for (int attempt = 1;; ++attempt) {
      persons = drawer.Draw(family);
      if (!settings.probands) break;
      std::vector<int> candidates;
      for (int i = 0; i < static_cast<int>(persons.size()); ++i) {
        if (persons[i].father != 0) candidates.push_back(i);
      }
      if (candidates.empty()) {
        for (int i = 0; i < static_cast<int>(persons.size()); ++i) {
          candidates.push_back(i);
        }
      }
      proband = candidates[random.Below(candidates.size())];
      if (!settings.ascertain || persons[proband].trait > *settings.ascertain) {
        break;
      }
      if (attempt == kAscertainmentAttempts) {
        throw SimulationFailed("family " + std::to_string(family) +
                               ": no proband's trait"
                               " exceeded the ascertainment threshold " +
                               Shortest(*settings.ascertain) + " in " +
                               std::to_string(kAscertainmentAttempts) +
                               " draws; lower the threshold.");
      }
    }
    for (int i = 0; i < static_cast<int>(persons.size()); ++i) {
      if (i == proband) {
        persons[i].status = settings.proband_code;
        continue;
      }
      persons[i].observed = !random.Chance(settings.missing);
    }
    all.insert(all.end(), persons.begin(), persons.end());
  }
  return all;
}

void WriteSimulatedTable(const SimulationSettings& s,
                         const std::vector<SimulatedPerson>& persons,
                         std::ostream& out) {
  out << "# segmix-simulate --seed " << s.seed << " --families " << s.families
      << " --generations " << s.generations << " --children "
      << Shortest(s.children_mean) << " --max-children " << s.max_children
      << " --marry-in " << Shortest(s.marry_in) << " --half-sibs "
      << Shortest(s.half_sibs) << " --missing " << Shortest(s.missing);
  if (!s.probands) {
    out << " --no-probands";
  } else {
    out << " --proband-status " << s.proband_code;
  }
  if (s.ascertain) out << " --ascertain " << Shortest(*s.ascertain);
  out << " --covariates " << s.covariates << "\n";
  const ModelTruth& t = s.truth;
  out << "# truth: --Q " << Shortest(t.Q) << " --MU " << Shortest(t.MU)
      << " --A " << Shortest(t.A) << " --D " << Shortest(t.D) << " --pga "
      << Shortest(t.pga) << " --SIG " << Shortest(t.SIG) << " --Sex "
      << Shortest(t.Sex);
  for (int q = 0; q < s.covariates; ++q) {
    out << " --B" << q + 1 << ' ' << Shortest(t.B[q]);
  }
  if (t.Tr != kMendelian) {
    for (int i = 0; i < 3; ++i) {
      out << " --Tr" << i + 1 << ' ' << Shortest(t.Tr[i]);
    }
  }
  out << "\n";
  out << "family id father mother sex status trait";
  for (int q = 1; q <= s.covariates; ++q) out << " cov" << q;
  out << "\n";
  for (const SimulatedPerson& p : persons) {
    out << p.family << ' ' << p.id << ' ' << p.father << ' ' << p.mother << ' '
        << p.sex << ' ' << p.status << ' '
        << (p.observed ? FixedText(p.trait, 4) : std::string("NA"));
    for (int q = 0; q < s.covariates; ++q) {
      out << ' ' << FixedText(p.covariates[q], 3);
    }
    out << "\n";
  }
}

}  // namespace segmix::simulate
