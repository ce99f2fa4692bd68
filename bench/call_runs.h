// Benchmarks of the classification call itself: worker threads, the cost
// of a tiny call, and the memory a large call takes.
#pragma once

#include <cstdint>
#include <string>

namespace qirbench {

// Workload (a) with QIR_THREADS = 1 … max(2, processors), pruning off and
// on; each against one thread, identity checked.
void threads(const std::string &perf_path, std::int32_t patterns, std::int32_t nodes,
             std::int32_t features, std::int32_t repeats);

// Microseconds per call of 10 patterns x 10 nodes, M = 16, against a call
// that the module refuses at once (the host's own cost).
void tiny(const std::string &perf_path, const std::string &compare_path = "");

// The tiny call's inputs as templates.csv, nlabels.csv and patterns.csv in
// `dir`, for bench/octave_tiny_call.m. False when a file cannot be written.
bool write_tiny_inputs(const std::string &dir);

// Peak memory of one classification of `patterns` x 16 on top of its
// inputs, against the size of the pattern matrix.
void memory(const std::string &perf_path, std::int32_t patterns);

}  // namespace qirbench
