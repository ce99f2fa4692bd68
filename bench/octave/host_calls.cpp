// Baseline for the tiny-call benchmark in GNU Octave: the host calls a
// classification call makes, in its order, and nothing else: the shape of
// every input, the seven scalars, the copies of Templates and Patterns (row
// array and one block of rows each), of NLabels and of the label array,
// the result array and the label array given back. What a qir_perf call
// costs beyond this is the module's own work.
#include "mex_api.h"

#include <cstddef>
#include <cstring>

namespace {

enum Input { TEMPLATES = 0, NLABELS = 1, PATTERNS = 7, UNKNOWN_LABEL = 8 };

const mwSize *sizes(const mxArray *array) {
  mxGetNumberOfDimensions(array);
  return mxGetDimensions(array);
}

double scalar(const mxArray *array) {
  sizes(array);
  return mxGetScalar(array);
}

// Row array and one block of rows, filled from the column-major data.
double **copy_rows(const mxArray *array) {
  const mwSize *d = sizes(array);
  const std::size_t rows = d[0], cols = d[1];
  double **row = static_cast<double **>(mxCalloc(rows, sizeof(double *)));
  double *block = static_cast<double *>(mxCalloc(rows * cols, sizeof(double)));
  const double *data = mxGetPr(array);
  for (std::size_t i = 0; i < rows; ++i) {
    row[i] = block + i * cols;
    for (std::size_t j = 0; j < cols; ++j) row[i][j] = data[j * rows + i];
  }
  return row;
}

}  // namespace

QIR_MODULE_ENTRY void mexFunction(int, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 10) mexErrMsgTxt("10 inputs expected");
  sizes(prhs[TEMPLATES]);
  sizes(prhs[NLABELS]);
  double sum = 0.0;
  for (int k = 2; k < 7; ++k) sum += scalar(prhs[k]);
  sizes(prhs[PATTERNS]);
  const double unknown = scalar(prhs[UNKNOWN_LABEL]);
  sum += scalar(prhs[9]);

  double **templates = copy_rows(prhs[TEMPLATES]);
  const std::size_t N = sizes(prhs[NLABELS])[0] * sizes(prhs[NLABELS])[1];
  double *labels = static_cast<double *>(mxCalloc(N, sizeof(double)));
  if (N > 0) std::memcpy(labels, mxGetPr(prhs[NLABELS]), N * sizeof(double));
  double **patterns = copy_rows(prhs[PATTERNS]);
  const std::size_t P = sizes(prhs[PATTERNS])[0];

  // Something of every copy reaches the result, so that none is left out.
  double *label_array = static_cast<double *>(mxCalloc(P, sizeof(double)));
  for (std::size_t j = 0; j < P; ++j)
    label_array[j] = N > 0 && patterns[j][0] == templates[0][0] + sum ? labels[0] : unknown;
  const mwSize dims[2] = {static_cast<mwSize>(P), 1};
  plhs[0] = mxCreateNumericArray(2, dims, mxDOUBLE_CLASS, mxREAL);
  if (P > 0) std::memcpy(mxGetPr(plhs[0]), label_array, P * sizeof(double));
  mxFree(label_array);
}
