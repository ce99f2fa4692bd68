#include "environment_settings.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace qir {

std::int32_t requested_threads() {
  constexpr long most = 256;
  const char *setting = std::getenv("QIR_THREADS");
  if (setting == nullptr || *setting == '\0') return 0;
  char *end = nullptr;
  errno = 0;
  const long n = std::strtol(setting, &end, 10);
  if (errno == 0 && *end == '\0' && n >= 1 && n <= most) return static_cast<std::int32_t>(n);
  return 0;
}

const char *unusable_threads_setting() {
  const char *setting = std::getenv("QIR_THREADS");
  if (setting == nullptr || *setting == '\0' || requested_threads() > 0) return nullptr;
  return setting;
}

bool pruning_enabled() {
  const char *setting = std::getenv("QIR_PRUNE");
  return setting == nullptr || std::strcmp(setting, "0") != 0;
}

bool choice_bounds_enabled() {
  const char *setting = std::getenv("QIR_CHOICE_BOUNDS");
  return pruning_enabled() && (setting == nullptr || std::strcmp(setting, "0") != 0);
}

bool lean_cuts_enabled() {
  const char *setting = std::getenv("QIR_LEAN_CUTS");
  return pruning_enabled() && (setting == nullptr || std::strcmp(setting, "0") != 0);
}

bool training_bounds_enabled() {
  const char *setting = std::getenv("QIR_TRAINING_BOUNDS");
  return choice_bounds_enabled() && setting != nullptr && std::strcmp(setting, "1") == 0;
}

const char *requested_match_kernel() { return std::getenv("QIR_MATCH_KERNEL"); }

}  // namespace qir
