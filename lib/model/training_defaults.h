// The training defaults of the qir command, in one place. They were chosen
// by cross-validation on the four bundled data sets scaled to [0, 1] (see
// the README's accuracy table); the Python package exposes the same values.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "model_file.h"

namespace qir {

struct TrainingDefaults {
  // D is sqrt(M), M the features that vary in the training data: the
  // diagonal of the unit cube that the scaled patterns span, so one node may
  // span the whole data. A constant feature adds nothing to that span; left
  // in the count it made nodes too large for data with idle features (the
  // digits: sqrt(64) where they span sqrt(61)).
  double ratio;
  double vigilance;
  double alpha;
  double learning_rate;
  // The most list presentations a member takes by default; fewer on large
  // data (default_max_presentations).
  double max_presentations;
  double trim;
  double ct;
  double oflag;
  // Of the features (feature_scaling.h): automatic picks rank for data whose
  // features have outliers, min-max otherwise (docs/accuracy.md).
  Scaling scaling;
  // Ensembles (ensemble.h): members trained in shuffled orders, and the seed
  // of their orders. 23 with alpha 0.03 rather than 15 with 0.1: on the
  // bundled sets and on freshly drawn ones the larger vote gained without a
  // loss beyond a fold's noise (level on a third draw); the smaller alpha's
  // members keep fewer nodes, so a pattern is classified by at most 1.5
  // times the nodes of 15 members at 0.1 (docs/accuracy.md).
  int voters;
  bool shuffle;
  double seed;
  // Each member's own view (VotingSettings): the share of the features it
  // sees, and whether it trains on a bootstrap draw of the patterns.
  double max_features;
  bool bootstrap;
  bool oob_weights;  // votes weighted by each member's out-of-bag accuracy
  // Rows a member draws when the data have more (VotingSettings::max_samples).
  double max_samples;
  // Members see only the features that the screen finds carry something
  // about the class (feature_screen.h; docs/accuracy.md).
  bool screen;
  // The pattern presentations a training makes in all, over its members,
  // that the default limit on list presentations keeps to (set when 21
  // members replaced 15, so that a member of 21 got what one of 15 got at
  // 480000 and every member of the bundled sets still converged); but never
  // fewer than `fewest_presentations`, since a second pass moves the nodes
  // the first pass laid down early.
  double training_work;
  double fewest_presentations;
};

inline constexpr TrainingDefaults training_defaults{
    /*ratio=*/0.75,
    /*vigilance=*/0,
    /*alpha=*/0.03,
    /*learning_rate=*/1,
    /*max_presentations=*/100,
    /*trim=*/0,
    /*ct=*/0,
    /*oflag=*/1,
    /*scaling=*/Scaling::automatic,
    /*voters=*/23,
    /*shuffle=*/true,
    /*seed=*/1,
    /*max_features=*/1,
    /*bootstrap=*/false,
    /*oob_weights=*/false,
    /*max_samples=*/default_max_samples,
    /*screen=*/true,
    /*training_work=*/672000,
    /*fewest_presentations=*/2,
};

// The training parameters at their defaults, with the size bound and the
// limit on list presentations given (both depend on the data).
inline TrainingParams default_params(double D, double max_presentations) {
  const TrainingDefaults &d = training_defaults;
  return {D, d.ratio, d.vigilance, d.alpha, d.learning_rate, max_presentations, d.trim, d.ct};
}

// The ensemble's settings at their defaults, its draws from `seed`.
inline VotingSettings default_voting(std::uint64_t seed) {
  const TrainingDefaults &d = training_defaults;
  return {d.voters, seed, d.shuffle, d.max_features, d.bootstrap, d.oob_weights, d.max_samples,
          d.screen};
}

// The most list presentations the modules take (they count in 32 bits);
// more would be refused as if the number were not above 0.
inline constexpr double most_presentations = 2147483647;

// The default size bound for patterns of which `varying` features vary
// (data_warnings.h counts them); at least 1, for data that never vary.
inline double default_D(std::size_t varying) {
  return std::sqrt(static_cast<double>(varying > 0 ? varying : 1));
}

// The default limit on list presentations for `voters` members trained on
// `patterns` patterns: max_presentations, or fewer where more would take the
// members past training_work pattern presentations in all, but at least
// fewest_presentations. Small data sets converge well before the limit; on
// large ones a few presentations per member give as accurate an ensemble as
// many (docs/command.md, how the defaults were chosen), and the limit keeps
// large, overlapping data, which never converge, from costing 100 passes.
inline double default_max_presentations(std::size_t patterns, int voters) {
  const TrainingDefaults &d = training_defaults;
  const double seen = static_cast<double>(patterns) * static_cast<double>(voters > 1 ? voters : 1);
  const double fitting = seen > 0 ? std::ceil(d.training_work / seen) : d.max_presentations;
  return std::min(std::max(fitting, d.fewest_presentations), d.max_presentations);
}

}  // namespace qir
