#include "interrupt.h"

namespace qir {

void InterruptPoll::throw_if_interrupted() {
  if (utIsInterruptPending()) throw Interrupted{};
}

}  // namespace qir
