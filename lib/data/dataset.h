// Patterns and their class labels as the commands take them from data files.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "csv.h"

namespace qir {

// Where the labels of a data file are.
struct LabelSource {
  enum class Kind { last_column, separate_file, none };
  Kind kind = Kind::last_column;
  std::string file;  // for separate_file
};

// Class names and the integer labels that stand for them.
using ClassNames = std::vector<std::pair<int, std::string>>;

struct Dataset {
  std::string path;
  std::vector<std::vector<double>> patterns;  // one row of features per pattern
  std::vector<double> labels;                 // empty when the data carry none
  ClassNames class_names;                     // when the labels were names
  std::vector<std::string> feature_names;     // from a header row; empty: unnamed
  bool labelled() const { return !labels.empty(); }
  std::size_t features() const { return patterns.empty() ? 0 : patterns.front().size(); }
};

// The labels of class names: the names of `classes` keep their labels, the
// others are added to `classes` with labels after the largest (from 1), in
// name order.
std::vector<double> labels_of_names(const std::vector<std::string> &names, ClassNames &classes);

// Reads the patterns of `path` and their labels from where `source` says.
// Numeric labels must be whole numbers within the 32-bit range, since the
// modules keep node labels as integers and a fractional label would never
// match. Labels that are names become integers: the names of `known` keep
// their labels, others get 1, 2, ... (after the largest known) in name
// order. A header row that names every feature column (and, with the labels
// in the last column, that one too) gives the feature names. Throws
// InputError naming the file and line of the first fault.
Dataset load_dataset(const std::string &path, const LabelSource &source,
                     const CsvFormat &format = {}, const ClassNames &known = {});
// The same for a table already read.
Dataset dataset_from_table(const Table &table, const LabelSource &source,
                           const CsvFormat &format = {}, const ClassNames &known = {});

// What dataset_from_table gives but the patterns, which stay in the table:
// the first `features` values of each row. The same checks and faults.
struct TableLabels {
  std::vector<double> labels;
  ClassNames class_names;
  std::vector<std::string> feature_names;
  std::size_t features = 0;
};
TableLabels labels_of_table(const Table &table, const LabelSource &source,
                            const CsvFormat &format = {}, const ClassNames &known = {});

// The labels in a label file (one column, `expected_rows` rows) as
// load_dataset reads them with LabelSource::Kind::separate_file; names
// become labels as there, `classes` growing by the new ones.
std::vector<double> read_label_file(const std::string &path, std::size_t expected_rows,
                                    const CsvFormat &format, ClassNames &classes);

// When both the model and the data name their features and the names
// differ: one line saying where (columns are taken by position, so a
// reordered file would be classified wrongly without a word).
std::optional<std::string> feature_name_mismatch(const std::vector<std::string> &model_names,
                                                 const Dataset &data);
std::optional<std::string> feature_name_mismatch(const std::vector<std::string> &model_names,
                                                 const std::string &path,
                                                 const std::vector<std::string> &names);

}  // namespace qir
