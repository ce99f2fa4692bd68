#include "prediction.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "ensemble.h"

namespace qir {
namespace {

// The exponent of the power of two that serves as D for each pattern: above
// 2 (reach + 2 largest radius) + 1, where reach bounds the pattern's distance
// from every node (distance <= |x - c| / ratio <= (|x - middle| + spread) / ratio).
std::vector<int> wide_exponents(const Member &member, PatternMatrix patterns, int features,
                                double ratio) {
  const std::size_t m = static_cast<std::size_t>(features);
  const std::size_t count = patterns.rows;
  std::vector<double> middle(m, 0.0);
  double largest_radius = 0;
  for (const auto &row : member.templates) {
    for (std::size_t j = 0; j < m; ++j) middle[j] += row[j];
    largest_radius = std::max(largest_radius, row[2 * m]);
  }
  for (double &value : middle) value /= static_cast<double>(member.templates.size());
  double spread = 0;
  for (const auto &row : member.templates) {
    double squares = 0;
    for (std::size_t j = 0; j < m; ++j) squares += (row[j] - middle[j]) * (row[j] - middle[j]);
    spread = std::max(spread, std::sqrt(squares));
  }
  const double *x = patterns.values;
  std::vector<int> exponents(count);
  for (std::size_t r = 0; r < count; ++r) {
    double squares = 0;
    for (std::size_t j = 0; j < m; ++j) {
      const double d = x[j * count + r] - middle[j];
      squares += d * d;
    }
    const double reach = (std::sqrt(squares) + spread) / ratio;
    const double needed = 2.0 * (reach + 2.0 * largest_radius) + 1.0;
    const double exponent = std::ceil(std::log2(needed));
    exponents[r] = std::isfinite(exponent) ? static_cast<int>(std::min(exponent, 1023.0)) : 1023;
  }
  return exponents;
}

// The label that most of the member's nodes carry (the lowest of a tie).
double most_common_label(const Member &member) {
  std::map<double, std::size_t> count;
  for (double label : member.labels) ++count[label];
  return std::max_element(count.begin(), count.end(),
                          [](const auto &a, const auto &b) { return a.second < b.second; })
      ->first;
}

std::vector<double> member_best_fit(Modules &runner, const Member &member, int features,
                                    PatternMatrix patterns, const ClassifyParams &params,
                                    double first_class) {
  const std::size_t count = patterns.rows;
  if (member.templates.empty()) return std::vector<double>(count, first_class);
  const auto exponents = wide_exponents(member, patterns, features, params.ratio);
  std::map<int, std::vector<std::size_t>> groups;
  for (std::size_t r = 0; r < count; ++r) groups[exponents[r]].push_back(r);
  ClassifyParams wide = params;
  wide.vigilance = 0;
  wide.ct = 0;
  wide.oflag = 0;
  wide.unknown_label = *std::min_element(member.labels.begin(), member.labels.end()) - 1;
  std::vector<double> labels(count);
  for (const auto &[exponent, rows] : groups) {
    wide.D = std::ldexp(1.0, exponent);
    const OwnedPatterns group = rows.size() == count ? OwnedPatterns() : rows_of(patterns, rows);
    const auto assigned = runner.classify_member(
        member, features, rows.size() == count ? patterns : group.view(), wide);
    for (std::size_t k = 0; k < rows.size(); ++k) labels[rows[k]] = assigned[k];
  }
  // Only beyond the range of doubles can a pattern still be left over.
  const double most = most_common_label(member);
  for (double &label : labels)
    if (label == wide.unknown_label) label = most;
  return labels;
}

// The shares of `result` (among result.classes) spread over `classes`.
void among(VoteResult &result, const std::vector<double> &classes) {
  if (classes.empty() || classes == result.classes) return;
  if (result.shares.empty()) {  // the labels alone
    result.classes = classes;
    return;
  }
  const std::size_t rows = result.labels.size(), from = result.classes.size();
  std::vector<double> shares(rows * classes.size(), 0.0);
  for (std::size_t c = 0; c < from; ++c) {
    const auto at = std::lower_bound(classes.begin(), classes.end(), result.classes[c]);
    if (at == classes.end() || *at != result.classes[c]) continue;
    const auto to = static_cast<std::size_t>(at - classes.begin());
    for (std::size_t r = 0; r < rows; ++r) shares[r * classes.size() + to] = result.shares[r * from + c];
  }
  result.shares = std::move(shares);
  result.classes = classes;
}

}  // namespace

std::vector<std::vector<double>> best_fit_labels(Modules &runner, const Model &model,
                                                 PatternMatrix patterns,
                                                 const ClassifyParams &params,
                                                 double first_class) {
  std::vector<std::vector<double>> labels;
  for (const auto &member : model.members) {
    const MemberPatterns seen = member_view(member, patterns);
    labels.push_back(member_best_fit(runner, member,
                                     static_cast<int>(member.width(model.features)), seen.view,
                                     params, first_class));
  }
  return labels;
}

VoteResult predict_ensemble(Modules &runner, const Model &model, PatternMatrix patterns,
                            const ClassifyParams &params, const PredictOptions &options) {
  VoteResult result =
      classify_in_blocks(runner, model, patterns, params, silent_block_rows, options.needs);
  among(result, options.classes);
  if (!options.best_fit_for_unknown) return result;
  std::vector<std::size_t> unknown;
  for (std::size_t r = 0; r < result.votes.size(); ++r)
    if (result.votes[r] == 0) unknown.push_back(r);
  if (unknown.empty()) return result;
  const OwnedPatterns rows = rows_of(patterns, unknown);
  const double first_class = result.classes.empty() ? 0 : result.classes.front();
  VoteResult fallback = vote(best_fit_labels(runner, model, rows.view(), params, first_class),
                             result.classes, params.unknown_label, vote_weights(model));
  const std::size_t width = result.shares.empty() ? 0 : result.classes.size();
  for (std::size_t k = 0; k < unknown.size(); ++k) {
    result.labels[unknown[k]] = fallback.labels[k];
    std::copy_n(fallback.shares.begin() + static_cast<std::ptrdiff_t>(k * width), width,
                result.shares.begin() + static_cast<std::ptrdiff_t>(unknown[k] * width));
  }
  return result;
}

}  // namespace qir
