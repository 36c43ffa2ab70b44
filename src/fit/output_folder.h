// segmix-fit's output folder, which never holds a mixture of two runs. A run
// claims the folder with an exclusive lock (a second run into it is refused
// at once), builds everything in a staging folder inside it, and publishes by
// renames at the end: first the earlier run's entries that are replaced or
// no longer written are moved aside (its fit.json first, so that a folder
// with a fit.json never mixes runs), then the new ones are renamed in, the new
// fit.json last. A run that stops before publishing leaves the earlier run as
// it was and removes its staging folder.
#ifndef SEGMIX_FIT_OUTPUT_FOLDER_H_
#define SEGMIX_FIT_OUTPUT_FOLDER_H_

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace segmix::fit {

// The summary files a run may write at the top of the folder.
inline constexpr const char* kSummaryFiles[] = {
    "models.csv",  "tests.csv", "families.csv",        "persons.csv",
    "report.html", "fit.json",  "bootstrap-part.json", "rejections.csv"};

// Throws cli::UsageError (nothing written) when a run writing `entries` (names
// of files and model folders directly under `output`, files inside them
// included) would replace or write through one of `inputs` (absolute
// paths), or when an entry that exists is a symbolic link: the run never
// follows one inside its output folder.
void CheckOutputFolder(const std::filesystem::path& output,
                       const std::vector<std::string>& entries,
                       const std::vector<std::filesystem::path>& inputs);

class OutputFolder {
 public:
  // Creates `output` if needed and locks it. Throws segmix::InputRejected
  // (exit status 1) when another run holds it, cli::OutputFileError when it
  // cannot be created or locked.
  explicit OutputFolder(const std::filesystem::path& output);
  ~OutputFolder();  // removes the staging folder if not published; unlocks
  OutputFolder(const OutputFolder&) = delete;
  OutputFolder& operator=(const OutputFolder&) = delete;

  const std::filesystem::path& Path() const { return output_; }
  // Where the run writes: empty, inside the output folder (same file
  // system, so publishing is renames).
  const std::filesystem::path& Staging() const { return staging_; }

  // Moves every entry of the staging folder into the output folder,
  // replacing entries of the same name, and removes the earlier run's
  // entries not rewritten (its summary files, and the model folders its
  // fit.json names). When a rename fails part way, the entries already
  // moved are moved back, so the earlier run is as it was, and
  // cli::OutputFileError names the entry and says so; an earlier entry that
  // cannot be moved back is kept in "earlier-run-PID", which a later run
  // leaves alone. `rename` is std::filesystem::rename's error-code form; a
  // test passes one that fails.
  using Rename =
      std::function<void(const std::filesystem::path&,
                         const std::filesystem::path&, std::error_code&)>;
  void Publish(const Rename& rename = DefaultRename);

 private:
  static void DefaultRename(const std::filesystem::path& from,
                            const std::filesystem::path& to,
                            std::error_code& ec) {
    std::filesystem::rename(from, to, ec);
  }
  std::filesystem::path output_, staging_;
  int lock_fd_ = -1;
  bool published_ = false;
};

}  // namespace segmix::fit

#endif  // SEGMIX_FIT_OUTPUT_FOLDER_H_
