// Writing and reading back the test data sets, and the brute-force
// likelihood (see pedigree_data.h).
#include "pedigree_data.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>

namespace segmix::testing {
namespace {

constexpr int kStates = 21;  // 3 major x 7 polygenic genotypes

std::string Number9(float value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.9g", static_cast<double>(value));
  return buffer;
}

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  const auto last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

// A real field of 12 columns that always holds a decimal point (a field
// without one would be scaled by 10^-5) and reads back as `value`.
std::string RealField(double value) {
  char buffer[64];
  for (int digits = 10; digits >= 1; --digits) {
    std::snprintf(buffer, sizeof buffer, "%#.*G", digits, value);
    if (std::string(buffer).size() <= 12 &&
        std::strtod(buffer, nullptr) == value) {
      std::string text(buffer);
      return std::string(12 - text.size(), ' ') + text;
    }
  }
  throw std::invalid_argument("no 12-column field for a test value");
}

std::string FixedInt(int value, int width) {
  std::string text = std::to_string(value);
  return std::string(width - text.size(), ' ') + text;
}

// Binomial coefficient as an exact small integer.
double Choose(int n, int k) {
  if (k < 0 || k > n) return 0;
  double c = 1;
  for (int i = 1; i <= k; ++i) c = c * (n - k + i) / i;
  return c;
}

// The genetic tables of one model, indexed by state s = 7 (g - 1) + (j - 1).
struct Tables {
  std::array<long double, kStates> prior{};
  // trans[c][a][b]: child state c given parent states a and b.
  std::vector<long double> trans =
      std::vector<long double>(kStates * kStates * kStates);
  long double Trans(int c, int a, int b) const {
    return trans[(c * kStates + a) * kStates + b];
  }
};

Tables BuildTables(const TestModel& m) {
  Tables t;
  const long double q = m.value[1];
  const long double major_prior[3] = {q * q, 2 * q * (1 - q),
                                      (1 - q) * (1 - q)};
  // Probability that a parent of major genotype g passes the allele that
  // genotype 1 carries twice.
  long double pass[3] = {1.0L, 0.5L, 0.0L};
  if (m.in_model[8] != 0) {
    pass[0] = m.value[8];
    pass[1] = m.value[9];
    pass[2] = m.value[10];
  }
  long double major[3][3][3];  // [child][g1][g2]
  for (int a = 0; a < 3; ++a) {
    for (int b = 0; b < 3; ++b) {
      major[0][a][b] = pass[a] * pass[b];
      major[1][a][b] = pass[a] * (1 - pass[b]) + pass[b] * (1 - pass[a]);
      major[2][a][b] = (1 - pass[a]) * (1 - pass[b]);
    }
  }
  // A parent with x increasing alleles among 6 passes k of them in a gamete
  // of 3 drawn without replacement.
  long double gamete[7][4];
  for (int x = 0; x <= 6; ++x) {
    for (int k = 0; k <= 3; ++k) {
      gamete[x][k] = Choose(x, k) * Choose(6 - x, 3 - k) / Choose(6, 3);
    }
  }
  long double poly[7][7][7] = {};  // [child][a][b]
  for (int a = 0; a <= 6; ++a) {
    for (int b = 0; b <= 6; ++b) {
      for (int ka = 0; ka <= 3; ++ka) {
        for (int kb = 0; kb <= 3; ++kb) {
          poly[ka + kb][a][b] += gamete[a][ka] * gamete[b][kb];
        }
      }
    }
  }
  for (int s = 0; s < kStates; ++s) {
    t.prior[s] = major_prior[s / 7] * (Choose(6, s % 7) / 64.0L);
  }
  for (int c = 0; c < kStates; ++c) {
    for (int a = 0; a < kStates; ++a) {
      for (int b = 0; b < kStates; ++b) {
        t.trans[(c * kStates + a) * kStates + b] =
            major[c / 7][a / 7][b / 7] * poly[c % 7][a % 7][b % 7];
      }
    }
  }
  return t;
}

std::array<long double, kStates> Densities(const TestMember& member,
                                           const TestModel& m,
                                           int covariate_count,
                                           bool correction) {
  std::array<long double, kStates> d;
  d.fill(1.0L);
  if (member.trait <= -998.0f) return d;
  if (correction && member.status == 2) return d;
  const bool second_sex = m.in_model[7] != 0 && member.sex == 2;
  long double covariate_term = 0;
  for (int k = 0; k < covariate_count; ++k) {
    covariate_term += static_cast<long double>(m.value[11 + k]) *
                      static_cast<long double>(member.covariates.at(k));
  }
  const double means[3] = {m.value[2], m.value[3], m.value[4]};
  const long double sig = m.value[6];
  for (int s = 0; s < kStates; ++s) {
    const long double mean =
        means[s / 7] + (second_sex ? m.value[7] : 0.0) +
        (s % 7 - 3) * static_cast<long double>(m.value[5]) + covariate_term;
    const long double r = static_cast<long double>(member.trait) - mean;
    d[s] = std::exp(-r * r / (2 * sig)) / std::sqrt(sig);
  }
  return d;
}

}  // namespace

std::string ParameterLine(int tie, int in_model, int estimate, double value,
                          double step, double gl, double gr) {
  return FixedInt(tie, 3) + FixedInt(in_model, 3) + FixedInt(estimate, 2) +
         RealField(value) + RealField(step) + RealField(gl) + RealField(gr);
}

void WriteControlFile(const ControlFile& c) {
  std::ofstream out("par.inp", std::ios::binary | std::ios::trunc);
  out << c.flags.size() << ' ' << c.proband_switch << " '" << c.trait_file
      << "' " << c.covariate_files.size() << '\n';
  std::string flags;
  for (std::size_t g = 0; g < c.flags.size(); ++g) {
    flags += static_cast<char>('0' + c.flags[g]);
    if (g % 20 == 19) flags += '\n';
  }
  if (flags.empty() || flags.back() != '\n') flags += '\n';
  out << flags;
  for (int j = 1; j <= 15; ++j) {
    const TestModel& m = c.model;
    out << ParameterLine(m.tie[j], m.in_model[j], m.estimate[j], m.value[j],
                         m.step[j], m.gl[j], m.gr[j])
        << '\n';
  }
  for (const std::string& name : c.covariate_files) out << name << '\n';
}

void WriteDataFiles(const DataSet& data, const ControlFile& control) {
  const int n = static_cast<int>(data.families.size());
  std::ostringstream r1, r2, r3, r4, r5, r6, r7, trait;
  std::vector<std::ostringstream> covariates(control.covariate_files.size());
  r1 << n << ' '
     << (data.stored_family_count < 0 ? n : data.stored_family_count);
  r2 << 0;
  std::vector<int> list_offsets{0};
  std::vector<int> list;
  std::vector<int> connectors;
  int members = 0, nuclear = 0;
  for (const TestFamily& f : data.families) {
    r1 << ' ' << members;
    r2 << ' ' << nuclear;
    for (const TestNuclear& w : f.nuclear) {
      list.push_back(w.p1);
      list.push_back(w.p2);
      for (int x : w.children) list.push_back(x);
      list_offsets.push_back(static_cast<int>(list.size()));
      connectors.push_back(w.connector);
      ++nuclear;
    }
    for (const TestMember& m : f.members) {
      r6 << ' ' << m.sex;
      r7 << (members == 0 ? "" : " ") << m.status;
      trait << (members == 0 ? "" : " ") << Number9(m.trait);
      for (std::size_t q = 0; q < covariates.size(); ++q) {
        covariates[q] << (members == 0 ? "" : " ")
                      << Number9(m.covariates.at(q));
      }
      ++members;
    }
  }
  r1 << ' ' << members;
  r2 << ' ' << nuclear;
  const int M = nuclear + 2;
  r3 << M << ' ' << 0;
  for (int offset : list_offsets) r3 << ' ' << offset;
  r4 << list.size();
  for (int x : list) r4 << ' ' << x;
  for (std::size_t i = 0; i < connectors.size(); ++i) {
    r5 << (i == 0 ? "" : " ") << connectors[i];
  }
  std::ofstream iway("iway.dat", std::ios::binary | std::ios::trunc);
  iway << r1.str() << '\n'
       << r2.str() << '\n'
       << r3.str() << '\n'
       << r4.str() << '\n'
       << r5.str() << '\n'
       << members << r6.str() << '\n'
       << r7.str() << '\n';
  std::ofstream(control.trait_file, std::ios::binary | std::ios::trunc)
      << trait.str() << '\n';
  for (std::size_t q = 0; q < covariates.size(); ++q) {
    std::ofstream(control.covariate_files[q],
                  std::ios::binary | std::ios::trunc)
        << covariates[q].str() << '\n';
  }
}

ControlFile ReadControlFileBack(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  ControlFile c;
  std::string line;
  std::getline(in, line);
  std::istringstream first(line);
  int family_count = 0, covariate_count = 0;
  std::string name;
  first >> family_count >> c.proband_switch >> name >> covariate_count;
  if (name.size() >= 2 && (name.front() == '\'' || name.front() == '"')) {
    name = name.substr(1, name.size() - 2);
  }
  c.trait_file = name;
  int flag_records = family_count <= 0 ? 1 : (family_count + 19) / 20;
  for (int r = 0; r < flag_records; ++r) {
    std::getline(in, line);
    for (int col = 0;
         col < 20 && static_cast<int>(c.flags.size()) < family_count; ++col) {
      const char ch = col < static_cast<int>(line.size()) ? line[col] : ' ';
      c.flags.push_back(ch == ' ' ? 0 : ch - '0');
    }
  }
  for (int j = 1; j <= 15; ++j) {
    std::getline(in, line);
    line.resize(56, ' ');
    TestModel& m = c.model;
    m.tie[j] = std::atoi(line.substr(0, 3).c_str());
    m.in_model[j] = std::atoi(line.substr(3, 3).c_str());
    m.estimate[j] = std::atoi(line.substr(6, 2).c_str());
    double* fields[4] = {&m.value[j], &m.step[j], &m.gl[j], &m.gr[j]};
    for (int f = 0; f < 4; ++f) {
      const std::string text = Trimmed(line.substr(8 + 12 * f, 12));
      if (!text.empty() && text.find('.') == std::string::npos) {
        throw std::invalid_argument("test reader needs a point in " + text);
      }
      *fields[f] = text.empty() ? 0.0 : std::strtod(text.c_str(), nullptr);
    }
  }
  for (int i = 0; i < covariate_count; ++i) {
    std::getline(in, line);
    std::istringstream record(line);
    std::string cov;
    record >> cov;
    if (cov.size() >= 2 && (cov.front() == '\'' || cov.front() == '"')) {
      cov = cov.substr(1, cov.size() - 2);
    }
    c.covariate_files.push_back(cov);
  }
  return c;
}

DataSet ReadDataFilesBack(const ControlFile& control) {
  std::ifstream iway("iway.dat", std::ios::binary);
  auto next = [&iway] {
    long long v;
    if (!(iway >> v)) throw std::runtime_error("iway.dat too short");
    return static_cast<int>(v);
  };
  const int n = next();
  std::vector<int> member_offset(n + 2), nuclear_offset(n + 2);
  for (int& v : member_offset) v = next();
  for (int& v : nuclear_offset) v = next();
  const int M = next();
  std::vector<int> list_offset(M);
  for (int& v : list_offset) v = next();
  const int L = next();
  std::vector<int> list(L + 1);
  for (int i = 1; i <= L; ++i) list[i] = next();
  std::vector<int> connector(M - 1);
  for (int w = 1; w <= M - 2; ++w) connector[w] = next();
  const int S = next();
  std::vector<int> sex(S + 1), status(S + 1);
  for (int k = 1; k <= S; ++k) sex[k] = next();
  for (int k = 1; k <= S; ++k) status[k] = next();
  auto read_reals = [S](const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::vector<float> values(S + 1);
    for (int k = 1; k <= S; ++k) {
      std::string token;
      in >> token;
      values[k] = std::strtof(token.c_str(), nullptr);
    }
    return values;
  };
  const std::vector<float> trait = read_reals(control.trait_file);
  std::vector<std::vector<float>> covariates;
  for (const std::string& name : control.covariate_files) {
    covariates.push_back(read_reals(name));
  }
  DataSet data;
  data.stored_family_count = member_offset[0];
  for (int g = 1; g <= n; ++g) {
    TestFamily f;
    const int base = member_offset[g];
    for (int k = base + 1; k <= member_offset[g + 1]; ++k) {
      TestMember m{sex[k], status[k], trait[k], {}};
      for (const auto& values : covariates) m.covariates.push_back(values[k]);
      f.members.push_back(m);
    }
    for (int w = nuclear_offset[g] + 1; w <= nuclear_offset[g + 1]; ++w) {
      TestNuclear nf;
      nf.p1 = list[list_offset[w] + 1];
      nf.p2 = list[list_offset[w] + 2];
      for (int e = list_offset[w] + 3; e <= list_offset[w + 1]; ++e) {
        nf.children.push_back(list[e]);
      }
      nf.connector = connector[w];
      f.nuclear.push_back(nf);
    }
    data.families.push_back(f);
  }
  return data;
}

TestModel Effective(const TestModel& model, int covariate_count) {
  (void)covariate_count;
  TestModel m = model;
  for (int row : {11, 12, 13, 14, 15, 5, 7}) {
    if (m.in_model[row] == 0) m.value[row] = 0;
  }
  for (int j = 1; j <= 15; ++j) {
    if (m.tie[j] != j) m.value[j] = m.value[m.tie[j]];
  }
  return m;
}

long double FamilyPassValue(const TestFamily& family, const TestModel& model,
                            int covariate_count, bool correction) {
  const Tables tables = BuildTables(model);
  const int n = static_cast<int>(family.members.size());
  std::vector<std::array<long double, kStates>> d(n + 1);
  for (int x = 1; x <= n; ++x) {
    d[x] = Densities(family.members[x - 1], model, covariate_count, correction);
  }
  // Who is listed, who is whose child, who is a parent.
  std::vector<int> listed(n + 1, 0), parent_a(n + 1, 0), parent_b(n + 1, 0),
      is_parent(n + 1, 0);
  for (const TestNuclear& w : family.nuclear) {
    listed[w.p1] = listed[w.p2] = 1;
    is_parent[w.p1] = is_parent[w.p2] = 1;
    for (int c : w.children) {
      listed[c] = 1;
      parent_a[c] = w.p1;
      parent_b[c] = w.p2;
    }
  }
  long double value = 0;
  // Members in no nuclear family: ln of their prior-weighted density.
  for (int x = 1; x <= n; ++x) {
    if (listed[x]) continue;
    long double sum = 0;
    for (int s = 0; s < kStates; ++s) sum += tables.prior[s] * d[x][s];
    value += std::log(sum);
  }
  // The parents, ordered so that each comes after its own parents.
  std::vector<int> order;
  std::vector<int> placed(n + 1, 0);
  bool progress = true;
  while (progress) {
    progress = false;
    for (int x = 1; x <= n; ++x) {
      if (!is_parent[x] || placed[x]) continue;
      if (parent_a[x] != 0 && !(placed[parent_a[x]] && placed[parent_b[x]])) {
        continue;
      }
      order.push_back(x);
      placed[x] = 1;
      progress = true;
    }
  }
  std::vector<int> leaves;
  for (int x = 1; x <= n; ++x) {
    if (listed[x] && !is_parent[x]) leaves.push_back(x);
  }
  if (order.empty()) return value;
  // A leaf's own sum, for every pair of parent states.
  std::vector<std::vector<long double>> leaf_sum(
      leaves.size(), std::vector<long double>(kStates * kStates, 0));
  for (std::size_t i = 0; i < leaves.size(); ++i) {
    const int x = leaves[i];
    for (int a = 0; a < kStates; ++a) {
      for (int b = 0; b < kStates; ++b) {
        long double sum = 0;
        for (int c = 0; c < kStates; ++c)
          sum += tables.Trans(c, a, b) * d[x][c];
        leaf_sum[i][a * kStates + b] = sum;
      }
    }
  }
  std::vector<int> state(n + 1, 0);
  long double total = 0;
  std::function<void(std::size_t, long double)> visit =
      [&](std::size_t depth, long double product) {
        if (depth == order.size()) {
          for (std::size_t i = 0; i < leaves.size(); ++i) {
            const int x = leaves[i];
            product *=
                leaf_sum[i][state[parent_a[x]] * kStates + state[parent_b[x]]];
          }
          total += product;
          return;
        }
        const int x = order[depth];
        for (int s = 0; s < kStates; ++s) {
          const long double factor =
              parent_a[x] == 0
                  ? tables.prior[s] * d[x][s]
                  : tables.Trans(s, state[parent_a[x]], state[parent_b[x]]) *
                        d[x][s];
          if (factor == 0) continue;
          state[x] = s;
          visit(depth + 1, product * factor);
        }
      };
  visit(0, 1.0L);
  return value + std::log(total);
}

long double FamilyTerm(const TestFamily& family, const TestModel& model,
                       int covariate_count, int proband_switch) {
  bool corrected = proband_switch != 0;
  for (const TestMember& m : family.members) corrected |= m.status == 0;
  long double term = FamilyPassValue(family, model, covariate_count, false);
  if (corrected) term -= FamilyPassValue(family, model, covariate_count, true);
  return term;
}

SampleValue SampleLogLikelihoodByBruteForce(const DataSet& data,
                                            const ControlFile& control) {
  const int covariate_count = static_cast<int>(control.covariate_files.size());
  const TestModel model = Effective(control.model, covariate_count);
  const int stored = data.stored_family_count < 0
                         ? static_cast<int>(data.families.size())
                         : data.stored_family_count;
  SampleValue result;
  for (int g = 1; g <= stored; ++g) {
    const bool selected = g <= static_cast<int>(control.flags.size()) &&
                          control.flags[g - 1] != 0;
    if (!selected) continue;
    const TestFamily& f = data.families[g - 1];
    int observed = 0;
    for (const TestMember& m : f.members) observed += m.trait >= -998.0f;
    if (observed == 0) continue;
    const long double term =
        FamilyTerm(f, model, covariate_count, control.proband_switch);
    result.ln_lh += term;
    result.records.push_back(
        {g, static_cast<int>(f.members.size()), term * (1.0L / observed)});
  }
  return result;
}

}  // namespace segmix::testing
