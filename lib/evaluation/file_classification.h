// Classifying a data file as `qir classify` does, a block of rows at a
// time: each block is read, scaled, classified by every member and voted
// on, and its labels and vote shares are written before the next block is
// read, so that memory stays bounded however long the file. What it
// prints, writes and returns is what one call on the whole file gives,
// byte for byte: the same labels, shares and summary, and the same first
// error (a fault late in the file still comes before the whole-file checks).
// Only the modules' running operation counters end elsewhere than after one
// call (node set-up is counted once per block, and the members after the
// first classify in a private copy of qir_perf), which shows in the totals
// that later calls through the same runner print.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "../data/dataset.h"
#include "../model/model_file.h"
#include "../modules/module_runner.h"
#include "../ensemble/voting.h"
#include "scores.h"

namespace qir {

// Patterns read and classified at a time by default: enough for the
// classification threads, a few megabytes of memory.
inline constexpr std::size_t default_block_rows = std::size_t{1} << 14;

struct FileClassification {
  std::string data;  // the data file
  LabelSource source;
  CsvFormat format;
  std::optional<std::string> labels_path;  // one label per line ("-": standard output)
  std::optional<std::string> scores_path;  // the vote shares, a header of the classes first
  double written_unknown = 0;              // the label written for unclassified patterns
  // Patterns classified at a time; 0: the whole file in one block. The
  // per-pattern trace (oflag 2 and more) always takes the whole file.
  std::size_t block_rows = default_block_rows;
  std::size_t read_size = std::size_t{1} << 20;  // file bytes read at a time
};

struct FileClassificationResult {
  std::size_t patterns = 0;
  std::size_t unclassified = 0;
  std::optional<Scores> scores;  // when the data carry true labels
  ClassNames class_names;        // the data's, the model's first
};

// Classifies `job.data` with `model` through `runner` (whose console gets
// the modules' text) and writes the files asked for; `warnings` gets the
// data's warning lines. Throws InputError naming the file and line of the
// first fault, and ModuleError when a module refuses.
FileClassificationResult classify_file(ModuleRunner &runner, const Model &model,
                                       const ClassifyParams &params,
                                       const FileClassification &job, std::ostream &warnings);

// One label per line, the class name where `names` has one.
std::string format_labels(const std::vector<double> &labels, const ClassNames &names);
// The vote shares: a header row of the classes, then one row per pattern
// (all 0 for a pattern that no member classified).
std::string format_shares(const VoteResult &result, const ClassNames &names);

}  // namespace qir
