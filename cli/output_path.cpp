#include "output_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "qir.h"

namespace qir::cli {

void check_output_path(const std::string &path) {
  if (path == "-") return;
  struct stat info {};
  if (stat(path.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) throw InputError(path + " is a directory");
    // A device, FIFO or descriptor is written in place: it must take writing.
    if (!S_ISREG(info.st_mode)) {
      if (access(path.c_str(), W_OK) != 0)
        throw InputError(path + ": cannot write there (" + std::strerror(errno) + ")");
      return;
    }
  }
  // A link is written through, so its target's folder is the one that counts.
  const std::string target = file_behind_links(path);
  const auto slash = target.find_last_of('/');
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
  if (access(folder.c_str(), W_OK) != 0)
    throw InputError(path + ": cannot write there (" + folder + ": " + std::strerror(errno) +
                     (target != path ? "; the path is a link to " + target : std::string()) + ")");
}

}  // namespace qir::cli
