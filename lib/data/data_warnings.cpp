#include "data_warnings.h"

#include <algorithm>

namespace qir {
namespace {

// A wide image set can have hundreds of blank pixels: name a few.
constexpr std::size_t most_named_features = 8;

std::string feature_list(const std::vector<std::size_t> &features, const FeatureNaming &naming) {
  std::string text = features.size() == 1 ? naming.one : naming.many;
  const std::size_t named = std::min(features.size(), most_named_features);
  for (std::size_t k = 0; k < named; ++k) {
    if (k > 0) text += (k + 1 == features.size()) ? " and" : ",";
    text += " " + std::to_string(features[k] + naming.first);
  }
  if (named < features.size()) text += " and " + std::to_string(features.size() - named) + " more";
  return text + naming.suffix;
}

bool single_class(const double *labels, std::size_t patterns) {
  // Labels arrive checked for NaN, so == is the class identity.
  return std::all_of(labels, labels + patterns, [&](double label) { return label == labels[0]; });
}

}  // namespace

const FeatureNaming &command_feature_naming() {
  static const FeatureNaming naming{"feature", "features", "", 1};
  return naming;
}

const FeatureNaming &toolbox_feature_naming() {
  static const FeatureNaming naming{"column", "columns", " of X", 1};
  return naming;
}

const FeatureNaming &python_feature_naming() {
  static const FeatureNaming naming{"column", "columns", " of X", 0};
  return naming;
}

const std::vector<std::string> &data_warning_kinds() {
  static const std::vector<std::string> kinds{"constant_features", "single_class",
                                              "more_features_than_patterns"};
  return kinds;
}

namespace {

// The features whose values are all equal (from 0); none with fewer than
// two patterns, where every feature looks constant. `at(r, c)` reads one
// value. Rows outer or features outer, whichever walks the memory in order:
// a constant feature is read to the end, which strided would cost 10 times.
template <class At>
std::vector<std::size_t> constant_features(std::size_t n, std::size_t m, const At &at,
                                           bool rows_outer) {
  std::vector<std::size_t> constant;
  if (n < 2) return constant;
  if (!rows_outer) {
    for (std::size_t c = 0; c < m; ++c) {
      const double first = at(0, c);
      std::size_t r = 1;
      while (r < n && at(r, c) == first) ++r;
      if (r == n) constant.push_back(c);
    }
    return constant;
  }
  for (std::size_t c = 0; c < m; ++c) constant.push_back(c);
  for (std::size_t r = 1; r < n && !constant.empty(); ++r) {
    std::size_t kept = 0;
    for (const std::size_t c : constant)
      if (at(r, c) == at(0, c)) constant[kept++] = c;
    constant.resize(kept);
  }
  return constant;
}

template <class At>
std::vector<DataWarning> warnings_for(std::size_t n, std::size_t m, const At &at,
                                      bool rows_outer, const double *labels,
                                      const FeatureNaming &naming) {
  std::vector<DataWarning> warnings;
  if (n == 0 || m == 0) return warnings;
  const std::vector<std::size_t> constant = constant_features(n, m, at, rows_outer);
  if (!constant.empty()) {
    const bool one = constant.size() == 1;
    warnings.push_back(
        {data_warning_kinds()[0],
         feature_list(constant, naming) + (one ? " has" : " have") +
             " the same value in every pattern, so " + (one ? "it carries" : "they carry") +
             " no information for telling the classes apart; leave " + (one ? "it" : "them") +
             " out (" + (one ? "it costs" : "they cost") + " time and nothing else)"});
  }
  if (single_class(labels, n))
    warnings.push_back({data_warning_kinds()[1],
                        (n == 1 ? std::string("there is only one pattern, so only one class")
                                : "all " + std::to_string(n) + " patterns have the same class") +
                            ", so the model will give that class to every pattern it "
                            "classifies; train on patterns of two or more classes"});
  if (m > n)
    warnings.push_back({data_warning_kinds()[2],
                        std::to_string(m) + " features but only " + std::to_string(n) +
                            (n == 1 ? " pattern" : " patterns") +
                            ": so few patterns cannot show which features matter, and the "
                            "model will classify new patterns poorly; gather more patterns "
                            "or use fewer features"});
  return warnings;
}

}  // namespace

std::vector<DataWarning> training_data_warnings(const PatternView &patterns,
                                                const double *labels,
                                                const FeatureNaming &naming) {
  return warnings_for(patterns.patterns, patterns.features,
                      [&](std::size_t r, std::size_t c) { return patterns.at(r, c); },
                      patterns.feature_step < patterns.row_step, labels, naming);
}

std::vector<DataWarning> training_data_warnings(const std::vector<std::vector<double>> &rows,
                                                const std::vector<double> &labels) {
  return warnings_for(rows.size(), rows.empty() ? 0 : rows.front().size(),
                      [&](std::size_t r, std::size_t c) { return rows[r][c]; }, true,
                      labels.data(), command_feature_naming());
}

std::size_t varying_features(const PatternView &patterns) {
  const auto at = [&](std::size_t r, std::size_t c) { return patterns.at(r, c); };
  return patterns.features - constant_features(patterns.patterns, patterns.features, at,
                                               patterns.feature_step < patterns.row_step)
                                 .size();
}

std::size_t varying_features(const std::vector<std::vector<double>> &rows) {
  const std::size_t m = rows.empty() ? 0 : rows.front().size();
  const auto at = [&](std::size_t r, std::size_t c) { return rows[r][c]; };
  return m - constant_features(rows.size(), m, at, true).size();
}

}  // namespace qir
