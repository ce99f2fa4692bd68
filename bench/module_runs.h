// One timed call of a module file through the embedded host.
#pragma once

#include "workload.h"

#include "qirhost/host.h"

#include <string>

namespace qirbench {

struct PerfParams {
  double D = 4.0;
  double ratio = 0.5;
  double vigilance = 0.5;
  double alpha = 0.01;
  double ct_option = 1.0;
  double unknown_label = -1.0;
  double oflag = 1.0;
};

struct TrainParams {
  double D = 4.0;
  double ratio = 0.5;
  double vigilance = 0.5;
  double alpha = 0.01;
  double learning_rate = 1.0;
  double max_list_presentations = 10.0;
  double trim_option = 1.0;
  double ct_option = 1.0;
  double oflag = 1.0;
};

struct TimedCall {
  double seconds = 0.0;
  qirhost::CallResult result;
};

TimedCall run_classification(const qirhost::Module &perf, const NodeSet &nodes,
                             const Rows &patterns, const PerfParams &params);
TimedCall run_training(const qirhost::Module &train, const Labelled &data,
                       const TrainParams &params);

// The console text without the elapsed-seconds figure, which differs
// between any two runs.
std::string without_seconds(const std::string &console);

// True when two calls gave the same outputs, console text (seconds aside)
// and host operation reports; otherwise says what differs in `why`.
bool same_outcome(const qirhost::CallResult &a, const qirhost::CallResult &b, std::string &why);

}  // namespace qirbench
