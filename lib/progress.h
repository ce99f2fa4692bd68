// A one-line progress report for long work (elapsed time and a step such as
// "fold 3/5"), shown on standard error only when that is a terminal, so it
// never ends up in files or pipes.
#pragma once

#include <chrono>
#include <string>

namespace qircli {

class Progress {
 public:
  Progress();
  ~Progress();  // clears the line
  Progress(const Progress &) = delete;
  Progress &operator=(const Progress &) = delete;

  void show(const std::string &step);

 private:
  bool on_terminal_;
  std::size_t width_ = 0;  // of the line last shown
  std::chrono::steady_clock::time_point start_;
};

}  // namespace qircli
