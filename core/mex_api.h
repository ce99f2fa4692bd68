// The host's external interface as the modules see it: MATLAB's or GNU
// Octave's own mex.h when building for them, the embedded host's otherwise.
#pragma once

#include "mex.h"
#include "portability.h"

// mexFunction must stay visible although the core is built with hidden
// visibility; the host's own declaration may not say so.
#define QIR_MODULE_ENTRY extern "C" QIR_EXPORT

#ifdef QIR_SUPPLY_MEXADDFLOPS
// Hosts that no longer count operations lack mexAddFlops; the module
// supplies its own, which drops the counts.
extern "C" void mexAddFlops(int count);
#endif
