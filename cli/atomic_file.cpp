#include "atomic_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <vector>

#include "errors.h"

namespace qircli {
namespace {

// Owns the temporary file until it has been renamed into place.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string &target) {
    std::string pattern = target + ".tmp-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    descriptor_ = mkstemp(name.data());
    if (descriptor_ < 0) fail(target, "cannot create a file there");
    path_ = name.data();
    // mkstemp makes the file private; give it the mode a plain create would.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(descriptor_, 0666 & ~mask);
  }
  ~TemporaryFile() {
    if (descriptor_ >= 0) close(descriptor_);
    if (!path_.empty()) std::remove(path_.c_str());
  }
  TemporaryFile(const TemporaryFile &) = delete;
  TemporaryFile &operator=(const TemporaryFile &) = delete;

  void write_all(const std::string &target, const std::string &content) {
    std::size_t done = 0;
    while (done < content.size()) {
      const ssize_t written = write(descriptor_, content.data() + done, content.size() - done);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) fail(target, "cannot write");
      done += static_cast<std::size_t>(written);
    }
    const int status = close(descriptor_);
    descriptor_ = -1;
    if (status != 0) fail(target, "cannot write");
  }

  void rename_to(const std::string &target) {
    if (std::rename(path_.c_str(), target.c_str()) != 0) fail(target, "cannot replace the file");
    path_.clear();
  }

 private:
  [[noreturn]] static void fail(const std::string &target, const std::string &what) {
    throw InputError(target + ": " + what + " (" + std::strerror(errno) + ")");
  }
  int descriptor_ = -1;
  std::string path_;
};

}  // namespace

void write_file_atomically(const std::string &path, const std::string &content) {
  if (path == "-") {
    std::cout << content << std::flush;
    return;
  }
  TemporaryFile file(path);
  file.write_all(path, content);
  file.rename_to(path);
}

}  // namespace qircli
