// Helpers shared by the suites that call the modules through the embedded
// host.
#pragma once

#include "qirhost/host.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace qirtest {

// The seconds a call reports depend on the machine (a whole-second
// boundary may fall inside even a short call; sanitizer builds are slow):
// every " in N seconds\n" reads " in 0 seconds\n".
inline std::string steady(std::string console) {
  const std::string lead = " in ", tail = " seconds\n";
  for (std::size_t at = console.find(lead); at != std::string::npos;
       at = console.find(lead, at + 1)) {
    std::size_t end = at + lead.size();
    while (end < console.size() && console[end] >= '0' && console[end] <= '9') ++end;
    if (end > at + lead.size() && console.compare(end, tail.size(), tail) == 0)
      console.replace(at + lead.size(), end - at - lead.size(), "0");
  }
  return console;
}

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
  EXPECT_EQ(steady(fast.console), steady(plain.console));
  EXPECT_EQ(fast.flops, plain.flops);
}

// Runs a test once per match kernel, forced through the environment.
class KernelTest : public ::testing::TestWithParam<const char *> {
 protected:
  void SetUp() override { setenv("QIR_MATCH_KERNEL", GetParam(), 1); }
  void TearDown() override { unsetenv("QIR_MATCH_KERNEL"); }
};

}  // namespace qirtest
