// Output placement. Renaming a temporary onto a name replaces whatever the
// name is: a symbolic link would become a regular file, and /dev/null (when
// running as root) a regular file too. So the name is resolved first and only
// regular files and new names are replaced.
#include "cli/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "cli/command_line.h"

namespace segmix::cli {
namespace fs = std::filesystem;

namespace {

// More links than any sane chain; a loop ends here.
constexpr int kMaxLinks = 40;

// Forces `path`'s data (a file) or its entries (a directory) to the disk, so
// that a rename cannot be on disk before the bytes it points at. False (errno
// set) when that fails.
bool SyncToDisk(const fs::path& path, bool directory) {
  const int fd =
      ::open(path.c_str(), directory ? O_RDONLY | O_DIRECTORY : O_RDONLY);
  if (fd < 0) return false;
  const bool synced = ::fsync(fd) == 0;
  const int saved = errno;
  ::close(fd);
  errno = saved;
  return synced;
}

}  // namespace

std::string CannotWriteText(std::string_view name, int error) {
  std::string text = "cannot write ";
  text += name;
  if (error != 0) text += ": " + std::generic_category().message(error);
  return text + ".";
}

OutputTarget ResolveOutput(const fs::path& name) {
  OutputTarget target{name, false};
  std::error_code error;
  for (int links = 0;; ++links) {
    const fs::file_status status = fs::symlink_status(target.path, error);
    if (error && status.type() != fs::file_type::not_found) {
      throw OutputFileError("cannot examine " + name.string() + ": " +
                            error.message() + ".");
    }
    if (status.type() != fs::file_type::symlink) {
      switch (status.type()) {
        case fs::file_type::not_found:
        case fs::file_type::regular:
          return target;
        case fs::file_type::directory:
          throw OutputFileError(name.string() +
                                " is a directory; give a file name.");
        default:
          target.in_place = true;
          return target;
      }
    }
    if (links == kMaxLinks) {
      throw OutputFileError(
          name.string() +
          " is a symbolic link that leads to no file (a loop).");
    }
    const fs::path next = fs::read_symlink(target.path, error);
    if (error) {
      throw OutputFileError("cannot read the link " + target.path.string() +
                            ": " + error.message() + ".");
    }
    target.path = next.is_absolute() ? next : target.path.parent_path() / next;
  }
}

fs::path TemporaryBeside(const OutputTarget& target, std::string_view suffix) {
  std::string name(1, '.');
  name += target.path.filename().string();
  name += suffix;
  return target.path.parent_path() / name;
}

void CommitOutput(const fs::path& temporary, const OutputTarget& target,
                  std::string_view shown) {
  std::error_code error;
  bool ok = true;
  if (target.in_place) {
    std::ifstream in(temporary, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)),
                           std::istreambuf_iterator<char>());
    std::ofstream out(target.path, std::ios::binary);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.flush();
    ok = !in.bad() && out.good();
  } else if (!SyncToDisk(temporary, false)) {
    error = std::error_code(errno, std::generic_category());
    ok = false;
  } else {
    fs::rename(temporary, target.path, error);
    ok = !error;
    // The new entry itself; a folder that cannot be synced (some network
    // file systems) still holds the complete file.
    const fs::path folder = target.path.parent_path();
    if (ok) SyncToDisk(folder.empty() ? fs::path(".") : folder, true);
  }
  std::error_code ignored;
  fs::remove(temporary, ignored);
  if (!ok) {
    throw OutputFileError(CannotWriteText(shown, error.value()));
  }
}

void WriteOutputFile(const fs::path& name, std::string_view text,
                     std::string_view suffix) {
  const OutputTarget target = ResolveOutput(name);
  // A device's folder (/dev) takes no new files: the temporary of an
  // in-place target sits beside the name given instead.
  const fs::path temporary = TemporaryBeside(
      target.in_place ? OutputTarget{name, true} : target, suffix);
  {
    // The stream keeps no reason; errno still holds the failed call's.
    errno = 0;
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
    file.flush();
    if (!file) {
      const int error = errno;
      std::error_code ignored;
      fs::remove(temporary, ignored);
      throw OutputFileError(CannotWriteText(name.string(), error));
    }
  }
  CommitOutput(temporary, target, name.string());
}

}  // namespace segmix::cli
