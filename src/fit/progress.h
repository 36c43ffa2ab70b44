// Progress of a long fit on standard error: model i of n, start j of m,
// evaluations, best ln LH so far and elapsed time. On a terminal one line is
// rewritten in place (at most five times a second); otherwise one plain line
// per finished start. Quiet: nothing. Every call made on the thread that
// made the Progress is also where a stop signal ends the run: it throws
// FitStopped (fit/stop_signals.h) naming the model and start, until the
// series takes the stop in (TakeStop), after which nothing throws, so that
// the stopped run can write and publish what it finished.
#ifndef SEGMIX_FIT_PROGRESS_H_
#define SEGMIX_FIT_PROGRESS_H_

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <thread>

#include "fit/stop_signals.h"

namespace segmix::fit {

class Progress {
 public:
  Progress(std::ostream& err, bool quiet, bool terminal);
  void Begin(int model, int models, const std::string& name, int start,
             int starts);
  void Evaluation(std::int64_t evaluations, double best_ln_lh);
  void EndStart(std::int64_t evaluations, double ln_lh);
  void Note(const std::string& text);  // a line of its own
  void Finish();  // "done in N s", or "stopped after N s" after a stop
  // The series ends where `stop` was thrown and keeps what it finished:
  // no call throws from now on (a second signal changes nothing).
  void TakeStop(const FitStopped& stop);
  int StopSignal() const { return stop_signal_; }  // 0: no stop taken in
  // FitStopped's text: the signal and where the series was.
  const std::string& StopText() const { return stop_text_; }
  double Elapsed() const;

 private:
  std::string Line(std::int64_t evaluations, double ln_lh) const;
  void ThrowIfStopped() const;
  std::thread::id owner_ = std::this_thread::get_id();
  std::ostream& err_;
  bool quiet_, terminal_;
  int model_ = 0, models_ = 0, start_ = 0, starts_ = 0;
  std::string name_;
  int stop_signal_ = 0;
  std::string stop_text_;
  bool line_open_ = false;
  std::chrono::steady_clock::time_point begin_, last_;
};

}  // namespace segmix::fit

#endif  // SEGMIX_FIT_PROGRESS_H_
