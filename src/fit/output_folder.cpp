// The lock, the staging folder and the publishing renames of segmix-fit's
// output folder.
#include "fit/output_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <system_error>

#include "cli/command_line.h"
#include "textio/termination.h"

namespace segmix::fit {
namespace {

namespace fs = std::filesystem;

constexpr const char* kLockName = ".segmix-fit.lock";
constexpr const char* kStagingPrefix = ".staging-";
constexpr const char* kReplacedPrefix = ".replaced-";

// True when `path` is `folder` or lies inside it (both made absolute and
// free of links that exist).
bool Within(const fs::path& path, const fs::path& folder) {
  std::error_code ec;
  const fs::path p = fs::weakly_canonical(path, ec);
  const fs::path f = fs::weakly_canonical(folder, ec);
  auto pi = p.begin();
  for (auto fi = f.begin(); fi != f.end(); ++fi, ++pi) {
    if (fi->empty()) continue;  // a trailing separator
    if (pi == p.end() || *pi != *fi) return false;
  }
  return true;
}

// The model folders an earlier run's fit.json names (none when it is
// missing or unreadable: then only the summary files count as its own).
std::vector<std::string> EarlierModels(const fs::path& output) {
  std::vector<std::string> names;
  std::ifstream in(output / "fit.json");
  if (!in) return names;
  const nlohmann::json j = nlohmann::json::parse(in, nullptr, false);
  if (j.is_discarded() || !j.is_object() || !j.contains("models")) return names;
  for (const auto& m : j["models"]) {
    if (m.is_object() && m.contains("name") && m["name"].is_string()) {
      const std::string name = m["name"];
      // Only plain names: never a path out of the folder.
      if (!name.empty() && name.find('/') == std::string::npos && name != "." &&
          name != "..") {
        names.push_back(name);
      }
    }
  }
  return names;
}

void SyncFolder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

[[noreturn]] void Unwritable(const std::string& what, const fs::path& path,
                             const std::error_code& ec) {
  throw cli::OutputFileError("cannot " + what + " " + path.string() + ": " +
                             ec.message() + ".");
}

}  // namespace

void CheckOutputFolder(const fs::path& output,
                       const std::vector<std::string>& entries,
                       const std::vector<fs::path>& inputs) {
  for (const std::string& entry : entries) {
    const fs::path path = output / entry;
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(path, ec))) {
      throw cli::UsageError("--out: " + path.string() +
                            " is a symbolic link; segmix-fit never writes"
                            " through one inside its output folder: remove it"
                            " or choose another --out");
    }
    for (const fs::path& input : inputs) {
      if (Within(input, path)) {
        throw cli::UsageError("--out " + output.string() +
                              ": the run would replace the input " +
                              input.string() + " (as " + path.string() +
                              "): choose an --out that holds no input file");
      }
    }
  }
}

OutputFolder::OutputFolder(const fs::path& output) : output_(output) {
  std::error_code ec;
  fs::create_directories(output_, ec);
  if (ec) Unwritable("create the output folder", output_, ec);
  const fs::path lock = output_ / kLockName;
  lock_fd_ =
      ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (lock_fd_ < 0) {
    Unwritable("open the lock file", lock,
               std::error_code(errno, std::generic_category()));
  }
  if (::flock(lock_fd_, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(lock_fd_);
    lock_fd_ = -1;
    if (error == EWOULDBLOCK) {
      throw InputRejected(
          "segmix-fit: another segmix-fit run is writing into " +
          output_.string() + " (it holds " + lock.string() +
          "); wait for it to end or give another --out.");
    }
    Unwritable("lock", lock, std::error_code(error, std::generic_category()));
  }
  // Staging and set-aside folders of a run that died: nobody else can be
  // using them while we hold the lock.
  for (const fs::directory_entry& e : fs::directory_iterator(output_, ec)) {
    const std::string name = e.path().filename().string();
    if (name.starts_with(kStagingPrefix) || name.starts_with(kReplacedPrefix)) {
      fs::remove_all(e.path(), ec);
    }
  }
  staging_ = output_ / (kStagingPrefix + std::to_string(::getpid()));
  fs::create_directory(staging_, ec);
  if (ec) Unwritable("create the staging folder", staging_, ec);
}

OutputFolder::~OutputFolder() {
  std::error_code ec;
  if (!published_) fs::remove_all(staging_, ec);
  if (lock_fd_ >= 0) ::close(lock_fd_);
}

void OutputFolder::Publish(const Rename& rename) {
  std::error_code ec;
  std::vector<std::string> fresh;
  for (const fs::directory_entry& e : fs::directory_iterator(staging_, ec)) {
    fresh.push_back(e.path().filename().string());
  }
  if (ec) Unwritable("read the staging folder", staging_, ec);
  std::set<std::string> earlier(std::begin(kSummaryFiles),
                                std::end(kSummaryFiles));
  for (const std::string& name : EarlierModels(output_)) earlier.insert(name);
  earlier.insert(fresh.begin(), fresh.end());

  // Set the earlier run aside, its fit.json first; renames move a symbolic
  // link itself, never what it points at. Every rename is recorded, so that
  // a failure part way puts the earlier run back as it was.
  const fs::path aside =
      output_ / (kReplacedPrefix + std::to_string(::getpid()));
  fs::create_directory(aside, ec);
  if (ec) Unwritable("create", aside, ec);
  std::vector<std::string> set_aside_names, moved_in_names;
  auto fail = [&](const std::string& what, const fs::path& path,
                  std::error_code error) {
    std::error_code undo;
    for (const std::string& name : moved_in_names) {
      rename(output_ / name, staging_ / name, undo);
    }
    bool restored = !undo;
    for (const std::string& name : set_aside_names) {
      std::error_code one;
      rename(aside / name, output_ / name, one);
      if (one) restored = false;
    }
    std::string message =
        "cannot " + what + " " + path.string() + ": " + error.message() + ".";
    if (restored) {
      fs::remove(aside, undo);
      message += " The earlier run in " + output_.string() +
                 " is as it was; nothing of this run was published.";
    } else {
      // Not under the prefix a later run clears: the earlier run's entries
      // that could not be moved back must survive it.
      const fs::path kept =
          output_ / ("earlier-run-" + std::to_string(::getpid()));
      rename(aside, kept, undo);
      message +=
          " Entries of the earlier run that could not be moved back"
          " are in " +
          (undo ? aside : kept).string() + ".";
    }
    throw cli::OutputFileError(message);
  };
  auto set_aside = [&](const std::string& name) {
    const fs::path from = output_ / name;
    if (!fs::exists(fs::symlink_status(from))) return;
    rename(from, aside / name, ec);
    if (ec) fail("move aside", from, ec);
    set_aside_names.push_back(name);
  };
  set_aside("fit.json");
  for (const std::string& name : earlier) {
    if (name != "fit.json") set_aside(name);
  }
  auto move_in = [&](const std::string& name) {
    rename(staging_ / name, output_ / name, ec);
    if (ec) fail("move into place", output_ / name, ec);
    moved_in_names.push_back(name);
  };
  for (const std::string& name : fresh) {
    if (name != "fit.json") move_in(name);
  }
  SyncFolder(output_);
  if (std::find(fresh.begin(), fresh.end(), "fit.json") != fresh.end()) {
    move_in("fit.json");
  }
  SyncFolder(output_);
  published_ = true;
  fs::remove_all(aside, ec);
  fs::remove_all(staging_, ec);
}

}  // namespace segmix::fit
