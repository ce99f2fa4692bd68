#include "modules.h"

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

}  // namespace qir
