#include "module_runs.h"

#include <chrono>
#include <vector>

namespace qirbench {

namespace {

using qirhost::ArrayPtr;

std::vector<const mxArray *> raw(const std::vector<ArrayPtr> &inputs) {
  std::vector<const mxArray *> pointers;
  for (const ArrayPtr &input : inputs) pointers.push_back(input.get());
  return pointers;
}

// Only the host's total is compared; keeping every amount would cost the
// plain search (one amount per evaluation) memory and time of its own.
qirhost::CallOptions quiet_counter() {
  qirhost::CallOptions options;
  options.record_flop_reports = false;
  return options;
}

template <class Call>
TimedCall timed(Call call) {
  const auto start = std::chrono::steady_clock::now();
  TimedCall t{0.0, call()};
  t.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return t;
}

}  // namespace

TimedCall run_classification(const qirhost::Module &perf, const NodeSet &nodes,
                             const Rows &patterns, const PerfParams &p) {
  std::vector<ArrayPtr> in;
  in.push_back(qirhost::make_rows(nodes.templates));
  in.push_back(qirhost::make_column(nodes.labels));
  for (double v : {p.D, p.ratio, p.vigilance, p.alpha, p.ct_option})
    in.push_back(qirhost::make_scalar(v));
  in.push_back(qirhost::make_rows(patterns));
  in.push_back(qirhost::make_scalar(p.unknown_label));
  in.push_back(qirhost::make_scalar(p.oflag));
  return timed([&] { return perf.call(1, raw(in), quiet_counter()); });
}

TimedCall run_training(const qirhost::Module &train, const Labelled &data,
                       const TrainParams &p) {
  std::vector<ArrayPtr> in;
  in.push_back(qirhost::make_rows(data.patterns));
  in.push_back(qirhost::make_column(data.labels));
  for (double v : {p.D, p.ratio, p.vigilance, p.alpha, p.learning_rate,
                   p.max_list_presentations, p.trim_option, p.ct_option, p.oflag})
    in.push_back(qirhost::make_scalar(v));
  return timed([&] { return train.call(3, raw(in), quiet_counter()); });
}

std::string without_seconds(const std::string &console) {
  // " in <digits> seconds\n" becomes " in N seconds\n".
  std::string text = console;
  const std::string lead = " in ", tail = " seconds\n";
  for (std::size_t at = text.find(lead); at != std::string::npos; at = text.find(lead, at + 1)) {
    std::size_t end = at + lead.size();
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
    if (end > at + lead.size() && text.compare(end, tail.size(), tail) == 0)
      text.replace(at + lead.size(), end - at - lead.size(), "N");
  }
  return text;
}

bool same_outcome(const qirhost::CallResult &a, const qirhost::CallResult &b, std::string &why) {
  if (a.error != b.error) return why = "errors differ", false;
  if (a.outputs.size() != b.outputs.size()) return why = "output counts differ", false;
  for (std::size_t k = 0; k < a.outputs.size(); ++k) {
    if (!a.outputs[k] || !b.outputs[k]) {
      if (a.outputs[k] || b.outputs[k]) return why = "an output is missing", false;
      continue;
    }
    if (qirhost::dims_of(a.outputs[k].get()) != qirhost::dims_of(b.outputs[k].get()) ||
        qirhost::values_of(a.outputs[k].get()) != qirhost::values_of(b.outputs[k].get()))
      return why = "output " + std::to_string(k + 1) + " differs", false;
  }
  if (without_seconds(a.console) != without_seconds(b.console))
    return why = "console text differs", false;
  if (a.flops != b.flops) return why = "host operation totals differ", false;
  return true;
}

}  // namespace qirbench
