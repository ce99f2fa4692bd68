#include "bench_support.h"

#include <cstdio>
#include <cstdlib>

namespace qirbench {

namespace {
int mismatch_count = 0;
}  // namespace

std::unique_ptr<qirhost::Module> load(const std::string &path) {
  if (path.empty()) return nullptr;
  try {
    return std::make_unique<qirhost::Module>(path);
  } catch (const std::exception &e) {
    std::printf("  (cannot load %s: %s)\n", path.c_str(), e.what());
    return nullptr;
  }
}

void set_env(const char *name, const std::string &value) {
  if (value.empty())
    unsetenv(name);
  else
    setenv(name, value.c_str(), 1);
}

void check_identical(const char *what, const TimedCall &a, const TimedCall &b) {
  std::string why;
  const bool same = same_outcome(a.result, b.result, why);
  if (!same) ++mismatch_count;
  std::printf("  %s: %s\n", what, same ? "identical results, text and operation totals"
                                       : ("MISMATCH: " + why).c_str());
}

int mismatches() { return mismatch_count; }

}  // namespace qirbench
