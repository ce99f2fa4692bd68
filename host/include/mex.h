/* External interface of the embedded host: the subset of the MEX gateway and
   mx array functions that QIR modules use, with the host's own names and
   types. Modules built for MATLAB or GNU Octave include that host's mex.h
   instead. */
#ifndef QIRHOST_MEX_H
#define QIRHOST_MEX_H

#include <stddef.h>

/* The host library exports its functions, each module its mexFunction. */
#include "portability.h"
#define QIRHOST_API QIR_HOST_API
#define QIRHOST_MODULE_ENTRY QIR_EXPORT
#define QIRHOST_PRINTF_FORMAT QIR_PRINTF_FORMAT

typedef size_t mwSize;
typedef size_t mwIndex;

typedef struct mxArray_tag mxArray;

typedef enum {
  mxUNKNOWN_CLASS = 0,
  mxCELL_CLASS,
  mxSTRUCT_CLASS,
  mxLOGICAL_CLASS,
  mxCHAR_CLASS,
  mxVOID_CLASS,
  mxDOUBLE_CLASS,
  mxSINGLE_CLASS,
  mxINT8_CLASS,
  mxUINT8_CLASS,
  mxINT16_CLASS,
  mxUINT16_CLASS,
  mxINT32_CLASS,
  mxUINT32_CLASS,
  mxINT64_CLASS,
  mxUINT64_CLASS,
  mxFUNCTION_CLASS
} mxClassID;

typedef enum { mxREAL = 0, mxCOMPLEX } mxComplexity;

#ifdef __cplusplus
extern "C" {
#endif

/* Array inspection. */
QIRHOST_API mwSize mxGetNumberOfDimensions(const mxArray *array);
QIRHOST_API const mwSize *mxGetDimensions(const mxArray *array);
QIRHOST_API size_t mxGetNumberOfElements(const mxArray *array);
QIRHOST_API size_t mxGetM(const mxArray *array);
QIRHOST_API size_t mxGetN(const mxArray *array);
QIRHOST_API mxClassID mxGetClassID(const mxArray *array);
QIRHOST_API bool mxIsDouble(const mxArray *array);
QIRHOST_API bool mxIsNumeric(const mxArray *array);
QIRHOST_API bool mxIsLogical(const mxArray *array);
QIRHOST_API bool mxIsComplex(const mxArray *array);
QIRHOST_API bool mxIsSparse(const mxArray *array);
QIRHOST_API bool mxIsEmpty(const mxArray *array);
QIRHOST_API double mxGetScalar(const mxArray *array);
QIRHOST_API double *mxGetPr(const mxArray *array);

/* Host allocator: blocks still held when a call ends are reclaimed. */
QIRHOST_API void *mxCalloc(size_t n, size_t size);
QIRHOST_API void *mxMalloc(size_t n);
QIRHOST_API void *mxRealloc(void *ptr, size_t size);
QIRHOST_API void mxFree(void *ptr);

/* Array creation and release. */
QIRHOST_API mxArray *mxCreateNumericArray(mwSize ndim, const mwSize *dims,
                                          mxClassID classid, mxComplexity flag);
QIRHOST_API mxArray *mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity flag);
QIRHOST_API void mxDestroyArray(mxArray *array);

/* Gateway services. mexErrMsgTxt ends the call and never returns. */
QIRHOST_API void mexErrMsgTxt(const char *message);
QIRHOST_API void mexWarnMsgTxt(const char *message);
QIRHOST_API int mexPrintf(const char *format, ...) QIRHOST_PRINTF_FORMAT;
QIRHOST_API void mexAddFlops(int count);

/* Implemented by the module. */
QIRHOST_MODULE_ENTRY void mexFunction(
    int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]);

#ifdef __cplusplus
}
#endif

#endif
