// Ctrl-C during a long call. Every host that can interrupt a call answers
// utIsInterruptPending: MATLAB's libut, the embedded host, and for GNU Octave
// a definition of our own (octave/interrupt_pending.cpp) that reads the
// interpreter's pending-interrupt state. The modules poll it on the calling
// thread between patterns and end the call with "<MODULE>: Interrupted."
#pragma once

#include <cstdint>

extern "C" bool utIsInterruptPending(void);

namespace qir {

// Thrown from between two patterns when the host asks to stop; the entry
// point's guard turns it into the call's error after everything is released.
struct Interrupted {};

constexpr const char *interrupted_message_format = "%s: Interrupted.";

// Asks the host only once enough work has been done since the last
// question, so that a pattern step of a few operations does not pay for a
// call across the module boundary each time, yet a stop request is seen
// within well under a millisecond of work.
class InterruptPoll {
 public:
  // Called between patterns with the work of the pattern just done, in
  // feature operations (nodes evaluated times features, at least 1).
  void after_pattern(std::uint64_t work) {
    done_ += work + 1;
    if (done_ >= interval) {
      done_ = 0;
      throw_if_interrupted();
    }
  }

  // Asks the host now; throws Interrupted when a stop was requested.
  static void throw_if_interrupted();

 private:
  static constexpr std::uint64_t interval = std::uint64_t{1} << 16;
  std::uint64_t done_ = 0;
};

}  // namespace qir
