// Output paths are checked before the work starts, so a long training run
// does not end in "cannot create a file there".
#pragma once

#include <string>

namespace qir::cli {

// Throws InputError naming `path` when it is a folder or its folder does not
// exist or is not writable. "-" (standard output) always passes.
void check_output_path(const std::string &path);

}  // namespace qir::cli
