// utIsInterruptPending for GNU Octave, which has no libut: Ctrl-C raises the
// interpreter's pending-interrupt state, which is read here and left as it
// is. Compiled into the Octave modules only, hidden like the rest of the
// core.
#include <octave/octave-config.h>
#include <octave/quit.h>

extern "C" bool utIsInterruptPending(void) {
  // Read through volatile: the signal handler writes it behind the
  // compiler's back.
  return *static_cast<volatile sig_atomic_t *>(&octave_interrupt_state) > 0;
}
