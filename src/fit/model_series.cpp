// The model series. The built-in models are written in the model-file format
// and parsed by the same code, so their documentation is their definition.
#include "fit/model_series.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <fstream>
#include <set>
#include <sstream>

#include "cli/command_line.h"
#include "cli/input_file.h"

namespace segmix::fit {
namespace {

struct BuiltIn {
  const char* name;
  const char* definition;
};

constexpr BuiltIn kBuiltIns[] = {
    {"sporadic", "Q=fixed MU=free A=MU D=MU pga=out Tr1=out"},
    {"polygenic", "Q=fixed MU=free A=MU D=MU pga=in Tr1=out"},
    {"major", "Q=free MU=free A=free D=free pga=out Tr1=out"},
    {"mixed", "Q=free MU=free A=free D=free pga=in Tr1=out"},
    {"mixed-dominant", "Q=free MU=free A=MU D=free pga=in Tr1=out"},
    {"mixed-recessive", "Q=free MU=free A=D D=free pga=in Tr1=out"},
    {"general-tau", "Q=free MU=free A=free D=free pga=in Tr1=in Tr2=in Tr3=in"},
    {"equal-tau", "Q=free MU=free A=free D=free pga=in Tr1=in Tr2=Tr1 Tr3=Tr1"},
};

int RowOf(std::string_view name) {
  for (int j = 1; j <= kParameterCount; ++j) {
    if (ShortParameterName(j) == name) return j;
  }
  return 0;
}

std::string NameOf(int row) { return std::string(ShortParameterName(row)); }

bool IsComponent(int row) {
  return row == kPga || row == kSex || (row >= kTr1 && row <= kTr3) ||
         (row >= kB1 && row <= kB5);
}

bool IsSwitchable(int row) { return row == kPga || row == kSex || row >= kB1; }

std::vector<std::string> Words(std::string_view line) {
  std::vector<std::string> words;
  std::istringstream in{std::string(line)};
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

bool ParseNumber(const std::string& text, double& value) {
  const char* end = text.data() + text.size();
  const auto r = std::from_chars(text.data(), end, value);
  return r.ec == std::errc() && r.ptr == end && std::isfinite(value);
}

// The state of a row as the nesting test compares it.
struct RowState {
  enum class Kind { kFree, kFixed, kTied } kind = Kind::kFixed;
  double value = 0;
  int target = 0;
};

RowState StateOf(const ParameterTable& t, int row) {
  RowState s;
  if (row >= kTr1 && row <= kTr3 && t.in_model[kTr1] == 0) {
    s.value = row == kTr1 ? 1.0 : row == kTr2 ? 0.5 : 0.0;
    return s;
  }
  if (IsSwitchable(row) && t.in_model[row] == 0) return s;
  if (t.tie[row] != row) {
    s.kind = RowState::Kind::kTied;
    s.target = t.tie[row];
    return s;
  }
  if (t.estimate[row] != 0) {
    s.kind = RowState::Kind::kFree;
    return s;
  }
  s.value = t.value[row];
  return s;
}

}  // namespace

const std::vector<ModelDescription>& BuiltInModels() {
  static const std::vector<ModelDescription> models = [] {
    std::vector<ModelDescription> list;
    for (const BuiltIn& b : kBuiltIns) {
      ModelDescription description =
          ParseModelLine(std::string(b.name) + " " + b.definition);
      description.built_in = true;
      list.push_back(description);
    }
    return list;
  }();
  return models;
}

ModelDescription ParseModelLine(std::string_view line) {
  const std::vector<std::string> words = Words(line);
  if (words.empty()) throw ModelError("empty model line");
  ModelDescription description;
  description.name = words[0];
  for (char c : description.name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') {
      throw ModelError("model name '" + description.name +
                       "' may hold only letters, digits, '-' and '_'");
    }
  }
  if (description.name.find('=') != std::string::npos ||
      description.name.size() > 40) {
    throw ModelError("model name '" + description.name + "' is not a name");
  }
  for (std::size_t i = 1; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (!description.definition.empty()) description.definition += ' ';
    description.definition += word;
    if (word == "fixed" || word == "free") {
      if (description.changes.empty() ||
          description.changes.back().kind != ModelChange::Kind::kValue ||
          description.changes.back().estimate != -1) {
        throw ModelError("'" + word +
                         "' must follow a value change such as Q=0.1");
      }
      description.changes.back().estimate = word == "fixed" ? 0 : 1;
      continue;
    }
    const auto eq = word.find('=');
    if (eq == std::string::npos) {
      throw ModelError("change '" + word + "' is not of the form NAME=WHAT");
    }
    ModelChange change;
    const std::string name = word.substr(0, eq);
    const std::string what = word.substr(eq + 1);
    change.row = RowOf(name);
    if (change.row == 0) {
      throw ModelError("unknown parameter '" + name + "' in '" + word +
                       "' (known: Q MU A D pga SIG Sex Tr1 Tr2 Tr3 B1..B5)");
    }
    if (what == "free") {
      change.kind = ModelChange::Kind::kFree;
    } else if (what == "fixed") {
      change.kind = ModelChange::Kind::kFixed;
    } else if (what == "in") {
      change.kind = ModelChange::Kind::kIn;
    } else if (what == "out") {
      change.kind = ModelChange::Kind::kOut;
    } else if (RowOf(what) != 0) {
      change.kind = ModelChange::Kind::kTie;
      change.target = RowOf(what);
      if (change.target == change.row) {
        throw ModelError("'" + word + "' ties " + name + " to itself; write " +
                         name + "=free");
      }
    } else if (ParseNumber(what, change.value)) {
      change.kind = ModelChange::Kind::kValue;
    } else {
      throw ModelError(
          "'" + what + "' in '" + word +
          "' is neither free, fixed, in, out, a parameter nor a number");
    }
    if ((change.kind == ModelChange::Kind::kIn ||
         change.kind == ModelChange::Kind::kOut) &&
        !IsComponent(change.row)) {
      throw ModelError(name +
                       " is not a component that can be put in or left out (" +
                       word + "); only pga, Sex, Tr1..Tr3 and B1..B5 are");
    }
    description.changes.push_back(change);
  }
  return description;
}

std::vector<ModelDescription> ReadModelFile(const std::filesystem::path& path) {
  // A directory or a device is refused, and a line is capped, before the
  // first model is parsed: /dev/zero would otherwise fill the memory.
  std::ifstream in;
  cli::OpenInputFile(in, path.string(), "the model file");
  std::set<std::string> names;
  for (const ModelDescription& b : BuiltInModels()) names.insert(b.name);
  std::vector<ModelDescription> models;
  int number = 0;
  for (std::string line;
       cli::ReadLineCapped(in, line, path.string(), number + 1);) {
    ++number;
    const auto first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    const std::string place =
        path.string() + ":" + std::to_string(number) + ": ";
    ModelDescription description;
    try {
      description = ParseModelLine(line);
    } catch (const ModelError& error) {
      throw ModelError(place + error.what());
    }
    if (!names.insert(description.name).second) {
      throw ModelError(place + "model name '" + description.name +
                       "' is already taken (built-in or earlier line)");
    }
    models.push_back(description);
  }
  if (in.bad()) {
    throw cli::InputFileError(path.string() +
                              ": reading the model file failed.");
  }
  return models;
}

ParameterTable ApplyModel(const ParameterTable& base,
                          const ModelDescription& model, int covariate_count) {
  ParameterTable t = base;
  auto refuse = [&](const std::string& reason) {
    throw ModelError("model '" + model.name + "': " + reason);
  };
  auto make_free = [&](int row) {
    t.tie[row] = row;
    t.estimate[row] = 1;
    if (IsComponent(row)) t.in_model[row] = 1;
  };
  // Only Tr1's in-model flag switches the general transmission model on, so
  // a change to Tr2 or Tr3 alone would be fitted as Mendelian while the
  // report showed it. Any change of Tr1..Tr3 but Tr1=out puts the general
  // model in (the other two at their values); Tr1=out, later, takes it out.
  bool general = false;
  for (const ModelChange& c : model.changes) {
    const int r = c.row;
    if (r >= kTr1 && r <= kTr3) {
      if (c.kind == ModelChange::Kind::kOut && r != kTr1) {
        refuse(NameOf(r) +
               "=out cannot be honoured: only Tr1=out makes "
               "transmission Mendelian; fix " +
               NameOf(r) + " at a value instead (" + NameOf(r) +
               (r == kTr2 ? "=0.5" : "=0") + " fixed)");
      }
      general = c.kind != ModelChange::Kind::kOut;
    }
    if (r >= kB1 && r - kB1 + 1 > covariate_count &&
        c.kind != ModelChange::Kind::kOut &&
        c.kind != ModelChange::Kind::kFixed) {
      refuse(NameOf(r) + " has no covariate: par.inp names " +
             std::to_string(covariate_count));
    }
    switch (c.kind) {
      case ModelChange::Kind::kFree:
      case ModelChange::Kind::kIn:
        make_free(r);
        break;
      case ModelChange::Kind::kFixed:
        t.tie[r] = r;
        t.estimate[r] = 0;
        break;
      case ModelChange::Kind::kOut:
        t.tie[r] = r;
        t.estimate[r] = 0;
        t.in_model[r] = 0;
        if (IsSwitchable(r)) t.value[r] = 0;
        break;
      case ModelChange::Kind::kTie:
        t.tie[r] = c.target;
        t.estimate[r] = 0;
        if (IsComponent(r)) t.in_model[r] = 1;
        break;
      case ModelChange::Kind::kValue:
        if (c.value < t.GL[r] || c.value > t.GR[r]) {
          std::ostringstream s;
          s << NameOf(r) << "=" << c.value << " lies outside its bounds "
            << t.GL[r] << " .. " << t.GR[r] << " in par.inp";
          refuse(s.str());
        }
        t.value[r] = c.value;
        if (c.estimate == 0) {
          t.tie[r] = r;
          t.estimate[r] = 0;
        } else if (c.estimate == 1) {
          make_free(r);
        }
        break;
    }
  }
  if (general) {
    for (int r = kTr1; r <= kTr3; ++r) t.in_model[r] = 1;
  }
  // Mendelian transmission has no transmission parameters.
  if (t.in_model[kTr1] == 0) {
    for (int r = kTr2; r <= kTr3; ++r) {
      t.in_model[r] = 0;
      t.estimate[r] = 0;
      t.tie[r] = r;
    }
  }
  for (int r = 1; r <= kParameterCount; ++r) {
    if (t.tie[r] != r) {
      const int m = t.tie[r];
      if (m < 1 || m > kParameterCount || t.tie[m] != m) {
        refuse(NameOf(r) + " is tied to " + NameOf(m) +
               ", which is tied itself: tie both to the same free parameter");
      }
      if (IsSwitchable(m) && t.in_model[m] == 0) {
        refuse(NameOf(r) + " is tied to " + NameOf(m) +
               ", which is out of the model");
      }
      if (m >= kTr1 && m <= kTr3 && t.in_model[kTr1] == 0) {
        refuse(NameOf(r) + " is tied to " + NameOf(m) +
               ", but transmission is Mendelian (Tr1 out)");
      }
    }
    if (r >= kB1 && r - kB1 + 1 > covariate_count && t.estimate[r] != 0) {
      refuse(NameOf(r) + " is estimated but has no covariate");
    }
  }
  // Keep genotype 1 the one of the higher mean (see the header).
  const bool one_mean = t.tie[kA] == kMU && t.tie[kD] == kMU;
  if (t.in_model[kTr1] == 0 && StateOf(t, kQ).kind == RowState::Kind::kFree &&
      !one_mean) {
    const double mendelian[] = {1.0, 0.5, 0.0};
    for (int r = kTr1; r <= kTr3; ++r) {
      t.in_model[r] = 1;
      t.estimate[r] = 0;
      t.tie[r] = r;
      t.value[r] = mendelian[r - kTr1];
    }
  }
  for (int r : FreeRows(t)) {
    if (!(t.GL[r] < t.GR[r])) {
      std::ostringstream s;
      s << NameOf(r) << " is estimated but its bounds " << t.GL[r] << " .. "
        << t.GR[r] << " leave no room: widen them in par.inp";
      refuse(s.str());
    }
    if (t.step[r] == 0) t.step[r] = (t.GR[r] - t.GL[r]) / 100;
  }
  return t;
}

bool MendelianTransmission(const ParameterTable& table) {
  if (table.in_model[kTr1] == 0) return true;
  const double mendelian[] = {1.0, 0.5, 0.0};
  for (int r = kTr1; r <= kTr3; ++r) {
    if (table.tie[r] != r || table.estimate[r] != 0 ||
        table.value[r] != mendelian[r - kTr1]) {
      return false;
    }
  }
  return true;
}

std::vector<int> FreeRows(const ParameterTable& table) {
  std::vector<int> rows;
  for (int r = 1; r <= kParameterCount; ++r) {
    if (StateOf(table, r).kind == RowState::Kind::kFree) rows.push_back(r);
  }
  // lambda, when the trait is transformed: its own row, never tied.
  if (table.estimate[kLambda] != 0 && table.in_model[kLambda] != 0) {
    rows.push_back(kLambda);
  }
  return rows;
}

bool HasMajorLocus(const ParameterTable& table) {
  const RowState q = StateOf(table, kQ);
  if (q.kind == RowState::Kind::kFixed && (q.value == 0 || q.value == 1)) {
    return false;  // one genotype only
  }
  // A mean equals MU when both name the same row once ties are followed
  // (ties do not chain), or both are held at one value.
  auto master = [&](int row) {
    const RowState s = StateOf(table, row);
    return s.kind == RowState::Kind::kTied ? s.target : row;
  };
  auto equal_to_mu = [&](int row) {
    const int a = master(row), b = master(kMU);
    if (a == b) return true;
    const RowState sa = StateOf(table, a), sb = StateOf(table, b);
    return sa.kind == RowState::Kind::kFixed &&
           sb.kind == RowState::Kind::kFixed && sa.value == sb.value;
  };
  return !(equal_to_mu(kA) && equal_to_mu(kD));
}

bool NestedIn(const ParameterTable& inner, const ParameterTable& outer) {
  for (int r = 1; r <= kParameterCount; ++r) {
    const RowState o = StateOf(outer, r);
    const RowState i = StateOf(inner, r);
    switch (o.kind) {
      case RowState::Kind::kFree:
        break;
      case RowState::Kind::kFixed:
        if (i.kind != RowState::Kind::kFixed || i.value != o.value)
          return false;
        break;
      case RowState::Kind::kTied: {
        if (i.kind == RowState::Kind::kTied && i.target == o.target) break;
        const RowState it = StateOf(inner, o.target);
        if (i.kind == RowState::Kind::kFixed &&
            it.kind == RowState::Kind::kFixed && it.value == i.value) {
          break;
        }
        return false;
      }
    }
  }
  return true;
}

}  // namespace segmix::fit
