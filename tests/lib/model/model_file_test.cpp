// Model files: exact round trips, and refusals that point at the fault.
#include "model/model_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <filesystem>
#include <limits>

#include "base/errors.h"
#include "base/number_text.h"
#include "../temp_dir.h"

using namespace qir;

namespace {

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

Model awkward_model() {
  Model model;
  model.features = 2;
  model.params = {1.0 / 3, 0.1, 0.7500000000000001, 1e-300, 0.3, 100, 1, 0};
  model.members[0].list_presentations = 7;
  model.members[0].templates = {{0.1, 0.2, 0.6, 0.8, 0.30000000000000004},
                     {std::nextafter(1.0, 2.0), -0.0, 0, 0, 0},
                     {4.9406564584124654e-324, 1.7976931348623157e308, -0.6, 0.8, 123456789.125}};
  model.members[0].labels = {1, -2, 2147483647};
  return model;
}

std::string failure(const std::string &text) {
  try {
    parse_model(text, "m.txt");
  } catch (const InputError &error) {
    return error.what();
  }
  return "(accepted)";
}

const std::string good_header =
    "% format 1\n% features 1\n% D 1\n% ratio 0.5\n% vigilance 0.7\n% alpha 0.001\n"
    "% learning_rate 1\n% max_list_presentations 10\n% trim_option 1\n% ct_option 0\n"
    "% list_presentations 2\n";

}  // namespace

TEST(ModelFile, RoundTripKeepsEveryBit) {
  TempDir dir;
  const Model original = awkward_model();
  save_model(dir.path("m.model"), original);
  const Model copy = load_model(dir.path("m.model"));

  EXPECT_EQ(copy.features, 2);
  const double *a = &original.params.D, *b = &copy.params.D;
  for (int k = 0; k < 8; ++k) EXPECT_TRUE(same_bits(a[k], b[k])) << "parameter " << k;
  ASSERT_EQ(copy.members.size(), 1u);
  const Member &read = copy.members[0], &written = original.members[0];
  EXPECT_EQ(read.list_presentations, 7);
  ASSERT_EQ(read.templates.size(), written.templates.size());
  for (std::size_t r = 0; r < read.templates.size(); ++r) {
    ASSERT_EQ(read.templates[r].size(), 5u);
    for (std::size_t c = 0; c < 5; ++c)
      EXPECT_TRUE(same_bits(read.templates[r][c], written.templates[r][c])) << r << "," << c;
    EXPECT_EQ(read.labels[r], written.labels[r]);
  }
  EXPECT_TRUE(std::signbit(read.templates[1][1]));
}

TEST(ModelFile, ModelWithoutNodesRoundTrips) {
  Model empty = awkward_model();
  empty.members[0].templates.clear();
  empty.members[0].labels.clear();
  const Model copy = parse_model(format_model(empty), "m.txt");
  EXPECT_EQ(copy.features, 2);
  EXPECT_TRUE(copy.members[0].templates.empty());
}

TEST(ModelFile, NonFiniteNodeValuesAreNeitherWrittenNorRead) {
  Model model = awkward_model();
  model.members[0].templates[0] = {INFINITY, -INFINITY, NAN, 0, 1};
  EXPECT_THROW(format_model(model), InputError);
  EXPECT_EQ(failure(good_header + "% nodes 1\nInf 0 0 1\n"), "m.txt:13: node value Inf is not finite");
  EXPECT_EQ(failure(good_header + "% nodes 1\n0 0 NaN 1\n"), "m.txt:13: node value NaN is not finite");
}

TEST(ModelFile, RefusalsNameTheFaultAndLine) {
  EXPECT_EQ(failure(good_header + "% nodes 1\n0.5 0 0 1\n0.5 1 0\n"),
            "m.txt:14: 3 values, a node row has 4");
  EXPECT_EQ(failure(good_header + "% nodes 1\n0.5 0 zero 1\n"), "m.txt:13: 'zero' is not a number");
  EXPECT_EQ(failure(good_header + "% nodes 2\n0.5 0 0 1\n"),
            "m.txt:12: header says 2 nodes, the file has 1");
  EXPECT_EQ(failure("0.5 0 0 1\n" + good_header),
            "m.txt:1: node row before the '% features' header line");
  EXPECT_EQ(failure("1,2,3\n4,5,6\n"), "m.txt:1: node row before the '% features' header line");
  EXPECT_EQ(failure(good_header + "% D 2\n% nodes 0\n"), "m.txt:12: header value 'D' given twice");
  EXPECT_EQ(failure("% format 6\n% features 1\n"),
            "m.txt:1: model file format 6 is not supported (this version reads formats up to 5)");
  EXPECT_EQ(failure("% format 1\n% features 1.5\n"),
            "m.txt:2: '% features' must be a whole number from 1 to 1000000");
  EXPECT_EQ(failure("% format 1\n% features 1000001\n"),
            "m.txt:2: '% features' must be a whole number from 1 to 1000000");
  EXPECT_EQ(failure("% format 1\n% features 1000000\n").find("features"), std::string::npos);
  std::string no_alpha = good_header + "% nodes 0\n";
  no_alpha.erase(no_alpha.find("% alpha 0.001\n"), 14);
  EXPECT_EQ(failure(no_alpha), "m.txt: not a model file: no '% alpha' header line");
}

TEST(ModelFile, ScalingRangesAndClassNamesMakeFormat2AndRoundTrip) {
  Model model = awkward_model();
  EXPECT_NE(format_model(model).find("% format 1\n"), std::string::npos);
  model.feature_min = {0.1, -3};
  model.feature_max = {1.0 / 3, -3};
  model.class_names = {{1, "Iris setosa"}, {-2, " padded "}, {2147483647, "x"}};
  const std::string text = format_model(model);
  EXPECT_NE(text.find("% format 2\n% features 2\n% feature_min 0.1 -3\n"
                      "% feature_max 0.3333333333333333 -3\n"),
            std::string::npos);
  EXPECT_NE(text.find("% class 1 Iris setosa\n% class -2 padded\n"), std::string::npos);

  const Model copy = parse_model(text, "m.txt");
  EXPECT_EQ(copy.feature_min, model.feature_min);
  EXPECT_EQ(copy.feature_max, model.feature_max);
  ASSERT_EQ(copy.class_names.size(), 3u);
  EXPECT_EQ(copy.class_names[0], (std::pair<int, std::string>{1, "Iris setosa"}));
  EXPECT_EQ(copy.class_names[1].second, "padded");
  EXPECT_EQ(copy.members[0].templates, model.members[0].templates);

  model.class_names = {{1, "two\nlines"}};
  EXPECT_THROW(format_model(model), InputError);
  model.class_names.clear();
  model.feature_max = {1};
  EXPECT_THROW(format_model(model), InputError);
}

TEST(ModelFile, RefusesBrokenScalingAndClassLines) {
  const std::string head = "% format 2\n" + good_header.substr(good_header.find("% features"));
  EXPECT_EQ(failure(head + "% feature_min 0\n% nodes 0\n"),
            "m.txt:12: '% feature_min' without '% feature_max'");
  EXPECT_EQ(failure(head + "% feature_min 0 1\n% feature_max 1 2\n% nodes 0\n"),
            "m.txt:12: '% feature_min' and '% feature_max' need 1 values each, one per feature");
  EXPECT_EQ(failure(head + "% feature_min 2\n% feature_max 1\n% nodes 0\n"),
            "m.txt:13: feature 1: '% feature_min' is above '% feature_max'");
  EXPECT_EQ(failure(head + "% feature_min x\n"), "m.txt:12: 'x' is not a number");
  EXPECT_EQ(failure(head + "% class 1.5 a\n"), "m.txt:12: class label '1.5' is not a whole number");
  EXPECT_EQ(failure(head + "% class 1\n"), "m.txt:12: class 1 has no name");
  EXPECT_EQ(failure(head + "% class 1 a\n% class 1 b\n% nodes 1\n0 0 0 1\n"),
            "m.txt:13: class 1 named twice");
}

// A named, scaled model of two nodes; each case below changes one line.
std::string named_file(const std::string &from, const std::string &to) {
  std::string text = "% format 2\n% features 1\n% feature_min 0\n% feature_max 2\n" +
                     good_header.substr(good_header.find("% D")) +
                     "% class 1 small\n% class 2 large\n% nodes 2\n0.25 0 0 1\n0.75 0 0 2\n";
  if (!from.empty()) text.replace(text.find(from), from.size(), to);
  return text;
}

TEST(ModelFile, RefusesFilesWhoseLinesContradictEachOther) {
  const struct {
    std::string from, to, message;
  } cases[] = {
      {"% class 2 large\n", "% class 2 large\n% class 7 spare\n",
       "m.txt:16: class 7 is the label of no node"},
      {"% class 2 large\n", "", "m.txt:17: node label 2 has no '% class' line"},
      {"% class 2 large", "% class 2 small", "m.txt:15: class name 'small' given to two labels"},
      {"0.75 0 0 2", "0.75 0 0 nan", "m.txt:18: node label NaN is not a whole number from "
                                      "-2147483648 to 2147483647"},
      {"0.75 0 0 2", "0.75 0 0 2.5", "m.txt:18: node label 2.5 is not a whole number from "
                                      "-2147483648 to 2147483647"},
      {"% feature_max 2", "% feature_max inf", "m.txt:4: feature 1: '% feature_max' is not finite"},
      {"% feature_max 2", "% feature_max -1", "m.txt:4: feature 1: '% feature_min' is above "
                                              "'% feature_max'"},
      {"% feature_max 2\n", "", "m.txt:3: '% feature_min' without '% feature_max'"},
      {"% ratio 0.5\n", "% ratio 0.5\n% ratio 0.5\n", "m.txt:7: header value 'ratio' given twice"},
      {"% D 1", "% D " + std::string(400, '9'),
       "m.txt:5: '999999999999999999999999...' (400 characters) is beyond the range of doubles"},
      {"% D 1", "% D NaN", "m.txt:5: '% D' is NaN"},
      {"% D 1", "% D 1 2", "m.txt:5: '% D' takes one value"},
      {"% format 2", "% format 1", "m.txt:3: '% feature_min' needs model file format 2 or later"},
  };
  for (const auto &c : cases) EXPECT_EQ(failure(named_file(c.from, c.to)), c.message) << c.to;
}

TEST(ModelFile, AcceptsByteOrderMarkAndInfiniteParameters) {
  const std::string marked = "\xEF\xBB\xBF" + named_file("% D 1", "% D Inf");
  EXPECT_TRUE(looks_like_model_file(marked));
  EXPECT_FALSE(looks_like_model_file("\xEF\xBB\xBF" "1,2,3\n"));
  const Model model = parse_model(marked, "m.txt");
  EXPECT_EQ(model.params.D, INFINITY);
  EXPECT_EQ(parse_model(format_model(model), "m.txt").params.D, INFINITY);
}

TEST(ModelFile, WriterRefusesWhatTheReaderWould) {
  Model model = parse_model(named_file("", ""), "m.txt");
  model.class_names.push_back({7, "spare"});
  EXPECT_THROW(format_model(model), InputError);
  model.class_names.resize(1);
  EXPECT_THROW(format_model(model), InputError);
  model.class_names.clear();
  model.members[0].labels[0] = 0.5;
  EXPECT_THROW(format_model(model), InputError);
  // The smallest 32-bit label is a label like any other.
  model.members[0].labels[0] = -2147483648.0;
  EXPECT_EQ(parse_model(format_model(model), "m.txt").members[0].labels[0], -2147483648.0);
  Model without_members = model;
  without_members.members.clear();
  EXPECT_THROW(format_model(without_members), InputError);
}

TEST(ModelFile, ClassesFollowLabelOrderWhateverTheFileOrder) {
  Model model = parse_model(named_file("% class 1 small\n% class 2 large\n",
                                       "% class 2 large\n% class 1 small\n"),
                            "m.txt");
  model.members[0].labels = {2, 1};
  const ModelClasses classes = model_classes(model);
  EXPECT_EQ(classes.labels, (std::vector<double>{1, 2}));
  EXPECT_EQ(classes.names, (std::vector<std::string>{"small", "large"}));
  EXPECT_EQ(classes.of_node, (std::vector<std::size_t>{1, 0}));
  model.class_names.clear();
  model.members[0].labels = {-3, 5};
  EXPECT_TRUE(model_classes(model).names.empty());
  EXPECT_EQ(model_classes(model).of_node, (std::vector<std::size_t>{0, 1}));
}

TEST(NumberText, FormatsReadBackExactly) {
  const double values[] = {0.1,
                           1.0 / 3,
                           -2.5e-310,
                           1e22,
                           9007199254740993.0,
                           -0.0,
                           std::numeric_limits<double>::max(),
                           std::numeric_limits<double>::min()};
  for (double value : values) {
    const auto back = parse_number(format_number(value));
    ASSERT_TRUE(back) << format_number(value);
    EXPECT_TRUE(same_bits(*back, value)) << format_number(value);
  }
  EXPECT_EQ(format_number(3), "3");
}

// Model files written before keep their text: the same as printf's "%.*g"
// with the fewest of 15 to 17 digits that reads back, for doubles of every
// magnitude, subnormals included.
TEST(NumberText, WritesWhatPrintfWrote) {
  std::uint64_t state = 88172645463325252ULL;
  for (int k = 0; k < 20000; ++k) {
    state ^= state << 13, state ^= state >> 7, state ^= state << 17;
    double value;
    std::memcpy(&value, &state, sizeof value);
    if (!std::isfinite(value)) continue;
    if (k % 2) value = static_cast<double>(state >> 11) / 9007199254740992.0;  // in [0, 1)
    char expected[32];
    for (int digits = 15; digits <= 17; ++digits) {
      std::snprintf(expected, sizeof expected, "%.*g", digits, value);
      if (std::strtod(expected, nullptr) == value) break;
    }
    ASSERT_EQ(format_number(value), expected);
  }
  // Whole numbers, written as integers below 10^15, at every magnitude and
  // at the edges.
  std::vector<double> wholes{0.0, -0.0, 1e15, 1e15 - 1, -1e15 + 1, 9007199254740992.0};
  for (double whole = 1; whole < 1e17; whole = whole * 3 + 1) {
    wholes.push_back(whole);
    wholes.push_back(-whole);
  }
  for (double value : wholes) {
    char expected[32];
    for (int digits = 15; digits <= 17; ++digits) {
      std::snprintf(expected, sizeof expected, "%.*g", digits, value);
      if (std::strtod(expected, nullptr) == value) break;
    }
    ASSERT_EQ(format_number(value), expected);
  }
}

// Feature names ride along in any format: readers that predate them take
// the lines as comments, and the nodes mean the same without them.
TEST(ModelFile, FeatureNamesRoundTripWithoutRaisingTheFormat) {
  Model model = awkward_model();
  model.feature_names = {"sepal length (cm)", " width "};
  const std::string text = format_model(model);
  EXPECT_NE(text.find("% format 1\n% features 2\n% feature 1 sepal length (cm)\n"
                      "% feature 2 width\n% D "),
            std::string::npos);
  const Model copy = parse_model(text, "m.txt");
  EXPECT_EQ(copy.feature_names, (std::vector<std::string>{"sepal length (cm)", "width"}));
  EXPECT_EQ(feature_name(copy, 1), "width");
  model.feature_names.clear();
  EXPECT_EQ(feature_name(model, 1), "feature 2");
  EXPECT_TRUE(parse_model(format_model(model), "m.txt").feature_names.empty());
}

TEST(ModelFile, RefusesFeatureNamesThatDoNotNameEachFeatureOnce) {
  const auto with = [](const std::string &lines) {
    return failure(named_file("% feature_max 2\n", "% feature_max 2\n" + lines));
  };
  EXPECT_EQ(with("% feature 1 size\n% feature 2 more\n"),
            "m.txt:6: '% feature' lines name 2 of 1 features; name every feature or none");
  EXPECT_EQ(with("% feature 2 size\n"), "m.txt:5: feature '2' out of order (expected feature 1)");
  EXPECT_EQ(with("% feature 1\n"), "m.txt:5: feature 1 has no name");
  EXPECT_EQ(failure(named_file("", "")), "(accepted)");

  Model model = awkward_model();
  model.feature_names = {"only one"};
  EXPECT_THROW(format_model(model), InputError);
  model.feature_names = {"a", "two\nlines"};
  EXPECT_THROW(format_model(model), InputError);
}

// A word that is no number is called so; only a number written in full
// that no double holds is "beyond the range".
TEST(ModelFile, WordsThatAreNoNumbersAreNotCalledOutOfRange) {
  for (const char *word : {"-", "1.2.3", "+", "e5", "1e", "--1", "."})
    EXPECT_EQ(failure(named_file("% D 1", std::string("% D ") + word)),
              "m.txt:5: '" + std::string(word) + "' is not a number")
        << word;
  EXPECT_EQ(failure(named_file("% D 1", "% D 1e999")),
            "m.txt:5: '1e999' is beyond the range of doubles");
  EXPECT_EQ(failure(named_file("% D 1", "% D -1e400")),
            "m.txt:5: '-1e400' is beyond the range of doubles");
}

// Names are UTF-8 in every front end: a Latin-1 byte is refused with the
// file and line, and every message shows such bytes escaped, so that the
// message itself is valid text.
TEST(ModelFile, NamesMustBeUtf8AndMessagesShowOtherBytesEscaped) {
  EXPECT_EQ(failure(named_file("% class 2 large", "% class 2 caf\xE9")),
            "m.txt:15: class name 'caf\\xE9' is not UTF-8 text; save the names as UTF-8");
  EXPECT_EQ(failure(named_file("% feature_max 2\n", "% feature_max 2\n% feature 1 \xFF\n")),
            "m.txt:5: feature name '\\xFF' is not UTF-8 text; save the names as UTF-8");
  EXPECT_EQ(failure(named_file("% D 1", "% D 1\xFF")), "m.txt:5: '1\\xFF' is not a number");
  // UTF-8 names of any script pass, and so do they through the writer.
  const Model named = parse_model(named_file("% class 2 large", "% class 2 caf\xC3\xA9 \xE5\xA4\xA7"),
                                  "m.txt");
  EXPECT_EQ(parse_model(format_model(named), "m.txt").class_names, named.class_names);
  Model model = awkward_model();
  model.feature_names = {"ok", "caf\xE9"};
  EXPECT_THROW(format_model(model), InputError);
}

TEST(NumberText, Utf8CheckAndEscapes) {
  EXPECT_EQ(first_invalid_utf8("plain \xC3\xA9 \xF0\x9F\x98\x80"), std::string_view::npos);
  EXPECT_EQ(first_invalid_utf8("ab\xFF"), 2u);
  EXPECT_EQ(first_invalid_utf8("\xC0\xAF"), 0u);          // overlong '/'
  EXPECT_EQ(first_invalid_utf8("\xED\xA0\x80"), 0u);      // a surrogate
  EXPECT_EQ(first_invalid_utf8("\xF4\x90\x80\x80"), 0u);  // beyond U+10FFFF
  EXPECT_EQ(first_invalid_utf8("x\xE2\x82"), 1u);          // cut short
  EXPECT_EQ(shown_text("caf\xE9 \xC3\xA9"), "caf\\xE9 \xC3\xA9");
}

TEST(ModelFile, AFolderIsRefusedByName) {
  TempDir dir;
  const std::string folder = dir.path("models");
  std::filesystem::create_directory(folder);
  try {
    load_model(folder);
    FAIL() << "a folder was read";
  } catch (const InputError &error) {
    EXPECT_EQ(std::string(error.what()), folder + " is a directory");
  }
}

// Standard and rank scalings: format 5, exact round trips, and refusals of
// lines that disagree with '% scaling'.
TEST(ModelFile, OtherScalingsSayTheirKindAndRoundTrip) {
  Model model = awkward_model();
  model.feature_mean = {0.1, -3};
  model.feature_sd = {1.0 / 3, 0};
  std::string text = format_model(model);
  EXPECT_NE(text.find("% format 5\n% features 2\n% scaling standard\n% feature_mean 0.1 -3\n"
                      "% feature_sd 0.3333333333333333 0\n"),
            std::string::npos);
  Model copy = parse_model(text, "m.txt");
  EXPECT_EQ(copy.scaling(), Scaling::standard);
  EXPECT_EQ(copy.feature_mean, model.feature_mean);
  EXPECT_EQ(copy.feature_sd, model.feature_sd);
  EXPECT_EQ(format_model(copy), text);

  keep_scaling(model, FeatureScaling{Scaling::rank, {}, {}, {{-1, 0.5, 2}, {7}}, {{0, 0.5, 1}, {0}}});
  text = format_model(model);
  EXPECT_NE(text.find("% scaling rank\n% rank_values 1 -1 0.5 2\n% rank_shares 1 0 0.5 1\n"
                      "% rank_values 2 7\n% rank_shares 2 0\n"),
            std::string::npos);
  copy = parse_model(text, "m.txt");
  EXPECT_EQ(copy.scaling(), Scaling::rank);
  EXPECT_EQ(copy.rank_values, model.rank_values);
  EXPECT_EQ(copy.rank_shares, model.rank_shares);
  EXPECT_TRUE(copy.feature_mean.empty());
  EXPECT_EQ(format_model(copy), text);

  const auto refused = [&](const std::string &from, const std::string &to) {
    std::string changed = text;
    changed.replace(changed.find(from), from.size(), to);
    return failure(changed);
  };
  EXPECT_EQ(refused("% format 5", "% format 4"), "m.txt:4: '% scaling' needs model file format 5 or later");
  EXPECT_EQ(refused("% scaling rank\n", ""), "m.txt:4: a mean or rank scaling needs its '% scaling' line");
  EXPECT_EQ(refused("% scaling rank", "% scaling minmax"), "m.txt:4: '% scaling' takes standard or rank");
  EXPECT_EQ(refused("% scaling rank", "% scaling standard"),
            "m.txt:4: '% scaling standard' without its values");
  EXPECT_EQ(refused("% rank_values 2 7", "% rank_values 3 7"),
            "m.txt:7: '% rank_values' for feature '3' out of order (expected 2)");
  EXPECT_EQ(refused("% rank_values 1 -1 0.5 2", "% rank_values 1 -1 2 0.5"),
            "m.txt:5: feature 1: '% rank_values' must be finite and rise");
  EXPECT_EQ(refused("% rank_shares 1 0 0.5 1", "% rank_shares 1 0 0.5 0.4"),
            "m.txt:6: feature 1: '% rank_shares' must lie in [0, 1] and never fall");
  EXPECT_EQ(refused("% rank_shares 2 0\n", ""),
            "m.txt:5: a rank scaling needs '% rank_values' and '% rank_shares' for each of the 2 "
            "features");
  EXPECT_EQ(refused("% scaling rank\n", "% scaling rank\n% feature_min 0 0\n% feature_max 1 1\n"),
            "m.txt:4: '% scaling rank' with another scaling's values");
  // The writer refuses what the reader would: two scalings at once.
  model.feature_min = {0, 0};
  model.feature_max = {1, 1};
  EXPECT_THROW(format_model(model), InputError);
}
