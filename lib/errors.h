// The three ways a command fails, each with its own exit status, so that
// scripts can tell a mistyped command line from bad data or a refused call.
#pragma once

#include <stdexcept>
#include <string>

namespace qircli {

// The command line itself is wrong (unknown option, missing argument).
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A file could not be read or written, or its content is unusable.
struct InputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A module ended its call with an error; the text is the module's own.
struct ModuleError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

constexpr int exit_failure = 1;
constexpr int exit_usage = 2;

}  // namespace qircli
