// Progress lines.
#include "fit/progress.h"

#include <cstdio>
#include <ostream>

#include "fit/stop_signals.h"

namespace segmix::fit {

Progress::Progress(std::ostream& err, bool quiet, bool terminal)
    : err_(err),
      quiet_(quiet),
      terminal_(terminal),
      begin_(std::chrono::steady_clock::now()),
      last_(begin_) {}

double Progress::Elapsed() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() -
                                       begin_)
      .count();
}

std::string Progress::Line(std::int64_t evaluations, double ln_lh) const {
  char text[256];
  std::snprintf(text, sizeof text,
                "model %d of %d (%s), start %d of %d: %lld evaluations, "
                "best ln LH %.4f, %.0f s",
                model_, models_, name_.c_str(), start_, starts_,
                static_cast<long long>(evaluations), ln_lh, Elapsed());
  return text;
}

void Progress::ThrowIfStopped() const {
  const int signal = StopRequested();
  if (signal == 0 || stop_signal_ != 0 ||
      std::this_thread::get_id() != owner_) {
    return;
  }
  throw FitStopped(signal, models_ == 0
                               ? std::string("before the first model")
                               : "in model " + std::to_string(model_) + " of " +
                                     std::to_string(models_) + " (" + name_ +
                                     "), start " + std::to_string(start_) +
                                     " of " + std::to_string(starts_));
}

void Progress::Begin(int model, int models, const std::string& name, int start,
                     int starts) {
  model_ = model, models_ = models, name_ = name, start_ = start,
  starts_ = starts;
  ThrowIfStopped();
}

void Progress::Evaluation(std::int64_t evaluations, double best_ln_lh) {
  ThrowIfStopped();
  if (quiet_ || !terminal_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - last_ < std::chrono::milliseconds(200)) return;
  last_ = now;
  err_ << '\r' << Line(evaluations, best_ln_lh) << "\033[K" << std::flush;
  line_open_ = true;
}

void Progress::EndStart(std::int64_t evaluations, double ln_lh) {
  ThrowIfStopped();
  if (quiet_) return;
  if (terminal_) {
    err_ << '\r' << Line(evaluations, ln_lh) << "\033[K" << std::flush;
    line_open_ = true;
  } else {
    err_ << Line(evaluations, ln_lh) << '\n' << std::flush;
  }
}

void Progress::Note(const std::string& text) {
  if (quiet_) return;
  if (line_open_) err_ << '\n';
  line_open_ = false;
  err_ << text << '\n' << std::flush;
}

void Progress::TakeStop(const FitStopped& stop) {
  stop_signal_ = stop.Signal();
  stop_text_ = stop.what();
}

void Progress::Finish() {
  if (quiet_) return;
  if (line_open_) err_ << '\n';
  line_open_ = false;
  err_ << (stop_signal_ != 0 ? "stopped after " : "done in ")
       << static_cast<long>(Elapsed() + 0.5) << " s\n"
       << std::flush;
}

}  // namespace segmix::fit
