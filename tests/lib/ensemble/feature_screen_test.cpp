// The screen of features that carry nothing about the class: what it keeps
// and drops on small generated data, its floor, its null level, and models
// whose members see the kept features alone.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>

#include "base/prng.h"
#include "ensemble/ensemble.h"
#include "ensemble/feature_screen.h"
#include "model/model_file.h"
#include "modules/fitting.h"
#include "modules/module_runner.h"

using namespace qir;

namespace {

double uniform(Xorshift64Star &random) {
  return static_cast<double>(random.next() >> 11) / 9007199254740992.0;
}

// Column-major patterns built feature by feature, with their labels.
struct Columns {
  std::vector<double> labels;
  std::vector<std::vector<double>> features;
  OwnedPatterns matrix() const {
    OwnedPatterns out{{}, labels.size(), features.size()};
    for (const auto &feature : features)
      out.values.insert(out.values.end(), feature.begin(), feature.end());
    return out;
  }
  std::vector<std::size_t> screened() const {
    const OwnedPatterns m = matrix();
    return screened_features(m.view(), labels);
  }
};

// A circle in a square (classes 1 outside, 2 inside) in features 0 and 1,
// then `noise` uniform features.
Columns circle_with_noise(std::size_t rows, std::size_t noise, std::uint64_t seed) {
  Xorshift64Star random(seed);
  Columns data;
  data.features.assign(2 + noise, std::vector<double>(rows));
  for (std::size_t r = 0; r < rows; ++r) {
    for (auto &feature : data.features) feature[r] = uniform(random);
    const double dx = data.features[0][r] - 0.5, dy = data.features[1][r] - 0.5;
    data.labels.push_back(dx * dx + dy * dy < 0.16 ? 2 : 1);
  }
  return data;
}

}  // namespace

TEST(FeatureScreen, KeepsWhatCarriesTheClassAndDropsNoise) {
  // Each circle feature alone has the same mean in both classes; only its
  // spread tells them apart.
  Columns data = circle_with_noise(400, 6, 5);
  EXPECT_EQ(data.screened(), (std::vector<std::size_t>{0, 1}));

  // A shifted mean, a binary feature whose rate follows the class, and a
  // constant feature (left in place) among noise of both kinds.
  Xorshift64Star random(9);
  Columns mixed;
  mixed.features.assign(7, std::vector<double>(300));
  for (std::size_t r = 0; r < 300; ++r) {
    const double label = 1 + static_cast<double>(r % 3);
    mixed.labels.push_back(label);
    mixed.features[0][r] = uniform(random);
    mixed.features[1][r] = uniform(random) + 0.4 * label;
    mixed.features[2][r] = uniform(random) < 0.2 * label ? 1 : 0;
    mixed.features[3][r] = 4;
    mixed.features[4][r] = uniform(random) < 0.5 ? 1 : 0;
    mixed.features[5][r] = std::floor(5 * uniform(random));
    mixed.features[6][r] = uniform(random);
  }
  EXPECT_EQ(mixed.screened(), (std::vector<std::size_t>{1, 2, 3}));

  // Non-finite values are left for the modules to refuse.
  mixed.features[6][7] = std::nan("");
  EXPECT_TRUE(mixed.screened().empty());
}

TEST(FeatureScreen, KeepsEveryFeatureBelowItsFloorOrWhereIdleOnesAreNoMajority) {
  Columns one = circle_with_noise(400, 4, 3);
  // Only feature 0 carries the class now (a band in x).
  for (std::size_t r = 0; r < one.labels.size(); ++r)
    one.labels[r] = std::fabs(one.features[0][r] - 0.5) < 0.2 ? 2 : 1;
  EXPECT_TRUE(one.screened().empty());  // all: one feature is below the floor

  Columns all = circle_with_noise(400, 0, 4);
  EXPECT_TRUE(all.screened().empty());  // both carry the class
  // Two idle features beside two that carry the class are no majority.
  Columns half = circle_with_noise(400, 2, 4);
  EXPECT_TRUE(half.screened().empty());
  EXPECT_EQ(circle_with_noise(400, 3, 4).screened(), (std::vector<std::size_t>{0, 1}));

  Columns single = circle_with_noise(100, 3, 4);
  single.labels.assign(100, 1);
  EXPECT_TRUE(single.screened().empty());  // one class: nothing to test
  EXPECT_TRUE(screened_features({}, {}).empty());
}

TEST(FeatureScreen, NoiseIsKeptAtAboutTheTestsLevel) {
  // The quantile against tables of the chi-square law.
  EXPECT_NEAR(chi_square_quantile(1, screen_z), 6.635, 0.07);
  EXPECT_NEAR(chi_square_quantile(9, screen_z), 21.666, 0.05);
  EXPECT_NEAR(chi_square_quantile(18, screen_z), 34.805, 0.05);
  // 10 bins of 3 classes: 18 degrees of freedom; a binary feature, 2.
  Columns data = circle_with_noise(300, 0, 8);
  std::vector<double> binary(300), labels(300);
  for (std::size_t r = 0; r < 300; ++r) {
    labels[r] = static_cast<double>(r % 3);
    binary[r] = static_cast<double>(r % 2);
  }
  EXPECT_EQ(feature_test(data.features[0].data(), labels).dof, 18);
  EXPECT_EQ(feature_test(binary.data(), labels).dof, 2);
  // One value below all the others still makes two bins: the feature is
  // tested, not taken for a constant one.
  std::vector<double> rare(300, 0);
  rare[0] = -1;
  EXPECT_EQ(feature_test(rare.data(), labels).dof, 2);

  // Pure noise: about 1 in 100 features passes (at most 12 of 600 here).
  Columns noise = circle_with_noise(200, 600, 21);
  Xorshift64Star random(2);
  for (double &label : noise.labels) label = static_cast<double>(random.below(3));
  std::size_t passed = 0;
  for (std::size_t c = 2; c < noise.features.size(); ++c) {
    const FeatureTest test = feature_test(noise.features[c].data(), noise.labels);
    passed += test.statistic > chi_square_quantile(test.dof, screen_z);
  }
  EXPECT_LE(passed, 12u);
  EXPECT_GE(passed, 1u);
}

TEST(FeatureScreen, MembersSeeTheKeptFeaturesAndTheFileKeepsThem) {
  ModuleRunner runner(module_directory(std::nullopt));
  runner.set_console({[](std::string_view) {}, {}});
  const Columns data = circle_with_noise(240, 4, 7);
  const OwnedPatterns x = data.matrix();
  const TrainingParams params{std::sqrt(6.0), 0.75, 0, 0.1, 1, 20, 0, 0};
  VotingSettings voting{4, 3, true};
  voting.screen = true;
  const Model model = train_ensemble(runner, x.view(), data.labels, params, voting, 0, {});
  for (const Member &member : model.members)
    EXPECT_EQ(member.features, (std::vector<std::size_t>{0, 1}));
  // Member 1 is the model's member trained on those columns alone.
  VotingSettings plain = voting;
  plain.screen = false;
  const OwnedPatterns kept = columns_of(x.view(), {0, 1});
  const Model narrow = train_ensemble(runner, kept.view(), data.labels,
                                      {member_D(params.D, 2, 6), 0.75, 0, 0.1, 1, 20, 0, 0},
                                      plain, 0, {});
  EXPECT_EQ(narrow.members[0].templates, model.members[0].templates);

  // With a share of the features, each member draws among the kept ones.
  voting.max_features = 0.5;
  for (const Member &member :
       train_ensemble(runner, x.view(), data.labels, params, voting, 0, {}).members) {
    ASSERT_EQ(member.features.size(), 1u);
    EXPECT_LT(member.features[0], 2u);
  }

  // The file keeps the members' features, not the screen; a single
  // unshuffled member is written as an ensemble of one so that it can.
  const std::string text = format_model(model);
  EXPECT_NE(text.find("% member_features 1 2\n"), std::string::npos);
  EXPECT_EQ(text.find("screen"), std::string::npos);
  const Model one = train_ensemble(runner, x.view(), data.labels, params,
                                   [] { VotingSettings v; v.screen = true; return v; }(), 0, {});
  ASSERT_EQ(one.members[0].features, (std::vector<std::size_t>{0, 1}));
  const Model back = parse_model(format_model(one), "one.model");
  EXPECT_EQ(back.members[0].features, one.members[0].features);
  EXPECT_EQ(back.members[0].templates, one.members[0].templates);
  // Where nothing is dropped the file is as it was without the screen.
  const Columns both = circle_with_noise(240, 0, 7);
  const OwnedPatterns bx = both.matrix();
  VotingSettings screening{4, 3, true};
  screening.screen = true;
  EXPECT_EQ(format_model(train_ensemble(runner, bx.view(), both.labels, params, screening, 0, {})),
            format_model(train_ensemble(runner, bx.view(), both.labels, params, {4, 3, true}, 0,
                                        {})));
}
