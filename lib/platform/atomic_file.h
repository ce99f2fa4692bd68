// Output files appear whole or not at all: a failed or interrupted command
// never leaves a partial model, label or picture file behind.
#pragma once

#include <string>

namespace qir {

// Writes `content` to a temporary file beside `path`, flushes it to disk,
// then renames it onto `path`. An existing file keeps its permission bits;
// a symbolic link keeps being a link and its target is replaced. The
// temporary file is removed on failure and on SIGINT, SIGTERM or SIGHUP.
// Throws InputError naming `path` on failure, and for a directory ("PATH is
// a directory"). The path "-" writes to standard output instead. What is
// not a regular file is written in place and never replaced: a device, a
// FIFO, a socket, and a descriptor named as a path (/dev/stdout, /dev/fd/N
// of a process substitution, /proc/self/fd/N).
void write_file_atomically(const std::string &path, const std::string &content);

// The file that writing to `path` replaces: symbolic links followed, also
// one whose target does not exist yet.
std::string file_behind_links(const std::string &path);

}  // namespace qir
