#include "search_grid.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

#include "../base/number_text.h"
#include "../model/training_defaults.h"

namespace qir {
namespace {

// D on a log scale around sqrt(M), in steps of sqrt(2), from a quarter to
// nearly three times sqrt(M): the best D sat at either end of the narrower
// 0.5 to 1.41 on several sets (at 2 to 4 times on one of many binary
// features that carry nothing). The other values span what
// cross-validation on the bundled and generated sets found useful (higher
// vigilance and very small alpha never won there).
const std::vector<double> D_factors{0.25, 0.3535533905932738, 0.5, 0.7071067811865476,
                                    1,    1.4142135623730951, 2,   2.8284271247461903};
const std::vector<double> vigilances{0, 0.5};
const std::vector<double> ratios{0.5, 0.75, 1};
const std::vector<double> alphas{0.01, 0.1};
const std::vector<double> cts{0, 1};
const std::vector<int> voter_counts{5, training_defaults.voters};

std::string list_text(const std::vector<double> &values) {
  std::string text;
  for (double value : values) {
    char shown[32];
    std::snprintf(shown, sizeof shown, "%.3g", value);
    text += (text.empty() ? "" : ", ") + std::string(shown);
  }
  return text;
}

}  // namespace

std::vector<TrainingParams> search_grid(std::size_t varying) {
  const double root_m = default_D(varying);
  std::vector<TrainingParams> grid;
  for (double factor : D_factors)
    for (double vigilance : vigilances)
      for (double ratio : ratios)
        for (double alpha : alphas)
          for (double ct : cts) {
            TrainingParams p =
                default_params(factor * root_m, training_defaults.max_presentations);
            p.ratio = ratio;
            p.vigilance = vigilance;
            p.alpha = alpha;
            p.ct = ct;
            grid.push_back(p);
          }
  return grid;
}

const std::vector<int> &search_voters() { return voter_counts; }

const std::vector<Scaling> &search_scalings() {
  static const std::vector<Scaling> scalings{Scaling::min_max, Scaling::rank};
  return scalings;
}

std::string search_grid_text() {
  std::vector<double> voters(voter_counts.begin(), voter_counts.end());
  return "  D          " + list_text(D_factors) + " times sqrt(M)\n" +
         "  vigilance  " + list_text(vigilances) + "\n" +
         "  ratio      " + list_text(ratios) + "\n" +
         "  alpha      " + list_text(alphas) + "\n" +
         "  ct         " + list_text(cts) + "\n" +
         "  voters     " + list_text(voters) + " (for the best node setting)\n";
}

std::vector<std::size_t> rank_settings(const std::vector<SettingScore> &scores) {
  std::vector<std::size_t> order(scores.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t i, std::size_t j) {
    const SettingScore &a = scores[i], &b = scores[j];
    if (a.accuracy != b.accuracy) return a.accuracy > b.accuracy;
    if (a.unknown != b.unknown) return a.unknown < b.unknown;
    return a.nodes < b.nodes;
  });
  return order;
}

FoldGain fold_gain(const CvResult &result, const CvResult &defaults) {
  const std::size_t folds = std::min(result.folds.size(), defaults.folds.size());
  std::vector<double> gains(folds);
  for (std::size_t k = 0; k < folds; ++k) {
    const FoldResult &fold = result.folds[k];
    const double more_correct =
        static_cast<double>(fold.correct) - static_cast<double>(defaults.folds[k].correct);
    gains[k] = fold.patterns == 0 ? 0 : 100.0 * more_correct / static_cast<double>(fold.patterns);
  }
  double mean = 0, squares = 0;
  for (double gain : gains) mean += gain;
  mean /= static_cast<double>(std::max<std::size_t>(folds, 1));
  for (double gain : gains) squares += (gain - mean) * (gain - mean);
  FoldGain outcome;
  outcome.mean = mean;
  outcome.error = folds < 2 ? 0
                            : std::sqrt(squares / static_cast<double>(folds - 1) /
                                        static_cast<double>(folds));
  return outcome;
}

bool clearly_better(const FoldGain &gain) { return gain.mean > 0 && gain.mean > gain.error; }

}  // namespace qir
