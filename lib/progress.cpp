#include "progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace qircli {

Progress::Progress(double quiet_seconds)
    : on_terminal_(isatty(STDERR_FILENO) == 1),
      quiet_seconds_(quiet_seconds),
      start_(std::chrono::steady_clock::now()) {}

Progress::~Progress() {
  if (on_terminal_ && width_ > 0) std::fprintf(stderr, "\r%*s\r", static_cast<int>(width_), "");
}

void Progress::show(const std::string &step) {
  if (!on_terminal_) return;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  if (seconds < quiet_seconds_) return;
  char line[200];
  const int length = std::snprintf(line, sizeof line, "%s, %.1f s", step.c_str(), seconds);
  const std::size_t shown =
      length < 0 ? 0 : std::min(static_cast<std::size_t>(length), sizeof line - 1);
  std::fprintf(stderr, "\r%s%*s", line,
               static_cast<int>(width_ > shown ? width_ - shown : 0), "");
  std::fflush(stderr);
  width_ = shown;
}

std::string training_step(int member, int members, int presentation, std::size_t nodes) {
  return "member " + std::to_string(member + 1) + "/" + std::to_string(members) +
         ", list presentation " + std::to_string(presentation) + ", " + std::to_string(nodes) +
         (nodes == 1 ? " node" : " nodes");
}

}  // namespace qircli
