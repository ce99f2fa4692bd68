// How well assigned labels agree with the true ones: accuracy and the
// confusion table that `qir classify` and `qir demo` print.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qir {

struct Scores {
  std::size_t total = 0;
  std::size_t correct = 0;
  std::size_t unclassified = 0;                             // assigned the unknown label
  std::vector<double> true_labels;                          // sorted, distinct
  std::vector<double> assigned_labels;                      // sorted, distinct
  std::map<std::pair<double, double>, std::size_t> counts;  // (true, assigned) -> patterns
  std::optional<double> unknown_label;
  double accuracy_percent() const { return total == 0 ? 0.0 : 100.0 * correct / total; }
};

// A whole number that no node carries, for the patterns no node classifies:
// one below the smallest node label (-1 without nodes), or, when that does
// not fit a 32-bit int, the first free label above. Such patterns can then
// always be told apart, and are scored as wrong.
double unused_label(const std::vector<double> &node_labels);

// `unknown_label` is the label of unclassified patterns, when it can be told
// apart from every class label; an unclassified pattern is never correct.
Scores score(const std::vector<double> &truth, const std::vector<double> &assigned,
             std::optional<double> unknown_label);

// The names behind integer labels; a label without one shows as its number.
using LabelNames = std::vector<std::pair<int, std::string>>;

// "Accuracy: ..." line, the unclassified count (also when 0), and the
// confusion table with one row per true class and one column per assigned
// class, each named by `names` where it has a name.
std::string format_scores(const Scores &scores, const LabelNames &names = {});
// The confusion table alone, under `title`.
std::string format_confusion(const Scores &scores, const LabelNames &names,
                             const std::string &title);

}  // namespace qir
