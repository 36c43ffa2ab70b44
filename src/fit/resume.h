// --resume: a stopped run continued. Its fit.json records what identifies
// the series (the program's version, SeriesOptions, every input's size and
// CRC-32), every start's climb to the last bit and every bootstrap
// replicate that finished. A resumed run with the same identity takes those
// climbs from it (ClimbMemo) instead of climbing again, and the replicates
// of a test with the same observed statistic and seed, and fits everything
// else afresh: the polishes, the standard errors, the other replicates, the
// study, profiles and posteriors. Its files are those of a run that was
// never stopped, apart from the elapsed time.
#ifndef SEGMIX_FIT_RESUME_H_
#define SEGMIX_FIT_RESUME_H_

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "fit/bootstrap_parts.h"
#include "fit/comparisons.h"
#include "fit/series.h"

namespace segmix::fit {

// What a resumed run must share with the stopped one.
struct SeriesIdentity {
  std::string version;         // the first line of --version
  std::string series_options;  // SeriesOptions of the plan
  std::vector<InputDigest> inputs;
};

// What a resumed run reuses of the stopped one.
struct EarlierRun {
  ClimbMemo climbs;
  struct Replicates {
    std::string test;
    double statistic = 0;  // the observed one
    std::uint64_t seed = 0;
    std::vector<BootstrapReplicate> replicates;
  };
  std::vector<Replicates> bootstraps;
  // The finished replicates of test `label` with this observed statistic
  // (the same bits) and seed; null when there are none.
  const std::vector<BootstrapReplicate>* Bootstrap(const std::string& label,
                                                   double statistic,
                                                   std::uint64_t seed) const;
};

// fit.json's "series" object, and a start's "climb" (null for a start that
// was not climbed).
nlohmann::ordered_json SeriesIdentityJson(const SeriesIdentity& identity);
nlohmann::ordered_json ClimbJson(const StartRecord& start);

// The climbs and replicates of OUTPUT/fit.json, the stopped run's. Throws
// segmix::InputRejected, saying why and what to do, when there is no
// fit.json, it is not segmix-fit's, or its series is not `identity`'s (the
// version, an option of the series or an input differs: the file named),
// and cli::InputFileError when it cannot be read.
EarlierRun ReadResume(const std::filesystem::path& output,
                      const SeriesIdentity& identity);

}  // namespace segmix::fit

#endif  // SEGMIX_FIT_RESUME_H_
