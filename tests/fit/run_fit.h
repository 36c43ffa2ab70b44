// segmix-fit run in-process on a command line, for the fit tests.
#ifndef SEGMIX_TESTS_FIT_RUN_FIT_H_
#define SEGMIX_TESTS_FIT_RUN_FIT_H_

#include <sstream>
#include <string>
#include <vector>

#include "fit/fit_command.h"

// In segmix::testing, beside the scratch paths of tests/support.
namespace segmix::testing {

struct FitOutcome {
  int status = 0;
  std::string report, err;  // standard output and standard error
};

// `args` with the program name first, as main receives them.
inline FitOutcome RunFit(const std::vector<std::string>& args) {
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  std::ostringstream report, err;
  const int status = fit::RunFitCommand(static_cast<int>(argv.size()),
                                        argv.data(), report, err, false);
  return {status, report.str(), err.str()};
}

}  // namespace segmix::testing

#endif  // SEGMIX_TESTS_FIT_RUN_FIT_H_
