// Patterns and their class labels as the commands take them from CSV files.
#pragma once

#include <string>
#include <vector>

#include "csv.h"

namespace qircli {

// Where the labels of a data file are.
struct LabelSource {
  enum class Kind { last_column, separate_file, none };
  Kind kind = Kind::last_column;
  std::string file;  // for separate_file
};

struct Dataset {
  std::string path;
  std::vector<std::vector<double>> patterns;  // one row of features per pattern
  std::vector<double> labels;                 // empty when the data carry none
  bool labelled() const { return !labels.empty(); }
  std::size_t features() const { return patterns.empty() ? 0 : patterns.front().size(); }
};

// Reads the patterns of `path` and their labels from where `source` says.
// Labels must be whole numbers within the 32-bit range, since the modules
// keep node labels as integers and a fractional label would never match.
// Throws InputError naming the file and line of the first fault.
Dataset load_dataset(const std::string &path, const LabelSource &source);
// The same for a table already read.
Dataset dataset_from_table(const Table &table, const LabelSource &source);

}  // namespace qircli
