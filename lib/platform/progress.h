// A one-line progress report for long work (elapsed time and a step such as
// "fold 3/5"), shown on standard error only when that is a terminal, so it
// never ends up in files or pipes.
#pragma once

#include <chrono>
#include <string>

namespace qir {

class Progress {
 public:
  // Nothing is shown until `quiet_seconds` have passed, so that short work
  // stays silent.
  explicit Progress(double quiet_seconds = 0);
  ~Progress();  // clears the line
  Progress(const Progress &) = delete;
  Progress &operator=(const Progress &) = delete;

  void show(const std::string &step);
  // Whether lines can be shown at all (standard error is a terminal).
  bool shown() const { return on_terminal_; }

 private:
  bool on_terminal_;
  double quiet_seconds_;
  std::size_t width_ = 0;  // of the line last shown
  std::chrono::steady_clock::time_point start_;
};

// "member 2/5, list presentation 7, 130 nodes": the step of a training run.
std::string training_step(int member, int members, int presentation, std::size_t nodes);

// The line shown for a step after `seconds`: "member 2/5, ..., 3.4 s".
std::string progress_line(const std::string &step, double seconds);

// Whether standard output is a terminal, for hosts that show progress
// there (the toolbox's, whose console is the host's standard output).
bool output_is_terminal();

}  // namespace qir
