#include "atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <vector>

#include "../base/errors.h"
#include "temp_file_cleanup.h"

namespace qir {
namespace {

[[noreturn]] void fail(const std::string &target, const std::string &what) {
  throw InputError(target + ": " + what + " (" + std::strerror(errno) + ")");
}

std::string folder_of(const std::string &path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

// A symbolic link stays a link and its target gets the new content.
std::string file_behind_links(const std::string &path) {
  std::string current = path;
  for (int depth = 0; depth < 40; ++depth) {  // as many as the system follows
    struct stat info {};
    if (lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
    std::vector<char> target(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 255) + 1);
    const ssize_t length = readlink(current.c_str(), target.data(), target.size());
    if (length < 0 || static_cast<std::size_t>(length) >= target.size()) return current;
    const std::string next(target.data(), static_cast<std::size_t>(length));
    if (next.empty()) return current;
    current = next.front() == '/' ? next : folder_of(current) + "/" + next;
  }
  return current;
}

namespace {

// The permission bits the new file gets: the existing file's, or those a
// plain create would give.
mode_t new_file_mode(const std::string &target) {
  struct stat info {};
  if (stat(target.c_str(), &info) == 0) return info.st_mode & 07777;
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// Owns the temporary file until it has been renamed into place; removed
// on every other way out, a catchable signal included.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string &target) {
    std::string pattern = target + ".tmp-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    descriptor_ = mkstemp(name.data());
    if (descriptor_ < 0) fail(target, "cannot create a file there");
    path_ = name.data();
    slot_ = register_temp_file(path_.c_str());
    fchmod(descriptor_, new_file_mode(target));
  }
  ~TemporaryFile() {
    if (descriptor_ >= 0) close(descriptor_);
    if (!path_.empty()) std::remove(path_.c_str());
    unregister_temp_file(slot_);
  }
  TemporaryFile(const TemporaryFile &) = delete;
  TemporaryFile &operator=(const TemporaryFile &) = delete;

  // The content on disk, not only in the system's buffers, before the
  // rename makes it the file: a crash then leaves the old file or the new.
  void write_all(const std::string &target, const std::string &content) {
    std::size_t done = 0;
    while (done < content.size()) {
      const ssize_t written = write(descriptor_, content.data() + done, content.size() - done);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) fail(target, "cannot write");
      done += static_cast<std::size_t>(written);
    }
    if (fsync(descriptor_) != 0) fail(target, "cannot write");
    const int status = close(descriptor_);
    descriptor_ = -1;
    if (status != 0) fail(target, "cannot write");
  }

  void rename_to(const std::string &target) {
    if (std::rename(path_.c_str(), target.c_str()) != 0) fail(target, "cannot replace the file");
    path_.clear();
    sync_folder(target);
  }

 private:
  // Makes the rename itself durable; a folder that cannot be synced costs
  // only that.
  static void sync_folder(const std::string &target) {
    const int folder = open(folder_of(target).c_str(), O_RDONLY | O_DIRECTORY);
    if (folder < 0) return;
    fsync(folder);
    close(folder);
  }

  int descriptor_ = -1;
  int slot_ = -1;
  std::string path_;
};

}  // namespace

void write_file_atomically(const std::string &path, const std::string &content) {
  if (path == "-") {
    std::cout << content << std::flush;
    return;
  }
  const std::string target = file_behind_links(path);
  TemporaryFile file(target);
  file.write_all(path, content);
  file.rename_to(target);
}

}  // namespace qir
