// The three ways a command fails, each with its own exit status, so that
// scripts can tell a mistyped command line from bad data or a refused call.
#pragma once

#include <stdexcept>
#include <string>

namespace qir {

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

// What a front end says when its own work (reading data, holding results)
// runs out of memory, as opposed to the modules' memory message.
constexpr const char *out_of_memory_text =
    "not enough memory for this data: free memory or raise the process's memory limit "
    "(ulimit -v), or split the data file and run the parts one by one";

constexpr int exit_failure = 1;
constexpr int exit_usage = 2;

}  // namespace qir
