// Output files appear whole or not at all: a failed or interrupted command
// never leaves a partial model, label or picture file behind.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace qir {

// Writes `content` to a temporary file beside `path`, flushes it to disk,
// then renames it onto `path`. An existing file keeps its permission bits;
// a symbolic link keeps being a link and its target is replaced. The
// temporary file is removed on failure and on SIGINT, SIGTERM or SIGHUP
// (SignalCleanup::none leaves the process's signal handling alone, as a
// module inside MATLAB or Octave must). Throws InputError naming `path` on
// failure, and for a directory ("PATH is a directory"). The path "-" writes
// to standard output instead. What is not a regular file is written in
// place and never replaced: a device, a FIFO, a socket, and a descriptor
// named as a path (/dev/stdout, /dev/fd/N of a process substitution,
// /proc/self/fd/N).
enum class SignalCleanup { on_signals, none };
void write_file_atomically(const std::string &path, const std::string &content,
                           SignalCleanup cleanup = SignalCleanup::on_signals);

// Content written piece by piece that appears as write_file_atomically
// would write it whole, at commit(): a writer dropped uncommitted (a
// failure on the way) leaves no trace. What is written in place ("-",
// devices, descriptors) waits in a temporary file until commit. A failure
// to create or write the file is thrown by commit, where writing the whole
// content would have thrown it.
class AtomicFileWriter {
 public:
  explicit AtomicFileWriter(const std::string &path);
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter &) = delete;
  AtomicFileWriter &operator=(const AtomicFileWriter &) = delete;
  void write(std::string_view content);
  void commit();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The file that writing to `path` replaces: symbolic links followed, also
// one whose target does not exist yet.
std::string file_behind_links(const std::string &path);

}  // namespace qir
