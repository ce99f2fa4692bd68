#include "progress.h"

#ifdef _WIN32
#include <io.h>
#define QIR_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define QIR_ISATTY(fd) isatty(fd)
#endif

#include <algorithm>
#include <cstdio>
#include <string>

namespace qir {

Progress::Progress(double quiet_seconds)
    : on_terminal_(QIR_ISATTY(2) == 1),
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
  const std::string line = progress_line(step, seconds);
  const std::size_t shown = line.size();
  std::fprintf(stderr, "\r%s%*s", line.c_str(),
               static_cast<int>(width_ > shown ? width_ - shown : 0), "");
  std::fflush(stderr);
  width_ = shown;
}

std::string training_step(int member, int members, int presentation, std::size_t nodes) {
  return "member " + std::to_string(member + 1) + "/" + std::to_string(members) +
         ", list presentation " + std::to_string(presentation) + ", " + std::to_string(nodes) +
         (nodes == 1 ? " node" : " nodes");
}

std::string progress_line(const std::string &step, double seconds) {
  char elapsed[40];
  std::snprintf(elapsed, sizeof elapsed, ", %.1f s", seconds);
  return step + elapsed;
}

bool output_is_terminal() { return QIR_ISATTY(1) == 1; }

}  // namespace qir
