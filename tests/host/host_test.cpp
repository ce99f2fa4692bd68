#include "qirhost/host.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

// What a module polls between patterns (the host exports it).
extern "C" bool utIsInterruptPending(void);

namespace {

using qirhost::ArrayPtr;
using qirhost::CallOptions;
using qirhost::CallResult;
using qirhost::make_array;
using qirhost::run_call;
using qirhost::values_of;
using Dims = std::vector<std::size_t>;
using Values = std::vector<double>;

CallResult run_quietly(const std::function<void()> &body, const CallOptions &options = {}) {
  return run_call(0, [&](mxArray **) { body(); }, options);
}

TEST(AllocationTracking, ReportsAndReclaimsOnlyWhatIsStillHeld) {
  const std::size_t huge = std::numeric_limits<std::size_t>::max();
  const CallResult result = run_quietly([&] {
    EXPECT_EQ(mxCalloc(huge, 2), nullptr);
    EXPECT_EQ(mxCreateDoubleMatrix(huge, 2, mxREAL), nullptr);
    mxMalloc(10);
    mxCalloc(3, 4);
    mxFree(mxMalloc(100));
    mxFree(nullptr);
    mxCreateDoubleMatrix(2, 2, mxREAL);
    mxDestroyArray(mxCreateDoubleMatrix(3, 3, mxREAL));
  });
  EXPECT_EQ(result.allocation_requests, 7u);  // refused requests count too
  EXPECT_EQ(result.blocks_left, 2u);
  EXPECT_EQ(result.bytes_left, 22u);
  EXPECT_EQ(result.arrays_left, 1u);
}

TEST(AllocationTracking, BlocksAreZeroFilledDistinctAndResizable) {
  const CallResult result = run_quietly([] {
    auto *zeros = static_cast<unsigned char *>(mxCalloc(64, 8));
    ASSERT_NE(zeros, nullptr);
    EXPECT_EQ(std::vector<unsigned char>(zeros, zeros + 512), std::vector<unsigned char>(512));
    void *empty = mxMalloc(0);
    EXPECT_NE(empty, nullptr);
    EXPECT_NE(empty, mxCalloc(0, 8));
    auto *text = static_cast<char *>(mxRealloc(nullptr, 4));
    std::memcpy(text, "abc", 4);
    text = static_cast<char *>(mxRealloc(text, 4096));
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "abc");
    mxFree(zeros);
  });
  EXPECT_EQ(result.blocks_left, 3u);  // two empty blocks and the grown one
  EXPECT_EQ(result.bytes_left, 4096u);
}

TEST(AllocationTracking, MemoryFromOutsideCallsIsTheCallers) {
  void *block = mxRealloc(mxMalloc(16), 32);
  mxArray *array = mxCreateDoubleMatrix(2, 2, mxREAL);
  ASSERT_TRUE(block != nullptr && array != nullptr);
  const CallResult result = run_quietly([&] {
    mxFree(block);
    mxDestroyArray(array);
  });
  EXPECT_EQ(result.blocks_left + result.arrays_left, 0u);
}

// One allocating request of each kind; records which came back null.
std::vector<bool> allocate_everything() {
  std::vector<bool> failed;
  auto note = [&](auto *allocated) {
    failed.push_back(allocated == nullptr);
    return allocated;
  };
  void *block = note(mxMalloc(8));
  void *zeros = note(mxCalloc(2, 8));
  if (void *grown = note(mxRealloc(block, 64))) block = grown;
  mxArray *numeric = note(mxCreateNumericArray(0, nullptr, mxINT32_CLASS, mxREAL));
  mxArray *matrix = note(mxCreateDoubleMatrix(1, 3, mxREAL));
  mxFree(block);
  mxFree(zeros);
  mxDestroyArray(numeric);
  mxDestroyArray(matrix);
  return failed;
}

TEST(FaultInjection, SweepFailsExactlyTheChosenRequest) {
  std::vector<bool> failed;
  const CallResult clean = run_quietly([&] { failed = allocate_everything(); });
  ASSERT_EQ(clean.allocation_requests, 5u);
  EXPECT_EQ(failed, std::vector<bool>(5, false));
  for (std::size_t k = 1; k <= clean.allocation_requests; ++k) {
    CallOptions options;
    options.fail_allocation = k;
    const CallResult result = run_quietly([&] { failed = allocate_everything(); }, options);
    std::vector<bool> expected(5, false);
    expected[k - 1] = true;
    EXPECT_EQ(failed, expected) << "k=" << k;
    EXPECT_EQ(result.blocks_left + result.arrays_left, 0u) << "k=" << k;
  }
}

TEST(FaultInjection, FailedReallocKeepsTheOldBlock) {
  CallOptions options;
  options.fail_allocation = 2;
  const CallResult result = run_quietly(
      [] {
        auto *block = static_cast<char *>(mxMalloc(8));
        std::memcpy(block, "kept", 5);
        EXPECT_EQ(mxRealloc(block, 1 << 20), nullptr);
        EXPECT_STREQ(block, "kept");
      },
      options);
  EXPECT_EQ(result.blocks_left, 1u);
  EXPECT_EQ(result.bytes_left, 8u);
}

TEST(ErrorBoundary, ErrorEndsTheCallDropsOutputsAndReclaims) {
  bool ran_past_error = false;
  const CallResult result = run_call(2, [&](mxArray **plhs) {
    mexPrintf("before\n");
    plhs[0] = mxCreateDoubleMatrix(1, 1, mxREAL);
    plhs[1] = mxCreateDoubleMatrix(1, 1, mxREAL);
    mxMalloc(5);
    mexErrMsgTxt("bad input");
    ran_past_error = true;
  });
  EXPECT_FALSE(ran_past_error);
  EXPECT_EQ(result.error, "bad input");
  ASSERT_EQ(result.outputs.size(), 2u);
  EXPECT_TRUE(result.outputs[0] == nullptr && result.outputs[1] == nullptr);
  EXPECT_EQ(result.arrays_left, 2u);
  EXPECT_EQ(result.blocks_left, 1u);
  EXPECT_EQ(result.console, "before\n");
}

TEST(ErrorBoundary, ModuleCatchClausesDoNotSwallowTheError) {
  bool swallowed = false;
  const CallResult result = run_quietly([&] {
    try {
      mexErrMsgTxt("must escape");
    } catch (const std::bad_alloc &) {
      swallowed = true;
    } catch (const std::exception &) {
      swallowed = true;
    }
  });
  EXPECT_FALSE(swallowed);
  EXPECT_EQ(result.error, "must escape");
}

TEST(ErrorBoundary, ForeignExceptionsPropagateAndTheNextCallIsFresh) {
  const auto faulty = [](mxArray **plhs) {
    plhs[0] = mxCreateDoubleMatrix(1, 1, mxREAL);
    mxMalloc(8);
    throw std::logic_error("module bug");
  };
  EXPECT_THROW(run_call(1, faulty), std::logic_error);
  EXPECT_EQ(run_quietly([] {}).allocation_requests, 0u);
  // No call is active any more: the error reaches the caller directly.
  EXPECT_THROW(mexErrMsgTxt("outside"), std::runtime_error);
}

TEST(Outputs, ReturnedArraysBecomeTheCallersAndInputsAreCopied) {
  const ArrayPtr input = qirhost::make_row({1, 2, 3});
  const CallResult result = run_call(3, [&](mxArray **plhs) {
    plhs[0] = mxCreateDoubleMatrix(1, 1, mxREAL);
    *mxGetPr(plhs[0]) = 7;
    plhs[2] = const_cast<mxArray *>(input.get());
  });
  ASSERT_EQ(result.outputs.size(), 3u);
  EXPECT_EQ(values_of(result.outputs[0].get()), Values{7});
  EXPECT_EQ(result.outputs[1], nullptr);
  EXPECT_NE(result.outputs[2].get(), input.get());
  EXPECT_EQ(values_of(result.outputs[2].get()), values_of(input.get()));
  EXPECT_EQ(result.arrays_left, 0u);
  // MATLAB lets a module fill the first slot even when nothing is requested.
  const auto fill_first = [](mxArray **plhs) { plhs[0] = mxCreateDoubleMatrix(1, 1, mxREAL); };
  EXPECT_EQ(run_call(0, fill_first).arrays_left, 0u);
}

// A borrowed matrix is read where its lender keeps it; returned from a
// call it becomes an array of the caller's own, which outlives the lender.
TEST(Outputs, BorrowedInputsAreReadInPlaceAndCopiedWhenReturned) {
  auto lent = std::make_unique<Values>(Values{1, 2, 3, 4, 5, 6});
  const ArrayPtr input = qirhost::borrow_matrix(2, 3, lent->data());
  EXPECT_EQ(mxGetPr(input.get()), lent->data());
  EXPECT_EQ(qirhost::dims_of(input.get()), (Dims{2, 3}));
  EXPECT_EQ(mxGetScalar(input.get()), 1.0);
  CallResult result = run_call(1, [&](mxArray **plhs) {
    EXPECT_EQ(mxGetPr(input.get())[5], 6.0);
    plhs[0] = const_cast<mxArray *>(input.get());
  });
  (*lent)[5] = -1;
  lent.reset();
  ASSERT_EQ(result.outputs.size(), 1u);
  EXPECT_EQ(values_of(result.outputs[0].get()), (Values{1, 2, 3, 4, 5, 6}));
  EXPECT_TRUE(values_of(qirhost::borrow_matrix(0, 3, nullptr).get()).empty());
}

// A Ctrl-C that lands between two calls of one piece of work (an
// ensemble's members) must still stop the next one.
TEST(Interrupt, ARequestStandsUntilTheCallerClearsIt) {
  qirhost::InterruptFlag flag;
  CallOptions options;
  options.interrupt = &flag;
  bool pending = false;
  const auto poll = [&] { pending = utIsInterruptPending(); };
  run_quietly(poll, options);
  EXPECT_FALSE(pending);
  flag.request();
  for (int call = 0; call < 2; ++call) {
    run_quietly(poll, options);
    EXPECT_TRUE(pending) << "call " << call;
  }
  flag.clear();
  run_quietly(poll, options);
  EXPECT_FALSE(pending);
}

TEST(Console, PrintsAndWarningsAreCapturedAndForwarded) {
  const std::string long_text(5000, 'x');
  std::vector<std::string> printed;
  std::vector<std::string> warned;
  CallOptions options;
  options.on_print = [&](std::string_view text) { printed.emplace_back(text); };
  options.on_warning = [&](std::string_view text) { warned.emplace_back(text); };
  int length = 0;
  const CallResult result = run_quietly(
      [&] {
        length = mexPrintf("%s|%d", long_text.c_str(), 42);
        mexWarnMsgTxt("first");
        mexPrintf("%.2f\n", 1.5);
        mexWarnMsgTxt("second");
      },
      options);
  EXPECT_EQ(length, 5003);
  EXPECT_EQ(printed, (std::vector<std::string>{long_text + "|42", "1.50\n"}));
  EXPECT_EQ(result.console, printed[0] + printed[1]);
  EXPECT_EQ(result.warnings, (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(warned, result.warnings);
}

TEST(Flops, ReportsAreKeptInOrderSummedAndCountedProcessWide) {
  const std::int64_t before = qirhost::flop_counter();
  const CallResult result = run_quietly([] {
    mexAddFlops(5);
    mexAddFlops(0);
    mexAddFlops(12);
  });
  mexAddFlops(3);
  EXPECT_EQ(result.flop_reports, (std::vector<std::int64_t>{5, 0, 12}));
  EXPECT_EQ(result.flops, 17);
  EXPECT_EQ(qirhost::flop_counter() - before, 20);
}

// Each call keeps its own amounts whether it runs alone, beside calls on
// other threads or inside another call; amounts from a thread outside any
// call go to the process total only.
TEST(Flops, OverlappingAndNestedCallsKeepTheirOwnAmounts) {
  const std::int64_t before = qirhost::flop_counter();
  std::mutex lock;
  std::condition_variable turn;
  int started = 0;
  const auto report_while_both_run = [&](int amount) {
    return run_quietly([&] {
      mexAddFlops(amount);
      std::unique_lock<std::mutex> hold(lock);
      ++started;
      turn.notify_all();
      turn.wait(hold, [&] { return started == 2; });
      hold.unlock();
      mexAddFlops(amount);
    });
  };
  CallResult first, second;
  std::thread a([&] { first = report_while_both_run(1); });
  std::thread b([&] { second = report_while_both_run(100); });
  a.join();
  b.join();
  EXPECT_EQ(first.flop_reports, (std::vector<std::int64_t>{1, 1}));
  EXPECT_EQ(second.flop_reports, (std::vector<std::int64_t>{100, 100}));

  CallResult inner;
  const CallResult outer = run_quietly([&] {
    mexAddFlops(7);
    std::thread outside([] { mexAddFlops(1000); });
    outside.join();
    inner = run_quietly([] { mexAddFlops(30); });
    mexAddFlops(8);
  });
  EXPECT_EQ(outer.flop_reports, (std::vector<std::int64_t>{7, 8}));
  EXPECT_EQ(outer.flops, 15);
  EXPECT_EQ(inner.flops, 30);
  EXPECT_EQ(qirhost::flop_counter() - before, 2 + 200 + 15 + 30 + 1000);
}

TEST(Arrays, ElementsAreStoredInTheClassOwnType) {
  const ArrayPtr int16s = make_array(mxINT16_CLASS, {1, 3}, {-2, 300, 7});
  const auto *raw16 = reinterpret_cast<const std::int16_t *>(mxGetPr(int16s.get()));
  EXPECT_EQ(std::vector<std::int16_t>(raw16, raw16 + 3), (std::vector<std::int16_t>{-2, 300, 7}));
  const ArrayPtr text = qirhost::make_string("hi");
  const auto *chars = reinterpret_cast<const char16_t *>(mxGetPr(text.get()));
  EXPECT_EQ(std::u16string(chars, 2), u"hi");
  const ArrayPtr singles = make_array(mxSINGLE_CLASS, {2, 1}, {0.1, 2});
  EXPECT_EQ(values_of(singles.get())[0], static_cast<double>(0.1f));
}

TEST(Arrays, ConversionRoundsAndSaturates) {
  const Values in{2.5, -2.5, 300, -300, std::nan("")};
  EXPECT_EQ(values_of(make_array(mxINT8_CLASS, {1, 5}, in).get()), (Values{3, -3, 127, -128, 0}));
  EXPECT_EQ(values_of(make_array(mxUINT8_CLASS, {1, 5}, in).get()), (Values{3, 0, 255, 0, 0}));
  EXPECT_EQ(values_of(make_array(mxLOGICAL_CLASS, {1, 3}, {0, 7, -1}).get()), (Values{0, 1, 1}));
}

TEST(Arrays, ClassPredicatesAndScalars) {
  const ArrayPtr logical = make_array(mxLOGICAL_CLASS, {1, 1}, {1});
  EXPECT_TRUE(mxIsLogical(logical.get()) && !mxIsNumeric(logical.get()));
  EXPECT_EQ(mxGetScalar(logical.get()), 1.0);
  const ArrayPtr cell = make_array(mxCELL_CLASS, {2, 2});
  EXPECT_FALSE(mxIsNumeric(cell.get()));
  EXPECT_EQ(mxGetNumberOfElements(cell.get()), 4u);
  EXPECT_EQ(mxGetScalar(cell.get()), 0.0);
  const ArrayPtr uint32s = make_array(mxUINT32_CLASS, {1, 1}, {9});
  EXPECT_TRUE(mxIsNumeric(uint32s.get()) && !mxIsDouble(uint32s.get()));
  EXPECT_EQ(mxGetScalar(uint32s.get()), 9.0);
  EXPECT_TRUE(mxIsSparse(make_array(mxDOUBLE_CLASS, {3, 3}, {}, {}, true).get()));
  EXPECT_FALSE(mxIsSparse(qirhost::make_scalar(1).get()));
  const ArrayPtr empty = qirhost::make_matrix(0, 3, {});
  EXPECT_TRUE(mxIsEmpty(empty.get()));
  EXPECT_EQ(mxGetScalar(empty.get()), 0.0);
  const ArrayPtr complex = make_array(mxDOUBLE_CLASS, {1, 2}, {1, 2}, {3, 4});
  EXPECT_TRUE(mxIsComplex(complex.get()));
  EXPECT_EQ(values_of(complex.get()), (Values{1, 2}));
}

TEST(Arrays, DimensionsFollowMatlabRules) {
  const mwSize trailing[] = {2, 3, 1, 1};
  const mwSize middle[] = {2, 1, 4, 1};
  const mwSize single[] = {5};
  run_quietly([&] {
    EXPECT_EQ(qirhost::dims_of(mxCreateNumericArray(4, trailing, mxDOUBLE_CLASS, mxREAL)),
              (Dims{2, 3}));
    mxArray *uint16s = mxCreateNumericArray(4, middle, mxUINT16_CLASS, mxREAL);
    EXPECT_EQ(mxGetNumberOfDimensions(uint16s), 3u);
    EXPECT_EQ(mxGetM(uint16s), 2u);
    EXPECT_EQ(mxGetN(uint16s), 4u);
    EXPECT_EQ(values_of(uint16s), Values(8, 0.0));
    mxArray *column = mxCreateNumericArray(1, single, mxDOUBLE_CLASS, mxCOMPLEX);
    EXPECT_EQ(qirhost::dims_of(column), (Dims{5, 1}));
    EXPECT_TRUE(mxIsComplex(column));
  });
}

TEST(Arrays, HelpersLayOutValuesColumnMajor) {
  const ArrayPtr matrix = qirhost::make_rows({{1, 2, 3}, {4, 5, 6}});
  EXPECT_EQ(qirhost::dims_of(matrix.get()), (Dims{2, 3}));
  EXPECT_EQ(values_of(matrix.get()), (Values{1, 4, 2, 5, 3, 6}));
  EXPECT_EQ(qirhost::dims_of(qirhost::make_column({1, 2}).get()), (Dims{2, 1}));
  EXPECT_THROW(qirhost::make_rows({{1, 2}, {3}}), std::invalid_argument);
  EXPECT_THROW(qirhost::make_matrix(2, 2, {1, 2, 3}), std::invalid_argument);
  EXPECT_THROW(make_array(mxINT8_CLASS, {1, 1}, {1, 2}), std::invalid_argument);
}

double counter_after_call(const qirhost::Module &module) {
  const CallResult result = module.call(1, {});
  EXPECT_FALSE(result.error.has_value());
  return mxGetScalar(result.outputs.at(0).get());
}

TEST(Modules, SeparateFilesKeepSeparateState) {
  const qirhost::Module a(PROBE_A_PATH);
  const qirhost::Module b(PROBE_B_PATH);
  EXPECT_EQ(counter_after_call(a), 1);
  EXPECT_EQ(counter_after_call(a), 2);
  EXPECT_EQ(counter_after_call(b), 1);
  EXPECT_EQ(counter_after_call(a), 3);
}

TEST(Modules, ReloadStartsFromFreshState) {
  {
    const qirhost::Module probe(PROBE_A_PATH);
    counter_after_call(probe);
    EXPECT_EQ(counter_after_call(probe), 2);
  }
  const qirhost::Module reloaded(PROBE_A_PATH);
  EXPECT_EQ(counter_after_call(reloaded), 1);
}

TEST(Modules, ServicesWorkAcrossTheModuleBoundary) {
  const qirhost::Module probe(PROBE_B_PATH);
  const ArrayPtr untidy = qirhost::make_scalar(1);
  const CallResult result = probe.call(1, {untidy.get()});
  EXPECT_EQ(result.console, "probe call 1\n");
  EXPECT_EQ(result.warnings, std::vector<std::string>{"probe leaves memory behind"});
  EXPECT_EQ(result.flops, 1);
  EXPECT_EQ(result.bytes_left, 32u);
  EXPECT_EQ(result.arrays_left, 1u);
  EXPECT_EQ(mxGetScalar(result.outputs.at(0).get()), 1.0);

  const ArrayPtr fail = qirhost::make_scalar(2);
  const CallResult failed = probe.call(1, {fail.get()});
  EXPECT_EQ(failed.error, "probe failed as asked");
  EXPECT_EQ(failed.outputs.at(0), nullptr);
  EXPECT_EQ(failed.arrays_left, 1u);
  EXPECT_EQ(failed.bytes_left, 32u);
}

// MATLAB never passes a null input and no module tests for one: the host
// refuses it before the module reads through it.
TEST(Modules, NullInputIsRefusedBeforeTheModuleRuns) {
  const qirhost::Module probe(PROBE_B_PATH);
  const ArrayPtr one = qirhost::make_scalar(1);
  try {
    probe.call(1, {one.get(), nullptr});
    FAIL() << "a null input was passed on";
  } catch (const std::invalid_argument &error) {
    EXPECT_NE(std::string(error.what()).find("input 2"), std::string::npos) << error.what();
    EXPECT_NE(std::string(error.what()).find("null"), std::string::npos) << error.what();
  }
  // The refusal leaves the module usable.
  EXPECT_EQ(probe.call(1, {one.get()}).console, "probe call 1\n");
}

// How many calls were inside the module at once, at most, when two threads
// each call their own Module object (`first` and `second`) `rounds` times.
// Every call lingers in its console callback, so overlapping calls meet.
int most_calls_at_once(const qirhost::Module &first, const qirhost::Module &second) {
  std::atomic<int> inside{0};
  std::atomic<int> most{0};
  CallOptions options;
  options.on_print = [&](std::string_view) {
    const int now = ++inside;
    for (int seen = most.load(); now > seen && !most.compare_exchange_weak(seen, now);) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    --inside;
  };
  auto calls = [&](const qirhost::Module &module) {
    for (int round = 0; round < 8; ++round) module.call(1, {}, options);
  };
  std::thread a(calls, std::cref(first));
  std::thread b(calls, std::cref(second));
  a.join();
  b.join();
  return most.load();
}

// Loading one file twice shares one copy of its module-wide state, so the
// two objects must take turns; separate files must not wait for each other.
TEST(Modules, OneFileLoadedTwiceIsCalledOneCallAtATime) {
  const qirhost::Module probe(PROBE_A_PATH);
  const qirhost::Module again(PROBE_A_PATH);
  EXPECT_EQ(most_calls_at_once(probe, again), 1);
  EXPECT_EQ(counter_after_call(probe), 17);
}

TEST(Modules, SeparateFilesAreCalledInParallel) {
  const qirhost::Module a(PROBE_A_PATH);
  const qirhost::Module b(PROBE_B_PATH);
  // Each call waits in its callback until the other file's call is inside
  // too: if the calls were serialised, neither would ever see the other.
  std::mutex lock;
  std::condition_variable changed;
  int inside = 0;
  bool met = true;
  CallOptions options;
  options.on_print = [&](std::string_view) {
    std::unique_lock<std::mutex> held(lock);
    ++inside;
    changed.notify_all();
    if (!changed.wait_for(held, std::chrono::seconds(5), [&] { return inside == 2; })) met = false;
  };
  std::thread first([&] { a.call(1, {}, options); });
  std::thread second([&] { b.call(1, {}, options); });
  first.join();
  second.join();
  EXPECT_TRUE(met);
}

std::string load_error(const std::string &path) {
  try {
    qirhost::Module module(path);
  } catch (const std::runtime_error &error) {
    return error.what();
  }
  return "loaded";
}

TEST(Modules, LoadFailuresNameTheCause) {
  EXPECT_NE(load_error("/nonexistent/probe.so").find("/nonexistent/probe.so"), std::string::npos);
  EXPECT_NE(load_error(QIRHOST_PATH).find("mexFunction"), std::string::npos);
}

}  // namespace
