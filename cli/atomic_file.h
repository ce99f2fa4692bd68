// Output files appear whole or not at all: a failed or interrupted command
// never leaves a partial model, label or picture file behind.
#pragma once

#include <string>

namespace qircli {

// Writes `content` to a temporary file beside `path`, then renames it onto
// `path`. Throws InputError naming `path` on failure, after removing the
// temporary file. The path "-" writes to standard output instead.
void write_file_atomically(const std::string &path, const std::string &content);

}  // namespace qircli
