#include "data_warnings.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

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
  static const FeatureNaming naming{"feature", "features", "", 1, "pattern", "patterns"};
  return naming;
}

const FeatureNaming &toolbox_feature_naming() {
  static const FeatureNaming naming{"column", "columns", " of X", 1, "row", "rows"};
  return naming;
}

const FeatureNaming &python_feature_naming() {
  static const FeatureNaming naming{"column", "columns", " of X", 0, "row", "rows"};
  return naming;
}

const std::vector<std::string> &data_warning_kinds() {
  static const std::vector<std::string> kinds{"constant_features", "single_class",
                                              "more_features_than_patterns",
                                              "contradictory_patterns"};
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

// Bits of a value as a hash sees them: 0 and -0 are one value to the nodes.
std::uint64_t value_bits(double value) {
  if (value == 0) value = 0;
  std::uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

template <class At>
std::uint64_t row_hash(std::size_t r, std::size_t m, const At &at) {
  std::uint64_t hash = 0x9E3779B97F4A7C15u;
  for (std::size_t c = 0; c < m; ++c) {
    hash ^= value_bits(at(r, c));
    hash *= 0xFF51AFD7ED558CCDu;
    hash ^= hash >> 32;
  }
  return hash;
}

template <class At>
bool same_row(std::size_t a, std::size_t b, std::size_t m, const At &at) {
  for (std::size_t c = 0; c < m; ++c)
    if (!(at(a, c) == at(b, c))) return false;
  return true;
}

// Pairs (first, later) of identical patterns with different labels, the
// first being the earliest pattern of those values: one hashed pass over
// the rows, an open table of each distinct row's first index.
template <class At>
std::vector<std::pair<std::size_t, std::size_t>> contradictory_pairs(std::size_t n, std::size_t m,
                                                                     const At &at,
                                                                     const double *labels) {
  std::vector<std::pair<std::size_t, std::size_t>> pairs;
  std::size_t size = 2;
  while (size < 2 * n) size *= 2;
  const std::size_t mask = size - 1;
  std::vector<std::size_t> first_plus_one(size, 0);
  for (std::size_t r = 0; r < n; ++r) {
    for (std::size_t slot = row_hash(r, m, at) & mask;; slot = (slot + 1) & mask) {
      const std::size_t held = first_plus_one[slot];
      if (held == 0) {
        first_plus_one[slot] = r + 1;
        break;
      }
      if (same_row(held - 1, r, m, at)) {
        if (labels[held - 1] != labels[r]) pairs.emplace_back(held - 1, r);
        break;
      }
    }
  }
  return pairs;
}

constexpr std::size_t most_named_pairs = 4;

std::string contradiction_text(const std::vector<std::pair<std::size_t, std::size_t>> &pairs,
                               const FeatureNaming &naming) {
  const auto pair_text = [&](std::size_t k) {
    return std::to_string(pairs[k].first + naming.first) + " and " +
           std::to_string(pairs[k].second + naming.first);
  };
  const std::string cost =
      ": no node can take in both, so training cannot converge: each member runs to its "
      "presentation limit and adds nodes in every presentation (a larger limit only adds "
      "more); ";
  if (pairs.size() == 1)
    return naming.row_many + " " + pair_text(0) + naming.suffix +
           " are the same pattern with different labels" + cost + "drop or relabel one of them";
  std::string text = std::to_string(pairs.size()) +
                     " pairs of identical patterns have different labels (" + naming.row_many +
                     " ";
  const std::size_t named = std::min(pairs.size(), most_named_pairs);
  for (std::size_t k = 0; k < named; ++k) text += (k > 0 ? ", " : "") + pair_text(k);
  if (named < pairs.size()) text += " and " + std::to_string(pairs.size() - named) + " more";
  return text + naming.suffix + ")" + cost + "drop or relabel one of each pair";
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
  const auto pairs = contradictory_pairs(n, m, at, labels);
  if (!pairs.empty())
    warnings.push_back({data_warning_kinds()[3], contradiction_text(pairs, naming)});
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
