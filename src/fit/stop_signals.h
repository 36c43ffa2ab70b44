// Stopping segmix-fit by SIGINT, SIGTERM or SIGHUP. While a StopSignals lives
// the three signals only set a flag; the series looks at it between
// evaluations (Progress, on the thread that made it) and ends the fit of the
// series by throwing FitStopped; the series takes it in (Progress::TakeStop),
// keeps the models it finished and leaves the rest unfitted, so that only
// finished fits are published.
#ifndef SEGMIX_FIT_STOP_SIGNALS_H_
#define SEGMIX_FIT_STOP_SIGNALS_H_

#include <csignal>
#include <stdexcept>
#include <string>

namespace segmix::fit {

class FitStopped : public std::runtime_error {
 public:
  FitStopped(int signal, const std::string& where);
  int Signal() const { return signal_; }

 private:
  int signal_;
};

// Installs the handlers; the destructor puts the earlier ones back.
class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  struct sigaction old_[3];
};

// The signal received since the StopSignals was made, 0 for none (and
// once it is gone).
int StopRequested();

}  // namespace segmix::fit

#endif  // SEGMIX_FIT_STOP_SIGNALS_H_
