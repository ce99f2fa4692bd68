// Memory refused at each request in turn: the call ends with the memory
// message and leaves no block and no array behind.
#include "train_test_support.h"

namespace train_test {
namespace {

using MemoryTest = TrainModuleTest;

TEST_F(MemoryTest, EveryRefusedRequestEndsCleanlyWithTheMemoryMessage) {
  const TrainCase c = with(TrainCase{}, OFLAG, 1);
  // Patterns: row array + the rows' one block; PLabels; the node list's
  // first slot and its growth; row block, label block, 2 rows; Templates,
  // NLabels, the count's double and its array.
  const qirhost::CallResult full = trained(c);
  ASSERT_EQ(full.allocation_requests, 2u + 1u + 2u + 4u + 4u);
  const std::size_t first_export_request = 6;
  for (std::size_t k = 1; k <= full.allocation_requests; ++k) {
    SCOPED_TRACE(k);
    qirhost::CallOptions options;
    options.fail_allocation = k;
    const qirhost::CallResult result = run(c, options);
    EXPECT_EQ(result.error.value_or(""), "QIR_TRAIN: Not enough memory available; unable to run!");
    for (const ArrayPtr &output : result.outputs) EXPECT_FALSE(output);
    EXPECT_TRUE(result.warnings.empty());
    EXPECT_EQ(result.blocks_left, 0u);
    EXPECT_EQ(result.arrays_left, 0u);
    EXPECT_EQ(result.console.find("QIR training converged") != std::string::npos,
              k >= first_export_request);
  }
  EXPECT_EQ(qirhost::values_of(trained(c).outputs[1].get()), (std::vector<double>{1, 2}));
}

}  // namespace
}  // namespace train_test
