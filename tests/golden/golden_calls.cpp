// A fixed set of module calls whose results must be the same bits on every
// platform and compiler: each call's outputs, console text (seconds
// normalised), error and host operation total are reduced to one digest
// line, "call NAME DIGEST". check_golden.cmake compares the lines with the
// committed ones.
//
//   qir_golden_calls TRAIN_MODULE PERF_MODULE [OUT_DIR]
//
// With OUT_DIR, each call's console text is also written to OUT_DIR/NAME.txt,
// to compare a platform that differs with the reference line by line.
#include "../support/console_text.h"
#include "qirhost/host.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

namespace {

// The data come from integer arithmetic alone, so they are the same
// everywhere (unlike the standard library's distributions).
class Lcg {
 public:
  explicit Lcg(std::uint64_t seed) : state_(seed) {}
  double next() {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<double>(state_ >> 11) * 0x1.0p-53;
  }

 private:
  std::uint64_t state_;
};

struct Data {
  std::vector<std::vector<double>> rows;
  std::vector<double> labels;
};

// Four overlapping classes in the unit cube.
Data make_data(std::uint64_t seed, int N, int M) {
  Lcg lcg(seed);
  Data data;
  for (int n = 0; n < N; ++n) {
    std::vector<double> row;
    for (int m = 0; m < M; ++m) row.push_back(lcg.next());
    const int label = 1 + (row[0] + row[1] * row[1] > 0.8) + 2 * (row[M - 1] > 0.7);
    data.rows.push_back(row);
    data.labels.push_back(label);
  }
  return data;
}

struct TrainCase {
  const char *name;
  std::uint64_t seed;
  int N, M;
  double D, ratio, vigilance, alpha, learning_rate, max_list, trim, ct, oflag;
};

struct PerfCase {
  const char *name;
  int templates_from;  // index into the training cases
  std::uint64_t seed;
  int P;
  double D, ratio, vigilance, alpha, ct, unknown_label, oflag;
};

// Trace levels 1 to 4, CT on and off, D = 0 (infinite and NaN MFV, Tu 0
// and NaN), alpha = 0, ratio 0.01 and 1, learning rates below 1, runs that
// stop before converging.
const TrainCase train_cases[] = {
    {"train-ratio1-trim", 11, 120, 3, 1.0, 1.0, 0.75, 0.001, 1.0, 50, 1, 0, 1},
    {"train-ct-lr0.5-notrim", 12, 120, 3, 1.0, 0.3, 0.7, 0.01, 0.5, 50, 0, 1, 2},
    {"train-ratio0.01-alpha0", 13, 120, 4, 2.0, 0.01, 0.6, 0.0, 1.0, 50, 1, 1, 3},
    {"train-D0-trace", 14, 40, 2, 0.0, 0.5, 0.5, 0.001, 1.0, 5, 1, 1, 4},
    {"train-D0-alpha0-trace", 15, 30, 2, 0.0, 0.5, 0.5, 0.0, 0.8, 3, 0, 1, 4},
    {"train-lr0.7-stopped-trace", 16, 60, 3, 1.0, 0.6, 0.8, 0.001, 0.7, 4, 1, 0, 4},
};

const PerfCase perf_cases[] = {
    {"perf-summary", 0, 21, 200, 1.0, 1.0, 0.75, 0.001, 0, -1, 1},
    {"perf-ct-patterns", 1, 22, 200, 1.0, 0.3, 0.7, 0.01, 1, -1, 2},
    {"perf-ratio0.01-alpha0-trace", 2, 23, 60, 2.0, 0.01, 0.6, 0.0, 1, 0, 3},
    {"perf-D0-trace", 3, 24, 30, 0.0, 0.5, 0.5, 0.001, 1, 9, 3},
    {"perf-D0-alpha0-trace", 4, 25, 30, 0.0, 0.5, 0.0, 0.0, 1, 9, 3},
    {"perf-unclassified-trace", 5, 26, 60, 1.0, 0.6, 0.85, 0.001, 0, -5, 3},
};

// 64-bit FNV-1a.
class Digest {
 public:
  void add(const void *data, std::size_t size) {
    const auto *bytes = static_cast<const unsigned char *>(data);
    for (std::size_t k = 0; k < size; ++k) hash_ = (hash_ ^ bytes[k]) * 1099511628211ull;
  }
  void add(const std::string &text) {
    const std::uint64_t size = text.size();
    add(&size, sizeof size);
    add(text.data(), text.size());
  }
  void add_bits(double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    add(&bits, sizeof bits);
  }
  std::string hex() const {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash_));
    return text;
  }

 private:
  std::uint64_t hash_ = 14695981039346656037ull;
};

void keep_console(const char *out_dir, const char *name, const qirhost::CallResult &result) {
  if (out_dir == nullptr) return;
  const std::string path = std::string(out_dir) + "/" + name + ".txt";
  if (std::FILE *file = std::fopen(path.c_str(), "wb")) {
    const std::string text = qirtest::steady(result.console);
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
  }
}

std::string digest_of(const qirhost::CallResult &result) {
  Digest d;
  d.add(result.error.value_or("(no error)"));
  for (const qirhost::ArrayPtr &output : result.outputs) {
    if (!output) {
      d.add("(no output)");
      continue;
    }
    for (std::size_t extent : qirhost::dims_of(output.get())) d.add(std::to_string(extent));
    for (double value : qirhost::values_of(output.get())) d.add_bits(value);
  }
  d.add(qirtest::steady(result.console));
  d.add(std::to_string(result.flops));
  return d.hex();
}

qirhost::CallResult train(const qirhost::Module &module, const TrainCase &c) {
  const Data data = make_data(c.seed, c.N, c.M);
  std::vector<qirhost::ArrayPtr> inputs;
  inputs.push_back(qirhost::make_rows(data.rows));
  inputs.push_back(qirhost::make_column(data.labels));
  for (double value : {c.D, c.ratio, c.vigilance, c.alpha, c.learning_rate, c.max_list, c.trim,
                       c.ct, c.oflag})
    inputs.push_back(qirhost::make_scalar(value));
  std::vector<const mxArray *> args;
  for (const qirhost::ArrayPtr &input : inputs) args.push_back(input.get());
  return module.call(3, args);
}

qirhost::CallResult classify(const qirhost::Module &module, const PerfCase &c,
                             const qirhost::CallResult &trained) {
  const Data data = make_data(c.seed, c.P, train_cases[c.templates_from].M);
  std::vector<const mxArray *> args{trained.outputs[0].get(), trained.outputs[1].get()};
  std::vector<qirhost::ArrayPtr> inputs;
  for (double value : {c.D, c.ratio, c.vigilance, c.alpha, c.ct})
    inputs.push_back(qirhost::make_scalar(value));
  inputs.push_back(qirhost::make_rows(data.rows));
  inputs.push_back(qirhost::make_scalar(c.unknown_label));
  inputs.push_back(qirhost::make_scalar(c.oflag));
  for (const qirhost::ArrayPtr &input : inputs) args.push_back(input.get());
  return module.call(1, args);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: qir_golden_calls TRAIN_MODULE PERF_MODULE [OUT_DIR]\n");
    return 2;
  }
  const char *out_dir = argc == 4 ? argv[3] : nullptr;
  try {
    const qirhost::Module train_module(argv[1]);
    const qirhost::Module perf_module(argv[2]);
    std::vector<qirhost::CallResult> trained;
    for (const TrainCase &c : train_cases) {
      trained.push_back(train(train_module, c));
      if (trained.back().error) {
        std::fprintf(stderr, "%s: %s\n", c.name, trained.back().error->c_str());
        return 1;
      }
      keep_console(out_dir, c.name, trained.back());
      std::printf("call %s %s\n", c.name, digest_of(trained.back()).c_str());
    }
    for (const PerfCase &c : perf_cases) {
      const qirhost::CallResult result = classify(perf_module, c, trained[c.templates_from]);
      keep_console(out_dir, c.name, result);
      std::printf("call %s %s\n", c.name, digest_of(result).c_str());
    }
  } catch (const std::exception &e) {
    std::fprintf(stderr, "qir_golden_calls: %s\n", e.what());
    return 1;
  }
  return 0;
}
