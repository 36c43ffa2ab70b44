// The stopped run's fit.json read back for --resume.
#include "fit/resume.h"

#include <algorithm>

#include "cli/input_file.h"
#include "textio/termination.h"

namespace segmix::fit {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

constexpr const char* kAgain = " Run the command without --resume.";

// Rows 1..kParameterRows; a value JSON cannot hold (NaN, infinite) is
// written as null.
Json Values(const ParameterTable::Column<double>& column) {
  Json values = Json::array();
  for (int r = 1; r <= kParameterRows; ++r) values.push_back(column[r]);
  return values;
}

// False when `j` is not a number (a value JSON could not hold): the climb
// is then climbed again rather than reused with another value.
bool Number(const Json& j, double& x) {
  if (!j.is_number()) return false;
  x = j.get<double>();
  return true;
}

bool ReadValues(const Json& j, ParameterTable::Column<double>& column) {
  if (!j.is_array() || j.size() != static_cast<std::size_t>(kParameterRows)) {
    return false;
  }
  bool exact = true;
  for (int r = 1; r <= kParameterRows; ++r) {
    exact &= Number(j[static_cast<std::size_t>(r - 1)], column[r]);
  }
  return exact;
}

}  // namespace

Json SeriesIdentityJson(const SeriesIdentity& identity) {
  return {{"version", identity.version},
          {"options", identity.series_options},
          {"inputs", DigestsJson(identity.inputs)}};
}

Json ClimbJson(const StartRecord& start) {
  if (!start.climbed) return nullptr;
  const FitOutcome& o = start.outcome;
  return {{"start", Values(start.start.value)},
          {"end", Values(o.table.value)},
          {"initial_ln_lh", o.initial_ln_lh},
          {"ln_lh", o.result.final_ln_lh},
          {"evaluations", start.evaluations},
          {"function_count", o.result.function_count},
          {"iterations", o.result.iteration_count},
          {"converged", o.converged},
          {"joined", start.joined}};
}

const std::vector<BootstrapReplicate>* EarlierRun::Bootstrap(
    const std::string& label, double statistic, std::uint64_t seed) const {
  for (const Replicates& r : bootstraps) {
    if (r.test == label && r.statistic == statistic && r.seed == seed) {
      return &r.replicates;
    }
  }
  return nullptr;
}

EarlierRun ReadResume(const fs::path& output, const SeriesIdentity& identity) {
  const fs::path file = output / "fit.json";
  if (!fs::exists(file)) {
    throw InputRejected("--resume: " + output.string() +
                        " holds no fit.json, so there is no run to resume." +
                        kAgain);
  }
  const std::string text =
      cli::ReadTextFile(file.string(), "the stopped run's fit.json");
  const auto refuse = [&](const std::string& why) {
    throw InputRejected("--resume: " + file.string() + " " + why + "." +
                        kAgain);
  };
  EarlierRun earlier;
  ClimbMemo& memo = earlier.climbs;
  try {
    const Json j = Json::parse(text);
    if (j.value("program", "") != "segmix-fit" || !j.contains("series")) {
      refuse("is not a record of segmix-fit's series");
    }
    const Json& series = j.at("series");
    if (series.at("version").get<std::string>() != identity.version) {
      refuse("was written by " + series.at("version").get<std::string>() +
             ", not by this " + identity.version);
    }
    if (series.at("options").get<std::string>() != identity.series_options) {
      refuse(
          "is of a series with other options (the data folder, the model "
          "file, the models, --starts, --ascertainment or --transform "
          "differ)");
    }
    const std::vector<InputDigest> inputs =
        DigestsFromJson(series.at("inputs"));
    const std::string change = InputChange(inputs, identity.inputs);
    if (!change.empty()) {
      refuse("is of other input files: " + change);
    }
    for (const Json& m : j.at("models")) {
      const std::string name = m.at("name").get<std::string>();
      const Json& starts = m.at("starts");
      for (std::size_t s = 0; s < starts.size(); ++s) {
        const Json& st = starts[s];
        if (!st.contains("climb") || st.at("climb").is_null()) continue;
        const Json& c = st.at("climb");
        ClimbMemo::Climb climb;
        climb.model = name;
        climb.origin = st.at("origin").get<std::string>();
        climb.position = static_cast<int>(s);
        if (!ReadValues(c.at("start"), climb.start) ||
            !ReadValues(c.at("end"), climb.end) ||
            !Number(c.at("initial_ln_lh"), climb.initial_ln_lh) ||
            !Number(c.at("ln_lh"), climb.ln_lh)) {
          continue;
        }
        climb.evaluations = c.at("evaluations").get<long>();
        climb.function_count = c.at("function_count").get<int>();
        climb.iterations = c.at("iterations").get<int>();
        climb.converged = c.at("converged").get<bool>();
        climb.joined = c.at("joined").get<int>();
        memo.climbs.push_back(climb);
      }
    }
    // A finished bootstrap, or the replicates a stop left.
    for (const Json& t : j.at("tests")) {
      for (const char* key : {"bootstrap", "bootstrap_finished"}) {
        if (!t.contains(key)) continue;
        const Json& b = t.at(key);
        EarlierRun::Replicates replicates;
        replicates.test = t.at("test").get<std::string>();
        if (!Number(t.at("minus_2_ln_lambda"), replicates.statistic)) continue;
        replicates.seed = b.at("seed").get<std::uint64_t>();
        bool exact = true;
        for (const Json& r : b.at("replicates")) {
          BootstrapReplicate rep;
          rep.index = r.at("replicate").get<int>();
          rep.drawn = r.at("drawn").get<bool>();
          exact &= Number(r.at("null_ln_lh"), rep.null_ln_lh) &&
                   Number(r.at("alternative_ln_lh"), rep.alternative_ln_lh);
          // An unusable replicate's statistic is null: it kept 0.
          if (!r.at("statistic").is_null()) {
            exact &= Number(r.at("statistic"), rep.statistic);
          }
          replicates.replicates.push_back(rep);
        }
        if (exact) earlier.bootstraps.push_back(std::move(replicates));
      }
    }
  } catch (const Json::exception& error) {
    refuse(std::string("cannot be read as segmix-fit's record (") +
           error.what() + ")");
  }
  return earlier;
}

}  // namespace segmix::fit
