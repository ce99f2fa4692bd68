// Helpers shared by the suites that call the modules through the embedded
// host.
#pragma once

#include "console_text.h"
#include "node_block.h"
#include "qirhost/host.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace qirtest {

// Same error, outputs, console text and host operation total.
inline void expect_same_call(const qirhost::CallResult &fast, const qirhost::CallResult &plain) {
  ASSERT_EQ(fast.error, plain.error);
  ASSERT_EQ(fast.outputs.size(), plain.outputs.size());
  for (std::size_t k = 0; k < plain.outputs.size(); ++k) {
    ASSERT_EQ(fast.outputs[k] == nullptr, plain.outputs[k] == nullptr) << "output " << k;
    if (!plain.outputs[k]) continue;
    EXPECT_EQ(qirhost::dims_of(fast.outputs[k].get()), qirhost::dims_of(plain.outputs[k].get()));
    EXPECT_EQ(qirhost::values_of(fast.outputs[k].get()), qirhost::values_of(plain.outputs[k].get()))
        << "output " << k;
  }
  EXPECT_EQ(first_difference(steady(fast.console), steady(plain.console)), "");
  EXPECT_EQ(fast.flops, plain.flops);
}

// Runs a test once per match kernel, forced through the environment.
// A kernel this processor lacks would fall back to the best one, whose own
// instance already runs the same calls: skipped rather than run twice.
class KernelTest : public ::testing::TestWithParam<const char *> {
 protected:
  void SetUp() override {
    bool runs_here = false;
    for (qir::MatchKernel kernel : qir::all_match_kernels)
      runs_here |= std::string(qir::match_kernel_name(kernel)) == GetParam() &&
                   qir::match_kernel_supported(kernel);
    if (!runs_here) GTEST_SKIP() << GetParam() << " does not run on this processor";
    setenv("QIR_MATCH_KERNEL", GetParam(), 1);
  }
  void TearDown() override { unsetenv("QIR_MATCH_KERNEL"); }
};

}  // namespace qirtest
