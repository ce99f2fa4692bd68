#include "modules.h"

#include <algorithm>
#include <cstddef>

namespace qir {

OwnedPatterns column_major(const std::vector<std::vector<double>> &rows, std::size_t columns) {
  OwnedPatterns out;
  out.rows = rows.size();
  out.columns = columns;
  out.values.resize(rows.size() * columns);
  for (std::size_t r = 0; r < rows.size(); ++r)
    for (std::size_t c = 0; c < columns; ++c) out.values[c * rows.size() + r] = rows[r][c];
  return out;
}

OwnedPatterns rows_of(PatternMatrix matrix, const std::vector<std::size_t> &rows) {
  OwnedPatterns out;
  out.rows = rows.size();
  out.columns = matrix.columns;
  out.values.resize(out.rows * out.columns);
  for (std::size_t c = 0; c < out.columns; ++c)
    for (std::size_t r = 0; r < out.rows; ++r)
      out.values[c * out.rows + r] = matrix.values[c * matrix.rows + rows[r]];
  return out;
}

OwnedPatterns columns_of(PatternMatrix matrix, const std::vector<std::size_t> &columns) {
  OwnedPatterns out;
  out.rows = matrix.rows;
  out.columns = columns.size();
  out.values.resize(out.rows * out.columns);
  for (std::size_t c = 0; c < out.columns; ++c)
    std::copy_n(matrix.values + columns[c] * matrix.rows, matrix.rows,
                out.values.begin() + static_cast<std::ptrdiff_t>(c * matrix.rows));
  return out;
}

}  // namespace qir
