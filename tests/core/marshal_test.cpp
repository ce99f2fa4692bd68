// Conversions between host arrays and module arrays: layout, warnings and
// who owns what afterwards, read from the host's allocation tracking.
#include "marshal.h"

#include "qirhost/host.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

namespace qir {
namespace {

using qirhost::dims_of;
using qirhost::run_call;
using qirhost::values_of;

TEST(MarshalIn, MatrixIsTransposedIntoRows) {
  const auto host = qirhost::make_matrix(2, 3, {1, 4, 2, 5, 3, 6});
  const auto result = run_call(1, [&](mxArray **plhs) {
    std::int32_t rows = -1, cols = -1;
    auto matrix = mxArray2D_to_cArray2D(rows, cols, host.get());
    ASSERT_TRUE(matrix.has_value());
    EXPECT_EQ(rows, 2);
    EXPECT_EQ(cols, 3);
    EXPECT_EQ(std::vector<double>(matrix->data()[0], matrix->data()[0] + 3),
              (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(std::vector<double>(matrix->data()[1], matrix->data()[1] + 3),
              (std::vector<double>{4, 5, 6}));
    plhs[0] = cArray2D_to_mxArray2D(rows, cols, *matrix);
    EXPECT_EQ(matrix->rows(), 0);  // consumed
  });
  ASSERT_FALSE(result.error);
  EXPECT_EQ(dims_of(result.outputs[0].get()), (std::vector<std::size_t>{2, 3}));
  EXPECT_EQ(values_of(result.outputs[0].get()), (std::vector<double>{1, 4, 2, 5, 3, 6}));
  EXPECT_EQ(result.blocks_left, 0u);  // rows and row array released
}

// The copy goes four rows at a time up to 64 columns, in tiles of eight
// rows by 64 columns beyond, then row by row: every element of every shape
// lands in its place with its bits (NaN payloads, -0), on shapes at and
// around the steps' and tiles' edges.
TEST(MarshalIn, EveryShapeIsTransposedIntoRows) {
  std::vector<std::size_t> row_counts, column_counts{63, 64, 65, 129};
  for (std::size_t n = 1; n <= 17; ++n) row_counts.push_back(n);
  for (std::size_t n = 1; n <= 9; ++n) column_counts.push_back(n);
  for (std::size_t rows : row_counts)
    for (std::size_t cols : column_counts) {
      std::vector<double> column_major(rows * cols);
      for (std::size_t k = 0; k < column_major.size(); ++k)
        column_major[k] = static_cast<double>(k);
      // Odd values where tiles meet: a NaN with a payload, -0, an infinity.
      std::uint64_t payload = 0x7FF8000000012345;
      std::memcpy(&column_major[column_major.size() / 2], &payload, sizeof payload);
      column_major.back() = -0.0;
      column_major.front() = -INFINITY;
      const auto host = qirhost::make_matrix(rows, cols, column_major);
      run_call(0, [&](mxArray **) {
        std::int32_t r = -1, c = -1;
        auto matrix = mxArray2D_to_cArray2D(r, c, host.get());
        ASSERT_TRUE(matrix.has_value());
        ASSERT_EQ(static_cast<std::size_t>(r), rows);
        ASSERT_EQ(static_cast<std::size_t>(c), cols);
        for (std::size_t i = 0; i < rows; ++i)
          for (std::size_t j = 0; j < cols; ++j)
            ASSERT_EQ(std::memcmp(&(*matrix)[static_cast<std::int32_t>(i)][j],
                                  &column_major[j * rows + i], sizeof(double)),
                      0)
                << rows << " x " << cols << " at " << i << ", " << j;
      });
    }
}

// Blocks left unset ask the host as zeroed ones do: nothing for no
// elements, a refusal for a size that overflows, and the rows of an unset
// matrix in one block.
TEST(HostMemory, UnsetBlocksAskTheHostAsZeroedOnesDo) {
  const auto result = run_call(0, [&](mxArray **) {
    EXPECT_FALSE(host_malloc<double>(0));
    EXPECT_THROW(host_malloc<double>(static_cast<std::size_t>(-1) / 4), std::bad_alloc);
    HostRows rows(3, 2, false);
    ASSERT_EQ(rows.rows(), 3);
    EXPECT_EQ(rows[1], rows[0] + 2);
    EXPECT_EQ(rows[2], rows[0] + 4);
    HostRows none(4, 0, false);
    EXPECT_EQ(none[0], nullptr);
  });
  EXPECT_EQ(result.allocation_requests, 3u);  // two row arrays, one block of rows, no more
  EXPECT_EQ(result.blocks_left, 0u);
}

TEST(MarshalIn, RowsAndColumnsBothGiveVectors) {
  for (const auto &host : {qirhost::make_row({1, 2, 3, 4}), qirhost::make_column({1, 2, 3, 4})}) {
    run_call(0, [&](mxArray **) {
      std::int32_t n = -1;
      auto vector = mxArray1D_to_cArray1D(n, host.get());
      ASSERT_TRUE(vector.has_value());
      EXPECT_EQ(n, 4);
      EXPECT_EQ(std::vector<double>(vector->data.get(), vector->data.get() + 4),
                (std::vector<double>{1, 2, 3, 4}));
    });
  }
  const auto scalar = qirhost::make_scalar(9);
  run_call(0, [&](mxArray **) {
    std::int32_t n = -1;
    EXPECT_TRUE(mxArray1D_to_cArray1D(n, scalar.get()).has_value());
    EXPECT_EQ(n, 1);
  });
}

TEST(MarshalIn, UnsuitableShapesWarnAndGiveNothing) {
  const auto cube = qirhost::make_array(mxDOUBLE_CLASS, {2, 2, 2});
  const auto matrix = qirhost::make_matrix(2, 3, {1, 2, 3, 4, 5, 6});
  std::int32_t n = -1, rows = -1, cols = -1;
  auto result = run_call(0, [&](mxArray **) {
    EXPECT_FALSE(mxArray1D_to_cArray1D(n, cube.get()).has_value());
    EXPECT_EQ(n, 0);
    n = -1;
    EXPECT_FALSE(mxArray1D_to_cArray1D(n, matrix.get()).has_value());
    EXPECT_EQ(n, 0);
    EXPECT_FALSE(mxArray2D_to_cArray2D(rows, cols, cube.get()).has_value());
  });
  EXPECT_EQ(rows, 0);
  EXPECT_EQ(cols, 0);
  EXPECT_EQ(result.warnings,
            (std::vector<std::string>{
                "mxArray1D_to_cArray1D: Argument passed was not appropriate!",
                "mxArray1D_to_cArray1D: mxArray argument passed was not appropriate!",
                "mxArray2D_to_cArray2D: mxArray argument passed was not appropriate!"}));
  EXPECT_EQ(result.allocation_requests, 0u);
}

TEST(MarshalIn, RefusedMemoryThrowsAfterWritingSizesAndLeavesNothing) {
  const auto host = qirhost::make_matrix(3, 2, {1, 2, 3, 4, 5, 6});
  for (std::size_t k = 1; k <= 2; ++k) {  // row array, then the rows' one block
    qirhost::CallOptions options;
    options.fail_allocation = k;
    std::int32_t rows = -1, cols = -1;
    const auto result = run_call(0, [&](mxArray **) {
      EXPECT_THROW(mxArray2D_to_cArray2D(rows, cols, host.get()), std::bad_alloc);
    }, options);
    EXPECT_EQ(rows, 3);
    EXPECT_EQ(cols, 2);
    EXPECT_EQ(result.blocks_left, 0u) << "request " << k;
    EXPECT_TRUE(result.warnings.empty());
  }
}

TEST(MarshalOut, VectorBecomesColumnAndIsReleasedOnlyOnSuccess) {
  const auto make_vector = [](std::int32_t n) {
    HostVector vector{host_calloc<double>(n), n};
    for (std::int32_t k = 0; k < n; ++k) vector.data[k] = k + 1.0;
    return vector;
  };
  auto ok = run_call(1, [&](mxArray **plhs) {
    HostVector vector = make_vector(5);
    plhs[0] = cArray1D_to_mxArray1D(5, vector);
    EXPECT_EQ(vector.data, nullptr);
  });
  EXPECT_EQ(dims_of(ok.outputs[0].get()), (std::vector<std::size_t>{5, 1}));
  EXPECT_EQ(values_of(ok.outputs[0].get()), (std::vector<double>{1, 2, 3, 4, 5}));
  EXPECT_EQ(ok.blocks_left, 0u);

  qirhost::CallOptions fail_create;
  fail_create.fail_allocation = 2;  // the vector is request 1
  run_call(0, [&](mxArray **) {
    HostVector vector = make_vector(1);
    EXPECT_THROW(cArray1D_to_mxArray1D(1, vector), std::bad_alloc);
    EXPECT_NE(vector.data, nullptr);  // still the caller's
    EXPECT_EQ(vector.data[0], 1.0);
  }, fail_create);
}

TEST(MarshalOut, FailedMatrixCreationKeepsRows) {
  qirhost::CallOptions fail_create;
  fail_create.fail_allocation = 3;  // row array and the rows' block come first
  run_call(0, [&](mxArray **) {
    HostRows rows(2, 3);
    EXPECT_THROW(cArray2D_to_mxArray2D(2, 3, rows), std::bad_alloc);
    EXPECT_EQ(rows.rows(), 2);
    EXPECT_NE(rows[1], nullptr);
  }, fail_create);
}

TEST(MarshalOut, EmptyArraysPassThroughWithoutAskingForMemory) {
  const auto empty = qirhost::make_matrix(0, 5, {});
  const auto result = run_call(2, [&](mxArray **plhs) {
    std::int32_t rows = -1, cols = -1;
    auto matrix = mxArray2D_to_cArray2D(rows, cols, empty.get());
    ASSERT_TRUE(matrix.has_value());
    plhs[0] = cArray2D_to_mxArray2D(rows, cols, *matrix);
    HostVector none;
    plhs[1] = cArray1D_to_mxArray1D(0, none);
  });
  ASSERT_FALSE(result.error);
  EXPECT_EQ(dims_of(result.outputs[0].get()), (std::vector<std::size_t>{0, 5}));
  EXPECT_EQ(dims_of(result.outputs[1].get()), (std::vector<std::size_t>{0, 1}));
  EXPECT_EQ(result.allocation_requests, 2u);  // only the two host arrays
}

}  // namespace
}  // namespace qir
