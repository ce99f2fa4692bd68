#include "dataset.h"

#include <cmath>

#include "csv.h"
#include "errors.h"
#include "number_text.h"

namespace qircli {
namespace {

std::string at(const Table &table, std::size_t row) {
  return table.path + ":" + std::to_string(table.lines[row]) + ": ";
}

void check_label(const Table &table, std::size_t row, double label) {
  const bool whole = std::trunc(label) == label;
  const bool in_range = label >= -2147483648.0 && label <= 2147483647.0;
  if (!whole || !in_range)
    throw InputError(at(table, row) + "label " + format_number(label) +
                     " is not a whole number in the 32-bit range");
}

Dataset split_last_column(const Table &table) {
  if (table.columns() < 2)
    throw InputError(at(table, 0) +
                     "needs at least one feature column and a label column (the last one)");
  Dataset data;
  for (std::size_t row = 0; row < table.rows.size(); ++row) {
    std::vector<double> features = table.rows[row];
    const double label = features.back();
    features.pop_back();
    check_label(table, row, label);
    data.patterns.push_back(std::move(features));
    data.labels.push_back(label);
  }
  return data;
}

std::vector<double> read_label_file(const std::string &path, std::size_t expected_rows) {
  const Table table = read_csv(path);
  if (table.columns() != 1)
    throw InputError(at(table, 0) + "a label file has one column, this one has " +
                     std::to_string(table.columns()));
  if (table.rows.size() != expected_rows)
    throw InputError(path + ": " + std::to_string(table.rows.size()) + " labels for " +
                     std::to_string(expected_rows) + " patterns");
  std::vector<double> labels;
  for (std::size_t row = 0; row < table.rows.size(); ++row) {
    check_label(table, row, table.rows[row][0]);
    labels.push_back(table.rows[row][0]);
  }
  return labels;
}

}  // namespace

Dataset load_dataset(const std::string &path, const LabelSource &source) {
  return dataset_from_table(read_csv(path), source);
}

Dataset dataset_from_table(const Table &table, const LabelSource &source) {
  Dataset data;
  if (source.kind == LabelSource::Kind::last_column) {
    data = split_last_column(table);
  } else {
    data.patterns = table.rows;
    if (source.kind == LabelSource::Kind::separate_file)
      data.labels = read_label_file(source.file, table.rows.size());
  }
  data.path = table.path;
  return data;
}

}  // namespace qircli
