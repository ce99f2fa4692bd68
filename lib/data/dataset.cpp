#include "dataset.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "csv.h"
#include "../base/errors.h"
#include "../base/number_text.h"

namespace qir {
namespace {

// What the labels are read from: a table's last column, with the lines,
// names and header that the checks and the feature names take.
struct LabelColumn {
  const std::string &path;
  const std::vector<int> &lines;
  std::size_t columns;           // of the table
  const double *values;          // row r's last value is values[r * step]
  std::size_t step;
  const std::vector<std::string> &last_text;
  const std::vector<std::string> &header;
  std::size_t rows() const { return lines.size(); }
  bool text_labels() const { return !last_text.empty(); }
};

LabelColumn last_column_of(const Table &table) {
  return {table.path, table.lines, table.columns(),
          table.values.data() + (table.columns() == 0 ? 0 : table.columns() - 1), table.width,
          table.last_text, table.header};
}

std::string at(const LabelColumn &table, std::size_t row) {
  return table.path + ":" + std::to_string(table.lines[row]) + ": ";
}

void check_label(const LabelColumn &table, std::size_t row, double label) {
  const bool whole = std::trunc(label) == label;
  const bool in_range = label >= -2147483648.0 && label <= 2147483647.0;
  if (!whole || !in_range)
    throw InputError(at(table, row) + "label " + format_number(label) +
                     " is not a whole number in the 32-bit range");
}

// A table whose last column holds names, where no labels are expected.
void refuse_text(const LabelColumn &table) {
  if (table.text_labels())
    throw InputError(at(table, 0) + "column " + std::to_string(table.columns) + ": '" +
                     table.last_text.front() + "' is not a number");
}

std::vector<double> labels_of_names_in(const std::vector<std::string> &names, ClassNames &classes) {
  int next = 1;
  for (const auto &[label, name] : classes) next = std::max(next, label + 1);
  const std::set<std::string> sorted(names.begin(), names.end());
  for (const auto &name : sorted) {
    const bool known = std::any_of(classes.begin(), classes.end(),
                                   [&](const auto &entry) { return entry.second == name; });
    if (!known) classes.emplace_back(next++, name);
  }
  std::vector<double> labels;
  for (const auto &name : names)
    for (const auto &[label, known_name] : classes)
      if (known_name == name) labels.push_back(label);
  return labels;
}

// The last column as labels: numbers checked, or names mapped.
std::vector<double> column_labels(const LabelColumn &table, ClassNames &classes) {
  if (table.text_labels()) return labels_of_names_in(table.last_text, classes);
  std::vector<double> labels;
  labels.reserve(table.rows());
  for (std::size_t row = 0; row < table.rows(); ++row) {
    const double label = table.values[row * table.step];
    check_label(table, row, label);
    labels.push_back(label);
  }
  return labels;
}

TableLabels split_last_column(const LabelColumn &table, const ClassNames &known) {
  if (table.columns < 2)
    throw InputError(at(table, 0) +
                     "needs at least one feature column and a label column (the last one)");
  TableLabels data;
  data.class_names = known;
  data.labels = column_labels(table, data.class_names);
  data.features = table.columns - 1;
  return data;
}

// The header's names of the feature columns: none unless it has one
// non-empty cell per column, as a header of other data would not.
std::vector<std::string> header_feature_names(const LabelColumn &table, std::size_t features) {
  if (table.header.size() != table.columns || features > table.header.size()) return {};
  for (const auto &cell : table.header)
    if (cell.empty()) return {};
  return {table.header.begin(), table.header.begin() + static_cast<std::ptrdiff_t>(features)};
}

TableLabels labels_of_column(const LabelColumn &table, const LabelSource &source,
                             const CsvFormat &format, const ClassNames &known) {
  TableLabels data;
  if (source.kind == LabelSource::Kind::last_column) {
    data = split_last_column(table, known);
  } else {
    refuse_text(table);
    data.features = table.columns;
    data.class_names = known;
    if (source.kind == LabelSource::Kind::separate_file)
      data.labels = read_label_file(source.file, table.rows(), format, data.class_names);
  }
  data.feature_names = header_feature_names(table, data.features);
  return data;
}

// Rows read at a time by load_dataset: only its patterns grow with the file.
constexpr std::size_t block_rows = 65536;

}  // namespace

Dataset load_dataset(const std::string &path, const LabelSource &source, const CsvFormat &format,
                     const ClassNames &known) {
  // Block by block, so that the file's table is never held whole beside
  // the patterns; the labels are judged once every row is read, as they
  // are for a table read whole, so the first fault reported is the same.
  CsvReader reader(path, format);
  Dataset data;
  data.path = path;
  Table block;
  std::vector<int> lines;
  std::vector<double> last;
  std::vector<std::string> names, header;
  std::size_t columns = 0;
  while (reader.next(block, block_rows)) {
    columns = block.columns();
    header = block.header;
    const std::size_t features =
        source.kind == LabelSource::Kind::last_column && columns > 0 ? columns - 1 : columns;
    for (std::size_t r = 0; r < block.rows(); ++r) {
      data.patterns.emplace_back(block.row(r), block.row(r) + features);
      last.push_back(block.row(r)[columns - 1]);
    }
    lines.insert(lines.end(), block.lines.begin(), block.lines.end());
    names.insert(names.end(), std::make_move_iterator(block.last_text.begin()),
                 std::make_move_iterator(block.last_text.end()));
  }
  TableLabels labels = labels_of_column({path, lines, columns, last.data(), 1, names, header},
                                        source, format, known);
  data.labels = std::move(labels.labels);
  data.class_names = std::move(labels.class_names);
  data.feature_names = std::move(labels.feature_names);
  return data;
}

TableLabels labels_of_table(const Table &table, const LabelSource &source,
                            const CsvFormat &format, const ClassNames &known) {
  return labels_of_column(last_column_of(table), source, format, known);
}

Dataset dataset_from_table(const Table &table, const LabelSource &source, const CsvFormat &format,
                           const ClassNames &known) {
  TableLabels labels = labels_of_table(table, source, format, known);
  Dataset data;
  data.path = table.path;
  data.patterns.reserve(table.rows());
  for (std::size_t r = 0; r < table.rows(); ++r)
    data.patterns.emplace_back(table.row(r), table.row(r) + labels.features);
  data.labels = std::move(labels.labels);
  data.class_names = std::move(labels.class_names);
  data.feature_names = std::move(labels.feature_names);
  return data;
}

std::vector<double> read_label_file(const std::string &path, std::size_t expected_rows,
                                    const CsvFormat &format, ClassNames &classes) {
  Table table = read_csv(path, format);
  // One column of names has no header that tells itself apart from the
  // names below it: the first name is a label unless --header says not.
  if (!format.header && !table.header.empty() && table.text_labels()) {
    CsvFormat every_line = format;
    every_line.find_header = false;
    table = read_csv(path, every_line);
  }
  if (table.columns() != 1)
    throw InputError(at(last_column_of(table), 0) + "a label file has one column, this one has " +
                     std::to_string(table.columns()));
  if (table.rows() != expected_rows)
    throw InputError(path + ": " + std::to_string(table.rows()) + " labels for " +
                     std::to_string(expected_rows) + " patterns");
  return column_labels(last_column_of(table), classes);
}

std::vector<double> labels_of_names(const std::vector<std::string> &names, ClassNames &classes) {
  return labels_of_names_in(names, classes);
}

std::optional<std::string> feature_name_mismatch(const std::vector<std::string> &model_names,
                                                 const Dataset &data) {
  return feature_name_mismatch(model_names, data.path, data.feature_names);
}

std::optional<std::string> feature_name_mismatch(const std::vector<std::string> &model_names,
                                                 const std::string &path,
                                                 const std::vector<std::string> &names) {
  if (model_names.empty() || names.size() != model_names.size()) return std::nullopt;
  std::size_t differing = 0, first = 0;
  for (std::size_t k = names.size(); k-- > 0;)
    if (names[k] != model_names[k]) {
      ++differing;
      first = k;
    }
  if (differing == 0) return std::nullopt;
  return path + ": column " + std::to_string(first + 1) + " is '" + names[first] +
         "' in the header but '" + model_names[first] + "' in the model" +
         (differing > 1 ? " (and " + std::to_string(differing - 1) + " more differ)" : "") +
         "; columns are taken by position, so put them in the model's order";
}

}  // namespace qir
