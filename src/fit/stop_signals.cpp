// The stop flag and its handlers.
#include "fit/stop_signals.h"

#include <atomic>

namespace segmix::fit {
namespace {

// Read by the worker threads of a bootstrap as well as the main thread: an
// atomic, lock-free so that the handler may store to it.
std::atomic<int> g_stop_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void OnStopSignal(int signal) { g_stop_signal = signal; }

}  // namespace

FitStopped::FitStopped(int signal, const std::string& where)
    : std::runtime_error("stopped by signal " + std::to_string(signal) + " (" +
                         (signal == SIGINT    ? "SIGINT"
                          : signal == SIGTERM ? "SIGTERM"
                          : signal == SIGHUP  ? "SIGHUP"
                                              : "a signal") +
                         ") " + where),
      signal_(signal) {}

StopSignals::StopSignals() {
  g_stop_signal = 0;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &action, &old_[i]);
}

StopSignals::~StopSignals() {
  for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &old_[i], nullptr);
  // A stop belongs to the run that took it: later work in the process (the
  // next run, a test) starts unstopped.
  g_stop_signal = 0;
}

int StopRequested() { return g_stop_signal; }

}  // namespace segmix::fit
