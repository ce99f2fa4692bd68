#include "marshal.h"

#include <algorithm>

namespace qir {

namespace {

mxArray *new_double_matrix(std::int32_t rows, std::int32_t cols) {
  const mwSize dims[2] = {static_cast<mwSize>(rows), static_cast<mwSize>(cols)};
  mxArray *array = mxCreateNumericArray(2, dims, mxDOUBLE_CLASS, mxREAL);
  if (array == nullptr) throw std::bad_alloc();
  return array;
}

// The column-major host data into rows that lie one after another in one
// block. Up to 64 columns, four rows at a time: each step reads four
// neighbouring values of every column, whose cache lines stay at hand for
// the next step, and writes the rows in order. Wider matrices go in tiles
// of eight rows (one cache line of each column) by 64 columns, so that a
// line read is used whole before it can be evicted: 1.2-2x faster at 100
// to 784 columns, while tiles cost small calls a few per cent.
void transpose_into(const double *data, std::size_t rows, std::size_t cols, double *slab) {
  constexpr std::size_t tile_rows = 8, tile_cols = 64;
  std::size_t i = 0;
  if (cols <= tile_cols) {
    for (; i + 4 <= rows; i += 4) {
      double *row = slab + i * cols;
      const double *column = data + i;
      for (std::size_t j = 0; j < cols; ++j, column += rows) {
        row[j] = column[0];
        row[cols + j] = column[1];
        row[2 * cols + j] = column[2];
        row[3 * cols + j] = column[3];
      }
    }
  } else {
    for (; i + tile_rows <= rows; i += tile_rows) {
      double *const tile = slab + i * cols;
      for (std::size_t j0 = 0; j0 < cols; j0 += tile_cols) {
        const std::size_t j1 = std::min(cols, j0 + tile_cols);
        const double *column = data + j0 * rows + i;
        for (std::size_t j = j0; j < j1; ++j, column += rows) {
          double *to = tile + j;
          for (std::size_t k = 0; k < tile_rows; ++k, to += cols) *to = column[k];
        }
      }
    }
  }
  for (; i < rows; ++i) {
    double *row = slab + i * cols;
    const double *column = data + i;
    for (std::size_t j = 0; j < cols; ++j, column += rows) row[j] = *column;
  }
}

}  // namespace

std::optional<HostVector> mxArray1D_to_cArray1D(std::int32_t &n, const mxArray *array) {
  if (mxGetNumberOfDimensions(array) != 2) {
    n = 0;
    mexWarnMsgTxt("mxArray1D_to_cArray1D: Argument passed was not appropriate!");
    return std::nullopt;
  }
  const mwSize *dims = mxGetDimensions(array);
  if (dims[0] == 1) {
    n = static_cast<std::int32_t>(dims[1]);
  } else if (dims[1] == 1) {
    n = static_cast<std::int32_t>(dims[0]);
  } else {
    n = 0;
    mexWarnMsgTxt("mxArray1D_to_cArray1D: mxArray argument passed was not appropriate!");
    return std::nullopt;
  }
  HostVector vector{host_calloc<double>(static_cast<std::size_t>(n)), n};
  if (n > 0) std::copy_n(mxGetPr(array), n, vector.data.get());
  return vector;
}

std::optional<HostRows> mxArray2D_to_cArray2D(std::int32_t &rows, std::int32_t &cols,
                                              const mxArray *array) {
  if (mxGetNumberOfDimensions(array) != 2) {
    rows = 0;
    cols = 0;
    mexWarnMsgTxt("mxArray2D_to_cArray2D: mxArray argument passed was not appropriate!");
    return std::nullopt;
  }
  const mwSize *dims = mxGetDimensions(array);
  rows = static_cast<std::int32_t>(dims[0]);
  cols = static_cast<std::int32_t>(dims[1]);
  HostRows matrix(rows, cols, /*zeroed=*/false);  // every value is written below
  if (rows == 0 || cols == 0) return matrix;
  const double *data = mxGetPr(array);
  transpose_into(data, static_cast<std::size_t>(rows), static_cast<std::size_t>(cols), matrix[0]);
  return matrix;
}

mxArray *cArray1D_to_mxArray1D(std::int32_t n, HostVector &vector) {
  mxArray *array = new_double_matrix(n, 1);
  if (n > 0) std::copy_n(vector.data.get(), n, mxGetPr(array));
  vector.data.reset();
  vector.n = 0;
  return array;
}

mxArray *cArray2D_to_mxArray2D(std::int32_t rows, std::int32_t cols, HostRows &matrix) {
  mxArray *array = new_double_matrix(rows, cols);
  double *data = mxGetPr(array);
  // Write the host data in storage order.
  for (std::int32_t j = 0; j < cols; ++j)
    for (std::int32_t i = 0; i < rows; ++i)
      data[static_cast<std::size_t>(j) * rows + i] = matrix[i][j];
  matrix.clear();
  return array;
}

}  // namespace qir
