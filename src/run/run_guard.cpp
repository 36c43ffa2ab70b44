// The safeguards around a run: standard streams, the folder lock, the stop
// signals and the command line.
#include "run/run_guard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <streambuf>
#include <string>

#include "data/capacities.h"
#include "run/run_sequence.h"
#include "textio/termination.h"

namespace segmix {
namespace {

// The one piece of process-wide mutable state: a signal handler can report
// only through a static object of this type.
volatile std::sig_atomic_t received_stop_signal = 0;

extern "C" void RecordStopSignal(int signal_number) {
  if (received_stop_signal == 0) received_stop_signal = signal_number;
}

const char* SignalName(int signal_number) {
  switch (signal_number) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "a signal";
  }
}

// A descriptor 0, 1 or 2 that is not open would be handed to the first file
// the run opens, and the console report would be written into it.
void ReopenClosedStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened != -1 && opened != fd) {
      // Lower descriptors are open, so this cannot happen; keep fd closed
      // rather than leave a stray descriptor.
      close(opened);
    }
  }
}

constexpr char kUsage[] =
    "usage: segmix [--help | --version]\n"
    "With no argument, segmix runs the analysis described by par.inp in the"
    " current folder.\n";

constexpr char kHelp[] =
    "\n"
    "Maximum-likelihood segregation analysis of a quantitative trait in\n"
    "pedigrees ascertained through probands.\n"
    "\n"
    "Reads (in the current folder): par.inp, the control file; iway.dat, the\n"
    "pedigree structure; the trait file and the covariate files named in\n"
    "par.inp.\n"
    "Writes: the console report on standard output; par.err (parameter and\n"
    "search messages, emptied at the start of every run); max.dat (the search\n"
    "history); sigma.dat (the estimates); LH_fam.dat (per-family\n"
    "log-likelihoods); segmix.lock (the lock that keeps a second run out of\n"
    "the folder). When max.dat is started, the sigma.dat and LH_fam.dat of an\n"
    "earlier run are removed.\n"
    "\n"
    "Exit status:\n"
    "  0    the run completed (also a search that did not converge: see\n"
    "       par.err)\n"
    "  1    input refused, a capacity exceeded, a starting point rejected, or\n"
    "       another run holds the folder's lock (message on standard error,\n"
    "       or in par.err for a rejected starting point)\n"
    "  2    a file could not be opened, read or written (standard output\n"
    "       included), or a wrong argument\n"
    "  128+N  stopped by signal N (SIGHUP 129, SIGINT 130, SIGTERM 143)\n"
    "       between two evaluations; sigma.dat and LH_fam.dat were not\n"
    "       written\n";

// Standard output as the run's console: buffered like the C library's
// stream, but it keeps the error of the first write that fails (a full disk,
// /dev/full), which a later successful call would otherwise hide. After a
// failure the rest of the report is dropped.
class ConsoleBuffer : public std::streambuf {
 public:
  ConsoleBuffer() { setp(buffer_, buffer_ + sizeof buffer_); }
  ~ConsoleBuffer() override { sync(); }
  // The errno of the first failed write, or 0.
  int Error() const { return error_; }

 protected:
  int_type overflow(int_type c) override {
    if (!WriteOut()) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override { return WriteOut() ? 0 : -1; }

 private:
  bool WriteOut() {
    const char* next = pbase();
    while (error_ == 0 && next < pptr()) {
      const ssize_t written = ::write(STDOUT_FILENO, next, pptr() - next);
      if (written > 0) {
        next += written;
      } else if (written < 0 && errno != EINTR) {
        error_ = errno;
      } else if (written == 0) {
        error_ = EIO;
      }
    }
    setp(buffer_, buffer_ + sizeof buffer_);
    return error_ == 0;
  }

  char buffer_[1 << 16];
  int error_ = 0;
};

}  // namespace

RunFolderLock::~RunFolderLock() {
  if (fd_ != -1) close(fd_);  // closing releases the lock
}

void RunFolderLock::Take() {
  if (fd_ != -1) return;
  const int fd = open(kLockFileName, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd == -1) {
    const int error_number = errno;
    throw TextIoError(LocusOf(std::source_location::current()) + " file: \"" +
                          kLockFileName + "\"",
                      std::strerror(error_number));
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error_number = errno;
    close(fd);
    if (error_number == EWOULDBLOCK) {
      throw InputRejected(
          std::string(kLockFileName) +
          ": another segmix run is working in this folder (it holds the "
          "lock). Wait for it to end, or start this run in a folder of its "
          "own; two runs in one folder would mix their result files.");
    }
    throw TextIoError(LocusOf(std::source_location::current()) + " file: \"" +
                          kLockFileName + "\"",
                      std::strerror(error_number));
  }
  fd_ = fd;
}

void InstallStopSignalHandlers() {
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction previous {};
    if (sigaction(signal_number, nullptr, &previous) == 0 &&
        previous.sa_handler == SIG_IGN) {
      continue;
    }
    struct sigaction action {};
    action.sa_handler = RecordStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;  // reads and writes carry on; the run
                                   // looks at the record between evaluations
    sigaction(signal_number, &action, nullptr);
  }
}

int ReceivedStopSignal() { return received_stop_signal; }

void StopIfSignalled(std::string_view where_stopped) {
  const int signal_number = received_stop_signal;
  if (signal_number == 0) return;
  throw RunTermination(128 + signal_number,
                       std::string("segmix: stopped by ") +
                           SignalName(signal_number) + " " +
                           std::string(where_stopped) + "\n");
}

int RunCommandLine(int argc, const char* const* argv) {
  ReopenClosedStandardStreams();
  ConsoleBuffer buffer;
  std::ostream console(&buffer);
  // As standard error is tied to std::cout: what the run has written to the
  // console goes out before any message, so 2>&1 keeps their order.
  std::ostream* const previous_tie = std::cerr.tie(&console);
  int status = kExitNormal;
  if (argc > 1) {
    const std::string_view argument = argv[1];
    const bool known = argument == "--help" || argument == "--version";
    if (argc > 2 || !known) {
      std::cerr << "segmix: "
                << (known ? "one argument at most; this one is too many: \""
                          : "unknown argument \"")
                << (known ? argv[2] : argv[1]) << "\"\n"
                << kUsage;
      std::cerr.tie(previous_tie);
      return kExitTextIo;
    }
    if (argument == "--help") {
      console << kUsage << kHelp;
    } else {
      console << VersionText("segmix");
    }
  } else {
    InstallStopSignalHandlers();
    status = RunProgram(console, std::cerr);
  }
  console.flush();
  std::cerr.tie(previous_tie);
  if (buffer.Error() != 0) {
    std::cerr << "segmix: standard output could not be written ("
              << std::strerror(buffer.Error())
              << "): the console report is incomplete. The result files are"
                 " not affected; send the report to a file with room.\n";
    if (status == kExitNormal) status = kExitTextIo;
  }
  return status;
}

}  // namespace segmix
