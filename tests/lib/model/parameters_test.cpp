// The parameter table against what it describes: the modules' inputs and
// their refusals, the model file, the docs and the toolbox's help.
#include "model/parameters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base/errors.h"
#include "base/number_text.h"
#include "modules/module_runner.h"
#include "qirhost/host.h"

namespace qir {
namespace {

std::string read_source(const std::string &relative) {
  std::ifstream file(std::string(QIR_SOURCE_DIR) + "/" + relative, std::ios::binary);
  EXPECT_TRUE(file) << relative;
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string ordinal(int n) {
  const char *suffix = n % 100 / 10 == 1 ? "th"
                       : n % 10 == 1       ? "st"
                       : n % 10 == 2       ? "nd"
                       : n % 10 == 3       ? "rd"
                                           : "th";
  return std::to_string(n) + suffix;
}

// Values just outside a range, for the ends the range has.
std::vector<double> outside(const ParameterRange &range) {
  std::vector<double> values;
  if (range.whole) {
    values.push_back(range.low - 1);
    if (!std::isinf(range.high)) values.push_back(range.high + 1);
    return values;
  }
  values.push_back(range.low_open ? range.low : std::nextafter(range.low, -HUGE_VAL));
  if (!std::isinf(range.high))
    values.push_back(range.high_open ? range.high : std::nextafter(range.high, HUGE_VAL));
  return values;
}

TEST(Parameters, EveryNameIsOneParameterInEveryFrontEnd) {
  std::set<std::string_view> names, flags, toolbox, python, keys;
  std::set<int> train_inputs, perf_inputs;
  std::vector<double TrainingParams::*> fields;
  for (const Parameter &row : parameter_table) {
    SCOPED_TRACE(std::string(row.name));
    EXPECT_TRUE(names.insert(row.name).second);
    EXPECT_TRUE(flags.insert(row.flag).second);
    EXPECT_TRUE(toolbox.insert(row.toolbox).second);
    EXPECT_TRUE(python.insert(row.python).second);
    if (!row.model_key.empty()) {
      EXPECT_TRUE(keys.insert(row.model_key).second);
    }
    if (row.train_input > 0) {
      EXPECT_TRUE(train_inputs.insert(row.train_input).second);
    }
    if (row.perf_input > 0) {
      EXPECT_TRUE(perf_inputs.insert(row.perf_input).second);
    }
    if (row.field != nullptr) {
      EXPECT_EQ(std::count(fields.begin(), fields.end(), row.field), 0);
      fields.push_back(row.field);
      EXPECT_GT(row.train_input, 0) << "a model's parameter is a training argument";
      EXPECT_FALSE(row.model_key.empty()) << "a model's parameter is kept in its file";
    }
    EXPECT_EQ(row.module_name.empty(), row.train_input == 0 && row.perf_input == 0);
    if (std::isnan(row.default_value)) {
      EXPECT_FALSE(row.default_text.empty()) << "a default the data decide says how";
    } else {
      EXPECT_TRUE(in_range(row.range, row.default_value)) << default_text(row);
    }
    EXPECT_EQ(&parameter(row.name), &row);
  }
  EXPECT_EQ(fields.size(), sizeof(TrainingParams) / sizeof(double));  // every field has its row
  EXPECT_THROW(parameter("no such parameter"), std::logic_error);
  // The default limit's text says what default_max_presentations computes.
  const TrainingDefaults &d = training_defaults;
  EXPECT_EQ(default_text(parameter("max_presentations")),
            format_number(d.training_work) + " / patterns / voters, rounded up, " +
                format_number(d.fewest_presentations) + " to " +
                format_number(d.max_presentations));
}

TEST(Parameters, RangesReadAsTheyTest) {
  EXPECT_EQ(range_text(parameter("ratio").range), "in (0, 1]");
  EXPECT_EQ(range_text(parameter("D").range), ">= 0");
  EXPECT_EQ(range_text(parameter("trim").range), "0 or 1");
  EXPECT_EQ(range_text(parameter("voters").range), "a whole number from 1 to 1000");
  EXPECT_EQ(range_text(parameter("seed").range), "a whole number >= 0");
  const ParameterRange &ratio = parameter("ratio").range;
  EXPECT_FALSE(in_range(ratio, 0));
  EXPECT_TRUE(in_range(ratio, 1));
  EXPECT_FALSE(in_range(ratio, std::nextafter(1.0, 2.0)));
  EXPECT_FALSE(in_range(ratio, NAN));
  EXPECT_FALSE(in_range(parameter("voters").range, 2.5));
}

// Each module input the table places is the one the module refuses under
// the table's name when given a value outside the table's range, and takes
// at the range's closed ends.
TEST(Parameters, ModulesTakeEachParameterWhereTheTablePlacesIt) {
  ModuleRunner runner(module_directory(std::nullopt));
  runner.set_console({[](std::string_view) {}, [](std::string_view) {}});
  Dataset data;
  data.patterns = {{0.1, 0.2}, {0.8, 0.9}, {0.2, 0.1}};
  data.labels = {1, 2, 1};
  const TrainingParams base{1, 0.5, 0, 0.1, 1, 10, 0, 0};
  const Model model = runner.train(data, base, 0);
  const auto patterns = qirhost::make_rows(data.patterns);
  const std::pair<std::string_view, double ClassifyParams::*> perf_slots[] = {
      {"D", &ClassifyParams::D},         {"ratio", &ClassifyParams::ratio},
      {"vigilance", &ClassifyParams::vigilance}, {"alpha", &ClassifyParams::alpha},
      {"ct", &ClassifyParams::ct},       {"unknown_label", &ClassifyParams::unknown_label},
      {"oflag", &ClassifyParams::oflag}};
  auto train_with = [&](const Parameter &row, double value) {
    TrainingParams p = base;
    double oflag = 0;
    (row.field != nullptr ? p.*row.field : oflag) = value;
    runner.train(data, p, oflag);
  };
  auto classify_with = [&](const Parameter &row, double value) {
    ClassifyParams p{1, 0.5, 0, 0.1, 0, -1, 0};
    for (const auto &[name, slot] : perf_slots)
      if (name == row.name) p.*slot = value;
    runner.classify(model, patterns.get(), p);
  };
  auto refusal = [](const auto &call) {
    try {
      call();
    } catch (const ModuleError &error) {
      return std::string(error.what());
    }
    return std::string("(taken)");
  };
  for (const Parameter &row : parameter_table) {
    SCOPED_TRACE(std::string(row.name));
    for (double value : outside(row.range)) {
      SCOPED_TRACE(format_number(value));
      const std::string named = " input argument (" + std::string(row.module_name) + ")";
      if (row.train_input > 0) {
        EXPECT_NE(refusal([&] { train_with(row, value); }).find(ordinal(row.train_input) + named),
                  std::string::npos);
      }
      if (row.perf_input > 0) {
        EXPECT_NE(refusal([&] { classify_with(row, value); }).find(ordinal(row.perf_input) + named),
                  std::string::npos);
      }
    }
    if (row.train_input == 0) continue;
    for (double end : {row.range.low, row.range.high}) {
      if (std::isfinite(end) && in_range(row.range, end) && end <= 1e6) {
        EXPECT_EQ(refusal([&] { train_with(row, end); }), "(taken)") << end;
      }
    }
  }
}

TEST(Parameters, EveryModelKeyIsWrittenAndRead) {
  Model model;
  model.features = 1;
  model.members = {{{{0.5, 0, 0}}, {1}, 2}, {{{0.25, 0, 0}}, {1}, 3}};
  model.voting = {2, 7, true, 0.5, true, true};
  model.feature_mean = {0.5};  // a scaling that says its kind
  model.feature_sd = {0.25};
  double value = 0.125;
  for (const Parameter &row : parameter_table)
    if (row.field != nullptr) model.params.*row.field = value *= 2;
  const std::string text = format_model(model);
  const Model back = parse_model(text, "m.model");
  for (const Parameter &row : parameter_table) {
    if (row.model_key.empty()) continue;
    SCOPED_TRACE(std::string(row.name));
    const std::size_t line = text.find("\n% " + std::string(row.model_key) + " ");
    ASSERT_NE(line, std::string::npos);
    if (row.field == nullptr) continue;
    EXPECT_EQ(back.params.*row.field, model.params.*row.field);
    std::string without = text;
    without.erase(line + 1, without.find('\n', line + 1) - line);
    try {
      parse_model(without, "m.model");
      ADD_FAILURE() << "a file without its key was read";
    } catch (const InputError &error) {
      EXPECT_NE(std::string(error.what()).find("'% " + std::string(row.model_key) + "'"),
                std::string::npos);
    }
  }
}

// The docs' table, as docs/command.md shows it after its marker line.
std::string docs_row(const Parameter &row) {
  auto code = [](std::string_view text) {
    return text.empty() ? std::string("-") : "`" + std::string(text) + "`";
  };
  std::string module = row.module_name.empty() ? "-" : code(row.module_name) + " (";
  if (row.train_input > 0) module += "qir_train " + std::to_string(row.train_input);
  if (row.train_input > 0 && row.perf_input > 0) module += ", ";
  if (row.perf_input > 0) module += "qir_perf " + std::to_string(row.perf_input);
  if (!row.module_name.empty()) module += ")";
  return "| " + code(row.flag) + " | " + code("'" + std::string(row.toolbox) + "'") + " | " +
         code(row.python) + " | " + code(row.model_key) + " | " + module + " | " +
         allowed_text(row) + " | " + default_text(row) + " | " + std::string(row.description) +
         " |";
}

TEST(Parameters, DocsTableIsTheTable) {
  std::string expected =
      "| Command | Toolbox | Python | Model file | Module input | Range | Default | "
      "What it sets |\n"
      "|---|---|---|---|---|---|---|---|\n";
  for (const Parameter &row : parameter_table) expected += docs_row(row) + "\n";
  const std::string page = read_source("docs/command.md");
  const std::string marker = "<!-- parameter table -->\n";
  const std::size_t at = page.find(marker);
  ASSERT_NE(at, std::string::npos) << "docs/command.md has no '" << marker << "' line";
  const std::size_t start = at + marker.size();
  const std::size_t end = page.find("\n\n", start);
  EXPECT_EQ(page.substr(start, end - start + 1), expected)
      << "docs/command.md's parameter table differs from lib/model/parameters.h; it reads:\n"
      << expected;
  // The model-file page names every key.
  const std::string model_files = read_source("docs/model-files.md");
  for (const Parameter &row : parameter_table) {
    if (row.model_key.empty()) continue;
    EXPECT_NE(model_files.find("`" + std::string(row.model_key) + "`"), std::string::npos)
        << "docs/model-files.md does not name " << row.model_key;
  }
}

// qir_fit's help lists every option with the table's default.
TEST(Parameters, ToolboxHelpGivesTheTablesDefaults) {
  const std::string help = read_source("toolbox/qir_fit.m");
  for (const Parameter &row : parameter_table) {
    if (row.train_input == 0 && row.model_key.empty() && row.name != "scale") continue;
    SCOPED_TRACE(std::string(row.name));
    const std::string option = "%     '" + std::string(row.toolbox) + "'";
    const std::size_t line = help.find(option);
    ASSERT_NE(line, std::string::npos) << "qir_fit.m's help has no " << option << " line";
    const std::string text = help.substr(line, help.find('\n', line) - line);
    std::string shown = default_text(row);
    if (row.logical && (row.default_value == 0 || row.default_value == 1))
      shown = row.default_value == 1 ? "true" : "false";
    EXPECT_NE(text.find("(default " + shown + ")"), std::string::npos) << text;
    if (!row.range.whole) {
      EXPECT_NE(text.find(range_text(row.range)), std::string::npos) << text;
    }
  }
}

}  // namespace
}  // namespace qir
