// qir_library: the library's rules for the toolbox, so that its m-files
// read and write model files, scale, draw folds, take defaults and walk the
// search grid exactly as the qir command and the Python package do.
//
//   model  = qir_library('read', file)
//   [X, y, names] = qir_library('read_data', file)   (a data file, as qir reads it)
//   text   = qir_library('format', model)
//   S      = qir_library('scale', X, feature_min, feature_max)
//   [lo, hi] = qir_library('range', X)
//   fold   = qir_library('folds', labels, folds, seed)
//   d      = qir_library('defaults', M)      (M: how many features vary)
//   n      = qir_library('presentations', N, voters)   (the default limit)
//   M      = qir_library('varying', X)
//   orders = qir_library('orders', N, voters, seed, shuffle[, batch])
//   [labels, shares, classes, votes] = qir_library('vote', model, member_labels, unknown)
//   [heading, note] = qir_library('member_text', member, members)
//   line   = qir_library('progress', member, members, presentations, nodes, seconds)
//   [grid, voters, finalists] = qir_library('grid', M)
//   [gain, error, better] = qir_library('gain', accuracy, default_accuracy)
//   order  = qir_library('rank', accuracy, unknown, nodes)
//   label  = qir_library('unknown_label', NLabels)
//   ok     = qir_library('is_label', values)
//   rgb    = qir_library('colours')
//   [labels, class_labels, class_names] = qir_library('name_labels', names, known_labels, known_names)
//   [test, batches, late_class, late_batch] = qir_library('stream_plan', labels, batches, seed)
//   [ids, texts] = qir_library('warnings', X, labels)
//   ids    = qir_library('warnings')            (every identifier)
//   text   = qir_library('refusal', message, 'qir_fit')
//   shapes = qir_library('shapes', Templates, ratio, [i j], feature_min, feature_max)
//   P      = qir_library('parameters')      (the parameter table, P(k) one parameter)
//   layout = qir_library('picture_layout', model, X, labels, [i j])
//   svg    = qir_library('picture_svg', model, X, labels, title, [i j], grid_labels, unknown)
//   svg    = qir_library('confusion_svg', model, truth, assigned, unknown, title)
//   svg    = qir_library('votes_svg', model, truth, classes, shares, title)
//   svg    = qir_library('progress_svg', steps, title)
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "../../lib/qir.h"
#include "mex_api.h"

namespace {

using namespace qir;

// The model struct's training parameters, named as the model file's keys.
std::vector<std::pair<const char *, double TrainingParams::*>> parameter_fields() {
  std::vector<std::pair<const char *, double TrainingParams::*>> fields;
  for (const Parameter &row : parameter_table)  // its names are literals, so end in '\0'
    if (row.field != nullptr) fields.emplace_back(row.model_key.data(), row.field);
  return fields;
}

// Arrays made here belong to the host, which reclaims them if the call
// ends early; only host-side failures to create one throw.
mxArray *checked(mxArray *array) {
  if (array == nullptr) throw std::bad_alloc();
  return array;
}

mxArray *matrix(std::size_t rows, std::size_t cols) {
  return checked(mxCreateDoubleMatrix(rows, cols, mxREAL));
}

mxArray *scalar(double value) { return checked(mxCreateDoubleScalar(value)); }

mxArray *column(const std::vector<double> &values) {
  mxArray *array = matrix(values.size(), 1);
  if (!values.empty()) std::memcpy(mxGetPr(array), values.data(), values.size() * sizeof(double));
  return array;
}

mxArray *row(const std::vector<double> &values) {
  if (values.empty()) return matrix(0, 0);
  mxArray *array = matrix(1, values.size());
  std::memcpy(mxGetPr(array), values.data(), values.size() * sizeof(double));
  return array;
}

mxArray *text_cells(const std::vector<std::string> &texts) {
  mxArray *cells = checked(mxCreateCellMatrix(texts.size(), 1));
  for (std::size_t k = 0; k < texts.size(); ++k)
    mxSetCell(cells, k, checked(mxCreateString(texts[k].c_str())));
  return cells;
}

std::string text_argument(const mxArray *array, const std::string &what) {
  if (!mxIsChar(array)) throw InputError(what + " must be text");
  char *raw = mxArrayToString(array);
  if (raw == nullptr) throw std::bad_alloc();
  std::string text(raw);
  mxFree(raw);
  return text;
}

// A full real double array: what the toolbox's m-files pass after double().
const double *real_data(const mxArray *array, const std::string &what) {
  if (!mxIsDouble(array) || mxIsComplex(array) || mxIsSparse(array))
    throw InputError(what + " must be a full real double array");
  return mxGetPr(array);
}

std::vector<double> values_of(const mxArray *array, const std::string &what) {
  const double *data = real_data(array, what);
  return std::vector<double>(data, data + mxGetNumberOfElements(array));
}

double scalar_argument(const mxArray *array, const std::string &what) {
  const std::vector<double> values = values_of(array, what);
  if (values.size() != 1) throw InputError(what + " must be one number");
  return values[0];
}

// Rows of a column-major matrix.
std::vector<std::vector<double>> rows_of(const mxArray *array, const std::string &what) {
  const double *data = real_data(array, what);
  const std::size_t rows = mxGetM(array), cols = mxGetN(array);
  std::vector<std::vector<double>> out(rows, std::vector<double>(cols));
  for (std::size_t c = 0; c < cols; ++c)
    for (std::size_t r = 0; r < rows; ++r) out[r][c] = data[c * rows + r];
  return out;
}

const mxArray *field(const mxArray *model, const char *name) {
  const mxArray *value = mxGetField(model, 0, name);
  if (value == nullptr) throw InputError(std::string("the model struct has no field '") + name + "'");
  return value;
}

mxArray *templates_matrix(const std::vector<std::vector<double>> &rows, int features) {
  const std::size_t nodes = rows.size();
  const std::size_t width = 2 * static_cast<std::size_t>(features) + 1;
  mxArray *templates = matrix(nodes, width);
  double *t = mxGetPr(templates);
  for (std::size_t k = 0; k < nodes; ++k)
    for (std::size_t j = 0; j < width; ++j) t[j * nodes + k] = rows[k][j];
  return templates;
}

const char *const member_fields[] = {"Templates", "NLabels", "num_list_presentations"};

// Members 2..K as a 1 x (K-1) struct array (0 x 0 for a single model):
// the struct keeps member 1 in its top-level fields.
mxArray *members_struct(const Model &model) {
  const std::size_t count = model.members.size() - 1;
  mxArray *out = checked(mxCreateStructMatrix(count == 0 ? 0 : 1, count, 3,
                                              const_cast<const char **>(member_fields)));
  for (std::size_t k = 0; k < count; ++k) {
    const Member &member = model.members[k + 1];
    mxSetField(out, k, "Templates", templates_matrix(member.templates, model.features));
    mxSetField(out, k, "NLabels", column(member.labels));
    mxSetField(out, k, "num_list_presentations", scalar(member.list_presentations));
  }
  return out;
}

mxArray *model_struct(const Model &model) {
  const char *names[] = {"Templates", "NLabels", "num_list_presentations", "features", "D",
                         "ratio", "vigilance", "alpha", "learning_rate",
                         "max_list_presentations", "trim_option", "ct_option", "feature_min",
                         "feature_max", "feature_names", "class_names", "class_labels", "voters",
                         "seed", "shuffle", "batches", "further_members"};
  mxArray *out = checked(mxCreateStructMatrix(1, 1, sizeof names / sizeof *names, names));
  const Member &first = model.members.front();
  mxSetField(out, 0, "Templates", templates_matrix(first.templates, model.features));
  mxSetField(out, 0, "NLabels", column(first.labels));
  mxSetField(out, 0, "num_list_presentations", scalar(first.list_presentations));
  mxSetField(out, 0, "features", scalar(model.features));
  for (const auto &[name, value] : parameter_fields())
    mxSetField(out, 0, name, scalar(model.params.*value));
  mxSetField(out, 0, "feature_min", row(model.feature_min));
  mxSetField(out, 0, "feature_max", row(model.feature_max));
  mxSetField(out, 0, "feature_names", text_cells(model.feature_names));
  const ModelClasses classes = model_classes(model);
  mxSetField(out, 0, "class_names", text_cells(classes.names));
  mxSetField(out, 0, "class_labels",
             column(classes.names.empty() ? std::vector<double>{} : classes.labels));
  mxSetField(out, 0, "voters", scalar(model.voting.voters));
  mxSetField(out, 0, "seed", scalar(static_cast<double>(model.voting.seed)));
  mxSetField(out, 0, "shuffle", checked(mxCreateLogicalScalar(model.voting.shuffle)));
  mxSetField(out, 0, "batches", scalar(static_cast<double>(model.batches)));
  mxSetField(out, 0, "further_members", members_struct(model));
  return out;
}

// Structs made before features had names carry none.
std::vector<std::string> feature_names(const mxArray *model, int features) {
  const mxArray *names = mxGetField(model, 0, "feature_names");
  if (names == nullptr || mxIsEmpty(names)) return {};
  if (!mxIsCell(names) || mxGetNumberOfElements(names) != static_cast<std::size_t>(features))
    throw InputError("model.feature_names must be a cell array of one name per feature");
  std::vector<std::string> texts;
  for (std::size_t k = 0; k < static_cast<std::size_t>(features); ++k) {
    const mxArray *name = mxGetCell(names, k);
    if (name == nullptr) throw InputError("model.feature_names must hold text");
    texts.push_back(text_argument(name, "model.feature_names"));
  }
  return texts;
}

double seed_argument(const mxArray *array, const std::string &what) {
  const double seed = scalar_argument(array, what);
  if (!(seed >= 0 && seed <= 9007199254740992.0 && std::trunc(seed) == seed))
    throw InputError(what + " must be a whole number >= 0");
  return seed;
}

bool flag_argument(const mxArray *array, const std::string &what) {
  if (mxIsLogical(array) && mxGetNumberOfElements(array) == 1) return *mxGetLogicals(array);
  const double value = scalar_argument(array, what);
  if (value != 0 && value != 1) throw InputError(what + " must be true or false");
  return value == 1;
}

// The ensemble fields; a struct without them (made before the toolbox
// voted) is a single model. Whether they agree with the members is the
// model file's rule, which format_model applies.
void read_voting(const mxArray *array, Model &model) {
  if (mxGetField(array, 0, "voters") == nullptr) return;
  const double voters = scalar_argument(field(array, "voters"), "model.voters");
  if (!(voters >= 0 && voters <= 1e9 && std::trunc(voters) == voters))
    throw InputError("model.voters must be a whole number");
  model.voting.voters = static_cast<int>(voters);
  model.voting.seed =
      static_cast<std::uint64_t>(seed_argument(field(array, "seed"), "model.seed"));
  model.voting.shuffle = flag_argument(field(array, "shuffle"), "model.shuffle");
  check_voting(model.voting);
  if (const mxArray *batches = mxGetField(array, 0, "batches")) {
    const double count = seed_argument(batches, "model.batches");
    if (count < 1) throw InputError("model.batches must be a whole number from 1");
    model.batches = static_cast<std::uint64_t>(count);
  }
  const mxArray *members = field(array, "further_members");
  if (!mxIsStruct(members) && !mxIsEmpty(members))
    throw InputError("model.further_members must be a struct array, as qir_fit makes it");
  const std::size_t count = mxIsStruct(members) ? mxGetNumberOfElements(members) : 0;
  for (std::size_t k = 0; k < count; ++k) {
    const std::string what = "model.further_members(" + std::to_string(k + 1) + ").";
    auto member_field = [&](const char *name) {
      const mxArray *value = mxGetField(members, k, name);
      if (value == nullptr) throw InputError(what + name + " is missing");
      return value;
    };
    model.members.push_back(
        {rows_of(member_field("Templates"), what + "Templates"),
         values_of(member_field("NLabels"), what + "NLabels"),
         scalar_argument(member_field("num_list_presentations"), what + "num_list_presentations")});
  }
}

Model model_from_struct(const mxArray *array) {
  if (!mxIsStruct(array) || mxGetNumberOfElements(array) != 1)
    throw InputError("the model must be one struct, as qir_fit returns it");
  Model model;
  const double features = scalar_argument(field(array, "features"), "model.features");
  if (!(features >= 1 && features <= max_model_features && std::trunc(features) == features))
    throw InputError("model.features must be a whole number from 1 to " +
                     std::to_string(max_model_features));
  model.features = static_cast<int>(features);
  Member &first = model.members.front();
  first.templates = rows_of(field(array, "Templates"), "model.Templates");
  first.labels = values_of(field(array, "NLabels"), "model.NLabels");
  first.list_presentations =
      scalar_argument(field(array, "num_list_presentations"), "model.num_list_presentations");
  for (const auto &[name, value] : parameter_fields())
    model.params.*value = scalar_argument(field(array, name), std::string("model.") + name);
  model.feature_min = values_of(field(array, "feature_min"), "model.feature_min");
  model.feature_max = values_of(field(array, "feature_max"), "model.feature_max");
  model.feature_names = feature_names(array, model.features);
  const mxArray *names = field(array, "class_names");
  const std::vector<double> labels = values_of(field(array, "class_labels"), "model.class_labels");
  if (!mxIsCell(names) || mxGetNumberOfElements(names) != labels.size())
    throw InputError("model.class_names must be a cell array of one name per class label");
  for (std::size_t k = 0; k < labels.size(); ++k) {
    if (!is_class_label(labels[k]))
      throw InputError("model.class_labels must hold whole 32-bit numbers");
    const mxArray *name = mxGetCell(names, k);
    if (name == nullptr) throw InputError("model.class_names must hold text");
    model.class_names.emplace_back(static_cast<int>(labels[k]),
                                   text_argument(name, "model.class_names"));
  }
  read_voting(array, model);
  return model;
}

void scale(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 4 || nlhs > 1) throw InputError("scale takes X, feature_min and feature_max");
  const std::size_t rows = mxGetM(prhs[1]), cols = mxGetN(prhs[1]);
  const double *x = real_data(prhs[1], "X");
  const std::vector<double> lo = values_of(prhs[2], "feature_min");
  const std::vector<double> hi = values_of(prhs[3], "feature_max");
  if (lo.size() != cols || hi.size() != cols)
    throw InputError("X has " + std::to_string(cols) + " features, the scaling range " +
                     std::to_string(lo.size()));
  std::vector<double> row_major(rows * cols);
  for (std::size_t c = 0; c < cols; ++c)
    for (std::size_t r = 0; r < rows; ++r) row_major[r * cols + c] = x[c * rows + r];
  try {
    scale_rows(row_major.data(), rows, cols, lo, hi);
  } catch (const NonFiniteValue &value) {
    throw InputError(non_finite_pattern_text("X", value.pattern, value.feature));
  }
  plhs[0] = matrix(rows, cols);
  double *out = mxGetPr(plhs[0]);
  for (std::size_t c = 0; c < cols; ++c)
    for (std::size_t r = 0; r < rows; ++r) out[c * rows + r] = row_major[r * cols + c];
}

void range(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 2 || nlhs > 2) throw InputError("range takes X");
  const FeatureRange found = fit_feature_range(rows_of(prhs[1], "X"));
  plhs[0] = row(found.min);
  if (nlhs > 1) plhs[1] = row(found.max);
}

void folds(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 4 || nlhs > 1) throw InputError("folds takes labels, the number of folds and a seed");
  const std::vector<double> labels = values_of(prhs[1], "labels");
  const double count = scalar_argument(prhs[2], "folds");
  const double seed = scalar_argument(prhs[3], "seed");
  if (!(count >= 1 && count <= 1e6 && std::trunc(count) == count))
    throw InputError("folds must be a whole number from 1 to 1000000");
  if (!(seed >= 0 && seed <= 9007199254740992.0 && std::trunc(seed) == seed))
    throw InputError("the seed must be a whole number >= 0");
  const std::vector<int> fold =
      stratified_folds(labels, static_cast<int>(count), static_cast<std::uint64_t>(seed));
  std::vector<double> numbers(fold.begin(), fold.end());
  for (double &n : numbers) n += 1;
  plhs[0] = column(numbers);
}

// M: how many features vary in the training data ('varying'); 0 when none do.
int features_argument(int nrhs, const mxArray *prhs[]) {
  if (nrhs != 2) throw InputError("give the number of features that vary");
  const double m = scalar_argument(prhs[1], "M");
  if (!(m >= 0 && m <= max_model_features && std::trunc(m) == m))
    throw InputError("M must be a whole number from 0 to " + std::to_string(max_model_features));
  return static_cast<int>(m);
}

// The toolbox's option names for the training arguments (the table's
// names are literals, so they end in '\0').
std::vector<const char *> option_names() {
  std::vector<const char *> names;
  for (const Parameter &row : parameter_table)
    if (row.field != nullptr) names.push_back(row.toolbox.data());
  return names;
}

void set_options(mxArray *out, std::size_t index, const TrainingParams &p) {
  for (const Parameter &row : parameter_table)
    if (row.field != nullptr) mxSetField(out, index, row.toolbox.data(), scalar(p.*row.field));
}

void defaults(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  const int m = features_argument(nrhs, prhs);
  if (nlhs > 1) throw InputError("defaults gives one struct");
  // qir_fit's settings beside the training arguments.
  const char *const settings[] = {"scale", "oflag", "voters", "shuffle", "seed"};
  std::vector<const char *> names = option_names();
  for (const char *setting : settings) names.push_back(parameter(setting).toolbox.data());
  plhs[0] = checked(mxCreateStructMatrix(1, 1, static_cast<int>(names.size()), names.data()));
  set_options(plhs[0], 0, default_params(default_D(m), training_defaults.max_presentations));
  for (const char *setting : settings) {
    const Parameter &row = parameter(setting);
    mxSetField(plhs[0], 0, row.toolbox.data(),
               row.logical ? checked(mxCreateLogicalScalar(row.default_value == 1))
                           : scalar(row.default_value));
  }
}

// The row of the training data each member sees at each step: N x voters,
// 1-based, one column per member; on the model's batch-th training call
// when a batch is given (0, the default: the first fit).
void orders(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if ((nrhs != 5 && nrhs != 6) || nlhs > 1)
    throw InputError("orders takes the number of patterns, voters, a seed, shuffle and a batch");
  const auto batch =
      nrhs == 6 ? static_cast<std::uint64_t>(seed_argument(prhs[5], "the batch")) : 0;
  const double patterns = scalar_argument(prhs[1], "the number of patterns");
  const double voters = scalar_argument(prhs[2], "Voters");
  if (!(patterns >= 0 && patterns <= 9007199254740992.0 && std::trunc(patterns) == patterns))
    throw InputError("the number of patterns must be a whole number >= 0");
  if (!(voters >= 0 && voters <= 1e9 && std::trunc(voters) == voters))
    throw InputError("Voters must be a whole number");
  const VotingSettings voting{static_cast<int>(voters),
                              static_cast<std::uint64_t>(seed_argument(prhs[3], "Seed")),
                              flag_argument(prhs[4], "Shuffle")};
  check_voting(voting);
  const auto n = static_cast<std::size_t>(patterns);
  plhs[0] = matrix(n, static_cast<std::size_t>(voting.voters));
  double *out = mxGetPr(plhs[0]);
  for (int member = 0; member < voting.voters; ++member) {
    const std::vector<std::size_t> order = presentation_order(n, voting, member, batch);
    for (std::size_t k = 0; k < n; ++k)
      out[static_cast<std::size_t>(member) * n + k] = static_cast<double>(order[k] + 1);
  }
}

// The members' vote among the model's classes: member_labels is P x K, one
// column per member as qir_perf returned them.
void vote_command(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 4 || nlhs > 4)
    throw InputError("vote takes a model struct, the members' labels and the unknown label");
  const Model model = model_from_struct(prhs[1]);
  const double *given = real_data(prhs[2], "the members' labels");
  const std::size_t patterns = mxGetM(prhs[2]), members = mxGetN(prhs[2]);
  if (patterns > 0 && members != model.members.size())
    throw InputError("the members' labels need one column per member (" +
                     std::to_string(model.members.size()) + ")");
  std::vector<std::vector<double>> member_labels(members);
  for (std::size_t m = 0; m < members; ++m)
    member_labels[m].assign(given + m * patterns, given + (m + 1) * patterns);
  const VoteResult result =
      vote(member_labels, model_classes(model).labels, scalar_argument(prhs[3], "the unknown label"));
  plhs[0] = matrix(patterns, 1);
  std::copy(result.labels.begin(), result.labels.end(), mxGetPr(plhs[0]));
  if (nlhs > 1) {
    const std::size_t width = result.classes.size();
    plhs[1] = matrix(patterns, width);
    double *shares = mxGetPr(plhs[1]);
    for (std::size_t p = 0; p < patterns; ++p)
      for (std::size_t c = 0; c < width; ++c) shares[c * patterns + p] = result.shares[p * width + c];
  }
  if (nlhs > 2) plhs[2] = row(result.classes);
  if (nlhs > 3) {
    plhs[3] = matrix(patterns, 1);
    std::copy(result.votes.begin(), result.votes.end(), mxGetPr(plhs[3]));
  }
}

std::size_t count_argument(const mxArray *array, const std::string &what) {
  const double value = scalar_argument(array, what);
  if (!(value >= 0 && value <= 1e15 && std::trunc(value) == value))
    throw InputError(what + " must be a whole number >= 0");
  return static_cast<std::size_t>(value);
}

// What training prints between members (heading for member k of K, and the
// note after member 1's summary), as the command prints it.
void member_text(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 3 || nlhs > 2) throw InputError("member_text takes a member and the members");
  const std::size_t member = count_argument(prhs[1], "the member");
  const std::size_t members = count_argument(prhs[2], "the members");
  if (member < 1 || member > members) throw InputError("the member must lie in 1..members");
  plhs[0] = checked(mxCreateString(member_heading(member - 1, members).c_str()));
  if (nlhs > 1) plhs[1] = checked(mxCreateString(members_note(members).c_str()));
}

// The progress line of a training run, '' when the host's console is not a
// terminal (a file or a pipe never gets one).
void progress(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 6 || nlhs > 1)
    throw InputError("progress takes member, members, presentations, nodes and seconds");
  std::string line;
  if (output_is_terminal()) {
    const std::size_t member = count_argument(prhs[1], "the member");
    const std::size_t members = count_argument(prhs[2], "the members");
    if (member < 1 || member > members) throw InputError("the member must lie in 1..members");
    line = progress_line(training_step(static_cast<int>(member - 1), static_cast<int>(members),
                                       static_cast<int>(count_argument(prhs[3], "presentations")),
                                       count_argument(prhs[4], "nodes")),
                         scalar_argument(prhs[5], "seconds"));
  }
  plhs[0] = checked(mxCreateString(line.c_str()));
}

void grid(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  const int m = features_argument(nrhs, prhs);
  if (nlhs > 3) throw InputError("grid gives the settings, the voters and the finalists");
  const std::vector<TrainingParams> settings = search_grid(static_cast<std::size_t>(m));
  std::vector<const char *> names = option_names();
  plhs[0] = checked(mxCreateStructMatrix(1, settings.size(), static_cast<int>(names.size()),
                                         names.data()));
  for (std::size_t k = 0; k < settings.size(); ++k) set_options(plhs[0], k, settings[k]);
  if (nlhs > 1) plhs[1] = row(std::vector<double>(search_voters().begin(), search_voters().end()));
  if (nlhs > 2) plhs[2] = scalar(static_cast<double>(search_finalists));
}

// The search's guard over per-fold accuracies (the same folds for both).
void gain(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 3 || nlhs > 3)
    throw InputError("gain takes a setting's and the defaults' accuracy per fold");
  const std::vector<double> accuracy = values_of(prhs[1], "accuracy");
  const std::vector<double> defaults = values_of(prhs[2], "the defaults' accuracy");
  if (accuracy.size() != defaults.size())
    throw InputError("gain needs one accuracy per fold for both");
  const FoldGain found = fold_gain(accuracy, defaults);
  plhs[0] = scalar(found.mean);
  if (nlhs > 1) plhs[1] = scalar(found.error);
  if (nlhs > 2) plhs[2] = checked(mxCreateLogicalScalar(clearly_better(found)));
}

void rank(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 4 || nlhs > 1) throw InputError("rank takes accuracy, unknown and nodes");
  const std::vector<double> accuracy = values_of(prhs[1], "accuracy");
  const std::vector<double> unknown = values_of(prhs[2], "unknown");
  const std::vector<double> nodes = values_of(prhs[3], "nodes");
  if (unknown.size() != accuracy.size() || nodes.size() != accuracy.size())
    throw InputError("accuracy, unknown and nodes need one value per setting");
  std::vector<SettingScore> scores;
  for (std::size_t k = 0; k < accuracy.size(); ++k)
    scores.push_back({accuracy[k], unknown[k], nodes[k]});
  std::vector<double> order;
  for (std::size_t k : rank_settings(scores)) order.push_back(static_cast<double>(k + 1));
  plhs[0] = column(order);
}

void unknown_label(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 2 || nlhs > 1) throw InputError("unknown_label takes the node labels");
  plhs[0] = scalar(unused_label(values_of(prhs[1], "NLabels")));
}

void is_label(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 2 || nlhs > 1) throw InputError("is_label takes the values to test");
  const std::vector<double> values = values_of(prhs[1], "values");
  plhs[0] = checked(mxCreateLogicalMatrix(mxGetM(prhs[1]), mxGetN(prhs[1])));
  mxLogical *out = mxGetLogicals(plhs[0]);
  for (std::size_t k = 0; k < values.size(); ++k) out[k] = is_class_label(values[k]);
}

// The class colours as MATLAB takes them: one row of red, green, blue in [0, 1].
void colours(int nlhs, mxArray *plhs[], int nrhs, const mxArray *[]) {
  if (nrhs != 1 || nlhs > 1) throw InputError("colours takes no arguments");
  const std::size_t count = class_colours.size();
  plhs[0] = matrix(count, 3);
  double *rgb = mxGetPr(plhs[0]);
  for (std::size_t k = 0; k < count; ++k)
    for (std::size_t c = 0; c < 3; ++c)
      rgb[c * count + k] = static_cast<double>((class_colours[k] >> (16 - 8 * c)) & 0xff) / 255;
}

// The advice after a run, worded with the toolbox's option names; '' when
// the run needs none. 'training' takes nodes and patterns, 'classification'
// unclassified patterns and patterns, 'presentations' the most list
// presentations a member took, the limit and (optional, true when left out)
// whether the limit was given rather than the default.
void hint(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs < 4 || nrhs > 5 || nlhs > 1)
    throw InputError("hint takes a kind, a count and a number of patterns");
  const std::string kind = text_argument(prhs[1], "the kind of hint");
  const double count = scalar_argument(prhs[2], "the count");
  const double patterns = scalar_argument(prhs[3], "the number of patterns");
  if (!(count >= 0 && patterns >= 0 && count <= 1e15 && patterns <= 1e15))
    throw InputError("hint counts must be numbers of patterns or nodes");
  const auto n = static_cast<std::size_t>(count), total = static_cast<std::size_t>(patterns);
  std::optional<std::string> text;
  if (kind == "training")
    text = training_hint(n, total, toolbox_option_names());
  else if (kind == "classification")
    text = classification_hint(n, total, toolbox_option_names());
  else if (kind == "presentations")
    text = presentation_limit_hint(count, patterns,
                                   nrhs < 5 || scalar_argument(prhs[4], "given") != 0,
                                   toolbox_option_names());
  else
    throw InputError("the kind of hint is 'training', 'classification' or 'presentations'");
  plhs[0] = checked(mxCreateString(text.value_or("").c_str()));
}

std::vector<std::string> texts_of(const mxArray *cells, const std::string &what) {
  if (!mxIsCell(cells)) throw InputError(what + " must be a cell array of text");
  std::vector<std::string> texts;
  for (std::size_t k = 0; k < mxGetNumberOfElements(cells); ++k) {
    const mxArray *cell = mxGetCell(cells, k);
    if (cell == nullptr) throw InputError(what + " must be a cell array of text");
    texts.push_back(text_argument(cell, what));
  }
  return texts;
}

// Class names as labels when a model goes on learning: its names keep their
// labels, new names get labels after the largest, as the command gives them.
void name_labels(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 4 || nlhs > 3)
    throw InputError("name_labels takes names, and the known labels and their names");
  const std::vector<std::string> names = texts_of(prhs[1], "the names");
  const std::vector<double> known_labels = values_of(prhs[2], "the known labels");
  const std::vector<std::string> known_names = texts_of(prhs[3], "the known names");
  if (known_labels.size() != known_names.size())
    throw InputError("the known labels and names differ in number");
  ClassNames classes;
  for (std::size_t k = 0; k < known_labels.size(); ++k) {
    if (!is_class_label(known_labels[k])) throw InputError("a known label is not a class label");
    classes.emplace_back(static_cast<int>(known_labels[k]), known_names[k]);
  }
  plhs[0] = column(labels_of_names(names, classes));
  std::vector<double> labels;
  std::vector<std::string> texts;
  for (const auto &[label, name] : classes) {
    labels.push_back(label);
    texts.push_back(name);
  }
  if (nlhs > 1) plhs[1] = column(labels);
  if (nlhs > 2) plhs[2] = text_cells(texts);
}

// The stream demos' batches, as 1-based row numbers.
void stream(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 4 || nlhs > 4) throw InputError("stream_plan takes labels, batches and a seed");
  const double batches = scalar_argument(prhs[2], "batches");
  const double seed = scalar_argument(prhs[3], "seed");
  if (!(batches >= 1 && batches <= 1000 && std::trunc(batches) == batches))
    throw InputError("batches must be a whole number from 1 to 1000");
  if (!(seed >= 0 && seed <= 9007199254740992.0 && std::trunc(seed) == seed))
    throw InputError("the seed must be a whole number >= 0");
  const StreamPlan plan = stream_plan(values_of(prhs[1], "labels"), static_cast<int>(batches),
                                      static_cast<std::uint64_t>(seed));
  const auto one_based = [](const std::vector<std::size_t> &rows) {
    std::vector<double> out;
    for (std::size_t row : rows) out.push_back(static_cast<double>(row + 1));
    return column(out);
  };
  plhs[0] = one_based(plan.test);
  if (nlhs > 1) {
    plhs[1] = checked(mxCreateCellMatrix(plan.batches.size(), 1));
    for (std::size_t b = 0; b < plan.batches.size(); ++b)
      mxSetCell(plhs[1], b, one_based(plan.batches[b]));
  }
  if (nlhs > 2) plhs[2] = scalar(plan.late_class);
  if (nlhs > 3) plhs[3] = scalar(static_cast<double>(plan.late_batch + 1));
}

PatternView pattern_view(const mxArray *X) {
  return {real_data(X, "X"), mxGetM(X), mxGetN(X), 1, mxGetM(X)};
}

void varying(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 2 || nlhs > 1) throw InputError("varying takes X and gives one count");
  plhs[0] = scalar(static_cast<double>(varying_features(pattern_view(prhs[1]))));
}

// The default most list presentations for `voters` members on N patterns.
// Voters that are not a whole number from 1 to 1000 get the largest limit:
// the members' orders refuse them with the library's own words.
void presentations(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 3 || nlhs > 1) throw InputError("presentations takes N and voters");
  const double n = scalar_argument(prhs[1], "N");
  if (!(n >= 0 && n <= 1e15 && std::trunc(n) == n))
    throw InputError("N must be a whole number of patterns");
  double voters = 0;
  if (mxIsNumeric(prhs[2]) && mxGetNumberOfElements(prhs[2]) == 1)
    voters = mxGetScalar(prhs[2]);
  const bool sound = voters >= 1 && voters <= 1000 && std::trunc(voters) == voters;
  plhs[0] = scalar(sound ? default_max_presentations(static_cast<std::size_t>(n),
                                                     static_cast<int>(voters))
                         : training_defaults.max_presentations);
}

// The library's warnings about training data, as identifiers for Octave's
// and MATLAB's warning() ('qir:single_class', ...) and their one-line texts.
void data_warnings(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs == 1 && nlhs <= 1) {
    std::vector<std::string> ids;
    for (const std::string &kind : data_warning_kinds()) ids.push_back("qir:" + kind);
    plhs[0] = text_cells(ids);
    return;
  }
  if (nrhs != 3 || nlhs > 2) throw InputError("warnings takes X and the labels");
  const PatternView patterns = pattern_view(prhs[1]);
  const std::vector<double> labels = values_of(prhs[2], "labels");
  if (labels.size() != patterns.patterns)
    throw InputError("warnings needs one label per row of X");
  std::vector<std::string> ids, texts;
  for (const DataWarning &warning :
       training_data_warnings(patterns, labels.data(), toolbox_feature_naming())) {
    ids.push_back("qir:" + warning.kind);
    texts.push_back(warning.text);
  }
  plhs[0] = text_cells(ids);
  if (nlhs > 1) plhs[1] = text_cells(texts);
}

// A refusal of qir_train or qir_perf in the words of the toolbox function
// that called it ('qir_fit' or 'qir_predict'); '' for any other message.
// With `order` (the 1-based rows of X in the order the module saw them), a
// row the module names is given as the row of X.
void refusal(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if ((nrhs != 3 && nrhs != 4) || nlhs > 1)
    throw InputError("refusal takes a message, 'qir_fit' or 'qir_predict', and an order");
  const std::string message = text_argument(prhs[1], "the message");
  const std::string caller = text_argument(prhs[2], "the caller");
  if (caller != "qir_fit" && caller != "qir_predict")
    throw InputError("refusal rewords the modules' messages for 'qir_fit' or 'qir_predict'");
  auto text = refusal_in_user_terms(
      message, caller == "qir_fit" ? toolbox_fit_names() : toolbox_predict_names());
  if (text && nrhs == 4) {
    std::vector<std::size_t> rows;
    for (double row : values_of(prhs[3], "the order")) {
      // A cast of NaN or of a negative number would name a row of 2^63.
      if (!(row >= 1 && row <= 9007199254740992.0 && std::trunc(row) == row))
        throw InputError("the order holds row numbers, whole and from 1");
      rows.push_back(static_cast<std::size_t>(row));
    }
    text = with_row_renumbered(*text, rows);
  }
  plhs[0] = checked(mxCreateString(text.value_or("").c_str()));
}

// Each node's region on features [i j] (1-based) in the data's units, as
// the qir command draws it: one row [cx cy along across angle_degrees] per
// template row; feature_min and feature_max empty for raw features.
void shapes(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 6 || nlhs > 1)
    throw InputError("shapes takes Templates, ratio, [i j], feature_min and feature_max");
  const std::vector<std::vector<double>> rows = rows_of(prhs[1], "Templates");
  const double ratio = scalar_argument(prhs[2], "ratio");
  const std::vector<double> pair = values_of(prhs[3], "the feature pair");
  const std::vector<double> lo = values_of(prhs[4], "feature_min");
  const std::vector<double> hi = values_of(prhs[5], "feature_max");
  const std::size_t width = mxGetN(prhs[1]), m = (width - 1) / 2;
  if (width < 3 || width % 2 == 0)
    throw InputError("Templates has " + std::to_string(width) +
                     " columns; a model of M features has 2M+1");
  if (pair.size() != 2 || pair[0] == pair[1])
    throw InputError("choose two different features from 1 to " + std::to_string(m));
  for (double k : pair)
    if (!(k >= 1 && k <= static_cast<double>(m) && std::trunc(k) == k))
      throw InputError("choose two different features from 1 to " + std::to_string(m));
  if (lo.size() != hi.size() || (!lo.empty() && lo.size() != m))
    throw InputError("feature_min and feature_max need one value per feature, or none");
  const FeaturePair chosen{static_cast<std::size_t>(pair[0]) - 1,
                           static_cast<std::size_t>(pair[1]) - 1};
  plhs[0] = matrix(rows.size(), 5);
  double *out = mxGetPr(plhs[0]);
  const std::size_t count = rows.size();
  for (std::size_t k = 0; k < count; ++k) {
    const NodeShape s = project_node(rows[k], ratio, chosen, lo, hi);
    const double values[] = {s.cx, s.cy, s.along, s.across, s.angle_degrees};
    for (std::size_t c = 0; c < 5; ++c) out[c * count + k] = values[c];
  }
}

void read(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 2 || nlhs > 1) throw InputError("read takes a file name");
  const std::string path = text_argument(prhs[1], "the file name");
  plhs[0] = model_struct(parse_model(read_text_file(path), path));
}

// A data file read by the command's reader (quoted cells, a header, names as
// labels): the patterns, the labels (numbers, or each row's class name) and
// the feature names of the header.
void read_data(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 2 || nlhs > 3) throw InputError("read_data takes a file name");
  const std::string path = text_argument(prhs[1], "the file name");
  const Dataset data = load_dataset(path, {});
  const std::size_t rows = data.patterns.size(), columns = data.features();
  plhs[0] = matrix(rows, columns);
  double *x = mxGetPr(plhs[0]);
  for (std::size_t k = 0; k < rows; ++k)
    for (std::size_t j = 0; j < columns; ++j) x[j * rows + k] = data.patterns[k][j];
  if (nlhs > 1 && data.class_names.empty()) plhs[1] = column(data.labels);
  if (nlhs > 1 && !data.class_names.empty()) {
    std::vector<std::string> names;
    names.reserve(data.labels.size());
    for (double label : data.labels)
      for (const auto &[known, name] : data.class_names)
        if (known == label) names.push_back(name);
    plhs[1] = text_cells(names);
  }
  if (nlhs > 2) plhs[2] = text_cells(data.feature_names);
}

void format(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 2 || nlhs > 1) throw InputError("format takes a model struct");
  plhs[0] = checked(mxCreateString(format_model(model_from_struct(prhs[1])).c_str()));
}

// Writes the model file itself, so that no m-file handles the format's bytes.
// The parameter table (parameters.h), one struct element per parameter;
// `default` is NaN where the data decide (`default_text` says how).
void parameters(int nlhs, mxArray *plhs[], int nrhs, const mxArray *[]) {
  if (nrhs != 1 || nlhs > 1) throw InputError("parameters takes no arguments");
  const char *names[] = {"name",       "train_input", "perf_input", "module_name",
                         "flag",       "toolbox",     "python",     "model_key",
                         "default",    "default_text", "range_low", "range_high",
                         "low_open",   "high_open",   "whole",      "range_text",
                         "logical",    "description"};
  const std::size_t count = sizeof parameter_table / sizeof *parameter_table;
  plhs[0] = checked(mxCreateStructMatrix(count, 1, sizeof names / sizeof *names, names));
  auto text = [](std::string_view value) {
    return checked(mxCreateString(std::string(value).c_str()));
  };
  auto flag = [](bool value) { return checked(mxCreateLogicalScalar(value)); };
  for (std::size_t k = 0; k < count; ++k) {
    const Parameter &row = parameter_table[k];
    mxArray *out = plhs[0];
    mxSetField(out, k, "name", text(row.name));
    mxSetField(out, k, "train_input", scalar(row.train_input));
    mxSetField(out, k, "perf_input", scalar(row.perf_input));
    mxSetField(out, k, "module_name", text(row.module_name));
    mxSetField(out, k, "flag", text(row.flag));
    mxSetField(out, k, "toolbox", text(row.toolbox));
    mxSetField(out, k, "python", text(row.python));
    mxSetField(out, k, "model_key", text(row.model_key));
    mxSetField(out, k, "default", scalar(row.default_value));
    mxSetField(out, k, "default_text", text(default_text(row)));
    mxSetField(out, k, "range_low", scalar(row.range.low));
    mxSetField(out, k, "range_high", scalar(row.range.high));
    mxSetField(out, k, "low_open", flag(row.range.low_open));
    mxSetField(out, k, "high_open", flag(row.range.high_open));
    mxSetField(out, k, "whole", flag(row.range.whole));
    mxSetField(out, k, "range_text", text(range_text(row.range)));
    mxSetField(out, k, "logical", flag(row.logical));
    mxSetField(out, k, "description", text(row.description));
  }
}

// A plain stream: the command's atomic writer installs signal handlers,
// which have no place inside the host's process.
void write(int nlhs, mxArray *[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 3 || nlhs > 0) throw InputError("write takes a model struct and a file name");
  const std::string text = format_model(model_from_struct(prhs[1]));
  const std::string path = text_argument(prhs[2], "the file name");
  std::ofstream file(path, std::ios::binary);
  file << text;
  file.close();
  if (!file) throw InputError("cannot write " + path);
}

// The pictures: the library's view, layout and SVG, so that the toolbox's
// figures and files show what the command's do. The toolbox classifies
// the layout's grid itself (qir_predict) and hands the codes back.
mxArray *rows_matrix(const std::vector<std::vector<double>> &rows, std::size_t width) {
  mxArray *out = matrix(rows.size(), width);
  double *t = mxGetPr(out);
  for (std::size_t k = 0; k < rows.size(); ++k)
    for (std::size_t j = 0; j < width; ++j) t[j * rows.size() + k] = rows[k][j];
  return out;
}

PlotPoints picture_points(const mxArray *patterns, const mxArray *codes) {
  PlotPoints data;
  data.points = rows_of(patterns, "X");
  data.labels = values_of(codes, "the labels");
  return data;
}

PictureClasses picture_class_list(const Model &model, const std::vector<double> &truth) {
  PictureClasses classes;
  classes.labels = picture_classes(model, truth);
  for (double label : classes.labels) classes.names.push_back(class_text(label, model));
  return classes;
}

mxArray *picture_layout_struct(const Model &model, const PlotPoints &data,
                               const PictureLayout &layout) {
  static const char *names[] = {"grid", "points", "nodes", "box", "columns", "rows", "x_name",
                                "y_name", "classes", "class_texts"};
  mxArray *out = checked(mxCreateStructMatrix(1, 1, 10, names));
  mxSetField(out, 0, "grid", rows_matrix(layout.grid, static_cast<std::size_t>(model.features)));
  std::vector<std::vector<double>> points, nodes;
  for (const auto &p : data.points) {
    const auto at = view_point(layout.view, model, p);
    points.push_back({at[0], at[1]});
  }
  for (const auto &row : model.members.front().templates) {
    const auto s = node_section(layout.view, model, row);
    nodes.push_back(s ? std::vector<double>{s->cx, s->cy, s->along, s->across, s->angle_degrees}
                      : std::vector<double>(5, NAN));
  }
  mxSetField(out, 0, "points", rows_matrix(points, 2));
  mxSetField(out, 0, "nodes", rows_matrix(nodes, 5));
  mxSetField(out, 0, "box", row({layout.xmin, layout.xmax, layout.ymin, layout.ymax}));
  mxSetField(out, 0, "columns", scalar(static_cast<double>(layout.columns)));
  mxSetField(out, 0, "rows", scalar(static_cast<double>(layout.rows)));
  mxSetField(out, 0, "x_name", checked(mxCreateString(layout.view.x_name.c_str())));
  mxSetField(out, 0, "y_name", checked(mxCreateString(layout.view.y_name.c_str())));
  const PictureClasses classes = picture_class_list(model, data.labels);
  mxSetField(out, 0, "classes", column(classes.labels));
  mxSetField(out, 0, "class_texts", text_cells(classes.names));
  return out;
}

void picture_layout(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 5 || nlhs > 1) throw InputError("picture_layout takes a model, X, labels and [i j]");
  const Model model = model_from_struct(prhs[1]);
  const PlotPoints data = picture_points(prhs[2], prhs[3]);
  const PictureLayout layout = plan_picture(model, data, values_of(prhs[4], "the feature pair"));
  plhs[0] = picture_layout_struct(model, data, layout);
}

void picture_svg(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 8 || nlhs > 1)
    throw InputError("picture_svg takes a model, X, labels, a title, [i j], the grid's labels "
                     "and the unknown label");
  const Model model = model_from_struct(prhs[1]);
  const PlotPoints data = picture_points(prhs[2], prhs[3]);
  const PictureLayout layout = plan_picture(model, data, values_of(prhs[5], "the feature pair"));
  const std::string svg = render_svg(model, data, text_argument(prhs[4], "the title"), layout,
                                     values_of(prhs[6], "the grid's labels"),
                                     scalar_argument(prhs[7], "the unknown label"));
  plhs[0] = checked(mxCreateString(svg.c_str()));
}

void confusion_svg(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 6 || nlhs > 1)
    throw InputError("confusion_svg takes a model, true labels, assigned labels, the unknown "
                     "label and a title");
  const Model model = model_from_struct(prhs[1]);
  const std::vector<double> truth = values_of(prhs[2], "the true labels");
  const Scores scores = score(truth, values_of(prhs[3], "the assigned labels"),
                              scalar_argument(prhs[4], "the unknown label"));
  const std::string svg = render_confusion(scores, picture_class_list(model, truth),
                                           text_argument(prhs[5], "the title"));
  plhs[0] = checked(mxCreateString(svg.c_str()));
}

void votes_svg(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 6 || nlhs > 1)
    throw InputError("votes_svg takes a model, true labels, the vote's classes, its shares and a title");
  const Model model = model_from_struct(prhs[1]);
  const std::vector<double> truth = values_of(prhs[2], "the true labels");
  VoteResult votes;
  votes.classes = values_of(prhs[3], "the classes");
  const auto shares = rows_of(prhs[4], "the shares");
  for (const auto &r : shares) {
    if (r.size() != votes.classes.size()) throw InputError("the shares need one column per class");
    votes.shares.insert(votes.shares.end(), r.begin(), r.end());
    votes.labels.push_back(0);
  }
  const std::string svg = render_vote_shares(votes, truth, picture_class_list(model, truth),
                                             text_argument(prhs[5], "the title"));
  plhs[0] = checked(mxCreateString(svg.c_str()));
}

void progress_svg(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 3 || nlhs > 1) throw InputError("progress_svg takes steps (K x 3) and a title");
  std::vector<ProgressStep> steps;
  for (const auto &r : rows_of(prhs[1], "the steps")) {
    if (r.size() != 3) throw InputError("each step is [presentations accuracy nodes]");
    steps.push_back({r[0], r[1], r[2]});
  }
  const std::string svg =
      render_progress(steps, "list presentations", text_argument(prhs[2], "the title"));
  plhs[0] = checked(mxCreateString(svg.c_str()));
}

using Command = void (*)(int, mxArray *[], int, const mxArray *[]);

const std::pair<const char *, Command> commands[] = {
    {"read", read},         {"read_data", read_data}, {"format", format}, {"scale", scale},
    {"range", range},       {"folds", folds},   {"defaults", defaults},
    {"grid", grid},         {"rank", rank},     {"unknown_label", unknown_label},
    {"orders", orders},     {"vote", vote_command}, {"member_text", member_text},
    {"progress", progress}, {"gain", gain},
    {"is_label", is_label}, {"colours", colours}, {"hint", hint}, {"write", write},
    {"name_labels", name_labels}, {"stream_plan", stream},
    {"warnings", data_warnings}, {"varying", varying}, {"refusal", refusal},
    {"shapes", shapes}, {"presentations", presentations}, {"parameters", parameters},
    {"picture_layout", picture_layout}, {"picture_svg", picture_svg},
    {"confusion_svg", confusion_svg}, {"votes_svg", votes_svg}, {"progress_svg", progress_svg}};

void run(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs < 1) throw InputError("give a command, such as 'read'");
  const std::string name = text_argument(prhs[0], "the command");
  for (const auto &[known, command] : commands)
    if (name == known) return command(nlhs, plhs, nrhs, prhs);
  throw InputError("unknown command '" + name + "'");
}

// The message of a failed call, kept until every C++ object of the call is
// gone: the host's error ends the call without unwinding it.
char failure[1024];

}  // namespace

QIR_MODULE_ENTRY void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  failure[0] = '\0';
  try {
    run(nlhs, plhs, nrhs, prhs);
  } catch (const std::bad_alloc &) {
    std::snprintf(failure, sizeof failure, "qir_library: Not enough memory available.");
  } catch (const std::exception &error) {
    std::snprintf(failure, sizeof failure, "%s", error.what());
  }
  if (failure[0] != '\0') mexErrMsgIdAndTxt("qir_library:refused", "%s", failure);
}
