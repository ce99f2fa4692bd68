// Baseline for the tiny-call benchmark in GNU Octave: a module that takes
// its arguments and does nothing, so its time is the host's own cost of a
// call.
#include "mex_api.h"

QIR_MODULE_ENTRY void mexFunction(int, mxArray *[], int, const mxArray *[]) {}
