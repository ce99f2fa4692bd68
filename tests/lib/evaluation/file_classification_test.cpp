// Classifying a file in blocks against the whole file in one block: every
// printed byte, every written byte and the first error the same.
#include "evaluation/file_classification.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>

#include "base/errors.h"
#include "base/number_text.h"
#include "modules/fitting.h"
#include "../temp_dir.h"

using namespace qir;

namespace {

// Three overlapping classes in the plane; at vigilance 0.75 some patterns
// of the test file find no node.
Dataset training_data(bool named) {
  Dataset data;
  for (int k = 0; k < 90; ++k) {
    const int c = k % 3;
    data.patterns.push_back({std::fmod(k * 0.37, 1.0) + c * 0.6, std::fmod(k * 0.61, 1.0)});
    data.labels.push_back(c + 1);
  }
  if (named) data.class_names = {{1, "alpha"}, {2, "beta"}, {3, "gamma"}};
  data.feature_names = {"x", "y"};
  return data;
}

std::string read_file(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// What a classification printed, wrote and returned, or the error it ended with.
struct Outcome {
  std::string console, warnings, labels, shares, summary, error;
  bool operator==(const Outcome &other) const {
    return console == other.console && warnings == other.warnings && labels == other.labels &&
           shares == other.shares && summary == other.summary && error == other.error;
  }
};

std::ostream &operator<<(std::ostream &out, const Outcome &o) {
  return out << "console:\n" << o.console << "warnings:\n" << o.warnings << "labels:\n"
             << o.labels.substr(0, 400) << "shares:\n" << o.shares.substr(0, 400)
             << "summary:\n" << o.summary << "error: " << o.error << "\n";
}

struct Setting {
  TempDir dir;
  Model model;
  ClassifyParams params;
  int calls = 0;

  explicit Setting(bool named, double vigilance = 0.75) {
    ModuleRunner runner(module_directory(std::nullopt));
    runner.set_console({[](std::string_view) {}, {}});
    const TrainingParams training{1.0, 0.5, 0.6, 0.1, 1, 100, 0, 0};
    model = fit_model(runner, training_data(named), training, true, 0, {3, 5, true});
    params = {training.D, training.ratio, vigilance, training.alpha, 0,
              unused_label(model_classes(model).labels), 1};
  }

  Outcome classify(const std::string &data, FileClassification job, std::size_t block_rows,
                   double oflag = 1) {
    ModuleRunner runner(module_directory(std::nullopt));
    Outcome o;
    runner.set_console({[&](std::string_view text) { o.console += text; },
                        [&](std::string_view text) { o.warnings += "module: " + std::string(text); }});
    job.data = data;
    job.block_rows = block_rows;
    job.read_size = 64;  // records cross the reads' ends
    const std::string call = std::to_string(++calls);
    job.labels_path = dir.path("labels-" + call + ".csv");
    job.scores_path = dir.path("shares-" + call + ".csv");
    ClassifyParams p = params;
    p.oflag = oflag;
    std::ostringstream warnings;
    try {
      const FileClassificationResult r = classify_file(runner, model, p, job, warnings);
      o.summary = std::to_string(r.patterns) + " patterns, " + std::to_string(r.unclassified) +
                  " unclassified\n";
      if (r.scores) o.summary += format_scores(*r.scores, r.class_names);
      o.labels = read_file(*job.labels_path);
      o.shares = read_file(*job.scores_path);
    } catch (const std::exception &error) {
      o.error = error.what();
      // Nothing is left behind by a failed classification.
      EXPECT_FALSE(std::ifstream(*job.labels_path).good());
    }
    o.warnings += warnings.str();
    // Slow builds (sanitizers) may take a second more over small blocks.
    o.console = std::regex_replace(o.console, std::regex(" in [0-9]+ seconds"), " in S seconds");
    return o;
  }

  // The file in one block, and in blocks of sizes that do not divide it.
  Outcome same_in_blocks(const std::string &data, const FileClassification &job = {},
                         double oflag = 1) {
    const Outcome whole = classify(data, job, 0, oflag);
    for (std::size_t rows : {1, 7, 64}) EXPECT_EQ(classify(data, job, rows, oflag), whole) << rows;
    return whole;
  }
};

// Test patterns: a grid over and beyond the training classes, with labels.
std::string test_file(bool named, const std::string &header = "x,y,class\n",
                      int rows = 150) {
  const char *names[] = {"alpha", "beta", "gamma"};
  std::string text = header;
  for (int k = 0; k < rows; ++k) {
    const int c = k % 3;
    text += format_number(std::fmod(k * 0.29, 2.4) - 0.1) + "," +
            format_number(std::fmod(k * 0.53, 1.3) - 0.1) + "," +
            (named ? names[c] : std::to_string(c + 1)) + "\n";
  }
  return text;
}

}  // namespace

TEST(FileClassification, BlocksPrintAndWriteWhatOneCallDoes) {
  Setting numbers(false);
  const std::string data = numbers.dir.file("test.csv", test_file(false));
  for (double oflag : {0.0, 1.0}) {
    const Outcome whole = numbers.same_in_blocks(data, {}, oflag);
    EXPECT_EQ(whole.error, "");
    EXPECT_NE(whole.summary.find("150 patterns"), std::string::npos);
    EXPECT_EQ(whole.summary.find(" 0 unclassified"), std::string::npos) << "no unknowns tested";
    if (oflag == 1) {
      EXPECT_NE(whole.console.find("unable to classify"), std::string::npos);
    }
  }
  // Without true labels, and with every pattern classified.
  FileClassification unlabelled;
  unlabelled.source.kind = LabelSource::Kind::none;
  std::string features;
  for (int k = 0; k < 100; ++k)
    features += format_number(std::fmod(k * 0.29, 1.0)) + " " + format_number(std::fmod(k * 0.53, 1.0)) + "\n";
  Setting open(false, 0);
  EXPECT_EQ(open.same_in_blocks(open.dir.file("plain.txt", features), unlabelled).error, "");
}

TEST(FileClassification, NamesHeadersAndLabelFiles) {
  Setting named(true);
  // A class the model does not know, a header that names the columns
  // differently (a warning), and the unknown label 0 written as "0".
  std::string data = test_file(true, "x,z,class\n");
  data += "0.5,0.5,delta\n1.7,0.2,beta\n";
  FileClassification job;
  job.written_unknown = 0;
  const Outcome whole = named.same_in_blocks(named.dir.file("named.csv", data), job);
  EXPECT_NE(whole.warnings.find("column 2 is 'z'"), std::string::npos) << whole.warnings;
  EXPECT_NE(whole.summary.find("delta"), std::string::npos) << whole.summary;

  Setting numbers(false);
  EXPECT_EQ(numbers.params.unknown_label, 0);
  std::string labels, features;
  for (int k = 0; k < 40; ++k) {
    features += format_number(std::fmod(k * 0.29, 2.4)) + ";" + format_number(std::fmod(k * 0.53, 1.3)) + "\n";
    labels += std::to_string(k % 3 + 1) + "\n";
  }
  FileClassification separate;
  separate.source = {LabelSource::Kind::separate_file, numbers.dir.file("labels.txt", labels)};
  EXPECT_EQ(numbers.same_in_blocks(numbers.dir.file("features.csv", features), separate).error, "");
  separate.source.file = numbers.dir.file("short.txt", labels.substr(2));
  EXPECT_NE(numbers.same_in_blocks(numbers.dir.file("features.csv", features), separate).error.find("39 labels for 40 patterns"),
            std::string::npos);
}

// The first fault of the file is the error, wherever the blocks end: a bad
// row late in the file comes before the checks of the whole table.
TEST(FileClassification, ErrorsNameTheLineOfTheWholeFile) {
  Setting s(false);
  const std::string good = test_file(false);
  const auto with_line = [&](int line, const std::string &row) {
    std::string text;
    std::istringstream in(good);
    std::string current;
    for (int k = 1; std::getline(in, current); ++k) text += (k == line ? row : current) + "\n";
    return text;
  };
  struct Case {
    std::string text, error;
  };
  const std::vector<Case> cases{
      {with_line(140, "0.5,oops,2"), "bad.csv:140: column 2: 'oops' is not a number"},
      {with_line(90, "0.5,0.5"), "bad.csv:90: 2 columns, but line 2 has 3"},
      {with_line(100, "0.5,0.5,2.5"), "bad.csv:100: label 2.5 is not a whole number"},
      // A label fault early, a reading fault late: the reading fault first.
      {with_line(120, "0.5,,1").replace(good.find('\n') + 1, 0, "0.1,0.2,1.5\n"),
       "bad.csv:121: column 2 is empty"},
      // Too many features, and a bad label after the first block.
      {"a,b,c,class\n" + std::string("0.1,0.2,0.3,1\n") + std::string(80, ' ') + "\n" +
           "0.1,0.2,0.3,1\n0.1,0.2,0.3,1\n0.1,0.2,0.3,1\n0.1,0.2,0.3,1\n0.1,0.2,0.3,1\n"
           "0.1,0.2,0.3,1\n0.1,0.2,0.3,1.5\n",
       "bad.csv:10: label 1.5"},
      {"a,b,c,class\n0.1,0.2,0.3,1\n0.1,0.2,0.3,1\n0.1,0.2,0.3,1\n0.1,0.2,0.3,1\n0.1,0.2,0.3,1\n"
       "0.1,0.2,0.3,1\n0.1,0.2,0.3,1\n0.1,0.2,0.3,1\n",
       "the model has 2 features, the data have 3"},
      {"x,y\n" + std::string("0.1,0.2\n0.3,0.4\n0.5,0.6\n0.1,0.2\n0.3,0.4\n0.5,0.6\n0.1,0.2\n0.3,0.4\n"),
       "2 columns, as many as the model has features"},
      {"0.1,0.2,\"a\nb\"\n" + good.substr(good.find('\n') + 1),
       "bad.csv:1: column 3: the class name"},
  };
  for (const Case &c : cases) {
    const Outcome whole = s.same_in_blocks(s.dir.file("bad.csv", c.text));
    EXPECT_NE(whole.error.find(c.error), std::string::npos) << whole.error << "\nexpected: " << c.error;
    EXPECT_EQ(whole.console, "");
  }
}
