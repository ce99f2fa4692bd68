#include "atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
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

void write_to(int descriptor, const std::string &path, std::string_view content) {
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t written = write(descriptor, content.data() + done, content.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) fail(path, "cannot write");
    done += static_cast<std::size_t>(written);
  }
}

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
  explicit TemporaryFile(const std::string &target,
                         SignalCleanup cleanup = SignalCleanup::on_signals) {
    std::string pattern = target + ".tmp-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    descriptor_ = mkstemp(name.data());
    if (descriptor_ < 0) fail(target, "cannot create a file there");
    path_ = name.data();
    if (cleanup == SignalCleanup::on_signals) slot_ = register_temp_file(path_.c_str());
    fchmod(descriptor_, new_file_mode(target));
  }
  ~TemporaryFile() {
    if (descriptor_ >= 0) close(descriptor_);
    if (!path_.empty()) std::remove(path_.c_str());
    if (slot_ >= 0) unregister_temp_file(slot_);
  }
  TemporaryFile(const TemporaryFile &) = delete;
  TemporaryFile &operator=(const TemporaryFile &) = delete;

  // The content on disk, not only in the system's buffers, before the
  // rename makes it the file: a crash then leaves the old file or the new.
  void write_all(const std::string &target, const std::string &content) {
    append(target, content);
    finish(target);
  }
  void append(const std::string &target, std::string_view content) {
    write_to(descriptor_, target, content);
  }
  void finish(const std::string &target) {
    if (fsync(descriptor_) != 0) fail(target, "cannot write");
    const int status = close(descriptor_);
    descriptor_ = -1;
    if (status != 0) fail(target, "cannot write");
  }

  const std::string &path() const { return path_; }

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

// A descriptor the process already holds, named as a path: /dev/stdout,
// /dev/fd/N, /proc/self/fd/N. -1 for any other path.
int descriptor_named(const std::string &path) {
  if (path == "/dev/stdout") return STDOUT_FILENO;
  if (path == "/dev/stderr") return STDERR_FILENO;
  for (const std::string prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    if (path.compare(0, prefix.size(), prefix) != 0 || path.size() == prefix.size()) continue;
    const std::string digits = path.substr(prefix.size());
    if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
      return -1;
    const int descriptor = std::atoi(digits.c_str());
    return fcntl(descriptor, F_GETFD) == -1 ? -1 : descriptor;
  }
  return -1;
}

// A device, FIFO or socket is written in place: renaming a file over it
// would turn /dev/null into a plain file and leave a FIFO's reader waiting.
void write_in_place(const std::string &path, std::string_view content) {
  const int descriptor = open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (descriptor < 0) fail(path, "cannot open it for writing");
  try {
    write_to(descriptor, path, content);
  } catch (...) {
    close(descriptor);
    throw;
  }
  if (close(descriptor) != 0 && errno != EINTR) fail(path, "cannot write");
}

// Where write_file_atomically puts content: replaced as a whole (a regular
// file, or one yet to be made), or written in place.
enum class Target { standard_output, descriptor, in_place, replaced };

Target target_of(const std::string &path, int &descriptor) {
  if (path == "-") return Target::standard_output;
  descriptor = descriptor_named(path);
  if (descriptor >= 0) return Target::descriptor;
  struct stat info {};
  if (stat(path.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) throw InputError(path + " is a directory");
    if (!S_ISREG(info.st_mode)) return Target::in_place;
  }
  return Target::replaced;
}

}  // namespace

struct AtomicFileWriter::State {
  std::string path;
  Target target = Target::replaced;
  int descriptor = -1;
  std::string behind;  // the file replaced
  std::unique_ptr<TemporaryFile> file;
  std::exception_ptr failure;  // told at commit, where writing it whole would tell it
};

AtomicFileWriter::AtomicFileWriter(const std::string &path) : state_(std::make_unique<State>()) {
  State &s = *state_;
  s.path = path;
  try {
    s.target = target_of(path, s.descriptor);
    if (s.target == Target::replaced) {
      s.behind = file_behind_links(path);
      s.file = std::make_unique<TemporaryFile>(s.behind);
    } else {
      // Held back until commit, so that a failure leaves nothing written.
      const std::string spool = (std::filesystem::temp_directory_path() / "qir-out").string();
      s.file = std::make_unique<TemporaryFile>(spool);
    }
  } catch (...) {
    s.failure = std::current_exception();
    s.file.reset();
  }
}

AtomicFileWriter::~AtomicFileWriter() = default;

void AtomicFileWriter::write(std::string_view content) {
  State &s = *state_;
  if (s.failure || content.empty()) return;
  try {
    s.file->append(s.target == Target::replaced ? s.path : s.file->path(), content);
  } catch (...) {
    s.failure = std::current_exception();
  }
}

void AtomicFileWriter::commit() {
  State &s = *state_;
  if (s.failure) std::rethrow_exception(s.failure);
  if (s.target == Target::replaced) {
    s.file->finish(s.path);
    s.file->rename_to(s.behind);
    return;
  }
  s.file->finish(s.file->path());
  std::ifstream spooled(s.file->path(), std::ios::binary);
  std::vector<char> block(1 << 16);
  int out = -1;
  if (s.target == Target::in_place) {
    out = open(s.path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (out < 0) fail(s.path, "cannot open it for writing");
  }
  try {
    while (spooled.read(block.data(), static_cast<std::streamsize>(block.size())) ||
           spooled.gcount() > 0) {
      const std::string_view piece(block.data(), static_cast<std::size_t>(spooled.gcount()));
      if (s.target == Target::standard_output)
        std::cout << piece;
      else
        write_to(s.target == Target::descriptor ? s.descriptor : out, s.path, piece);
    }
    if (spooled.bad()) fail(s.path, "cannot write");
  } catch (...) {
    if (out >= 0) close(out);
    throw;
  }
  if (s.target == Target::standard_output) std::cout << std::flush;
  if (out >= 0 && close(out) != 0 && errno != EINTR) fail(s.path, "cannot write");
}

void write_file_atomically(const std::string &path, const std::string &content,
                           SignalCleanup cleanup) {
  if (path == "-") {
    std::cout << content << std::flush;
    return;
  }
  // What the process already writes to keeps its place and mode (a pipe,
  // a log opened for appending).
  if (const int descriptor = descriptor_named(path); descriptor >= 0) {
    if (descriptor == STDOUT_FILENO) std::cout << std::flush;
    write_to(descriptor, path, content);
    return;
  }
  struct stat info {};
  if (stat(path.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) throw InputError(path + " is a directory");
    if (!S_ISREG(info.st_mode)) return write_in_place(path, content);
  }
  const std::string target = file_behind_links(path);
  TemporaryFile file(target, cleanup);
  file.write_all(path, content);
  file.rename_to(target);
}

}  // namespace qir
