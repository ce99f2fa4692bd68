// Every environment variable the modules read, and the one place that reads
// them. Each is read afresh at every call, so a session may change them
// between calls.
//
//   QIR_THREADS       threads a call may use, a whole number from 1 to 256
//                     (unset or anything else: the processor count, and
//                     qir_perf warns about anything else). Users running
//                     several calls at once (parfor) set 1.
//   QIR_PRUNE         "0": every node is evaluated for every pattern, with
//                     no groups, cuts or training memory (the benchmarks
//                     compare both ways).
//   QIR_CHOICE_BOUNDS "0": classification leaves out no group of nodes for
//                     its choice values, only those beyond the vigilance
//                     test's reach (the differential tests and benchmarks
//                     compare both ways); QIR_PRUNE=0 turns it off too.
//   QIR_TRAINING_BOUNDS "1": training's searches without memory leave out
//                     the blocks whose bounds prove they cannot win
//                     (choice_cut.h; off by default: measured, it saves no
//                     time on this project's workloads); QIR_CHOICE_BOUNDS=0
//                     and QIR_PRUNE=0 turn it off too.
//   QIR_LEAN_CUTS     "0": silent classification finishes every register
//                     of nodes with its square roots and divisions, with no
//                     thresholds on the radicand (lean_cut.h); QIR_PRUNE=0
//                     turns them off too.
//   QIR_MATCH_KERNEL  scalar, sse2, avx2, avx512 or neon: that evaluation kernel
//                     when the processor has it, else the best one it has.
#pragma once

#include <cstdint>

namespace qir {

// QIR_THREADS as a number from 1 to 256; 0 when unset or anything else.
std::int32_t requested_threads();

// QIR_THREADS when it is set but not a number from 1 to 256 (what a
// warning quotes); null otherwise.
const char *unusable_threads_setting();

// False when QIR_PRUNE is "0".
bool pruning_enabled();

// False when QIR_CHOICE_BOUNDS or QIR_PRUNE is "0".
bool choice_bounds_enabled();

// False when QIR_LEAN_CUTS or QIR_PRUNE is "0".
bool lean_cuts_enabled();

// True when QIR_TRAINING_BOUNDS is "1" and choice_bounds_enabled().
bool training_bounds_enabled();

// QIR_MATCH_KERNEL as set; null when unset.
const char *requested_match_kernel();

}  // namespace qir
