#include "model_file.h"

#include <cmath>
#include <map>
#include <sstream>

#include "atomic_file.h"
#include "csv.h"
#include "errors.h"
#include "number_text.h"

namespace qircli {
namespace {

// Format 2 adds the scaling ranges and class names; a model without them is
// still written as format 1, so older readers keep reading it.
constexpr int plain_format = 1;
constexpr int extended_format = 2;

int format_of(const Model &model) {
  return model.scales() || !model.class_names.empty() ? extended_format : plain_format;
}

// Header keys in file order, each bound to the value it holds.
std::vector<std::pair<std::string, double *>> header_fields(Model &model) {
  TrainingParams &p = model.params;
  return {{"D", &p.D},
          {"ratio", &p.ratio},
          {"vigilance", &p.vigilance},
          {"alpha", &p.alpha},
          {"learning_rate", &p.learning_rate},
          {"max_list_presentations", &p.max_presentations},
          {"trim_option", &p.trim},
          {"ct_option", &p.ct},
          {"list_presentations", &model.list_presentations}};
}

std::string format_row(const std::vector<double> &row, double label) {
  std::string line;
  for (double value : row) line += format_number(value) + " ";
  return line + format_number(label) + "\n";
}

std::string format_list(const std::string &key, const std::vector<double> &values) {
  std::string line = "% " + key;
  for (double value : values) line += " " + format_number(value);
  return line + "\n";
}

std::string checked_name(const std::string &name) {
  const std::string_view trimmed = trim(name);
  if (trimmed.empty() || trimmed.find_first_of("\n\r") != std::string_view::npos)
    throw InputError("class name '" + name + "' cannot be stored: it is empty or spans lines");
  return std::string(trimmed);
}

bool whole_label(double value) {
  return std::trunc(value) == value && value >= -2147483648.0 && value <= 2147483647.0;
}

// Parsing state: which header values have been seen, and the node rows.
struct Reader {
  const std::string &path;
  Model model;
  std::map<std::string, double> header;
  std::map<std::string, std::vector<double>> lists;  // feature_min, feature_max
  int line_number = 0;

  [[noreturn]] void fail(const std::string &what) const {
    throw InputError(path + ":" + std::to_string(line_number) + ": " + what);
  }

  std::vector<double> numbers(std::istringstream &words) const {
    std::vector<double> values;
    for (std::string word; words >> word;) {
      const auto value = parse_number(word);
      if (!value || !std::isfinite(*value)) fail("'" + word + "' is not a finite number");
      values.push_back(*value);
    }
    return values;
  }

  void class_line(std::istringstream &words) {
    std::string label_text, name;
    words >> label_text;
    std::getline(words, name);
    const auto label = parse_number(label_text);
    if (!label || !whole_label(*label)) fail("class label '" + label_text + "' is not a whole number");
    if (trim(name).empty()) fail("class " + label_text + " has no name");
    for (const auto &[known, _] : model.class_names)
      if (known == *label) fail("class " + label_text + " named twice");
    model.class_names.emplace_back(static_cast<int>(*label), std::string(trim(name)));
  }

  void header_line(std::string_view text) {
    std::istringstream words{std::string(text.substr(1))};
    std::string key, value, rest;
    if (!(words >> key)) return;
    if (key == "class") return class_line(words);
    if (key == "feature_min" || key == "feature_max") {
      if (lists.count(key) != 0) fail("header value '" + key + "' given twice");
      lists[key] = numbers(words);
      return;
    }
    if (!(words >> value) || (words >> rest)) return;  // free comment
    const auto number = parse_number(value);
    if (!number) return;
    if (header.count(key) != 0) fail("header value '" + key + "' given twice");
    header[key] = *number;
  }

  void node_line(std::string_view text) {
    if (model.features <= 0) fail("node row before the '% features' header line");
    std::istringstream cells{std::string(text)};
    std::vector<double> row;
    for (std::string cell; cells >> cell;) {
      const auto value = parse_number(cell);
      if (!value) fail("'" + cell + "' is not a number");
      row.push_back(*value);
    }
    const std::size_t width = 2 * static_cast<std::size_t>(model.features) + 2;
    if (row.size() != width)
      fail(std::to_string(row.size()) + " values, a node row has " + std::to_string(width));
    model.labels.push_back(row.back());
    row.pop_back();
    model.templates.push_back(std::move(row));
  }

  void line(std::string_view text) {
    text = trim(text);
    if (text.empty()) return;
    if (text.front() == '%') {
      header_line(text);
      if (header.count("features") != 0 && model.features == 0) take_features();
    } else {
      node_line(text);
    }
  }

  void take_features() {
    const double m = header["features"];
    if (!(m >= 1 && m <= max_model_features && std::trunc(m) == m))
      fail("'% features' must be a whole number from 1 to " + std::to_string(max_model_features));
    model.features = static_cast<int>(m);
  }

  double required(const std::string &key) const {
    const auto found = header.find(key);
    if (found == header.end())
      throw InputError(path + ": not a model file: no '% " + key + "' header line");
    return found->second;
  }

  void take_ranges() {
    const bool has_min = lists.count("feature_min") != 0, has_max = lists.count("feature_max") != 0;
    if (has_min != has_max)
      throw InputError(path + ": '% feature_min' and '% feature_max' come together");
    if (!has_min) return;
    model.feature_min = lists["feature_min"];
    model.feature_max = lists["feature_max"];
    const std::size_t m = static_cast<std::size_t>(model.features);
    if (model.feature_min.size() != m || model.feature_max.size() != m)
      throw InputError(path + ": '% feature_min' and '% feature_max' need " +
                       std::to_string(m) + " values each, one per feature");
    for (std::size_t k = 0; k < m; ++k)
      if (!(model.feature_min[k] <= model.feature_max[k]))
        throw InputError(path + ": feature " + std::to_string(k + 1) +
                         ": '% feature_min' is above '% feature_max'");
  }

  Model finish() {
    const double format = required("format");
    if (format != plain_format && format != extended_format)
      throw InputError(path + ": model file format " + format_number(format) +
                       " is not supported (this version reads formats 1 and 2)");
    required("features");
    take_ranges();
    for (auto &[key, slot] : header_fields(model)) *slot = required(key);
    if (required("nodes") != static_cast<double>(model.templates.size()))
      throw InputError(path + ": header says " + format_number(header["nodes"]) +
                       " nodes, the file has " + std::to_string(model.templates.size()));
    return std::move(model);
  }
};

}  // namespace

std::string format_model(const Model &model) {
  Model copy = model;  // header_fields binds to mutable slots
  std::string text = "% QIR model: category nodes learned by qir_train\n";
  text += "% format " + std::to_string(format_of(model)) + "\n";
  text += "% features " + std::to_string(model.features) + "\n";
  if (model.scales()) {
    const std::size_t m = static_cast<std::size_t>(model.features);
    if (model.feature_min.size() != m || model.feature_max.size() != m)
      throw InputError("the scaling ranges need one value per feature");
    text += format_list("feature_min", model.feature_min);
    text += format_list("feature_max", model.feature_max);
  }
  for (const auto &[key, slot] : header_fields(copy))
    text += "% " + key + " " + format_number(*slot) + "\n";
  for (const auto &[label, name] : model.class_names)
    text += "% class " + std::to_string(label) + " " + checked_name(name) + "\n";
  text += "% nodes " + std::to_string(model.templates.size()) + "\n";
  const std::string m = std::to_string(model.features);
  text += "% columns: center(1:" + m + ") direction(1:" + m + ") radius label\n";
  for (std::size_t k = 0; k < model.templates.size(); ++k)
    text += format_row(model.templates[k], model.labels[k]);
  return text;
}

Model parse_model(const std::string &text, const std::string &path) {
  Reader reader{path, {}, {}, {}, 0};
  std::istringstream stream(text);
  std::string line;
  while (std::getline(stream, line)) {
    ++reader.line_number;
    reader.line(line);
  }
  return reader.finish();
}

void save_model(const std::string &path, const Model &model) {
  write_file_atomically(path, format_model(model));
}

Model load_model(const std::string &path) { return parse_model(read_text_file(path), path); }

}  // namespace qircli
