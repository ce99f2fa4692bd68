// A small module for the host's own tests. The first input selects what the
// call does; every call bumps a module-wide counter and returns it.
#include "mex.h"

namespace {

int calls = 0;  // must read zero again after the module is reloaded

enum Request { kCount = 0, kUntidy = 1, kFail = 2 };

// Leaves a block and an array behind, warns and reports flops.
void untidy_call() {
  mexWarnMsgTxt("probe leaves memory behind");
  mexAddFlops(calls);
  static_cast<void>(mxMalloc(32));
  static_cast<void>(mxCreateDoubleMatrix(2, 2, mxREAL));
}

// Fills the output slot and holds memory before ending the call with an error.
void failing_call(mxArray *plhs[]) {
  plhs[0] = mxCreateDoubleMatrix(1, 1, mxREAL);
  static_cast<void>(mxCalloc(4, 8));
  mexErrMsgTxt("probe failed as asked");
}

}  // namespace

// Exported by the declaration in mex.h.
extern "C" void mexFunction(
    int /*nlhs*/, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  ++calls;
  mexPrintf("probe call %d\n", calls);
  const int request = nrhs > 0 ? static_cast<int>(mxGetScalar(prhs[0])) : kCount;
  if (request == kUntidy) untidy_call();
  if (request == kFail) failing_call(plhs);
  plhs[0] = mxCreateDoubleMatrix(1, 1, mxREAL);
  if (plhs[0] != nullptr) *mxGetPr(plhs[0]) = calls;
}
