// The classification pass: one node per template row, one competition per
// pattern, and for each pattern the winner's label or unknown_label.
#pragma once

#include "host_memory.h"

#include <cstdint>

namespace qir {

// Sets the model parameters, builds the N nodes from the template rows
// (each at least 2M+1 values) and their labels, classifies the P patterns
// (M values each) into `label_array`, a fresh block of P doubles from the
// host allocator, prints the trace and summary at `oflag`, and releases
// every node. The caller's rows and labels are only read.
// Throws std::bad_alloc when memory runs out and Interrupted when the host
// asks to stop between patterns; every node is released then.
void run_performance(std::int32_t N, std::int32_t M, const double *const *template_rows,
                     const double *labels, double D, double ratio, double vigilance,
                     double alpha, std::int32_t ct_option, std::int32_t P,
                     const double *const *patterns, std::int32_t unknown_label,
                     HostVector &label_array, std::int32_t oflag);

}  // namespace qir
