// What every benchmark command shares: loading module files, choosing the
// modules' settings through their environment variables, keeping the
// fastest of several runs, and the identity checks.
#pragma once

#include "module_runs.h"

#include "qirhost/host.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

namespace qirbench {

// The module file, or null (with a note) when it cannot be loaded.
std::unique_ptr<qirhost::Module> load(const std::string &path);

// Sets an environment variable the modules read at each call; empty unsets it.
void set_env(const char *name, const std::string &value);

// The first run's outcome (the printed totals run on over a module's
// calls, so only first calls of fresh copies compare) with the shortest
// time of `repeats` runs.
template <class Run>
TimedCall fastest(std::int32_t repeats, Run run) {
  TimedCall first = run();
  for (std::int32_t r = 1; r < repeats; ++r) first.seconds = std::min(first.seconds, run().seconds);
  return first;
}

// Prints whether two calls had the same outcome; counts the mismatches.
void check_identical(const char *what, const TimedCall &a, const TimedCall &b);
// Mismatches found so far: the exit status.
int mismatches();

}  // namespace qirbench
