// Argument tests shared by the entry points, and the seconds arithmetic.
#include "arguments.h"
#include "process_clock.h"

#include "qirhost/host.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace qir {
namespace {

TEST(Arguments, TruncationTowardZeroWithinInt32) {
  EXPECT_EQ(truncate_to_int(2.9), 2);
  EXPECT_EQ(truncate_to_int(0.9), 0);
  EXPECT_EQ(truncate_to_int(-0.9), 0);
  EXPECT_EQ(truncate_to_int(-1.7), -1);
  EXPECT_EQ(truncate_to_int(2147483647.9), 2147483647);
  EXPECT_EQ(truncate_to_int(-2147483648.5), -2147483647 - 1);
  EXPECT_FALSE(truncate_to_int(2147483648.0));
  EXPECT_FALSE(truncate_to_int(-2147483649.0));
  EXPECT_FALSE(truncate_to_int(std::nan("")));
  EXPECT_FALSE(truncate_to_int(std::numeric_limits<double>::infinity()));
  const double labels[] = {1.5, -3, 4e9};
  EXPECT_TRUE(all_truncate_to_int(labels, 2));
  EXPECT_FALSE(all_truncate_to_int(labels, 3));
}

TEST(Arguments, ScalarShapeNeedsTwoDimsAUnitSizeAndANumber) {
  EXPECT_TRUE(is_scalar_shaped(qirhost::make_row({5, 7, 9}).get()));
  EXPECT_TRUE(is_scalar_shaped(qirhost::make_array(mxLOGICAL_CLASS, {1, 1}, {1}).get()));
  EXPECT_TRUE(is_scalar_shaped(qirhost::make_array(mxINT32_CLASS, {3, 1}, {1, 2, 3}).get()));
  EXPECT_FALSE(is_scalar_shaped(qirhost::make_matrix(2, 2, {1, 2, 3, 4}).get()));
  EXPECT_FALSE(is_scalar_shaped(qirhost::make_array(mxDOUBLE_CLASS, {1, 1, 2}).get()));
  EXPECT_FALSE(is_scalar_shaped(qirhost::make_matrix(1, 0, {}).get()));
  EXPECT_FALSE(is_scalar_shaped(qirhost::make_matrix(0, 1, {}).get()));
  EXPECT_FALSE(is_scalar_shaped(qirhost::make_string("4").get()));
  EXPECT_FALSE(is_scalar_shaped(qirhost::make_array(mxCELL_CLASS, {1, 1}).get()));
}

TEST(Arguments, OnlyFullRealDoubleDataIsReadAsDoubles) {
  EXPECT_TRUE(is_full_real_double(qirhost::make_matrix(2, 1, {1, 2}).get()));
  EXPECT_FALSE(is_full_real_double(qirhost::make_array(mxSINGLE_CLASS, {2, 1}).get()));
  EXPECT_FALSE(is_full_real_double(qirhost::make_array(mxINT32_CLASS, {2, 1}).get()));
  EXPECT_FALSE(is_full_real_double(qirhost::make_array(mxLOGICAL_CLASS, {2, 1}).get()));
  EXPECT_FALSE(is_full_real_double(qirhost::make_array(mxDOUBLE_CLASS, {2, 1}, {1, 2}, {0, 1}).get()));
  EXPECT_FALSE(is_full_real_double(qirhost::make_array(mxDOUBLE_CLASS, {2, 1}, {1, 2}, {}, true).get()));
}

TEST(Arguments, CountsMustFitInt32) {
  EXPECT_TRUE(fits_counts(qirhost::make_matrix(3, 2, {1, 2, 3, 4, 5, 6}).get()));
  // Only the dimensions matter; the host need not hold the elements.
  EXPECT_FALSE(fits_counts(qirhost::make_array(mxCELL_CLASS, {std::size_t{1} << 31, 1}).get()));
}

TEST(ProcessClock, ElapsedSecondsAreDifferencesOfWholeSeconds) {
  EXPECT_EQ(elapsed_seconds(whole_seconds(900), whole_seconds(1100)), 1);
  EXPECT_EQ(elapsed_seconds(whole_seconds(100), whole_seconds(900)), 0);
  EXPECT_EQ(elapsed_seconds(whole_seconds(1999), whole_seconds(4000)), 3);
  const auto before = process_clock_ms();
  EXPECT_GE(process_clock_ms(), before);
}

}  // namespace
}  // namespace qir
