// The process around a run: the command line, standard streams that are
// closed at start, the lock that keeps two runs out of one folder, the stop
// signals that end a search cleanly, and the check that the console report
// really reached standard output. RunSequence and RunProgram stay free of
// process state; the program's main calls RunCommandLine.
#ifndef SEGMIX_RUN_RUN_GUARD_H_
#define SEGMIX_RUN_RUN_GUARD_H_

#include <cstdint>
#include <string_view>

namespace segmix {

// The lock file a run takes in its folder (the working directory).
inline constexpr char kLockFileName[] = "segmix.lock";

// An exclusive advisory lock (flock) on segmix.lock in the working directory.
// Not held until Take(); released when the object is destroyed. The file is
// created when missing and left in place (removing it would let a run that
// opened the old file and one that creates a new one both hold "the" lock).
class RunFolderLock {
 public:
  RunFolderLock() = default;
  ~RunFolderLock();
  RunFolderLock(const RunFolderLock&) = delete;
  RunFolderLock& operator=(const RunFolderLock&) = delete;

  // Takes the lock without waiting. Throws InputRejected (exit 1) when
  // another process holds it, TextIoError (exit 2) when the lock file cannot
  // be opened. Taking a lock already held does nothing.
  void Take();

 private:
  int fd_ = -1;
};

// The stop signals SIGINT, SIGTERM and SIGHUP. Once installed, each only
// records that it arrived; the run looks at the record between evaluations
// (StopIfSignalled) and ends there with its files flushed and closed. A
// signal that was ignored when the program started (nohup, a background job)
// stays ignored.
void InstallStopSignalHandlers();
// The stop signal received so far, or 0.
int ReceivedStopSignal();

// Throws a RunTermination with exit status 128 + the signal when a stop
// signal has arrived. Its text on standard error names the signal and then
// says `where_stopped`, which should say where the run stopped and which
// result files were and were not written.
void StopIfSignalled(std::string_view where_stopped);

// The program: with no argument, the run in the working directory (what
// RunProgram does, inside the safeguards above); "--help" and "--version"
// print their text to standard output (exit 0); anything else prints the
// usage to standard error (exit 2). Before anything else, standard input,
// output and error that are closed are reopened on /dev/null. A console
// report that could not be written (a full disk, /dev/full) is reported on
// standard error and turns exit status 0 into 2.
int RunCommandLine(int argc, const char* const* argv);

}  // namespace segmix

#endif  // SEGMIX_RUN_RUN_GUARD_H_
