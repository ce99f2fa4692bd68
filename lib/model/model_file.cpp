#include "model_file.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "../base/errors.h"
#include "../base/number_text.h"
#include "parameters.h"

namespace qir {
namespace {

// Format 2 adds the scaling ranges and class names, format 3 the members of
// an ensemble; a model is written in the lowest format that holds it, so
// older readers keep reading what they can. A new format raises
// newest_format and names the keys it adds in header_keys.
constexpr int plain_format = 1;
constexpr int extended_format = 2;
constexpr int ensemble_format = 3;
// Members that see only some features: their rows are narrower, which
// older readers would refuse row by row.
constexpr int views_format = 4;
// Scalings other than min-max: an older reader would classify raw features.
constexpr int scaling_format = 5;
// Weighted votes: an older reader would count every member once.
constexpr int weights_format = scaling_format;
constexpr int newest_format = scaling_format;

bool has_feature_views(const Model &model) {
  for (const Member &member : model.members)
    if (!member.features.empty()) return true;
  return false;
}

// A single unshuffled member that sees some features (after a screen) is
// written as an ensemble of one: its features' line needs a member line.
bool is_ensemble(const Model &model) {
  return model.members.size() > 1 || model.voting.shuffle || model.voting.voters != 1 ||
         model.voting.bootstrap || model.voting.max_features != 1 || model.voting.oob_weights ||
         has_feature_views(model);
}

// Feature names need no format of their own: every reader takes a '%' line
// of an unknown key as a comment, and the model classifies the same without
// its names.
int format_of(const Model &model) {
  const Scaling scaling = model.scaling();
  if (scaling == Scaling::standard || scaling == Scaling::rank) return scaling_format;
  if (model.voting.oob_weights) return weights_format;
  if (has_feature_views(model)) return views_format;
  if (is_ensemble(model)) return ensemble_format;
  return model.scales() || !model.class_names.empty() ? extended_format : plain_format;
}

std::string member_line(std::size_t number, std::size_t nodes, double presentations) {
  return "% member " + std::to_string(number) + " nodes " + std::to_string(nodes) +
         " list_presentations " + format_number(presentations) + "\n";
}

enum class KeyKind { count, fraction, parameter, list, feature_name, class_name, member,
                     member_features, scaling, rank_list, member_weight };

struct HeaderKey {
  std::string_view name;
  KeyKind kind;
  int since_format;  // the first format that may carry the key
  bool required;
};

// Every header key a model file may carry, in the order they are written;
// the training parameters' keys are the parameter table's. A line whose
// first word is none of these is a comment.
std::vector<HeaderKey> make_header_keys() {
  std::vector<HeaderKey> keys{{"format", KeyKind::count, plain_format, true},
                              {"features", KeyKind::count, plain_format, true},
                              {"scaling", KeyKind::scaling, scaling_format, false},
                              {"feature_min", KeyKind::list, extended_format, false},
                              {"feature_max", KeyKind::list, extended_format, false},
                              {"feature_mean", KeyKind::list, scaling_format, false},
                              {"feature_sd", KeyKind::list, scaling_format, false},
                              {"rank_values", KeyKind::rank_list, scaling_format, false},
                              {"rank_shares", KeyKind::rank_list, scaling_format, false},
                              {"feature", KeyKind::feature_name, plain_format, false}};
  for (const Parameter &row : parameter_table)
    if (row.field != nullptr)
      keys.push_back({row.model_key, KeyKind::parameter, plain_format, true});
  const HeaderKey rest[] = {{"list_presentations", KeyKind::parameter, plain_format, true},
                            {"voters", KeyKind::count, ensemble_format, false},
                            {"seed", KeyKind::count, ensemble_format, false},
                            {"shuffle", KeyKind::count, ensemble_format, false},
                            {"batches", KeyKind::count, ensemble_format, false},
                            {"max_features", KeyKind::fraction, ensemble_format, false},
                            {"bootstrap", KeyKind::count, ensemble_format, false},
                            {"oob_weights", KeyKind::count, weights_format, false},
                            {"class", KeyKind::class_name, extended_format, false},
                            {"nodes", KeyKind::count, plain_format, true},
                            {"member", KeyKind::member, ensemble_format, false},
                            {"member_features", KeyKind::member_features, views_format, false},
                            {"member_weight", KeyKind::member_weight, weights_format, false}};
  keys.insert(keys.end(), std::begin(rest), std::end(rest));
  return keys;
}

const std::vector<HeaderKey> &header_keys() {
  static const std::vector<HeaderKey> keys = make_header_keys();
  return keys;
}

const HeaderKey *find_key(std::string_view name) {
  for (const HeaderKey &key : header_keys())
    if (key.name == name) return &key;
  return nullptr;
}

// The parameter keys, each bound to the value it holds.
std::vector<std::pair<std::string, double *>> parameter_slots(Model &model) {
  std::vector<std::pair<std::string, double *>> slots;
  for (const Parameter &row : parameter_table)
    if (row.field != nullptr) slots.emplace_back(row.model_key, &(model.params.*row.field));
  slots.emplace_back("list_presentations", &model.members.front().list_presentations);
  return slots;
}

// A value as a message shows it: a file can hold words of any length.
std::string quoted(std::string_view word) {
  constexpr std::size_t shown = 24;
  if (word.size() <= shown) return "'" + shown_text(word) + "'";
  return "'" + shown_text(word.substr(0, shown)) + "...' (" + std::to_string(word.size()) +
         " characters)";
}

std::string label_text(double label) { return format_number(label); }

// Where a fault of a whole model lies, so that the reader can name the line.
enum class Place { none, key, node, class_line, feature_line };

struct Fault {
  std::string what;
  Place place = Place::none;
  std::string key;        // Place::key
  std::size_t index = 0;  // Place::node, Place::class_line, Place::feature_line
};

// A name that fits on one '%' line.
bool one_line_name(std::string_view name) {
  const std::string_view trimmed = trim(name);
  return !trimmed.empty() && trimmed.find_first_of("\n\r") == std::string_view::npos;
}

// Names are UTF-8, so that every front end shows and compares them alike
// (a Latin-1 byte would be text in one and an error in another).
std::optional<std::string> name_fault(const std::string &what, std::string_view name) {
  if (!one_line_name(name)) return what + " '" + shown_text(name) + "' is empty or spans lines";
  if (first_invalid_utf8(name) != std::string_view::npos)
    return what + " '" + shown_text(trim(name)) +
           "' is not UTF-8 text; save the names as UTF-8";
  return std::nullopt;
}

std::optional<Fault> parameter_fault(const Model &model) {
  Model copy = model;  // parameter_slots binds to mutable slots
  for (const auto &[key, slot] : parameter_slots(copy))
    if (std::isnan(*slot)) return Fault{"'% " + key + "' is NaN", Place::key, key};
  return std::nullopt;
}

std::optional<Fault> finite_list_fault(const std::vector<double> &values, std::size_t m,
                                       const std::string &key) {
  if (values.size() != m)
    return Fault{"'% " + key + "' needs " + std::to_string(m) + " values, one per feature",
                 Place::key, key};
  for (std::size_t k = 0; k < m; ++k)
    if (!std::isfinite(values[k]))
      return Fault{"feature " + std::to_string(k + 1) + ": '% " + key + "' is not finite",
                   Place::key, key};
  return std::nullopt;
}

std::optional<Fault> standard_fault(const Model &model) {
  const std::size_t m = static_cast<std::size_t>(model.features);
  if (auto fault = finite_list_fault(model.feature_mean, m, "feature_mean")) return fault;
  if (auto fault = finite_list_fault(model.feature_sd, m, "feature_sd")) return fault;
  for (std::size_t k = 0; k < m; ++k)
    if (model.feature_sd[k] < 0)
      return Fault{"feature " + std::to_string(k + 1) + ": '% feature_sd' is below 0", Place::key,
                   "feature_sd"};
  return std::nullopt;
}

// Each feature's kept values rise strictly; their shares lie in [0, 1]
// and never fall, so that scaling keeps the order of values.
std::optional<Fault> rank_fault(const Model &model) {
  const std::size_t m = static_cast<std::size_t>(model.features);
  if (model.rank_values.size() != m || model.rank_shares.size() != m)
    return Fault{"a rank scaling needs '% rank_values' and '% rank_shares' for each of the " +
                     std::to_string(m) + " features",
                 Place::key, "rank_values"};
  for (std::size_t k = 0; k < m; ++k) {
    const auto &values = model.rank_values[k], &shares = model.rank_shares[k];
    const std::string feature = "feature " + std::to_string(k + 1) + ": ";
    if (values.empty() || values.size() != shares.size())
      return Fault{feature + "'% rank_values' and '% rank_shares' need as many values, at least one",
                   Place::key, "rank_values"};
    for (std::size_t j = 0; j < values.size(); ++j) {
      if (!std::isfinite(values[j]) || (j > 0 && !(values[j] > values[j - 1])))
        return Fault{feature + "'% rank_values' must be finite and rise", Place::key,
                     "rank_values"};
      if (!(shares[j] >= 0 && shares[j] <= 1) || (j > 0 && shares[j] < shares[j - 1]))
        return Fault{feature + "'% rank_shares' must lie in [0, 1] and never fall", Place::key,
                     "rank_shares"};
    }
  }
  return std::nullopt;
}

std::optional<Fault> range_fault(const Model &model) {
  const int kinds = int{!model.feature_min.empty() || !model.feature_max.empty()} +
                    int{!model.feature_mean.empty() || !model.feature_sd.empty()} +
                    int{!model.rank_values.empty() || !model.rank_shares.empty()};
  if (kinds > 1)
    return Fault{"a model keeps one scaling: a range, a mean and deviation, or ranks", Place::key,
                 "scaling"};
  if (model.scaling() == Scaling::standard || !model.feature_sd.empty())
    return standard_fault(model);
  if (model.scaling() == Scaling::rank || !model.rank_shares.empty()) return rank_fault(model);
  if (!model.scales() && model.feature_max.empty()) return std::nullopt;
  const std::size_t m = static_cast<std::size_t>(model.features);
  if (model.feature_min.size() != m || model.feature_max.size() != m)
    return Fault{"'% feature_min' and '% feature_max' need " + std::to_string(m) +
                     " values each, one per feature",
                 Place::key, model.feature_min.size() != m ? "feature_min" : "feature_max"};
  for (std::size_t k = 0; k < m; ++k) {
    const std::string feature = "feature " + std::to_string(k + 1) + ": ";
    if (!std::isfinite(model.feature_min[k]))
      return Fault{feature + "'% feature_min' is not finite", Place::key, "feature_min"};
    if (!std::isfinite(model.feature_max[k]))
      return Fault{feature + "'% feature_max' is not finite", Place::key, "feature_max"};
    if (model.feature_min[k] > model.feature_max[k])
      return Fault{feature + "'% feature_min' is above '% feature_max'", Place::key,
                   "feature_max"};
  }
  return std::nullopt;
}

// The node labels of every member, in file order.
std::vector<double> all_node_labels(const Model &model) {
  std::vector<double> labels;
  for (const Member &member : model.members)
    labels.insert(labels.end(), member.labels.begin(), member.labels.end());
  return labels;
}

std::optional<Fault> node_fault(const Model &model) {
  std::size_t first_row = 0;  // of the member among all rows
  for (const Member &member : model.members) {
    const std::size_t width = 2 * member.width(model.features) + 1;
    if (member.labels.size() != member.templates.size())
      return Fault{std::to_string(member.templates.size()) + " template rows but " +
                   std::to_string(member.labels.size()) + " labels",
                   Place::none, "", 0};
    for (std::size_t k = 0; k < member.templates.size(); ++k) {
      const auto &row = member.templates[k];
      const std::size_t at = first_row + k;
      if (row.size() != width)
        return Fault{std::to_string(row.size() + 1) + " values, a node row has " +
                         std::to_string(width + 1),
                     Place::node, "", at};
      for (double value : row)
        if (!std::isfinite(value))
          return Fault{"node value " + format_number(value) + " is not finite", Place::node, "",
                       at};
      if (!is_class_label(member.labels[k]))
        return Fault{"node label " + label_text(member.labels[k]) +
                         " is not a whole number from -2147483648 to 2147483647",
                     Place::node, "", at};
    }
    first_row += member.templates.size();
  }
  return std::nullopt;
}

// A member's features: ascending, each one of the model's.
std::optional<Fault> member_feature_fault(const Model &model) {
  const auto m = static_cast<std::size_t>(model.features);
  for (std::size_t k = 0; k < model.members.size(); ++k) {
    const auto &features = model.members[k].features;
    for (std::size_t j = 0; j < features.size(); ++j)
      if (features[j] >= m || (j > 0 && features[j] <= features[j - 1]))
        return Fault{"member " + std::to_string(k + 1) +
                         ": '% member_features' must name features from 1 to " +
                         std::to_string(m) + " in ascending order",
                     Place::key, "member_features"};
  }
  return std::nullopt;
}

std::optional<Fault> voting_fault(const Model &model) {
  if (!is_ensemble(model)) return std::nullopt;
  if (!(model.voting.max_features > 0 && model.voting.max_features <= 1))
    return Fault{"'% max_features' must lie in (0, 1]", Place::key, "max_features"};
  if ((model.voting.bootstrap || model.voting.max_features < 1) && !model.voting.shuffle)
    return Fault{"members' own draws need '% shuffle 1'", Place::key, "shuffle"};
  if (model.voting.oob_weights && !model.voting.bootstrap)
    return Fault{"'% oob_weights 1' needs '% bootstrap 1': only a draw leaves patterns out",
                 Place::key, "oob_weights"};
  for (const Member &member : model.members)
    if (!(member.weight > 0 && member.weight <= 1) ||
        (member.weight != 1 && !model.voting.oob_weights))
      return Fault{"'% member_weight' must lie in (0, 1], with '% oob_weights 1'", Place::key,
                   "member_weight"};
  if (model.voting.voters != static_cast<int>(model.members.size()))
    return Fault{"'% voters " + std::to_string(model.voting.voters) + "' but " +
                     std::to_string(model.members.size()) + " members",
                 Place::key, "voters"};
  if (model.members.size() > 1 && !model.voting.shuffle)
    return Fault{"members without '% shuffle 1' would all be alike", Place::key, "shuffle"};
  return std::nullopt;
}

// With class names, names and node labels correspond one to one.
std::optional<Fault> class_fault(const Model &model) {
  if (model.class_names.empty()) return std::nullopt;
  std::set<double> named;
  std::set<std::string> names;
  const std::vector<double> labels = all_node_labels(model);
  const std::set<double> carried(labels.begin(), labels.end());
  for (std::size_t k = 0; k < model.class_names.size(); ++k) {
    const auto &[label, name] = model.class_names[k];
    const std::string_view trimmed = trim(name);
    if (auto fault = name_fault("class name", name))
      return Fault{*fault, Place::class_line, "", k};
    if (!named.insert(label).second)
      return Fault{"class " + std::to_string(label) + " named twice", Place::class_line, "", k};
    if (!names.insert(std::string(trimmed)).second)
      return Fault{"class name '" + shown_text(trimmed) + "' given to two labels",
                   Place::class_line, "", k};
    if (carried.count(label) == 0)
      return Fault{"class " + std::to_string(label) + " is the label of no node",
                   Place::class_line, "", k};
  }
  for (std::size_t k = 0; k < labels.size(); ++k)
    if (named.count(labels[k]) == 0)
      return Fault{"node label " + label_text(labels[k]) + " has no '% class' line",
                   Place::node, "", k};
  return std::nullopt;
}

std::optional<Fault> feature_name_fault(const Model &model) {
  const auto &names = model.feature_names;
  if (names.empty()) return std::nullopt;
  if (names.size() != static_cast<std::size_t>(model.features))
    return Fault{"'% feature' lines name " + std::to_string(names.size()) + " of " +
                     std::to_string(model.features) + " features; name every feature or none",
                 Place::feature_line, "",
                 std::min(names.size(), static_cast<std::size_t>(model.features + 1)) - 1};
  for (std::size_t k = 0; k < names.size(); ++k)
    if (auto fault = name_fault("feature name", names[k]))
      return Fault{*fault, Place::feature_line, "", k};
  return std::nullopt;
}

std::optional<Fault> first_fault(const Model &model) {
  if (!(model.features >= 1 && model.features <= max_model_features))
    return Fault{"'% features' must be a whole number from 1 to " +
                     std::to_string(max_model_features),
                 Place::key, "features"};
  if (model.members.empty()) return Fault{"a model without members", Place::none, "", 0};
  for (auto check : {parameter_fault, range_fault, feature_name_fault, member_feature_fault,
                     node_fault, class_fault, voting_fault})
    if (auto fault = check(model)) return fault;
  return std::nullopt;
}

std::string format_row(const std::vector<double> &row, double label) {
  std::string line;
  for (double value : row) line += format_number(value) + " ";
  return line + format_number(label) + "\n";
}

std::string format_list(const std::string &key, const std::vector<double> &values) {
  std::string line = "% " + key;
  for (double value : values) line += " " + format_number(value);
  return line + "\n";
}

constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

std::string_view without_byte_order_mark(std::string_view text) {
  if (text.substr(0, byte_order_mark.size()) == byte_order_mark)
    text.remove_prefix(byte_order_mark.size());
  return text;
}

// A number written in full whose magnitude no double holds ("1e999"), as
// opposed to a word that is no number at all ("-", "1.2.3").
bool beyond_doubles(std::string_view word) {
  if (word.size() > 1 && word.front() == '+' && word[1] != '-') word.remove_prefix(1);
  double value = 0;
  return read_double(word, value) == DoubleText::out_of_range;
}

// Parsing state: the header values seen, where each was, and the node rows.
struct Reader {
  const std::string &path;
  Model model;
  std::map<std::string, double, std::less<>> counts;  // format, features, nodes
  std::map<std::string, int, std::less<>> key_lines;
  std::vector<int> node_lines, class_lines, feature_lines;
  int line_number = 0;
  // The node count that each '% member' line promised, and its line.
  std::vector<double> member_nodes;
  std::vector<int> member_lines;

  // Rows before any '% member' line are member 1's.
  Member &current_member() { return model.members.back(); }

  void member_line(std::istringstream &words) {
    std::string index_word, nodes_word, count_word, presentations_word, presentations_value, rest;
    words >> index_word >> nodes_word >> count_word >> presentations_word >> presentations_value;
    if (nodes_word != "nodes" || presentations_word != "list_presentations" || (words >> rest))
      fail("a member line reads '% member K nodes N list_presentations P'");
    const double k = number(index_word), n = number(count_word), p = number(presentations_value);
    if (k != static_cast<double>(member_nodes.size() + 1))
      fail("member " + format_number(k) + " out of order (expected member " +
           std::to_string(member_nodes.size() + 1) + ")");
    if (!(n >= 0 && std::trunc(n) == n)) fail("member " + format_number(k) + ": bad node count");
    close_member();
    member_nodes.push_back(n);
    member_lines.push_back(line_number);
    if (member_nodes.size() == 1) {
      member_one_presentations = p;
    } else {
      model.members.emplace_back();
      model.members.back().list_presentations = p;
    }
  }
  double member_one_presentations = 0;

  // '% member_features i1 ... im' right after its member's line.
  void member_features_line(std::istringstream &words) {
    if (member_nodes.empty() || !current_member().templates.empty() ||
        !current_member().features.empty())
      fail("'% member_features' belongs right after its '% member' line");
    for (double index : numbers(words)) {
      if (!(index >= 1 && index <= max_model_features && std::trunc(index) == index))
        fail("'% member_features' takes feature numbers from 1");
      current_member().features.push_back(static_cast<std::size_t>(index) - 1);
    }
    if (current_member().features.empty()) fail("'% member_features' names no feature");
  }

  // '% member_weight w' before its member's rows.
  void member_weight_line(const HeaderKey &key, std::istringstream &words) {
    if (member_nodes.empty() || !current_member().templates.empty())
      fail("'% member_weight' belongs before its member's rows");
    current_member().weight = one_number(key, words);
  }

  // The member whose rows came last has as many as its line promised.
  void close_member() const {
    if (member_nodes.empty()) return;
    const std::size_t rows = model.members.back().templates.size();
    if (static_cast<double>(rows) != member_nodes.back())
      fail_at(member_lines.back(), "member " + std::to_string(member_nodes.size()) +
                                       " promised " + format_number(member_nodes.back()) +
                                       " nodes and has " + std::to_string(rows));
  }

  [[noreturn]] void fail_at(int line, const std::string &what) const {
    throw InputError(path + ":" + std::to_string(line) + ": " + what);
  }
  [[noreturn]] void fail(const std::string &what) const { fail_at(line_number, what); }

  double number(std::string_view word) const {
    const auto value = parse_number(word);
    if (value) return *value;
    if (beyond_doubles(word)) fail(quoted(word) + " is beyond the range of doubles");
    fail(quoted(word) + " is not a number");
  }

  std::vector<double> numbers(std::istringstream &words) const {
    std::vector<double> values;
    for (std::string word; words >> word;) values.push_back(number(word));
    return values;
  }

  double one_number(const HeaderKey &key, std::istringstream &words) const {
    std::string value, rest;
    if (!(words >> value) || (words >> rest))
      fail("'% " + std::string(key.name) + "' takes one value");
    return number(value);
  }

  void class_line(std::istringstream &words) {
    std::string label_word, name;
    words >> label_word;
    std::getline(words, name);
    const auto label = parse_number(label_word);
    if (!label || !is_class_label(*label))
      fail("class label " + quoted(label_word) + " is not a whole number");
    if (trim(name).empty()) fail("class " + label_word + " has no name");
    model.class_names.emplace_back(static_cast<int>(*label), std::string(trim(name)));
    class_lines.push_back(line_number);
  }

  // '% feature K NAME', K counting up from 1.
  void feature_line(std::istringstream &words) {
    std::string index_word, name;
    words >> index_word;
    std::getline(words, name);
    const auto index = parse_number(index_word);
    const std::size_t expected = model.feature_names.size() + 1;
    if (!index || *index != static_cast<double>(expected))
      fail("feature " + quoted(index_word) + " out of order (expected feature " +
           std::to_string(expected) + ")");
    if (trim(name).empty()) fail("feature " + index_word + " has no name");
    model.feature_names.emplace_back(trim(name));
    feature_lines.push_back(line_number);
  }

  void count_line(const HeaderKey &key, std::istringstream &words) {
    const double value = one_number(key, words);
    const bool whole = value >= 0 && std::trunc(value) == value;
    if (key.name == "features") {
      if (!(whole && value >= 1 && value <= max_model_features))
        fail("'% features' must be a whole number from 1 to " +
             std::to_string(max_model_features));
      model.features = static_cast<int>(value);
    }
    if (!whole) fail("'% " + std::string(key.name) + "' must be a whole number");
    counts.emplace(key.name, value);
  }

  std::vector<double> &list_of(const std::string &key) {
    if (key == "feature_min") return model.feature_min;
    if (key == "feature_max") return model.feature_max;
    return key == "feature_mean" ? model.feature_mean : model.feature_sd;
  }

  std::string scaling_word;
  void scaling_line(std::istringstream &words) {
    std::string rest;
    if (!(words >> scaling_word) || (words >> rest) ||
        (scaling_word != "standard" && scaling_word != "rank"))
      fail("'% scaling' takes standard or rank");
  }

  // '% rank_values K ...' and '% rank_shares K ...', K counting up from 1.
  void rank_line(const std::string &key, std::istringstream &words) {
    auto &lists = key == "rank_values" ? model.rank_values : model.rank_shares;
    std::string index_word;
    words >> index_word;
    const auto index = parse_number(index_word);
    if (!index || *index != static_cast<double>(lists.size() + 1))
      fail("'% " + key + "' for feature " + quoted(index_word) + " out of order (expected " +
           std::to_string(lists.size() + 1) + ")");
    lists.push_back(numbers(words));
  }

  // The scaling lines agree with '% scaling'.
  void check_scaling() const {
    const bool standard = key_lines.count("feature_mean") + key_lines.count("feature_sd") != 0;
    const bool rank = key_lines.count("rank_values") + key_lines.count("rank_shares") != 0;
    if ((standard || rank) && scaling_word.empty())
      fail_at(line_of(standard ? "feature_mean" : "rank_values"),
              "a mean or rank scaling needs its '% scaling' line");
    if (scaling_word.empty()) return;
    const bool ranked = scaling_word == "rank";
    if (ranked ? !rank : !standard)
      fail_at(line_of("scaling"), "'% scaling " + scaling_word + "' without its values");
    if (key_lines.count("feature_min") + key_lines.count("feature_max") != 0 ||
        (ranked ? standard : rank))
      fail_at(line_of("scaling"), "'% scaling " + scaling_word + "' with another scaling's values");
  }

  void parameter_line(const HeaderKey &key, std::istringstream &words) {
    const double value = one_number(key, words);
    for (auto &[name, slot] : parameter_slots(model))
      if (name == key.name) *slot = value;
  }

  void header_line(std::string_view text) {
    std::istringstream words{std::string(text.substr(1))};
    std::string word;
    if (!(words >> word)) return;
    const HeaderKey *key = find_key(word);
    if (key == nullptr) return;  // a comment
    const bool repeated = key->kind == KeyKind::class_name || key->kind == KeyKind::member ||
                          key->kind == KeyKind::feature_name ||
                          key->kind == KeyKind::member_features ||
                          key->kind == KeyKind::rank_list || key->kind == KeyKind::member_weight;
    if (!repeated && !key_lines.emplace(word, line_number).second)
      fail("header value '" + word + "' given twice");
    switch (key->kind) {
      case KeyKind::count: return count_line(*key, words);
      case KeyKind::fraction: counts.emplace(key->name, one_number(*key, words)); return;
      case KeyKind::parameter: return parameter_line(*key, words);
      case KeyKind::list: list_of(word) = numbers(words); return;
      case KeyKind::scaling: return scaling_line(words);
      case KeyKind::rank_list: key_lines.emplace(word, line_number); return rank_line(word, words);
      case KeyKind::member_weight:
        key_lines.emplace(word, line_number);
        return member_weight_line(*key, words);
      case KeyKind::feature_name:
        key_lines.emplace(word, line_number);
        return feature_line(words);
      case KeyKind::class_name: key_lines.emplace(word, line_number); return class_line(words);
      case KeyKind::member: key_lines.emplace(word, line_number); return member_line(words);
      case KeyKind::member_features:
        key_lines.emplace(word, line_number);
        return member_features_line(words);
    }
  }

  void node_line(std::string_view text) {
    if (model.features <= 0) fail("node row before the '% features' header line");
    std::istringstream cells{std::string(text)};
    std::vector<double> row = numbers(cells);
    const std::size_t width = 2 * current_member().width(model.features) + 2;
    if (row.size() != width)
      fail(std::to_string(row.size()) + " values, a node row has " + std::to_string(width));
    current_member().labels.push_back(row.back());
    row.pop_back();
    current_member().templates.push_back(std::move(row));
    node_lines.push_back(line_number);
  }

  void line(std::string_view text) {
    text = trim(text);
    if (text.empty()) return;
    if (text.front() == '%')
      header_line(text);
    else
      node_line(text);
  }

  int line_of(const std::string &key) const {
    const auto found = key_lines.find(key);
    return found == key_lines.end() ? 0 : found->second;
  }

  void check_format() const {
    const auto format = counts.find("format");
    if (format == counts.end()) throw InputError(path + ": not a model file: no '% format' header line");
    if (format->second < plain_format || format->second > newest_format)
      fail_at(line_of("format"), "model file format " + format_number(format->second) +
                                     " is not supported (this version reads formats up to " +
                                     std::to_string(newest_format) + ")");
    for (const HeaderKey &key : header_keys()) {
      const std::string name(key.name);
      if (key.required && key_lines.count(name) == 0)
        throw InputError(path + ": not a model file: no '% " + name + "' header line");
      if (key_lines.count(name) != 0 && key.since_format > format->second)
        fail_at(line_of(name), "'% " + name + "' needs model file format " +
                                   std::to_string(key.since_format) + " or later");
    }
  }

  void check_pairs() const {
    const bool has_min = key_lines.count("feature_min") != 0;
    const bool has_max = key_lines.count("feature_max") != 0;
    if (has_min && !has_max) fail_at(line_of("feature_min"), "'% feature_min' without '% feature_max'");
    if (has_max && !has_min) fail_at(line_of("feature_max"), "'% feature_max' without '% feature_min'");
    const double nodes = counts.at("nodes");
    if (nodes != static_cast<double>(model.total_nodes()))
      fail_at(line_of("nodes"), "header says " + format_number(nodes) + " nodes, the file has " +
                                    std::to_string(model.total_nodes()));
  }

  // Format 3: the voting settings, and the members that the lines announced.
  void take_voting() {
    if (counts.at("format") < ensemble_format) return;
    // A plain model whose scaling raised the format has no ensemble lines.
    if (counts.at("format") >= scaling_format && counts.count("voters") == 0 &&
        member_nodes.empty())
      return;
    for (const char *key : {"voters", "seed", "shuffle"})
      if (counts.count(key) == 0)
        throw InputError(path + ": an ensemble needs a '% " + key + "' header line");
    if (member_nodes.empty()) throw InputError(path + ": an ensemble without '% member' lines");
    close_member();
    const double shuffle = counts.at("shuffle"), seed = counts.at("seed");
    if (shuffle > 1) fail_at(line_of("shuffle"), "'% shuffle' must be 0 or 1");
    if (seed > 9007199254740992.0) fail_at(line_of("seed"), "'% seed' is too large");
    if (counts.at("voters") > 1000000) fail_at(line_of("voters"), "'% voters' is too large");
    model.voting = {static_cast<int>(counts.at("voters")), static_cast<std::uint64_t>(seed),
                    shuffle == 1};
    if (const auto batches = counts.find("batches"); batches != counts.end()) {
      if (batches->second < 1 || batches->second > 9007199254740992.0)
        fail_at(line_of("batches"), "'% batches' must be a whole number from 1 to 2^53");
      model.batches = static_cast<std::uint64_t>(batches->second);
    }
    if (const auto fraction = counts.find("max_features"); fraction != counts.end())
      model.voting.max_features = fraction->second;
    if (const auto bootstrap = counts.find("bootstrap"); bootstrap != counts.end()) {
      if (bootstrap->second > 1) fail_at(line_of("bootstrap"), "'% bootstrap' must be 0 or 1");
      model.voting.bootstrap = bootstrap->second == 1;
    }
    if (const auto weights = counts.find("oob_weights"); weights != counts.end()) {
      if (weights->second > 1) fail_at(line_of("oob_weights"), "'% oob_weights' must be 0 or 1");
      model.voting.oob_weights = weights->second == 1;
    }
    // Member 1's count from its own line as well.
    model.members.front().list_presentations = member_one_presentations;
  }

  int line_of(const Fault &fault) const {
    switch (fault.place) {
      case Place::key: return line_of(fault.key);
      case Place::node: return node_lines.at(fault.index);
      case Place::class_line: return class_lines.at(fault.index);
      case Place::feature_line: return feature_lines.at(fault.index);
      case Place::none: break;
    }
    return 0;
  }

  Model finish() {
    check_format();
    take_voting();
    check_pairs();
    check_scaling();
    if (const auto fault = first_fault(model)) {
      const int line = line_of(*fault);
      if (line == 0) throw InputError(path + ": " + fault->what);
      fail_at(line, fault->what);
    }
    return std::move(model);
  }
};

}  // namespace

std::string feature_name(const Model &model, std::size_t index) {
  if (index < model.feature_names.size()) return model.feature_names[index];
  return "feature " + std::to_string(index + 1);
}

bool is_class_label(double value) {
  return std::trunc(value) == value && value >= -2147483648.0 && value <= 2147483647.0;
}

std::string format_model(const Model &model) {
  if (const auto fault = first_fault(model))
    throw InputError("the model cannot be stored: " + fault->what);
  Model copy = model;  // parameter_slots binds to mutable slots
  std::string text = "% QIR model: category nodes learned by qir_train\n";
  text += "% format " + std::to_string(format_of(model)) + "\n";
  text += "% features " + std::to_string(model.features) + "\n";
  if (model.scaling() == Scaling::min_max) {
    text += format_list("feature_min", model.feature_min);
    text += format_list("feature_max", model.feature_max);
  } else if (model.scaling() == Scaling::standard) {
    text += "% scaling standard\n";
    text += format_list("feature_mean", model.feature_mean);
    text += format_list("feature_sd", model.feature_sd);
  } else if (model.scaling() == Scaling::rank) {
    text += "% scaling rank\n";
    for (std::size_t k = 0; k < model.rank_values.size(); ++k) {
      const std::string feature = " " + std::to_string(k + 1);
      text += format_list("rank_values" + feature, model.rank_values[k]);
      text += format_list("rank_shares" + feature, model.rank_shares[k]);
    }
  }
  for (std::size_t k = 0; k < model.feature_names.size(); ++k)
    text += "% feature " + std::to_string(k + 1) + " " + std::string(trim(model.feature_names[k])) +
            "\n";
  for (const auto &[key, slot] : parameter_slots(copy))
    text += "% " + key + " " + format_number(*slot) + "\n";
  const bool ensemble = is_ensemble(model);
  if (ensemble) {
    text += "% voters " + std::to_string(model.voting.voters) + "\n";
    text += "% seed " + std::to_string(model.voting.seed) + "\n";
    text += "% shuffle " + std::string(model.voting.shuffle ? "1" : "0") + "\n";
    if (model.batches > 1) text += "% batches " + std::to_string(model.batches) + "\n";
    if (model.voting.max_features != 1)
      text += "% max_features " + format_number(model.voting.max_features) + "\n";
    if (model.voting.bootstrap) text += "% bootstrap 1\n";
    if (model.voting.oob_weights) text += "% oob_weights 1\n";
  }
  for (const auto &[label, name] : model.class_names)
    text += "% class " + std::to_string(label) + " " + std::string(trim(name)) + "\n";
  text += "% nodes " + std::to_string(model.total_nodes()) + "\n";
  const std::string m = has_feature_views(model) ? "m" : std::to_string(model.features);
  text += "% columns: center(1:" + m + ") direction(1:" + m + ") radius label\n";
  for (std::size_t k = 0; k < model.members.size(); ++k) {
    const Member &member = model.members[k];
    if (ensemble)
      text += member_line(k + 1, member.templates.size(), member.list_presentations);
    if (model.voting.oob_weights) text += "% member_weight " + format_number(member.weight) + "\n";
    if (!member.features.empty()) {
      text += "% member_features";
      for (std::size_t feature : member.features) text += " " + std::to_string(feature + 1);
      text += "\n";
    }
    for (std::size_t row = 0; row < member.templates.size(); ++row)
      text += format_row(member.templates[row], member.labels[row]);
  }
  return text;
}

FeatureScaling model_scaling(const Model &model) {
  FeatureScaling scaling;
  scaling.kind = model.scaling();
  if (scaling.kind == Scaling::min_max) {
    scaling.low = model.feature_min;
    scaling.high = model.feature_max;
  } else if (scaling.kind == Scaling::standard) {
    scaling.low = model.feature_mean;
    scaling.high = model.feature_sd;
  } else if (scaling.kind == Scaling::rank) {
    scaling.values = model.rank_values;
    scaling.shares = model.rank_shares;
  }
  return scaling;
}

void keep_scaling(Model &model, FeatureScaling scaling) {
  model.feature_min.clear();
  model.feature_max.clear();
  model.feature_mean.clear();
  model.feature_sd.clear();
  model.rank_values.clear();
  model.rank_shares.clear();
  if (scaling.kind == Scaling::min_max) {
    model.feature_min = std::move(scaling.low);
    model.feature_max = std::move(scaling.high);
  } else if (scaling.kind == Scaling::standard) {
    model.feature_mean = std::move(scaling.low);
    model.feature_sd = std::move(scaling.high);
  } else if (scaling.kind == Scaling::rank) {
    model.rank_values = std::move(scaling.values);
    model.rank_shares = std::move(scaling.shares);
  }
}

std::size_t Model::total_nodes() const {
  std::size_t nodes = 0;
  for (const Member &member : members) nodes += member.templates.size();
  return nodes;
}

Model parse_model(std::string_view text, const std::string &path) {
  Reader reader{path, {}, {}, {}, {}, {}, {}, 0, {}, {}, 0, {}};
  std::istringstream stream{std::string(without_byte_order_mark(text))};
  std::string line;
  while (std::getline(stream, line)) {
    ++reader.line_number;
    reader.line(line);
  }
  return reader.finish();
}

bool looks_like_model_file(std::string_view text) {
  text = without_byte_order_mark(text);
  const auto first = text.find_first_not_of(" \t\r\n");
  return first == std::string_view::npos || text[first] == '%';
}

ModelClasses model_classes(const Model &model) {
  ModelClasses classes;
  const std::vector<double> labels = all_node_labels(model);
  const std::set<double> distinct(labels.begin(), labels.end());
  classes.labels.assign(distinct.begin(), distinct.end());
  if (!model.class_names.empty()) {
    const std::map<double, std::string> names(model.class_names.begin(), model.class_names.end());
    for (double label : classes.labels) classes.names.push_back(names.at(label));
  }
  for (double label : labels)
    classes.of_node.push_back(static_cast<std::size_t>(
        std::lower_bound(classes.labels.begin(), classes.labels.end(), label) -
        classes.labels.begin()));
  return classes;
}

void keep_names_with_nodes(Model &model) {
  std::set<double> labels;
  for (const auto &member : model.members) labels.insert(member.labels.begin(), member.labels.end());
  auto &names = model.class_names;
  names.erase(std::remove_if(names.begin(), names.end(),
                             [&](const auto &entry) { return labels.count(entry.first) == 0; }),
              names.end());
}

}  // namespace qir
