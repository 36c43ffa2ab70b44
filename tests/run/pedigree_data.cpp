// Writing and reading back the test data sets, and the brute-force
// likelihood (see pedigree_data.h).
#include "pedigree_data.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/brute_force_likelihood.h"

namespace segmix::testing {
namespace {

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

// The genetic tables of the model's values: Mendelian transmission unless
// Tr1 is in the model, then Tr1..Tr3.
test::GeneticTables TablesOf(const TestModel& m) {
  std::array<long double, 3> pass = {1.0L, 0.5L, 0.0L};
  if (m.in_model[8] != 0) pass = {m.value[8], m.value[9], m.value[10]};
  return test::PlainGeneticTables(m.value[1], pass);
}

// A member's trait densities in the ordinary pass or the correction pass.
test::StateValues Densities(const TestMember& member, const TestModel& m,
                            int covariate_count, bool correction) {
  test::StateValues d;
  d.fill(1.0L);
  if (member.trait <= -998.0f) return d;
  if (correction && member.status == 2) return d;
  const bool second_sex = m.in_model[7] != 0 && member.sex == 2;
  long double shift = second_sex ? m.value[7] : 0.0;
  for (int k = 0; k < covariate_count; ++k) {
    shift += static_cast<long double>(m.value[11 + k]) *
             static_cast<long double>(member.covariates.at(k));
  }
  return test::PlainDensities(member.trait,
                              {m.value[2], m.value[3], m.value[4]}, shift,
                              m.value[5], m.value[6]);
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
  // Members numbered from 0; a child in a nuclear family has its parents.
  std::vector<test::BruteForceMember> members(family.members.size());
  for (std::size_t x = 0; x < members.size(); ++x) {
    members[x].density =
        Densities(family.members[x], model, covariate_count, correction);
  }
  for (const TestNuclear& w : family.nuclear) {
    for (int c : w.children) {
      members[c - 1].father = w.p1 - 1;
      members[c - 1].mother = w.p2 - 1;
    }
  }
  return std::log(test::BruteForceFamilyLikelihood(members, TablesOf(model)));
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
