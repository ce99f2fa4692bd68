#include "scores.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <set>

#include "../base/number_text.h"

namespace qir {
namespace {

std::string padded(const std::string &text, std::size_t width) {
  return std::string(width > text.size() ? width - text.size() : 0, ' ') + text;
}

std::string label_name(double label, const LabelNames &names) {
  for (const auto &[known, name] : names)
    if (known == label) return name;
  return format_number(label);
}

std::string column_name(const Scores &scores, double label, const LabelNames &names) {
  return scores.unknown_label && *scores.unknown_label == label ? "unknown"
                                                                : label_name(label, names);
}

std::string table_row(const std::vector<std::string> &cells, std::size_t width) {
  std::string line;
  for (const auto &cell : cells) line += padded(cell, width);
  return line + "\n";
}

}  // namespace

double unused_label(const std::vector<double> &node_labels) {
  if (node_labels.empty()) return -1;
  const std::set<double> taken(node_labels.begin(), node_labels.end());
  const double lowest = std::numeric_limits<std::int32_t>::min();
  if (*taken.begin() > lowest) return *taken.begin() - 1;
  double candidate = lowest;
  for (double label : taken) {
    if (label != candidate) break;
    candidate += 1;
  }
  return candidate;  // a gap: 2^32 labels are never all taken
}

Scores score(const std::vector<double> &truth, const std::vector<double> &assigned,
             std::optional<double> unknown_label) {
  Scores scores;
  scores.unknown_label = unknown_label;
  std::set<double> true_set, assigned_set;
  for (std::size_t k = 0; k < truth.size() && k < assigned.size(); ++k) {
    const bool unknown = unknown_label && assigned[k] == *unknown_label;
    ++scores.total;
    scores.unclassified += unknown ? 1 : 0;
    scores.correct += !unknown && assigned[k] == truth[k] ? 1 : 0;
    true_set.insert(truth[k]);
    assigned_set.insert(assigned[k]);
    ++scores.counts[{truth[k], assigned[k]}];
  }
  scores.true_labels.assign(true_set.begin(), true_set.end());
  scores.assigned_labels.assign(assigned_set.begin(), assigned_set.end());
  return scores;
}

std::string format_scores(const Scores &scores, const LabelNames &names) {
  char line[160];
  std::snprintf(line, sizeof line, "Accuracy: %.2f%% (%zu of %zu patterns)\n",
                scores.accuracy_percent(), scores.correct, scores.total);
  std::string text = line;
  text += "Unclassified: " + count_of(scores.unclassified, "pattern") + "\n";
  return text + format_confusion(scores, names,
                                 "Confusion table (rows: true label, columns: assigned label)");
}

std::string format_confusion(const Scores &scores, const LabelNames &names,
                             const std::string &title) {
  std::size_t width = std::string("unknown").size();
  for (double label : scores.true_labels) width = std::max(width, label_name(label, names).size());
  for (double label : scores.assigned_labels)
    width = std::max(width, label_name(label, names).size());
  width = std::max(width, std::to_string(scores.total).size()) + 2;

  std::string text = title + "\n";
  std::vector<std::string> head{""};
  for (double label : scores.assigned_labels) head.push_back(column_name(scores, label, names));
  text += table_row(head, width);
  for (double truth : scores.true_labels) {
    std::vector<std::string> cells{label_name(truth, names)};
    for (double label : scores.assigned_labels) {
      const auto found = scores.counts.find({truth, label});
      cells.push_back(std::to_string(found == scores.counts.end() ? 0 : found->second));
    }
    text += table_row(cells, width);
  }
  return text;
}

}  // namespace qir
