// The search for the first NaN or infinity of a matrix argument: a quick
// pass over all values finds whether there is one, the exact search where.
#include "data_checks.h"
#include "messages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace qir {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

// Every shape from 1 x 1 to 6 x 7 (so every remainder of the quick pass's
// steps of four), every position, each kind of non-finite value, also next
// to the largest finite values: found exactly there, and only in the
// columns asked about.
TEST(NonFinite, FoundAtEveryPositionOfEveryShape) {
  for (std::int32_t rows = 1; rows <= 6; ++rows)
    for (std::int32_t cols = 1; cols <= 7; ++cols)
      for (std::int32_t at = 0; at < rows * cols; ++at)
        for (double bad : {std::nan(""), inf, -inf}) {
          std::vector<double> data(static_cast<std::size_t>(rows * cols), 0.5);
          data.front() = std::numeric_limits<double>::max();
          data.back() = -std::numeric_limits<double>::max();
          data[at] = bad;
          SCOPED_TRACE(std::to_string(rows) + " x " + std::to_string(cols) + " at " +
                       std::to_string(at));
          const Cell cell = first_non_finite(data.data(), rows, cols);
          EXPECT_EQ(cell.row, at % rows);
          EXPECT_EQ(cell.col, at / rows);
          EXPECT_FALSE(first_non_finite(data.data(), rows, at / rows).found());
        }
}

TEST(NonFinite, FirstInRowOrderAndNoneInFiniteData) {
  // 3 x 3, column-major: an infinity at (2, 0) and a NaN at (0, 2), which
  // comes first in row order though later in storage.
  const double data[] = {1, 2, inf, 4, 5, 6, std::nan(""), 8, 9};
  const Cell cell = first_non_finite(data, 3, 3);
  EXPECT_EQ(cell.row, 0);
  EXPECT_EQ(cell.col, 2);
  const double finite[] = {-0.0, 1e308, -1e-308, 4.9e-324, 0, 7};
  EXPECT_FALSE(first_non_finite(finite, 2, 3).found());
  EXPECT_FALSE(first_non_finite(finite, 0, 3).found());
  EXPECT_FALSE(first_non_finite(finite, 2, 0).found());
}

TEST(Messages, PreparedMemoryMessageIsTheFormattedOne) {
  for (const char *module : {"QIR_TRAIN", "QIR_PERF", ""}) {
    MessageBuffer prepared;
    MessageBuffer formatted;
    std::fill_n(prepared, message_buffer_size, 'x');
    prepare_memory_message(prepared, module);
    fail(formatted, memory_message_format, module);
    EXPECT_STREQ(prepared, formatted);
  }
}

}  // namespace
}  // namespace qir
